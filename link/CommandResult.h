#pragma once
// What a device command brings back: the program's Result (the decoded value,
// or why there is none as an ErrorKind of the link) and what the exchange
// itself showed. A plain value: it can be copied to another thread and queued
// to the window.

#include "core/Result.h"

#include <QByteArray>
#include <QtGlobal>
#include <optional>

template <typename T>
struct CommandResult : Result<T> {
    // The 24-bit Source of the reply the command took as the reader's: set
    // when the command succeeded, and for a refusal of the configuration read.
    std::optional<quint32> responder;
    // The bytes of the command's last exchange, whether the command accepted
    // them or not: empty when nothing usable came or the port did not open.
    QByteArray reply;

    // A result not yet filled in counts as a command nothing came back for.
    CommandResult() { this->error = Error{ErrorKind::NoReply, commandFailureText(ErrorKind::NoReply)}; }

    // A command carried out: its value and the bytes of its exchange.
    static CommandResult success(T value, const QByteArray &reply)
    {
        CommandResult result;
        result.error.reset();
        result.value = std::move(value);
        result.reply = reply;
        return result;
    }

    // A command that failed for this reason (one of the link's kinds).
    static CommandResult failure(ErrorKind kind, const QByteArray &reply = QByteArray())
    {
        CommandResult result;
        result.error = Error{kind, commandFailureText(kind)};
        result.reply = reply;
        return result;
    }

    // The operator's words for a link failure.
    static QString commandFailureText(ErrorKind kind)
    {
        switch (kind) {
        case ErrorKind::NoLink:
            return QStringLiteral("нет связи со считывателем");
        case ErrorKind::NoReply:
            return QStringLiteral("нет ответа");
        case ErrorKind::ReaderBusy:
            return QStringLiteral("считыватель занят");
        case ErrorKind::Refused:
            return QStringLiteral("отказ считывателя");
        case ErrorKind::WrongLength:
            return QStringLiteral("ответ неверной длины");
        case ErrorKind::BadValue:
            return QStringLiteral("неверное значение в ответе");
        default:
            return QString();
        }
    }
};

#pragma once
// What a device command brings back: the decoded value, or why there is none.
// A plain value: it can be copied to another thread and queued to the window.

#include <QByteArray>
#include <QtGlobal>
#include <optional>

enum class CommandFailure {
    None,         // the value is there
    NoLink,       // there is no link object
    NoReply,      // nothing usable came back
    readerBusy,   // the reader refused: it is busy with a dosimeter
    Refused,      // the reader refused for another reason
    WrongLength,  // a reply of a length this command does not take
    BadValue,     // the reply has the right length but cannot be decoded
};

// The empty value of a command that only reports whether it was carried out.
struct NoValue {};

template <typename T>
struct CommandResult {
    T value{};
    CommandFailure failure = CommandFailure::NoReply;
    // The 24-bit Source of the reply the command took as the reader's: set
    // when the command succeeded, and for a refusal of the configuration read.
    std::optional<quint32> responder;
    // The bytes of the command's last exchange, whether the command accepted
    // them or not: empty when nothing usable came or the port did not open.
    QByteArray reply;

    bool ok() const { return failure == CommandFailure::None; }
    explicit operator bool() const { return ok(); }
};

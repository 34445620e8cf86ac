#pragma once
// Error classes of the program. They carry only a message; the message is the
// Russian text shown to the operator or written to a log.

#include <QByteArray>
#include <QString>
#include <exception>

class ERuvoError : public std::exception {
public:
    explicit ERuvoError(const QString &message) : m_message(message), m_utf8(message.toUtf8()) {}
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A malformed or wrongly sized reply.
class EProtocolCancel : public ERuvoError {
public:
    using ERuvoError::ERuvoError;
};

// Data in the wrong format: an unreadable bus address, a zero archive record time.
class EFormatError : public ERuvoError {
public:
    using ERuvoError::ERuvoError;
};

// Any other failure that leaves a command or an operation as an error
// (the port that cannot be opened, a table operation that failed).
class EGeneralError : public ERuvoError {
public:
    using ERuvoError::ERuvoError;
};

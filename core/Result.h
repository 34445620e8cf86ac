#pragma once
// The one result type of the device link and the store: the value an
// operation brings back, or the error that stopped it (its kind and the text
// the operator is shown). A plain value: it can be copied to another thread
// and queued to a window. The layer that fails says what happened; the window
// that called decides whether and how to tell the operator.

#include <QString>
#include <optional>
#include <utility>

enum class ErrorKind {
    None,         // no error: the result holds its value

    // The operation refused or stopped.
    Failed,       // it failed for a reason not listed below
    Invalid,      // what it was given is refused (a missing date, a period that ends before it begins)
    Conflict,     // the data's state forbids it (an issued dosimeter, a row released already)
    Cancelled,    // the operator cancelled it: nothing changed

    // The store: the cause of a failed statement.
    Store,        // the store failed for another cause (a broken statement, a damaged file, ...)
    DiskFull,     // no room left on the disk
    StoreBusy,    // another program holds a table's file
    ReadOnly,     // the data directory or a table's file cannot be written
    Io,           // the disk failed to read or write

    // The device link.
    NoLink,       // there is no link object
    NoReply,      // nothing usable came back
    ReaderBusy,   // the reader refused: it is busy with a dosimeter
    Refused,      // the reader refused for another reason
    WrongLength,  // a reply of a length this command does not take
    BadValue,     // the reply has the right length but cannot be decoded
};

struct Error {
    ErrorKind kind = ErrorKind::Failed;
    QString text;  // what the operator is shown (may be empty for the link's kinds)
};

// The value of an operation that only reports whether it was carried out.
struct NoValue {};

template <typename T = NoValue>
struct Result {
    T value{};                  // meaningful only when ok()
    std::optional<Error> error; // set when the operation failed

    Result() = default;
    Result(T v) : value(std::move(v)) {}
    Result(Error e) : error(std::move(e)) {}

    bool ok() const { return !error.has_value(); }
    explicit operator bool() const { return ok(); }
    ErrorKind kind() const { return error ? error->kind : ErrorKind::None; }
    QString errorText() const { return error ? error->text : QString(); }
};

// Whether the kind is one of the store's causes.
inline bool isStoreKind(ErrorKind kind)
{
    return kind == ErrorKind::Store || kind == ErrorKind::DiskFull || kind == ErrorKind::StoreBusy || kind == ErrorKind::ReadOnly
        || kind == ErrorKind::Io;
}

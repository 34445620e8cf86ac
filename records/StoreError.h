#pragma once
// A failure of the store that has a cause the operator can act on: the disk
// is full, another program holds a table's file, the data directory or a
// table's file cannot be written. Raised where a statement of the database
// fails; an EGeneralError whose message is the database's own text.

#include "core/Errors.h"
#include "core/Result.h"

class QSqlError;

enum class StoreCause {
    Other,     // anything else (a broken statement, a damaged file, ...)
    DiskFull,  // SQLITE_FULL
    Busy,      // SQLITE_BUSY, SQLITE_LOCKED
    ReadOnly,  // SQLITE_READONLY, SQLITE_PERM, SQLITE_CANTOPEN
    Io,        // SQLITE_IOERR
    Duplicate, // a unique key refused the row: it is there already
    Unreachable, // the server cannot be reached (the connection is lost or refused)
    Denied,    // the server refused the statement: the user may not do it (SQLSTATE 42501, 25006)
};

// The cause of a database error, by its SQLite result code (the primary code
// of an extended one), or by the server's SQLSTATE (five characters).
StoreCause storeCauseOf(int sqliteCode);
StoreCause storeCauseOfState(const QString &sqlState);
StoreCause storeCauseOf(const QSqlError &error);

// The operator's words for a cause: "нет места на диске", "таблица занята
// другой программой", "нет прав на запись", "ошибка ввода-вывода диска",
// "база данных недоступна", "нет прав на запись" (Denied too); empty for
// Other and Duplicate.
QString storeCauseText(StoreCause cause);

class EStoreError : public EGeneralError {
public:
    EStoreError(const QString &message, StoreCause cause) : EGeneralError(message), m_cause(cause) {}
    StoreCause cause() const { return m_cause; }

private:
    StoreCause m_cause;
};

// Raises EStoreError with the error's text and cause.
[[noreturn]] void throwStoreError(const QSqlError &error);

// The error a public operation of the store returns for a failure caught at
// its boundary: the kind is the store's cause for a failed statement
// (ErrorKind::Store when it has none of the causes above; ReadOnly for a
// server's refusal), Failed for any other failure; the text is the one
// given, or the failure's own message. A server's refusal always carries the
// server's words: after the text given, on a line of their own.
ErrorKind errorKindOf(StoreCause cause);
Error storeError(const std::exception &failure, const QString &text = QString());

#include "records/StoreError.h"

#include <QSqlError>
#include <sqlite3.h>

StoreCause storeCauseOf(int sqliteCode)
{
    switch (sqliteCode & 0xFF) {
    case SQLITE_FULL:
        return StoreCause::DiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return StoreCause::Busy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        return StoreCause::ReadOnly;
    case SQLITE_IOERR:
        return StoreCause::Io;
    default:
        return StoreCause::Other;
    }
}

StoreCause storeCauseOfState(const QString &sqlState)
{
    if (sqlState == QLatin1String("23505"))
        return StoreCause::Duplicate;
    if (sqlState == QLatin1String("53100"))
        return StoreCause::DiskFull;
    // insufficient_privilege, read_only_sql_transaction
    if (sqlState == QLatin1String("42501") || sqlState == QLatin1String("25006"))
        return StoreCause::Denied;
    // lock_not_available, deadlock_detected, serialization_failure
    if (sqlState == QLatin1String("55P03") || sqlState == QLatin1String("40P01") || sqlState == QLatin1String("40001"))
        return StoreCause::Busy;
    // Connection exceptions, and the server shutting down or starting.
    if (sqlState.startsWith(QLatin1String("08")) || sqlState.startsWith(QLatin1String("57P")))
        return StoreCause::Unreachable;
    return StoreCause::Other;
}

StoreCause storeCauseOf(const QSqlError &error)
{
    const QString native = error.nativeErrorCode();
    // SQLite's codes, extended ones included, have at most four digits; the
    // server's SQLSTATE always has five characters.
    if (native.size() == 5)
        return storeCauseOfState(native);
    bool ok = false;
    const int code = native.toInt(&ok);
    if (ok)
        return storeCauseOf(code);
    if (error.type() == QSqlError::ConnectionError)
        return StoreCause::Unreachable;
    // A connection the server closed under it reports no code, only libpq's words.
    const QString text = error.databaseText();
    if (text.contains(QLatin1String("server closed the connection")) || text.contains(QLatin1String("no connection to the server"))
        || text.contains(QLatin1String("terminating connection")) || text.contains(QLatin1String("could not connect")))
        return StoreCause::Unreachable;
    return StoreCause::Other;
}

QString storeCauseText(StoreCause cause)
{
    switch (cause) {
    case StoreCause::DiskFull:
        return QStringLiteral("нет места на диске");
    case StoreCause::Busy:
        return QStringLiteral("таблица занята другой программой");
    case StoreCause::ReadOnly:
    case StoreCause::Denied:
        return QStringLiteral("нет прав на запись");
    case StoreCause::Io:
        return QStringLiteral("ошибка ввода-вывода диска");
    case StoreCause::Unreachable:
        return QStringLiteral("база данных недоступна");
    case StoreCause::Duplicate:
    case StoreCause::Other:
        break;
    }
    return QString();
}

void throwStoreError(const QSqlError &error)
{
    throw EStoreError(error.text(), storeCauseOf(error));
}

ErrorKind errorKindOf(StoreCause cause)
{
    switch (cause) {
    case StoreCause::DiskFull:
        return ErrorKind::DiskFull;
    case StoreCause::Busy:
        return ErrorKind::StoreBusy;
    case StoreCause::ReadOnly:
    case StoreCause::Denied:
        return ErrorKind::ReadOnly;
    case StoreCause::Io:
        return ErrorKind::Io;
    case StoreCause::Duplicate:
        return ErrorKind::Conflict;
    case StoreCause::Unreachable:
    case StoreCause::Other:
        break;
    }
    return ErrorKind::Store;
}

Error storeError(const std::exception &failure, const QString &text)
{
    const auto *store = dynamic_cast<const EStoreError *>(&failure);
    const auto *own = dynamic_cast<const ERuvoError *>(&failure);
    Error error;
    error.kind = store ? errorKindOf(store->cause()) : ErrorKind::Failed;
    const QString ownText = own ? own->message() : QString::fromUtf8(failure.what());
    error.text = text.isEmpty() ? ownText : text;
    if (store && store->cause() == StoreCause::Denied && !text.isEmpty())
        error.text += QStringLiteral("\r\n") + ownText;
    return error;
}

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

StoreCause storeCauseOf(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? storeCauseOf(code) : StoreCause::Other;
}

QString storeCauseText(StoreCause cause)
{
    switch (cause) {
    case StoreCause::DiskFull:
        return QStringLiteral("нет места на диске");
    case StoreCause::Busy:
        return QStringLiteral("таблица занята другой программой");
    case StoreCause::ReadOnly:
        return QStringLiteral("нет прав на запись");
    case StoreCause::Io:
        return QStringLiteral("ошибка ввода-вывода диска");
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
        return ErrorKind::ReadOnly;
    case StoreCause::Io:
        return ErrorKind::Io;
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
    error.text = !text.isEmpty() ? text : own ? own->message() : QString::fromUtf8(failure.what());
    return error;
}

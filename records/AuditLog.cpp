#include "records/AuditLog.h"

#include "core/Errors.h"
#include "core/Platform.h"
#include "records/DataModule.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"
#include "records/StoredDateTime.h"

#include <QMutex>
#include <QSqlQuery>
#include <QSysInfo>
#include <optional>

using RecordsSql::quoted;

const QString AuditLog::InsertAction = QStringLiteral("insert");
const QString AuditLog::UpdateAction = QStringLiteral("update");
const QString AuditLog::DeleteAction = QStringLiteral("delete");
const QString AuditLog::SyncAction = QStringLiteral("sync");
const QString AuditLog::WriteAction = QStringLiteral("write");
const QString AuditLog::DosimeterTable = QStringLiteral("Dosimeter");
const QString AuditLog::FailedText = QStringLiteral("Запись в дозиметр выполнена, но не внесена в журнал аудита:\r");

namespace {

QMutex g_monitorMutex;
QString g_monitor;

QString f(AuditField field)
{
    return quoted(fieldName(field));
}

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant() : QVariant(text);
}

} // namespace

AuditLog::AuditLog(DataModule &dm) : m_dm(dm)
{
}

void AuditLog::setMonitor(const QString &monitor)
{
    QMutexLocker lock(&g_monitorMutex);
    g_monitor = monitor;
}

QString AuditLog::monitor()
{
    QMutexLocker lock(&g_monitorMutex);
    return g_monitor.isEmpty() ? QSysInfo::machineHostName() : g_monitor;
}

void AuditLog::write(const AuditEntry &e)
{
    DataTable &t = m_dm.audit();
    using A = AuditField;
    // The database's user is the server's to say; the data directory's
    // files have none.
    const QString dbUser = m_dm.dialect().sqlite() ? QStringLiteral("NULL") : QStringLiteral("session_user");
    const QDateTime now = QDateTime::currentDateTime();
    t.exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7, %8, %9, %10, %11) "
                          "VALUES (?, ?, %12, ?, ?, ?, ?, ?, ?, ?)")
               .arg(t.sqlName(), f(A::TimeUtc), f(A::TimeLocal), f(A::DbUser), f(A::OsUser), f(A::Monitor),
                    f(A::TableName), f(A::RowKey), f(A::Action), f(A::Before))
               .arg(f(A::After), dbUser),
           {now.toUTC().toString(Qt::ISODateWithMs), dateTimeToStored(now), textOrNull(osUserName()),
            textOrNull(monitor()), e.table, textOrNull(e.rowKey), e.action, textOrNull(e.before),
            textOrNull(e.after)});
}

Result<> AuditLog::append(const AuditEntry &entry)
{
    try {
        std::optional<Transaction> tx;
        if (!m_dm.inTransaction())
            tx.emplace(m_dm);
        write(entry);
        if (tx)
            tx->commit();
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
    return {};
}

Result<QList<AuditRecord>> AuditLog::query(const QDateTime &from, const QDateTime &to, const QString &table) const
{
    using A = AuditField;
    QStringList where;
    QVariantList params;
    if (from.isValid()) {
        where.append(f(A::TimeLocal) + QStringLiteral(" >= ?"));
        params.append(dateTimeToStored(from));
    }
    if (to.isValid()) {
        where.append(f(A::TimeLocal) + QStringLiteral(" <= ?"));
        params.append(dateTimeToStored(to));
    }
    if (!table.isEmpty()) {
        where.append(f(A::TableName) + QStringLiteral(" = ?"));
        params.append(table);
    }
    QStringList names;
    for (int i = 0; i < int(A::Count); ++i)
        names.append(f(A(i)));
    QList<AuditRecord> list;
    try {
        DataTable &t = m_dm.audit();
        QSqlQuery q = t.exec(QStringLiteral("SELECT %2 FROM %1%3 ORDER BY %4")
                                 .arg(t.sqlName(), names.join(QStringLiteral(", ")),
                                      where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND ")),
                                      f(A::Index)),
                             params);
        while (q.next()) {
            const auto v = [&](A field) { return q.value(int(field)).toString(); };
            AuditRecord r;
            r.index = q.value(int(A::Index)).toLongLong();
            r.timeUtc = v(A::TimeUtc);
            r.timeLocal = dateTimeFromStored(v(A::TimeLocal));
            r.dbUser = v(A::DbUser);
            r.osUser = v(A::OsUser);
            r.monitor = v(A::Monitor);
            r.entry = AuditEntry{v(A::TableName), v(A::RowKey), v(A::Action), v(A::Before), v(A::After)};
            list.append(r);
        }
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
    return list;
}

Result<QStringList> AuditLog::tables() const
{
    QStringList list;
    try {
        DataTable &t = m_dm.audit();
        QSqlQuery q = t.exec(QStringLiteral("SELECT DISTINCT %2 FROM %1 ORDER BY %2").arg(t.sqlName(), f(AuditField::TableName)));
        while (q.next())
            list.append(q.value(0).toString());
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
    return list;
}

QString AuditLog::valuesText(const QList<QPair<QString, QVariant>> &values)
{
    QStringList parts;
    for (const auto &p : values) {
        const QVariant &v = p.second;
        QString text;
        if (v.isNull())
            text = QString();
        else if (v.typeId() == QMetaType::QDateTime)
            text = dateTimeToStored(v.toDateTime());
        else if (v.typeId() == QMetaType::QDate)
            text = dateToStored(v.toDate());
        else
            text = v.toString();
        parts.append(p.first + QLatin1Char('=') + text);
    }
    return parts.join(QStringLiteral("; "));
}

QString AuditLog::rowText(const DataTable &table)
{
    QList<QPair<QString, QVariant>> values;
    for (const FieldDef &fd : table.fields())
        values.append({fd.name, table.fieldValue(fd.name)});
    return valuesText(values);
}

// The copy of a data directory's tables into a PostgreSQL database.

#include "records/StoreMigration.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "records/DataModule.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHash>
#include <functional>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

using RecordsSql::quoted;

namespace {

constexpr int kBatch = 200;  // rows per INSERT

// What makes a row of a table the same row on the server. The data
// directory's own tables: the key, which every row keeps (the server skips
// the keys it holds already). Dose control's tables and the audit trail get
// new keys on the server instead, and a row counts as there already when the
// server holds a row with the same fields below: a level is one per scope,
// target, group, period and kind, a person's settings one per person, an
// alert one per person, period, level kind and the moment it was raised,
// and an audit row, never changed once written, is all its fields. Several
// data directories can so be copied into one server without their keys
// colliding, and the server's own rows of the same identity stay as they are.
QList<int> identityOf(DataModule &dm, const DataTable &t)
{
    if (&t == &dm.doseLevels()) {
        using L = DoseLevelsField;
        return {int(L::Scope), int(L::Target), int(L::Grp), int(L::Period), int(L::Kind)};
    }
    if (&t == &dm.dosePersons())
        return {int(DosePersonsField::PersonKey)};
    if (&t == &dm.doseAlerts()) {
        using A = DoseAlertsField;
        return {int(A::PersonKey), int(A::Period), int(A::PeriodFrom), int(A::Kind), int(A::Raised)};
    }
    if (&t == &dm.audit()) {
        QList<int> all;
        for (int i = 1; i < int(AuditField::Count); ++i)
            all.append(i);
        return all;
    }
    return {};
}

// The identity fields of a row as one digest, alike whichever engine read
// them.
QByteArray identityDigest(const QList<FieldDef> &fields, const QList<int> &identity,
                          const std::function<QVariant(int)> &value)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (int i : identity) {
        const QVariant v = value(i);
        QString text;
        if (v.isNull())
            text = QStringLiteral("\x01");
        else if (fields[i].type == FieldType::Float)
            text = QString::number(v.toDouble(), 'g', 17);
        else if (fields[i].type == FieldType::Integer || fields[i].type == FieldType::AutoInc)
            text = QString::number(v.toLongLong());
        else
            text = QStringLiteral("\x02") + v.toString();
        hash.addData(text.toUtf8());
        hash.addData(QByteArrayView("\x00", 1));
    }
    return hash.result();
}

// Copies one table file's rows in key order, a batch per statement; rows the
// server holds already (see identityOf) are skipped.
TableCopy copyTable(const QString &path, DataTable &target, DataModule &dm)
{
    TableCopy result;
    result.table = target.tableName();
    const QString name = QStringLiteral("ruvo-migrate-source");
    const QList<FieldDef> &fields = target.fields();
    const QList<int> identity = identityOf(dm, target);
    const bool byKey = identity.isEmpty();
    QStringList columns;
    for (const FieldDef &f : fields)
        columns.append(quoted(f.name));
    const QString key = quoted(fields.first().name);
    // Copied by identity, rows get the server's keys.
    const QStringList written = byKey ? columns : columns.mid(1);
    {
        QSqlDatabase src = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        src.setDatabaseName(path);
        src.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!src.open())
            throw EGeneralError(QStringLiteral("Не удалось открыть файл %1: %2").arg(path, src.lastError().text()));
        QSqlQuery read(src);
        read.setForwardOnly(true);
        if (!read.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                           .arg(columns.join(QStringLiteral(", ")), quoted(target.tableName()), key)))
            throw EGeneralError(QStringLiteral("Не удалось прочитать таблицу %1 из файла %2: %3")
                                    .arg(target.tableName(), path, read.lastError().text()));
        Transaction tx(dm);
        // How many rows of each identity the server holds and no copied row
        // has matched yet.
        QHash<QByteArray, int> held;
        if (!byKey) {
            QStringList wanted;
            for (int i : identity)
                wanted.append(quoted(fields[i].name));
            QSqlQuery q = target.exec(QStringLiteral("SELECT %1 FROM %2").arg(wanted.join(QStringLiteral(", ")), target.sqlName()));
            while (q.next())
                ++held[identityDigest(fields, identity, [&](int i) { return q.value(int(identity.indexOf(i))); })];
        }
        QVariantList params;
        int rows = 0;
        auto flush = [&] {
            if (rows == 0)
                return;
            QStringList tuples;
            const QString one = QLatin1Char('(') + QStringList(written.size(), QStringLiteral("?")).join(QLatin1Char(','))
                + QLatin1Char(')');
            for (int i = 0; i < rows; ++i)
                tuples.append(one);
            QSqlQuery q = target.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES %3%4")
                                          .arg(target.sqlName(), written.join(QStringLiteral(", ")),
                                               tuples.join(QStringLiteral(", ")),
                                               byKey ? QStringLiteral(" ON CONFLICT (%1) DO NOTHING").arg(key) : QString()),
                                      params);
            result.copied += qMax(0, q.numRowsAffected());
            params.clear();
            rows = 0;
        };
        while (read.next()) {
            ++result.read;
            if (!byKey) {
                auto it = held.find(identityDigest(fields, identity, [&](int i) { return read.value(i); }));
                if (it != held.end() && it.value() > 0) {
                    --it.value();
                    continue;
                }
            }
            for (int i = byKey ? 0 : 1; i < columns.size(); ++i)
                params.append(read.value(i));
            if (++rows == kBatch)
                flush();
        }
        flush();
        if (byKey && fields.first().type == FieldType::AutoInc) {
            // New rows get keys after every key copied.
            target.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence(?, ?), "
                                       "GREATEST((SELECT MAX(%1) FROM %2), 1))")
                            .arg(key, target.sqlName()),
                        {quoted(target.tableName()), fields.first().name});
        }
        tx.commit();
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

} // namespace

namespace {

QList<TableCopy> copyAll(const QString &dataDir, const StoreConnection &to)
{
    if (!to.server())
        throw EGeneralError(QStringLiteral("Не задан сервер PostgreSQL"));
    if (!QFileInfo(dataDir).isDir())
        throw EGeneralError(QStringLiteral("Не обнаружен каталог данных %1").arg(dataDir));
    DataModule dm;
    dm.setConnection(to);
    dm.setLocalFallback(false);
    QStringList said;
    const Result<> created = dm.dataModuleCreate([&said](const Error &e) { said.append(e.text); });
    if (!created)
        said.append(created.errorText());
    if (!created || !dm.connected() || dm.dialect().sqlite())
        throw EGeneralError(said.isEmpty() ? QStringLiteral("Не удалось подключиться к базе данных: ") + to.describe()
                                           : said.join(QLatin1Char('\n')));
    QList<TableCopy> copies;
    for (DataTable *t : {&dm.measures(), &dm.notes(), &dm.devices(), &dm.cards(), &dm.doseLevels(),
                         &dm.dosePersons(), &dm.doseAlerts(), &dm.audit()}) {
        const QString path = QDir(dataDir).filePath(t->fileName());
        if (!QFileInfo::exists(path)) {
            copies.append({t->tableName(), -1, 0});  // no file: nothing to copy
            continue;
        }
        t->close();
        copies.append(copyTable(path, *t, dm));
    }
    dm.dataModuleDestroy();
    return copies;
}

} // namespace

Result<QList<TableCopy>> copyDataDirToServer(const QString &dataDir, const StoreConnection &to)
{
    try {
        return copyAll(dataDir, to);
    } catch (const std::exception &e) {
        return storeError(e);
    }
}

// The copy of a data directory's tables into a PostgreSQL database.

#include "records/StoreMigration.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "records/DataModule.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

using RecordsSql::quoted;

namespace {

constexpr int kBatch = 200;  // rows per INSERT

// Copies one table file's rows in key order, a batch per statement; the
// server skips the keys it holds already.
TableCopy copyTable(const QString &path, DataTable &target, DataModule &dm)
{
    TableCopy result;
    result.table = target.tableName();
    const QString name = QStringLiteral("ruvo-migrate-source");
    QStringList columns;
    for (const FieldDef &f : target.fields())
        columns.append(quoted(f.name));
    const QString key = quoted(target.fields().first().name);
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
        QVariantList params;
        int rows = 0;
        auto flush = [&] {
            if (rows == 0)
                return;
            QStringList tuples;
            const QString one = QLatin1Char('(') + QStringList(columns.size(), QStringLiteral("?")).join(QLatin1Char(','))
                + QLatin1Char(')');
            for (int i = 0; i < rows; ++i)
                tuples.append(one);
            QSqlQuery q = target.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES %3 ON CONFLICT (%4) DO NOTHING")
                                          .arg(target.sqlName(), columns.join(QStringLiteral(", ")),
                                               tuples.join(QStringLiteral(", ")), key),
                                      params);
            result.copied += qMax(0, q.numRowsAffected());
            params.clear();
            rows = 0;
        };
        while (read.next()) {
            for (int i = 0; i < columns.size(); ++i)
                params.append(read.value(i));
            ++result.read;
            if (++rows == kBatch)
                flush();
        }
        flush();
        if (target.fields().first().type == FieldType::AutoInc) {
            // New rows get keys after every key copied.
            target.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence(?, ?), "
                                       "GREATEST((SELECT MAX(%1) FROM %2), 1))")
                            .arg(key, target.sqlName()),
                        {quoted(target.tableName()), target.fields().first().name});
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
    for (DataTable *t : {&dm.measures(), &dm.notes(), &dm.devices(), &dm.cards()}) {
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

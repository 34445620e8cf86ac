// The database module's start-up and shut-down: the data directory, the
// connection, missing tables announced and created, every table's indexes
// rebuilt, the second cursor on the cards; and closing it all at exit.

#include "records/DataModule.h"
#include "records/MonthSums.h"

#include "core/Errors.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSqlQuery>

using RecordsSql::quoted;

// ---------------------------------------------------------------- start-up

bool DataModule::openServer(const std::function<void(const QString &)> &report)
{
    const QString what = QStringLiteral("Не удалось подключиться к базе данных RUVO\r") + m_connection.describe()
        + QStringLiteral("\r");
    const QString local =
        m_localFallback ? QStringLiteral("\rработа продолжается с таблицами каталога\r") + dataDir() : QString();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        report(what + QStringLiteral("не установлен драйвер QPSQL (пакет libqt6sql6-psql)") + local);
        return false;
    }
    try {
        openConnection(true);
    } catch (const ERuvoError &e) {
        // Waited for, the server's connection stays, closed, for the next try.
        if (m_waitForServer) {
            report(what + e.message().trimmed() + QStringLiteral("\rпоказания ожидают сервер в каталоге\r") + dataDir());
            return false;
        }
        report(what + e.message().trimmed() + local);
        closeConnection();
        return false;
    }
    return true;
}

Result<> DataModule::dataModuleCreate(const std::function<void(const Error &)> &tell)
{
    m_terminateRequested = false;
    auto report = [&tell](const QString &text) {
        if (tell)
            tell(Error{ErrorKind::Failed, text});
    };

    // A server that cannot be used is announced; the program goes on with
    // the tables of its own data directory, or waits for the server.
    const bool onServer = m_connection.server() && openServer(report);
    m_tablesPending = false;
    if (m_connection.server() && !onServer && m_waitForServer && QSqlDatabase::contains(m_connectionName)) {
        // On the server without a connection; reconnectServer() goes on.
        m_tablesPending = true;
        return {};
    }
    if (m_connection.server() && !onServer && !m_localFallback) {
        m_terminateRequested = true;
        return {};
    }
    if (!onServer) {
        // 1. The data directory.
        const QString dir = dataDir();
        if (!QFileInfo(dir).isDir()) {
            if (QDir().mkpath(dir))
                report(QStringLiteral("Не обнаружен каталог \r") + dir + QStringLiteral("\r")
                       + QStringLiteral("произведено его пересеоздание"));
            else
                report(QStringLiteral("Не обнаружен каталог \r") + dir + QStringLiteral("\r")
                       + QStringLiteral("автоматическое пересеоздание невозможно"));
        }

        // 2. The connection, bound to the data directory.
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
            report(QStringLiteral("Для корректной работы программы, настройте BDE: "));
            m_terminateRequested = true;
            return {};
        }
        try {
            openConnection(false);
        } catch (const ERuvoError &) {
            // Without a working connection nothing can be stored at all.
            report(QStringLiteral("Для корректной работы программы, настройте BDE: "));
            m_terminateRequested = true;
            closeConnection();
            return {};
        }
        if (!QFileInfo(dir).isDir())
            report(QStringLiteral("DM: Ошибка при открытии базы данных"));
    }

    return prepareTables(report);
}

Result<> DataModule::prepareTables(const std::function<void(const QString &)> &report)
{
    // 3. Missing tables are announced and created; a failure to create one
    //    goes to the caller and ends the start-up here.
    DataTable *const tables[] = {&m_measures, &m_notes, &m_devices, &m_cards};
    for (DataTable *t : tables) {
        const QString path = m_dialect.sqlite() ? tablePath(t->fileName()) : t->tableName();
        if (m_dialect.sqlite() ? !QFileInfo::exists(path) : !t->tableExists()) {
            report(QStringLiteral("Не обнаружена таблица \r") + path + QStringLiteral("\r")
                   + QStringLiteral("будет произведена попытка создания новой таблицы"));
            try {
                t->createTable();
            } catch (const std::exception &e) {
                return storeError(e);
            }
        }
    }

    // Dose control's tables and the audit trail are new, not lost: made
    // without a word.
    DataTable *const doseTables[] = {&m_doseLevels, &m_dosePersons, &m_doseAlerts, &m_audit};
    for (DataTable *t : doseTables) {
        try {
            if (m_dialect.sqlite() ? !QFileInfo::exists(tablePath(t->fileName())) : !t->tableExists())
                t->createTable();
            rebuildIndexes(*t);
        } catch (const std::exception &) {
            report((t == &m_audit ? QStringLiteral("DM: Ошибка при открытии журнала аудита\r")
                                  : QStringLiteral("DM: Ошибка при открытии таблицы контроля доз\r"))
                   + (m_dialect.sqlite() ? tablePath(t->fileName()) : t->tableName())
                   + QStringLiteral("\r"));
        }
    }

    // 4. Indexes, each table on its own.
    for (DataTable *t : tables) {
        QString text;
        if (t == &m_measures)
            text = QStringLiteral("DM: Ошибка при открытии таблицы измерений\r");
        else if (t == &m_notes)
            text = QStringLiteral("DM: Ошибка при открытии таблицы журнала\r");
        else if (t == &m_devices)
            text = QStringLiteral("DM: Ошибка при открытии таблицы устройств ТРЕМ\r");
        else
            text = QStringLiteral("DM: Ошибка при открытии таблицы картотеки\r");
        try {
            rebuildIndexes(*t);
        } catch (const std::exception &) {
            report(text + (m_dialect.sqlite() ? tablePath(t->fileName()) : t->tableName()) + QStringLiteral("\r"));
        }
    }

    // 5. The second cursor on the cards.
    try {
        m_cardsFind.open();
    } catch (const std::exception &) {
        report(QStringLiteral("DM: Ошибка при открытии дубля таблицы картотеки\r") + tablePath(m_cardsFind.fileName())
               + QStringLiteral("\r"));
    }
    return {};
}

namespace {

struct IndexSpec {
    QString name;
    QString sql;
    // On the server: how the definition of an index of this name ends (the
    // key after a field, a text's own column kept beside its folded key);
    // one made by an older version that ends otherwise is made anew. Empty:
    // not checked.
    QString ending = QString();
};

// The indexes a table keeps: one per field, named "i" + field name; texts
// ordered without regard to letter case, everything else in plain order so
// that exact look-ups (the duplicate check on DateTime) can use them.
QList<IndexSpec> indexSpecs(const DataTable &table, const SqlDialect &d)
{
    QList<IndexSpec> specs;
    for (const FieldDef &f : table.fields()) {
        if (!fieldIndexed(table.tableName(), f))
            continue;
        const QString def = d.indexDefinition(table.tableName(), f, table.keyField());
        const QString tail = def.mid(def.lastIndexOf(QStringLiteral(", ")) + 2);  // "Index") or "Index") INCLUDE ("Name")
        specs.append({d.indexName(table.tableName(), f.name), def,
                      !d.sqlite() && f.name != table.keyField() ? tail : QString()});
    }
    // The rows whose sort keys are still to be filled (written by another
    // program), found at once.
    const QString stale = table.sortKeysIndexDefinition();
    if (!stale.isEmpty())
        specs.append({DataTable::sortKeysIndexName(), stale});
    // The synchronisation cycle's duplicate check looks up one archive record
    // by its time, reader and number before every append; this index answers
    // it directly, also before the table has statistics. On the server,
    // where several monitors store at once, it is unique: the database itself
    // refuses a second copy of a reading. (The files keep a plain index: old
    // ones may hold doubles, and one program writes them.)
    if (table.tableName() == QLatin1String("Measures")) {
        specs.append({d.indexName(table.tableName(), QStringLiteral("ArchiveRecord")),
                      QString::fromLatin1(d.sqlite() ? "CREATE INDEX %1 ON \"Measures\"(%2, %3, %4)"
                                                : "CREATE UNIQUE INDEX %1 ON \"Measures\"(%2, %3, %4)")
                          .arg(quoted(d.indexName(table.tableName(), QStringLiteral("ArchiveRecord"))),
                               quoted(fieldName(MeasuresField::DateTime)), quoted(fieldName(MeasuresField::TarnAddress)),
                               quoted(fieldName(MeasuresField::RecNumber)))});
        // Dose control sums one dosimeter's doses over a stretch of time
        // for every stored reading: this index answers such a sum alone.
        specs.append({d.indexName(table.tableName(), QStringLiteral("DosimeterTime")),
                      QStringLiteral("CREATE INDEX %1 ON \"Measures\"(%2, %3, %4)")
                          .arg(quoted(d.indexName(table.tableName(), QStringLiteral("DosimeterTime"))),
                               quoted(fieldName(MeasuresField::ID)), quoted(fieldName(MeasuresField::DateTime)),
                               quoted(fieldName(MeasuresField::Dose)))});
    }
    return specs;
}

void makeMissingIndexes(DataTable &table, const QList<IndexSpec> &specs)
{
    // The server keeps its indexes whole; a missing one is made.
    QSqlQuery q = table.exec(QStringLiteral("SELECT indexname, indexdef FROM pg_indexes WHERE schemaname = current_schema() "
                                            "AND tablename = ?"),
                             {table.tableName()});
    QHash<QString, QString> present;  // name: definition
    while (q.next())
        present.insert(q.value(0).toString(), q.value(1).toString());
    for (const IndexSpec &s : specs) {
        const bool unique = s.sql.startsWith(QLatin1String("CREATE UNIQUE"));
        const QString def = present.value(s.name);
        if (!present.contains(s.name)) {
            table.exec(s.sql);
        } else if (!s.ending.isEmpty()
                   && !QString(def).remove(QLatin1Char('"')).endsWith(QString(s.ending).remove(QLatin1Char('"')))) {
            // A field's index of an older version (without the key after
            // the field, or a text's without the text itself): made anew.
            table.exec(QStringLiteral("DROP INDEX ") + quoted(s.name));
            table.exec(s.sql);
        } else if (unique && !def.startsWith(QLatin1String("CREATE UNIQUE"))) {
            // A plain index of a database made before it had to be unique:
            // replaced inside the exclusive open's transaction, so that
            // doubled rows (the new index then fails) leave the old one in
            // place and the failure is told.
            table.exec(QStringLiteral("DROP INDEX ") + quoted(s.name));
            table.exec(s.sql);
        }
    }
    table.exec(QStringLiteral("ANALYZE ") + quoted(table.tableName()));
}

// The indexes of a table file as they should be: wrong ones dropped, missing
// ones made, damaged pages rebuilt, fresh statistics; the sort keys whole.
void rebuildFileIndexes(DataTable &table, const QList<IndexSpec> &specs)
{
    const QString schema = quoted(table.tableName());
    QHash<QString, QString> existing;
    {
        QSqlQuery q = table.exec(QStringLiteral("SELECT name, sql FROM %1.sqlite_master WHERE type = 'index' "
                                                "AND tbl_name = ? AND sql IS NOT NULL")
                                     .arg(schema),
                                 {table.tableName()});
        while (q.next())
            existing.insert(q.value(0).toString(), q.value(1).toString());
    }
    QStringList kept;
    for (auto it = existing.cbegin(); it != existing.cend(); ++it) {
        bool wanted = false;
        for (const IndexSpec &s : specs)
            wanted = wanted || (s.name == it.key() && s.sql == it.value());
        if (wanted)
            kept.append(it.key());
        else
            table.exec(QStringLiteral("DROP INDEX %1.%2").arg(schema, quoted(it.key())));
    }
    // A file of an older program gets its sort-key columns here, keys are
    // filled before their indexes are made (cheaper than row by row), and
    // the triggers that clear a key are put in place; all inside the
    // exclusive open's transaction, so a file is converted wholly or not.
    table.prepareSortKeys();
    for (const IndexSpec &s : specs) {
        if (!kept.contains(s.name))
            table.exec(QString(s.sql).replace(QStringLiteral("CREATE INDEX \"i"),
                                              QStringLiteral("CREATE INDEX %1.\"i").arg(schema)));
    }
    bool damaged = false;
    {
        QSqlQuery q = table.exec(QStringLiteral("PRAGMA %1.quick_check").arg(schema));
        while (q.next())
            damaged = damaged || q.value(0).toString() != QLatin1String("ok");
    }
    if (damaged) {
        for (const QString &name : std::as_const(kept))
            table.exec(QStringLiteral("REINDEX %1.%2").arg(schema, quoted(name)));
    }
    // Fresh statistics (from a sample of each index) let SQLite choose
    // the index that narrows a look-up most.
    table.exec(QStringLiteral("ANALYZE %1.%2").arg(schema, quoted(table.tableName())));
}

} // namespace

void DataModule::rebuildIndexes(DataTable &table)
{
    // 1. Closed, then exclusive, natural order, no filter, views quiet.
    table.close();
    table.setExclusive(true);
    table.setIndexFieldNames(QString());
    table.setFilter(QString());
    table.disableControls();

    QString failure;
    bool failed = false;
    if (&table == &m_measures)
        m_monthSums = false;
    try {
        // 2-3. Open exclusively: the table's file is locked against writers
        //      until the rebuild is committed.
        table.open();
        // 4-5. The primary key is part of the table itself; every field gets
        //      its index. An index that is missing or not as it should be is
        //      made anew; damaged index pages are rebuilt from the rows.
        const QList<IndexSpec> specs = indexSpecs(table, m_dialect);
        if (m_dialect.sqlite())
            rebuildFileIndexes(table, specs);
        else
            makeMissingIndexes(table, specs);
        // The monthly dose sums beside the readings, made once.
        if (&table == &m_measures)
            m_monthSums = MonthSums::prepare(*this, table);
        // 6. Closing commits the rebuild.
        table.close();
    } catch (const ERuvoError &e) {
        failed = true;
        failure = e.message();
        try {
            table.close();
        } catch (...) {
        }
    }

    // 7. In every case: shared again, open, views notified.
    table.setExclusive(false);
    try {
        table.open();
    } catch (const ERuvoError &e) {
        if (!failed) {
            failed = true;
            failure = e.message();
        }
    }
    table.enableControls();
    if (failed)
        throw EGeneralError(failure);
}

void DataModule::dataModuleDestroy()
{
    for (DataTable *t : allTables()) {
        try {
            t->close();
        } catch (...) {
        }
    }
    closeConnection();
}

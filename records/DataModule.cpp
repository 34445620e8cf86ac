// The database module: the global module, the connection and the attached
// table files, their journal and commit modes, the word to the table
// objects, and the transactions. The start-up and shut-down (tables and
// indexes) are in DataModuleStartup.cpp, what the module adds to SQLite
// (its functions, the collation of older files, the bound on a statement's work)
// in SqliteFunctions.cpp.

#include "records/DataModule.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>

using RecordsSql::quoted;

namespace {

DataModule *g_dm = nullptr;
std::atomic<int> g_connectionCounter{0};

} // namespace

DataModule *dataModule()
{
    return g_dm;
}

void setDataModule(DataModule *dm)
{
    g_dm = dm;
}

// ---------------------------------------------------------------- module

DataModule::DataModule(QObject *parent)
    : QObject(parent),
      m_measures(this, QStringLiteral("Measures"), QStringLiteral("Measures.DB"), measuresSchema()),
      m_notes(this, QStringLiteral("Notes"), QStringLiteral("Notes.DB"), notesSchema()),
      m_devices(this, QStringLiteral("Devices"), QStringLiteral("Devices.db"), devicesSchema()),
      m_cards(this, QStringLiteral("Cards"), QStringLiteral("Cards.DB"), cardsSchema()),
      m_cardsFind(this, QStringLiteral("Cards"), QStringLiteral("Cards.DB"), cardsSchema()),
      m_doseLevels(this, QStringLiteral("DoseLevels"), QStringLiteral("DoseLevels.db"), doseLevelsSchema()),
      m_dosePersons(this, QStringLiteral("DosePersons"), QStringLiteral("DosePersons.db"), dosePersonsSchema()),
      m_doseAlerts(this, QStringLiteral("DoseAlerts"), QStringLiteral("DoseAlerts.db"), doseAlertsSchema()),
      m_audit(this, QStringLiteral("Audit"), QStringLiteral("Audit.db"), auditSchema())
{
    m_connectionName = QStringLiteral("RUVO-%1").arg(++g_connectionCounter);
}

QList<DataTable *> DataModule::allTables()
{
    return {&m_measures, &m_notes, &m_devices, &m_cards, &m_cardsFind, &m_doseLevels, &m_dosePersons, &m_doseAlerts, &m_audit};
}

DataModule::~DataModule()
{
    dataModuleDestroy();
    if (g_dm == this)
        g_dm = nullptr;
}

QString DataModule::dataDir() const
{
    return appState().programDir + QStringLiteral("Data");
}

QString DataModule::tablePath(const QString &fileName) const
{
    return dataDir() + QDir::separator() + fileName;
}

QSqlDatabase DataModule::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool DataModule::connected() const
{
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

void DataModule::openConnection(bool server)
{
    closeConnection();
    if (server) {
        m_dialect = SqlDialect(SqlEngine::Postgres);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
        db.setHostName(m_connection.host);
        db.setPort(m_connection.port);
        db.setDatabaseName(m_connection.database);
        db.setUserName(m_connection.user);
        db.setConnectOptions(m_connection.connectOptions());
        if (!db.open())
            throw EGeneralError(db.lastError().text());
        forgetServerStatements(db);
        QSqlQuery q(db);
        // Texts travel as UTF-8, whatever the server's default.
        q.exec(QStringLiteral("SET client_encoding TO 'UTF8'"));
        // Notices ("table does not exist, skipping") are no news to anyone.
        q.exec(QStringLiteral("SET client_min_messages TO warning"));
        // Statements prepared once are still planned for each one's values.
        q.exec(QStringLiteral("SET plan_cache_mode TO force_custom_plan"));
        return;
    }
    m_dialect = SqlDialect(SqlEngine::Sqlite);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(QStringLiteral(":memory:"));
    // Another program holding a table's file makes an operation wait this long
    // before it fails.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=500"));
    if (!db.open())
        throw EGeneralError(db.lastError().text());
    registerCollation();
    QSqlQuery q(db);
    q.exec(QStringLiteral("PRAGMA analysis_limit=1000"));
}

bool DataModule::reconnectServer()
{
    if (m_dialect.sqlite() || !QSqlDatabase::contains(m_connectionName))
        return false;
    QSqlDatabase db = database();
    db.close();
    m_inTransaction = false;
    if (!db.open())
        return false;
    forgetServerStatements(db);
    QSqlQuery q(db);
    q.exec(QStringLiteral("SET client_encoding TO 'UTF8'"));
    q.exec(QStringLiteral("SET client_min_messages TO warning"));
    q.exec(QStringLiteral("SET plan_cache_mode TO force_custom_plan"));
    if (m_tablesPending) {
        // The start-up without the server is finished now, quietly.
        m_tablesPending = false;
        prepareTables([](const QString &) {});
    }
    return true;
}

void DataModule::closeConnection()
{
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen()) {
            if (m_inTransaction) {
                QSqlQuery q(db);
                q.exec(QStringLiteral("ROLLBACK"));
            }
            if (m_dialect.sqlite()) {
                for (const QString &schema : std::as_const(m_attached)) {
                    QSqlQuery q(db);
                    q.exec(QStringLiteral("DETACH DATABASE ") + quoted(schema));
                }
            }
            db.close();
        }
    }
    m_attached.clear();
    m_inTransaction = false;
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool DataModule::isAttached(const QString &schema) const
{
    // A server's database holds every table at once.
    if (!m_dialect.sqlite())
        return connected();
    return m_attached.contains(schema);
}

void DataModule::ensureAttached(const QString &schema, const QString &fileName)
{
    if (isAttached(schema))
        return;
    if (!connected())
        throw EGeneralError(QStringLiteral("База данных RUVO не открыта"));
    QSqlDatabase db = database();
    const QString path = QDir(dataDir()).filePath(fileName);
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("ATTACH DATABASE ? AS ") + quoted(schema));
        q.addBindValue(path);
        if (!q.exec())
            throwStoreError(q.lastError());
    }
    // Reading the file's schema now finds a file that is no database at all
    // before anything is written to it. A file that holds the table is
    // switched to write-ahead logging (cheap commits); any other file is
    // left exactly as it is.
    std::optional<QSqlError> failure;
    bool holdsTable = false;
    {
        QSqlQuery q(db);
        q.prepare(QStringLiteral("SELECT count(*) FROM %1.sqlite_master WHERE type = 'table' AND name = ?")
                      .arg(quoted(schema)));
        q.addBindValue(schema);
        if (!q.exec())
            failure = q.lastError();
        else if (q.next())
            holdsTable = q.value(0).toInt() > 0;
    }
    if (failure) {
        QSqlQuery q(db);
        q.exec(QStringLiteral("DETACH DATABASE ") + quoted(schema));
        throwStoreError(*failure);
    }
    m_attached.append(schema);
    if (holdsTable)
        useWriteAheadLog(schema);
}

void DataModule::useWriteAheadLog(const QString &schema)
{
    if (!m_dialect.sqlite())
        return;  // the server keeps its own log
    QSqlDatabase db = database();
    QSqlQuery q(db);
    if (q.exec(QStringLiteral("PRAGMA %1.journal_mode=WAL").arg(quoted(schema))))
        q.exec(QStringLiteral("PRAGMA %1.synchronous=%2").arg(quoted(schema), synchronousFor(schema)));
    // A page cache large enough for the upper levels of every index of a
    // table of a million rows: storing one row then touches the disk once.
    q.exec(QStringLiteral("PRAGMA %1.cache_size=-65536").arg(quoted(schema)));
}

void DataModule::setDurableCommits(bool durable)
{
    m_durable = durable;
    if (!connected() || !m_dialect.sqlite())
        return;
    for (const QString &schema : std::as_const(m_attached)) {
        QSqlQuery q(database());
        q.exec(QStringLiteral("PRAGMA %1.synchronous=%2").arg(quoted(schema), synchronousFor(schema)));
    }
}

QString DataModule::synchronousFor(const QString &schema) const
{
    const bool readings = schema.compare(QStringLiteral("Measures"), Qt::CaseInsensitive) == 0
        || (m_readingCommits && schema.compare(m_audit.tableName(), Qt::CaseInsensitive) == 0);
    return m_durable && !readings ? QStringLiteral("FULL") : QStringLiteral("NORMAL");
}

void DataModule::flushReadings()
{
    if (!m_durable || !connected() || !m_dialect.sqlite())
        return;
    // The readings' audit rows are committed as the readings are.
    for (const QString &schema : {m_measures.tableName(), m_audit.tableName()}) {
        if (!isAttached(schema))
            continue;
        // One commit made with a full flush: syncing the log file puts every
        // earlier commit of that file on the disk too. Rewriting the header
        // cookie with its own value is the smallest commit there is.
        QSqlQuery q(database());
        const QString name = quoted(schema);
        if (!q.exec(QStringLiteral("PRAGMA %1.user_version").arg(name)) || !q.next())
            throwStoreError(q.lastError());
        const int version = q.value(0).toInt();
        q.finish();
        bool ok = q.exec(QStringLiteral("PRAGMA %1.synchronous=FULL").arg(name))
            && q.exec(QStringLiteral("PRAGMA %1.user_version=%2").arg(name).arg(version));
        const QSqlError failure = q.lastError();
        q.exec(QStringLiteral("PRAGMA %1.synchronous=%2").arg(name, synchronousFor(schema)));
        if (!ok)
            throwStoreError(failure);
    }
}

void DataModule::setReadingCommits(bool on)
{
    if (m_readingCommits == on)
        return;
    m_readingCommits = on;
    const QString schema = m_audit.tableName();
    if (!m_durable || !connected() || !m_dialect.sqlite() || !isAttached(schema))
        return;
    QSqlQuery q(database());
    q.exec(QStringLiteral("PRAGMA %1.synchronous=%2").arg(quoted(schema), synchronousFor(schema)));
}

void DataModule::detach(const QString &schema)
{
    if (!m_dialect.sqlite() || !isAttached(schema))
        return;
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("DETACH DATABASE ") + quoted(schema)))
        throwStoreError(q.lastError());
    m_attached.removeAll(schema);
}

void DataModule::notifyPeers(DataTable *changed)
{
    for (DataTable *t : allTables()) {
        if (t != changed && t->tableName() == changed->tableName() && t->active())
            t->peerChanged();
    }
}

void DataModule::startTransaction()
{
    if (m_inTransaction)
        throw EGeneralError(QStringLiteral("Транзакция уже начата"));
    if (!connected())
        throw EGeneralError(QStringLiteral("База данных RUVO не открыта"));
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("BEGIN")))
        throwStoreError(q.lastError());
    m_inTransaction = true;
}

void DataModule::commit()
{
    if (!m_inTransaction)
        throw EGeneralError(QStringLiteral("Транзакция не начата"));
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("COMMIT")))
        throwStoreError(q.lastError());
    m_inTransaction = false;
}

void DataModule::rollback()
{
    if (!m_inTransaction)
        return;
    {
        QSqlQuery q(database());
        q.exec(QStringLiteral("ROLLBACK"));
    }
    m_inTransaction = false;
    // Rows written in the transaction are gone: every view re-reads.
    for (DataTable *t : allTables()) {
        if (t->active()) {
            try {
                t->cancel();  // a pending row is not written after the rollback
                t->refresh();
            } catch (const ERuvoError &) {
            }
        }
    }
}

Transaction::Transaction(TableHost &host) : m_host(host)
{
    m_host.startTransaction();
}

Transaction::~Transaction()
{
    if (!m_done) {
        try {
            m_host.rollback();
        } catch (...) {
        }
    }
}

void Transaction::commit()
{
    m_host.commit();
    m_done = true;
}

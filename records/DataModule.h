#pragma once
// The database module: the four tables of the data directory and the
// connection they share.
//
// Data directory = appState().programDir + "Data". Each table is one SQLite file
// there ("Measures.DB", "Notes.DB", "Devices.db", "Cards.DB"), attached to one
// connection (an in-memory main database) under the table's name, so a
// missing file is announced and recreated alone and each file opens in any
// SQLite tool, for reading and writing: the case-insensitive order of the
// texts is kept in plain sort-key columns (records/TableSortKeys.cpp).
//
// Life: the program creates one module after the main window, makes it the
// global one (SetDM) and calls dataModuleCreate(); at exit it calls
// dataModuleDestroy() and deletes it. Tests create their own modules on
// temporary directories.

#include "core/Result.h"
#include "records/DataTable.h"
#include "records/SqlDialect.h"
#include "records/StoreConnection.h"
#include "records/TableHost.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>

struct sqlite3_context;
struct sqlite3_value;

class DataModule : public QObject, public TableHost {
    Q_OBJECT
public:
    explicit DataModule(QObject *parent = nullptr);
    ~DataModule() override;  // closes what is still open

    // Start-up: creates the data directory when missing, opens the connection,
    // announces and creates missing tables, rebuilds every table's indexes
    // (each on its own, with its own error message) and opens the second cursor on the cards (cardsFind()).
    // Each message of these steps goes to `tell` as it arises (an error of
    // kind Failed; the caller shows it), so it comes before the step it
    // announces. Returns the store's error only when creating a missing table
    // fails (the remaining steps are then skipped).
    Result<> dataModuleCreate(const std::function<void(const Error &)> &tell = {});
    // Rebuilds the indexes of one table (needs the table's file exclusively)
    // and leaves the table open; raises on failure (the table is then closed
    // when it cannot be reopened).
    void rebuildIndexes(DataTable &table);
    // Closes the tables and the connection, ignoring failures.
    void dataModuleDestroy();

    // True when the store could not work at all (no SQLite driver, no
    // connection): the start-up message has been shown and nothing can be
    // stored; the program decides whether to go on.
    bool terminateRequested() const { return m_terminateRequested; }

    // Where the tables are kept: the SQLite files of the data directory (the
    // default) or a PostgreSQL database. Set before dataModuleCreate().
    void setConnection(const StoreConnection &connection) { m_connection = connection; }
    const StoreConnection &connectionSettings() const { return m_connection; }
    // Whether the module goes on with the data directory's files when the
    // server cannot be used (the default); without it nothing is opened then
    // and terminateRequested() is set.
    void setLocalFallback(bool fallback) { m_localFallback = fallback; }
    // Whether the module stays on the server when it cannot be used at
    // start (before any local fallback): the server's tables without a
    // connection, as if it had been lost, so that readings wait in the
    // buffer for it; the first reconnectServer() that succeeds finishes the
    // start-up (missing tables, indexes). Off by default.
    void setWaitForServer(bool wait) { m_waitForServer = wait; }
    const SqlDialect &dialect() const override { return m_dialect; }

    // Whether the tables are on a server whose connection can be lost, and
    // a new connection to it after it was (the server restarted, the network
    // came back): false while it still cannot be reached. The tables stay as
    // they are; a transaction under way when it was lost is gone.
    bool onServer() const { return !m_dialect.sqlite(); }
    bool reconnectServer();

    QString dataDir() const;            // programDir + "Data" (no trailing separator)
    QString tablePath(const QString &fileName) const override;  // programDir + "Data" + separator + file name
    QSqlDatabase database() const override;
    QString connectionName() const { return m_connectionName; }
    bool connected() const override;

    // Transactions over all tables. Inside one, every Post/Delete joins it;
    // the grid and other views are notified at once as usual.
    void startTransaction() override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const { return m_inTransaction; }

    // The tables, in the program's order, and the second cursor on the cards
    // (every view binds to these table objects themselves).
    DataTable &measures() { return m_measures; }
    DataTable &notes() { return m_notes; }
    DataTable &devices() { return m_devices; }
    DataTable &cards() { return m_cards; }
    DataTable &cardsFind() { return m_cardsFind; }
    // Dose control's tables ("DoseLevels.db", "DosePersons.db",
    // "DoseAlerts.db"): created quietly when missing, as they are new to
    // older data directories.
    DataTable &doseLevels() { return m_doseLevels; }
    DataTable &dosePersons() { return m_dosePersons; }
    DataTable &doseAlerts() { return m_doseAlerts; }
    // The audit trail ("Audit.db", records/AuditLog.*): created quietly when
    // missing, like dose control's tables.
    DataTable &audit() { return m_audit; }

private:
    DataTable m_measures;
    DataTable m_notes;
    DataTable m_devices;
    DataTable m_cards;
    DataTable m_cardsFind;
    DataTable m_doseLevels;
    DataTable m_dosePersons;
    DataTable m_doseAlerts;
    DataTable m_audit;
    QList<DataTable *> allTables();

public:

    // Whether every commit waits until the table file's log is on the disk
    // (the default). Without it a commit costs no disk flush, and the last
    // commits before a power cut may be lost (never after a crash of the
    // program alone).
    //
    // Readings in Measures never wait for the disk one by one: until the
    // reader position that follows them is saved in Devices, the reader still
    // holds them and the next pass reads them again (the duplicate check keeps
    // them single). flushReadings() puts every committed reading on the disk;
    // the cycle calls it before it saves a position, so a power cut can never
    // leave a saved position ahead of the readings on the disk.
    void setDurableCommits(bool durable);
    bool durableCommits() const { return m_durable; }
    void flushReadings();
    // While on, the audit file commits as Measures does (a stored reading
    // and its audit row wait for the same flush, flushReadings() syncs
    // both). SQLite refuses the change inside a transaction: switch it
    // around one. ReadingStore::storeReading does.
    void setReadingCommits(bool on);

    // Whether the database keeps the monthly dose sums of the dosimeters
    // (records/MonthSums.h), as found in the start-up's step on Measures.
    bool monthSumsKept() const { return m_monthSums; }

    // Runs work with the database's effort bounded: a statement that goes on
    // for more than about `steps` steps of SQLite's engine is stopped and
    // fails. False when that happened (whatever work raised then is dropped);
    // other failures raise as usual. For reads only: a stopped write would
    // roll back the transaction it belongs to.
    bool withinSteps(int steps, const std::function<void()> &work) override;

    // Runs work with the SQL function `name` of nArgs arguments defined on
    // the connection (SQLite's C interface: fn sets the result on the
    // context); it is removed again afterwards, also when work raises.
    using SqlFunction = std::function<void(sqlite3_context *, int, sqlite3_value **)>;
    void withFunction(const char *name, int nArgs, const SqlFunction &fn, const std::function<void()> &work);

    // For the table class: makes sure the file of a schema is attached
    // (raises on failure) and tells the other table objects on that schema
    // about a change.
    void ensureAttached(const QString &schema, const QString &fileName) override;
    bool isAttached(const QString &schema) const override;
    void detach(const QString &schema);
    void useWriteAheadLog(const QString &schema) override;
    void notifyPeers(DataTable *changed) override;

private:
    void openConnection(bool server);
    bool openServer(const std::function<void(const QString &)> &report);  // false (after its message) when the server cannot be used
    Result<> prepareTables(const std::function<void(const QString &)> &report);  // the start-up's steps on open tables
    void closeConnection();
    void registerCollation();

    QString m_connectionName;
    StoreConnection m_connection;
    bool m_localFallback = true;
    bool m_waitForServer = false;
    bool m_tablesPending = false;  // started without the server: its tables are prepared at the reconnection
    SqlDialect m_dialect;
    QStringList m_attached;
    bool m_inTransaction = false;
    bool m_readingCommits = false;
    bool m_terminateRequested = false;
    bool m_durable = true;
    bool m_monthSums = false;

    QString synchronousFor(const QString &schema) const;
};

// Defines on a connection of the SQLite driver what the tables need: the
// functions ruvo_key and ruvo_prefix, and the collation RUNOCASE of the text
// indexes of files not yet converted to sort keys.
// Raises EGeneralError when it cannot. For connections of the module's own
// helpers that open a table file by themselves (the backup).
void registerRecordsSqlFunctions(const QSqlDatabase &db);

// The program's module (null until set).
DataModule *dataModule();
void setDataModule(DataModule *dm);

#pragma once
// What a table object needs of the database module it lives in: the
// connection, its table file attached, transactions, a bounded read and the
// word to the other objects on the same file. The module (DataModule.h) provides
// it; the table class knows nothing else of the module.

#include "records/SqlDialect.h"

#include <QSqlDatabase>
#include <QString>
#include <functional>

class DataTable;

// The statements DataTable::exec prepared on a server connection are
// forgotten: called whenever that connection is opened anew.
void forgetServerStatements(const QSqlDatabase &db);

class TableHost {
public:
    virtual ~TableHost() = default;

    virtual QSqlDatabase database() const = 0;
    // How the engine in use spells what differs between engines.
    virtual const SqlDialect &dialect() const = 0;
    virtual bool connected() const = 0;
    // The path of a table file in the data directory.
    virtual QString tablePath(const QString &fileName) const = 0;

    // The file of a schema attached (raises on failure), and whether it is.
    virtual void ensureAttached(const QString &schema, const QString &fileName) = 0;
    virtual bool isAttached(const QString &schema) const = 0;
    // The journal mode and flushing a file holding its table runs with.
    virtual void useWriteAheadLog(const QString &schema) = 0;
    // Tells the other table objects on the file of `changed` that its rows
    // changed.
    virtual void notifyPeers(DataTable *changed) = 0;

    // Transactions over all tables; a table's writes join one under way.
    virtual void startTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    // Runs a read with SQLite's effort bounded to about `steps` steps; false
    // when it was stopped.
    virtual bool withinSteps(int steps, const std::function<void()> &work) = 0;
};

// A transaction that rolls back unless committed.
class Transaction {
public:
    explicit Transaction(TableHost &host);
    ~Transaction();
    void commit();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

private:
    TableHost &m_host;
    bool m_done = false;
};

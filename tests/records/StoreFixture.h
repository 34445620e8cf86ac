#pragma once
// A program directory in a temporary folder with its own database module, and
// quick ways to fill tables, for the store's tests and benchmarks.

#include "records/DataModule.h"

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

// The engine the store's tests run on: SQLite, unless the environment says
// RUVO_TEST_ENGINE=pg; then the PostgreSQL server described by the file
// RUVO_TEST_PG names (written by tests/support/pg_cluster.sh), each storeDir
// with a schema of its own. A server that is asked for but cannot be used
// ends the test at once.
bool testOnServer();

class storeDir {
public:
    storeDir();  // a fresh program directory; appState().programDir points at it
    ~storeDir();
    bool isValid() const { return m_tmp.isValid(); }
    QString programDir() const;                     // ends in '/'
    QString dataDir() const;                        // programDir + "Data"
    QString tablePath(const QString &fileName) const;
    // A module on this directory after dataModuleCreate (messages go to the
    // prompt installed by the caller).
    std::unique_ptr<DataModule> start() const;

    // The server and schema the module works in (testOnServer() only).
    const StoreConnection &server() const { return m_server; }

private:
    QTemporaryDir m_tmp;
    StoreConnection m_server;
};

// The Measures row number i of a generated set: TarnAddress 1000 + i % 3,
// RecNumber i % 2000 + 1, DateTime base + i minutes, ID i % 50, Name "Метка" +
// (i % 97) with alternating letter case, Dose i % 1000 / 10.0, Check i % 2.
QDateTime generatedTime(int i);
// Inserts n generated rows in one transaction (insertRows).
void fillMeasures(DataModule &dm, int n);
// Inserts n rows in one transaction: "head" is the INSERT up to VALUES,
// "tuple" one row's "(?, ?, 1)", rowValues(i) its bound values. On SQLite one
// prepared statement a row; on the server a thousand rows a statement, so
// that a million rows are not a million round trips.
void insertRows(DataModule &dm, const QString &head, const QString &tuple, int n,
                const std::function<QList<QVariant>(int)> &rowValues);
// The whole content of a file (to check that it was left untouched).
QByteArray fileBytes(const QString &path);

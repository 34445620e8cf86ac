#pragma once
// Copies every table of a data directory's SQLite files into a PostgreSQL
// database (the reading buffer aside, which only the server mode keeps):
// the tables are created there when missing and a row the server holds
// already is left alone, so a second run copies nothing. Rows of Measures,
// Notes, Devices and Cards keep their keys (a key there already is the same
// row), and the automatic keys then go on after the largest one copied; the
// rows of dose control's tables and of the audit trail get the server's
// keys and are told apart by their fields (see identityOf in the source).

#include "core/Result.h"
#include "records/StoreConnection.h"

#include <QList>
#include <QString>

struct TableCopy {
    QString table;
    qint64 read = 0;    // rows in the file
    qint64 copied = 0;  // rows the database did not hold yet
};

// An error (what failed, in Russian) when a file or the server cannot be
// used; nothing is copied then, or the copy of one table is rolled back whole.
Result<QList<TableCopy>> copyDataDirToServer(const QString &dataDir, const StoreConnection &to);

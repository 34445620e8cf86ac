#pragma once
// Copies the four tables of a data directory's SQLite files into a
// PostgreSQL database: the tables are created there when missing, every row
// keeps its key, and a row whose key is there already is left alone, so a
// second run copies nothing. The automatic keys then go on after the
// largest one copied.

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

#pragma once

// Work on a row of a table that is being appended or edited.

#include "records/DataTable.h"
#include "records/SqlDialect.h"
#include "records/SqlQuote.h"
#include "records/TableHost.h"

#include <QSqlQuery>

// Runs edit on the pending row (after append() or edit()); when it fails, the
// pending row is dropped and the failure goes on to the caller. A failure of
// the drop itself is swallowed so that the first failure is the one reported.
template <typename F>
void editingRow(DataTable &table, F edit)
{
    try {
        edit();
    } catch (...) {
        try {
            table.cancel();
        } catch (...) {
        }
        throw;
    }
}

// Inside a transaction, before a row is read to be checked and changed: on a
// server, holds the row with this key against other writers until the
// transaction ends, so that the check and the change see the same row (a
// change of another monitor waits or is waited for, never slips between).
// SQLite refuses a write whose transaction read a state another connection
// has changed since, so there nothing is needed.
inline void holdRow(DataTable &table, const QVariant &key)
{
    if (!table.module() || table.module()->dialect().sqlite())
        return;
    table.exec(QStringLiteral("SELECT 1 FROM %1 WHERE %2 = ? FOR UPDATE")
                   .arg(table.sqlName(), RecordsSql::quoted(table.keyField())),
               {key});
}

#pragma once

// Work on a row of a table that is being appended or edited.

#include "records/DataTable.h"

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

#pragma once
// What the user the store is connected as may do, asked of the server once
// after the start-up: the commands a role may not use are disabled instead
// of failing when used. On the data directory's files everything is allowed
// (whoever may write the files may do anything with them). On PostgreSQL the
// answer comes from the grants (has_table_privilege) and from membership of
// the service role (pg_has_role); see packaging/sql/ruvo-roles.sql.

#include <QString>

class DataModule;

struct StoreRights {
    bool readings = true;  // adds readings to Measures and moves the copy positions (Devices)
    bool marks = true;     // changes readings (the mark of the detail view)
    bool journal = true;   // adds, changes and removes journal rows (Notes)
    bool cards = true;     // adds, changes and removes cards
    bool service = true;   // the dosimeter's service: dose clearing, metrology
    bool audit = true;     // reads the audit trail
    QString user;          // the database user; empty on the files

    // Writes nothing at all (an auditor).
    bool readOnly() const { return !readings && !marks && !journal && !cards; }
};

// The rights of the module's connection. On a server: the service commands
// are allowed to the owner of Measures and to members of the connection's
// serviceRole; a
// right the server cannot be asked about counts as refused.
StoreRights storeRights(DataModule &dm);

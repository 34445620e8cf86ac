// The rights of the store's user, from the server's grants.

#include "records/StoreRights.h"

#include "records/DataModule.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

// One Boolean the server answers; false when it cannot (no such table or
// role, a broken connection).
bool serverSays(const QSqlDatabase &db, const QString &sql, const QVariantList &params)
{
    QSqlQuery q(db);
    if (!q.prepare(sql))
        return false;
    for (const QVariant &p : params)
        q.addBindValue(p);
    return q.exec() && q.next() && q.value(0).toBool();
}

// Whether the current user may do all of `privileges` ("INSERT, UPDATE") on
// a table of the current schema; false when there is no such table.
// (the server's own list form means any one of them).
bool tableAllows(const QSqlDatabase &db, const QString &table, const QString &privileges)
{
    const QString sql = QStringLiteral("SELECT has_table_privilege(c.oid, ?) FROM pg_class c WHERE c.relname = ? "
                                       "AND c.relnamespace = (SELECT n.oid FROM pg_namespace n "
                                       "WHERE n.nspname = current_schema())");
    const QStringList each = privileges.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &privilege : each) {
        if (!serverSays(db, sql, {privilege.trimmed(), table}))
            return false;
    }
    return !each.isEmpty();
}

} // namespace

StoreRights storeRights(DataModule &dm)
{
    const QString serviceRole = dm.connectionSettings().serviceRole;
    StoreRights rights;
    if (dm.dialect().sqlite() || !dm.connected())
        return rights;
    const QSqlDatabase db = dm.database();
    const QString write = QStringLiteral("INSERT, UPDATE, DELETE");
    {
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT current_user")) && q.next())
            rights.user = q.value(0).toString();
    }
    const QString measures = dm.measures().tableName();
    rights.readings = tableAllows(db, measures, QStringLiteral("INSERT"))
        && tableAllows(db, dm.devices().tableName(), QStringLiteral("INSERT, UPDATE"));
    rights.marks = tableAllows(db, measures, QStringLiteral("UPDATE"));
    rights.journal = tableAllows(db, dm.notes().tableName(), write);
    rights.cards = tableAllows(db, dm.cards().tableName(), write);
    rights.audit = tableAllows(db, QStringLiteral("Audit"), QStringLiteral("SELECT"));
    const bool owner =
        serverSays(db,
                   QStringLiteral("SELECT pg_has_role(current_user, c.relowner, 'MEMBER') FROM pg_class c "
                                  "WHERE c.relname = ? AND c.relnamespace = (SELECT n.oid FROM pg_namespace n "
                                  "WHERE n.nspname = current_schema())"),
                   {measures});
    const bool member = serverSays(
        db, QStringLiteral("SELECT pg_has_role(current_user, r.oid, 'MEMBER') FROM pg_roles r WHERE r.rolname = ?"),
        {serviceRole});
    rights.service = owner || member;
    return rights;
}

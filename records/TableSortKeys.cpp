// The sort-key columns of the SQLite files: the case-insensitive order of a
// text field kept as a plain value beside the text, so that the files carry
// no collation of the program's and any SQLite tool can write them.

#include "records/DataTable.h"

#include "core/Errors.h"
#include "records/SqlQuote.h"
#include "records/TableHost.h"

#include <QSet>
#include <QSqlQuery>

using RecordsSql::quoted;

bool DataTable::hasSortKey(const FieldDef &field) const
{
    return m_dm->dialect().sqlite() && field.type == FieldType::Text && fieldIndexed(m_tableName, field);
}

QString DataTable::keyExpression(const FieldDef &field, const QString &column) const
{
    const SqlDialect &d = m_dm->dialect();
    if (hasSortKey(field)) {
        const QString key = quoted(SqlDialect::sortKeyColumn(field.name));
        if (column == quoted(field.name))
            return key;
        if (column == d.unindexed(quoted(field.name)) || column == QStringLiteral("(%1)").arg(d.unindexed(quoted(field.name))))
            return d.unindexed(key);
    }
    return d.textKey(column);
}

namespace {

// The rows of which some key is missing: a text without its key.
QString staleCondition(const QList<FieldDef> &keyed)
{
    QStringList parts;
    for (const FieldDef &f : keyed)
        parts.append(QStringLiteral("(%1 IS NULL AND %2 IS NOT NULL)")
                         .arg(quoted(SqlDialect::sortKeyColumn(f.name)), quoted(f.name)));
    return parts.join(QStringLiteral(" OR "));
}

QString fillStatement(const QString &table, const QList<FieldDef> &keyed, const QString &hint)
{
    QStringList sets;
    for (const FieldDef &f : keyed) {
        const QString key = quoted(SqlDialect::sortKeyColumn(f.name));
        sets.append(QStringLiteral("%1 = coalesce(%1, ruvo_key(%2))").arg(key, quoted(f.name)));
    }
    return QStringLiteral("UPDATE %1%2 SET %3 WHERE %4")
        .arg(table, hint, sets.join(QStringLiteral(", ")), staleCondition(keyed));
}

} // namespace

QString DataTable::sortKeysIndexDefinition() const
{
    QList<FieldDef> keyed;
    for (const FieldDef &f : m_fields) {
        if (hasSortKey(f))
            keyed.append(f);
    }
    if (keyed.isEmpty())
        return QString();
    return QStringLiteral("CREATE INDEX %1 ON %2(%3) WHERE %4")
        .arg(quoted(sortKeysIndexName()), quoted(m_tableName), quoted(keyField()), staleCondition(keyed));
}

void DataTable::fillSortKeys() const
{
    QList<FieldDef> keyed;
    for (const FieldDef &f : m_fields) {
        if (hasSortKey(f))
            keyed.append(f);
    }
    if (keyed.isEmpty() || !m_active)
        return;
    // The partial index holds exactly the rows to fill: usually none, and
    // the look costs one step.
    const QString hint = m_dm->dialect().indexedBy(sortKeysIndexName());
    QSqlQuery probe(database());
    if (!probe.exec(QStringLiteral("SELECT 1 FROM %1%2 WHERE %3 LIMIT 1").arg(sqlName(), hint, staleCondition(keyed)))
        || !probe.next())
        return;
    probe.finish();
    QSqlQuery fill(database());
    if (!fill.exec(fillStatement(sqlName(), keyed, hint)))
        return;  // read-only or busy: the rows stay where they were
    // The order has changed under the counts and pages read so far.
    invalidateCount();
}

void DataTable::prepareSortKeys()
{
    if (!m_dm->dialect().sqlite())
        return;
    QList<FieldDef> keyed;
    for (const FieldDef &f : m_fields) {
        if (hasSortKey(f))
            keyed.append(f);
    }
    if (keyed.isEmpty())
        return;
    const QString schema = quoted(m_tableName);
    QSet<QString> columns;
    {
        QSqlQuery q = exec(m_dm->dialect().columnNamesQuery(m_tableName), {m_tableName});
        while (q.next())
            columns.insert(q.value(0).toString().toLower());
    }
    for (const FieldDef &f : std::as_const(keyed)) {
        const QString key = SqlDialect::sortKeyColumn(f.name);
        if (!columns.contains(key.toLower()))
            exec(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 BLOB").arg(sqlName(), quoted(key)));
    }
    exec(fillStatement(sqlName(), keyed, QString()));
    // The triggers as they should be, the texts read back without a schema.
    QHash<QString, QString> triggers;
    {
        QSqlQuery q = exec(QStringLiteral("SELECT name, sql FROM %1.sqlite_master WHERE type = 'trigger' AND tbl_name = ?")
                               .arg(schema),
                           {m_tableName});
        while (q.next())
            triggers.insert(q.value(0).toString(), q.value(1).toString());
    }
    for (const FieldDef &f : std::as_const(keyed)) {
        const QString name = SqlDialect::sortKeyColumn(f.name) + QStringLiteral("_clear");
        const QString sql = m_dm->dialect().sortKeyTrigger(m_tableName, f.name);
        if (triggers.value(name) == sql)
            continue;
        if (triggers.contains(name))
            exec(QStringLiteral("DROP TRIGGER %1.%2").arg(schema, quoted(name)));
        exec(QString(sql).replace(QStringLiteral("CREATE TRIGGER %1").arg(quoted(name)),
                                  QStringLiteral("CREATE TRIGGER %1.%2").arg(schema, quoted(name))));
    }
}

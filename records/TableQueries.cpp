// The table class: the SQL it builds (the filter's condition, the sort
// order and its index), the runner every statement goes through, and the
// set-based write of one field from another table.

#include "records/DataTable.h"

#include "core/Errors.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"
#include "records/TableHost.h"

#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>

using RecordsSql::quoted;

namespace {

// The server's statements with parameters are prepared once per connection
// and then executed by name: a prepare of its own for each execution would
// cost two more round trips (PREPARE and DEALLOCATE) every time. Each
// execution is still planned for its values (plan_cache_mode is set to
// force_custom_plan on the connection). The values are written as the
// driver writes them for its own EXECUTE.
class ServerStatements {
public:
    static QSqlQuery exec(const QSqlDatabase &db, const QString &sql, const QVariantList &params)
    {
        ServerStatements &statements = instance();
        const quintptr connection = connectionOf(db);
        QStringList values;
        for (const QVariant &p : params) {
            QSqlField f(QString(), p.metaType());
            if (isNull(p))
                f.clear();
            else
                f.setValue(p);
            values.append(db.driver()->formatValue(f));
        }
        for (int attempt = 0;; ++attempt) {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            const QString name = statements.nameOf(q, connection, sql);
            if (q.exec(QStringLiteral("EXECUTE %1 (%2)").arg(name, values.join(QStringLiteral(", ")))))
                return q;
            // Unknown by a newer connection that got the same handle: prepared anew.
            if (attempt > 0 || q.lastError().nativeErrorCode() != QLatin1String("26000"))
                throwStoreError(q.lastError());
            statements.forget(connection, sql);
        }
    }

    static quintptr connectionOf(const QSqlDatabase &db)
    {
        const QVariant handle = db.driver()->handle();
        return handle.isValid() ? *static_cast<const quintptr *>(handle.constData()) : 0;
    }

    static bool isNull(const QVariant &v)
    {
        if (!v.isValid() || v.isNull())
            return true;
        switch (v.metaType().id()) {
        case QMetaType::QString: return v.toString().isNull();
        case QMetaType::QByteArray: return v.toByteArray().isNull();
        case QMetaType::QDateTime: return v.toDateTime().isNull();
        case QMetaType::QDate: return v.toDate().isNull();
        case QMetaType::QTime: return v.toTime().isNull();
        default: return false;
        }
    }

    // "?" marks outside quotes become $1, $2, ...
    static QString numbered(const QString &sql)
    {
        QString out;
        out.reserve(sql.size() + 16);
        QChar quote;
        int n = 0;
        for (const QChar c : sql) {
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
                out += c;
            } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
                quote = c;
                out += c;
            } else if (c == QLatin1Char('?')) {
                out += QLatin1Char('$') + QString::number(++n);
            } else {
                out += c;
            }
        }
        return out;
    }

    QString nameOf(QSqlQuery &q, quintptr connection, const QString &sql)
    {
        QMutexLocker lock(&m_mutex);
        QString name = m_names.value(connection).value(sql);
        if (name.isEmpty()) {
            name = QStringLiteral("ruvo_s%1").arg(++m_counter);
            if (!q.exec(QStringLiteral("PREPARE %1 AS %2").arg(name, numbered(sql))))
                throwStoreError(q.lastError());
            m_names[connection].insert(sql, name);
        }
        return name;
    }

    static ServerStatements &instance()
    {
        static ServerStatements statements;
        return statements;
    }

    void forgetAll(quintptr connection)
    {
        QMutexLocker lock(&m_mutex);
        m_names.remove(connection);
    }

    void forget(quintptr connection, const QString &sql)
    {
        QMutexLocker lock(&m_mutex);
        m_names[connection].remove(sql);
    }

private:
    QMutex m_mutex;
    QHash<quintptr, QHash<QString, QString>> m_names;
    int m_counter = 0;
};

} // namespace

void forgetServerStatements(const QSqlDatabase &db)
{
    ServerStatements::instance().forgetAll(ServerStatements::connectionOf(db));
}

QSqlQuery DataTable::exec(const QString &sql, const QVariantList &params) const
{
    if (!m_dm->connected())
        throw EGeneralError(QStringLiteral("База данных RUVO не открыта"));
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (params.isEmpty() && !m_dm->dialect().sqlite()) {
        // The server prepares only queries and data changes, not the
        // statements that define tables and indexes.
        if (!q.exec(sql))
            throwStoreError(q.lastError());
        return q;
    }
    if (!m_dm->dialect().sqlite())
        return ServerStatements::exec(database(), sql, params);
    if (!q.prepare(sql))
        throwStoreError(q.lastError());
    for (const QVariant &p : params)
        q.addBindValue(p);
    if (!q.exec())
        throwStoreError(q.lastError());
    return q;
}

QString DataTable::orderIndexHint() const
{
    const SqlDialect &d = m_dm->dialect();
    if (m_sortField > 0)
        return d.indexedBy(d.indexName(m_tableName, m_fields[m_sortField].name));
    return d.notIndexed();  // the rows' own order by key
}

QSqlQuery DataTable::execHinted(const QString &sql, const QVariantList &params) const
{
    try {
        return exec(sql, params);
    } catch (const EGeneralError &) {
        // Without its index (a failed rebuild) the order still works, slowly.
        const QString hint = orderIndexHint();
        if (hint.isEmpty() || !sql.contains(hint))
            throw;
        return exec(QString(sql).replace(hint, QString()), params);
    }
}

QString DataTable::selectList() const
{
    QStringList cols;
    for (const FieldDef &f : m_fields)
        cols.append(quoted(f.name));
    return cols.join(QStringLiteral(", "));
}

bool DataTable::filterApplied() const
{
    return m_filtered && !m_compiled.sqlWhere.isEmpty();
}

QString DataTable::whereClause() const
{
    return filterApplied() ? m_compiled.sqlWhere : QString();
}

QVariantList DataTable::whereParams() const
{
    return filterApplied() ? m_compiled.params : QVariantList();
}

QString DataTable::whereWith(const QString &extra, bool viaKeys) const
{
    QStringList parts;
    if (filterApplied() && viaKeys) {
        // The keys the filter selects, found apart: SQLite reads them from the
        // filter's own index without visiting the rows, where it might
        // otherwise prefer to read the whole table.
        parts.append(QStringLiteral("%1 IN (SELECT %1 FROM %2 WHERE %3)")
                         .arg(quoted(keyField()), sqlName(), m_compiled.sqlWhere));
    } else if (filterApplied()) {
        parts.append(QLatin1Char('(') + m_compiled.sqlWhere + QLatin1Char(')'));
    }
    if (!extra.isEmpty())
        parts.append(QLatin1Char('(') + extra + QLatin1Char(')'));
    return parts.isEmpty() ? QString() : QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
}

QString DataTable::sortExpression(const QString &field) const
{
    const FieldDef &f = fieldDef(field);
    return f.type == FieldType::Text ? keyExpression(f, quoted(f.name)) : quoted(f.name);
}

QString DataTable::sortColumn() const
{
    return m_sortField > 0 ? sortExpression(m_fields[m_sortField].name) : QString();
}

QString DataTable::orderByClause(bool descending) const
{
    const QString dir = descending ? QStringLiteral(" DESC") : QString();
    const QString key = quoted(keyField()) + dir;
    if (m_sortField > 0) {
        if (hasSortKey(m_fields[m_sortField]))
            fillSortKeys();
        return QStringLiteral("ORDER BY ") + sortColumn() + dir + QStringLiteral(", ") + key;
    }
    return QStringLiteral("ORDER BY ") + key;
}

DataTable::OrderSql DataTable::orderSql() const
{
    // Two ways to read rows in order. Usually the order's index is walked and
    // the filter tested on the way (a page costs about a page). When the
    // filter lets through only a small share of the rows, walking the order
    // could pass over most of the table for one page; the rows the filter
    // selects (through its own indexes) are sorted instead, so the order's
    // columns are written so that no index matches them.
    const SqlDialect &d = m_dm->dialect();
    OrderSql o;
    o.param = QStringLiteral("?");
    o.subset = filterApplied() && shownFew();
    const QString key = quoted(keyField());
    o.key = o.subset ? d.unindexed(key) : key;
    if (m_sortField > 0) {
        const FieldDef &f = m_fields[m_sortField];
        o.col = o.subset ? d.unindexed(quoted(f.name)) : quoted(f.name);
        o.expr = f.type == FieldType::Text ? keyExpression(f, o.subset ? QStringLiteral("(%1)").arg(o.col) : o.col) : o.col;
        if (f.type == FieldType::Text) {
            o.param = d.textKeyOfParam();
            fillSortKeys();
        }
        o.asc = QStringLiteral("ORDER BY %1, %2").arg(o.expr, o.key);
        o.desc = QStringLiteral("ORDER BY %1 DESC, %2 DESC").arg(o.expr, o.key);
    } else {
        o.asc = QStringLiteral("ORDER BY ") + o.key;
        o.desc = QStringLiteral("ORDER BY ") + o.key + QStringLiteral(" DESC");
    }
    o.hint = o.subset ? QString() : orderIndexHint();
    return o;
}

void DataTable::setFieldFromTable(const QString &field, const QString &source)
{
    requireActive();
    const FieldDef &f = fieldDef(field);
    qint64 count = 0;
    {
        QSqlQuery q = exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(source));
        count = q.next() ? q.value(0).toLongLong() : 0;
    }
    if (count == 0)
        return;
    // All or nothing, also outside a transaction: an index is never left
    // dropped.
    exec(QStringLiteral("SAVEPOINT \"RuvoSetField\""));
    try {
        setFieldFromTable(f, source, count * 4 >= totalRows());
    } catch (...) {
        // (Gone already when SQLite rolled the whole transaction back.)
        QSqlQuery q(database());
        q.exec(QStringLiteral("ROLLBACK TO \"RuvoSetField\""));
        q.exec(QStringLiteral("RELEASE \"RuvoSetField\""));
        throw;
    }
    exec(QStringLiteral("RELEASE \"RuvoSetField\""));
}

void DataTable::setFieldFromTable(const FieldDef &f, const QString &source, bool many)
{
    const QString schema = quoted(m_tableName);
    // The plain indexes that hold the field (or its sort key), as they are
    // defined in the file.
    const QString keyColumn = hasSortKey(f) ? SqlDialect::sortKeyColumn(f.name) : QString();
    QList<QPair<QString, QString>> indexes;
    if (many) {
        QSqlQuery q = exec(QStringLiteral("SELECT name, sql FROM %1.sqlite_master WHERE type = 'index' AND tbl_name = ? "
                                          "AND sql IS NOT NULL")
                               .arg(schema),
                           {m_tableName});
        while (q.next()) {
            const QString name = q.value(0).toString();
            // Read back, a definition names the index without its schema.
            if (!q.value(1).toString().startsWith(QStringLiteral("CREATE INDEX ") + quoted(name) + QLatin1Char(' ')))
                continue;
            QSqlQuery columns = exec(QStringLiteral("PRAGMA %1.index_info(%2)").arg(schema, quoted(name)));
            bool holds = false;
            while (columns.next()) {
                const QString column = columns.value(2).toString();
                holds = holds || column.compare(f.name, Qt::CaseInsensitive) == 0
                    || (!keyColumn.isEmpty() && column.compare(keyColumn, Qt::CaseInsensitive) == 0);
            }
            if (holds)
                indexes.append({name, q.value(1).toString()});
        }
    }
    // Dropping an index drops its statistics; they are put back as they were.
    QList<QVariantList> stats;
    if (!indexes.isEmpty()) {
        QSqlQuery q = exec(QStringLiteral("SELECT COUNT(*) FROM %1.sqlite_master WHERE type = 'table' AND name = 'sqlite_stat1'")
                               .arg(schema));
        if (q.next() && q.value(0).toInt() > 0) {
            for (const auto &index : std::as_const(indexes)) {
                QSqlQuery row = exec(QStringLiteral("SELECT tbl, idx, stat FROM %1.sqlite_stat1 WHERE idx = ?").arg(schema),
                                     {index.first});
                while (row.next())
                    stats.append({row.value(0), row.value(1), row.value(2)});
            }
        }
    }
    // A statement still reading the table keeps SQLite from dropping its
    // indexes; those are then changed row by row.
    QList<QPair<QString, QString>> dropped;
    for (const auto &index : std::as_const(indexes)) {
        QSqlQuery q(database());
        if (q.exec(QStringLiteral("DROP INDEX %1.%2").arg(schema, quoted(index.first))))
            dropped.append(index);
    }
    // The source is read in key order and each row reached by its key
    // (NOT INDEXED keeps SQLite from walking the whole table along an index
    // instead).
    const QString keySet = keyColumn.isEmpty() ? QString()
                                               : QStringLiteral(", %1 = %2").arg(quoted(keyColumn),
                                                                                m_dm->dialect().textKey(QStringLiteral("s.\"Value\"")));
    exec(QStringLiteral("UPDATE %1 AS t NOT INDEXED SET %2 = s.\"Value\"%5 FROM %3 AS s WHERE t.%4 = s.\"Key\"")
             .arg(sqlName(), quoted(f.name), source, quoted(keyField()), keySet));
    // A text that changed only in letter case keeps its key, which the
    // trigger then clears: filled again here.
    if (!keyColumn.isEmpty())
        fillSortKeys();
    for (const auto &index : std::as_const(dropped)) {
        QString sql = index.second;
        sql.replace(0, QStringLiteral("CREATE INDEX ").size() + quoted(index.first).size(),
                    QStringLiteral("CREATE INDEX %1.%2").arg(schema, quoted(index.first)));
        exec(sql);
    }
    bool restored = false;
    for (const QVariantList &row : std::as_const(stats)) {
        for (const auto &index : std::as_const(dropped)) {
            if (row.at(1).toString() == index.first) {
                exec(QStringLiteral("INSERT INTO %1.sqlite_stat1 (tbl, idx, stat) VALUES (?, ?, ?)").arg(schema), row);
                restored = true;
            }
        }
    }
    if (restored) {
        // Makes SQLite read the statistics again.
        exec(QStringLiteral("ANALYZE %1.sqlite_master").arg(schema));
    }
}

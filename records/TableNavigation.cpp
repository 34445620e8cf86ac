// The table class: the current row, loaded by its key, and the navigation
// over the sort order and filter (first, last, next, prior, locate, findKey).

#include "records/DataTable.h"

#include "core/Errors.h"
#include "records/SqlQuote.h"
#include "records/TableHost.h"

#include <QSqlQuery>
#include <QSqlRecord>

using RecordsSql::quoted;

// ---------------------------------------------------------------- current row

void DataTable::setCurrent(const QVector<QVariant> &stored)
{
    m_stored = stored;
    for (int i = 0; i < m_fields.size(); ++i)
        m_values[i] = fromStorage(m_fields[i], stored.value(i));
    m_curKey = stored.value(0);
}

void DataTable::clearCurrent()
{
    m_curKey = QVariant();
    m_stored.fill(QVariant());
    m_values.fill(QVariant());
    m_eof = m_bof = true;
}

RowData DataTable::currentRowData() const
{
    RowData r;
    r.key = m_curKey;
    r.sortValue = m_sortField > 0 ? m_stored.value(m_sortField) : m_curKey;
    return r;
}

bool DataTable::moveTo(bool forward, bool fromBoundary)
{
    QVector<int> all(m_fields.size());
    for (int i = 0; i < all.size(); ++i)
        all[i] = i;
    RowData boundary;
    if (fromBoundary)
        boundary = currentRowData();
    const QVector<RowData> rows = fetchRows(all, forward, fromBoundary ? &boundary : nullptr, 1);
    if (rows.isEmpty())
        return false;
    setCurrent(rows.first().values);
    return true;
}

bool DataTable::loadKey(const QVariant &key, bool onlyShown)
{
    if (key.isNull())
        return false;
    const QString cond = quoted(keyField()) + QStringLiteral(" = ?");
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(selectList(), sqlName());
    QVariantList params;
    if (onlyShown) {
        sql += whereWith(cond);
        if (filterApplied())
            params = m_compiled.params;
    } else {
        sql += QStringLiteral(" WHERE ") + cond;
    }
    params.append(key);
    QSqlQuery q = exec(sql, params);
    if (!q.next())
        return false;
    QVector<QVariant> stored(m_fields.size());
    for (int i = 0; i < m_fields.size(); ++i)
        stored[i] = q.value(i);
    setCurrent(stored);
    return true;
}

void DataTable::checkBrowseMode()
{
    requireActive();
    if (m_state == TableState::Edit || m_state == TableState::Insert) {
        if (m_modified)
            post();
        else
            cancel();
    }
}

// ---------------------------------------------------------------- navigation

void DataTable::first()
{
    checkBrowseMode();
    if (moveTo(true, false)) {
        m_bof = true;
        m_eof = false;
    } else {
        clearCurrent();
    }
    notifyCurrent();
}

void DataTable::last()
{
    checkBrowseMode();
    if (moveTo(false, false)) {
        m_bof = false;
        m_eof = true;
    } else {
        clearCurrent();
    }
    notifyCurrent();
}

void DataTable::next()
{
    checkBrowseMode();
    if (m_curKey.isNull()) {
        m_eof = true;
        return;
    }
    if (moveTo(true, true)) {
        m_bof = false;
        m_eof = false;
        notifyCurrent();
    } else {
        m_eof = true;
    }
}

void DataTable::prior()
{
    checkBrowseMode();
    if (m_curKey.isNull()) {
        m_bof = true;
        return;
    }
    if (moveTo(false, true)) {
        m_bof = false;
        m_eof = false;
        notifyCurrent();
    } else {
        m_bof = true;
    }
}

bool DataTable::isEmpty() const
{
    requireActive();
    if (m_countCache >= 0)
        return m_countCache == 0;
    QSqlQuery q = exec(QStringLiteral("SELECT 1 FROM %1%2 LIMIT 1").arg(sqlName(), whereWith(QString())),
                       filterApplied() ? m_compiled.params : QVariantList());
    return !q.next();
}

int DataTable::recordCount() const
{
    requireActive();
    if (m_countCache < 0) {
        QSqlQuery q = exec(QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(sqlName(), whereWith(QString())),
                           filterApplied() ? m_compiled.params : QVariantList());
        m_countCache = q.next() ? q.value(0).toInt() : 0;
    }
    return m_countCache;
}

bool DataTable::shownFew() const
{
    // Counted only as far as the answer needs. The choice is between two
    // ways to the same rows, so on the server the planner's figure for the
    // table's rows does where the table has not been counted: counting a
    // million rows would cost more than either way.
    qint64 total = m_totalCache;
    if (total < 0 && !m_dm->dialect().sqlite()) {
        if (m_totalEstimate < 0) {
            QSqlQuery q = exec(QStringLiteral("SELECT reltuples::bigint FROM pg_class WHERE oid = to_regclass(?)"),
                               {sqlName()});
            m_totalEstimate = q.next() ? qMax<qint64>(0, q.value(0).toLongLong()) : 0;
        }
        total = m_totalEstimate;
    }
    if (total <= 0)
        total = totalRows();  // no figure (never analysed): counted
    const int limit = int((total + 49) / 50);
    return countUpTo(limit) < limit;
}

int DataTable::countUpTo(int limit) const
{
    requireActive();
    if (m_countCache >= 0)
        return qMin(m_countCache, limit);
    if (limit <= 0)
        return 0;
    if (m_countAtLeast >= limit)
        return limit;
    QVariantList params = filterApplied() ? m_compiled.params : QVariantList();
    params.append(limit);
    QSqlQuery q = exec(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM %1%2 LIMIT ?) AS \"n\"").arg(sqlName(), whereWith(QString())),
                       params);
    const int n = q.next() ? q.value(0).toInt() : 0;
    if (n < limit)
        m_countCache = n;
    else
        m_countAtLeast = qMax(m_countAtLeast, n);
    return n;
}

QPair<int, QVariant> DataTable::countAfterKey(const QVariant &after, int limit) const
{
    requireActive();
    const QString key = quoted(keyField());
    QVariantList params = filterApplied() ? m_compiled.params : QVariantList();
    if (!after.isNull())
        params.append(after);
    params.append(limit);
    // Walked along the key (the table's own order), the step costs about
    // limit rows wherever it lies.
    QSqlQuery q = exec(QStringLiteral("SELECT COUNT(*), MAX(\"k\") FROM (SELECT %1 AS \"k\" FROM %2%3%4 ORDER BY %1 LIMIT ?) AS \"n\"")
                           .arg(key, sqlName(), m_dm->dialect().notIndexed(),
                                whereWith(after.isNull() ? QString() : key + QStringLiteral(" > ?"))),
                       params);
    if (!q.next())
        return {0, QVariant()};
    return {q.value(0).toInt(), q.value(1)};
}

bool DataTable::locate(const QString &field, const QVariant &value, LocateOptions options)
{
    return locate(QStringList{field}, QVariantList{value}, options);
}

bool DataTable::locate(const QStringList &fields, const QVariantList &values, LocateOptions options)
{
    checkBrowseMode();
    if (fields.isEmpty() || fields.size() != values.size())
        throw EGeneralError(QStringLiteral("%1: неверные параметры поиска").arg(m_tableName));
    QStringList conds;
    QVariantList params;
    const bool ci = options.testFlag(LocateOption::CaseInsensitive);
    const bool partial = options.testFlag(LocateOption::PartialKey);
    for (int i = 0; i < fields.size(); ++i) {
        const FieldDef &f = fieldDef(fields[i]);
        const QString col = quoted(f.name);
        const QVariant stored = toStorage(f, values[i]);
        if (stored.isNull()) {
            conds.append(col + QStringLiteral(" IS NULL"));
        } else if (f.type == FieldType::Text) {
            const QString text = stored.toString();
            const SqlDialect &d = m_dm->dialect();
            const QString ciCol = keyExpression(f, col);
            fillSortKeys();
            if (partial) {
                // Every text beginning with the value, in any letter case, lies
                // in this range of the case-insensitive order (the range lets
                // the index narrow the search); the exact test decides.
                int n = 0;
                conds.append(d.prefixCondition(col, ciCol, ci, &n));
                if (n == 3)
                    params << text << text + QChar(0xFFFF) << text;
                else
                    params << text;
            } else if (ci) {
                conds.append(ciCol + QStringLiteral(" = ") + d.textKeyOfParam());
                params << text;
            } else {
                conds.append(QStringLiteral("%1 = %2 AND %3 = ?").arg(ciCol, d.textKeyOfParam(), col));
                params << text << text;
            }
        } else {
            conds.append(col + QStringLiteral(" = ?"));
            params << stored;
        }
    }
    const QString cond = conds.join(QStringLiteral(" AND "));
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(selectList(), sqlName());
    QVariantList all;
    if (options.testFlag(LocateOption::AllRows)) {
        sql += QStringLiteral(" WHERE ") + cond;
    } else {
        sql += whereWith(cond);
        if (filterApplied())
            all = m_compiled.params;
    }
    all += params;
    sql += QLatin1Char(' ') + orderByClause() + QStringLiteral(" LIMIT 1");
    QSqlQuery q = exec(sql, all);
    if (!q.next())
        return false;
    QVector<QVariant> stored(m_fields.size());
    for (int i = 0; i < m_fields.size(); ++i)
        stored[i] = q.value(i);
    setCurrent(stored);
    m_eof = m_bof = false;
    notifyCurrent();
    return true;
}

bool DataTable::findKey(const QVariant &key)
{
    checkBrowseMode();
    if (!loadKey(key, false))
        return false;
    m_eof = m_bof = false;
    notifyCurrent();
    return true;
}

// The table class: the rows shown, read in order for the grid model a page
// at a time, their count, the position of one of them, and the first and
// last value of a column.

#include "records/DataTable.h"

#include "core/Errors.h"
#include "records/SqlQuote.h"
#include "records/TableHost.h"

#include <QSqlError>
#include <QSqlQuery>

using RecordsSql::quoted;

qint64 DataTable::totalRows() const
{
    requireActive();
    if (m_totalCache < 0) {
        QSqlQuery q = exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(sqlName()));
        m_totalCache = q.next() ? q.value(0).toLongLong() : 0;
    }
    return m_totalCache;
}

QVector<RowData> DataTable::fetchRows(const QVector<int> &fields, bool forward, const RowData *boundary, int limit,
                                    int offset) const
{
    requireActive();
    QVector<RowData> rows;
    if (limit <= 0)
        return rows;
    const bool bySort = m_sortField > 0;
    QString cols = quoted(keyField());
    if (bySort)
        cols += QStringLiteral(", ") + quoted(m_fields[m_sortField].name);
    for (int f : fields)
        cols += QStringLiteral(", ") + quoted(m_fields.at(f).name);
    const int firstValue = bySort ? 2 : 1;
    const OrderSql o = orderSql();

    auto run = [&](const QString &cond, QVariantList params, int count, int skip) {
        // Going on from a row walks the order's index from that row; left to
        // itself SQLite may prefer an index of the filter and sort everything
        // the filter passes, once per page.
        const QString sql = QStringLiteral("SELECT %1 FROM %2%5%3 %4 LIMIT ? OFFSET ?")
                                .arg(cols, sqlName(), whereWith(cond, o.subset), forward ? o.asc : o.desc, o.hint);
        QVariantList all = filterApplied() ? m_compiled.params : QVariantList();
        all += params;
        all << count << skip;
        QSqlQuery q = execHinted(sql, all);
        while (q.next()) {
            RowData r;
            r.key = q.value(0);
            r.sortValue = bySort ? q.value(1) : r.key;
            r.values.reserve(fields.size());
            for (int i = 0; i < fields.size(); ++i)
                r.values.append(q.value(firstValue + i));
            rows.append(r);
        }
    };

    if (!boundary) {
        // On the server a walk past many rows that reads whole rows visits
        // the table for every row passed; the row before the position is
        // found first, reading the order's index alone where it can (its
        // key and the sort field), and the rows after it as after any row.
        constexpr int kFarOffset = 10000;
        if (offset >= kFarOffset && !m_dm->dialect().sqlite() && !o.subset) {
            const QString sql = QStringLiteral("SELECT %1 FROM %2%3 %4 LIMIT 1 OFFSET ?")
                                    .arg(bySort ? quoted(keyField()) + QStringLiteral(", ") + quoted(m_fields[m_sortField].name)
                                                : quoted(keyField()),
                                         sqlName(), whereWith(QString()), forward ? o.asc : o.desc);
            QVariantList params = filterApplied() ? m_compiled.params : QVariantList();
            params << offset - 1;
            QSqlQuery q = exec(sql, params);
            if (!q.next())
                return rows;
            RowData before;
            before.key = q.value(0);
            before.sortValue = bySort ? q.value(1) : before.key;
            return fetchRows(fields, forward, &before, limit);
        }
        run(QString(), {}, limit, qMax(0, offset));
        return rows;
    }
    if (!bySort) {
        run(o.key + (forward ? QStringLiteral(" > ?") : QStringLiteral(" < ?")), {boundary->key}, limit, 0);
        return rows;
    }
    // Blanks sort first: going forward from a blank the remaining blanks come
    // before every value; going back from a value the blanks come last.
    const QVariant &sv = boundary->sortValue;
    if (sv.isNull()) {
        run(o.col + QStringLiteral(" IS NULL AND ") + o.key
                + (forward ? QStringLiteral(" > ?") : QStringLiteral(" < ?")),
            {boundary->key}, limit, 0);
        if (forward && rows.size() < limit)
            run(o.col + QStringLiteral(" IS NOT NULL"), {}, limit - rows.size(), 0);
    } else {
        if (forward)
            run(QStringLiteral("%1 >= %3 AND (%1 > %3 OR %2 > ?)").arg(o.expr, o.key, o.param), {sv, sv, boundary->key}, limit,
                0);
        else
            run(QStringLiteral("%1 <= %3 AND (%1 < %3 OR %2 < ?)").arg(o.expr, o.key, o.param), {sv, sv, boundary->key}, limit,
                0);
        if (!forward && rows.size() < limit)
            run(o.col + QStringLiteral(" IS NULL"), {}, limit - rows.size(), 0);
    }
    return rows;
}

bool DataTable::keyShown(const QVariant &key) const
{
    requireActive();
    if (key.isNull())
        return false;
    QVariantList params = filterApplied() ? m_compiled.params : QVariantList();
    params.append(key);
    QSqlQuery q = exec(QStringLiteral("SELECT 1 FROM %1%2")
                           .arg(sqlName(), whereWith(quoted(keyField()) + QStringLiteral(" = ?"))),
                       params);
    return q.next();
}

int DataTable::positionOfKey(const QVariant &key) const
{
    requireActive();
    if (key.isNull() || !keyShown(key))
        return -1;
    const OrderSql o = orderSql();
    // Counting the rows on the shorter side: a row near the end (a record
    // just stored) costs as little as one near the start. A small filtered
    // set is simply counted.
    constexpr int kNearEnd = 4096;
    const int cap = o.subset ? 0 : kNearEnd;
    auto count = [&](const QString &cond, const QVariantList &params, int limit) {
        QVariantList all = filterApplied() ? m_compiled.params : QVariantList();
        all += params;
        QString sql = limit > 0 ? QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM %1%4%2 LIMIT %3) AS \"n\"")
                                      .arg(sqlName(), whereWith(cond))
                                      .arg(limit)
                                      .arg(o.hint)
                                : QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(sqlName(), whereWith(cond));
        QSqlQuery q = execHinted(sql, all);
        return q.next() ? q.value(0).toInt() : 0;
    };
    if (m_sortField <= 0) {
        if (cap > 0) {
            const int after = count(o.key + QStringLiteral(" > ?"), {key}, cap);
            if (after < cap)
                return recordCount() - 1 - after;
        }
        return count(o.key + QStringLiteral(" < ?"), {key}, 0);
    }
    QVariant sv;
    {
        QSqlQuery q = exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                               .arg(quoted(m_fields[m_sortField].name), sqlName(), quoted(keyField())),
                           {key});
        if (!q.next())
            return -1;
        sv = q.value(0);
    }
    if (sv.isNull())
        return count(o.col + QStringLiteral(" IS NULL AND ") + o.key + QStringLiteral(" < ?"), {key}, 0);
    if (cap > 0) {
        const int after =
            count(QStringLiteral("%1 >= %3 AND (%1 > %3 OR %2 > ?)").arg(o.expr, o.key, o.param), {sv, sv, key}, cap);
        if (after < cap)
            return recordCount() - 1 - after;
    }
    return count(o.col + QStringLiteral(" IS NULL"), {}, 0)
        + count(QStringLiteral("%1 <= %3 AND (%1 < %3 OR %2 < ?)").arg(o.expr, o.key, o.param), {sv, sv, key}, 0);
}

QPair<QVariant, QVariant> DataTable::firstAndLastValue(const QString &field) const
{
    requireActive();
    const FieldDef &f = fieldDef(field);
    if (f.type == FieldType::Text)
        fillSortKeys();
    // As for the grid's pages: walk the field's index, unless the filter
    // selects so few rows that sorting them is cheaper.
    const bool subset = filterApplied() && shownFew();
    const QVariantList filterParams = filterApplied() ? m_compiled.params : QVariantList();
    // Sorting the rows the filter selects (read once for both ends, their keys
    // through the filter's own index), the order written so that no index
    // matches it.
    auto sorted = [&]() {
        const QString order = f.type == FieldType::Text ? m_dm->dialect().textKey(QStringLiteral("\"v\"")) : QStringLiteral("\"v\"");
        QSqlQuery q = exec(QStringLiteral("WITH s AS MATERIALIZED (SELECT %1 AS \"v\", %2 AS \"k\" FROM %3%4) "
                                          "SELECT (SELECT \"v\" FROM s ORDER BY %5, \"k\" LIMIT 1), "
                                          "(SELECT \"v\" FROM s ORDER BY %5 DESC, \"k\" DESC LIMIT 1)")
                               .arg(quoted(f.name), quoted(keyField()), sqlName(), whereWith(QString(), true), order),
                           filterParams);
        if (!q.next())
            return qMakePair(QVariant(), QVariant());
        return qMakePair(fromStorage(f, q.value(0)), fromStorage(f, q.value(1)));
    };
    if (subset)
        return sorted();
    const QString expr = sortExpression(f.name);
    const QString key = quoted(keyField());
    const SqlDialect &d = m_dm->dialect();
    const QString hint = f.name != keyField() ? d.indexedBy(d.indexName(m_tableName, f.name)) : d.notIndexed();
    // The limit is bound rather than written: SQLite then walks the order's
    // index and stops at the first row the filter passes, instead of sorting
    // every row the filter passes.
    QVariantList params = filterParams;
    params.append(1);
    auto one = [&](const QString &dir) {
        const QString sql = QStringLiteral("SELECT %1 FROM %2%7%3 ORDER BY %4%5, %6%5 LIMIT ?")
                                .arg(quoted(f.name), sqlName(), whereWith(QString()), expr, dir, key, hint);
        QSqlQuery q;
        try {
            q = exec(sql, params);
        } catch (const EGeneralError &) {
            // The index is missing (a walk cut off below fails again at once).
            if (hint.isEmpty())
                throw;
            q = exec(QString(sql).replace(hint, QString()), params);
        }
        return q.next() ? fromStorage(f, q.value(0)) : QVariant();
    };
    if (!filterApplied())
        return {one(QString()), one(QStringLiteral(" DESC"))};
    // Where the rows the filter passes gather far along the order (the names
    // of the readings of one dosimeter), the walk would read most of the
    // table row by row to find the first of them. It is cut off after about
    // as much work as sorting a fiftieth of the table takes, and the
    // filter's rows are sorted instead.
    constexpr int kWalkSteps = 50000;
    QPair<QVariant, QVariant> ends;
    const bool walked = m_dm->withinSteps(kWalkSteps, [&] {
        ends.first = one(QString());
        ends.second = one(QStringLiteral(" DESC"));
    });
    return walked ? ends : sorted();
}

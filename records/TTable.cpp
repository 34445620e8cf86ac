#include "records/TTable.h"

#include "core/Errors.h"
#include "records/StoredDateTime.h"
#include "records/UDM.h"

#include <QDir>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>
#include <limits>

namespace {

QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString sqlType(const TFieldDef &f, bool first, bool autoKey)
{
    switch (f.type) {
    case TFieldType::AutoInc:
        return QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    case TFieldType::Integer:
        return first && !autoKey ? QStringLiteral("INTEGER PRIMARY KEY") : QStringLiteral("INTEGER");
    case TFieldType::Float:
        return QStringLiteral("REAL");
    case TFieldType::Boolean:
        return QStringLiteral("INTEGER");
    case TFieldType::DateTime:
    case TFieldType::Date:
    case TFieldType::Text:
        return QStringLiteral("TEXT");
    }
    return QStringLiteral("TEXT");
}

QDateTime parseDateTimeText(const QString &text)
{
    const QString t = text.trimmed();
    static const char *const formats[] = {"dd.MM.yyyy HH:mm:ss.zzz", "dd.MM.yyyy HH:mm:ss", "dd.MM.yyyy HH:mm",
                                          "dd.MM.yyyy", "d.M.yyyy H:mm:ss", "d.M.yyyy H:mm", "d.M.yyyy"};
    for (const char *f : formats) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
        if (dt.isValid())
            return dt;
    }
    return DateTimeFromStored(t);
}

bool inStoredRange(const QDateTime &dt)
{
    return dt.isValid() && dt.date().year() >= 1 && dt.date().year() <= 9999;
}

} // namespace

TTable::TTable(TDM *dm, const QString &tableName, const QString &fileName, const QList<TFieldDef> &fields,
               QObject *parent)
    : QObject(parent), m_dm(dm), m_tableName(tableName), m_fileName(fileName), m_fields(fields)
{
    m_values.resize(m_fields.size());
    m_stored.resize(m_fields.size());
    m_changed.resize(m_fields.size());
}

TTable::~TTable() = default;

// ---------------------------------------------------------------- identity

QString TTable::FilePath() const
{
    return m_dm->TablePath(m_fileName);
}

QString TTable::SqlName() const
{
    return quoted(m_tableName) + QLatin1Char('.') + quoted(m_tableName);
}

int TTable::FieldIndex(const QString &name) const
{
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int TTable::fieldIndexOrRaise(const QString &name) const
{
    const int i = FieldIndex(name);
    if (i < 0)
        throw EGeneralError(QStringLiteral("%1: поле '%2' не найдено").arg(m_tableName, name));
    return i;
}

const TFieldDef &TTable::FieldDef(const QString &name) const
{
    return m_fields[fieldIndexOrRaise(name)];
}

QList<FilterField> TTable::FilterFields() const
{
    QList<FilterField> list;
    for (const TFieldDef &f : m_fields)
        list.append(FilterField{f.name, f.type, f.label, f.size});
    return list;
}

QSqlDatabase TTable::Database() const
{
    return m_dm->Database();
}

QSqlQuery TTable::Exec(const QString &sql, const QVariantList &params) const
{
    if (!m_dm->Connected())
        throw EGeneralError(QStringLiteral("База данных RUVO не открыта"));
    QSqlQuery q(Database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw EGeneralError(q.lastError().text());
    for (const QVariant &p : params)
        q.addBindValue(p);
    if (!q.exec())
        throw EGeneralError(q.lastError().text());
    return q;
}

QString TTable::orderIndexHint() const
{
    if (m_sortField > 0)
        return QStringLiteral(" INDEXED BY ") + quoted(QStringLiteral("i") + m_fields[m_sortField].name);
    return QStringLiteral(" NOT INDEXED");  // the rows' own order by key
}

QSqlQuery TTable::execHinted(const QString &sql, const QVariantList &params) const
{
    try {
        return Exec(sql, params);
    } catch (const EGeneralError &) {
        // Without its index (a failed rebuild) the order still works, slowly.
        const QString hint = orderIndexHint();
        if (!sql.contains(hint))
            throw;
        return Exec(QString(sql).replace(hint, QString()), params);
    }
}

// ---------------------------------------------------------------- conversions

QVariant TTable::ToStorage(const TFieldDef &f, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    const bool isText = value.typeId() == QMetaType::QString;
    const QString text = isText ? value.toString() : QString();
    if (isText && f.type != TFieldType::Text && text.trimmed().isEmpty())
        return QVariant();
    bool ok = true;
    switch (f.type) {
    case TFieldType::AutoInc:
    case TFieldType::Integer: {
        qlonglong v = 0;
        if (isText) {
            v = text.trimmed().toLongLong(&ok);
        } else if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
            const double d = value.toDouble();
            ok = std::isfinite(d) && d == std::floor(d);
            v = ok ? static_cast<qlonglong>(d) : 0;
        } else {
            v = value.toLongLong(&ok);
        }
        if (!ok || v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
            throw EGeneralError(QStringLiteral("'%1' не является допустимым целым значением для поля %2")
                                    .arg(value.toString(), f.name));
        return QVariant(v);
    }
    case TFieldType::Float: {
        const double d = isText ? text.trimmed().toDouble(&ok) : value.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            throw EGeneralError(QStringLiteral("'%1' не является допустимым числом для поля %2")
                                    .arg(value.toString(), f.name));
        return QVariant(d);
    }
    case TFieldType::Boolean: {
        if (isText) {
            const QString t = text.trimmed().toLower();
            if (t == QLatin1String("true") || t == QLatin1String("1"))
                return QVariant(qlonglong(1));
            if (t == QLatin1String("false") || t == QLatin1String("0"))
                return QVariant(qlonglong(0));
            throw EGeneralError(QStringLiteral("'%1' не является логическим значением для поля %2").arg(text, f.name));
        }
        return QVariant(qlonglong(value.toBool() ? 1 : 0));
    }
    case TFieldType::DateTime: {
        QDateTime dt;
        if (value.typeId() == QMetaType::QDateTime)
            dt = value.toDateTime();
        else if (value.typeId() == QMetaType::QDate)
            dt = QDateTime(value.toDate(), QTime(0, 0));
        else if (isText)
            dt = parseDateTimeText(text);
        if (!inStoredRange(dt))
            throw EGeneralError(QStringLiteral("'%1' не является допустимой датой и временем для поля %2")
                                    .arg(value.toString(), f.name));
        return QVariant(DateTimeToStored(dt));
    }
    case TFieldType::Date: {
        QDate d;
        if (value.typeId() == QMetaType::QDate)
            d = value.toDate();
        else if (value.typeId() == QMetaType::QDateTime)
            d = value.toDateTime().date();
        else if (isText)
            d = parseDateTimeText(text).date();
        if (!d.isValid() || d.year() < 1 || d.year() > 9999)
            throw EGeneralError(QStringLiteral("'%1' не является допустимой датой для поля %2")
                                    .arg(value.toString(), f.name));
        return QVariant(DateToStored(d));
    }
    case TFieldType::Text: {
        const QString t = value.toString();
        return t.isEmpty() ? QVariant() : QVariant(t);
    }
    }
    return QVariant();
}

QVariant TTable::FromStorage(const TFieldDef &f, const QVariant &stored)
{
    if (!stored.isValid() || stored.isNull())
        return QVariant();
    switch (f.type) {
    case TFieldType::AutoInc:
    case TFieldType::Integer:
        return QVariant(static_cast<int>(stored.toLongLong()));
    case TFieldType::Float:
        return QVariant(stored.toDouble());
    case TFieldType::Boolean:
        return QVariant(stored.toLongLong() != 0);
    case TFieldType::DateTime: {
        const QDateTime dt = DateTimeFromStored(stored.toString());
        return dt.isValid() ? QVariant(dt) : QVariant();
    }
    case TFieldType::Date: {
        const QDate d = DateFromStored(stored.toString());
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case TFieldType::Text:
        return QVariant(stored.toString());
    }
    return QVariant();
}

QString TTable::PlainText(const TFieldDef &f, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    switch (f.type) {
    case TFieldType::AutoInc:
    case TFieldType::Integer:
        return QString::number(value.toLongLong());
    case TFieldType::Float:
        return QString::number(value.toDouble(), 'g', 15);
    case TFieldType::Boolean:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case TFieldType::DateTime: {
        const QDateTime dt = value.toDateTime();
        if (dt.time() == QTime(0, 0))
            return dt.toString(QStringLiteral("dd.MM.yyyy"));
        return dt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    }
    case TFieldType::Date:
        return value.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case TFieldType::Text:
        return value.toString();
    }
    return value.toString();
}

QString TTable::DisplayText(const TFieldDef &f, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    if (f.displayFormat.isEmpty())
        return PlainText(f, value);
    switch (f.type) {
    case TFieldType::DateTime:
        return value.toDateTime().toString(f.displayFormat);
    case TFieldType::Date:
        return value.toDate().toString(f.displayFormat);
    case TFieldType::Float: {
        const int dot = f.displayFormat.indexOf(QLatin1Char('.'));
        const int decimals = dot < 0 ? 0 : int(f.displayFormat.size() - dot - 1);
        return QString::number(value.toDouble(), 'f', decimals);
    }
    case TFieldType::Boolean: {
        const QStringList parts = f.displayFormat.split(QLatin1Char(';'));
        if (parts.size() >= 2)
            return value.toBool() ? parts[0] : parts[1];
        return PlainText(f, value);
    }
    default:
        return PlainText(f, value);
    }
}

// ---------------------------------------------------------------- open and close

void TTable::requireActive() const
{
    if (!m_active)
        throw EGeneralError(QStringLiteral("%1: таблица закрыта").arg(m_tableName));
}

bool TTable::TableExists() const
{
    if (!m_dm->IsAttached(m_tableName))
        return false;
    QSqlQuery q = Exec(QStringLiteral("SELECT 1 FROM %1.sqlite_master WHERE type = 'table' AND name = ?")
                           .arg(quoted(m_tableName)),
                       {m_tableName});
    return q.next();
}

void TTable::CreateTable()
{
    Close();
    m_dm->EnsureAttached(m_tableName, m_fileName);
    const bool autoKey = m_fields.first().type == TFieldType::AutoInc;
    QStringList columns;
    for (int i = 0; i < m_fields.size(); ++i)
        columns.append(quoted(m_fields[i].name) + QLatin1Char(' ') + sqlType(m_fields[i], i == 0, autoKey));
    const QString schema = quoted(m_tableName);
    TTransaction tx(*m_dm);
    // Remains of the table (with its indexes) go first.
    Exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(SqlName()));
    Exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(SqlName(), columns.join(QStringLiteral(", "))));
    Exec(QStringLiteral("PRAGMA %1.user_version = 1").arg(schema));
    tx.Commit();
    m_dm->UseWriteAheadLog(m_tableName);
}

void TTable::Open()
{
    if (m_active)
        return;
    m_dm->EnsureAttached(m_tableName, m_fileName);
    {
        QSqlQuery q = Exec(QStringLiteral("PRAGMA %1.table_info(%2)").arg(quoted(m_tableName), quoted(m_tableName)));
        QSet<QString> names;
        while (q.next())
            names.insert(q.value(1).toString().toLower());
        if (names.isEmpty())
            throw EGeneralError(QStringLiteral("Таблица %1 не найдена в файле %2").arg(m_tableName, FilePath()));
        for (const TFieldDef &f : m_fields) {
            if (!names.contains(f.name.toLower()))
                throw EGeneralError(QStringLiteral("В таблице %1 нет поля %2").arg(m_tableName, f.name));
        }
    }
    if (m_exclusive) {
        // The write lock of the file: another connection that reads or
        // writes it makes this fail (after the busy timeout).
        m_dm->StartTransaction();
        try {
            Exec(QStringLiteral("PRAGMA %1.user_version = 1").arg(quoted(m_tableName)));
        } catch (...) {
            m_dm->Rollback();
            throw;
        }
        m_holdsLock = true;
    }
    m_active = true;
    invalidateCount();
    m_totalCache = -1;
    setState(TTableState::Browse);
    moveTo(true, false);
    notifyReset();
}

void TTable::Close()
{
    if (!m_active)
        return;
    if (m_state == TTableState::Edit || m_state == TTableState::Insert)
        Cancel();
    m_active = false;
    clearCurrent();
    invalidateCount();
    setState(TTableState::Inactive);
    notifyReset();
    if (m_holdsLock) {
        m_holdsLock = false;
        try {
            m_dm->Commit();
        } catch (...) {
            m_dm->Rollback();
            throw;
        }
    }
}

void TTable::SetExclusive(bool exclusive)
{
    if (m_active)
        throw EGeneralError(QStringLiteral("%1: таблица открыта").arg(m_tableName));
    m_exclusive = exclusive;
}

void TTable::setState(TTableState state)
{
    if (m_state == state)
        return;
    m_state = state;
    if (!ControlsDisabled())
        emit StateChanged();
}

// ---------------------------------------------------------------- current row

void TTable::setCurrent(const QVector<QVariant> &stored)
{
    m_stored = stored;
    for (int i = 0; i < m_fields.size(); ++i)
        m_values[i] = FromStorage(m_fields[i], stored.value(i));
    m_curKey = stored.value(0);
}

void TTable::clearCurrent()
{
    m_curKey = QVariant();
    m_stored.fill(QVariant());
    m_values.fill(QVariant());
    m_eof = m_bof = true;
}

TRowData TTable::currentRowData() const
{
    TRowData r;
    r.key = m_curKey;
    r.sortValue = m_sortField > 0 ? m_stored.value(m_sortField) : m_curKey;
    return r;
}

QString TTable::selectList() const
{
    QStringList cols;
    for (const TFieldDef &f : m_fields)
        cols.append(quoted(f.name));
    return cols.join(QStringLiteral(", "));
}

bool TTable::filterApplied() const
{
    return m_filtered && !m_compiled.sqlWhere.isEmpty();
}

QString TTable::WhereClause() const
{
    return filterApplied() ? m_compiled.sqlWhere : QString();
}

QVariantList TTable::WhereParams() const
{
    return filterApplied() ? m_compiled.params : QVariantList();
}

QString TTable::whereWith(const QString &extra, bool viaKeys) const
{
    QStringList parts;
    if (filterApplied() && viaKeys) {
        // The keys the filter selects, found apart: SQLite reads them from the
        // filter's own index without visiting the rows, where it might
        // otherwise prefer to read the whole table.
        parts.append(QStringLiteral("%1 IN (SELECT %1 FROM %2 WHERE %3)")
                         .arg(quoted(KeyField()), SqlName(), m_compiled.sqlWhere));
    } else if (filterApplied()) {
        parts.append(QLatin1Char('(') + m_compiled.sqlWhere + QLatin1Char(')'));
    }
    if (!extra.isEmpty())
        parts.append(QLatin1Char('(') + extra + QLatin1Char(')'));
    return parts.isEmpty() ? QString() : QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
}

QString TTable::SortExpression(const QString &field) const
{
    const TFieldDef &f = FieldDef(field);
    return f.type == TFieldType::Text ? quoted(f.name) + QStringLiteral(" COLLATE RUNOCASE") : quoted(f.name);
}

QString TTable::sortColumn() const
{
    return m_sortField > 0 ? SortExpression(m_fields[m_sortField].name) : QString();
}

QString TTable::OrderByClause(bool descending) const
{
    const QString dir = descending ? QStringLiteral(" DESC") : QString();
    const QString key = quoted(KeyField()) + dir;
    if (m_sortField > 0)
        return QStringLiteral("ORDER BY ") + sortColumn() + dir + QStringLiteral(", ") + key;
    return QStringLiteral("ORDER BY ") + key;
}

TTable::OrderSql TTable::orderSql() const
{
    // Two ways to read rows in order. Usually the order's index is walked and
    // the filter tested on the way (a page costs about a page). When the
    // filter lets through only a small share of the rows, walking the order
    // could pass over most of the table for one page; the rows the filter
    // selects (through its own indexes) are sorted instead, so the order's
    // columns are written so that no index matches them.
    OrderSql o;
    o.subset = filterApplied() && qint64(RecordCount()) * 50 < qint64(TotalRows());
    const QString key = quoted(KeyField());
    o.key = o.subset ? QStringLiteral("+") + key : key;
    if (m_sortField > 0) {
        const TFieldDef &f = m_fields[m_sortField];
        o.col = o.subset ? QStringLiteral("+") + quoted(f.name) : quoted(f.name);
        o.expr = f.type == TFieldType::Text
                     ? (o.subset ? QStringLiteral("(%1)").arg(o.col) : o.col) + QStringLiteral(" COLLATE RUNOCASE")
                     : o.col;
        o.asc = QStringLiteral("ORDER BY %1, %2").arg(o.expr, o.key);
        o.desc = QStringLiteral("ORDER BY %1 DESC, %2 DESC").arg(o.expr, o.key);
    } else {
        o.asc = QStringLiteral("ORDER BY ") + o.key;
        o.desc = QStringLiteral("ORDER BY ") + o.key + QStringLiteral(" DESC");
    }
    o.hint = o.subset ? QString() : orderIndexHint();
    return o;
}

qint64 TTable::TotalRows() const
{
    requireActive();
    if (m_totalCache < 0) {
        QSqlQuery q = Exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(SqlName()));
        m_totalCache = q.next() ? q.value(0).toLongLong() : 0;
    }
    return m_totalCache;
}

QVector<TRowData> TTable::FetchRows(const QVector<int> &fields, bool forward, const TRowData *boundary, int limit,
                                    int offset) const
{
    requireActive();
    QVector<TRowData> rows;
    if (limit <= 0)
        return rows;
    const bool bySort = m_sortField > 0;
    QString cols = quoted(KeyField());
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
                                .arg(cols, SqlName(), whereWith(cond, o.subset), forward ? o.asc : o.desc, o.hint);
        QVariantList all = filterApplied() ? m_compiled.params : QVariantList();
        all += params;
        all << count << skip;
        QSqlQuery q = execHinted(sql, all);
        while (q.next()) {
            TRowData r;
            r.key = q.value(0);
            r.sortValue = bySort ? q.value(1) : r.key;
            r.values.reserve(fields.size());
            for (int i = 0; i < fields.size(); ++i)
                r.values.append(q.value(firstValue + i));
            rows.append(r);
        }
    };

    if (!boundary) {
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
            run(QStringLiteral("%1 >= ? AND (%1 > ? OR %2 > ?)").arg(o.expr, o.key), {sv, sv, boundary->key}, limit,
                0);
        else
            run(QStringLiteral("%1 <= ? AND (%1 < ? OR %2 < ?)").arg(o.expr, o.key), {sv, sv, boundary->key}, limit,
                0);
        if (!forward && rows.size() < limit)
            run(o.col + QStringLiteral(" IS NULL"), {}, limit - rows.size(), 0);
    }
    return rows;
}

bool TTable::moveTo(bool forward, bool fromBoundary)
{
    QVector<int> all(m_fields.size());
    for (int i = 0; i < all.size(); ++i)
        all[i] = i;
    TRowData boundary;
    if (fromBoundary)
        boundary = currentRowData();
    const QVector<TRowData> rows = FetchRows(all, forward, fromBoundary ? &boundary : nullptr, 1);
    if (rows.isEmpty())
        return false;
    setCurrent(rows.first().values);
    return true;
}

bool TTable::loadKey(const QVariant &key, bool onlyShown)
{
    if (key.isNull())
        return false;
    const QString cond = quoted(KeyField()) + QStringLiteral(" = ?");
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(selectList(), SqlName());
    QVariantList params;
    if (onlyShown) {
        sql += whereWith(cond);
        if (filterApplied())
            params = m_compiled.params;
    } else {
        sql += QStringLiteral(" WHERE ") + cond;
    }
    params.append(key);
    QSqlQuery q = Exec(sql, params);
    if (!q.next())
        return false;
    QVector<QVariant> stored(m_fields.size());
    for (int i = 0; i < m_fields.size(); ++i)
        stored[i] = q.value(i);
    setCurrent(stored);
    return true;
}

void TTable::checkBrowseMode()
{
    requireActive();
    if (m_state == TTableState::Edit || m_state == TTableState::Insert) {
        if (m_modified)
            Post();
        else
            Cancel();
    }
}

// ---------------------------------------------------------------- navigation

void TTable::First()
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

void TTable::Last()
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

void TTable::Next()
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

void TTable::Prior()
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

bool TTable::IsEmpty() const
{
    requireActive();
    if (m_countCache >= 0)
        return m_countCache == 0;
    QSqlQuery q = Exec(QStringLiteral("SELECT 1 FROM %1%2 LIMIT 1").arg(SqlName(), whereWith(QString())),
                       filterApplied() ? m_compiled.params : QVariantList());
    return !q.next();
}

int TTable::RecordCount() const
{
    requireActive();
    if (m_countCache < 0) {
        QSqlQuery q = Exec(QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(SqlName(), whereWith(QString())),
                           filterApplied() ? m_compiled.params : QVariantList());
        m_countCache = q.next() ? q.value(0).toInt() : 0;
    }
    return m_countCache;
}

bool TTable::Locate(const QString &field, const QVariant &value, TLocateOptions options)
{
    return Locate(QStringList{field}, QVariantList{value}, options);
}

bool TTable::Locate(const QStringList &fields, const QVariantList &values, TLocateOptions options)
{
    checkBrowseMode();
    if (fields.isEmpty() || fields.size() != values.size())
        throw EGeneralError(QStringLiteral("%1: неверные параметры поиска").arg(m_tableName));
    QStringList conds;
    QVariantList params;
    const bool ci = options & loCaseInsensitive;
    const bool partial = options & loPartialKey;
    for (int i = 0; i < fields.size(); ++i) {
        const TFieldDef &f = FieldDef(fields[i]);
        const QString col = quoted(f.name);
        const QVariant stored = ToStorage(f, values[i]);
        if (stored.isNull()) {
            conds.append(col + QStringLiteral(" IS NULL"));
        } else if (f.type == TFieldType::Text) {
            const QString text = stored.toString();
            const QString ciCol = col + QStringLiteral(" COLLATE RUNOCASE");
            if (partial) {
                // Every text beginning with the value, in any letter case, lies
                // in this range of the case-insensitive order (the range lets
                // the index narrow the search); the function decides.
                conds.append(QStringLiteral("%1 >= ? AND %1 < ? AND ruvo_prefix(%2, ?, %3)")
                                 .arg(ciCol, col, ci ? QStringLiteral("1") : QStringLiteral("0")));
                params << text << text + QChar(0xFFFF) << text;
            } else if (ci) {
                conds.append(ciCol + QStringLiteral(" = ?"));
                params << text;
            } else {
                conds.append(QStringLiteral("%1 = ? AND %2 = ?").arg(ciCol, col));
                params << text << text;
            }
        } else {
            conds.append(col + QStringLiteral(" = ?"));
            params << stored;
        }
    }
    const QString cond = conds.join(QStringLiteral(" AND "));
    QString sql = QStringLiteral("SELECT %1 FROM %2").arg(selectList(), SqlName());
    QVariantList all;
    if (options & loAllRows) {
        sql += QStringLiteral(" WHERE ") + cond;
    } else {
        sql += whereWith(cond);
        if (filterApplied())
            all = m_compiled.params;
    }
    all += params;
    sql += QLatin1Char(' ') + OrderByClause() + QStringLiteral(" LIMIT 1");
    QSqlQuery q = Exec(sql, all);
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

bool TTable::FindKey(const QVariant &key)
{
    checkBrowseMode();
    if (!loadKey(key, false))
        return false;
    m_eof = m_bof = false;
    notifyCurrent();
    return true;
}

// ---------------------------------------------------------------- editing

void TTable::Append()
{
    checkBrowseMode();
    m_savedKey = m_curKey;
    m_savedEof = m_eof;
    m_savedBof = m_bof;
    m_savedValues = m_values;
    m_values.fill(QVariant());
    m_changed.fill(false);
    m_modified = false;
    setState(TTableState::Insert);
    notifyCurrent();
}

void TTable::Edit()
{
    requireActive();
    if (m_state == TTableState::Edit || m_state == TTableState::Insert)
        return;
    if (m_curKey.isNull())
        throw EGeneralError(QStringLiteral("%1: нет текущей записи").arg(m_tableName));
    m_savedValues = m_values;
    m_changed.fill(false);
    m_modified = false;
    setState(TTableState::Edit);
}

void TTable::SetFieldValue(const QString &field, const QVariant &value)
{
    requireActive();
    const int i = fieldIndexOrRaise(field);
    const TFieldDef &f = m_fields[i];
    if (m_state != TTableState::Edit && m_state != TTableState::Insert)
        throw EGeneralError(QStringLiteral("%1: таблица не в режиме редактирования").arg(m_tableName));
    if (f.type == TFieldType::AutoInc)
        throw EGeneralError(QStringLiteral("%1: поле %2 нельзя изменить").arg(m_tableName, f.name));
    QVariant v = value;
    if (f.type == TFieldType::Text && v.isValid() && !v.isNull()) {
        QString text = v.toString();
        if (f.size > 0 && text.size() > f.size)
            text.truncate(f.size);  // a longer text is cut to the field size
        v = text;
    }
    // Checked and normalised now, so that a bad value fails where it is set.
    m_values[i] = FromStorage(f, ToStorage(f, v));
    m_changed[i] = true;
    m_modified = true;
}

QVariant TTable::FieldValue(const QString &field) const
{
    requireActive();
    return m_values[fieldIndexOrRaise(field)];
}

bool TTable::IsNull(const QString &field) const
{
    const QVariant v = FieldValue(field);
    return !v.isValid() || v.isNull();
}

QString TTable::AsString(const QString &field) const
{
    const int i = fieldIndexOrRaise(field);
    return PlainText(m_fields[i], FieldValue(field));
}

int TTable::AsInteger(const QString &field) const
{
    const QVariant v = FieldValue(field);
    return v.isNull() ? 0 : v.toInt();
}

double TTable::AsFloat(const QString &field) const
{
    const QVariant v = FieldValue(field);
    return v.isNull() ? 0.0 : v.toDouble();
}

QDateTime TTable::AsDateTime(const QString &field) const
{
    const QVariant v = FieldValue(field);
    if (v.isNull())
        return QDateTime();
    if (v.typeId() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0));
    return v.toDateTime();
}

bool TTable::AsBoolean(const QString &field) const
{
    const QVariant v = FieldValue(field);
    return !v.isNull() && v.toBool();
}

QString TTable::DisplayText(const QString &field) const
{
    const int i = fieldIndexOrRaise(field);
    return DisplayText(m_fields[i], FieldValue(field));
}

bool TTable::KeyShown(const QVariant &key) const
{
    requireActive();
    if (key.isNull())
        return false;
    QVariantList params = filterApplied() ? m_compiled.params : QVariantList();
    params.append(key);
    QSqlQuery q = Exec(QStringLiteral("SELECT 1 FROM %1%2")
                           .arg(SqlName(), whereWith(quoted(KeyField()) + QStringLiteral(" = ?"))),
                       params);
    return q.next();
}

void TTable::Post()
{
    requireActive();
    if (m_state == TTableState::Insert) {
        const bool autoKey = m_fields.first().type == TFieldType::AutoInc;
        QStringList cols;
        QStringList marks;
        QVariantList params;
        for (int i = autoKey ? 1 : 0; i < m_fields.size(); ++i) {
            const QVariant stored = ToStorage(m_fields[i], m_values[i]);
            if (stored.isNull())
                continue;
            cols.append(quoted(m_fields[i].name));
            marks.append(QStringLiteral("?"));
            params.append(stored);
        }
        if (!autoKey && m_values[0].isNull())
            throw EGeneralError(QStringLiteral("%1: не задано значение ключевого поля %2").arg(m_tableName, KeyField()));
        QVariant key;
        {
            const QString sql = cols.isEmpty()
                                    ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(SqlName())
                                    : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                          .arg(SqlName(), cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
            QSqlQuery q = Exec(sql, params);
            key = autoKey ? QVariant(q.lastInsertId().toLongLong()) : ToStorage(m_fields[0], m_values[0]);
        }
        const bool shown = KeyShown(key);
        loadKey(key, false);
        m_eof = m_bof = false;
        m_modified = false;
        if (m_countCache >= 0 && shown)
            ++m_countCache;
        if (m_totalCache >= 0)
            ++m_totalCache;
        setState(TTableState::Browse);
        if (!ControlsDisabled())
            emit RowInserted(key, shown);
        else
            m_pendingReset = true;
        notifyCurrent();
        m_dm->NotifyPeers(this);
        return;
    }
    if (m_state == TTableState::Edit) {
        const QVariant oldKey = m_curKey;
        QStringList sets;
        QVariantList params;
        for (int i = 0; i < m_fields.size(); ++i) {
            if (!m_changed[i])
                continue;
            sets.append(quoted(m_fields[i].name) + QStringLiteral(" = ?"));
            params.append(ToStorage(m_fields[i], m_values[i]));
        }
        if (sets.isEmpty()) {
            m_modified = false;
            setState(TTableState::Browse);
            return;
        }
        if (m_changed[0] && m_values[0].isNull())
            throw EGeneralError(QStringLiteral("%1: не задано значение ключевого поля %2").arg(m_tableName, KeyField()));
        const bool wasShown = KeyShown(oldKey);
        params.append(oldKey);
        Exec(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                 .arg(SqlName(), sets.join(QStringLiteral(", ")), quoted(KeyField())),
             params);
        const QVariant newKey = m_changed[0] ? ToStorage(m_fields[0], m_values[0]) : oldKey;
        const bool nowShown = KeyShown(newKey);
        loadKey(newKey, false);
        m_modified = false;
        if (m_countCache >= 0)
            m_countCache += int(nowShown) - int(wasShown);
        setState(TTableState::Browse);
        if (!ControlsDisabled())
            emit RowUpdated(newKey, int(nowShown) - int(wasShown));
        else
            m_pendingReset = true;
        notifyCurrent();
        m_dm->NotifyPeers(this);
        return;
    }
    throw EGeneralError(QStringLiteral("%1: таблица не в режиме редактирования").arg(m_tableName));
}

void TTable::Cancel()
{
    requireActive();
    if (m_state == TTableState::Insert) {
        const QVariant key = m_savedKey;
        setState(TTableState::Browse);
        m_modified = false;
        if (key.isNull() || !loadKey(key, false)) {
            if (!key.isNull())
                moveTo(true, false);
            else
                clearCurrent();
        } else {
            m_eof = m_savedEof;
            m_bof = m_savedBof;
        }
        notifyCurrent();
        return;
    }
    if (m_state == TTableState::Edit) {
        m_values = m_savedValues;
        m_modified = false;
        setState(TTableState::Browse);
        notifyCurrent();
    }
}

void TTable::Delete()
{
    requireActive();
    if (m_state == TTableState::Insert) {
        Cancel();
        return;
    }
    if (m_state == TTableState::Edit)
        Cancel();
    if (m_curKey.isNull())
        throw EGeneralError(QStringLiteral("%1: нет текущей записи").arg(m_tableName));
    const QVariant key = m_curKey;
    const TRowData boundary = currentRowData();
    const bool wasShown = KeyShown(key);
    Exec(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(SqlName(), quoted(KeyField())), {key});
    if (m_countCache >= 0 && wasShown)
        --m_countCache;
    if (m_totalCache >= 0)
        --m_totalCache;
    QVector<int> all(m_fields.size());
    for (int i = 0; i < all.size(); ++i)
        all[i] = i;
    QVector<TRowData> rows = FetchRows(all, true, &boundary, 1);
    if (!rows.isEmpty()) {
        setCurrent(rows.first().values);
        m_eof = m_bof = false;
    } else {
        rows = FetchRows(all, false, &boundary, 1);
        if (!rows.isEmpty()) {
            setCurrent(rows.first().values);
            m_bof = false;
            m_eof = true;
        } else {
            clearCurrent();
        }
    }
    if (!ControlsDisabled())
        emit RowDeleted(key, wasShown);
    else
        m_pendingReset = true;
    notifyCurrent();
    m_dm->NotifyPeers(this);
}

// ---------------------------------------------------------------- order and filter

void TTable::SetIndexFieldNames(const QString &field)
{
    int index = -1;
    if (!field.trimmed().isEmpty()) {
        index = FieldIndex(field.trimmed());
        if (index < 0)
            throw EGeneralError(QStringLiteral("%1: нет индекса для поля '%2'").arg(m_tableName, field));
    }
    if (index == 0)
        index = -1;  // the primary key's own order
    if (index == m_sortField)
        return;
    if (m_active)
        checkBrowseMode();
    m_sortField = index;
    if (m_active) {
        // The current row stays current; its place in the new order is known
        // from its values.
        notifyReset();
        notifyCurrent();
    }
}

QString TTable::IndexFieldNames() const
{
    return m_sortField > 0 ? m_fields[m_sortField].name : QString();
}

void TTable::SetFilter(const QString &text)
{
    if (m_active)
        checkBrowseMode();
    const CompiledFilter compiled = CompileFilter(text, FilterFields());  // raises: the old filter stays
    m_filterText = text;
    m_compiled = compiled;
    invalidateCount();
    if (m_active && m_filtered) {
        First();
        notifyReset();
    }
}

void TTable::SetFiltered(bool filtered)
{
    if (m_active)
        checkBrowseMode();
    if (m_filtered == filtered)
        return;
    m_filtered = filtered;
    invalidateCount();
    if (m_active) {
        First();
        notifyReset();
    }
}

// ---------------------------------------------------------------- bookmarks

bool TTable::BookmarkValid(const QVariant &bookmark) const
{
    return m_active && !bookmark.isNull() && KeyShown(bookmark);
}

bool TTable::GotoBookmark(const QVariant &bookmark)
{
    checkBrowseMode();
    if (!loadKey(bookmark, true))
        return false;
    m_eof = m_bof = false;
    notifyCurrent();
    return true;
}

void TTable::Refresh()
{
    checkBrowseMode();
    invalidateCount();
    m_totalCache = -1;
    if (m_curKey.isNull() || !loadKey(m_curKey, false)) {
        if (moveTo(true, false)) {
            m_bof = true;
            m_eof = false;
        } else {
            clearCurrent();
        }
    }
    notifyReset();
    notifyCurrent();
}

int TTable::PositionOfKey(const QVariant &key) const
{
    requireActive();
    if (key.isNull() || !KeyShown(key))
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
        QString sql = limit > 0 ? QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM %1%4%2 LIMIT %3)")
                                      .arg(SqlName(), whereWith(cond))
                                      .arg(limit)
                                      .arg(o.hint)
                                : QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(SqlName(), whereWith(cond));
        QSqlQuery q = execHinted(sql, all);
        return q.next() ? q.value(0).toInt() : 0;
    };
    if (m_sortField <= 0) {
        if (cap > 0) {
            const int after = count(o.key + QStringLiteral(" > ?"), {key}, cap);
            if (after < cap)
                return RecordCount() - 1 - after;
        }
        return count(o.key + QStringLiteral(" < ?"), {key}, 0);
    }
    QVariant sv;
    {
        QSqlQuery q = Exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                               .arg(quoted(m_fields[m_sortField].name), SqlName(), quoted(KeyField())),
                           {key});
        if (!q.next())
            return -1;
        sv = q.value(0);
    }
    if (sv.isNull())
        return count(o.col + QStringLiteral(" IS NULL AND ") + o.key + QStringLiteral(" < ?"), {key}, 0);
    if (cap > 0) {
        const int after =
            count(QStringLiteral("%1 >= ? AND (%1 > ? OR %2 > ?)").arg(o.expr, o.key), {sv, sv, key}, cap);
        if (after < cap)
            return RecordCount() - 1 - after;
    }
    return count(o.col + QStringLiteral(" IS NULL"), {}, 0)
        + count(QStringLiteral("%1 <= ? AND (%1 < ? OR %2 < ?)").arg(o.expr, o.key), {sv, sv, key}, 0);
}

void TTable::SetFieldFromTable(const QString &field, const QString &source)
{
    requireActive();
    const TFieldDef &f = FieldDef(field);
    qint64 count = 0;
    {
        QSqlQuery q = Exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(source));
        count = q.next() ? q.value(0).toLongLong() : 0;
    }
    if (count == 0)
        return;
    // All or nothing, also outside a transaction: an index is never left
    // dropped.
    Exec(QStringLiteral("SAVEPOINT \"RuvoSetField\""));
    try {
        setFieldFromTable(f, source, count * 4 >= TotalRows());
    } catch (...) {
        // (Gone already when SQLite rolled the whole transaction back.)
        QSqlQuery q(Database());
        q.exec(QStringLiteral("ROLLBACK TO \"RuvoSetField\""));
        q.exec(QStringLiteral("RELEASE \"RuvoSetField\""));
        throw;
    }
    Exec(QStringLiteral("RELEASE \"RuvoSetField\""));
}

void TTable::setFieldFromTable(const TFieldDef &f, const QString &source, bool many)
{
    const QString schema = quoted(m_tableName);
    // The plain indexes that hold the field, as they are defined in the file.
    QList<QPair<QString, QString>> indexes;
    if (many) {
        QSqlQuery q = Exec(QStringLiteral("SELECT name, sql FROM %1.sqlite_master WHERE type = 'index' AND tbl_name = ? "
                                          "AND sql IS NOT NULL")
                               .arg(schema),
                           {m_tableName});
        while (q.next()) {
            const QString name = q.value(0).toString();
            // Read back, a definition names the index without its schema.
            if (!q.value(1).toString().startsWith(QStringLiteral("CREATE INDEX ") + quoted(name) + QLatin1Char(' ')))
                continue;
            QSqlQuery columns = Exec(QStringLiteral("PRAGMA %1.index_info(%2)").arg(schema, quoted(name)));
            bool holds = false;
            while (columns.next())
                holds = holds || columns.value(2).toString().compare(f.name, Qt::CaseInsensitive) == 0;
            if (holds)
                indexes.append({name, q.value(1).toString()});
        }
    }
    // Dropping an index drops its statistics; they are put back as they were.
    QList<QVariantList> stats;
    if (!indexes.isEmpty()) {
        QSqlQuery q = Exec(QStringLiteral("SELECT COUNT(*) FROM %1.sqlite_master WHERE type = 'table' AND name = 'sqlite_stat1'")
                               .arg(schema));
        if (q.next() && q.value(0).toInt() > 0) {
            for (const auto &index : std::as_const(indexes)) {
                QSqlQuery row = Exec(QStringLiteral("SELECT tbl, idx, stat FROM %1.sqlite_stat1 WHERE idx = ?").arg(schema),
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
        QSqlQuery q(Database());
        if (q.exec(QStringLiteral("DROP INDEX %1.%2").arg(schema, quoted(index.first))))
            dropped.append(index);
    }
    // The source is read in key order and each row reached by its key
    // (NOT INDEXED keeps SQLite from walking the whole table along an index
    // instead).
    Exec(QStringLiteral("UPDATE %1 AS t NOT INDEXED SET %2 = s.\"Value\" FROM %3 AS s WHERE t.%4 = s.\"Key\"")
             .arg(SqlName(), quoted(f.name), source, quoted(KeyField())));
    for (const auto &index : std::as_const(dropped)) {
        QString sql = index.second;
        sql.replace(0, QStringLiteral("CREATE INDEX ").size() + quoted(index.first).size(),
                    QStringLiteral("CREATE INDEX %1.%2").arg(schema, quoted(index.first)));
        Exec(sql);
    }
    bool restored = false;
    for (const QVariantList &row : std::as_const(stats)) {
        for (const auto &index : std::as_const(dropped)) {
            if (row.at(1).toString() == index.first) {
                Exec(QStringLiteral("INSERT INTO %1.sqlite_stat1 (tbl, idx, stat) VALUES (?, ?, ?)").arg(schema), row);
                restored = true;
            }
        }
    }
    if (restored) {
        // Makes SQLite read the statistics again.
        Exec(QStringLiteral("ANALYZE %1.sqlite_master").arg(schema));
    }
}

QPair<QVariant, QVariant> TTable::FirstAndLastValue(const QString &field) const
{
    requireActive();
    const TFieldDef &f = FieldDef(field);
    // As for the grid's pages: walk the field's index, unless the filter
    // selects so few rows that sorting them is cheaper.
    const bool subset = filterApplied() && qint64(RecordCount()) * 50 < qint64(TotalRows());
    const QVariantList filterParams = filterApplied() ? m_compiled.params : QVariantList();
    // Sorting the rows the filter selects (read once for both ends, their keys
    // through the filter's own index), the order written so that no index
    // matches it.
    auto sorted = [&]() {
        const QString order = f.type == TFieldType::Text ? QStringLiteral("\"v\" COLLATE RUNOCASE") : QStringLiteral("\"v\"");
        QSqlQuery q = Exec(QStringLiteral("WITH s AS MATERIALIZED (SELECT %1 AS \"v\", %2 AS \"k\" FROM %3%4) "
                                          "SELECT (SELECT \"v\" FROM s ORDER BY %5, \"k\" LIMIT 1), "
                                          "(SELECT \"v\" FROM s ORDER BY %5 DESC, \"k\" DESC LIMIT 1)")
                               .arg(quoted(f.name), quoted(KeyField()), SqlName(), whereWith(QString(), true), order),
                           filterParams);
        if (!q.next())
            return qMakePair(QVariant(), QVariant());
        return qMakePair(FromStorage(f, q.value(0)), FromStorage(f, q.value(1)));
    };
    if (subset)
        return sorted();
    const QString expr = SortExpression(f.name);
    const QString key = quoted(KeyField());
    const QString hint = f.name != KeyField() ? QStringLiteral(" INDEXED BY ") + quoted(QStringLiteral("i") + f.name)
                                              : QStringLiteral(" NOT INDEXED");
    // The limit is bound rather than written: SQLite then walks the order's
    // index and stops at the first row the filter passes, instead of sorting
    // every row the filter passes.
    QVariantList params = filterParams;
    params.append(1);
    auto one = [&](const QString &dir) {
        const QString sql = QStringLiteral("SELECT %1 FROM %2%7%3 ORDER BY %4%5, %6%5 LIMIT ?")
                                .arg(quoted(f.name), SqlName(), whereWith(QString()), expr, dir, key, hint);
        QSqlQuery q;
        try {
            q = Exec(sql, params);
        } catch (const EGeneralError &) {
            // The index is missing (a walk cut off below fails again at once).
            q = Exec(QString(sql).replace(hint, QString()), params);
        }
        return q.next() ? FromStorage(f, q.value(0)) : QVariant();
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
    const bool walked = m_dm->WithinSteps(kWalkSteps, [&] {
        ends.first = one(QString());
        ends.second = one(QStringLiteral(" DESC"));
    });
    return walked ? ends : sorted();
}

// ---------------------------------------------------------------- notification

void TTable::DisableControls()
{
    ++m_disableCount;
}

void TTable::EnableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount > 0)
        return;
    const bool reset = m_pendingReset;
    const bool current = m_pendingCurrent;
    m_pendingReset = m_pendingCurrent = false;
    if (reset)
        emit DataSetReset();
    if (reset || current)
        emit CurrentChanged();
    emit StateChanged();
}

void TTable::notifyReset()
{
    if (ControlsDisabled()) {
        m_pendingReset = true;
        return;
    }
    emit DataSetReset();
}

void TTable::notifyCurrent()
{
    if (ControlsDisabled()) {
        m_pendingCurrent = true;
        return;
    }
    emit CurrentChanged();
}

void TTable::peerChanged()
{
    invalidateCount();
    m_totalCache = -1;
    notifyReset();
}

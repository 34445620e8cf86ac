// The table class: identity, opening and closing, the current row and the
// navigation over the sort order and filter, the edit buffer and its
// writes, order and filter, bookmarks and change notification. The SQL it
// builds is in TableQueries.cpp, the conversions of values in
// TableValues.cpp, the rows read for the grid model in TableRows.cpp.

#include "records/DataTable.h"

#include "core/Errors.h"
#include "core/TextCode.h"
#include "records/SqlQuote.h"
#include "records/TableHost.h"

#include <QDir>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

bool hasSurrogates(const QString &text)
{
    for (const QChar c : text)
        if (c.isSurrogate())
            return true;
    return false;
}

using RecordsSql::quoted;

QString sqlType(const FieldDef &f, bool first, bool autoKey)
{
    switch (f.type) {
    case FieldType::AutoInc:
        return QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    case FieldType::Integer:
        return first && !autoKey ? QStringLiteral("INTEGER PRIMARY KEY") : QStringLiteral("INTEGER");
    case FieldType::Float:
        return QStringLiteral("REAL");
    case FieldType::Boolean:
        return QStringLiteral("INTEGER");
    case FieldType::DateTime:
    case FieldType::Date:
    case FieldType::Text:
        return QStringLiteral("TEXT");
    }
    return QStringLiteral("TEXT");
}

} // namespace

DataTable::DataTable(TableHost *host, const QString &tableName, const QString &fileName, const QList<FieldDef> &fields,
               QObject *parent)
    : QObject(parent), m_dm(host), m_tableName(tableName), m_fileName(fileName), m_fields(fields)
{
    m_values.resize(m_fields.size());
    m_stored.resize(m_fields.size());
    m_changed.resize(m_fields.size());
}

DataTable::~DataTable() = default;

// ---------------------------------------------------------------- identity

QString DataTable::filePath() const
{
    return m_dm->tablePath(m_fileName);
}

QString DataTable::sqlName() const
{
    return quoted(m_tableName) + QLatin1Char('.') + quoted(m_tableName);
}

int DataTable::fieldIndex(const QString &name) const
{
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int DataTable::fieldIndexOrRaise(const QString &name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw EGeneralError(QStringLiteral("%1: поле '%2' не найдено").arg(m_tableName, name));
    return i;
}

const FieldDef &DataTable::fieldDef(const QString &name) const
{
    return m_fields[fieldIndexOrRaise(name)];
}

QList<FilterField> DataTable::filterFields() const
{
    return filterFieldsOf(m_fields);
}

QSqlDatabase DataTable::database() const
{
    return m_dm->database();
}

// ---------------------------------------------------------------- open and close

void DataTable::requireActive() const
{
    if (!m_active)
        throw EGeneralError(QStringLiteral("%1: таблица закрыта").arg(m_tableName));
}

bool DataTable::tableExists() const
{
    if (!m_dm->isAttached(m_tableName))
        return false;
    QSqlQuery q = exec(QStringLiteral("SELECT 1 FROM %1.sqlite_master WHERE type = 'table' AND name = ?")
                           .arg(quoted(m_tableName)),
                       {m_tableName});
    return q.next();
}

void DataTable::createTable()
{
    close();
    m_dm->ensureAttached(m_tableName, m_fileName);
    const bool autoKey = m_fields.first().type == FieldType::AutoInc;
    QStringList columns;
    for (int i = 0; i < m_fields.size(); ++i)
        columns.append(quoted(m_fields[i].name) + QLatin1Char(' ') + sqlType(m_fields[i], i == 0, autoKey));
    const QString schema = quoted(m_tableName);
    Transaction tx(*m_dm);
    // Remains of the table (with its indexes) go first.
    exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(sqlName()));
    exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(sqlName(), columns.join(QStringLiteral(", "))));
    exec(QStringLiteral("PRAGMA %1.user_version = 1").arg(schema));
    tx.commit();
    m_dm->useWriteAheadLog(m_tableName);
}

void DataTable::open()
{
    if (m_active)
        return;
    m_dm->ensureAttached(m_tableName, m_fileName);
    {
        QSqlQuery q = exec(QStringLiteral("PRAGMA %1.table_info(%2)").arg(quoted(m_tableName), quoted(m_tableName)));
        QSet<QString> names;
        while (q.next())
            names.insert(q.value(1).toString().toLower());
        if (names.isEmpty())
            throw EGeneralError(QStringLiteral("Таблица %1 не найдена в файле %2").arg(m_tableName, filePath()));
        for (const FieldDef &f : m_fields) {
            if (!names.contains(f.name.toLower()))
                throw EGeneralError(QStringLiteral("В таблице %1 нет поля %2").arg(m_tableName, f.name));
        }
    }
    if (m_exclusive) {
        // The write lock of the file: another connection that reads or
        // writes it makes this fail (after the busy timeout).
        m_dm->startTransaction();
        try {
            exec(QStringLiteral("PRAGMA %1.user_version = 1").arg(quoted(m_tableName)));
        } catch (...) {
            m_dm->rollback();
            throw;
        }
        m_holdsLock = true;
    }
    m_active = true;
    invalidateCount();
    m_totalCache = -1;
    setState(TableState::Browse);
    moveTo(true, false);
    notifyReset();
}

void DataTable::close()
{
    if (!m_active)
        return;
    if (m_state == TableState::Edit || m_state == TableState::Insert)
        cancel();
    m_active = false;
    clearCurrent();
    invalidateCount();
    setState(TableState::Inactive);
    notifyReset();
    if (m_holdsLock) {
        m_holdsLock = false;
        try {
            m_dm->commit();
        } catch (...) {
            m_dm->rollback();
            throw;
        }
    }
}

void DataTable::setExclusive(bool exclusive)
{
    if (m_active)
        throw EGeneralError(QStringLiteral("%1: таблица открыта").arg(m_tableName));
    m_exclusive = exclusive;
}

void DataTable::setState(TableState state)
{
    if (m_state == state)
        return;
    m_state = state;
    if (!controlsDisabled())
        emit stateChanged();
}

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

// ---------------------------------------------------------------- editing

void DataTable::append()
{
    checkBrowseMode();
    m_savedKey = m_curKey;
    m_savedEof = m_eof;
    m_savedBof = m_bof;
    m_savedValues = m_values;
    m_values.fill(QVariant());
    m_changed.fill(false);
    m_modified = false;
    setState(TableState::Insert);
    notifyCurrent();
}

void DataTable::edit()
{
    requireActive();
    if (m_state == TableState::Edit || m_state == TableState::Insert)
        return;
    if (m_curKey.isNull())
        throw EGeneralError(QStringLiteral("%1: нет текущей записи").arg(m_tableName));
    m_savedValues = m_values;
    m_changed.fill(false);
    m_modified = false;
    setState(TableState::Edit);
}

void DataTable::setFieldValue(const QString &field, const QVariant &value)
{
    requireActive();
    const int i = fieldIndexOrRaise(field);
    const FieldDef &f = m_fields[i];
    if (m_state != TableState::Edit && m_state != TableState::Insert)
        throw EGeneralError(QStringLiteral("%1: таблица не в режиме редактирования").arg(m_tableName));
    if (f.type == FieldType::AutoInc)
        throw EGeneralError(QStringLiteral("%1: поле %2 нельзя изменить").arg(m_tableName, f.name));
    QVariant v = value;
    if (f.type == FieldType::Text && v.isValid() && !v.isNull()) {
        QString text = v.toString();
        // A longer text is cut to the field size by whole characters; half of
        // a surrogate pair (a lone one) is never stored.
        if ((f.size > 0 && text.size() > f.size) || hasSurrogates(text))
            text = leftCharacters(text, f.size > 0 ? f.size : text.size());
        v = text;
    }
    // Checked and normalised now, so that a bad value fails where it is set.
    m_values[i] = fromStorage(f, toStorage(f, v));
    m_changed[i] = true;
    m_modified = true;
}

QVariant DataTable::fieldValue(const QString &field) const
{
    requireActive();
    return m_values[fieldIndexOrRaise(field)];
}

bool DataTable::isNull(const QString &field) const
{
    const QVariant v = fieldValue(field);
    return !v.isValid() || v.isNull();
}

QString DataTable::asString(const QString &field) const
{
    const int i = fieldIndexOrRaise(field);
    return plainText(m_fields[i], fieldValue(field));
}

int DataTable::asInteger(const QString &field) const
{
    const QVariant v = fieldValue(field);
    return v.isNull() ? 0 : v.toInt();
}

double DataTable::asFloat(const QString &field) const
{
    const QVariant v = fieldValue(field);
    return v.isNull() ? 0.0 : v.toDouble();
}

QDateTime DataTable::asDateTime(const QString &field) const
{
    const QVariant v = fieldValue(field);
    if (v.isNull())
        return QDateTime();
    if (v.typeId() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0));
    return v.toDateTime();
}

bool DataTable::asBoolean(const QString &field) const
{
    const QVariant v = fieldValue(field);
    return !v.isNull() && v.toBool();
}

QString DataTable::displayText(const QString &field) const
{
    const int i = fieldIndexOrRaise(field);
    return displayText(m_fields[i], fieldValue(field));
}

void DataTable::post()
{
    requireActive();
    if (m_state == TableState::Insert) {
        const bool autoKey = m_fields.first().type == FieldType::AutoInc;
        QStringList cols;
        QStringList marks;
        QVariantList params;
        for (int i = autoKey ? 1 : 0; i < m_fields.size(); ++i) {
            const QVariant stored = toStorage(m_fields[i], m_values[i]);
            if (stored.isNull())
                continue;
            cols.append(quoted(m_fields[i].name));
            marks.append(QStringLiteral("?"));
            params.append(stored);
        }
        if (!autoKey && m_values[0].isNull())
            throw EGeneralError(QStringLiteral("%1: не задано значение ключевого поля %2").arg(m_tableName, keyField()));
        QVariant key;
        {
            const QString sql = cols.isEmpty()
                                    ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(sqlName())
                                    : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                          .arg(sqlName(), cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
            QSqlQuery q = exec(sql, params);
            key = autoKey ? QVariant(q.lastInsertId().toLongLong()) : toStorage(m_fields[0], m_values[0]);
        }
        const bool shown = keyShown(key);
        loadKey(key, false);
        m_eof = m_bof = false;
        m_modified = false;
        if (m_countCache >= 0 && shown)
            ++m_countCache;
        if (m_totalCache >= 0)
            ++m_totalCache;
        setState(TableState::Browse);
        if (!controlsDisabled())
            emit rowInserted(key, shown);
        else
            m_pendingReset = true;
        notifyCurrent();
        m_dm->notifyPeers(this);
        return;
    }
    if (m_state == TableState::Edit) {
        const QVariant oldKey = m_curKey;
        QStringList sets;
        QVariantList params;
        for (int i = 0; i < m_fields.size(); ++i) {
            if (!m_changed[i])
                continue;
            sets.append(quoted(m_fields[i].name) + QStringLiteral(" = ?"));
            params.append(toStorage(m_fields[i], m_values[i]));
        }
        if (sets.isEmpty()) {
            m_modified = false;
            setState(TableState::Browse);
            return;
        }
        if (m_changed[0] && m_values[0].isNull())
            throw EGeneralError(QStringLiteral("%1: не задано значение ключевого поля %2").arg(m_tableName, keyField()));
        const bool wasShown = keyShown(oldKey);
        params.append(oldKey);
        exec(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                 .arg(sqlName(), sets.join(QStringLiteral(", ")), quoted(keyField())),
             params);
        const QVariant newKey = m_changed[0] ? toStorage(m_fields[0], m_values[0]) : oldKey;
        const bool nowShown = keyShown(newKey);
        loadKey(newKey, false);
        m_modified = false;
        if (m_countCache >= 0)
            m_countCache += int(nowShown) - int(wasShown);
        setState(TableState::Browse);
        if (!controlsDisabled())
            emit rowUpdated(newKey, int(nowShown) - int(wasShown));
        else
            m_pendingReset = true;
        notifyCurrent();
        m_dm->notifyPeers(this);
        return;
    }
    throw EGeneralError(QStringLiteral("%1: таблица не в режиме редактирования").arg(m_tableName));
}

void DataTable::cancel()
{
    requireActive();
    if (m_state == TableState::Insert) {
        const QVariant key = m_savedKey;
        setState(TableState::Browse);
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
    if (m_state == TableState::Edit) {
        m_values = m_savedValues;
        m_modified = false;
        setState(TableState::Browse);
        notifyCurrent();
    }
}

void DataTable::remove()
{
    requireActive();
    if (m_state == TableState::Insert) {
        cancel();
        return;
    }
    if (m_state == TableState::Edit)
        cancel();
    if (m_curKey.isNull())
        throw EGeneralError(QStringLiteral("%1: нет текущей записи").arg(m_tableName));
    const QVariant key = m_curKey;
    const RowData boundary = currentRowData();
    const bool wasShown = keyShown(key);
    exec(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(sqlName(), quoted(keyField())), {key});
    if (m_countCache >= 0 && wasShown)
        --m_countCache;
    if (m_totalCache >= 0)
        --m_totalCache;
    QVector<int> all(m_fields.size());
    for (int i = 0; i < all.size(); ++i)
        all[i] = i;
    QVector<RowData> rows = fetchRows(all, true, &boundary, 1);
    if (!rows.isEmpty()) {
        setCurrent(rows.first().values);
        m_eof = m_bof = false;
    } else {
        rows = fetchRows(all, false, &boundary, 1);
        if (!rows.isEmpty()) {
            setCurrent(rows.first().values);
            m_bof = false;
            m_eof = true;
        } else {
            clearCurrent();
        }
    }
    if (!controlsDisabled())
        emit rowDeleted(key, wasShown);
    else
        m_pendingReset = true;
    notifyCurrent();
    m_dm->notifyPeers(this);
}

// ---------------------------------------------------------------- order and filter

void DataTable::setIndexFieldNames(const QString &field)
{
    int index = -1;
    if (!field.trimmed().isEmpty()) {
        index = fieldIndex(field.trimmed());
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

QString DataTable::indexFieldNames() const
{
    return m_sortField > 0 ? m_fields[m_sortField].name : QString();
}

void DataTable::setFilter(const QString &text)
{
    if (m_active)
        checkBrowseMode();
    const CompiledFilter compiled = compileFilter(text, filterFields());  // raises: the old filter stays
    m_filterText = text;
    m_compiled = compiled;
    invalidateCount();
    if (m_active && m_filtered) {
        first();
        notifyReset();
    }
}

void DataTable::setFiltered(bool filtered)
{
    if (m_active)
        checkBrowseMode();
    if (m_filtered == filtered)
        return;
    m_filtered = filtered;
    invalidateCount();
    if (m_active) {
        first();
        notifyReset();
    }
}

// ---------------------------------------------------------------- bookmarks

bool DataTable::bookmarkValid(const QVariant &bookmark) const
{
    return m_active && !bookmark.isNull() && keyShown(bookmark);
}

bool DataTable::gotoBookmark(const QVariant &bookmark)
{
    checkBrowseMode();
    if (!loadKey(bookmark, true))
        return false;
    m_eof = m_bof = false;
    notifyCurrent();
    return true;
}

void DataTable::refresh()
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

// ---------------------------------------------------------------- notification

void DataTable::disableControls()
{
    ++m_disableCount;
}

void DataTable::enableControls()
{
    if (m_disableCount == 0)
        return;
    if (--m_disableCount > 0)
        return;
    const bool reset = m_pendingReset;
    const bool current = m_pendingCurrent;
    m_pendingReset = m_pendingCurrent = false;
    if (reset)
        emit dataSetReset();
    if (reset || current)
        emit currentChanged();
    emit stateChanged();
}

void DataTable::notifyReset()
{
    if (controlsDisabled()) {
        m_pendingReset = true;
        return;
    }
    emit dataSetReset();
}

void DataTable::notifyCurrent()
{
    if (controlsDisabled()) {
        m_pendingCurrent = true;
        return;
    }
    emit currentChanged();
}

void DataTable::peerChanged()
{
    invalidateCount();
    m_totalCache = -1;
    notifyReset();
}

// The table class: identity, opening and closing, order and filter,
// bookmarks and change notification. The current row and the navigation are
// in TableNavigation.cpp, the edit buffer and its writes in TableEditing.cpp,
// the SQL it builds in TableQueries.cpp, the conversions of values in
// TableValues.cpp, the rows read for the grid model in TableRows.cpp.

#include "records/DataTable.h"

#include "core/Errors.h"
#include "records/SqlQuote.h"
#include "records/TableHost.h"

#include <QDir>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

using RecordsSql::quoted;

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
    return m_dm->dialect().tableRef(m_tableName);
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
    QSqlQuery q = exec(m_dm->dialect().tableExistsQuery(m_tableName), {m_tableName});
    return q.next();
}

void DataTable::createTable()
{
    close();
    m_dm->ensureAttached(m_tableName, m_fileName);
    const bool autoKey = m_fields.first().type == FieldType::AutoInc;
    QStringList columns;
    for (int i = 0; i < m_fields.size(); ++i)
        columns.append(quoted(m_fields[i].name) + QLatin1Char(' ') + m_dm->dialect().columnType(m_fields[i], i == 0, autoKey));
    for (const FieldDef &f : std::as_const(m_fields)) {
        if (hasSortKey(f))
            columns.append(quoted(SqlDialect::sortKeyColumn(f.name)) + QStringLiteral(" BLOB"));
    }
    const QString schema = quoted(m_tableName);
    Transaction tx(*m_dm);
    // Remains of the table (with its indexes) go first.
    exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(sqlName()));
    exec(QStringLiteral("CREATE TABLE %1 (%2)").arg(sqlName(), columns.join(QStringLiteral(", "))));
    prepareSortKeys();
    if (m_dm->dialect().sqlite())
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
        QSqlQuery q = exec(m_dm->dialect().columnNamesQuery(m_tableName), {m_tableName});
        QSet<QString> names;
        while (q.next())
            names.insert(q.value(0).toString().toLower());
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
            if (m_dm->dialect().sqlite())
                exec(QStringLiteral("PRAGMA %1.user_version = 1").arg(quoted(m_tableName)));
            else
                exec(QStringLiteral("LOCK TABLE %1 IN EXCLUSIVE MODE").arg(sqlName()));
        } catch (...) {
            m_dm->rollback();
            throw;
        }
        m_holdsLock = true;
    }
    m_active = true;
    invalidateCount();
    m_totalCache = -1;
    m_totalEstimate = -1;
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
    const CompiledFilter compiled = compileFilter(text, filterFields(), m_dm->dialect().exactCollation());  // raises: the old filter stays
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
    m_totalEstimate = -1;
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
    m_totalEstimate = -1;
    notifyReset();
}

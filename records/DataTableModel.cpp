#include "records/DataTableModel.h"

#include "core/Errors.h"
#include "records/DataTable.h"
#include "records/TableHost.h"

#include <QTimer>
#include <algorithm>

DataTableModel::DataTableModel(DataTable *table, const QStringList &columns, QObject *parent)
    : QAbstractTableModel(parent), m_table(table)
{
    setColumns(columns);
    connect(m_table, &DataTable::dataSetReset, this, &DataTableModel::onReset);
    connect(m_table, &DataTable::rowInserted, this, &DataTableModel::onInserted);
    connect(m_table, &DataTable::rowUpdated, this, &DataTableModel::onUpdated);
    connect(m_table, &DataTable::rowDeleted, this, &DataTableModel::onDeleted);
    connect(m_table, &DataTable::currentChanged, this, &DataTableModel::onCurrentChanged);
    // On the server a count reads every row the filter passes: a million
    // take longer than a view step may. Counting in steps needs keys that
    // grow with every new row.
    const FieldType keyType = m_table->fields().first().type;
    if (!m_table->module()->dialect().sqlite() && (keyType == FieldType::AutoInc || keyType == FieldType::Integer))
        m_countStep = DefaultCountStep;
}

DataTableModel::~DataTableModel() = default;

void DataTableModel::setColumns(const QStringList &fields)
{
    beginResetModel();
    m_columns.clear();
    m_fieldIndex.clear();
    if (fields.isEmpty()) {
        for (const FieldDef &f : m_table->fields()) {
            m_columns.append(f.name);
            m_fieldIndex.append(m_table->fieldIndex(f.name));
        }
    } else {
        for (const QString &name : fields) {
            const int i = m_table->fieldIndex(name);
            if (i < 0)
                throw EGeneralError(QStringLiteral("%1: поле '%2' не найдено").arg(m_table->tableName(), name));
            m_columns.append(m_table->fields()[i].name);
            m_fieldIndex.append(i);
        }
    }
    m_titles.clear();
    dropCache();
    m_count = -1;
    endResetModel();
}

QString DataTableModel::fieldOfColumn(int column) const
{
    return m_columns.value(column);
}

int DataTableModel::columnOfField(const QString &field) const
{
    for (int i = 0; i < m_columns.size(); ++i) {
        if (m_columns[i].compare(field, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void DataTableModel::setColumnTitle(int column, const QString &title)
{
    m_titles.insert(column, title);
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void DataTableModel::setPageSize(int rows)
{
    m_pageSize = qMax(1, rows);
    dropCache();
}

void DataTableModel::countRows() const
{
    if (m_count >= 0)
        return;
    m_countDone = true;
    m_counted = 0;
    m_countedTo = QVariant();
    try {
        if (!m_table->active()) {
            m_count = 0;
        } else if (m_countStep <= 0 || m_table->knownCount() >= 0) {
            m_count = m_table->recordCount();
        } else {
            // The first step is counted however the server likes best (the
            // filter's own index); only a count that reaches it goes on in
            // key order.
            m_count = m_table->countUpTo(m_countStep);
            if (m_count >= m_countStep) {
                m_countDone = false;
                scheduleCountStep();
            }
        }
    } catch (const ERuvoError &) {
        m_count = 0;
        m_countDone = true;
    }
}

void DataTableModel::setCountStep(int rows)
{
    m_countStep = qMax(0, rows);
    reload();
}

void DataTableModel::scheduleCountStep() const
{
    if (m_stepPending)
        return;
    m_stepPending = true;
    auto *self = const_cast<DataTableModel *>(this);
    QTimer::singleShot(0, self, [self] {
        self->m_stepPending = false;
        self->countStepOn();
    });
}

void DataTableModel::countStepOn()
{
    if (m_count < 0 || m_countDone || !m_table->active())
        return;
    QPair<int, QVariant> step;
    try {
        step = m_table->countAfterKey(m_countedTo, m_countStep);
    } catch (const ERuvoError &) {
        return;  // the rows counted so far stay; a view asking for more tries again
    }
    m_counted += step.first;
    if (!step.second.isNull())
        m_countedTo = step.second;
    if (step.first < m_countStep) {
        m_countDone = true;
        showCount(m_counted);
    } else {
        showCount(qMax(m_count, m_counted));
        scheduleCountStep();
    }
}

void DataTableModel::completeCount()
{
    countRows();
    if (m_count < 0 || m_countDone)
        return;
    int rows = 0;
    try {
        rows = m_table->recordCount();
    } catch (const ERuvoError &) {
        return;
    }
    m_countDone = true;
    showCount(rows);
}

void DataTableModel::showCount(int rows)
{
    if (rows > m_count) {
        beginInsertRows(QModelIndex(), m_count, rows - 1);
        m_count = rows;
        endInsertRows();
    } else if (rows < m_count) {
        dropCache();
        beginRemoveRows(QModelIndex(), rows, m_count - 1);
        m_count = rows;
        endRemoveRows();
    }
}

bool DataTableModel::countedAlready(const QVariant &key) const
{
    return !m_countedTo.isNull() && !key.isNull() && key.toLongLong() <= m_countedTo.toLongLong();
}

bool DataTableModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_count >= 0 && !m_countDone;
}

void DataTableModel::fetchMore(const QModelIndex &parent)
{
    if (!parent.isValid())
        countStepOn();
}

int DataTableModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    countRows();
    return m_count;
}

int DataTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns.size();
}

void DataTableModel::dropCache() const
{
    m_pages.clear();
}

void DataTableModel::fetchPage(int page) const
{
    // A neighbouring page gives a key to start from, which costs the same
    // wherever the page lies; only a jump into the unknown counts rows off.
    QVector<RowData> rows;
    const auto prev = m_pages.constFind(page - 1);
    const auto next = m_pages.constFind(page + 1);
    if (page > 0 && prev != m_pages.cend() && prev->rows.size() == m_pageSize) {
        const Row &last = prev->rows.last();
        RowData b{last.key, last.sortValue, {}};
        rows = m_table->fetchRows(m_fieldIndex, true, &b, m_pageSize);
    } else if (next != m_pages.cend() && !next->rows.isEmpty()) {
        const Row &first = next->rows.first();
        RowData b{first.key, first.sortValue, {}};
        rows = m_table->fetchRows(m_fieldIndex, false, &b, m_pageSize);
        std::reverse(rows.begin(), rows.end());
    } else {
        const int start = page * m_pageSize;
        if (page > 0 && start >= m_count / 2 && m_count > 0 && m_countDone) {
            // Near the end: counted from the end, backwards.
            const int end = qMin(start + m_pageSize, m_count);
            rows = m_table->fetchRows(m_fieldIndex, false, nullptr, end - start, m_count - end);
            std::reverse(rows.begin(), rows.end());
        } else {
            rows = m_table->fetchRows(m_fieldIndex, true, nullptr, m_pageSize, start);
        }
    }
    Page p;
    p.rows.reserve(rows.size());
    for (RowData &r : rows)
        p.rows.append(Row{r.key, r.sortValue, std::move(r.values)});
    p.lastUse = ++m_useCounter;
    ++m_pagesFetched;
    if (m_pages.size() >= m_maxPages) {
        auto oldest = m_pages.begin();
        for (auto it = m_pages.begin(); it != m_pages.end(); ++it) {
            if (it->lastUse < oldest->lastUse)
                oldest = it;
        }
        m_pages.erase(oldest);
    }
    m_pages.insert(page, std::move(p));
}

const DataTableModel::Row *DataTableModel::rowAt(int row) const
{
    countRows();
    if (row < 0 || row >= m_count || !m_table->active())
        return nullptr;
    const int page = row / m_pageSize;
    auto it = m_pages.find(page);
    if (it == m_pages.end()) {
        try {
            fetchPage(page);
        } catch (const ERuvoError &) {
            return nullptr;
        }
        it = m_pages.find(page);
        if (it == m_pages.end())
            return nullptr;
    }
    it->lastUse = ++m_useCounter;
    const int offset = row % m_pageSize;
    return offset < it->rows.size() ? &it->rows[offset] : nullptr;
}

QVariant DataTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.column() < 0 || index.column() >= m_columns.size())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != KeyRole && role != Qt::TextAlignmentRole)
        return QVariant();
    const FieldDef &f = m_table->fields()[m_fieldIndex[index.column()]];
    if (role == Qt::TextAlignmentRole) {
        const bool number = f.type == FieldType::Integer || f.type == FieldType::AutoInc
                            || f.type == FieldType::Float;
        return QVariant::fromValue(Qt::Alignment(number ? Qt::AlignRight | Qt::AlignVCenter
                                                        : Qt::AlignLeft | Qt::AlignVCenter));
    }
    const Row *r = rowAt(index.row());
    if (!r)
        return QVariant();
    if (role == KeyRole)
        return r->key;
    const QVariant value = DataTable::fromStorage(f, r->values.value(index.column()));
    if (role == Qt::EditRole)
        return value;
    return DataTable::displayText(f, value);
}

QVariant DataTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    if (section < 0 || section >= m_columns.size())
        return QVariant();
    const auto it = m_titles.constFind(section);
    if (it != m_titles.cend())
        return *it;
    return m_table->fields()[m_fieldIndex[section]].label;
}

Qt::ItemFlags DataTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QVariant DataTableModel::keyOfRow(int row) const
{
    const Row *r = rowAt(row);
    return r ? r->key : QVariant();
}

int DataTableModel::rowOfCurrent() const
{
    if (!m_table->active() || !m_table->hasCurrent())
        return -1;
    const QVariant key = m_table->getBookmark();
    for (auto it = m_pages.cbegin(); it != m_pages.cend(); ++it) {
        for (int i = 0; i < it->rows.size(); ++i) {
            if (it->rows[i].key == key)
                return it.key() * m_pageSize + i;
        }
    }
    try {
        const int row = m_table->positionOfKey(key);
        if (row >= m_count && !m_countDone)
            const_cast<DataTableModel *>(this)->completeCount();  // a row past those counted so far
        return row;
    } catch (const ERuvoError &) {
        return -1;
    }
}

void DataTableModel::setCurrentRow(int row)
{
    const QVariant key = keyOfRow(row);
    if (key.isNull() || key == m_table->getBookmark())
        return;
    m_table->findKey(key);
}

void DataTableModel::reload()
{
    beginResetModel();
    dropCache();
    m_count = -1;
    endResetModel();
}

void DataTableModel::onReset()
{
    reload();
}

void DataTableModel::onInserted(const QVariant &key, bool shown)
{
    // The new row's place in the order is not known without counting; the
    // row count grows at the end and every shown row is read again.
    dropCache();
    if (m_count < 0 || !shown)
        return;  // not counted yet, or not shown: nothing moves
    if (!m_countDone) {
        countedChange(key, 1);
        return;
    }
    beginInsertRows(QModelIndex(), m_count, m_count);
    ++m_count;
    endInsertRows();
    if (m_count > 0 && !m_columns.isEmpty())
        emit dataChanged(index(0, 0), index(m_count - 1, m_columns.size() - 1));
}

void DataTableModel::onUpdated(const QVariant &key, int shownDelta)
{
    dropCache();
    if (m_count < 0)
        return;
    if (!m_countDone) {
        countedChange(key, shownDelta);
        return;
    }
    if (shownDelta > 0) {
        beginInsertRows(QModelIndex(), m_count, m_count);
        ++m_count;
        endInsertRows();
    } else if (shownDelta < 0 && m_count > 0) {
        beginRemoveRows(QModelIndex(), m_count - 1, m_count - 1);
        --m_count;
        endRemoveRows();
    }
    if (m_count > 0 && !m_columns.isEmpty())
        emit dataChanged(index(0, 0), index(m_count - 1, m_columns.size() - 1));
}

void DataTableModel::onDeleted(const QVariant &key, bool wasShown)
{
    dropCache();
    if (m_count < 0)
        return;
    if (!m_countDone) {
        countedChange(key, wasShown ? -1 : 0);
        return;
    }
    if (wasShown && m_count > 0) {
        beginRemoveRows(QModelIndex(), m_count - 1, m_count - 1);
        --m_count;
        endRemoveRows();
    }
    if (m_count > 0 && !m_columns.isEmpty())
        emit dataChanged(index(0, 0), index(m_count - 1, m_columns.size() - 1));
}

void DataTableModel::countedChange(const QVariant &key, int shownDelta)
{
    // A row shown or hidden where the steps have counted already changes
    // their sum; further on, a later step finds it as it is. One row fewer
    // shown leaves one row fewer in any case.
    if (shownDelta != 0 && countedAlready(key))
        m_counted += shownDelta;
    if (shownDelta > 0)
        showCount(qMax(m_count, m_counted));
    else if (shownDelta < 0)
        showCount(qMax(m_counted, m_count - 1));
    if (m_count > 0 && !m_columns.isEmpty())
        emit dataChanged(index(0, 0), index(m_count - 1, m_columns.size() - 1));
}

void DataTableModel::onCurrentChanged()
{
    // A loop over the table moves the current row many times; the grid hears
    // of it once, when the loop has ended.
    if (m_currentPending)
        return;
    m_currentPending = true;
    QTimer::singleShot(0, this, &DataTableModel::emitCurrent);
}

void DataTableModel::emitCurrent()
{
    m_currentPending = false;
    emit currentRowChanged(rowOfCurrent());
}

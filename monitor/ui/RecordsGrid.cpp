#include "RecordsGrid.h"

#include "records/DataTable.h"
#include "records/DataTableModel.h"
#include "monitor/core/RecordsView.h"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>

QVariant RecordsProxy::data(const QModelIndex &index, int role) const
{
    if (role == Qt::TextAlignmentRole) {
        const RecordsColumn *c = recordsColumnOfField(fieldOfColumn(index.column()));
        return int(c ? c->alignment : RecordsColumn().alignment);
    }
    if (role == Qt::ForegroundRole) {
        const RecordsColumn *c = recordsColumnOfField(fieldOfColumn(index.column()));
        if (c && c->captionColour)
            return QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    }
    return QIdentityProxyModel::data(index, role);
}

QVariant RecordsProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole)
            return QString();
        return QVariant();
    }
    if (role == Qt::TextAlignmentRole) {
        const RecordsColumn *c = recordsColumnOfField(fieldOfColumn(section));
        return int(c ? c->titleAlignment : RecordsColumn().titleAlignment);
    }
    return QIdentityProxyModel::headerData(section, orientation, role);
}

QString RecordsProxy::fieldOfColumn(int column) const
{
    auto *m = qobject_cast<DataTableModel *>(sourceModel());
    return m ? m->fieldOfColumn(column) : QString();
}

RecordsGrid::RecordsGrid(QWidget *parent) : QTableView(parent)
{
    setObjectName(QStringLiteral("RxDBGrid"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAlternatingRowColors(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new RecordsDelegate(this));
    // The selected row stays visible when the grid loses the focus.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);

    QHeaderView *rows = verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    rows->setMinimumWidth(14);
    rows->setMaximumWidth(14);
    rows->setFixedWidth(14);

    QHeaderView *titles = horizontalHeader();
    titles->setSectionsMovable(true);
    titles->setSectionsClickable(true);
    titles->setHighlightSections(false);
    titles->setSortIndicatorShown(false);
    titles->setStretchLastSection(false);
    QFont tf = titles->font();
    tf.setPixelSize(16);
    titles->setFont(tf);
    connect(titles, &QHeaderView::sectionClicked, this, &RecordsGrid::titleClicked);
}

void RecordsGrid::bind(DataTable *measures)
{
    setModel(nullptr);
    delete m_proxy;
    m_proxy = nullptr;
    delete m_model;
    m_model = nullptr;
    m_sortField.clear();
    horizontalHeader()->setSortIndicatorShown(false);
    if (!measures)
        return;
    // Fields and titles from the grid's column description.
    const QList<RecordsColumn> columns = defaultRecordsColumns();
    QStringList fields;
    for (const RecordsColumn &c : columns)
        fields.append(c.field);
    m_model = new DataTableModel(measures, fields, this);
    for (int i = 0; i < columns.size(); ++i)
        m_model->setColumnTitle(i, columns[i].title);
    m_proxy = new RecordsProxy(this);
    m_proxy->setSourceModel(m_model);
    setModel(m_proxy);
    m_heldKey = QVariant();
    m_rowsArrived = false;
    m_wasLast = true;
    followTableOrder();
    connect(m_model, &DataTableModel::currentRowChanged, this, &RecordsGrid::followTableRow);
    connect(m_model, &QAbstractItemModel::modelReset, this, &RecordsGrid::followTableOrder);
    connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this, &RecordsGrid::rowsArriving);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current, const QModelIndex &) {
                if (!current.isValid() || !m_model)
                    return;
                m_heldKey = m_model->keyOfRow(current.row());
                if (m_syncing)
                    return;
                m_syncing = true;
                try {
                    m_model->setCurrentRow(current.row());
                } catch (...) {
                }
                m_syncing = false;
            });
}

void RecordsGrid::rowsArriving()
{
    if (m_rowsArrived || !m_model)
        return;
    m_rowsArrived = true;
    const QModelIndex current = currentIndex();
    m_wasLast = !current.isValid() || current.row() >= m_model->rowCount() - 1;
}

void RecordsGrid::followTableRow(int row)
{
    if (m_syncing || !m_proxy || row < 0)
        return;
    if (m_rowsArrived) {
        m_rowsArrived = false;
        if (!m_wasLast && !m_heldKey.isNull()) {
            // Back to the operator's row; the table reports it and the grid
            // follows that report.
            try {
                if (m_model->table()->gotoBookmark(m_heldKey))
                    return;
            } catch (...) {
            }
        }
    }
    m_syncing = true;
    const QModelIndex idx = m_proxy->index(row, qMax(0, horizontalHeader()->logicalIndexAt(0)));
    if (idx.isValid())
        selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_syncing = false;
}

int RecordsGrid::columnOfField(const QString &field) const
{
    return m_model ? m_model->columnOfField(field) : -1;
}

QString RecordsGrid::fieldOfColumn(int logicalColumn) const
{
    return m_model ? m_model->fieldOfColumn(logicalColumn) : QString();
}

void RecordsGrid::followTableOrder()
{
    const QString field = m_model ? m_model->table()->indexFieldNames() : QString();
    m_sortField = field;
    const int column = columnOfField(field);
    QHeaderView *titles = horizontalHeader();
    if (column >= 0) {
        titles->setSortIndicatorShown(true);
        titles->setSortIndicator(column, Qt::DescendingOrder);
    } else {
        titles->setSortIndicatorShown(false);
    }
    viewport()->update();
}

QColor RecordsGrid::sortedCellColour()
{
    return QColor(0xA0, 0xFF, 0xFF);
}

QColor RecordsGrid::sortedBaseColour()
{
    return QColor(0xFF, 0xFB, 0xF0);
}

void RecordsDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString field = m_grid->fieldOfColumn(index.column());
    const bool selected = opt.state & QStyle::State_Selected;
    if (!field.isEmpty() && field == m_grid->m_sortField) {
        // Once a column has been drawn sorted it keeps the sorted base colour.
        m_grid->m_sortBase.insert(field);
        if (!selected)
            opt.backgroundBrush = RecordsGrid::sortedCellColour();
    } else if (!selected && m_grid->m_sortBase.contains(field)) {
        opt.backgroundBrush = RecordsGrid::sortedBaseColour();
    }
    QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
}

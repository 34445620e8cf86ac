#pragma once
// The records grid RxDBGrid: a read-only table view over Measures through the
// database's lazy model, with whole-row selection, a narrow row indicator,
// the sorted column highlighted and its title marked, and the journal-name
// column painted in the caption colour.

#include <QIdentityProxyModel>
#include <QSet>
#include <QStyledItemDelegate>
#include <QTableView>

class DataTable;
class DataTableModel;

// Adds what the grid shows besides the table's texts: the column alignment,
// the colour of the journal-name column, an empty row indicator.
class RecordsProxy : public QIdentityProxyModel {
    Q_OBJECT
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    QString fieldOfColumn(int column) const;
};

class RecordsGrid : public QTableView {
    Q_OBJECT
public:
    explicit RecordsGrid(QWidget *parent = nullptr);

    // Binds the grid to Measures (nullptr unbinds it).
    void bind(DataTable *measures);
    DataTableModel *tableModel() const { return m_model; }
    RecordsProxy *proxy() const { return m_proxy; }

    // The columns by field name; -1 when not shown.
    int columnOfField(const QString &field) const;
    QString fieldOfColumn(int logicalColumn) const;

    // The sorted column: highlighted cells, a descending marker on its title
    // and, once it has been drawn sorted, the base colour of sorted columns.
    // It is the order the table is in (none in key order), taken again
    // whenever the table re-reads its rows.
    void followTableOrder();
    QString sortField() const { return m_sortField; }
    bool columnHasSortBase(const QString &field) const { return m_sortBase.contains(field); }

    static QColor sortedCellColour();   // A0 FF FF
    static QColor sortedBaseColour();   // FF FB F0

signals:
    void titleClicked(int logicalColumn);

private:
    friend class RecordsDelegate;
    void followTableRow(int row);
    void rowsArriving();

    // New readings move the table's current row to them. The grid follows
    // them only while its current row is the last one; otherwise it keeps
    // the operator's row (by its key) and puts the table back on it.
    QVariant m_heldKey;         // key of the grid's current row
    bool m_rowsArrived = false; // rows came in since the grid last followed
    bool m_wasLast = true;      // the grid was on its last row when they came

    DataTableModel *m_model = nullptr;
    RecordsProxy *m_proxy = nullptr;
    QString m_sortField;
    QSet<QString> m_sortBase;
    bool m_syncing = false;
};

class RecordsDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit RecordsDelegate(RecordsGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    RecordsGrid *m_grid;
};

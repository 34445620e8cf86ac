#pragma once
// A lazy item model over a table's current sort order and filter, for the
// grids. Rows are fetched in pages by key ranges (or by offset when no
// neighbouring page is known) and kept in a small page cache; the row count
// is taken once per change. A million-row table shows its first screen, its
// middle and its end without reading the rest.
//
// The model follows the table: a new filter or sort order resets it, appended
// and deleted rows change the row count, edits repaint. The table's current
// row and the grid's current row move together: rowOfCurrent() says where the
// table's current row is, setCurrentRow() moves the table, and
// currentRowChanged() is sent (once per event-loop turn) when the table's
// current row moved.
//
// Roles: Qt::DisplayRole gives the field's display text (its display format),
// Qt::EditRole the value (QDateTime, double, ...), KeyRole the row's primary
// key; headers give the display labels unless a title was set.

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class DataTable;

class DataTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum { KeyRole = Qt::UserRole + 1 };

    // columns: the field names shown, in order (empty: every field).
    explicit DataTableModel(DataTable *table, const QStringList &columns = {}, QObject *parent = nullptr);
    ~DataTableModel() override;

    DataTable *table() const { return m_table; }
    void setColumns(const QStringList &fields);
    QStringList columns() const { return m_columns; }
    QString fieldOfColumn(int column) const;
    int columnOfField(const QString &field) const;  // -1 when not shown
    void setColumnTitle(int column, const QString &title);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The primary key of a row (null when out of range).
    QVariant keyOfRow(int row) const;
    // Where the table's current row is (-1 when it has none or it is not shown).
    int rowOfCurrent() const;
    // Makes the row the table's current row (a pending edit is posted first).
    void setCurrentRow(int row);

    // Re-reads everything (count and pages).
    void reload();

    // The count of many rows in steps. When more rows are shown than the
    // first step counts, the model starts with the rows counted so far
    // (each of them in its true place) and counts on a step at a time, from
    // the event loop or when a view asks for more (fetchMore); rows are
    // added at the end as they are counted, until the count is whole. Until
    // then rowCount() is a lower bound, never more rows than there are.
    // rows <= 0: one exact count at once (the default on SQLite, where it is
    // cheap); the server's default is DefaultCountStep.
    static constexpr int DefaultCountStep = 50000;
    void setCountStep(int rows);
    int countStep() const { return m_countStep; }
    bool countComplete() const { return m_countDone; }
    // Counts the rest at once (a caller that needs the exact count).
    void completeCount();
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // Paging figures, for tests and benchmarks.
    int pageSize() const { return m_pageSize; }
    void setPageSize(int rows);
    int cachedPages() const { return m_pages.size(); }
    int pagesFetched() const { return m_pagesFetched; }

signals:
    void currentRowChanged(int row);

private:
    struct Row {
        QVariant key;
        QVariant sortValue;         // stored value of the sort field
        QVector<QVariant> values;   // stored values of the columns
    };
    struct Page {
        QVector<Row> rows;
        quint64 lastUse = 0;
    };

    const Row *rowAt(int row) const;
    void fetchPage(int page) const;
    void dropCache() const;
    void countRows() const;
    void countStepOn();
    void scheduleCountStep() const;
    void showCount(int rows);
    bool countedAlready(const QVariant &key) const;
    void countedChange(const QVariant &key, int shownDelta);
    void onReset();
    void onInserted(const QVariant &key, bool shown);
    void onUpdated(const QVariant &key, int shownDelta);
    void onDeleted(const QVariant &key, bool wasShown);
    void onCurrentChanged();
    void emitCurrent();

    DataTable *m_table;
    QStringList m_columns;
    QVector<int> m_fieldIndex;        // table field index per column
    QHash<int, QString> m_titles;
    int m_pageSize = 200;
    int m_maxPages = 64;

    mutable int m_count = -1;         // rows the model has (see countComplete)
    int m_countStep = 0;
    mutable bool m_countDone = true;
    mutable bool m_stepPending = false;
    mutable int m_counted = 0;        // rows counted in key order so far...
    mutable QVariant m_countedTo;     // ...up to this key (null: none yet)
    mutable quint64 m_countGeneration = 0;
    mutable QHash<int, Page> m_pages;
    mutable quint64 m_useCounter = 0;
    mutable int m_pagesFetched = 0;
    bool m_currentPending = false;
};

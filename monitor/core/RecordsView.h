#pragma once
// The logic of the records view below the grid widget: the column set and the
// switch between the dosimeter name and the journal name, the sort column,
// the only-new mode, the stored-filter switch's "off" branch, and the rows of
// labels above and below the grid that show each column's smallest and
// largest value and set the quick filters.
//
// The table Measures has a single filter text. Whichever of the stored
// filter, only-new and the quick filters (minimum, maximum or both combined)
// was set last is in force. Setting a quick filter first drops the two modes;
// switching a mode first clears the quick filters.
//
// The main window mirrors this state in its widgets (labels, buttons, status
// panel 1) after every operation.

#include "records/TableSchema.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>

class DataTable;
class IPrompt;

// One column of the records grid. defaultRecordsColumns() is the one
// description of the grid's columns: the grid takes its fields, titles,
// alignments and colours from it, the view its widths, order and filters.
struct RecordsColumn {
    int fieldIndex = 0;   // position in the field list of Measures
    QString field;        // field name
    QString title;
    int width = 64;
    bool visible = true;
    bool quoted = false;  // text and date columns: filter values go in quotes
    Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;       // cells and the min/max labels
    Qt::Alignment titleAlignment = Qt::AlignLeft | Qt::AlignVCenter;  // the column title
    bool captionColour = false;  // painted in the caption colour (the journal name)
    bool nameColumn = false;     // a name column: gives up width when the columns are too wide
};

// The five grid columns at start: Дата, №, Идентификатор, ФИО (hidden), Доза.
QList<RecordsColumn> defaultRecordsColumns();

// The description of the column showing `field` (Measures field name);
// nullptr when the grid has no such column.
const RecordsColumn *recordsColumnOfField(const QString &field);

// Label colours: dark blue while idle, magenta while the label's quick filter is on.
constexpr unsigned LabelIdleRgb = 0x00004F;
constexpr unsigned LabelActiveRgb = 0xFF00FF;

struct ColumnLabel {
    QString text;
    bool active = false;   // shown in magenta: its quick filter is on
    bool visible = true;
};

// Where the labels of one column go: x relative to the grid's left edge.
struct LabelPlace {
    int x = 0;
    int width = 0;
    bool placed = false;  // false: the column's minimum label is hidden
};

// The label layout: the visible columns fill the grid's client width exactly
// (the last visible column takes up or gives back the difference; its new
// width is returned in lastWidth / lastColumn, -1 when none is visible).
// indicatorWidth is the row indicator in front of the first column, gap the
// grid line after each column when the column width does not include it.
//
// fit.flexible names a column (the name column) that gives up width, down to
// fit.flexibleMin, when the columns are wider than the grid, so the last
// visible column keeps at least fit.lastMin and stays on screen; whenever
// the columns fit, the flexible column has fit.preferred (its width as the
// operator left it).
struct ColumnFit {
    int flexible = -1;
    int preferred = 0;
    int flexibleMin = 0;
    int lastMin = 0;
};
QList<LabelPlace> layoutColumnLabels(QList<RecordsColumn> &columns, int clientWidth, int indicatorWidth = 14,
                                     int gap = 1, const ColumnFit &fit = ColumnFit());

// The test commands that rewind the copy position of the current Devices row
// by `records`: the Measures row with RecNumber = lastRecNumber - records
// gives the new position and time, which go into the Devices row and into
// lastRecNumber / lastRecTime. Returns the message for the operator when no
// such row exists (nothing changes then), else an empty text. Table errors raise.
QString rewindReaderPosition(DataTable &devices, DataTable &measures, int records, int &lastRecNumber,
                             QDateTime &lastRecTime);

class RecordsView {
public:
    explicit RecordsView(DataTable *measures = nullptr);

    void setTable(DataTable *measures) { m_table = measures; }
    DataTable *table() const { return m_table; }

    // ---- state
    QList<RecordsColumn> columns;   // in grid order
    int sortFieldIndex = int(MeasuresField::DateTime);
    int lastCheckedIndex = 0;
    QString minFilterExpr;
    QString maxFilterExpr;
    QString minLabelSavedText;
    QString maxLabelSavedText;
    QList<ColumnLabel> minLabels;   // one per column once built; one empty entry before
    QList<ColumnLabel> maxLabels;
    bool labelsBuilt = false;
    bool clearMinVisible = false;   // BtnClearFilterMin shown
    bool clearMaxVisible = false;   // BtnClearFilterMax shown
    bool extFiltrDown = false;
    bool extOnlyNewDown = false;
    bool extNotesDown = false;
    QString statusText;             // status panel 1

    // Optional hooks of the window: ask the name synchronisation question
    // (called by notesToggled with the new state), switch the stored filter
    // off (called by dropModeFilters after raising ExtFiltr; without a hook
    // extFiltrUp runs), rebuild the indexes of Measures after a failed sort.
    std::function<void(bool extNotesDown)> askNameSync;
    std::function<void()> storedFilterOff;
    std::function<void()> rebuildIndexes;

    int columnOfField(int fieldIndex) const;  // -1 when no column shows it

    // ---- operations (each after the toggle has changed its state)
    void onlyNewToggled();
    void notesToggled();
    // The stored filter switched off: it stops restricting the records (the
    // filter text stays); only-new, when it is down, is in force again.
    void extFiltrUp();
    // The stored filter switched on with an expression the table takes: the
    // quick filters go, the expression is in force and status panel 1 shows
    // the filter's name. An expression the table refuses changes nothing
    // (quick filters included) and gives false. Switching only-new off
    // while the stored filter is down puts this expression back in force.
    bool applyStoredFilter(const QString &expression, const QString &name);
    QString storedFilterExpression() const { return m_storedExpression; }

    // Title click on the column showing fieldIndex: the sort column and the
    // table's sort order follow; a failed sort falls back to the natural order
    // and rebuilds the indexes of Measures.
    void sortByTitle(int fieldIndex);

    // Builds one minimum and one maximum label per column from the rows the
    // table shows (the smallest and largest value under the filter in force).
    // Does nothing when the table shows no row. Clears the quick filters.
    bool rebuildColumnLabels();

    // After new readings: the label texts again from the rows the table
    // shows, without touching the quick filters (a label whose quick filter
    // is on keeps the entered value). Builds the labels when none exist yet.
    bool refreshColumnLabels();

    // Quick filters on the column at `column` (grid order). `ask` puts the
    // question with caption, prompt and start text and returns false on
    // Cancel. Returns whether the filter was applied. A value the filter
    // language refuses changes nothing and the operator is told why, through
    // the view's prompt.
    using AskFunction = std::function<bool(const QString &caption, const QString &prompt, QString &value)>;
    bool setQuickMinFilter(int column, const AskFunction &ask);
    bool setQuickMaxFilter(int column, const AskFunction &ask);

    // The prompt the view tells the operator through. Not owned; without one
    // nothing is shown (the unattended prompt).
    void setPrompt(IPrompt *prompt) { m_prompt = prompt; }
    IPrompt &prompt() const;

    void clearQuickFilters();
    void dropModeFilters();

    // The condition a quick filter builds for a column and an entered value;
    // empty when a number column is given anything but one number.
    static QString quickCondition(const RecordsColumn &column, const QString &value, bool minimum);

    // What the operator is told about a refused quick-filter value.
    static QString refusedValueText(const RecordsColumn &column, const QString &value);

private:
    bool setQuickFilter(int column, const AskFunction &ask, bool minimum);
    void labelTexts(QList<ColumnLabel> &lo, QList<ColumnLabel> &hi) const;

    DataTable *m_table = nullptr;
    IPrompt *m_prompt = nullptr;
    QString m_quickStatus;  // the condition status panel 1 shows for the quick filters
    QString m_storedExpression;  // the stored filter in force while extFiltrDown
    QString m_storedName;
    void applyModeFilter();      // the filter of the mode still down, or none
};

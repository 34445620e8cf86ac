#pragma once
// One table of the database as the program sees it: a fixed field list, a
// current row shared by every view bound to the table, a sort order by one
// field, a filter text in the tables' filter language, bookmarks and change
// notification that item models follow.
//
// Storage: each table lives in its own SQLite file, attached to the module's
// connection under a schema name (see DataModule.h); the table reaches the module
// only through TableHost. Values cross this interface as
// QVariant: date-times as QDateTime, dates as QDate, Booleans as bool, floats
// as double, integers as int, texts as QString; a blank field is a null
// QVariant. A blank text is stored as NULL, so an empty text and a blank
// field are the same thing.
//
// Every failure raises EGeneralError (core/Errors.h) carrying the database's
// message, except a malformed filter text, which raises EFilterError
// (records/FilterLanguage.h).
//
// All access happens on the main thread.

#include "records/TableSchema.h"
#include "records/FilterLanguage.h"

#include <QDateTime>
#include <QFlags>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class TableHost;
class QSqlQuery;

enum class LocateOption : int {
    None = 0,
    CaseInsensitive = 0x1,  // texts compare without regard to letter case
    PartialKey = 0x2,       // a text matches when it begins with the value
    AllRows = 0x4,          // look among all rows, also those the filter hides
};
Q_DECLARE_FLAGS(LocateOptions, LocateOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(LocateOptions)

enum class TableState { Inactive, Browse, Edit, Insert };

// One row as fetched for a grid: its key, the stored value of the sort field
// and the stored values of the fields asked for.
struct RowData {
    QVariant key;
    QVariant sortValue;
    QVector<QVariant> values;
};

class DataTable : public QObject {
    Q_OBJECT
public:
    // tableName: the name inside the file and the schema name it is attached
    // under ("Measures", "Notes", "Devices", "Cards"); fileName: its file in the
    // data directory. The first field is the primary key.
    DataTable(TableHost *host, const QString &tableName, const QString &fileName, const QList<FieldDef> &fields,
           QObject *parent = nullptr);
    ~DataTable() override;

    // ---- identity and fields
    TableHost *module() const { return m_dm; }
    QString tableName() const { return m_tableName; }
    QString fileName() const { return m_fileName; }
    QString filePath() const;   // data directory + separator + file name
    QString sqlName() const;    // the quoted schema-qualified name for SQL: "Measures"."Measures"
    const QList<FieldDef> &fields() const { return m_fields; }
    int fieldCount() const { return m_fields.size(); }
    int fieldIndex(const QString &name) const;          // -1 when unknown; any letter case
    const FieldDef &fieldDef(const QString &name) const;  // raises for an unknown field
    QString keyField() const { return m_fields.first().name; }
    QList<FilterField> filterFields() const;
    QSqlDatabase database() const;

    // ---- open and close
    // Open checks that the file holds the table with every field; an exclusive
    // open also takes the write lock of the table's file (no other connection
    // may write it) and holds it, in a transaction, until Close.
    void open();
    void close();
    bool active() const { return m_active; }
    void setExclusive(bool exclusive);
    bool exclusive() const { return m_exclusive; }
    // Creates the table from its field list in its file, replacing any remains
    // of it there. The table stays closed.
    void createTable();
    bool tableExists() const;  // the attached file holds a table of this name

    // ---- navigation over the current sort order and filter
    void first();
    void next();
    void prior();
    void last();
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    bool isEmpty() const;
    int recordCount() const;           // rows shown (filter applied)
    // The rows shown, counted no further than limit: the exact count when it
    // is below limit (then kept as recordCount()), else limit. Costs about
    // limit rows, however many the filter passes.
    int countUpTo(int limit) const;
    int knownCount() const { return m_countCache; }  // recordCount() when counted already, else -1
    // Up to limit rows shown whose key is above after (null: from the
    // first), counted in key order: how many, and the last key counted.
    // Consecutive calls count all rows shown a bounded step at a time.
    QPair<int, QVariant> countAfterKey(const QVariant &after, int limit) const;
    bool hasCurrent() const { return !m_curKey.isNull(); }

    // The first row, in the current order, whose field equals the value; on
    // success it becomes the current row. Several fields: all must match.
    bool locate(const QString &field, const QVariant &value, LocateOptions options = {});
    bool locate(const QStringList &fields, const QVariantList &values, LocateOptions options = {});

    // ---- editing
    TableState state() const { return m_state; }
    void append();   // an empty new row; the auto-increment field is assigned on post()
    void edit();     // the current row into edit mode
    void post();     // writes the pending row; the written row becomes current
    void cancel();   // drops the pending row (an appended row is forgotten)
    void remove();   // deletes the current row; the next one becomes current
    bool modified() const { return m_modified; }

    void setFieldValue(const QString &field, const QVariant &value);
    QVariant fieldValue(const QString &field) const;
    bool isNull(const QString &field) const;
    QString asString(const QString &field) const;     // the plain conversion (dates "dd.MM.yyyy HH:mm:ss")
    int asInteger(const QString &field) const;        // 0 when blank
    double asFloat(const QString &field) const;       // 0 when blank
    QDateTime asDateTime(const QString &field) const; // null when blank
    bool asBoolean(const QString &field) const;       // false when blank
    QString displayText(const QString &field) const;  // with the field's display format

    // ---- sort order
    // One field name, or empty for the primary-key order. Texts sort without
    // regard to letter case (ties in key order). An unknown field raises.
    void setIndexFieldNames(const QString &field);
    QString indexFieldNames() const;

    // ---- filter
    // The text is compiled when set (a pending edit is first posted); a
    // malformed text raises EFilterError and the previous text stays in force.
    // Setting a text while filtering is on, and switching filtering on or off,
    // move to the first row.
    void setFilter(const QString &text);
    QString filter() const { return m_filterText; }
    void setFiltered(bool filtered);
    bool filtered() const { return m_filtered; }

    // ---- bookmarks and re-reading
    QVariant getBookmark() const { return m_curKey; }       // the primary key of the current row
    bool gotoBookmark(const QVariant &bookmark);           // false when that row is gone or not shown
    bool bookmarkValid(const QVariant &bookmark) const;
    void refresh();   // re-reads the current row and tells the views to re-read everything

    // ---- change notification
    // DisableControls / EnableControls nest; while disabled no signal is sent,
    // and the last EnableControls sends one DataSetReset and CurrentChanged.
    void disableControls();
    void enableControls();
    bool controlsDisabled() const { return m_disableCount > 0; }

    // ---- set-based helpers over the rows shown
    // The condition of the filter in force (empty when every row is shown) and
    // the values to bind to its "?" placeholders in order; the table's SQL
    // name is sqlName(). Field names in it are double-quoted. Stored values
    // follow toStorage (date-times as StoredDateTime text, Booleans 0/1).
    // Rows changed by such SQL (best inside a Transaction) reach the views
    // after refresh().
    QString whereClause() const;
    QVariantList whereParams() const;
    // "ORDER BY ..." of the current sort order (descending reverses it).
    QString orderByClause(bool descending = false) const;
    // The SQL expression a field sorts by: the quoted name, the key of the
    // case-insensitive order for texts.
    QString sortExpression(const QString &field) const;
    // SQLite: every indexed text field has a sort-key column beside it
    // (SqlDialect::sortKeyColumn: the folded text, compared byte by byte, in
    // the order of the case-insensitive comparison), which the field's index
    // holds; a trigger clears the key when another program changes the text,
    // and rows another program inserts come without one. The program fills
    // missing keys at start-up and before it orders or searches by such a
    // field. The columns are the program's own: fields() never lists them.
    bool hasSortKey(const FieldDef &field) const;
    // The key expression for a column expression of the field: its sort-key
    // column where it has one, the computed key otherwise.
    QString keyExpression(const FieldDef &field, const QString &column) const;
    // Fills the missing keys (cheap when none is missing); quietly leaves
    // them when the file cannot be written now.
    void fillSortKeys() const;
    // Start-up: adds missing sort-key columns, fills every missing key and
    // makes the triggers. Inside the exclusive open.
    void prepareSortKeys();
    // The partial index of the rows whose keys are missing (empty without
    // sort keys) and its name.
    QString sortKeysIndexDefinition() const;
    static QString sortKeysIndexName() { return QStringLiteral("iSortKeys"); }
    // The values of field in the first and the last row shown when the rows
    // are sorted by that field (blanks sort first); both null when no row is
    // shown. The current row and sort order do not change.
    QPair<QVariant, QVariant> firstAndLastValue(const QString &field) const;
    // Sets field, in every row whose key is in the "Key" column of the SQL
    // table source, to that row's "Value", in one statement, all or nothing
    // (inside the caller's transaction when there is one). When the rows are
    // many (a quarter of the table or more), the field's indexes are taken
    // away first and built anew from the finished rows, which costs a
    // fraction of changing them row by row; their statistics stay as they
    // were. Call refresh() afterwards.
    void setFieldFromTable(const QString &field, const QString &source);
    // Position (0-based) of the row with this key in the current order among
    // the rows shown; -1 when it is not shown.
    int positionOfKey(const QVariant &key) const;
    // Whether the row with this key passes the filter in force.
    bool keyShown(const QVariant &key) const;
    // Rows in the table, filter or not.
    qint64 totalRows() const;
    // Up to limit rows shown, in the current order (forward) or against it,
    // starting after the boundary row (or at the start / end when there is
    // none, skipping offset rows there). fields: indexes into fields().
    QVector<RowData> fetchRows(const QVector<int> &fields, bool forward, const RowData *boundary, int limit,
                                int offset = 0) const;
    // Makes the row with this key current, whether the filter shows it or
    // not; false when there is no such row.
    bool findKey(const QVariant &key);

    // Conversions between the interface values and the stored ones.
    static QVariant toStorage(const FieldDef &field, const QVariant &value);
    static QVariant fromStorage(const FieldDef &field, const QVariant &stored);
    static QString plainText(const FieldDef &field, const QVariant &value);
    static QString displayText(const FieldDef &field, const QVariant &value);

    // Runs SQL on the module's connection; raises EGeneralError with the
    // database's message. For the module and the grid model.
    QSqlQuery exec(const QString &sql, const QVariantList &params = {}) const;

    // For the module: another table object on the same file changed it.
    void peerChanged();

signals:
    void currentChanged();            // another row became current, or its values changed
    void stateChanged();              // browse / edit / insert / inactive
    void dataSetReset();              // open, close, filter, sort or refresh: re-read everything
    void rowInserted(const QVariant &key, bool shown);   // a row was added (shown: passes the filter)
    void rowUpdated(const QVariant &key, int shownDelta); // a row changed; -1/0/+1 rows shown
    void rowDeleted(const QVariant &key, bool wasShown); // a row was removed

private:
    struct Cursor;

    void requireActive() const;
    void checkBrowseMode();
    void setState(TableState state);
    QString selectList() const;
    QString whereWith(const QString &extra, bool viaKeys = false) const;
    void setCurrent(const QVector<QVariant> &stored);
    void clearCurrent();
    bool loadKey(const QVariant &key, bool onlyShown);
    bool moveTo(bool forward, bool fromBoundary);
    RowData currentRowData() const;
    bool filterApplied() const;
    QString sortColumn() const;
    QString orderIndexHint() const;
    struct OrderSql {
        bool subset = false;  // sort the few rows the filter selects
        QString col, expr, key, asc, desc, hint;
        QString param;  // a bound value compared with expr
    };
    OrderSql orderSql() const;
    QSqlQuery execHinted(const QString &sql, const QVariantList &params) const;
    void setFieldFromTable(const FieldDef &f, const QString &source, bool many);
    int fieldIndexOrRaise(const QString &name) const;
    void notifyReset();
    void notifyCurrent();
    void invalidateCount() const
    {
        m_countCache = -1;
        m_countAtLeast = 0;
    }
    // Whether the filter shows fewer than a fiftieth of the table's rows
    // (its rows are then sorted rather than the order's index walked).
    bool shownFew() const;

    TableHost *m_dm;
    QString m_tableName;
    QString m_fileName;
    QList<FieldDef> m_fields;

    bool m_active = false;
    bool m_exclusive = false;
    bool m_holdsLock = false;
    TableState m_state = TableState::Inactive;
    bool m_eof = true;
    bool m_bof = true;
    bool m_modified = false;

    QVariant m_curKey;                 // primary key of the current row (null: none)
    QVector<QVariant> m_values;        // the current row (interface values)
    QVector<QVariant> m_stored;        // the current row as last read (stored values)
    bool m_savedEof = true;
    bool m_savedBof = true;
    QVector<QVariant> m_savedValues;   // the row before Edit
    QVariant m_savedKey;               // current key before Append
    QVector<bool> m_changed;           // fields set since Append / Edit

    int m_sortField = -1;              // -1: primary-key order
    QString m_filterText;
    CompiledFilter m_compiled;
    bool m_filtered = false;

    int m_disableCount = 0;
    bool m_pendingReset = false;
    bool m_pendingCurrent = false;
    mutable int m_countCache = -1;
    mutable int m_countAtLeast = 0;  // rows shown, at least (countUpTo's bound reached)
    mutable qint64 m_totalCache = -1;
    mutable qint64 m_totalEstimate = -1;  // the server's planner's figure (shownFew)
};

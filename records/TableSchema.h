#pragma once
// The schema of the tables (the four of the readings and the journal, the
// three of dose control and the audit trail), defined here once: the field lists the
// tables are created and checked from, the filter language compiles against
// and the grids show. Field order is the order in each table's file.

#include "records/FilterLanguage.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <initializer_list>

using FieldType = FilterFieldType;

// One field of a table: its name, type, display label, text size and the
// display format of on-screen text (a Qt date-time format such as
// "dd.MM.yy HH:mm", "0.000" for three decimals, "М;Ж" for Booleans; empty
// when the plain text is shown).
struct FieldDef {
    QString name;
    FieldType type = FieldType::Text;
    QString label;
    int size = 0;
    QString displayFormat;
};

// Field positions in each table's field list. A field's name, type and
// label are spelled only in TableSchema.cpp; code elsewhere names a field by
// its constant and gets the name through fieldName().
enum class MeasuresField : int {
    Index = 0,
    TarnAddress = 1,
    RecNumber = 2,
    DateTime = 3,
    ID = 4,
    Name = 5,
    Dose = 6,
    RecoveryTime = 7,
    FIO = 8,
    Check = 9,
    Count = 10,  // the number of fields
};

enum class NotesField : int {
    Index = 0,
    ID = 1,
    TimeFrom = 2,
    TimeTo = 3,
    FIO = 4,
    Dose = 5,
    Count = 6,
};

enum class DevicesField : int {
    TarnAddress = 0,
    LastRecNumber = 1,
    LastRecTime = 2,
    Count = 3,
};

enum class CardsField : int {
    Index = 0,
    ID = 1,
    FIO = 2,
    Label = 3,  // FIO_RFID, the person's label code
    BirthDay = 4,
    IsMale = 5,
    Vacancy = 6,
    SubDiv = 7,
    Address = 8,
    Telephone = 9,
    Comment = 10,
    Count = 11,
};

// Dose control (records/DoseLevels.*, records/DoseAlerts.*). Enumerated
// values are stored as the short Latin words those files name.
enum class DoseLevelsField : int {
    Index = 0,
    Scope = 1,      // "all", "subdiv", "person"
    Target = 2,     // the subdivision or the person key; empty for "all"
    Grp = 3,        // "A", "B", or empty: every group
    Period = 4,     // "reading", "month", "quarter", "year", "5years", "pregnancy"
    Kind = 5,       // "limit", "investigation"
    Value = 6,      // microsieverts
    Changed = 7,
    ChangedBy = 8,
    Count = 9,
};

enum class DosePersonsField : int {
    Index = 0,
    PersonKey = 1,  // "card:<Cards.Index>" or "name:<name folded>"
    FIO = 2,
    Grp = 3,        // "A" or "B"
    PregnantFrom = 4,
    PregnantTo = 5,  // blank: still declared
    Changed = 6,
    ChangedBy = 7,
    Count = 8,
};

enum class DoseAlertsField : int {
    Index = 0,
    PersonKey = 1,
    FIO = 2,
    SubDiv = 3,
    Period = 4,
    PeriodFrom = 5,
    PeriodTo = 6,
    Kind = 7,
    Level = 8,         // the level crossed, microsieverts
    Dose = 9,          // the dose in the period when it was crossed
    ReadingIndex = 10, // Measures.Index of the reading that crossed it
    ReadingID = 11,
    ReadingTime = 12,
    Raised = 13,
    Withdrawn = 14,    // blank while the alert applies
    WithdrawReason = 15,
    AckBy = 16,        // blank until acknowledged
    AckTime = 17,
    AckComment = 18,
    Count = 19,
};

// The audit trail (records/AuditLog.*): rows are only ever added.
enum class AuditField : int {
    Index = 0,
    TimeUtc = 1,
    TimeLocal = 2,
    DbUser = 3,     // the database's user; blank on the data directory's files
    OsUser = 4,     // the system user the monitor runs as
    Monitor = 5,    // which monitor made the change
    TableName = 6,  // the table changed, or "Dosimeter" for writes to one
    RowKey = 7,
    Action = 8,     // "insert", "update", "delete", "sync", "write"
    Before = 9,     // field=value pairs; for a deletion the whole row
    After = 10,
    Count = 11,
};

// The field lists; the first field is the primary key.
QList<FieldDef> measuresSchema();
QList<FieldDef> notesSchema();
QList<FieldDef> devicesSchema();
QList<FieldDef> cardsSchema();
QList<FieldDef> doseLevelsSchema();
QList<FieldDef> dosePersonsSchema();
QList<FieldDef> doseAlertsSchema();
QList<FieldDef> auditSchema();

// The name of a field as stored in the table's file.
QString fieldName(MeasuresField field);
QString fieldName(NotesField field);
QString fieldName(DevicesField field);
QString fieldName(CardsField field);
QString fieldName(DoseLevelsField field);
QString fieldName(DosePersonsField field);
QString fieldName(DoseAlertsField field);
QString fieldName(AuditField field);

// The names of several fields of one table, in the order given.
template<typename Field>
QStringList fieldNames(std::initializer_list<Field> fields)
{
    QStringList names;
    for (Field f : fields)
        names.append(fieldName(f));
    return names;
}

// Whether a table keeps an index on the field: every field does, but for
// the audit trail's long value texts (it is looked up by time and table).
bool fieldIndexed(const QString &table, const FieldDef &field);

// A field list as the filter language sees it (name, type, label, size).
QList<FilterField> filterFieldsOf(const QList<FieldDef> &fields);

// The filter language's view of each table: filterFieldsOf its schema.
QList<FilterField> measuresFilterFields();
QList<FilterField> notesFilterFields();
QList<FilterField> devicesFilterFields();
QList<FilterField> cardsFilterFields();

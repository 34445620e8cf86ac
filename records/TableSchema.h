#pragma once
// The schema of the four tables, defined here once: the field lists the
// tables are created and checked from, the filter language compiles against
// and the grids show. Field order is the order in each table's file.

#include "records/FilterLanguage.h"

#include <QList>
#include <QString>

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

// Field positions in the field list of Measures.
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

// The field lists; the first field is the primary key.
QList<FieldDef> measuresSchema();
QList<FieldDef> notesSchema();
QList<FieldDef> devicesSchema();
QList<FieldDef> cardsSchema();

// A field list as the filter language sees it (name, type, label, size).
QList<FilterField> filterFieldsOf(const QList<FieldDef> &fields);

// The filter language's view of each table: filterFieldsOf its schema.
QList<FilterField> measuresFilterFields();
QList<FilterField> notesFilterFields();
QList<FilterField> devicesFilterFields();
QList<FilterField> cardsFilterFields();

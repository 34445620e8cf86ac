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
enum MeasuresField : int {
    mfIndex = 0,
    mfTarnAddress = 1,
    mfRecNumber = 2,
    mfDateTime = 3,
    mfID = 4,
    mfName = 5,
    mfDose = 6,
    mfRecoveryTime = 7,
    mfFIO = 8,
    mfCheck = 9,
    mfCount = 10,  // the number of fields
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

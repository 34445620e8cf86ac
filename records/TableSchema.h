#pragma once
// The schema of the four tables, defined here once: the field lists the
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

// The field lists; the first field is the primary key.
QList<FieldDef> measuresSchema();
QList<FieldDef> notesSchema();
QList<FieldDef> devicesSchema();
QList<FieldDef> cardsSchema();

// The name of a field as stored in the table's file.
QString fieldName(MeasuresField field);
QString fieldName(NotesField field);
QString fieldName(DevicesField field);
QString fieldName(CardsField field);

// The names of several fields of one table, in the order given.
template<typename Field>
QStringList fieldNames(std::initializer_list<Field> fields)
{
    QStringList names;
    for (Field f : fields)
        names.append(fieldName(f));
    return names;
}

// A field list as the filter language sees it (name, type, label, size).
QList<FilterField> filterFieldsOf(const QList<FieldDef> &fields);

// The filter language's view of each table: filterFieldsOf its schema.
QList<FilterField> measuresFilterFields();
QList<FilterField> notesFilterFields();
QList<FilterField> devicesFilterFields();
QList<FilterField> cardsFilterFields();

#include "records/TableSchema.h"

namespace {

FieldDef F(const char *name, FieldType type, const char *label, int size = 0, const char *displayFormat = "")
{
    return FieldDef{QString::fromLatin1(name), type, QString::fromUtf8(label), size, QString::fromUtf8(displayFormat)};
}

} // namespace

QList<FieldDef> measuresSchema()
{
    using T = FieldType;
    // Built by position, so that the MeasuresField names cannot drift from it.
    QList<FieldDef> fields(int(MeasuresField::Count));
    fields[int(MeasuresField::Index)] = F("Index", T::AutoInc, "Индекс");
    fields[int(MeasuresField::TarnAddress)] = F("TarnAddress", T::Integer, "TARN Адрес");
    fields[int(MeasuresField::RecNumber)] = F("RecNumber", T::Integer, "№ Записи");
    fields[int(MeasuresField::DateTime)] = F("DateTime", T::DateTime, "Дата", 0, "dd.MM.yy HH:mm");
    fields[int(MeasuresField::ID)] = F("ID", T::Integer, "№");
    fields[int(MeasuresField::Name)] = F("Name", T::Text, "Идентификатор", 40);
    fields[int(MeasuresField::Dose)] = F("Dose", T::Float, "Доза, мкЗв", 0, "0.000");
    fields[int(MeasuresField::RecoveryTime)] = F("RecoveryTime", T::DateTime, "Время считывания");
    fields[int(MeasuresField::FIO)] = F("FIO", T::Text, "ФИО", 40);
    fields[int(MeasuresField::Check)] = F("Check", T::Boolean, "Пометка");
    return fields;
}

QList<FieldDef> notesSchema()
{
    using T = FieldType;
    return {
        F("Index", T::AutoInc, "Индекс"),
        F("ID", T::Integer, "Дозиметр"),
        F("TimeFrom", T::DateTime, "Приписан", 0, "dd.MM.yy"),
        F("TimeTo", T::DateTime, "Освобождён", 0, "dd.MM.yy"),
        F("FIO", T::Text, "ФИО", 40),
        F("Dose", T::Float, "Суммарная доза"),
    };
}

QList<FieldDef> devicesSchema()
{
    using T = FieldType;
    return {
        F("TarnAddress", T::Integer, "Tarn Адрес"),
        F("LastRecNumber", T::Integer, "Номер последней записи"),
        F("LastRecTime", T::DateTime, "Время последней записи"),
    };
}

QList<FieldDef> cardsSchema()
{
    using T = FieldType;
    return {
        F("Index", T::AutoInc, "Индекс"),
        F("ID", T::Integer, "Табельный номер"),
        F("FIO", T::Text, "ФИО", 40),
        F("FIO_RFID", T::Text, "Метка", 16),
        F("BirthDay", T::Date, "День рождения"),
        F("isMale", T::Boolean, "Пол", 0, "М;Ж"),
        F("Vacancy", T::Text, "Должность", 30),
        F("SubDiv", T::Text, "Подразделение", 30),
        F("Address", T::Text, "Адрес", 60),
        F("Telephone", T::Text, "Телефон", 30),
        F("Comment", T::Text, "Коментарий", 100),
    };
}

QList<FilterField> filterFieldsOf(const QList<FieldDef> &fields)
{
    QList<FilterField> list;
    for (const FieldDef &f : fields)
        list.append(FilterField{f.name, f.type, f.label, f.size});
    return list;
}

QList<FilterField> measuresFilterFields()
{
    return filterFieldsOf(measuresSchema());
}

QList<FilterField> notesFilterFields()
{
    return filterFieldsOf(notesSchema());
}

QList<FilterField> devicesFilterFields()
{
    return filterFieldsOf(devicesSchema());
}

QList<FilterField> cardsFilterFields()
{
    return filterFieldsOf(cardsSchema());
}

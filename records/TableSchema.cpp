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
    using N = NotesField;
    QList<FieldDef> fields(int(N::Count));
    fields[int(N::Index)] = F("Index", T::AutoInc, "Индекс");
    fields[int(N::ID)] = F("ID", T::Integer, "Дозиметр");
    fields[int(N::TimeFrom)] = F("TimeFrom", T::DateTime, "Приписан", 0, "dd.MM.yy");
    fields[int(N::TimeTo)] = F("TimeTo", T::DateTime, "Освобождён", 0, "dd.MM.yy");
    fields[int(N::FIO)] = F("FIO", T::Text, "ФИО", 40);
    fields[int(N::Dose)] = F("Dose", T::Float, "Суммарная доза");
    return fields;
}

QList<FieldDef> devicesSchema()
{
    using T = FieldType;
    using D = DevicesField;
    QList<FieldDef> fields(int(D::Count));
    fields[int(D::TarnAddress)] = F("TarnAddress", T::Integer, "Tarn Адрес");
    fields[int(D::LastRecNumber)] = F("LastRecNumber", T::Integer, "Номер последней записи");
    fields[int(D::LastRecTime)] = F("LastRecTime", T::DateTime, "Время последней записи");
    return fields;
}

QList<FieldDef> cardsSchema()
{
    using T = FieldType;
    using C = CardsField;
    QList<FieldDef> fields(int(C::Count));
    fields[int(C::Index)] = F("Index", T::AutoInc, "Индекс");
    fields[int(C::ID)] = F("ID", T::Integer, "Табельный номер");
    fields[int(C::FIO)] = F("FIO", T::Text, "ФИО", 40);
    fields[int(C::Label)] = F("FIO_RFID", T::Text, "Метка", 16);
    fields[int(C::BirthDay)] = F("BirthDay", T::Date, "День рождения");
    fields[int(C::IsMale)] = F("isMale", T::Boolean, "Пол", 0, "М;Ж");
    fields[int(C::Vacancy)] = F("Vacancy", T::Text, "Должность", 30);
    fields[int(C::SubDiv)] = F("SubDiv", T::Text, "Подразделение", 30);
    fields[int(C::Address)] = F("Address", T::Text, "Адрес", 60);
    fields[int(C::Telephone)] = F("Telephone", T::Text, "Телефон", 30);
    fields[int(C::Comment)] = F("Comment", T::Text, "Коментарий", 100);
    return fields;
}

// Each schema built once for the name look-ups (thread-safe static
// initialisation; read only afterwards).
QString fieldName(MeasuresField field)
{
    static const QList<FieldDef> fields = measuresSchema();
    return fields.at(int(field)).name;
}

QString fieldName(NotesField field)
{
    static const QList<FieldDef> fields = notesSchema();
    return fields.at(int(field)).name;
}

QString fieldName(DevicesField field)
{
    static const QList<FieldDef> fields = devicesSchema();
    return fields.at(int(field)).name;
}

QString fieldName(CardsField field)
{
    static const QList<FieldDef> fields = cardsSchema();
    return fields.at(int(field)).name;
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

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

QList<FieldDef> doseLevelsSchema()
{
    using T = FieldType;
    using L = DoseLevelsField;
    QList<FieldDef> fields(int(L::Count));
    fields[int(L::Index)] = F("Index", T::AutoInc, "Индекс");
    fields[int(L::Scope)] = F("Scope", T::Text, "Для кого", 10);
    fields[int(L::Target)] = F("Target", T::Text, "Подразделение или лицо", 80);
    fields[int(L::Grp)] = F("Grp", T::Text, "Группа", 1);
    fields[int(L::Period)] = F("Period", T::Text, "Период", 10);
    fields[int(L::Kind)] = F("Kind", T::Text, "Вид уровня", 15);
    fields[int(L::Value)] = F("Value", T::Float, "Уровень, мкЗв", 0, "0.000");
    fields[int(L::Changed)] = F("Changed", T::DateTime, "Изменён", 0, "dd.MM.yy HH:mm");
    fields[int(L::ChangedBy)] = F("ChangedBy", T::Text, "Кем изменён", 40);
    return fields;
}

QList<FieldDef> dosePersonsSchema()
{
    using T = FieldType;
    using P = DosePersonsField;
    QList<FieldDef> fields(int(P::Count));
    fields[int(P::Index)] = F("Index", T::AutoInc, "Индекс");
    fields[int(P::PersonKey)] = F("PersonKey", T::Text, "Лицо", 80);
    fields[int(P::FIO)] = F("FIO", T::Text, "ФИО", 60);
    fields[int(P::Grp)] = F("Grp", T::Text, "Группа", 1);
    fields[int(P::PregnantFrom)] = F("PregnantFrom", T::Date, "Беременность с");
    fields[int(P::PregnantTo)] = F("PregnantTo", T::Date, "Беременность по");
    fields[int(P::Changed)] = F("Changed", T::DateTime, "Изменено", 0, "dd.MM.yy HH:mm");
    fields[int(P::ChangedBy)] = F("ChangedBy", T::Text, "Кем изменено", 40);
    return fields;
}

QList<FieldDef> doseAlertsSchema()
{
    using T = FieldType;
    using A = DoseAlertsField;
    QList<FieldDef> fields(int(A::Count));
    fields[int(A::Index)] = F("Index", T::AutoInc, "Индекс");
    fields[int(A::PersonKey)] = F("PersonKey", T::Text, "Лицо", 80);
    fields[int(A::FIO)] = F("FIO", T::Text, "ФИО", 60);
    fields[int(A::SubDiv)] = F("SubDiv", T::Text, "Подразделение", 30);
    fields[int(A::Period)] = F("Period", T::Text, "Период", 10);
    fields[int(A::PeriodFrom)] = F("PeriodFrom", T::DateTime, "Начало периода", 0, "dd.MM.yy");
    fields[int(A::PeriodTo)] = F("PeriodTo", T::DateTime, "Конец периода", 0, "dd.MM.yy");
    fields[int(A::Kind)] = F("Kind", T::Text, "Вид уровня", 15);
    fields[int(A::Level)] = F("Level", T::Float, "Уровень, мкЗв", 0, "0.000");
    fields[int(A::Dose)] = F("Dose", T::Float, "Доза, мкЗв", 0, "0.000");
    fields[int(A::ReadingIndex)] = F("ReadingIndex", T::Integer, "Показание");
    fields[int(A::ReadingID)] = F("ReadingID", T::Integer, "Дозиметр");
    fields[int(A::ReadingTime)] = F("ReadingTime", T::DateTime, "Время показания", 0, "dd.MM.yy HH:mm");
    fields[int(A::Raised)] = F("Raised", T::DateTime, "Поднято", 0, "dd.MM.yy HH:mm");
    fields[int(A::Withdrawn)] = F("Withdrawn", T::DateTime, "Снято", 0, "dd.MM.yy HH:mm");
    fields[int(A::WithdrawReason)] = F("WithdrawReason", T::Text, "Причина снятия", 200);
    fields[int(A::AckBy)] = F("AckBy", T::Text, "Квитировал", 40);
    fields[int(A::AckTime)] = F("AckTime", T::DateTime, "Квитировано", 0, "dd.MM.yy HH:mm");
    fields[int(A::AckComment)] = F("AckComment", T::Text, "Комментарий", 200);
    return fields;
}

QList<FieldDef> auditSchema()
{
    using T = FieldType;
    using A = AuditField;
    QList<FieldDef> fields(int(A::Count));
    fields[int(A::Index)] = F("Index", T::AutoInc, "Индекс");
    fields[int(A::TimeUtc)] = F("TimeUtc", T::Text, "Время UTC", 24);
    fields[int(A::TimeLocal)] = F("TimeLocal", T::DateTime, "Время", 0, "dd.MM.yy HH:mm:ss");
    fields[int(A::DbUser)] = F("DbUser", T::Text, "Пользователь БД", 63);
    fields[int(A::OsUser)] = F("OsUser", T::Text, "Пользователь ОС", 64);
    fields[int(A::Monitor)] = F("Monitor", T::Text, "Монитор", 120);
    fields[int(A::TableName)] = F("TableName", T::Text, "Таблица", 30);
    fields[int(A::RowKey)] = F("RowKey", T::Text, "Запись", 80);
    fields[int(A::Action)] = F("Action", T::Text, "Действие", 10);
    fields[int(A::Before)] = F("Before", T::Text, "Было", 2000);
    fields[int(A::After)] = F("After", T::Text, "Стало", 2000);
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

QString fieldName(DoseLevelsField field)
{
    static const QList<FieldDef> fields = doseLevelsSchema();
    return fields.at(int(field)).name;
}

QString fieldName(DosePersonsField field)
{
    static const QList<FieldDef> fields = dosePersonsSchema();
    return fields.at(int(field)).name;
}

QString fieldName(DoseAlertsField field)
{
    static const QList<FieldDef> fields = doseAlertsSchema();
    return fields.at(int(field)).name;
}

QString fieldName(AuditField field)
{
    static const QList<FieldDef> fields = auditSchema();
    return fields.at(int(field)).name;
}

bool fieldIndexed(const QString &table, const FieldDef &field)
{
    if (table != QLatin1String("Audit"))
        return true;
    return field.name == fieldName(AuditField::TimeLocal) || field.name == fieldName(AuditField::TableName);
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

// The personal dose card; see DoseCard.h.

#include "records/DoseCard.h"

#include "records/DataModule.h"
#include "records/DoseText.h"
#include "records/StoreError.h"
#include "records/StoredDateTime.h"

#include <algorithm>

namespace {

QString number(double v, const CsvFormat &format)
{
    QString text = QString::number(v, 'f', 3);
    if (format.decimal != QLatin1Char('.'))
        text.replace(QLatin1Char('.'), format.decimal);
    return text;
}

QString optionalNumber(const std::optional<double> &v, const CsvFormat &format)
{
    return v ? number(*v, format) : QString();
}

QString dayText(const QDateTime &t)
{
    return t.isNull() ? QString() : t.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

} // namespace

QString DoseCard::groupTitle(WorkerGroup group)
{
    return group == WorkerGroup::B ? QStringLiteral("группа Б") : QStringLiteral("группа А");
}

std::optional<double> DoseCard::level(DosePeriod period, LevelKind kind) const
{
    for (const AppliedLevel &l : levels) {
        if (l.period == period && l.kind == kind)
            return l.value;
    }
    return std::nullopt;
}

const DoseCardYear *DoseCard::year(int y) const
{
    for (const DoseCardYear &r : years) {
        if (r.year == y)
            return &r;
    }
    return nullptr;
}

QList<DoseCardMonth> DoseCard::monthsOf(int y) const
{
    QList<DoseCardMonth> list;
    for (const DoseCardMonth &m : months) {
        if (m.year == y)
            list.append(m);
    }
    return list;
}

DoseCardCheck DoseCard::yearCheck(int y) const
{
    DoseCardCheck c;
    c.period = DosePeriods::holding(DosePeriod::Year, QDate(y, 1, 1));
    if (const DoseCardYear *r = year(y))
        c.dose = r->dose;
    c.limit = level(DosePeriod::Year, LevelKind::Limit);
    c.investigation = level(DosePeriod::Year, LevelKind::Investigation);
    return c;
}

Result<DoseCard> DoseCard::compute(DataModule &dm, const QString &personKey, const QDate &asOf)
{
    if (!asOf.isValid())
        return Error{ErrorKind::Invalid, QStringLiteral("Не указана дата карточки")};
    try {
        PersonDirectory &dir = PersonDirectory::of(dm);
        dir.refresh();
        const std::optional<DosePerson> person = dir.person(personKey);
        if (!person)
            return Error{ErrorKind::Invalid, QStringLiteral("Нет такого человека: %1").arg(personKey)};
        DoseCard c;
        c.asOf = asOf;
        c.person = *person;
        if (!person->cardKey.isNull())
            c.card = CardIndex(dm).card(person->cardKey);
        DoseLevels levels(dm);
        c.settings = levels.person(personKey);
        c.levels = levels.applying(c.settings, person->subDiv);
        c.lastYear = asOf.year();

        // The dosimeters worn; their first dated start bounds the card.
        int first = c.lastYear;
        for (const PersonBinding &b : dir.bindingsOf(personKey)) {
            DoseCardDosimeter d;
            d.id = b.id;
            d.from = b.from.isEmpty() ? QDateTime() : dateTimeFromStored(b.from);
            d.open = b.open;
            d.to = b.open ? QDateTime() : dateTimeFromStored(b.to);
            if (d.from.isValid() && d.from.date().year() <= c.lastYear)
                first = std::min(first, d.from.date().year());
            c.dosimeters.append(d);
        }
        std::sort(c.dosimeters.begin(), c.dosimeters.end(), [](const DoseCardDosimeter &a, const DoseCardDosimeter &b) {
            return a.from != b.from ? a.from < b.from : a.id < b.id;
        });

        // Every month the person's bindings hold up to the end of the year,
        // summed by the store.
        PersonDoses doses(dm);
        const QDateTime end(QDate(c.lastYear, 12, 31), QTime(23, 59, 59, 999));
        const QMap<QString, PeriodDose> byMonth = doses.byMonth(personKey, minDateTime(), end);
        QList<std::pair<QDate, PeriodDose>> monthDoses;
        for (auto it = byMonth.cbegin(); it != byMonth.cend(); ++it) {
            const QDate month = QDate::fromString(it.key() + QStringLiteral("-01"), QStringLiteral("yyyy-MM-dd"));
            if (month.isValid())
                monthDoses.append({month, *it});
        }
        if (!monthDoses.isEmpty())
            first = std::min(first, monthDoses.first().first.year());
        c.firstYear = first;
        const int monthCount = (c.lastYear - first + 1) * 12;
        c.months.resize(monthCount);
        for (int i = 0; i < monthCount; ++i) {
            c.months[i].year = first + i / 12;
            c.months[i].month = i % 12 + 1;
        }
        for (const auto &[d, dose] : monthDoses) {
            const int i = (d.year() - first) * 12 + d.month() - 1;
            if (i < 0 || i >= monthCount)
                continue;
            c.months[i].dose += dose.dose;
            c.months[i].readings += dose.readings;
        }
        double running = 0;
        for (int y = first; y <= c.lastYear; ++y) {
            DoseCardYear row;
            row.year = y;
            for (int m = 0; m < 12; ++m) {
                DoseCardMonth &month = c.months[(y - first) * 12 + m];
                running += month.dose;
                month.running = running;
                row.quarters[m / 3] += month.dose;
                row.dose += month.dose;
                row.readings += month.readings;
            }
            row.running = running;
            c.total += row.dose;
            c.readings += row.readings;
            c.years.append(row);
        }

        c.fiveYears.period = DosePeriods::fiveYears(c.lastYear - 4);
        for (const DoseCardYear &y : c.years) {
            if (y.year >= c.lastYear - 4)
                c.fiveYears.dose += y.dose;
        }
        c.fiveYears.limit = c.level(DosePeriod::FiveYears, LevelKind::Limit);
        c.fiveYears.investigation = c.level(DosePeriod::FiveYears, LevelKind::Investigation);

        if (!c.settings.pregnantFrom.isNull()) {
            DoseCardCheck p;
            const QDate to = c.settings.pregnantTo.isNull() ? std::max(asOf, c.settings.pregnantFrom) : c.settings.pregnantTo;
            p.period = DosePeriods::days(DosePeriod::Pregnancy, c.settings.pregnantFrom, to);
            p.dose = doses.dose(personKey, p.period).dose;
            p.limit = c.level(DosePeriod::Pregnancy, LevelKind::Limit);
            p.investigation = c.level(DosePeriod::Pregnancy, LevelKind::Investigation);
            c.pregnancy = p;
        }
        c.alerts = DoseAlerts(dm).alertsOf(personKey);
        return c;
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
}

QList<QStringList> DoseCard::csvRows(const CsvFormat &format) const
{
    const auto n = [&format](double v) { return number(v, format); };
    QList<QStringList> rows;
    rows.append({QStringLiteral("Карточка индивидуальных доз"), person.fio});
    if (card) {
        rows.append({QStringLiteral("Таб. номер"), card->id.toString()});
        rows.append({QStringLiteral("Метка"), card->label});
        rows.append({QStringLiteral("Подразделение"), card->subDiv});
        rows.append({QStringLiteral("Должность"), card->vacancy});
    }
    rows.append({QStringLiteral("Группа"), groupTitle(settings.group)});
    rows.append({QStringLiteral("По состоянию на"), asOf.toString(QStringLiteral("dd.MM.yyyy"))});
    rows.append(QStringList());
    rows.append({QStringLiteral("Год"), QStringLiteral("Месяц"), QStringLiteral("Показаний"),
                 QStringLiteral("Доза за месяц, мкЗв"), QStringLiteral("Нарастающим итогом, мкЗв")});
    for (const DoseCardMonth &m : months)
        rows.append({QString::number(m.year), QString::number(m.month), QString::number(m.readings), n(m.dose), n(m.running)});
    rows.append(QStringList());
    rows.append({QStringLiteral("Год"), QStringLiteral("I квартал, мкЗв"), QStringLiteral("II квартал, мкЗв"),
                 QStringLiteral("III квартал, мкЗв"), QStringLiteral("IV квартал, мкЗв"), QStringLiteral("За год, мкЗв"),
                 QStringLiteral("Нарастающим итогом, мкЗв"), QStringLiteral("Предел за год, мкЗв"),
                 QStringLiteral("Уровень расследования за год, мкЗв")});
    const std::optional<double> yearLimit = level(DosePeriod::Year, LevelKind::Limit);
    const std::optional<double> yearInvestigation = level(DosePeriod::Year, LevelKind::Investigation);
    for (const DoseCardYear &y : years)
        rows.append({QString::number(y.year), n(y.quarters[0]), n(y.quarters[1]), n(y.quarters[2]), n(y.quarters[3]),
                     n(y.dose), n(y.running), optionalNumber(yearLimit, format), optionalNumber(yearInvestigation, format)});
    rows.append(QStringList());
    rows.append({QStringLiteral("Период"), QStringLiteral("Доза, мкЗв"), QStringLiteral("Предел, мкЗв"),
                 QStringLiteral("Уровень расследования, мкЗв")});
    rows.append({DosePeriods::describe(fiveYears.period), n(fiveYears.dose), optionalNumber(fiveYears.limit, format),
                 optionalNumber(fiveYears.investigation, format)});
    if (pregnancy)
        rows.append({QStringLiteral("Беременность ") + DosePeriods::describe(pregnancy->period), n(pregnancy->dose),
                     optionalNumber(pregnancy->limit, format), optionalNumber(pregnancy->investigation, format)});
    rows.append(QStringList());
    rows.append({QStringLiteral("Дозиметр"), QStringLiteral("Выдан"), QStringLiteral("Сдан")});
    for (const DoseCardDosimeter &d : dosimeters)
        rows.append({QString::number(d.id), dayText(d.from), d.open ? QStringLiteral("не сдан") : dayText(d.to)});
    rows.append(QStringList());
    rows.append({QStringLiteral("Оповещение"), QStringLiteral("Состояние")});
    for (const DoseAlert &a : alerts) {
        const QString state = !a.standing() ? QStringLiteral("снято: ") + a.withdrawReason
            : a.acknowledged()              ? QStringLiteral("принято: ") + a.ackBy
                                            : QStringLiteral("не принято");
        rows.append({a.text(), state});
    }
    return rows;
}

Result<> DoseCard::exportCsv(const QString &path, const CsvFormat &format) const
{
    return CsvWriter::writeAll(path, format, csvRows(format));
}

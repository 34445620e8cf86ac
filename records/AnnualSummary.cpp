// The annual summary; see AnnualSummary.h.

#include "records/AnnualSummary.h"

#include "records/DataModule.h"
#include "records/DoseCard.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"

#include <QHash>
#include <QSqlQuery>
#include <map>

using RecordsSql::quoted;

const std::array<double, AnnualSummary::BandCount - 1> AnnualSummary::BandBounds = {1000, 5000, 6000, 15000, 20000};

int AnnualSummary::bandOf(double microsieverts)
{
    for (int b = 0; b < BandCount - 1; ++b) {
        if (microsieverts <= BandBounds[b])
            return b;
    }
    return BandCount - 1;
}

QString AnnualSummary::bandTitle(int band)
{
    static const char *const titles[BandCount] = {"0–1 мЗв", "1–5 мЗв", "5–6 мЗв", "6–15 мЗв", "15–20 мЗв", "более 20 мЗв"};
    return band >= 0 && band < BandCount ? QString::fromUtf8(titles[band]) : QString();
}

void AnnualSummary::Section::add(const Person &p)
{
    persons.append(p);
    ++bands[bandOf(p.dose)];
    sum += p.dose;
    if (persons.size() == 1 || p.dose > largest) {
        largest = p.dose;
        largestFio = p.person.fio;
    }
}

void AnnualSummary::Section::finish()
{
    mean = persons.isEmpty() ? 0 : sum / persons.size();
}

QString AnnualSummary::sectionTitle(const Section &s)
{
    return (s.subDiv.isEmpty() ? QStringLiteral("Без подразделения") : s.subDiv) + QStringLiteral(", ")
        + DoseCard::groupTitle(s.group);
}

Result<AnnualSummary> AnnualSummary::compute(DataModule &dm, int year)
{
    if (year < 1900 || year > 9999)
        return Error{ErrorKind::Invalid, QStringLiteral("Год указан неверно: %1").arg(year)};
    try {
        // Each person's group, the latest setting of each, in one pass.
        QHash<QString, WorkerGroup> groups;
        {
            DataTable &t = dm.dosePersons();
            using P = DosePersonsField;
            const auto f = [](P field) { return quoted(fieldName(field)); };
            QSqlQuery q = t.exec(QStringLiteral("SELECT %2, %3 FROM %1 ORDER BY %4")
                                     .arg(t.sqlName(), f(P::PersonKey), f(P::Grp), f(P::Index)));
            const QString groupB = DoseLevels::groupWord(WorkerGroup::B);
            while (q.next())
                groups.insert(q.value(0).toString(),
                              q.value(1).toString().trimmed() == groupB ? WorkerGroup::B : WorkerGroup::A);
        }
        const PeriodRange period = DosePeriods::holding(DosePeriod::Year, QDate(year, 1, 1));
        AnnualSummary s;
        s.year = year;
        std::map<std::pair<QString, int>, Section> bySection;
        for (const PersonDoses::Row &row : PersonDoses(dm).everyone(period.from, period.to)) {
            Person p;
            p.person = row.person;
            p.group = groups.value(row.person.key, WorkerGroup::A);
            p.dose = row.dose.dose;
            p.readings = row.dose.readings;
            Section &section = bySection[{p.person.subDiv, int(p.group)}];
            section.subDiv = p.person.subDiv;
            section.group = p.group;
            section.add(p);
            s.everyone.add(p);
        }
        for (auto &[key, section] : bySection) {
            section.finish();
            s.sections.append(section);
        }
        s.everyone.finish();
        return s;
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
}

QList<QStringList> AnnualSummary::csvRows(const CsvFormat &format) const
{
    const auto n = [&format](double v) {
        QString text = QString::number(v, 'f', 3);
        if (format.decimal != QLatin1Char('.'))
            text.replace(QLatin1Char('.'), format.decimal);
        return text;
    };
    QList<QStringList> rows;
    rows.append({QStringLiteral("Годовая сводка доз"), QString::number(year)});
    const auto addSection = [&](const QString &title, const Section &sec, bool withPersons) {
        rows.append(QStringList());
        rows.append({title});
        if (withPersons) {
            rows.append({QStringLiteral("ФИО"), QStringLiteral("Показаний"),
                         QStringLiteral("Доза за год, мкЗв")});
            for (const Person &p : sec.persons)
                rows.append({p.person.fio, QString::number(p.readings), n(p.dose)});
        }
        QStringList bandTitles{QStringLiteral("Человек")};
        QStringList bandCounts{QString::number(sec.persons.size())};
        for (int b = 0; b < BandCount; ++b) {
            bandTitles.append(bandTitle(b));
            bandCounts.append(QString::number(sec.bands[b]));
        }
        rows.append(bandTitles);
        rows.append(bandCounts);
        rows.append({QStringLiteral("Средняя доза, мкЗв"), n(sec.mean)});
        rows.append({QStringLiteral("Наибольшая доза, мкЗв"), n(sec.largest), sec.largestFio});
    };
    for (const Section &sec : sections)
        addSection(sectionTitle(sec), sec, true);
    addSection(QStringLiteral("Всего"), everyone, false);
    return rows;
}

Result<> AnnualSummary::exportCsv(const QString &path, const CsvFormat &format) const
{
    return CsvWriter::writeAll(path, format, csvRows(format));
}

// The dose card and the annual summary: the card's month, quarter, year and
// running sums against independent SQL sums, the dose text rule, the dose
// bands at their bounds, the mean and the largest dose.

#include "DoseSite.h"

#include "records/AnnualSummary.h"
#include "records/CardIndex.h"
#include "records/DoseCard.h"
#include "records/DoseText.h"
#include "records/ReadingStore.h"
#include "records/StoredDateTime.h"

#include <QSqlQuery>
#include <QTest>

namespace {

struct Site : DoseSite {
    // The plain SQL sum of one dosimeter's readings in [from, to].
    double sqlSum(int id, const QDateTime &from, const QDateTime &to)
    {
        return DoseSite::sqlSum(QStringLiteral("\"ID\" = ? AND \"DateTime\" >= ? AND \"DateTime\" <= ?"),
                                {id, dateTimeToStored(from), dateTimeToStored(to)});
    }
    QVariant card(const QString &fio, const QString &subDiv)
    {
        CardData c;
        c.fio = fio;
        c.subDiv = subDiv;
        return CardIndex(*dm).createCard(c).value;
    }
};

} // namespace

class TestDoseReport : public QObject {
    Q_OBJECT
private slots:
    void cardSumsMatchIndependentSums();
    void doseTextRule();
    void summaryBandsMeanAndLargest();
};

void TestDoseReport::cardSumsMatchIndependentSums()
{
    Site s;
    const QVariant key = s.card(QStringLiteral("Орлова Анна"), QStringLiteral("Цех 2"));
    // Dosimeter 7 is hers from 2023 on; dosimeter 8 only in 2024 Q2. Its
    // readings before and after that are someone else's.
    s.bind(7, QStringLiteral("Орлова Анна"), at(2023, 1, 1, 0));
    s.bind(8, QStringLiteral("Иной"), at(2020, 1, 1, 0));
    s.bind(8, QStringLiteral("орлова  анна"), at(2024, 4, 1, 0), at(2024, 6, 30, 23, 59, 59));
    // Readings on every bound of a month and quarter, and between them.
    double dose = 1;
    for (int y = 2023; y <= 2025; ++y) {
        for (int m = 1; m <= 12; ++m) {
            const QDate first(y, m, 1);
            s.read(7, QDateTime(first, QTime(0, 0)), dose += 0.5);
            s.read(7, QDateTime(first.addDays(14), QTime(13, 30)), dose += 0.25);
            s.read(7, QDateTime(QDate(y, m, first.daysInMonth()), QTime(23, 59, 59)), dose += 1);
            s.read(8, QDateTime(first.addDays(3), QTime(9, 0)), 100 + m);
        }
    }
    const QString person = PersonDirectory::cardPersonKey(key);
    const Result<DoseCard> computed = DoseCard::compute(*s.dm, person, QDate(2025, 8, 1));
    QVERIFY2(computed.ok(), qPrintable(computed.errorText()));
    const DoseCard &c = computed.value;
    QCOMPARE(c.firstYear, 2023);
    QCOMPARE(c.months.size(), 36);
    QVERIFY(c.card);
    QCOMPARE(c.card->subDiv, QStringLiteral("Цех 2"));
    QCOMPARE(c.dosimeters.size(), 2);

    // Independent sums: dosimeter 7 whole, dosimeter 8 inside her binding.
    const auto independent = [&s](const QDateTime &from, const QDateTime &to) {
        const QDateTime bFrom = at(2024, 4, 1, 0, 0, 0), bTo = at(2024, 6, 30, 23, 59, 59);
        double v = s.sqlSum(7, from, to);
        if (from <= bTo && to >= bFrom)
            v += s.sqlSum(8, std::max(from, bFrom), std::min(to, bTo));
        return v;
    };
    const QDateTime origin = at(2000, 1, 1, 0);
    PersonDoses doses(*s.dm);
    for (const DoseCardMonth &m : c.months) {
        const PeriodRange p = DosePeriods::holding(DosePeriod::Month, QDate(m.year, m.month, 1));
        QCOMPARE(m.dose, independent(p.from, p.to));
        QCOMPARE(m.dose, doses.dose(person, p).dose);
        QCOMPARE(m.running, independent(origin, p.to));
    }
    for (const DoseCardYear &y : c.years) {
        for (int q = 0; q < 4; ++q) {
            const PeriodRange p = DosePeriods::holding(DosePeriod::Quarter, QDate(y.year, q * 3 + 1, 1));
            QCOMPARE(y.quarters[q], independent(p.from, p.to));
        }
        const PeriodRange p = DosePeriods::holding(DosePeriod::Year, QDate(y.year, 1, 1));
        QCOMPARE(y.dose, independent(p.from, p.to));
        QCOMPARE(y.running, independent(origin, p.to));
    }
    QVERIFY(c.years[1].quarters[1] > s.sqlSum(7, at(2024, 4, 1, 0), at(2024, 6, 30, 23, 59, 59)));  // dosimeter 8 counted
    QCOMPARE(c.total, independent(origin, at(2025, 12, 31, 23, 59, 59)));
    QCOMPARE(c.fiveYears.dose, c.total);  // 2021-2025 holds every reading
    QVERIFY(c.fiveYears.period == DosePeriods::fiveYears(2021));
    QVERIFY(c.fiveYears.limit == 100000.0);
    QVERIFY(c.level(DosePeriod::Year, LevelKind::Limit) == 50000.0);

    // A person nobody knows is refused.
    QCOMPARE(DoseCard::compute(*s.dm, QStringLiteral("name:никто"), QDate(2025, 1, 1)).kind(), ErrorKind::Invalid);
}

void TestDoseReport::doseTextRule()
{
    const QChar nb(0x00A0);
    QCOMPARE(DoseText::format(999), QStringLiteral("999,0") + nb + QStringLiteral("мкЗв"));
    QCOMPARE(DoseText::format(999.94), QStringLiteral("999,9") + nb + QStringLiteral("мкЗв"));
    QCOMPARE(DoseText::format(999.96), QStringLiteral("1,00") + nb + QStringLiteral("мЗв"));  // rounded, then the unit
    QCOMPARE(DoseText::format(1000), QStringLiteral("1,00") + nb + QStringLiteral("мЗв"));
    QCOMPARE(DoseText::format(0), QStringLiteral("0,0") + nb + QStringLiteral("мкЗв"));
    QCOMPARE(DoseText::format(1234567), QStringLiteral("1") + nb + QStringLiteral("234,57") + nb + QStringLiteral("мЗв"));
    // A single reading stays in microsieverts.
    QCOMPARE(DoseText::format(1500, DoseShown::Reading), QStringLiteral("1") + nb + QStringLiteral("500,0") + nb + QStringLiteral("мкЗв"));
}

void TestDoseReport::summaryBandsMeanAndLargest()
{
    // Band bounds belong to the lower band.
    const QList<QPair<double, int>> bounds = {{0, 0},     {1000, 0},  {1000.001, 1}, {5000, 1},  {5000.001, 2},
                                              {6000, 2},  {6000.5, 3}, {15000, 3},   {15001, 4}, {20000, 4},
                                              {20000.001, 5}};
    for (const auto &[dose, band] : bounds)
        QCOMPARE(AnnualSummary::bandOf(dose), band);

    Site s;
    s.card(QStringLiteral("Алексеев"), QStringLiteral("Цех 1"));
    s.card(QStringLiteral("Борисов"), QStringLiteral("Цех 1"));
    s.card(QStringLiteral("Васильев"), QStringLiteral("Цех 1"));
    const QVariant gKey = s.card(QStringLiteral("Григорьев"), QStringLiteral("Цех 1"));
    QVERIFY(DoseLevels(*s.dm).setPerson({PersonDirectory::cardPersonKey(gKey), WorkerGroup::B, {}, {}}, QStringLiteral("оператор")).ok());
    // Name, dosimeter, 2025 dose (two readings each), 2024 dose.
    struct P { const char *fio; int id; double dose; };
    const P persons[] = {{"Алексеев", 1, 5000}, {"Борисов", 2, 5000.5}, {"Васильев", 3, 1000},
                         {"Григорьев", 4, 20000}, {"Дмитриев", 5, 20001}, {"Егоров", 6, 0}};
    for (const P &p : persons) {
        s.bind(p.id, QString::fromUtf8(p.fio), at(2024, 6, 1, 0));
        s.read(p.id, at(2024, 12, 31, 23, 59, 59), 777);  // the year before
        s.read(p.id, at(2025, 1, 1, 0), p.dose / 2);
        s.read(p.id, at(2025, 12, 31, 23, 59, 59), p.dose / 2);
        s.read(p.id, at(2026, 1, 1, 0), 999);  // the year after
    }
    const Result<AnnualSummary> computed = AnnualSummary::compute(*s.dm, 2025);
    QVERIFY2(computed.ok(), qPrintable(computed.errorText()));
    const AnnualSummary &sum = computed.value;
    // Sections: no subdivision (Дмитриев, Егоров), Цех 1 group A, Цех 1 group B.
    QCOMPARE(sum.sections.size(), 3);
    const AnnualSummary::Section &none = sum.sections[0];
    QCOMPARE(none.subDiv, QString());
    QCOMPARE(none.persons.size(), 2);
    QVERIFY((none.bands == std::array<int, 6>{1, 0, 0, 0, 0, 1}));
    const AnnualSummary::Section &a = sum.sections[1];
    QCOMPARE(a.subDiv, QStringLiteral("Цех 1"));
    QVERIFY(a.group == WorkerGroup::A);
    QVERIFY((a.bands == std::array<int, 6>{1, 1, 1, 0, 0, 0}));
    QCOMPARE(a.mean, (5000 + 5000.5 + 1000) / 3);
    QCOMPARE(a.largest, 5000.5);
    QCOMPARE(a.largestFio, QStringLiteral("Борисов"));
    const AnnualSummary::Section &b = sum.sections[2];
    QVERIFY(b.group == WorkerGroup::B);
    QCOMPARE(b.persons.size(), 1);
    QVERIFY((b.bands == std::array<int, 6>{0, 0, 0, 0, 1, 0}));
    QCOMPARE(sum.everyone.persons.size(), 6);
    QVERIFY((sum.everyone.bands == std::array<int, 6>{2, 1, 1, 0, 1, 1}));
    QCOMPARE(sum.everyone.largest, 20001.0);
    QCOMPARE(sum.everyone.largestFio, QStringLiteral("Дмитриев"));
    QCOMPARE(sum.everyone.mean, (5000 + 5000.5 + 1000 + 20000 + 20001 + 0) / 6);
}

QTEST_GUILESS_MAIN(TestDoseReport)
#include "tst_dose_report.moc"

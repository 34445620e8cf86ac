// Figures of the dose reports: the personal dose card of one person with
// ten years of daily readings, and the annual summary of 10 000 people over
// a million readings. Prints one line per figure.
//
// The card: one person wearing three dosimeters in turn over 2016-2025, one
// reading a day (3 653 readings), among the readings of the summary's set
// when both are asked for. The summary: 10 000 dosimeters worn by 10 000
// people with cards in 20 subdivisions, a tenth of them group B, the
// readings spread evenly over 2025 (100 a person by default).

#include "bench/BenchFigures.h"
#include "bench/QuietPrompt.h"
#include "StoreFixture.h"

#include "core/Prompt.h"
#include "records/AnnualSummary.h"
#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/DoseCard.h"
#include "records/StoredDateTime.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <algorithm>

namespace {

constexpr int People = 10000;

void exec(QSqlQuery &q)
{
    if (!q.exec())
        qFatal("fill: %s", qPrintable(q.lastError().text()));
}

void fill(DataModule &dm, int rows)
{
    Transaction tx(dm);
    QSqlQuery cards(dm.database());
    cards.prepare(QStringLiteral("INSERT INTO %1 (\"ID\", \"FIO\", \"FIO_RFID\", \"SubDiv\") VALUES (?, ?, ?, ?)")
                      .arg(dm.cards().sqlName()));
    QSqlQuery notes(dm.database());
    notes.prepare(QStringLiteral("INSERT INTO %1 (\"ID\", \"TimeFrom\", \"TimeTo\", \"FIO\") VALUES (?, ?, ?, ?)")
                      .arg(dm.notes().sqlName()));
    QSqlQuery groups(dm.database());
    groups.prepare(QStringLiteral("INSERT INTO %1 (\"PersonKey\", \"FIO\", \"Grp\") VALUES (?, ?, 'B')")
                       .arg(dm.dosePersons().sqlName()));
    for (int p = 0; p < People; ++p) {
        const QString fio = QStringLiteral("Сотрудник %1").arg(p);
        cards.addBindValue(p + 1);
        cards.addBindValue(fio);
        cards.addBindValue(QStringLiteral("S%1").arg(p));
        cards.addBindValue(QStringLiteral("Цех %1").arg(p % 20 + 1));
        exec(cards);
        notes.addBindValue(p + 100);
        notes.addBindValue(dateTimeToStored(QDateTime(QDate(2024, 12, 1), QTime(8, 0))));
        notes.addBindValue(QVariant());
        notes.addBindValue(fio);
        exec(notes);
        if (p / 20 % 10 == 0) {  // a tenth of each subdivision
            groups.addBindValue(QStringLiteral("card:%1").arg(p + 1));  // the card keys follow the insert order
            groups.addBindValue(fio);
            exec(groups);
        }
    }
    // The card's person: three dosimeters in turn.
    const QString fio = QStringLiteral("Долгова Мария");
    cards.addBindValue(People + 1);
    cards.addBindValue(fio);
    cards.addBindValue(QStringLiteral("DOLGOVA"));
    cards.addBindValue(QStringLiteral("Цех 1"));
    exec(cards);
    const QDate turns[] = {QDate(2016, 1, 1), QDate(2019, 6, 1), QDate(2022, 9, 1), QDate(2026, 1, 1)};
    for (int k = 0; k < 3; ++k) {
        notes.addBindValue(k + 1);
        notes.addBindValue(dateTimeToStored(QDateTime(turns[k], QTime(0, 0))));
        notes.addBindValue(dateTimeToStored(QDateTime(turns[k + 1].addDays(-1), QTime(23, 59, 59))));
        notes.addBindValue(fio);
        exec(notes);
    }

    QSqlQuery q(dm.database());
    q.prepare(QStringLiteral("INSERT INTO %1 (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\", \"Dose\", "
                             "\"Check\") VALUES (1, ?, ?, ?, 'Д', ?, 0)")
                  .arg(dm.measures().sqlName()));
    const QDateTime yearStart(QDate(2025, 1, 1), QTime(0, 0));
    const qint64 yearSecs = yearStart.secsTo(QDateTime(QDate(2025, 12, 31), QTime(23, 0)));
    for (int i = 0; i < rows; ++i) {
        const int person = i % People;
        q.addBindValue(i % 2000 + 1);
        q.addBindValue(dateTimeToStored(yearStart.addSecs(yearSecs * qint64(i) / rows)));
        q.addBindValue(person + 100);
        q.addBindValue(double(person % 300) * (i % 7 + 1) / 10.0);
        exec(q);
    }
    int n = 0;
    for (QDate d(2016, 1, 1); d <= QDate(2025, 12, 31); d = d.addDays(1)) {
        const int id = d < turns[1] ? 1 : d < turns[2] ? 2 : 3;
        q.addBindValue(++n % 2000 + 1);
        q.addBindValue(dateTimeToStored(QDateTime(d, QTime(17, 0))));
        q.addBindValue(id);
        q.addBindValue(5.0 + d.day() % 10);
        exec(q);
    }
    tx.commit();
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000000;
    QuietPrompt prompt;
    setPrompt(&prompt);
    storeDir dir;
    out() << "Measures rows: " << rows << " + 3653 of the card, people: " << People << Qt::endl;

    std::unique_ptr<DataModule> dm = dir.start();
    for (const FieldDef &f : dm->measures().fields())
        dm->measures().exec(QStringLiteral("DROP INDEX \"Measures\".\"i%1\"").arg(f.name));
    for (const char *name : {"iArchiveRecord", "iDosimeterTime"})
        dm->measures().exec(QStringLiteral("DROP INDEX \"Measures\".\"%1\"").arg(QLatin1String(name)));
    line(QStringLiteral("fill (no indexes on Measures)"), ms([&] { fill(*dm, rows); }));
    line(QStringLiteral("indexes rebuilt"), ms([&] {
             dm->rebuildIndexes(dm->measures());
             dm->rebuildIndexes(dm->notes());
             dm->rebuildIndexes(dm->cards());
         }));
    PersonDirectory &people = PersonDirectory::of(*dm);
    people.markChanged();
    line(QStringLiteral("first look at the journal and the cards"), ms([&] { people.refresh(); }));

    const QString key = people.personOf(QStringLiteral("Долгова Мария"));
    QList<double> cards;
    Result<DoseCard> card;
    for (int i = 0; i < 7; ++i)
        cards.append(ms([&] { card = DoseCard::compute(*dm, key, QDate(2025, 12, 31)); }));
    if (!card)
        qFatal("card: %s", qPrintable(card.errorText()));
    line(QStringLiteral("dose card, 10 years of daily readings (median of 7)"), median(cards));
    line(QStringLiteral("  its readings"), card.value.readings, QString());
    line(QStringLiteral("  its months"), card.value.months.size(), QString());

    QList<double> summaries;
    Result<AnnualSummary> summary;
    for (int i = 0; i < 3; ++i)
        summaries.append(ms([&] { summary = AnnualSummary::compute(*dm, 2025); }));
    if (!summary)
        qFatal("summary: %s", qPrintable(summary.errorText()));
    line(QStringLiteral("annual summary 2025 (median of 3)"), median(summaries));
    line(QStringLiteral("  its people"), summary.value.everyone.persons.size(), QString());
    line(QStringLiteral("  its sections"), summary.value.sections.size(), QString());
    return 0;
}

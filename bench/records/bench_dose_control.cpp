// Figures of dose control on a Measures table of a million readings: the
// alert check each stored reading costs, and looking at the alerts again
// after a binding, a level or a person's group changes. Prints one line per
// figure.
//
// The set: 500 dosimeters read every 1.8 days or so over ten years
// (2016-2025), each worn by one person for five years and by another for
// the next five; doses of 0.5 to 2 µSv a reading.

#include "bench/BenchEngine.h"
#include "bench/BenchFigures.h"
#include "bench/QuietPrompt.h"
#include "StoreFixture.h"

#include "core/Prompt.h"
#include "records/DataModule.h"
#include "records/DoseAlerts.h"
#include "records/DoseLevels.h"
#include "records/ReadingStore.h"
#include "records/StoredDateTime.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QTextStream>
#include <algorithm>
#include <numeric>

namespace {

constexpr int Dosimeters = 500;
const QDateTime Start(QDate(2016, 1, 1), QTime(8, 0));
const QDateTime Half(QDate(2021, 1, 1), QTime(0, 0));

void fill(DataModule &dm, int rows)
{
    const qint64 span = Start.secsTo(QDateTime(QDate(2025, 12, 31), QTime(20, 0)));
    const int perDosimeter = rows / Dosimeters;
    insertRows(dm,
               QStringLiteral("INSERT INTO %1 (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\", \"Dose\", "
                              "\"Check\") VALUES ")
                   .arg(dm.measures().sqlName()),
               QStringLiteral("(1, ?, ?, ?, 'Д', ?, 0)"), rows, [&](int i) {
                   const int id = i % Dosimeters;
                   const int n = i / Dosimeters;
                   return QList<QVariant>{i % 2000 + 1, dateTimeToStored(Start.addSecs(span * n / perDosimeter + id * 7)), id,
                                          0.5 + (i % 16) / 10.0};
               });
    insertRows(dm,
               QStringLiteral("INSERT INTO %1 (\"ID\", \"TimeFrom\", \"TimeTo\", \"FIO\") VALUES ").arg(dm.notes().sqlName()),
               QStringLiteral("(?, ?, ?, ?)"), Dosimeters * 2, [&](int k) {
                   const int id = k / 2;
                   const int half = k % 2;
                   return QList<QVariant>{id, dateTimeToStored(half ? Half : Start.addDays(-1)),
                                          half ? QVariant() : QVariant(dateTimeToStored(Half.addSecs(-1))),
                                          QStringLiteral("Сотрудник %1").arg(id * 2 + half)};
               });
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    BenchEngine engine(args);
    if (args.size() > 1 || (args.size() == 1 && args[0].toInt() <= 0)) {
        QTextStream(stderr) << "usage: bench_dose_control [rows] [--engine sqlite|pg [--pg-env FILE]]\n" << BenchEngine::usage();
        return 2;
    }
    const int rows = args.isEmpty() ? 1000000 : args[0].toInt();
    QuietPrompt prompt;
    setPrompt(&prompt);
    storeDir dir;
    out() << "Engine: " << engine.name() << ", Measures rows: " << rows << ", dosimeters: " << Dosimeters << Qt::endl;

    std::unique_ptr<DataModule> dm = dir.start();
    // Filled without the indexes of Measures; they are built afterwards.
    QStringList indexes{QStringLiteral("iArchiveRecord"), QStringLiteral("iDosimeterTime")};
    for (const FieldDef &f : dm->measures().fields())
        indexes.append(QStringLiteral("i") + f.name);
    dropIndexes(*dm, dm->measures(), indexes);
    line(QStringLiteral("fill (no indexes on Measures)"), ms([&] { fill(*dm, rows); }));
    line(QStringLiteral("indexes of Measures and Notes rebuilt"), ms([&] {
             dm->rebuildIndexes(dm->measures());
             dm->rebuildIndexes(dm->notes());
         }));
    // A server's autovacuum keeps the visibility map and the statistics of
    // a table that grew by a million rows; the bench does it at once, so the
    // dose sums read the index alone as they would on a site's server.
    if (engine.server() && !qEnvironmentVariableIsSet("BENCH_NO_VACUUM"))
        line(QStringLiteral("VACUUM (ANALYZE) of Measures and its month sums, as autovacuum does"),
             ms([&] { dm->measures().exec(QStringLiteral("VACUUM (ANALYZE) \"Measures\", \"DoseMonths\"")); }));
    DoseAlerts alerts(*dm);
    line(QStringLiteral("first look at the journal and the cards"), ms([&] { alerts.refreshBindings(); }));

    // Readings of late 2025 stored through the store path, with and
    // without the check (the check alone timed on the same readings).
    ReadingStore store(*dm);
    // The cycle asks whether the reading is there, then stores it.
    QList<double> checks;
    QList<double> stores;
    QList<double> cycle;
    for (int i = 0; i < 1000; ++i) {
        const int id = (i * 37) % Dosimeters;
        const QDateTime time = QDateTime(QDate(2025, 12, 31), QTime(21, 0)).addSecs(i);
        ReadingForCheck r{0, id, time, 1.0};
        double stored = 0;
        cycle.append(ms([&] {
            if (store.readingStored(time, 2, i + 1))
                qFatal("a new reading found stored");
            stored = ms([&] { r.index = store.storeReading({time, 2, i + 1, id, QStringLiteral("Д"), 1.0}); });
        }));
        stores.append(stored);
        checks.append(ms([&] { alerts.check(r); }));
    }
    out() << "Median / worst of " << stores.size() << " readings" << Qt::endl;
    figure(QStringLiteral("store one reading as the cycle does (duplicate check too)"), cycle, 2);
    figure(QStringLiteral("store one reading (storeReading), check included"), stores, 2);
    figure(QStringLiteral("alert check of one stored reading alone"), checks);
    line(QStringLiteral("alert check of one stored reading (mean)"),
         std::accumulate(checks.begin(), checks.end(), 0.0) / checks.size());

    // A binding changes: the second wearer of a dosimeter is released in
    // mid-2023 (two and a half years of readings move to nobody), then the
    // first one's binding is widened over them again.
    QList<double> reevaluations;
    DataTable &notes = dm->notes();
    for (int k = 0; k < 20; ++k) {
        const int id = k * 17;
        QSqlQuery q = notes.exec(QStringLiteral("SELECT \"Index\" FROM %1 WHERE \"ID\" = ? AND \"TimeTo\" IS NULL")
                                     .arg(notes.sqlName()),
                                 {id});
        if (!q.next())
            continue;
        const QVariant key = q.value(0);
        notes.findKey(key);
        notes.edit();
        notes.setFieldValue(fieldName(NotesField::TimeTo), QDateTime(QDate(2023, 6, 30), QTime(12, 0)));
        notes.post();
        reevaluations.append(ms([&] { DoseAlerts::bindingsChanged(*dm); }));
    }
    figure(QStringLiteral("re-evaluation after a binding change"), reevaluations);

    // A level changes: everyone's year investigation level, then one
    // person's group (the review runs inside setLevel / setPerson, for the
    // periods holding the last day of the set).
    const QDate today(2025, 12, 31);
    DoseLevels levels(*dm);
    const LevelKey yearInvestigation{LevelScope::All, {}, {}, DosePeriod::Year, LevelKind::Investigation};
    QList<double> everyoneReviews;
    for (double value : {150.0, 400.0, 250.0}) {
        levels.setLevel(yearInvestigation, value, QStringLiteral("bench"));  // reviews for the computer's day
        everyoneReviews.append(ms([&] {
            LevelReview review;
            review.period = DosePeriod::Year;
            review.kind = LevelKind::Investigation;
            alerts.reviewLevels(review, today);
        }));
    }
    line(QStringLiteral("re-evaluation after everyone's year level changed (median)"), median(everyoneReviews));
    line(QStringLiteral("re-evaluation after everyone's year level changed (largest)"),
         *std::max_element(everyoneReviews.begin(), everyoneReviews.end()));
    line(QStringLiteral("the same again, nothing to raise or withdraw"), ms([&] {
             LevelReview review;
             review.period = DosePeriod::Year;
             review.kind = LevelKind::Investigation;
             alerts.reviewLevels(review, today);
         }));
    QList<double> personReviews;
    PersonDirectory::of(*dm).refresh();
    for (int k = 0; k < 20; ++k) {
        const QString person = PersonDirectory::of(*dm).personOf(QStringLiteral("Сотрудник %1").arg(k * 34 + 1));
        personReviews.append(ms([&] {
            LevelReview review;
            review.persons = QStringList{person};
            alerts.reviewLevels(review, today);
        }));
    }
    line(QStringLiteral("re-evaluation after one person's group changed (median)"), median(personReviews));
    line(QStringLiteral("alerts stored"), alerts.alerts().size(), QStringLiteral(""));
    return 0;
}

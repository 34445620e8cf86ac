// Figures of the store on a large Measures table. Prints one line per figure.

#include "bench/BenchEngine.h"
#include "bench/BenchFigures.h"
#include "bench/QuietPrompt.h"
#include "StoreFixture.h"

#include "core/AppState.h"
#include "core/Prompt.h"
#include "records/DataTableModel.h"
#include "records/DataModule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTextStream>
#include <functional>

namespace {

const QStringList kGrid{QStringLiteral("DateTime"), QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("FIO"),
                        QStringLiteral("Dose")};

// The first screen of the grid: the count and 40 rows of 5 columns.
double firstScreen(DataTableModel &model)
{
    return ms([&] {
        model.reload();
        const int rows = qMin(40, model.rowCount());
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < model.columnCount(); ++c)
                model.data(model.index(r, c));
    });
}

// Times a view step `repeats` times; prepare (untimed) puts the view back
// before each.
QList<double> repeated(int repeats, const std::function<void()> &prepare, const std::function<void()> &step)
{
    QList<double> times;
    for (int i = 0; i < repeats; ++i) {
        if (prepare)
            prepare();
        times.append(ms(step));
    }
    return times;
}

constexpr double ViewTarget = 100;  // ms a view step may take on a million readings
constexpr int Repeats = 5;

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    BenchEngine engine(args);
    if (args.size() > 1 || (args.size() == 1 && args[0].toInt() <= 0)) {
        QTextStream(stderr) << "usage: bench_store [rows] [--engine sqlite|pg [--pg-env FILE]]\n" << BenchEngine::usage();
        return 2;
    }
    const int rows = args.isEmpty() ? 1000000 : args[0].toInt();
    QuietPrompt prompt;
    setPrompt(&prompt);
    storeDir dir;
    out() << "Engine: " << engine.name() << ", Measures rows: " << rows << Qt::endl;

    std::unique_ptr<DataModule> dm = dir.start();
    // Filled without indexes; the next start builds them all.
    QStringList indexes;
    for (const FieldDef &f : dm->measures().fields())
        indexes.append(QStringLiteral("i") + f.name);
    dropIndexes(*dm, dm->measures(), indexes + QStringList{QStringLiteral("iArchiveRecord"), QStringLiteral("iDosimeterTime")});
    line(engine.server() ? QStringLiteral("fill (one transaction, 1000 rows a statement, no indexes)")
                         : QStringLiteral("fill (one transaction, prepared insert, no indexes)"),
         ms([&] { fillMeasures(*dm, rows); }));
    dm.reset();
    line(QStringLiteral("start-up building every index of Measures"), ms([&] { dm = dir.start(); }));
    dm.reset();
    line(QStringLiteral("start-up with the indexes in place (checked)"), ms([&] { dm = dir.start(); }));
    DataTable &m = dm->measures();
    // After the indexes, so that the statistics cover them too.
    vacuumAfterFill(engine, m);
    DataTableModel model(&m, kGrid);
    out() << "View steps, each " << Repeats << " times: median / worst" << Qt::endl;
    figure(QStringLiteral("first screen, no filter, key order"), repeated(Repeats, {}, [&] { firstScreen(model); }),
           ViewTarget);

    // Page down: the 40 rows after the screen shown, from the start and
    // from the middle (each step a page the model has not read yet).
    auto pagesDown = [&](int from) {
        QList<double> times;
        for (int p = 1; p <= Repeats; ++p)
            times.append(ms([&] {
                for (int r = from + p * 40; r < from + (p + 1) * 40; ++r)
                    for (int c = 0; c < model.columnCount(); ++c)
                        model.data(model.index(r, c));
            }));
        return times;
    };
    model.reload();
    model.completeCount();  // the whole count, as the grid has it once its steps are done
    figure(QStringLiteral("page down (40 rows) from the first screen"), pagesDown(0), ViewTarget);
    figure(QStringLiteral("page down (40 rows) in the middle"), pagesDown(model.rowCount() / 2), ViewTarget);
    figure(QStringLiteral("jump to the end (last row)"),
           repeated(Repeats, [&] { model.reload(); model.completeCount(); },
                    [&] { model.data(model.index(model.rowCount() - 1, 0)); }),
           ViewTarget);

    const QStringList filters{QStringLiteral("Dose>10"), QStringLiteral("(Dose<=2) AND (Dose>=0.5)"),
                              QStringLiteral("Name>='A'"), QStringLiteral("Index>500000"), QStringLiteral("ID=7"),
                              QStringLiteral("DateTime>='01.06.2020'"), QStringLiteral("Dose>99.85")};
    m.setFiltered(true);
    for (const QString &f : filters) {
        QList<double> applies;
        const QList<double> together = repeated(
            Repeats, [&] { m.setFilter(QString()); },
            [&] {
                applies.append(ms([&] { m.setFilter(f); }));
                firstScreen(model);
            });
        figure(QStringLiteral("filter %1 and first screen (%2 rows)").arg(f).arg(m.recordCount()), together, ViewTarget);
        figure(QStringLiteral("  the filter alone"), applies);
        if (!model.countComplete()) {
            // The rest of the count, a step at a time from the event loop.
            QList<double> steps;
            while (!model.countComplete())
                steps.append(ms([&] { model.fetchMore(QModelIndex()); }));
            figure(QStringLiteral("  the count's further steps (%1 of %2 rows)").arg(steps.size()).arg(model.countStep()),
                   steps, ViewTarget);
        }
    }
    m.setFilter(QString());
    for (const QString &col : kGrid) {
        figure(QStringLiteral("order by %1 and first screen").arg(col),
               repeated(Repeats, [&] { m.setIndexFieldNames(QString()); },
                        [&] {
                            m.setIndexFieldNames(col);
                            firstScreen(model);
                        }),
               ViewTarget);
    }
    for (const QString &f : {QStringLiteral("Dose>10"), QStringLiteral("ID=7")}) {
        m.setFilter(f);
        for (const QString &col : kGrid) {
            m.setIndexFieldNames(col);
            figure(QStringLiteral("first screen ordered by %1, filter %2").arg(col, f),
                   repeated(Repeats, {}, [&] { firstScreen(model); }), ViewTarget);
        }
    }
    for (const QString &f : {QString(), QStringLiteral("Dose>10"), QStringLiteral("Name>='A'"), QStringLiteral("ID=7"),
                             QStringLiteral("Dose>99.85")}) {
        m.setFilter(f);
        for (const QString &col : kGrid)
            figure(QStringLiteral("smallest and largest %1, filter '%2'").arg(col, f),
                   repeated(Repeats, {}, [&] { m.firstAndLastValue(col); }), ViewTarget);
    }

    // Scrolling by name: a jump into the middle, the screens that follow,
    // the end.
    m.setFilter(QString());
    m.setIndexFieldNames(QStringLiteral("Name"));
    figure(QStringLiteral("ordered by Name: jump to the middle"),
           repeated(Repeats, [&] { model.reload(); model.completeCount(); },
                    [&] { model.data(model.index(model.rowCount() / 2, 0)); }),
           ViewTarget);
    model.completeCount();
    figure(QStringLiteral("ordered by Name: page down in the middle"), pagesDown(model.rowCount() / 2), ViewTarget);
    line(QStringLiteral("ordered by Name: next 2000 rows after the middle"), ms([&] {
             for (int r = 0; r < 2000; ++r)
                 model.data(model.index(model.rowCount() / 2 + r, 2));
         }));
    figure(QStringLiteral("ordered by Name: jump to the end"),
           repeated(Repeats, [&] { model.reload(); model.completeCount(); },
                    [&] { model.data(model.index(model.rowCount() - 1, 0)); }),
           ViewTarget);
    // Locate: a row by its archive key (the duplicate check), and by name.
    const QStringList archiveKey{QStringLiteral("DateTime"), QStringLiteral("TarnAddress"), QStringLiteral("RecNumber")};
    QList<double> locates;
    for (int i = 0; i < 200; ++i) {
        const int row = (i * 4999) % rows;
        locates.append(ms([&] { m.locate(archiveKey, {generatedTime(row), 1000 + row % 3, row % 2000 + 1}, LocateOption::AllRows); }));
    }
    figure(QStringLiteral("locate a reading by its archive key (200 rows)"), locates, ViewTarget);
    QList<double> byName;
    for (int i = 0; i < 20; ++i)
        byName.append(ms([&] { m.locate(QStringLiteral("Name"), QStringLiteral("метка%1").arg(i * 5 % 97), LocateOption::CaseInsensitive); }));
    figure(QStringLiteral("locate by Name, any letter case (20 names)"), byName, ViewTarget);

    // Storing one archive record as the synchronisation cycle does, with the
    // grid sorted by date and filtered, events processed after each record.
    m.setIndexFieldNames(QStringLiteral("DateTime"));
    m.setFilter(QStringLiteral("Dose>10"));
    model.reload();
    model.completeCount();
    const int n = 2000;
    const QStringList key{QStringLiteral("DateTime"), QStringLiteral("TarnAddress"), QStringLiteral("RecNumber")};
    QObject::connect(&model, &DataTableModel::currentRowChanged, [](int) {});
    auto storeRecords = [&](int base, bool flushEach) {
        int stored = 0;
        const double total = ms([&] {
            for (int i = 0; i < n; ++i) {
                const QDateTime t = generatedTime(base + i);
                if (m.locate(key, {t, 77, i % 2000 + 1}, LocateOption::AllRows))
                    continue;
                m.append();
                m.setFieldValue(QStringLiteral("DateTime"), t);
                m.setFieldValue(QStringLiteral("TarnAddress"), 77);
                m.setFieldValue(QStringLiteral("RecNumber"), i % 2000 + 1);
                m.setFieldValue(QStringLiteral("ID"), i % 50);
                m.setFieldValue(QStringLiteral("Name"), QStringLiteral("Метка%1").arg(i));
                m.setFieldValue(QStringLiteral("Dose"), i % 30 / 1.0);
                m.setFieldValue(QStringLiteral("RecoveryTime"), QDateTime::currentDateTime());
                m.setFieldValue(QStringLiteral("Check"), false);
                m.post();
                if (flushEach)
                    dm->flushReadings();
                ++stored;
                QCoreApplication::processEvents();
                model.rowOfCurrent();
            }
            // The cycle flushes the readings once, before it saves the position.
            dm->flushReadings();
        });
        return qMakePair(stored, total / n);
    };
    auto eachFlushed = storeRecords(rows, true);
    line(QStringLiteral("store one record, each flushed to the disk (avg of %1)").arg(eachFlushed.first),
         eachFlushed.second);
    auto perPass = storeRecords(rows + n, false);
    line(QStringLiteral("store one record, one flush per pass of %1 (avg)").arg(perPass.first), perPass.second);
    line(QStringLiteral("duplicate check alone, row present (avg of %1)").arg(n), ms([&] {
             for (int i = 0; i < n; ++i)
                 m.locate(key, {generatedTime(rows + i), 77, i % 2000 + 1}, LocateOption::AllRows);
         }) / n);
    line(QStringLiteral("record count with filter Dose>10"), ms([&] { m.refresh(); m.recordCount(); }));
    dm.reset();
    return 0;
}

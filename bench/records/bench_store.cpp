// Figures of the store on a large Measures table. Prints one line per figure.

#include "bench/BenchFigures.h"
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

class QuietPrompt : public IPrompt {
public:
    PromptButton message(MsgKind, const QString &text, PromptButtons) override
    {
        QTextStream(stderr) << "message: " << text << Qt::endl;
        return PromptButton::Ok;
    }
    bool input(const QString &, const QString &, QString &) override { return false; }
    int runModal(QObject *, const std::function<int()> &) override { return 0; }
};

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000000;
    QuietPrompt prompt;
    setPrompt(&prompt);
    storeDir dir;
    out() << "Measures rows: " << rows << Qt::endl;

    std::unique_ptr<DataModule> dm = dir.start();
    // Filled without indexes; the next start builds them all.
    for (const FieldDef &f : dm->measures().fields())
        dm->measures().exec(QStringLiteral("DROP INDEX \"Measures\".\"i%1\"").arg(f.name));
    line(QStringLiteral("fill (one transaction, prepared insert, no indexes)"), ms([&] { fillMeasures(*dm, rows); }));
    dm.reset();
    line(QStringLiteral("start-up building every index of Measures"), ms([&] { dm = dir.start(); }));
    dm.reset();
    line(QStringLiteral("start-up with the indexes in place (checked)"), ms([&] { dm = dir.start(); }));
    DataTable &m = dm->measures();
    DataTableModel model(&m, kGrid);
    line(QStringLiteral("first screen, no filter, key order"), firstScreen(model));

    const QStringList filters{QStringLiteral("Dose>10"), QStringLiteral("(Dose<=2) AND (Dose>=0.5)"),
                              QStringLiteral("Name>='A'"), QStringLiteral("Index>500000"), QStringLiteral("ID=7"),
                              QStringLiteral("DateTime>='01.06.2020'"), QStringLiteral("Dose>99.85")};
    m.setFiltered(true);
    for (const QString &f : filters) {
        const double apply = ms([&] { m.setFilter(f); });
        line(QStringLiteral("apply filter  %1").arg(f), apply);
        const double screen = firstScreen(model);
        line(QStringLiteral("  first screen after it (%1 rows)").arg(m.recordCount()), screen);
        line(QStringLiteral("  filter and first screen together"), apply + screen);
    }
    m.setFilter(QString());
    for (const QString &col : kGrid) {
        line(QStringLiteral("sort by %1").arg(col), ms([&] { m.setIndexFieldNames(col); }));
        line(QStringLiteral("  first screen after it"), firstScreen(model));
    }
    for (const QString &f : {QStringLiteral("Dose>10"), QStringLiteral("ID=7")}) {
        m.setFilter(f);
        for (const QString &col : kGrid) {
            m.setIndexFieldNames(col);
            line(QStringLiteral("  first screen sorted by %1, filter %2").arg(col, f), firstScreen(model));
        }
    }
    for (const QString &f : {QString(), QStringLiteral("Dose>10"), QStringLiteral("Name>='A'"), QStringLiteral("ID=7"),
                             QStringLiteral("Dose>99.85")}) {
        m.setFilter(f);
        for (const QString &col : kGrid)
            line(QStringLiteral("smallest and largest %1, filter '%2'").arg(col, f),
                 ms([&] { m.firstAndLastValue(col); }));
    }

    // Scrolling: a jump into the middle, then the screens that follow.
    m.setFilter(QString());
    m.setIndexFieldNames(QStringLiteral("Name"));
    model.reload();
    line(QStringLiteral("grid jump to the middle, sorted by Name"), ms([&] {
             model.data(model.index(model.rowCount() / 2, 0));
         }));
    line(QStringLiteral("grid next 2000 rows after it"), ms([&] {
             for (int r = 0; r < 2000; ++r)
                 model.data(model.index(model.rowCount() / 2 + r, 2));
         }));
    line(QStringLiteral("grid jump to the end"), ms([&] { model.data(model.index(model.rowCount() - 1, 0)); }));

    // Storing one archive record as the synchronisation cycle does, with the
    // grid sorted by date and filtered, events processed after each record.
    m.setIndexFieldNames(QStringLiteral("DateTime"));
    m.setFilter(QStringLiteral("Dose>10"));
    model.reload();
    model.rowCount();
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

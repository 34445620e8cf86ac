// Figures of the records grid in the main window over a large Measures
// table. Prints one line per figure.

#include "bench/BenchFigures.h"
#include "core/AppState.h"
#include "core/Prompt.h"
#include "monitor/core/SyncEngine.h"
#include "monitor/ui/RecordsGrid.h"
#include "monitor/ui/MainWindow.h"
#include "records/StoredDateTime.h"
#include "records/DataModule.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QScrollBar>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <vector>

namespace {

class BenchPrompt : public IPrompt {
public:
    QString answer;
    PromptButton message(MsgKind, const QString &, PromptButtons) override { return PromptButton::Ok; }
    bool input(const QString &, const QString &, QString &value) override
    {
        value = answer;
        return true;
    }
    int runModal(QObject *, const std::function<int()> &) override { return 0; }
};

void fill(DataModule &dm, int n)
{
    Transaction tx(dm);
    QSqlQuery q(dm.database());
    q.prepare(QStringLiteral("INSERT INTO %1 (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\", "
                             "\"Dose\", \"RecoveryTime\", \"Check\") VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                  .arg(dm.measures().sqlName()));
    const QDateTime start(QDate(2020, 1, 1), QTime(8, 0));
    const QString recovery = dateTimeToStored(QDateTime(QDate(2024, 5, 1), QTime(12, 0)));
    for (int i = 0; i < n; ++i) {
        q.addBindValue(0x010203);
        q.addBindValue(i % 2000 + 1);
        q.addBindValue(dateTimeToStored(start.addSecs(qint64(i) * 97)));
        q.addBindValue(100000 + i % 250);
        q.addBindValue(QStringLiteral("Сотрудник %1").arg(i % 250));
        q.addBindValue((i % 10007) / 10.0);
        q.addBindValue(recovery);
        q.addBindValue(0);
        if (!q.exec())
            qFatal("fill: %s", qPrintable(q.lastError().text()));
    }
    q.finish();
    tx.commit();
    dm.measures().refresh();
}

// Repaints the grid at once and returns the time the repaint took.
double paintNow(RecordsGrid *grid)
{
    return ms([grid] { grid->viewport()->repaint(); });
}

struct Stats {
    std::vector<double> v;
    void add(double x) { v.push_back(x); }
    double mean() const
    {
        double s = 0;
        for (double x : v)
            s += x;
        return v.empty() ? 0 : s / v.size();
    }
    double max() const { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
    double p95() const
    {
        if (v.empty())
            return 0;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[size_t(0.95 * (s.size() - 1))];
    }
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000000;
    BenchPrompt prompt;
    setPrompt(&prompt);
    QTemporaryDir dir;
    appState().programDir = dir.path() + QLatin1Char('/');

    DataModule dm;
    setDataModule(&dm);
    dm.dataModuleCreate(toldBy(activePrompt()));
    line(QStringLiteral("fill Measures with %1 rows").arg(rows), ms([&] { fill(dm, rows); }));

    SyncEngine engine;
    engine.setPrompt(&prompt);
    MainWindow face;
    engine.setView(&face);
    face.bindMeasures(&dm.measures());
    face.resize(800, 580);
    line(QStringLiteral("show the window (settings, first screen)"), ms([&] {
             face.show();
             QApplication::processEvents();
         }));
    engine.timerControl()->stop();  // no reader here: the cycle stays quiet
    face.activateFirstTime();  // usually done by the activation while showing
    line(QStringLiteral("rebuild the column labels (MIN/MAX of the rows shown)"), ms([&] { face.rebuildColumnLabels(); }));
    RecordsGrid *grid = face.recordsGrid();
    QScrollBar *bar = grid->verticalScrollBar();

    // Scrolling: the end, jumps across the whole table, then line by line.
    line(QStringLiteral("jump to the last row and paint"), ms([&] {
             bar->setValue(bar->maximum());
             paintNow(grid);
         }));
    Stats jumps;
    for (int i = 0; i < 200; ++i) {
        jumps.add(ms([&] {
            bar->setValue(int((qint64(bar->maximum()) * ((i * 7919) % 200)) / 199));
            paintNow(grid);
        }));
    }
    line(QStringLiteral("random jump + paint, mean of 200"), jumps.mean());
    line(QStringLiteral("random jump + paint, 95th percentile"), jumps.p95());
    line(QStringLiteral("random jump + paint, worst"), jumps.max());
    Stats steps;
    bar->setValue(bar->maximum() / 2);
    paintNow(grid);
    for (int i = 0; i < 500; ++i) {
        steps.add(ms([&] {
            bar->setValue(bar->value() + 1);
            paintNow(grid);
        }));
    }
    line(QStringLiteral("one-line scroll + paint, mean of 500"), steps.mean());
    line(QStringLiteral("one-line scroll + paint, worst"), steps.max());

    const int doseColumn = grid->columnOfField(QStringLiteral("Dose"));
    line(QStringLiteral("title click on Dose (sort) + paint"), ms([&] {
             face.sortByColumn(doseColumn);
             QApplication::processEvents();
             paintNow(grid);
         }));
    face.view().lastCheckedIndex = rows - 500;
    line(QStringLiteral("only-new on (labels rebuilt) + paint"), ms([&] {
             face.findChild<QToolButton *>(QStringLiteral("ExtOnlyNew"))->click();
             QApplication::processEvents();
             paintNow(grid);
         }));
    line(QStringLiteral("only-new off (labels rebuilt) + paint"), ms([&] {
             face.findChild<QToolButton *>(QStringLiteral("ExtOnlyNew"))->click();
             QApplication::processEvents();
             paintNow(grid);
         }));
    prompt.answer = QStringLiteral("500");
    line(QStringLiteral("quick filter Dose>=500 + paint"), ms([&] {
             face.setQuickMinFilter(4);
             QApplication::processEvents();
             paintNow(grid);
         }));
    line(QStringLiteral("rows shown under the quick filter"), grid->model()->rowCount(), QStringLiteral("rows"));
    line(QStringLiteral("clear the quick filter + paint"), ms([&] {
             face.clearQuickFilters();
             QApplication::processEvents();
             paintNow(grid);
         }));

    face.close();
    setDataModule(nullptr);
    setPrompt(nullptr);
    return 0;
}

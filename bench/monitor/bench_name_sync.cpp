// The name synchronisation over a large database.
//
//   bench_name_sync [--rows M] [--notes K]
//
// M readings of 1000 dosimeters in Measures (default 1000000) and K journal
// entries (default 10000: K/1000 consecutive periods per dosimeter, the last
// one open). Runs the synchronisation twice: the first run writes every name,
// the second finds them in step.

#include "BenchSupport.h"

#include "core/Prompt.h"
#include "core/AppState.h"
#include "monitor/core/SyncEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QStringList>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int rows = 1000000;
    int notes = 10000;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--rows"))
            rows = qMax(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--notes"))
            notes = qMax(1000, args[i + 1].toInt());
    }
    const int dosimeters = 1000;
    appState().reset();
    BenchDatabase db;
    std::printf("filling %d readings and %d journal entries...\n", rows, notes);
    std::fflush(stdout);
    const qint64 fillM = db.fillMeasures(rows, dosimeters);
    const qint64 fillN = db.fillNotes(dosimeters, notes / dosimeters, rows);
    std::printf("Measures: %lld rows (%.1f s), Notes: %lld rows (%.1f s)\n", db.count(db.dm.measures()), fillM / 1000.0,
                db.count(db.dm.notes()), fillN / 1000.0);

    SyncEngine engine;

    engine.setPrompt(&activePrompt());  // the bench's silent prompt, as the program hands its own
    engine.setDatabase(&db.dm);
    for (int run = 1; run <= 2; ++run) {
        engine.setNamesOutOfStep(true);
        QElapsedTimer clock;
        clock.start();
        engine.syncNamesFromJournal();
        const qint64 ms = clock.elapsed();
        QSqlQuery q = db.dm.measures().exec(
            QStringLiteral("SELECT COUNT(*) FROM %1 WHERE \"FIO\" IS NOT NULL").arg(db.dm.measures().sqlName()));
        const qint64 named = q.next() ? q.value(0).toLongLong() : -1;
        std::printf("run %d: %.2f s, readings with a name: %lld, flag %d\n", run, ms / 1000.0, named,
                    int(engine.snapshot().namesOutOfStep));
    }
    return 0;
}

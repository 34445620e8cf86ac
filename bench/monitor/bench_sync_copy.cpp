// Copying records from a paced simulated reader (9600 bit/s, no turnaround)
// end to end (the poll and its catch-up) into a Measures table that already
// holds many rows.
//
//   bench_sync_copy [--count N] [--rows M] [--fast-commits]
//
// N records to copy (default 2000: a full ring read by a reader seen for the
// first time; fewer: a catch-up from a remembered position), M rows in
// Measures beforehand (default 1000000). The line alone needs about 75 ms a
// record at 9600 bit/s, so the default run takes some 150 s. Every stored
// record is its own durable commit (the disk flush is most of the database
// time); --fast-commits turns the flush off to show the table work alone.

#include "BenchSupport.h"

#include "core/Prompt.h"
#include "core/AppState.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"
#include "monitor/core/SyncEngine.h"
#include "sim/SimReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int count = 2000;
    int rows = 1000000;
    const QStringList args = app.arguments();
    const bool fastCommits = args.contains(QStringLiteral("--fast-commits"));
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--count"))
            count = qBound(1, args[i + 1].toInt(), 2000);
        else if (args[i] == QLatin1String("--rows"))
            rows = qMax(0, args[i + 1].toInt());
    }

    appState().reset();
    BenchDatabase db;
    std::printf("Measures: filling %d rows...\n", rows);
    std::fflush(stdout);
    const qint64 fillMs = rows > 0 ? db.fillMeasures(rows, 1000) : 0;
    std::printf("Measures: %lld rows in %.1f s\n", db.count(db.dm.measures()), fillMs / 1000.0);

    SimReader sim;
    if (!sim.start()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    sim.setPaced(true, 9600);
    sim.setTurnaroundMs(0);
    SerialLink link;
    link.setComPortIndex(-1);
    link.setPortName(sim.portPath());
    link.setPingDelayMs(300);
    link.setSendDelayMs(2000);
    link.setBaseRequestCount(3);
    link.setFixedReceiveWindow(false);

    SyncEngine engine;

    engine.setPrompt(&activePrompt());  // the bench's silent prompt, as the program hands its own
    engine.setDatabase(&db.dm);
    engine.setFaceNotReady(false);
    engine.setLink(&link);
    db.dm.setDurableCommits(!fastCommits);
    if (count == 2000) {
        sim.addRecords(2000);  // a full ring; the reader is new to the database: full read
    } else {
        sim.addRecords(count + 1);
        DataTable &d = db.dm.devices();
        d.append();
        d.setFieldValue(QStringLiteral("TarnAddress"), int(sim.address()));
        d.setFieldValue(QStringLiteral("LastRecNumber"), 1);
        d.setFieldValue(QStringLiteral("LastRecTime"), sim.record(1).time);
        d.post();
    }

    const qint64 before = db.count(db.dm.measures());
    QElapsedTimer clock;
    clock.start();
    engine.pollReader();
    const qint64 totalNs = clock.nsecsElapsed();
    const qint64 copied = db.count(db.dm.measures()) - before;
    const int calls = engine.storedRecordCalls();

    std::printf("commits: %s\n", fastCommits ? "without disk flush" : "durable (flushed to disk)");
    std::printf("path: %s\n", count == 2000 ? "full archive read (new reader)" : "catch-up from a remembered position");
    std::printf("records copied: %lld (stored calls %d), state %d\n", copied, calls, int(engine.snapshot().state));
    std::printf("total: %.1f s, per record: %.2f ms\n", totalNs / 1e9, copied ? toMs(totalNs) / copied : 0.0);
    std::printf("database per record: %.3f ms (%.2f %% of the total)\n", calls ? toMs(engine.storeDatabaseNs()) / calls : 0.0,
                totalNs ? 100.0 * engine.storeDatabaseNs() / totalNs : 0.0);
    std::printf("of which the duplicate check: %.3f ms, the append: %.3f ms\n",
                calls ? toMs(engine.storeLookupNs()) / calls : 0.0,
                calls ? toMs(engine.storeDatabaseNs() - engine.storeLookupNs()) / calls : 0.0);
    std::printf("requests: %d\n", sim.requestsServed());

    sim.stop();
    return copied == count ? 0 : 2;
}

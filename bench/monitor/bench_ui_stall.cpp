// How long the main thread goes without running its events while the cycle
// runs: a 5 ms timer on the main thread records the largest gap between two
// of its timeouts, with the engine's control timer running as in the window.
//
//   bench_ui_stall [--seconds S] [--count N] [--rows M] [--idle-seconds I]
//
// Three runs, each in timer mode and in thread mode: a silent reader for S
// seconds (default 8), then a catch-up of N records (default 300) from a
// paced simulated reader (9600 bit/s) into a Measures of M rows (default 0).
// A gap of a few milliseconds is the timer's own granularity; anything the
// operator would notice is tens of milliseconds. Last, the processor time of
// the idle cycle over I seconds (default 20, 0 skips it): the reader answers
// from a child process (reader-sim) and has nothing new, so only the
// monitor's side is counted.

#include "BenchSupport.h"

#include "../BenchFigures.h"
#include "core/Prompt.h"
#include "core/AppState.h"
#include "link/SerialLink.h"
#include "monitor/core/SyncEngine.h"
#include "sim/SimReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QEventLoop>
#include <QSqlQuery>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <functional>

namespace {

struct Stall {
    double largestMs = 0;
    int over50 = 0;
    int timeouts = 0;
};

// Runs the event loop until done() holds (checked every 5 ms) or timeoutMs
// passes, measuring the gaps between the 5 ms timeouts.
Stall Watch(const std::function<bool()> &done, int timeoutMs, bool *finished)
{
    Stall s;
    QEventLoop loop;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QElapsedTimer gap;
    QElapsedTimer total;
    gap.start();
    total.start();
    *finished = false;
    QObject::connect(&probe, &QTimer::timeout, &loop, [&] {
        const double ms = gap.nsecsElapsed() / 1e6;
        gap.restart();
        ++s.timeouts;
        s.largestMs = std::max(s.largestMs, ms);
        if (ms > 50)
            ++s.over50;
        if (done()) {
            *finished = true;
            loop.quit();
        } else if (total.elapsed() > timeoutMs) {
            loop.quit();
        }
    });
    probe.start();
    loop.exec();
    return s;
}

struct Reader {
    SimReader sim;
    SerialLink link;
    bool start()
    {
        if (!sim.start())
            return false;
        sim.setPaced(true, 9600);
        sim.setTurnaroundMs(0);
        link.setComPortIndex(-1);
        link.setPortName(sim.portPath());
        link.setPingDelayMs(300);
        link.setSendDelayMs(2000);
        link.setBaseRequestCount(3);
        link.setFixedReceiveWindow(false);
        return true;
    }
};

void startCycle(SyncEngine &engine, bool threadMode)
{
    if (threadMode) {
        engine.setUseThread(true);
        engine.requestThreadStart();
    }
    engine.startControlTimer();
}

void stopCycle(SyncEngine &engine)
{
    engine.shutDown();
    engine.waitForWorkers(10000);
}

// The processor time of idleSeconds of the cycle against a reader with
// nothing new, in % of one core; negative when the reader cannot run.
double idleLoad(DataModule &dm, bool threadMode, int idleSeconds)
{
    const QString readerSim = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("reader-sim"));
    QProcess reader;
    reader.start(readerSim, {QStringLiteral("--records"), QStringLiteral("0")});
    if (!reader.waitForStarted(5000) || !reader.waitForReadyRead(5000))
        return -1;
    SerialLink link;
    link.setComPortIndex(-1);
    link.setPortName(QString::fromUtf8(reader.readLine()).trimmed());
    double load = -1;
    {
        SyncEngine engine;
        engine.setPrompt(&activePrompt());  // the bench's silent prompt, as the program hands its own
        engine.setDatabase(&dm);
        engine.setFaceNotReady(false);
        engine.setLink(&link);
        startCycle(engine, threadMode);
        bool finished = false;
        Watch([] { return false; }, 3000, &finished);  // the first polls find the reader
        const std::clock_t cpu0 = std::clock();
        QElapsedTimer wall;
        wall.start();
        QTimer::singleShot(idleSeconds * 1000, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        load = 100.0 * double(std::clock() - cpu0) / CLOCKS_PER_SEC / (wall.nsecsElapsed() / 1e9);
        stopCycle(engine);
    }
    reader.write("quit\n");
    reader.waitForFinished(3000);
    return load;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int seconds = 8;
    int count = 300;
    int rows = 0;
    int idleSeconds = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = qBound(2, args[i + 1].toInt(), 600);
        else if (args[i] == QLatin1String("--count"))
            count = qBound(1, args[i + 1].toInt(), 1999);
        else if (args[i] == QLatin1String("--rows"))
            rows = qMax(0, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--idle-seconds"))
            idleSeconds = qMax(0, args[i + 1].toInt());
    }

    appState().reset();
    BenchDatabase db;
    if (rows > 0)
        db.fillMeasures(rows, 1000);
    int failures = 0;

    for (const bool threadMode : {false, true}) {
        const QString mode = threadMode ? QStringLiteral("thread mode") : QStringLiteral("timer mode");

        // A silent reader: every request goes unanswered.
        {
            Reader reader;
            if (!reader.start())
                return 1;
            reader.sim.addRecords(3);
            reader.sim.setFaultProbability(SimReader::Fault::NoReply, 1.0);
            SyncEngine engine;
            engine.setPrompt(&activePrompt());  // the bench's silent prompt, as the program hands its own
            engine.setDatabase(&db.dm);
            engine.setFaceNotReady(false);
            engine.setLink(&reader.link);
            startCycle(engine, threadMode);
            bool finished = false;
            const Stall s = Watch([] { return false; }, seconds * 1000, &finished);
            const int requests = reader.sim.requestsServed();
            stopCycle(engine);
            line(QStringLiteral("%1, silent (%2 requests): largest gap").arg(mode).arg(requests), s.largestMs);
            line(QStringLiteral("%1, silent: gaps over 50 ms").arg(mode), s.over50, QStringLiteral("gaps"));
        }

        // A catch-up of `count` records from a remembered position.
        {
            Reader reader;
            if (!reader.start())
                return 1;
            reader.sim.addRecords(count + 1);
            const int address = int(reader.sim.address());
            DataTable &d = db.dm.devices();
            if (d.locate(QStringLiteral("TarnAddress"), address))
                d.edit();
            else
                d.append();
            d.setFieldValue(QStringLiteral("TarnAddress"), address);
            d.setFieldValue(QStringLiteral("LastRecNumber"), 1);
            d.setFieldValue(QStringLiteral("LastRecTime"), reader.sim.record(1).time);
            d.post();
            SyncEngine engine;
            engine.setPrompt(&activePrompt());  // the bench's silent prompt, as the program hands its own
            engine.setDatabase(&db.dm);
            engine.setFaceNotReady(false);
            engine.setLink(&reader.link);
            const qint64 before = db.count(db.dm.measures());
            startCycle(engine, threadMode);
            QElapsedTimer clock;
            clock.start();
            bool finished = false;
            const Stall s = Watch([&] { return engine.snapshot().lastRecNumber == count + 1 && engine.snapshot().state == SyncState::Online; },
                                  count * 200 + 20000, &finished);
            const double total = clock.elapsed();
            stopCycle(engine);
            const qint64 copied = db.count(db.dm.measures()) - before;
            if (!finished || copied != count)
                ++failures;
            line(QStringLiteral("%1, copy of %2 (%3 stored, %4 s): largest gap")
                     .arg(mode)
                     .arg(count)
                     .arg(copied)
                     .arg(total / 1000.0, 0, 'f', 1),
                 s.largestMs);
            line(QStringLiteral("%1, copy: gaps over 50 ms").arg(mode), s.over50, QStringLiteral("gaps"));
            db.dm.measures().exec(QStringLiteral("DELETE FROM %1 WHERE \"TarnAddress\"=?").arg(db.dm.measures().sqlName()),
                                {address});
        }
    }
    for (const bool threadMode : {false, true}) {
        if (idleSeconds <= 0)
            break;
        const double load = idleLoad(db.dm, threadMode, idleSeconds);
        if (load < 0) {
            ++failures;
            break;
        }
        line(QStringLiteral("%1, idle cycle for %2 s: processor time")
                 .arg(threadMode ? QStringLiteral("thread mode") : QStringLiteral("timer mode"))
                 .arg(idleSeconds),
             load, QStringLiteral("% of a core"));
    }
    return failures ? 2 : 0;
}

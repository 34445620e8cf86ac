// The longest stall of the main thread during a label write: the write runs
// in a service session (the session's link thread, the link lock held, the
// synchronisation paused) while a 1 ms timer in the main thread notes the
// longest gap between its ticks. Two writes of all four groups against the
// simulated reader paced at 9600 bit/s with the program's default windows:
// a healthy one, and one whose every acknowledgement is lost (each write
// waits its whole 2 s window, 4 attempts), the long write of the dialog.
// Last, the end of a session on a reader that switches modes whose switch
// back to mode 0 is never answered: how long end() keeps the main thread
// from the operator's input (its local event loop takes no input).
//
//     bench_label_write            # prints one line per write

#include "core/AppState.h"
#include "core/DeviceText.h"
#include "link/SerialLink.h"
#include "monitor/core/SyncEngine.h"
#include "service/core/LabelWrite.h"
#include "service/core/ServiceSession.h"
#include "sim/SimReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

struct Stall {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    void tick()
    {
        const qint64 now = clock.nsecsElapsed();
        longest = qMax(longest, now - last);
        last = now;
    }
};

void runWrite(const char *what, SerialLink &link, SyncEngine &engine, SimReader &sim, bool lostAcks)
{
    SimDosimeter d = sim.dosimeter();
    d.setLabel(QStringLiteral("Петров П.П."));
    sim.setDosimeter(d);
    if (lostAcks)
        for (int g = 0; g < 4; ++g)
            sim.injectFault(SimReader::Fault::NoReply, link.baseRequestCount() + 1, 0, g == 0 ? 0 : 1);
    const QByteArray target = labelTargetCode(QStringLiteral("Сидоров С.С."));
    const KnownLabel known = KnownLabel::fromCode(d.labelCode);

    ServiceSession session(engine);
    session.begin(0);
    Stall stall;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&stall] { stall.tick(); });
    int steps = 0;
    QObject::connect(&session, &ServiceSession::progress, [&steps](int) { ++steps; });
    QElapsedTimer total;
    total.start();
    stall.clock.start();
    timer.start(1);
    const LabelWriteResult r = session.call([&](SerialLink *l) {
        return writeDosimeterLabel(l, target, known, [&session] { session.reportProgress(1); });
    });
    stall.tick();
    timer.stop();
    session.end();
    std::printf("%-32s %6.2f s  longest main-thread stall %5.1f ms  progress steps %d  verified %s\n", what,
                total.elapsed() / 1000.0, stall.longest / 1e6, steps, r.verified ? "yes" : "no");
}

void runEnd(SerialLink &link, SyncEngine &engine, SimReader &sim)
{
    sim.setModeSwitching(true);
    engine.setReaderFindings(false, false, true);
    ServiceSession session(engine);
    session.begin(0);
    sim.injectFault(SimReader::Fault::NoReply, 2 * (link.baseRequestCount() + 1));
    Stall stall;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&stall] { stall.tick(); });
    stall.clock.start();
    timer.start(1);
    QElapsedTimer held;
    held.start();
    session.end();
    const qint64 heldMs = held.elapsed();
    stall.tick();
    timer.stop();
    engine.waitForWorkers(60000);
    std::printf("%-32s input held back %6.2f s  longest main-thread stall %5.1f ms  restore pending %s\n",
                "session end, switch back lost", heldMs / 1000.0, stall.longest / 1e6,
                engine.snapshot().readerModeRestorePending ? "yes" : "no");
    sim.clearFaults();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    appState().programDir = dir.path() + QLatin1Char('/');
    SimReader sim;
    if (!sim.start()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    sim.setInserted(true);
    sim.setPaced(true, 9600);
    SerialLink link;
    link.setComPortIndex(-1);
    link.setPortName(sim.portPath());
    SyncEngine engine;
    engine.setLink(&link);
    runWrite("label write, 4 groups", link, engine, sim, false);
    runWrite("label write, every ack lost", link, engine, sim, true);
    runEnd(link, engine, sim);
    return 0;
}

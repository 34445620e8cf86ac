// bench_link: two figures of the link against the simulated reader.
//
//  1. Reading the archive record by record from a reader paced at 9600 bit/s
//     in both directions that answers without turnaround, against the limit
//     of the line itself: (20-byte request + 52-byte reply) x 10 bits / 9600
//     per record.
//  2. The processor time of the idle poll: a 100 ms timer whose every 11th
//     tick reads the reader configuration, with the reader in a child process
//     (reader-sim), so only the monitor side is counted.
//
// Usage: bench_link [--count N] [--idle-seconds S] [--no-archive] [--no-idle]

#include "core/AppState.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"
#include "sim/SimReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

constexpr int RequestBytes = 20;
constexpr int ReplyBytes = 52;
constexpr double BitsPerByte = 10.0;
constexpr double LineRate = 9600.0;

double lineLimitSeconds(int records)
{
    return records * (RequestBytes + ReplyBytes) * BitsPerByte / LineRate;
}

int benchArchive(int count)
{
    SimReader sim;
    if (!sim.start()) {
        std::fprintf(stderr, "no pseudo-terminal: %s\n", qPrintable(sim.errorText()));
        return 1;
    }
    sim.setPaced(true, int(LineRate));
    sim.setTurnaroundMs(0);
    sim.addRecords(SimReaderModel::ArchiveCapacity);

    SerialLink link;
    link.setComPortIndex(-1);
    link.setPortName(sim.portPath());

    std::printf("archive read: %d records, reader paced at %.0f bit/s, no turnaround, windows %d ms, "
                "attempts up to %d\n",
                count, LineRate, int(link.pingDelayMs()), int(link.baseRequestCount()) + 1);
    std::fflush(stdout);
    int failed = 0;
    QElapsedTimer t;
    t.start();
    for (int n = 1; n <= count; ++n) {
        if (!readArchiveRecord(&link, (n - 1) % SimReaderModel::ArchiveCapacity + 1))
            ++failed;
        if (n % 250 == 0) {
            std::printf("  %d records, %.1f s\n", n, t.elapsed() / 1000.0);
            std::fflush(stdout);
        }
    }
    const double seconds = t.nsecsElapsed() / 1e9;
    const double limit = lineLimitSeconds(count);
    std::printf("  elapsed            %.2f s (%d failed)\n", seconds, failed);
    std::printf("  line-rate limit    %.2f s\n", limit);
    std::printf("  per record         %.2f ms (limit %.2f ms)\n", seconds * 1000.0 / count,
                limit * 1000.0 / count);
    std::printf("  projection 2000    %.1f s (limit %.1f s)\n", seconds / count * 2000.0, lineLimitSeconds(2000));
    std::printf("  ratio to limit     %.3f (target <= 1.2)\n", seconds / limit);
    std::printf("  requests served    %d\n", sim.requestsServed());
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

int benchIdle(int idleSeconds)
{
    const QString readerSim = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("reader-sim"));
    QProcess reader;
    reader.start(readerSim, {QStringLiteral("--records"), QStringLiteral("100")});
    if (!reader.waitForStarted(5000) || !reader.waitForReadyRead(5000)) {
        std::fprintf(stderr, "cannot run %s\n", qPrintable(readerSim));
        return 1;
    }
    const QString port = QString::fromUtf8(reader.readLine()).trimmed();

    SerialLink link;
    link.setComPortIndex(-1);
    link.setPortName(port);

    int ticks = 0, polls = 0, failed = 0;
    QTimer control;
    control.setInterval(100);
    QObject::connect(&control, &QTimer::timeout, [&] {
        if (++ticks % 11 == 0) {
            ++polls;
            if (!readReaderConfig(&link))
                ++failed;
        }
    });
    const std::clock_t cpu0 = std::clock();
    QElapsedTimer wall;
    wall.start();
    control.start();
    QTimer::singleShot(idleSeconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    control.stop();
    const double cpu = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    const double seconds = wall.nsecsElapsed() / 1e9;
    reader.write("quit\n");
    reader.waitForFinished(3000);

    std::printf("idle poll: a configuration read every 1.1 s for %.1f s (reader in a child process)\n", seconds);
    std::printf("  polls              %d (%d failed)\n", polls, failed);
    std::printf("  processor time     %.3f s\n", cpu);
    std::printf("  load               %.3f %% of one core (target < 1 %%)\n", 100.0 * cpu / seconds);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int count = SimReaderModel::ArchiveCapacity;
    int idleSeconds = 20;
    bool archive = true, idle = true;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--count") && i + 1 < args.size())
            count = qMax(1, args[++i].toInt());
        else if (a == QLatin1String("--idle-seconds") && i + 1 < args.size())
            idleSeconds = qMax(1, args[++i].toInt());
        else if (a == QLatin1String("--no-archive"))
            archive = false;
        else if (a == QLatin1String("--no-idle"))
            idle = false;
        else {
            std::fprintf(stderr, "usage: bench_link [--count N] [--idle-seconds S] [--no-archive] [--no-idle]\n");
            return 2;
        }
    }
    QTemporaryDir dir;
    appState().reset();
    appState().programDir = dir.path() + QLatin1Char('/');
    int rc = 0;
    if (archive)
        rc |= benchArchive(count);
    if (idle)
        rc |= benchIdle(idleSeconds);
    return rc;
}

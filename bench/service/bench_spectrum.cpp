// Spectrum benchmark: a read of the 15 spectrum blocks from the simulated
// reader paced at 9600 bit/s against the time the bytes need on the line,
// then the spectrum view's paging and redraw times on a full spectrum.
//
// Run: QT_QPA_PLATFORM=offscreen <build>/bin/bench_spectrum [--repeats N]

#include "bench/BenchFigures.h"

#include "core/AppState.h"
#include "link/SerialLink.h"
#include "monitor/core/SyncEngine.h"
#include "service/core/SpectrumReader.h"
#include "core/Prompt.h"
#include "service/ui/SpectrumDialog.h"
#include "sim/SimReader.h"

#include <QApplication>
#include <QChartView>
#include <QTemporaryDir>
#include <algorithm>

namespace {

constexpr int LineRate = 9600;

// Time on the line of every byte exchanged (10 bits a byte), in ms.
double lineTimeMs(const SimReader &sim)
{
    qint64 bytes = 0;
    for (const QByteArray &r : sim.requestLog())
        bytes += r.size();
    for (const QByteArray &r : sim.replyLog())
        bytes += r.size();
    return bytes * 10.0 * 1000.0 / LineRate;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int repeats = 3;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--repeats"));
    if (at > 0 && at + 1 < args.size())
        repeats = std::max(1, args.at(at + 1).toInt());

    QTemporaryDir dir;
    appState().reset();
    appState().programDir = dir.path() + QLatin1Char('/');

    SimReader sim;
    if (!sim.start()) {
        out() << "no pseudo-terminal: " << sim.errorText() << Qt::endl;
        return 1;
    }
    SerialLink link;
    link.setComPortIndex(-1);
    link.setPortName(sim.portPath());
    SyncEngine engine;
    engine.setLink(&link);

    out() << "Spectrum read, reader paced at " << LineRate << " bit/s, " << repeats << " reads each" << Qt::endl;
    for (const bool withHeader : {false, true}) {
        sim.setPaced(true, LineRate);
        double best = 1e18, worst = 0, limit = 0;
        for (int i = 0; i < repeats; ++i) {
            sim.clearLogs();
            SpectrumReader reader(engine);
            bool ok = false;
            QObject::connect(&reader, &SpectrumReader::finished, [&](bool good, bool, const QString &) { ok = good; });
            const double t = ms([&] {
                reader.start(withHeader);
                reader.waitUntilDone(60000);
            });
            if (!ok) {
                out() << "the read failed" << Qt::endl;
                return 1;
            }
            limit = lineTimeMs(sim);
            best = std::min(best, t);
            worst = std::max(worst, t);
        }
        const QString what = withHeader ? QStringLiteral("summary + 15 blocks") : QStringLiteral("15 blocks");
        line(what + QStringLiteral(": line-rate limit"), limit);
        line(what + QStringLiteral(": read, best"), best);
        line(what + QStringLiteral(": read, worst"), worst);
        line(what + QStringLiteral(": best / limit"), best / limit, QStringLiteral("x"));
    }

    // The view over a full spectrum (read from the reader at full speed).
    sim.setPaced(false);
    SpectrumDialog view(engine, activePrompt(), QString());
    view.resize(1000, 640);
    view.show();
    QCoreApplication::processEvents();
    view.reader().waitUntilDone(60000);
    QCoreApplication::processEvents();
    if (view.data().countsRead() != 1500) {
        out() << "the view did not read the spectrum" << Qt::endl;
        return 1;
    }
    QChartView *chart = view.chartView();
    auto render = [&] { chart->grab(); };
    line(QStringLiteral("chart: first full redraw"), ms(render));
    double redrawWorst = 0, redrawSum = 0;
    for (int i = 0; i < 20; ++i) {
        const double t = ms(render);
        redrawWorst = std::max(redrawWorst, t);
        redrawSum += t;
    }
    line(QStringLiteral("chart: full redraw, mean of 20"), redrawSum / 20);
    line(QStringLiteral("chart: full redraw, worst of 20"), redrawWorst);

    double pageWorst = 0, pageSum = 0;
    int pages = 0;
    for (int round = 0; round < 2; ++round) {
        for (int p = 0; p < 5; ++p) {
            const double t = ms([&] {
                if (round == 0)
                    view.pageRight();
                else
                    view.pageLeft();
                render();
            });
            pageWorst = std::max(pageWorst, t);
            pageSum += t;
            ++pages;
        }
    }
    line(QStringLiteral("chart: page turn with redraw, mean"), pageSum / pages);
    line(QStringLiteral("chart: page turn with redraw, worst"), pageWorst);
    const double floorTime = ms([&] {
        view.pageUp();
        render();
        view.pageDown();
        render();
    });
    line(QStringLiteral("chart: floor up and down, both redrawn"), floorTime);
    view.close();
    return 0;
}

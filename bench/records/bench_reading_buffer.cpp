// Figures of the offline buffer: readings held in Buffer.db while the server
// was away are forwarded into the store once it is back (ReadingBuffer::
// forward: the duplicate check, the append and the alert check of each
// reading, the buffer emptied in batches, the held reader position saved).
// Prints one line per figure.
//
// The store holds `rows` readings of 50 dosimeters, each bound to a person
// in the journal, so that the alert check of each forwarded reading sums
// real doses.

#include "bench/BenchEngine.h"
#include "bench/BenchFigures.h"
#include "bench/QuietPrompt.h"
#include "StoreFixture.h"

#include "core/Prompt.h"
#include "records/DataModule.h"
#include "records/ReadingBuffer.h"
#include "records/StoredDateTime.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlQuery>
#include <QTextStream>

namespace {

constexpr int Rounds = 3;
constexpr double ForwardTarget = 5000;  // ms for 2000 readings

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    BenchEngine engine(args);
    const int readings = args.value(0, QStringLiteral("2000")).toInt();
    const int rows = args.value(1, QStringLiteral("100000")).toInt();
    if (args.size() > 2 || readings <= 0 || rows < 0) {
        QTextStream(stderr) << "usage: bench_reading_buffer [readings [rows]] [--engine sqlite|pg [--pg-env FILE]]\n"
                               "  readings  held and forwarded each round (2000); rows  already in the store (100000)\n"
                            << BenchEngine::usage();
        return 2;
    }
    QuietPrompt prompt;
    setPrompt(&prompt);
    storeDir dir;
    out() << "Engine: " << engine.name() << ", Measures rows: " << rows << ", forwarded: " << readings << " x " << Rounds
          << Qt::endl;
    std::unique_ptr<DataModule> dm = dir.start();
    line(QStringLiteral("fill the store (set-up)"), ms([&] {
             fillMeasures(*dm, rows);
             insertRows(*dm,
                        QStringLiteral("INSERT INTO %1 (\"ID\", \"TimeFrom\", \"FIO\") VALUES ").arg(dm->notes().sqlName()),
                        QStringLiteral("(?, ?, ?)"), 50, [](int id) {
                            return QList<QVariant>{id, dateTimeToStored(generatedTime(0).addDays(-1)),
                                                   QStringLiteral("Сотрудник %1").arg(id)};
                        });
             dm->notes().refresh();
         }));
    // What a server's autovacuum does to a table that grew by this much.
    if (engine.server() && !qEnvironmentVariableIsSet("BENCH_NO_VACUUM"))
        line(QStringLiteral("VACUUM (ANALYZE) of Measures and its month sums, as autovacuum does"),
             ms([&] { dm->measures().exec(QStringLiteral("VACUUM (ANALYZE) \"Measures\", \"DoseMonths\"")); }));

    const QString path = ReadingBuffer::pathIn(dir.dataDir());
    QList<double> holds;
    QList<double> forwards;
    for (int round = 0; round < Rounds; ++round) {
        ReadingBuffer buffer(path);
        // Newer than every stored reading, a fresh stretch each round.
        const int first = rows + round * readings;
        holds.append(ms([&] {
            for (int i = 0; i < readings; ++i) {
                const int n = first + i;
                if (!buffer.hold({generatedTime(n), 77, n % 2000 + 1, n % 50, QStringLiteral("Д%1").arg(n % 50), 0.5}).ok())
                    qFatal("hold failed");
            }
            if (!buffer.holdPosition(77, {(first + readings - 1) % 2000 + 1, generatedTime(first + readings - 1)}).ok())
                qFatal("holdPosition failed");
        }));
        Result<ReadingBuffer::Forwarded> done;
        forwards.append(ms([&] { done = buffer.forward(*dm); }));
        if (!done.ok())
            qFatal("forward: %s", qPrintable(done.error->text));
        if (done.value.stored != readings || done.value.positions != 1 || buffer.waiting() != 0)
            qFatal("forward stored %d of %d, %d positions, %lld still waiting", done.value.stored, readings,
                   done.value.positions, buffer.waiting());
    }
    out() << "Median / worst of " << Rounds << " rounds" << Qt::endl;
    figure(QStringLiteral("hold %1 readings in the buffer (set-up, each synchronised)").arg(readings), holds);
    figure(QStringLiteral("forward %1 held readings into the store").arg(readings), forwards, ForwardTarget);
    QList<double> perReading;
    for (double t : std::as_const(forwards))
        perReading.append(t / readings);
    figure(QStringLiteral("  per reading"), perReading);
    return 0;
}

#include "bench/BenchEngine.h"

#include "bench/BenchFigures.h"
#include "records/DataModule.h"
#include "records/DataTable.h"
#include "records/MonthSums.h"
#include "records/SqlQuote.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <memory>

#ifndef RUVO_SOURCE_DIR
#error "RUVO_SOURCE_DIR: the sources' root, for tests/support/pg_cluster.sh"
#endif

namespace {

// The cluster this process started: its state directory and the stop
// command, kept as plain bytes so that the fatal-error and signal paths can
// run it without Qt.
std::unique_ptr<QTemporaryDir> g_state;
QByteArray g_stopCommand;
bool g_stopped = true;

void stopCluster()
{
    if (g_stopped)
        return;
    g_stopped = true;
    if (std::system(g_stopCommand.constData()) != 0)
        std::fputs("bench: stopping the PostgreSQL cluster failed\n", stderr);
}

QtMessageHandler g_previousHandler = nullptr;

void fatalStops(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        stopCluster();
    }
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

extern "C" void signalStops(int sig)
{
    // Ending the bench anyway: the cluster goes first.
    stopCluster();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

[[noreturn]] void usageError(const QString &text)
{
    QTextStream(stderr) << text << Qt::endl << BenchEngine::usage();
    std::exit(2);
}

void startCluster()
{
    const QString script = QStringLiteral(RUVO_SOURCE_DIR "/tests/support/pg_cluster.sh");
    g_state = std::make_unique<QTemporaryDir>();
    if (!g_state->isValid())
        usageError(QStringLiteral("bench: no temporary directory for the cluster"));
    g_stopCommand = QStringLiteral("bash '%1' stop '%2' >/dev/null 2>&1; rm -rf '%2'").arg(script, g_state->path()).toLocal8Bit();
    g_stopped = false;
    g_previousHandler = qInstallMessageHandler(fatalStops);
    std::signal(SIGINT, signalStops);
    std::signal(SIGTERM, signalStops);
#ifdef SIGPIPE
    std::signal(SIGPIPE, signalStops);  // the output piped into head
#endif
#ifdef SIGHUP
    std::signal(SIGHUP, signalStops);
#endif
    std::set_terminate([] {
        stopCluster();
        std::abort();
    });
    QProcess start;
    start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    start.start(QStringLiteral("bash"), {script, QStringLiteral("start"), g_state->path()});
    if (!start.waitForFinished(120000) || start.exitStatus() != QProcess::NormalExit || start.exitCode() != 0) {
        stopCluster();
        usageError(QStringLiteral("bench: the PostgreSQL cluster did not start (%1)").arg(script));
    }
    QTextStream(stderr) << QString::fromLocal8Bit(start.readAllStandardOutput());
}

} // namespace

QString BenchEngine::usage()
{
    return QStringLiteral(
        "  --engine sqlite          the data directory's SQLite files (the default)\n"
        "  --engine pg              a throw-away PostgreSQL cluster of its own (tests/support/pg_cluster.sh,\n"
        "                           run as the user postgres when started as root), stopped at the end\n"
        "  --engine pg --pg-env F   the PostgreSQL server of the env file F (host=, port=, dbname=, user=;\n"
        "                           as pg_cluster.sh start DIR writes DIR/pg.env), in a schema of its own\n");
}

BenchEngine::BenchEngine(QStringList &args)
{
    QString engine = QStringLiteral("sqlite");
    QString envFile;
    for (int i = 0; i < args.size();) {
        const QString a = args[i];
        if ((a == QLatin1String("--engine") || a == QLatin1String("--pg-env")) && i + 1 < args.size()) {
            (a == QLatin1String("--engine") ? engine : envFile) = args[i + 1];
            args.remove(i, 2);
        } else {
            ++i;
        }
    }
    if (engine != QLatin1String("sqlite") && engine != QLatin1String("pg"))
        usageError(QStringLiteral("bench: unknown engine %1").arg(engine));
    m_server = engine == QLatin1String("pg");
    if (!m_server) {
        if (!envFile.isEmpty())
            usageError(QStringLiteral("bench: --pg-env needs --engine pg"));
        qunsetenv("RUVO_TEST_ENGINE");
        return;
    }
    if (envFile.isEmpty()) {
        startCluster();
        envFile = g_state->path() + QStringLiteral("/pg.env");
    } else if (!QFileInfo(envFile).isReadable()) {
        usageError(QStringLiteral("bench: cannot read %1").arg(envFile));
    }
    qputenv("RUVO_TEST_ENGINE", "pg");
    qputenv("RUVO_TEST_PG", QFileInfo(envFile).absoluteFilePath().toLocal8Bit());
}

BenchEngine::~BenchEngine()
{
    stopCluster();
}

void vacuumAfterFill(const BenchEngine &engine, DataTable &table)
{
    if (!engine.server() || qEnvironmentVariableIsSet("BENCH_NO_VACUUM"))
        return;
    // Measures' monthly dose sums grew with it.
    QString tables = table.sqlName();
    if (table.tableName() == QLatin1String("Measures") && table.module())
        tables += QStringLiteral(", ") + MonthSums::sqlName(table.module()->dialect());
    line(QStringLiteral("VACUUM (ANALYZE) of %1, as autovacuum does").arg(tables),
         ms([&] { table.exec(QStringLiteral("VACUUM (ANALYZE) %1").arg(tables)); }));
}

void dropIndexes(DataModule &dm, DataTable &table, const QStringList &plainNames)
{
    const SqlDialect &d = dm.dialect();
    for (const QString &name : plainNames) {
        const QString field = name.mid(1);  // "iDateTime" -> "DateTime"
        const QString spelt = d.indexName(table.tableName(), field);
        table.exec(d.sqlite() ? QStringLiteral("DROP INDEX IF EXISTS %1.%2")
                                .arg(RecordsSql::quoted(table.tableName()), RecordsSql::quoted(spelt))
                          : QStringLiteral("DROP INDEX IF EXISTS %1").arg(RecordsSql::quoted(spelt)));
    }
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v[v.size() / 2];
}

double largest(const QList<double> &v)
{
    return v.isEmpty() ? 0 : *std::max_element(v.begin(), v.end());
}

void figure(const QString &what, const QList<double> &times, double targetMs)
{
    const double worst = largest(times);
    QString text = what.leftJustified(62, QLatin1Char(' ')) + QStringLiteral("%1 / %2 ms")
                       .arg(median(times), 0, 'f', 3)
                       .arg(worst, 0, 'f', 3);
    if (targetMs > 0)
        text += QStringLiteral("  (target < %1 ms: %2)")
                    .arg(targetMs)
                    .arg(worst < targetMs ? QStringLiteral("met") : median(times) < targetMs
                                                                        ? QStringLiteral("median met, worst not")
                                                                        : QStringLiteral("MISSED"));
    out() << text << Qt::endl;
}

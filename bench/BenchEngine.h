#pragma once
// The engine a store benchmark runs on, chosen on its command line:
//   --engine sqlite          the data directory's files (the default)
//   --engine pg              a throw-away PostgreSQL cluster of its own,
//                            started with tests/support/pg_cluster.sh in a
//                            temporary directory and stopped when the bench
//                            ends, also on a fatal error or Ctrl+C
//   --engine pg --pg-env F   an existing server described by the env file F
//                            (as pg_cluster.sh writes it: host=, port=,
//                            dbname=, user=); each run works in a schema of
//                            its own and drops it at the end
// The choice reaches the store fixture (tests/records/StoreFixture.*) through
// RUVO_TEST_ENGINE and RUVO_TEST_PG, as in the store's _pg tests.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class DataModule;
class DataTable;

class BenchEngine {
public:
    // Takes the engine options out of args (the rest stays for the bench);
    // a bad option or a cluster that does not start ends the program.
    explicit BenchEngine(QStringList &args);
    ~BenchEngine();  // stops the cluster it started
    BenchEngine(const BenchEngine &) = delete;
    BenchEngine &operator=(const BenchEngine &) = delete;

    bool server() const { return m_server; }
    QString name() const { return m_server ? QStringLiteral("PostgreSQL") : QStringLiteral("SQLite"); }
    // The usage lines of the options, for a bench's own usage text.
    static QString usage();

private:
    bool m_server = false;
};

// On the server: VACUUM (ANALYZE) of the table after a bench's bulk fill,
// what autovacuum does to a table that grew by a million rows (the
// visibility map that index-only scans read, the planner's statistics), and
// prints its time. SQLite, or BENCH_NO_VACUUM set: nothing.
void vacuumAfterFill(const BenchEngine &engine, DataTable &table);

// Drops indexes of a table by their plain names ("iDateTime",
// "iArchiveRecord"), spelt for the engine the module is on; a missing one is
// skipped.
void dropIndexes(DataModule &dm, DataTable &table, const QStringList &plainNames);

// Median and largest of a set of times.
double median(QList<double> v);
double largest(const QList<double> &v);
// One figure as "what  median / worst  (target < t ms)" and whether it met
// the target (target <= 0: none).
void figure(const QString &what, const QList<double> &times, double targetMs = 0);

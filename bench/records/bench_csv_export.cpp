// The CSV export of the records grid on a large Measures table: the five
// grid columns of every row, in date order and under a filter.

#include "bench/BenchFigures.h"
#include "bench/QuietPrompt.h"
#include "StoreFixture.h"

#include "core/Prompt.h"
#include "records/CsvExport.h"
#include "records/DataModule.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTextStream>

namespace {

const QList<CsvColumn> kGrid{{QStringLiteral("DateTime"), QStringLiteral("Дата")},
                             {QStringLiteral("ID"), QStringLiteral("№")},
                             {QStringLiteral("Name"), QStringLiteral("Идентификатор")},
                             {QStringLiteral("FIO"), QStringLiteral("ФИО (по журналу)")},
                             {QStringLiteral("Dose"), QStringLiteral("Доза, мкЗв")}};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000000;
    QuietPrompt prompt;
    setPrompt(&prompt);
    storeDir dir;
    out() << "Measures rows: " << rows << Qt::endl;

    std::unique_ptr<DataModule> dm = dir.start();
    for (const FieldDef &f : dm->measures().fields())
        dm->measures().exec(QStringLiteral("DROP INDEX \"Measures\".\"i%1\"").arg(f.name));
    fillMeasures(*dm, rows);
    dm.reset();
    dm = dir.start();  // builds the indexes
    DataTable &m = dm->measures();
    const QString path = dir.programDir() + QStringLiteral("export.csv");

    const auto run = [&](const QString &what) {
        qint64 ticks = 0;
        CsvResult r;
        const double t = ms([&] {
            r = exportTableToCsv(m, kGrid, path, [&ticks](qint64, qint64) {
                ++ticks;
                QCoreApplication::processEvents();  // as the window does between pages
                return true;
            });
        });
        if (!r.ok())
            out() << "export failed: " << r.errorText() << Qt::endl;
        line(QStringLiteral("%1 (%2 rows, %3 MB)")
                 .arg(what)
                 .arg(r.value)
                 .arg(QFileInfo(path).size() / 1e6, 0, 'f', 1),
             t / 1000.0, QStringLiteral("s"));
    };

    m.setIndexFieldNames(QStringLiteral("DateTime"));
    run(QStringLiteral("export every row, date order"));
    m.setFilter(QStringLiteral("Dose>50"));
    m.setFiltered(true);
    m.setIndexFieldNames(QStringLiteral("Name"));
    run(QStringLiteral("export under Dose>50, sorted by Name"));
    m.setFiltered(false);
    m.setIndexFieldNames(QString());
    run(QStringLiteral("export every row, key order"));
    dm.reset();
    return 0;
}

#include "BenchSupport.h"

#include "core/Prompt.h"
#include "core/AppState.h"

#include <QDir>
#include <QSqlQuery>

BenchDatabase::BenchDatabase(const QString &dir)
{
    if (dir.isEmpty()) {
        m_temp = std::make_unique<QTemporaryDir>();
        m_programDir = m_temp->path() + QLatin1Char('/');
    } else {
        QDir().mkpath(dir);
        m_programDir = QDir(dir).absolutePath() + QLatin1Char('/');
    }
    setPrompt(&m_prompt);
    appState().programDir = m_programDir;
    dm.dataModuleCreate(toldBy(activePrompt()));
    setDataModule(&dm);
}

BenchDatabase::~BenchDatabase()
{
    setDataModule(nullptr);
    dm.dataModuleDestroy();
    setPrompt(nullptr);
}

qint64 BenchDatabase::fillMeasures(int rows, int dosimeters)
{
    QElapsedTimer clock;
    clock.start();
    DataTable &m = dm.measures();
    // Without its indexes the table fills fast; the module's rebuild puts
    // them back afterwards, as at every start.
    QStringList indexes;
    QSqlQuery list = m.exec(QStringLiteral("SELECT name FROM \"Measures\".sqlite_master WHERE type = 'index' AND sql IS NOT NULL"));
    while (list.next())
        indexes << list.value(0).toString();
    list.finish();
    for (const QString &name : indexes)
        m.exec(QStringLiteral("DROP INDEX \"Measures\".\"%1\"").arg(name));
    Transaction tx(dm);
    m.exec(QStringLiteral(
               "WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x + 1 < %2) "
               "INSERT INTO %1 (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\", \"Dose\", "
               "\"RecoveryTime\", \"FIO\", \"Check\") "
               "SELECT 8323072, (x %% 2000) + 1, strftime('%%Y-%%m-%%d %%H:%%M:%%S.000', '2025-01-01', '+' || x || ' minutes'), "
               "(x %% %3) + 1, 'Дозиметр ' || ((x %% %3) + 1), (x %% 97) * 0.25, "
               "strftime('%%Y-%%m-%%d %%H:%%M:%%S.000', '2025-01-01', '+' || x || ' minutes', '+5 seconds'), NULL, 0 FROM n")
               .replace(QStringLiteral("%%"), QStringLiteral("%"))
               .arg(m.sqlName())
               .arg(rows)
               .arg(dosimeters));
    tx.commit();
    dm.rebuildIndexes(m);
    m.refresh();
    return clock.elapsed();
}

qint64 BenchDatabase::fillNotes(int dosimeters, int perDosimeter, int readings)
{
    QElapsedTimer clock;
    clock.start();
    DataTable &n = dm.notes();
    const qint64 spanMinutes = readings;  // one reading a minute
    const qint64 step = spanMinutes / perDosimeter;
    Transaction tx(dm);
    QSqlQuery q(dm.database());
    q.prepare(QStringLiteral("INSERT INTO %1 (\"ID\", \"TimeFrom\", \"TimeTo\", \"FIO\", \"Dose\") VALUES (?, ?, ?, ?, NULL)")
                  .arg(n.sqlName()));
    const QDateTime start(QDate(2025, 1, 1), QTime(0, 0));
    const FieldDef &def = n.fieldDef(QStringLiteral("TimeFrom"));
    for (int id = 1; id <= dosimeters; ++id) {
        for (int k = 0; k < perDosimeter; ++k) {
            const QDateTime from = start.addSecs((k * step + id % 7) * 60);
            const QDateTime to = start.addSecs(((k + 1) * step - 1) * 60);
            q.addBindValue(id);
            q.addBindValue(DataTable::toStorage(def, from));
            q.addBindValue(k + 1 == perDosimeter ? QVariant() : DataTable::toStorage(def, to));
            q.addBindValue(QStringLiteral("Сотрудник %1-%2").arg(id).arg(k));
            q.exec();
        }
    }
    tx.commit();
    n.refresh();
    return clock.elapsed();
}

qint64 BenchDatabase::count(DataTable &table)
{
    QSqlQuery q = table.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table.sqlName()));
    return q.next() ? q.value(0).toLongLong() : -1;
}

double toMs(qint64 ns)
{
    return ns / 1e6;
}

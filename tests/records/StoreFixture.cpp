#include "StoreFixture.h"

#include "core/Prompt.h"
#include "core/AppState.h"
#include "records/StoredDateTime.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

storeDir::storeDir()
{
    appState().reset();
    appState().programDir = programDir();
}

QString storeDir::programDir() const
{
    return m_tmp.path() + QLatin1Char('/');
}

QString storeDir::dataDir() const
{
    return programDir() + QStringLiteral("Data");
}

QString storeDir::tablePath(const QString &fileName) const
{
    return dataDir() + QLatin1Char('/') + fileName;
}

std::unique_ptr<DataModule> storeDir::start() const
{
    appState().programDir = programDir();
    auto dm = std::make_unique<DataModule>();
    dm->dataModuleCreate(toldBy(activePrompt()));
    return dm;
}

QDateTime generatedTime(int i)
{
    return QDateTime(QDate(2020, 1, 1), QTime(8, 0)).addSecs(qint64(i) * 60);
}

void fillMeasures(DataModule &dm, int n)
{
    Transaction tx(dm);
    QSqlQuery q(dm.database());
    q.prepare(QStringLiteral("INSERT INTO %1 (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\", "
                             "\"Dose\", \"RecoveryTime\", \"FIO\", \"Check\") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                  .arg(dm.measures().sqlName()));
    const QString recovery = dateTimeToStored(QDateTime(QDate(2024, 5, 1), QTime(12, 0)));
    for (int i = 0; i < n; ++i) {
        const QString name = (i % 2 ? QStringLiteral("метка") : QStringLiteral("МЕТКА")) + QString::number(i % 97);
        q.addBindValue(1000 + i % 3);
        q.addBindValue(i % 2000 + 1);
        q.addBindValue(dateTimeToStored(generatedTime(i)));
        q.addBindValue(i % 50);
        q.addBindValue(name);
        q.addBindValue((i % 1000) / 10.0);
        q.addBindValue(recovery);
        q.addBindValue(QStringLiteral("Сотрудник %1").arg(i % 200));
        q.addBindValue(i % 2);
        if (!q.exec())
            qFatal("FillMeasures: %s", qPrintable(q.lastError().text()));
    }
    q.finish();
    tx.commit();
    dm.measures().refresh();
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

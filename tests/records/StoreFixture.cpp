#include "StoreFixture.h"

#include "core/Prompt.h"
#include "core/AppState.h"
#include "records/StoredDateTime.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// Runs one statement on a connection of its own to the test server.
void serverExec(const StoreConnection &c, const QString &sql)
{
    static int counter = 0;
    const QString name = QStringLiteral("storeDir-admin-%1").arg(++counter);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(c.host);
        db.setPort(c.port);
        db.setDatabaseName(c.database);
        db.setUserName(c.user);
        if (!db.open())
            qFatal("test server %s: %s", qPrintable(c.describe()), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        q.exec(QStringLiteral("SET client_min_messages TO warning"));
        if (!q.exec(sql))
            qFatal("test server: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

bool testOnServer()
{
    return qEnvironmentVariable("RUVO_TEST_ENGINE") == QLatin1String("pg");
}

storeDir::storeDir()
{
    appState().reset();
    appState().programDir = programDir();
    if (!testOnServer())
        return;
    const QString file = qEnvironmentVariable("RUVO_TEST_PG");
    QFile f(file);
    if (file.isEmpty() || !f.open(QIODevice::ReadOnly))
        qFatal("RUVO_TEST_ENGINE=pg, but no test server: RUVO_TEST_PG names no readable file (%s)", qPrintable(file));
    m_server = StoreConnection::fromConnInfo(QString::fromUtf8(f.readAll()));
    static int counter = 0;
    m_server.schema = QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++counter);
    serverExec(m_server, QStringLiteral("CREATE SCHEMA \"%1\"").arg(m_server.schema));
}

storeDir::~storeDir()
{
    if (!m_server.schema.isEmpty())
        serverExec(m_server, QStringLiteral("DROP SCHEMA \"%1\" CASCADE").arg(m_server.schema));
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
    if (testOnServer())
        dm->setConnection(m_server);
    dm->dataModuleCreate(toldBy(activePrompt()));
    return dm;
}

QDateTime generatedTime(int i)
{
    return QDateTime(QDate(2020, 1, 1), QTime(8, 0)).addSecs(qint64(i) * 60);
}

void insertRows(DataModule &dm, const QString &head, const QString &tuple, int n,
                const std::function<QList<QVariant>(int)> &rowValues)
{
    const int perStatement = dm.onServer() ? 1000 : 1;
    Transaction tx(dm);
    QSqlQuery q(dm.database());
    int prepared = 0;  // rows of the statement prepared now
    for (int first = 0; first < n; first += perStatement) {
        const int rows = qMin(perStatement, n - first);
        if (rows != prepared) {
            QStringList tuples;
            for (int r = 0; r < rows; ++r)
                tuples.append(tuple);
            if (!q.prepare(head + tuples.join(QStringLiteral(", "))))
                qFatal("insertRows: %s", qPrintable(q.lastError().text()));
            prepared = rows;
        }
        for (int i = first; i < first + rows; ++i) {
            for (const QVariant &v : rowValues(i))
                q.addBindValue(v);
        }
        if (!q.exec())
            qFatal("insertRows: %s", qPrintable(q.lastError().text()));
    }
    q.finish();
    tx.commit();
}

void fillMeasures(DataModule &dm, int n)
{
    const QString recovery = dateTimeToStored(QDateTime(QDate(2024, 5, 1), QTime(12, 0)));
    insertRows(dm,
               QStringLiteral("INSERT INTO %1 (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\", "
                              "\"Dose\", \"RecoveryTime\", \"FIO\", \"Check\") VALUES ")
                   .arg(dm.measures().sqlName()),
               QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?)"), n, [&](int i) {
                   const QString name = (i % 2 ? QStringLiteral("метка") : QStringLiteral("МЕТКА")) + QString::number(i % 97);
                   return QList<QVariant>{1000 + i % 3, i % 2000 + 1, dateTimeToStored(generatedTime(i)), i % 50, name,
                                          (i % 1000) / 10.0, recovery, QStringLiteral("Сотрудник %1").arg(i % 200), i % 2};
               });
    dm.measures().refresh();
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

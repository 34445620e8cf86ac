// Backups of the table files: a copy made while readings are being written
// restores into a working data directory with every reading it held, a
// damaged copy is found and leaves nothing behind, and only the program's
// own oldest backup folders are removed.

#include "StoreFixture.h"
#include "ScriptedPrompt.h"

#include "core/AppState.h"
#include "records/AuditLog.h"
#include "records/DataBackup.h"
#include "records/DataModule.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <QtTest>

namespace {

// Every Measures row, every field, in Index order.
QList<QStringList> measuresRows(DataModule &dm)
{
    QList<QStringList> rows;
    QSqlQuery q(dm.database());
    QStringList fields;
    for (const FieldDef &f : dm.measures().fields())
        fields << QLatin1Char('"') + f.name + QLatin1Char('"');
    if (!q.exec(QStringLiteral("SELECT %1 FROM %2 ORDER BY 1").arg(fields.join(QLatin1Char(',')), dm.measures().sqlName())))
        qFatal("measuresRows failed");
    while (q.next()) {
        QStringList row;
        for (int i = 0; i < q.record().count(); ++i)
            row << q.value(i).toString();
        rows << row;
    }
    return rows;
}

qint64 scalar(DataModule &dm, const QString &sql)
{
    QSqlQuery q(dm.database());
    if (!q.exec(sql) || !q.next())
        qFatal("scalar failed: %s", qPrintable(sql));
    return q.value(0).toLongLong();
}

qint64 rowsOf(const BackupResult &r, const QString &fileName)
{
    for (const BackupFileResult &f : r.files)
        if (f.fileName == fileName)
            return f.rows;
    return -1;
}

BackupRequest requestFor(DataModule &dm, const QString &target, int keep = 10)
{
    BackupRequest r;
    r.dataDir = dm.dataDir();
    r.tables = backupTablesOf(dm);
    r.targetDir = target;
    r.keep = keep;
    return r;
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { appState().reset(); }
    void copyWhileWritingRestoresEveryReading();
    void damagedCopyIsFoundAndRemoved();
    void keepsTheNewestAndTouchesNothingElse();
};

void TestBackup::copyWhileWritingRestoresEveryReading()
{
    ScriptedPrompt prompt;
    QTemporaryDir target;
    QList<QStringList> written;
    BackupResult result;
    int before = 0;
    {
        storeDir src;
        auto dm = src.start();
        fillMeasures(*dm, 20000);
        DataTable &cards = dm->cards();
        cards.append();
        cards.setFieldValue(fieldName(CardsField::FIO), QStringLiteral("Ёлкина Анна"));
        cards.post();
        // Dose control's tables and the audit trail come along.
        QSqlQuery extraRows(dm->database());
        QVERIFY(extraRows.exec(QStringLiteral("INSERT INTO \"DoseLevels\".\"DoseLevels\" (\"Scope\") VALUES ('all')")));
        QVERIFY(extraRows.exec(QStringLiteral("INSERT INTO \"DoseAlerts\".\"DoseAlerts\" (\"PersonKey\") VALUES ('name:x')")));
        QVERIFY(AuditLog(*dm).append({QStringLiteral("Cards"), QStringLiteral("1"), AuditLog::InsertAction, {}, {}}).ok());
        before = int(scalar(*dm, QStringLiteral("SELECT count(*) FROM \"Measures\".\"Measures\"")));

        // The copy runs in its own thread while this one goes on storing
        // readings and, after each, the reader position that follows them.
        std::atomic<bool> done{false};
        QThread *copier = QThread::create([&] {
            result = makeBackup(requestFor(*dm, target.path()));
            done = true;
        });
        copier->start();
        int extra = 0;
        QSqlQuery q(dm->database());
        while (!done || extra < 50) {
            Transaction tx(*dm);
            QVERIFY(q.exec(QStringLiteral("INSERT INTO \"Measures\".\"Measures\" (\"TarnAddress\", \"RecNumber\", "
                                          "\"Name\") VALUES (7, %1, 'поздняя')").arg(++extra)));
            tx.commit();
            Transaction pos(*dm);
            QVERIFY(q.exec(QStringLiteral("INSERT OR REPLACE INTO \"Devices\".\"Devices\" (\"TarnAddress\", "
                                          "\"LastRecNumber\") VALUES (7, %1)").arg(extra)));
            pos.commit();
        }
        copier->wait();
        delete copier;
        written = measuresRows(*dm);
        dm->dataModuleDestroy();
    }
    QVERIFY2(result.ok, qPrintable(result.text));
    QCOMPARE(result.files.size(), 8);
    QCOMPARE(QDir(result.folder).entryList(QDir::Files).size(), 8);
    QVERIFY(!result.text.contains(QStringLiteral(".part")));

    // Restore: the four files into a fresh data directory, opened by the program.
    prompt.asked.clear();
    storeDir dst;
    QVERIFY(QDir().mkpath(dst.dataDir()));
    for (const QString &f : QDir(result.folder).entryList(QDir::Files))
        QVERIFY(QFile::copy(QDir(result.folder).filePath(f), dst.tablePath(f)));
    auto restored = dst.start();
    QVERIFY2(prompt.asked.isEmpty(), qPrintable(prompt.texts().join('|')));
    const QList<QStringList> rows = measuresRows(*restored);
    QVERIFY(rows.size() >= before);
    QCOMPARE(rows, written.mid(0, rows.size()));
    QCOMPARE(rowsOf(result, QStringLiteral("Measures.DB")), qint64(rows.size()));
    // Devices was copied before Measures: its position never runs ahead.
    const qint64 position = scalar(*restored, QStringLiteral("SELECT max(\"LastRecNumber\") FROM \"Devices\".\"Devices\""));
    QVERIFY(position <= rows.size() - 20000);
    QCOMPARE(scalar(*restored, QStringLiteral("SELECT count(*) FROM \"Cards\".\"Cards\" WHERE \"FIO\" = 'Ёлкина Анна'")), 1);
    QCOMPARE(scalar(*restored, QStringLiteral("SELECT count(*) FROM \"DoseLevels\".\"DoseLevels\"")), 1);
    QCOMPARE(scalar(*restored, QStringLiteral("SELECT count(*) FROM \"DoseAlerts\".\"DoseAlerts\"")), 1);
    QCOMPARE(rowsOf(result, QStringLiteral("Audit.db")), 1);
    QCOMPARE(scalar(*restored, QStringLiteral("SELECT count(*) FROM \"Audit\".\"Audit\"")),
             rowsOf(result, QStringLiteral("Audit.db")));
    QCOMPARE(rowsOf(result, QStringLiteral("DosePersons.db")), 0);
    restored->dataModuleDestroy();
}

void TestBackup::damagedCopyIsFoundAndRemoved()
{
    ScriptedPrompt prompt;
    storeDir src;
    auto dm = src.start();
    fillMeasures(*dm, 5000);
    QTemporaryDir target;
    QFile foreign(QDir(target.path()).filePath(QStringLiteral("notes.txt")));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.write("keep me");
    foreign.close();

    BackupRequest r = requestFor(*dm, target.path());
    r.afterCopy = [](const QString &copy) {
        if (!copy.endsWith(QStringLiteral("Measures.DB")))
            return;
        QFile f(copy);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.seek(f.size() / 2);
        f.write(QByteArray(8192, '\x5a'));
    };
    const BackupResult result = makeBackup(r);
    QVERIFY(!result.ok);
    QVERIFY2(result.text.startsWith(QStringLiteral("Резервная копия не создана: Measures.DB: ")), qPrintable(result.text));
    QVERIFY(result.folder.isEmpty());
    QCOMPARE(QDir(target.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"notes.txt"});

    // The same source copies soundly without the damage.
    const BackupResult sound = makeBackup(requestFor(*dm, target.path()));
    QVERIFY2(sound.ok, qPrintable(sound.text));
    QCOMPARE(rowsOf(sound, QStringLiteral("Measures.DB")), qint64(5000));
    QVERIFY(sound.text.contains(QStringLiteral("Measures.DB: записей 5000")));
    dm->dataModuleDestroy();
}

void TestBackup::keepsTheNewestAndTouchesNothingElse()
{
    ScriptedPrompt prompt;
    storeDir src;
    auto dm = src.start();
    QTemporaryDir target;
    const QDir t(target.path());
    // What the operator keeps there: a file, a folder of another name, and a
    // folder named like a backup holding a file of his own.
    QVERIFY(t.mkpath(QStringLiteral("RUVO-old")));
    QVERIFY(t.mkpath(QStringLiteral("RUVO-20000101-000000")));
    QFile own(t.filePath(QStringLiteral("RUVO-20000101-000000/mine.txt")));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.close();

    const QDateTime base(QDate(2026, 12, 1), QTime(3, 0));
    QStringList made;
    for (int i : {0, 1, 2, 2}) {  // the last two in the same second
        BackupRequest r = requestFor(*dm, target.path(), 2);
        r.now = base.addDays(i);
        const BackupResult result = makeBackup(r);
        QVERIFY2(result.ok, qPrintable(result.text));
        made << QFileInfo(result.folder).fileName();
    }
    QCOMPARE(made, (QStringList{"RUVO-20261201-030000", "RUVO-20261202-030000", "RUVO-20261203-030000",
                                "RUVO-20261203-030000-2"}));
    QCOMPARE(t.entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{"RUVO-20000101-000000", "RUVO-20261203-030000", "RUVO-20261203-030000-2", "RUVO-old"}));
    QVERIFY(QFile::exists(own.fileName()));
    QCOMPARE(backupFolders(target.path()).size(), 3);  // the operator's folder counts, but is not removed
    dm->dataModuleDestroy();
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_backup.moc"

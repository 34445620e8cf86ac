// Closing the program in the middle of the cycle's work: a close of the
// window saves the position of the last stored record and ends a full read at
// once; SIGTERM and SIGINT close a real process the ordinary way.

#include "core/Prompt.h"
#include "SyncFixture.h"

#include "core/IniFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QtTest>

#include <csignal>

class TestSyncShutdown : public QObject {
    Q_OBJECT
private slots:
    void closeDuringCatchUpSavesThePosition();
    void closeDuringFullReadEndsItAtOnce();
    void terminationSignalsCloseTheOrdinaryWay();

private:
    // What the main window does when it closes: storing stops, the engine
    // shuts down, the tables close.
    static void closeWindow(SyncRig &rig)
    {
        rig.engine.setFaceNotReady(true);
        rig.engine.shutDown();
        rig.dm.dataModuleDestroy();
    }
};

void TestSyncShutdown::closeDuringCatchUpSavesThePosition()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(300);
    rig.rememberRecord(37);
    int inserted = 0;
    connect(&rig.dm.measures(), &DataTable::rowInserted, &rig.engine, [&rig, &inserted] {
        if (++inserted == 100)
            QTimer::singleShot(0, &rig.engine, [&rig] { closeWindow(rig); });
    });

    rig.engine.pollReader();

    QCOMPARE(inserted, 100);
    rig.dm.dataModuleCreate(toldBy(activePrompt()));
    QCOMPARE(rig.measuresCount(), 100);
    QCOMPARE(rig.device(rig.address()).first, 137);
    QCOMPARE(rig.device(rig.address()).second, rig.sim.record(137).time);
    QVERIFY(rig.eventLines().isEmpty());
}

void TestSyncShutdown::closeDuringFullReadEndsItAtOnce()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(37);
    rig.prompt.defaultAnswer = PromptButton::Cancel;  // go on over every empty slot
    int inserted = 0;
    int servedAtClose = -1;
    connect(&rig.dm.measures(), &DataTable::rowInserted, &rig.engine, [&] {
        if (++inserted == 37)
            QTimer::singleShot(50, &rig.engine, [&] {
                servedAtClose = rig.sim.requestsServed();
                closeWindow(rig);
            });
    });

    rig.engine.pollReader();  // a new reader: the whole archive is read

    QVERIFY2(servedAtClose > 0, "the close is seen while the read runs");
    QVERIFY2(rig.sim.requestsServed() - servedAtClose <= 1,
             qPrintable(QString::number(rig.sim.requestsServed() - servedAtClose)));
    rig.dm.dataModuleCreate(toldBy(activePrompt()));
    QCOMPARE(rig.measuresCount(), 37);
    QCOMPARE(rig.device(rig.address()).first, 37);
}

void TestSyncShutdown::terminationSignalsCloseTheOrdinaryWay()
{
#ifndef Q_OS_UNIX
    QSKIP("POSIX signals");
#else
    QString bin = qEnvironmentVariable("RUVO_BIN_DIR");
    if (bin.isEmpty())
        bin = QCoreApplication::applicationDirPath();
    const QString program = bin + QStringLiteral("/RUVO");
    QVERIFY2(QFile::exists(program), qPrintable(program));

    for (const int sig : {SIGTERM, SIGINT}) {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("runtime"))));
        QFile::setPermissions(dir.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("RUVO_PROGRAM_DIR"), dir.filePath(QStringLiteral("program")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));
        env.remove(QStringLiteral("RUVO_EXIT_AFTER_MS"));

        QProcess ruvo;
        ruvo.setProcessEnvironment(env);
        ruvo.start(program, {});
        QVERIFY(ruvo.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath(QStringLiteral("program/Data/Measures.DB"))), 10000);
        QTest::qWait(1500);  // the window is up and has restored its settings
        QCOMPARE(ruvo.state(), QProcess::Running);

        ::kill(pid_t(ruvo.processId()), sig);

        QVERIFY(ruvo.waitForFinished(20000));
        QCOMPARE(ruvo.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ruvo.exitCode(), 0);
        IniFile ini(dir.filePath(QStringLiteral("config/RUVO.INI")));
        QCOMPARE(ini.readInteger(QStringLiteral("TFace"), QStringLiteral("PingDelayMS"), -1), 300);
    }
#endif
}

QTEST_GUILESS_MAIN(TestSyncShutdown)
#include "tst_sync_shutdown.moc"

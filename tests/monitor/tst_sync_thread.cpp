// The request thread against the simulated reader: starting and stopping it,
// the hand-offs to the main thread, suspension and foreground use of the link.

#include "SyncFixture.h"

#include "link/SerialLink.h"
#include "link/DeviceCommands.h"

#include <QElapsedTimer>
#include <QtTest>

class TestSyncThread : public QObject {
    Q_OBJECT
private slots:
    void workerStartsCopiesAndStops();
    void suspendedTextShownOnce();
    void pausedWorkerNeitherPollsNorShows();
    void suspensionDuringAPollStays();
    void foregroundUseWaitsForTheCommandUnderWay();
    void shutDownDoesNotHangOnAHandOff();
    void presenceAnsweredAloneMarksTheReaderBusy();

private:
    static void startWorker(SyncRig &rig)
    {
        rig.engine.setUseThread(true);
        rig.engine.requestThreadStart();
        for (int i = 0; i < SyncEngine::ThreadStartTick; ++i)
            rig.engine.timerControlTimer();
    }
};

void TestSyncThread::workerStartsCopiesAndStops()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(120);
    rig.rememberRecord(100);
    rig.engine.setUseThread(true);
    rig.engine.requestThreadStart();
    for (int i = 0; i < 3; ++i)
        rig.engine.timerControlTimer();
    QVERIFY(!rig.engine.threadRunning());
    rig.engine.timerControlTimer();  // the fourth tick starts it
    QVERIFY(rig.engine.threadRunning());
    for (int i = 0; i < 30; ++i)
        rig.engine.timerControlTimer();  // the ticks only count now

    // Records arrive through the worker's hand-offs.
    QTRY_COMPARE_WITH_TIMEOUT(rig.device(rig.address()).first, 120, 10000);
    QCOMPARE(rig.recNumbers().size(), 20);
    QVERIFY(rig.view.heartbeats >= 1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.view.heartbeats >= 3, 10000);
    QVERIFY(rig.view.statusTexts.contains(QStringLiteral("Синхронизация завершена")));

    // One more record on the reader: it comes through the next poll.
    rig.sim.addRecords(1);
    QTRY_COMPARE_WITH_TIMEOUT(rig.device(rig.address()).first, 121, 10000);

    // A reader that falls silent shows as offline in the indicator.
    rig.sim.setFaultProbability(SimReader::Fault::NoReply, 1.0);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.view.statesPainted.isEmpty() && rig.view.statesPainted.last() == int(SyncState::Offline), 10000);
    rig.sim.setFaultProbability(SimReader::Fault::NoReply, 0.0);
    QTRY_VERIFY_WITH_TIMEOUT(rig.view.statesPainted.last() == int(SyncState::Online), 10000);

    // Switching the thread off: it ends within about the wait.
    rig.engine.setUseThread(false);
    QElapsedTimer clock;
    clock.start();
    rig.engine.stopThread(200);
    QVERIFY(!rig.engine.threadRunning());
    QVERIFY(rig.engine.waitForWorkers(2000));
    QVERIFY2(clock.elapsed() < 800, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!rig.engine.snapshot().paused);

    // The timer polls again.
    const int served = rig.sim.requestsServed();
    for (int i = 0; i < SyncEngine::PollPeriodTicks; ++i)
        rig.engine.timerControlTimer();
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.requestsServed() > served, 10000);
    // Ticks are not counted while that poll is under way.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.pollUnderWay(), 10000);

    // Switching on again starts one worker only when none exists.
    startWorker(rig);
    QVERIFY(rig.engine.threadRunning());
    rig.engine.shutDown();
    QVERIFY(rig.engine.waitForWorkers(2000));
}

void TestSyncThread::suspendedTextShownOnce()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.rememberRecord(3);
    startWorker(rig);
    QTRY_VERIFY_WITH_TIMEOUT(rig.view.heartbeats >= 1, 5000);

    rig.view.clear();
    rig.engine.setStopSynchro(true);
    QTest::qWait(1500);
    QCOMPARE(rig.view.count(QStringLiteral("Синхронизация приостановлена")), 1);
    QCOMPARE(rig.view.heartbeats, 0);

    // Unchecked: the worker polls again, and a second suspension shows the
    // text once more.
    rig.engine.setStopSynchro(false);
    QTRY_VERIFY_WITH_TIMEOUT(rig.view.heartbeats >= 1, 5000);
    rig.engine.setStopSynchro(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.view.count(QStringLiteral("Синхронизация приостановлена")), 2, 3000);
}

void TestSyncThread::pausedWorkerNeitherPollsNorShows()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.rememberRecord(3);
    startWorker(rig);
    QTRY_VERIFY_WITH_TIMEOUT(rig.view.heartbeats >= 1, 5000);

    ForegroundLinkUse use(rig.engine, 100);  // a service dialog is open
    QVERIFY(rig.engine.snapshot().paused);
    QTest::qWait(100);
    rig.view.clear();
    const int served = rig.sim.requestsServed();
    const int ticks = rig.engine.snapshot().tickCount;
    QTest::qWait(1500);
    QCOMPARE(rig.sim.requestsServed(), served);
    QCOMPARE(rig.engine.snapshot().tickCount, ticks);
    QCOMPARE(rig.view.heartbeats, 0);
    QVERIFY(rig.view.statusTexts.isEmpty());
}

void TestSyncThread::suspensionDuringAPollStays()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.rememberRecord(3);
    rig.link.setPingDelayMs(800);
    rig.sim.setTurnaroundMs(300);
    startWorker(rig);
    QTRY_VERIFY_WITH_TIMEOUT(rig.sim.requestsServed() > rig.sim.repliesSent(), 5000);

    rig.engine.setStopSynchro(true);  // while the worker's request is on the line
    QTest::qWait(1500);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Suspended);
    QCOMPARE(rig.view.count(QStringLiteral("Синхронизация приостановлена")), 1);
}

void TestSyncThread::foregroundUseWaitsForTheCommandUnderWay()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.rememberRecord(3);
    rig.link.setPingDelayMs(800);
    rig.sim.setTurnaroundMs(300);  // every reply starts 300 ms after its request
    startWorker(rig);

    for (int round = 0; round < 3; ++round) {
        // Catch a worker request on the line, its reply still to come.
        QTRY_VERIFY_WITH_TIMEOUT(rig.sim.requestsServed() > rig.sim.repliesSent(), 5000);
        QElapsedTimer clock;
        clock.start();
        {
            ForegroundLinkUse use(rig.engine, 0);
            const qint64 waited = clock.elapsed();
            // The guard waited for the worker's reply, and no request of the
            // worker is outstanding now.
            QVERIFY2(waited >= 10, qPrintable(QString::number(waited)));
            QCOMPARE(rig.sim.repliesSent(), rig.sim.requestsServed());
            const int served = rig.sim.requestsServed();
            QVERIFY(pingReader(&rig.link));  // the foreground's own exchange
            QTest::qWait(400);      // the worker goes on looping meanwhile
            QCOMPARE(rig.sim.requestsServed(), served + 1);
            QCOMPARE(rig.sim.repliesSent(), served + 1);
        }
        QVERIFY(!rig.engine.snapshot().paused);
    }
}

void TestSyncThread::shutDownDoesNotHangOnAHandOff()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.rememberRecord(3);
    startWorker(rig);
    // No events run here: the worker soon waits for its first hand-off.
    QThread::msleep(300);
    QElapsedTimer clock;
    clock.start();
    rig.engine.shutDown();
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(!rig.engine.threadRunning());
    QVERIFY(rig.engine.waitForWorkers(2000));
}

void TestSyncThread::presenceAnsweredAloneMarksTheReaderBusy()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(5);
    startWorker(rig);
    QTRY_COMPARE_WITH_TIMEOUT(rig.device(rig.address()).first, 5, 10000);
    QVERIFY(!rig.engine.snapshot().readerBusy);

    // The next configuration request is refused (not for being busy); the
    // presence check that follows is answered.
    rig.sim.injectFault(SimReader::Fault::Refuse, 1, 1);
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.snapshot().readerBusy, 10000);
    rig.engine.shutDown();
    QVERIFY(rig.engine.waitForWorkers(5000));
}

QTEST_GUILESS_MAIN(TestSyncThread)
#include "tst_sync_thread.moc"

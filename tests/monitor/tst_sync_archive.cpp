// The full archive read against the simulated reader: its questions, its
// stop through the suspension, and what it leaves behind.

#include "SyncFixture.h"

#include "link/DeviceCommands.h"

#include <QSqlQuery>
#include <QTimer>
#include <QtTest>
#include <algorithm>

class TestSyncArchive : public QObject {
    Q_OBJECT
private slots:
    void endOfUnwrappedArchiveAsksToStop();
    void cancelGoesOnAndAsksAtEveryFailure();
    void needsTheReaderInNormalMode();
    void suspensionStopsTheRead();
    void lostLinkEndsSilently();
    void readingsLandingBehindTheLoopAreReadNextPass();
    void unstoredRecordIsReadNextPass();

private:
    // The state a poll leaves before a full read from the menu.
    // Returns the requests served so far.
    static int online(SyncRig &rig)
    {
        const CommandResult<ReaderConfigData> config = readReaderConfig(&rig.link);
        if (!config)
            return -1;
        rig.engine.setReaderConfig(config.value);
        rig.engine.setReaderFindings(true, false, false);
        rig.engine.setState(SyncState::Online);
        return rig.sim.requestsServed();
    }
};

void TestSyncArchive::endOfUnwrappedArchiveAsksToStop()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(37);
    const int base = online(rig);
    QVERIFY(base >= 0);
    rig.engine.startControlTimer();
    rig.prompt.answers << PromptButton::Ok;

    rig.engine.readFullArchive();

    QCOMPARE(rig.prompt.asked.size(), 1);
    QCOMPARE(rig.prompt.asked.at(0).kind, MsgKind::Warning);
    QCOMPARE(rig.prompt.asked.at(0).buttons, PromptButtons(PromptButton::Ok | PromptButton::Cancel));
    QCOMPARE(rig.prompt.asked.at(0).text,
             QStringLiteral("Найдена последняя запись архива (37)\r\nПрекратить дальнейшее считывание ?"));
    QCOMPARE(rig.measuresCount(), 37);
    QCOMPARE(rig.sim.requestsServed() - base, 38);
    QCOMPARE(rig.view.statusTexts.first(), QStringLiteral("Полное чтение архива"));
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("Получен полный архив записей"));
    QCOMPARE(rig.view.progress.at(36), qMakePair(37, 2000));
    QCOMPARE(rig.view.progress.last(), qMakePair(0, 0));
    QCOMPARE(rig.engine.snapshot().lastRecNumber, 37);
    QVERIFY(!rig.engine.snapshot().paused);
    QVERIFY(rig.engine.timerControl()->isActive());
    rig.engine.timerControl()->stop();
}

void TestSyncArchive::cancelGoesOnAndAsksAtEveryFailure()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(5);
    const int base = online(rig);
    QVERIFY(base >= 0);
    rig.prompt.answers << PromptButton::Cancel << PromptButton::Cancel << PromptButton::Ok;

    rig.engine.readFullArchive();

    QCOMPARE(rig.prompt.texts(),
             (QStringList{QStringLiteral("Найдена последняя запись архива (5)\r\nПрекратить дальнейшее считывание ?"),
                          QStringLiteral("Ошибка считывания записи 7\r\nПрекратить дальнейшее считывание ?"),
                          QStringLiteral("Ошибка считывания записи 8\r\nПрекратить дальнейшее считывание ?")}));
    QCOMPARE(rig.prompt.asked.at(1).kind, MsgKind::Error);
    QCOMPARE(rig.prompt.asked.at(1).buttons, PromptButtons(PromptButton::Ok | PromptButton::Cancel));
    QCOMPARE(rig.measuresCount(), 5);
    QCOMPARE(rig.sim.requestsServed() - base, 8);
    QVERIFY(!rig.engine.timerControl()->isActive());  // the stored settings never started it
}

void TestSyncArchive::needsTheReaderInNormalMode()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(5);
    const int base = online(rig);
    QVERIFY(base >= 0);
    rig.engine.setReaderFindings(false, false, false);

    rig.engine.readFullArchive();

    QCOMPARE(rig.prompt.asked.size(), 1);
    QCOMPARE(rig.prompt.asked.at(0).kind, MsgKind::Warning);
    QCOMPARE(rig.prompt.asked.at(0).buttons, PromptButtons(PromptButton::Ok));
    QCOMPARE(rig.prompt.asked.at(0).text,
             QStringLiteral("Для полного считывания архива необходимо чтобы считыватель находился в нормальном режиме работы"));
    QCOMPARE(rig.sim.requestsServed() - base, 0);
    QCOMPARE(rig.measuresCount(), 0);
    QVERIFY(!rig.engine.snapshot().paused);
}

void TestSyncArchive::suspensionStopsTheRead()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(2000);
    const int base = online(rig);
    QVERIFY(base >= 0);
    // The operator checks "Приостановить синхронизацию" while records come in.
    QTimer::singleShot(300, &rig.engine, [&rig] { rig.engine.setStopSynchro(true); });

    rig.engine.readFullArchive();

    const int stored = rig.measuresCount();
    QVERIFY2(stored > 0 && stored < 2000, qPrintable(QString::number(stored)));
    QCOMPARE(rig.sim.requestsServed() - base, stored);
    QVERIFY(rig.prompt.asked.isEmpty());
    QCOMPARE(rig.engine.snapshot().state, SyncState::Suspended);
    QCOMPARE(rig.engine.snapshot().lastRecNumber, stored);
    QVERIFY(!rig.engine.snapshot().paused);
}

void TestSyncArchive::lostLinkEndsSilently()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(50);
    const int base = online(rig);
    QVERIFY(base >= 0);
    rig.sim.injectFault(SimReader::Fault::NoReply, 1000, 0, 10);

    rig.engine.readFullArchive();

    // After the first failed request the other numbers pass without requests.
    QCOMPARE(rig.measuresCount(), 10);
    QCOMPARE(rig.sim.requestsServed() - base, 10 + rig.link.baseRequestCount() + 1);
    QVERIFY(rig.prompt.asked.isEmpty());
    QCOMPARE(rig.engine.snapshot().state, SyncState::Offline);
    QVERIFY(!rig.view.statusTexts.contains(QStringLiteral("Получен полный архив записей")));
}

void TestSyncArchive::readingsLandingBehindTheLoopAreReadNextPass()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(37);
    const SimRecord newest = rig.sim.record(37);
    // Readings 38..42 arrive while the full read runs: 40..42 are in their
    // slots when the loop gets there, 38 and 39 land after it has passed them.
    for (int n = 40; n <= 42; ++n)
        rig.sim.setSlot(n, newest.time.addSecs(60 * (n - 37)), 700 + n, QStringLiteral("Петров П.П."), n);
    // A slot below the newest record that is empty for good.
    rig.sim.setSlotTimeBytes(20, QByteArray(5, '\0'));
    // Go on at 20, at the end of the archive and at 39; stop at 43.
    rig.prompt.answers << PromptButton::Cancel << PromptButton::Cancel << PromptButton::Cancel << PromptButton::Ok;

    rig.engine.pollReader();  // a new reader: the whole archive is read

    QCOMPARE(rig.prompt.asked.size(), 4);
    QCOMPARE(rig.measuresCount(), 39);
    // The position passes the slot that cannot fill any more, not those
    // after the newest record that were still empty.
    QCOMPARE(rig.device(rig.address()).first, 37);
    QCOMPARE(rig.device(rig.address()).second, newest.time);

    for (int n = 38; n <= 39; ++n)
        rig.sim.setSlot(n, newest.time.addSecs(60 * (n - 37)), 700 + n, QStringLiteral("Петров П.П."), n);
    rig.sim.setRecordCount(42);
    rig.engine.pollReader();

    QList<int> numbers = rig.recNumbers();
    std::sort(numbers.begin(), numbers.end());
    QList<int> expected;
    for (int n = 1; n <= 42; ++n)
        if (n != 20)
            expected << n;
    QCOMPARE(numbers, expected);
    QCOMPARE(rig.device(rig.address()).first, 42);
}

void TestSyncArchive::unstoredRecordIsReadNextPass()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(10);
    // Record 4 cannot be stored this time; the operator goes on past it and
    // stops at the end of the archive.
    QSqlQuery q(rig.dm.database());
    QVERIFY(q.exec(QStringLiteral("CREATE TEMP TRIGGER refuse4 BEFORE INSERT ON \"Measures\".\"Measures\" "
                                  "WHEN NEW.\"RecNumber\" = 4 BEGIN SELECT RAISE(ABORT, 'disk I/O error'); END")));
    rig.prompt.answers << PromptButton::Cancel << PromptButton::Ok;

    rig.engine.pollReader();  // a new reader: the whole archive is read

    QCOMPARE(rig.prompt.texts().value(0), QStringLiteral("Ошибка считывания записи 4\r\nПрекратить дальнейшее считывание ?"));
    QCOMPARE(rig.measuresCount(), 9);
    QCOMPARE(rig.device(rig.address()).first, 3);  // the position stops before it

    QVERIFY(q.exec(QStringLiteral("DROP TRIGGER refuse4")));
    rig.engine.pollReader();
    QCOMPARE(rig.measuresCount(), 10);
    QCOMPARE(rig.device(rig.address()).first, 10);
}

QTEST_GUILESS_MAIN(TestSyncArchive)
#include "tst_sync_archive.moc"

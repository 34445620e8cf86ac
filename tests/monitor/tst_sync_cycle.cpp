// The synchronisation cycle in timer mode against the simulated reader: what
// is copied, where the position ends up, what the operator sees.

#include "SyncFixture.h"

#include "link/DeviceCommands.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <cerrno>

namespace {

QStringList progressTexts(int from, int to, int total)
{
    QStringList out;
    for (int i = from; i <= to; ++i)
        out << QStringLiteral("Чтение записи %1 из %2").arg(i).arg(total);
    return out;
}

QStringList Only(const QStringList &texts, const QString &prefix)
{
    QStringList out;
    for (const QString &t : texts)
        if (t.startsWith(prefix))
            out << t;
    return out;
}

QList<int> Range(int from, int to)
{
    QList<int> out;
    for (int i = from; i <= to; ++i)
        out << i;
    return out;
}

} // namespace

class TestSyncCycle : public QObject {
    Q_OBJECT
private slots:
    void copiesNewRecordsWithProgress();
    void followsTheRingRoundItsEnd();
    void equalCountsWriteThePositionUnchanged();
    void rememberedRecordTimeTolerance_data();
    void rememberedRecordTimeTolerance();
    void recordAlreadyStoredIsNotDoubled();
    void duplicateCheckNeedsTimeAndNumber();
    void newBusAddressReadsTheWholeArchive();
    void addressZeroBeforeAnyReplyIsNotLookedUp();
    void clockToleranceIsWholeSeconds();
    void clockQuestionOncePerRunAndOkSetsTheClock();
    void readerSilentMidPassKeepsThePosition();
    void lateRepliesNeverStoreAWrongReading();
    void busyReaderIsOnlineAndCopiesNothing();
    void presenceAnsweredAloneMarksTheReaderBusy();
    void portThatCannotOpenIsNamedOnce();
    void databaseErrorLogsNoSystemText();
    void storeFailureNamesItsCauseOnce();
    void pendingModeRestoreRetriedByThePoll();
    void zeroTimeInRangeStopsAtThatRecord();
    void controlTickCountsPausesAndSuspends();
    void timerNeverPollsBesideAWorker();
    void progressAndHeartbeatHelpers();
};

void TestSyncCycle::copiesNewRecordsWithProgress()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(120);
    rig.rememberRecord(100);

    rig.engine.pollReader();

    QCOMPARE(rig.engine.snapshot().state, SyncState::Online);
    QCOMPARE(rig.recNumbers(), Range(101, 120));
    QCOMPARE(Only(rig.view.statusTexts, QStringLiteral("Чтение записи")), progressTexts(1, 20, 20));
    QList<QPair<int, int>> expected;
    for (int i = 1; i <= 20; ++i)
        expected << qMakePair(i, 20);
    expected << qMakePair(0, 0);
    QCOMPARE(rig.view.progress, expected);
    QCOMPARE(rig.view.statusTexts.first(), QStringLiteral("Конфигурация считана"));
    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("Синхронизация завершена"));
    QCOMPARE(rig.device(rig.address()).first, 120);
    QCOMPARE(rig.device(rig.address()).second, rig.sim.record(120).time);
    QCOMPARE(rig.engine.snapshot().lastRecNumber, 120);

    // Every field of a stored row comes from the reader's record.
    const QList<MeasureRow> rows = rig.measures();
    const SimRecord rec = rig.sim.record(110);
    const MeasureRow &row = rows.at(9);
    QCOMPARE(row.recNumber, 110);
    QCOMPARE(row.time, rec.time);
    QCOMPARE(row.address, rig.address());
    QCOMPARE(row.id, int(rec.id));
    QCOMPARE(row.name, rec.name);
    QCOMPARE(row.dose, rec.doseMicroSv);
    QCOMPARE(row.check.toBool(), false);
    QVERIFY(!row.check.isNull());
    QVERIFY(qAbs(row.recoveryTime.secsTo(QDateTime::currentDateTime())) < 30);
    QCOMPARE(rig.engine.snapshot().lastStoredIndex, rows.last().index);
    QVERIFY(rig.engine.snapshot().namesOutOfStep);
}

void TestSyncCycle::followsTheRingRoundItsEnd()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(2005);
    QCOMPARE(rig.sim.recordCount(), 5);
    rig.rememberRecord(1990);

    rig.engine.pollReader();

    QCOMPARE(rig.recNumbers(), Range(1991, 2000) + Range(1, 5));
    QCOMPARE(Only(rig.view.statusTexts, QStringLiteral("Чтение записи")),
             progressTexts(1, 10, 10) + progressTexts(1, 5, 5));
    QCOMPARE(rig.device(rig.address()).first, 5);
    QCOMPARE(rig.device(rig.address()).second, rig.sim.record(5).time);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Online);
}

void TestSyncCycle::equalCountsWriteThePositionUnchanged()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(2);
    rig.rememberRecord(2);
    QSignalSpy written(&rig.dm.devices(), &DataTable::rowUpdated);

    rig.engine.pollReader();

    QCOMPARE(rig.view.statesPainted.first(), int(SyncState::Exchanging));
    QCOMPARE(rig.engine.snapshot().state, SyncState::Online);
    QCOMPARE(rig.view.statusTexts, QStringList{QStringLiteral("Конфигурация считана")});
    QCOMPARE(rig.measuresCount(), 0);
    QVERIFY(written.count() >= 1);
    QCOMPARE(rig.device(rig.address()).first, 2);
    QCOMPARE(rig.device(rig.address()).second, rig.sim.record(2).time);
}

void TestSyncCycle::rememberedRecordTimeTolerance_data()
{
    QTest::addColumn<qint64>("shiftMs");
    QTest::addColumn<int>("expectedRows");
    QTest::newRow("3 s later still matches") << qint64(3000) << 20;
    QTest::newRow("3 s earlier still matches") << qint64(-3000) << 20;
    QTest::newRow("4 s off reads everything") << qint64(4000) << 120;
}

void TestSyncCycle::rememberedRecordTimeTolerance()
{
    QFETCH(qint64, shiftMs);
    QFETCH(int, expectedRows);
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(120);
    rig.rememberRecord(100, shiftMs);
    rig.prompt.answers << PromptButton::Ok;  // the end of the archive during a full read

    rig.engine.pollReader();

    QCOMPARE(rig.measuresCount(), expectedRows);
    QCOMPARE(rig.device(rig.address()).first, 120);
    if (expectedRows == 120) {
        QCOMPARE(rig.prompt.texts(),
                 QStringList{QStringLiteral("Найдена последняя запись архива (120)\r\nПрекратить дальнейшее считывание ?")});
        QVERIFY(rig.view.statusTexts.contains(QStringLiteral("Полное чтение архива")));
        QVERIFY(!rig.engine.snapshot().paused);
    } else {
        QVERIFY(rig.prompt.asked.isEmpty());
    }
}

void TestSyncCycle::recordAlreadyStoredIsNotDoubled()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(120);
    rig.rememberRecord(100);
    const SimRecord rec = rig.sim.record(105);
    rig.addMeasure(rec.time, int(rec.id), rec.doseMicroSv, 105, rig.address());
    // Same time and number from another reader is another reading.
    const SimRecord other = rig.sim.record(107);
    rig.addMeasure(other.time, int(other.id), other.doseMicroSv, 107, rig.address() + 1);
    // A filter on the grid does not hide the stored row from the check.
    rig.dm.measures().setFilter(QStringLiteral("RecNumber=0"));
    rig.dm.measures().setFiltered(true);
    rig.engine.setNamesOutOfStep(false);

    rig.engine.pollReader();

    QList<int> numbers = rig.recNumbers();
    QCOMPARE(numbers.count(105), 1);
    QCOMPARE(numbers.count(107), 2);
    QCOMPARE(numbers.size(), 21);
    QCOMPARE(rig.device(rig.address()).first, 120);
    QCOMPARE(Only(rig.view.statusTexts, QStringLiteral("Чтение записи")).size(), 20);
}

void TestSyncCycle::duplicateCheckNeedsTimeAndNumber()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(120);
    rig.rememberRecord(120);
    const QDateTime t = rig.sim.record(120).time.addSecs(60);
    // Two readings of one reader in the same minute.
    rig.sim.addRecord(t, 11, QStringLiteral("Сидоров С.С."), 1.5);
    rig.sim.addRecord(t, 12, QStringLiteral("Козлов К.К."), 2.5);
    // Slot 123 was stored a lap of the ring ago; the reader has a new reading there.
    rig.addMeasure(t.addDays(-30), 13, 3.5, 123, rig.address());
    rig.sim.addRecord(t.addSecs(60), 14, QStringLiteral("Орлов О.О."), 4.5);

    rig.engine.pollReader();

    const QList<int> numbers = rig.recNumbers();
    QCOMPARE(numbers.count(121), 1);
    QCOMPARE(numbers.count(122), 1);
    QCOMPARE(numbers.count(123), 2);
    QCOMPARE(rig.device(rig.address()).first, 123);
}

void TestSyncCycle::newBusAddressReadsTheWholeArchive()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.setAddress(0x0A0B0C);
    rig.sim.addRecords(37);
    rig.setDevice(0x010203, 30, rig.sim.record(30).time);
    QSignalSpy inserted(&rig.dm.devices(), &DataTable::rowInserted);

    rig.engine.pollReader();

    QCOMPARE(inserted.count(), 1);
    QCOMPARE(rig.engine.snapshot().loadedAddress, 0x0A0B0C);
    QCOMPARE(rig.measuresCount(), 37);
    QCOMPARE(rig.device(0x0A0B0C).first, 37);
    QCOMPARE(rig.device(0x010203).first, 30);  // the other reader's position is left alone
    QCOMPARE(rig.prompt.texts(),
             QStringList{QStringLiteral("Найдена последняя запись архива (37)\r\nПрекратить дальнейшее считывание ?")});
    // The timer-mode poll does not mark names for a new reader row by itself;
    // the stored records do.
    QVERIFY(rig.engine.snapshot().namesOutOfStep);
}

void TestSyncCycle::addressZeroBeforeAnyReplyIsNotLookedUp()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.setAddress(0);
    rig.setDevice(0, 50, at(10, 0));

    rig.engine.pollReader();

    // Address 0 is what loadedAddress starts with: the row is not read.
    QCOMPARE(rig.engine.snapshot().lastRecNumber, 0);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Online);
    QCOMPARE(rig.sim.requestsServed(), 1);
}

void TestSyncCycle::clockToleranceIsWholeSeconds()
{
    SyncRig rig;
    QVERIFY(rig.start(false));
    ReaderConfigData rec;
    rec.clock = QDateTime::currentDateTime().addMSecs(150900);  // 150.9 s: 150 whole seconds
    rig.engine.setReaderConfig(rec);
    rig.engine.checkReaderClock();
    QVERIFY(rig.prompt.asked.isEmpty());
    QVERIFY(!rig.engine.snapshot().clockQuestionAsked);

    rec.clock = QDateTime::currentDateTime().addMSecs(-150900);
    rig.engine.setReaderConfig(rec);
    rig.engine.checkReaderClock();
    QVERIFY(rig.prompt.asked.isEmpty());

    rig.prompt.answers << PromptButton::Cancel;
    rec.clock = QDateTime::currentDateTime().addMSecs(151500);
    rig.engine.setReaderConfig(rec);
    rig.engine.setPaused(true);
    rig.engine.checkReaderClock();
    QCOMPARE(rig.prompt.asked.size(), 1);
    QCOMPARE(rig.prompt.asked.at(0).kind, MsgKind::Information);
    QCOMPARE(rig.prompt.asked.at(0).buttons, PromptButtons(PromptButton::Ok | PromptButton::Cancel));
    QCOMPARE(rig.prompt.asked.at(0).text,
             QStringLiteral("Время в ТРЕМ не соответствует времени на компьютере\r\rСинхронизировать время ТРЕМ по компьютерному времени?"));
    QCOMPARE(rig.engine.snapshot().state, SyncState::Suspended);
    QVERIFY(!rig.engine.snapshot().paused);
    QCOMPARE(rig.engine.readerConfig().clock, rec.clock);  // Cancel leaves the clock alone
}

void TestSyncCycle::clockQuestionOncePerRunAndOkSetsTheClock()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.rememberRecord(3);
    rig.engine.pollReader();  // the reader's row is loaded, the clock is right
    QVERIFY(rig.prompt.asked.isEmpty());
    QCOMPARE(rig.engine.snapshot().lastRecNumber, 3);
    rig.sim.setClockOffsetSeconds(3600);
    rig.prompt.answers << PromptButton::Ok;

    rig.engine.pollReader();

    QCOMPARE(rig.prompt.asked.size(), 1);
    QCOMPARE(rig.sim.readModel<int>([](const SimReaderModel &m) { return m.configWrites(); }), 1);
    QVERIFY(qAbs(rig.sim.clock().secsTo(QDateTime::currentDateTime())) < 61);
    // The counts were equal: synchronisation stays suspended after the question.
    QCOMPARE(rig.engine.snapshot().state, SyncState::Suspended);

    // Once per run: the next poll (clock off again) asks nothing.
    rig.sim.setClockOffsetSeconds(-3600);
    rig.engine.setStopSynchro(true);
    rig.engine.setStopSynchro(false);
    rig.engine.pollReader();
    QCOMPARE(rig.prompt.asked.size(), 1);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Online);
}

void TestSyncCycle::readerSilentMidPassKeepsThePosition()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(120);
    rig.rememberRecord(100);
    // Configuration, the check of record 100, records 101..110 answered; then silence.
    rig.sim.injectFault(SimReader::Fault::NoReply, 50, 0, 12);

    rig.engine.pollReader();

    QCOMPARE(rig.engine.snapshot().state, SyncState::Offline);
    QCOMPARE(rig.recNumbers(), Range(101, 110));
    QCOMPARE(rig.device(rig.address()).first, 110);
    QCOMPARE(rig.device(rig.address()).second, rig.sim.record(110).time);
    QVERIFY(!rig.view.statusTexts.contains(QStringLiteral("Синхронизация завершена")));

    rig.sim.clearFaults();
    rig.engine.pollReader();
    QCOMPARE(rig.recNumbers(), Range(101, 120));
    QCOMPARE(rig.device(rig.address()).first, 120);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Online);
}

// Every stored row holds the reading of the slot its RecNumber names.
static void checkRowsMatchTheReader(SyncRig &rig)
{
    QList<int> seen;
    for (const MeasureRow &r : rig.measures()) {
        QVERIFY2(!seen.contains(r.recNumber), qPrintable(QString::number(r.recNumber)));
        seen << r.recNumber;
        const SimRecord s = rig.sim.record(r.recNumber);
        QCOMPARE(r.time, s.time);
        QCOMPARE(r.id, int(s.id));
        QCOMPARE(r.name, s.name);
        QCOMPARE(r.dose, s.doseMicroSv);
    }
}

void TestSyncCycle::lateRepliesNeverStoreAWrongReading()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(40);
    rig.rememberRecord(10);
    // Replies that come after the window has closed, and stray bytes after a
    // reply, at random during the copy.
    rig.sim.setFaultProbability(SimReader::Fault::Late, 0.2, SyncRig::PingWindowMs + 100);
    rig.sim.setFaultProbability(SimReader::Fault::Trailing, 0.1, 1);
    for (int i = 0; i < 4; ++i) {
        rig.engine.pollReader();
        checkRowsMatchTheReader(rig);
    }
    // A reader slower than the window: nothing it says is taken for the
    // answer to a later request.
    rig.sim.clearFaults();
    rig.sim.addRecords(5);
    rig.sim.setTurnaroundMs(SyncRig::PingWindowMs + 30);
    rig.engine.pollReader();
    checkRowsMatchTheReader(rig);

    rig.sim.setTurnaroundMs(0);
    for (int i = 0; i < 3 && rig.device(rig.address()).first != 45; ++i)
        rig.engine.pollReader();
    checkRowsMatchTheReader(rig);
    QCOMPARE(rig.recNumbers().size(), 35);
    QCOMPARE(rig.device(rig.address()).first, 45);
}

void TestSyncCycle::pendingModeRestoreRetriedByThePoll()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.engine.pollReader();  // the first pass copies the three records
    const QByteArray modeZero("\x08\x01\x02\x00", 4);  // function, selector, body length
    auto modeRequests = [&] {
        int n = 0;
        for (const QByteArray &r : rig.sim.requestLog())
            if (r.mid(6, 4) == modeZero && r.mid(14, 2) == QByteArray("\x01\x00", 2))
                ++n;
        return n;
    };

    // A reader that does not switch modes: the pending switch waits.
    rig.engine.setReaderModeRestorePending(true);
    rig.engine.pollReader();
    QCOMPARE(modeRequests(), 0);
    QVERIFY(rig.engine.snapshot().readerModeRestorePending);

    // A reader that switches modes gets mode 0 at the next poll; the flag clears.
    rig.sim.setModeSwitching(true);
    rig.engine.pollReader();
    QCOMPARE(modeRequests(), 1);
    QVERIFY(!rig.engine.snapshot().readerModeRestorePending);
    rig.engine.pollReader();
    QCOMPARE(modeRequests(), 1);
}

void TestSyncCycle::busyReaderIsOnlineAndCopiesNothing()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(5);
    rig.sim.setBusy(true);

    rig.engine.pollReader();

    QCOMPARE(rig.engine.snapshot().state, SyncState::Online);
    QVERIFY(rig.engine.snapshot().readerBusy);
    QVERIFY(!rig.engine.snapshot().readerNormalMode);
    QCOMPARE(rig.measuresCount(), 0);
    QCOMPARE(rig.view.statesPainted, QList<int>{int(SyncState::Online)});

    // A silent reader: offline, nothing else.
    rig.sim.setBusy(false);
    rig.sim.setFaultProbability(SimReader::Fault::NoReply, 1.0);
    rig.engine.pollReader();
    QCOMPARE(rig.engine.snapshot().state, SyncState::Offline);
    QVERIFY(!rig.engine.snapshot().readerBusy);
}

void TestSyncCycle::presenceAnsweredAloneMarksTheReaderBusy()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(5);
    // The configuration request is refused (not for being busy); the
    // presence check that follows is answered.
    rig.sim.injectFault(SimReader::Fault::Refuse, 1, 1);

    rig.engine.pollReader();

    QVERIFY(rig.engine.snapshot().readerBusy);
    QVERIFY(!rig.engine.snapshot().readerNormalMode);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Online);
    QCOMPARE(rig.measuresCount(), 0);
}

void TestSyncCycle::portThatCannotOpenIsNamedOnce()
{
    SyncRig rig;
    QVERIFY(rig.start());
    const QString port = rig.dir.filePath(QStringLiteral("ttyMissing"));
    rig.link.setPortName(port);
    rig.link.resetReportConnectFailure();

    for (int i = 0; i < 3; ++i)
        rig.engine.pollReader();

    QVERIFY2(rig.view.statusTexts.size() == 1 && rig.view.statusTexts.last().contains(port),
             qPrintable(rig.view.statusTexts.join(QLatin1Char('|'))));
    const QStringList lines = rig.eventLines();
    QCOMPARE(lines.filter(port).size(), 1);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Offline);
    rig.link.resetReportConnectFailure();
}

void TestSyncCycle::databaseErrorLogsNoSystemText()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.engine.pollReader();
    QCOMPARE(rig.device(rig.address()).first, 3);
    // The position cannot be written; the system's last error code is one
    // that has nothing to do with it.
    rig.dm.devices().close();
    rig.sim.addRecords(2);
    errno = ENOTTY;

    rig.engine.pollReader();

    QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("Ошибка чтения и обработки"));
    const QStringList lines = rig.eventLines().filter(QStringLiteral("Ошибка чтения и обработки"));
    QVERIFY2(lines.size() == 1, qPrintable(lines.join(QLatin1Char('|'))));
    QVERIFY2(lines.last().endsWith(QStringLiteral(" >Ошибка чтения и обработки")), qPrintable(lines.last()));
}

// Each cause made for real: another connection holding the write lock of
// Measures, the module's own connection made read-only (root writes any
// file, so file modes cannot do it), and a page limit that makes the file
// full.
void TestSyncCycle::storeFailureNamesItsCauseOnce()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.engine.pollReader();
    QCOMPARE(rig.device(rig.address()).first, 3);
    QSqlQuery own(rig.dm.database());
    const QString prefix = QStringLiteral("Ошибка чтения и обработки: ");

    auto failingPolls = [&](const QString &cause, int added) {
        const int position = rig.device(rig.address()).first;
        const int rows = rig.measuresCount();
        rig.sim.addRecords(added);
        rig.engine.pollReader();
        const int storedNow = rig.measuresCount();
        rig.engine.pollReader();
        rig.engine.pollReader();
        QCOMPARE(rig.view.statusTexts.last(), prefix + cause);
        const QStringList logged = rig.eventLines().filter(prefix + cause);
        QVERIFY2(logged.size() == 1, qPrintable(rig.eventLines().join(QLatin1Char('|'))));
        // The position is that of the last stored reading, and no row is half there.
        QCOMPARE(rig.measuresCount(), storedNow);
        QVERIFY(storedNow < rows + added);
        QCOMPARE(rig.device(rig.address()).first, position + storedNow - rows);
        QCOMPARE(rig.recNumbers().last(), position + storedNow - rows);
    };

    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(rig.dm.measures().filePath());
        QVERIFY(other.open());
        QSqlQuery lock(other);
        QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        failingPolls(QStringLiteral("таблица занята другой программой"), 2);
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    rig.engine.pollReader();
    QCOMPARE(rig.device(rig.address()).first, 5);

    QVERIFY(own.exec(QStringLiteral("PRAGMA query_only=1")));
    failingPolls(QStringLiteral("нет прав на запись"), 2);
    QVERIFY(own.exec(QStringLiteral("PRAGMA query_only=0")));

    QVERIFY(own.exec(QStringLiteral("PRAGMA Measures.page_count")) && own.next());
    const int pages = own.value(0).toInt();
    QVERIFY(own.exec(QStringLiteral("PRAGMA Measures.max_page_count=%1").arg(pages + 1)));
    failingPolls(QStringLiteral("нет места на диске"), 150);
    QCOMPARE(rig.eventLines().filter(prefix).size(), 3);
}

void TestSyncCycle::zeroTimeInRangeStopsAtThatRecord()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(120);
    rig.rememberRecord(100);
    rig.sim.setSlotTimeBytes(105, QByteArray(5, '\0'));

    for (int pass = 1; pass <= 2; ++pass) {
        rig.engine.pollReader();
        QCOMPARE(rig.recNumbers(), Range(101, 104));
        QCOMPARE(rig.device(rig.address()).first, 104);
        QCOMPARE(rig.view.statusTexts.last(), QStringLiteral("Ошибка чтения и обработки"));
        const QStringList errors = rig.eventLines().filter(QStringLiteral(" >Ошибка чтения и обработки"));
        QCOMPARE(errors.size(), pass);
    }
    QVERIFY(rig.engine.timerControl()->isActive() == false);  // the timer was never started
}

void TestSyncCycle::controlTickCountsPausesAndSuspends()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.rememberRecord(3);

    for (int i = 0; i < 10; ++i)
        rig.engine.timerControlTimer();
    QCOMPARE(rig.sim.requestsServed(), 0);
    rig.engine.timerControlTimer();  // the 11th counted tick polls
    QVERIFY(rig.engine.pollUnderWay());
    rig.engine.timerControlTimer();  // not counted while the poll runs
    QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.pollUnderWay(), 10000);
    QVERIFY(rig.sim.requestsServed() > 0);
    QCOMPARE(rig.engine.snapshot().tickCount, 11);

    // Paused: nothing at all, not even counting.
    const int served = rig.sim.requestsServed();
    rig.engine.setPaused(true);
    for (int i = 0; i < 22; ++i)
        rig.engine.timerControlTimer();
    QCOMPARE(rig.engine.snapshot().tickCount, 11);
    rig.engine.setPaused(false);

    // Suspended: the text at every tick, no poll.
    rig.view.clear();
    rig.engine.setStopSynchro(true);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Suspended);
    for (int i = 0; i < 22; ++i)
        rig.engine.timerControlTimer();
    QCOMPARE(rig.view.count(QStringLiteral("Синхронизация приостановлена")), 22);
    QCOMPARE(rig.sim.requestsServed(), served);

    // Unchecking always leaves state 0, whatever came before.
    rig.engine.setState(SyncState::Online);
    rig.engine.setStopSynchro(false);
    QCOMPARE(rig.engine.snapshot().state, SyncState::Offline);
    QCOMPARE(rig.engine.snapshot().threadStartTicks, 55);
}

void TestSyncCycle::timerNeverPollsBesideAWorker()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(3);
    rig.rememberRecord(3);
    rig.engine.setUseThread(true);
    rig.engine.requestThreadStart();
    for (int i = 0; i < 4; ++i)
        rig.engine.timerControlTimer();
    QVERIFY(rig.engine.threadRunning());

    // The box goes back to unchecked while the worker lives (a settings
    // dialog closed with Cancel): the tick must not poll beside it. A timer
    // poll always repaints the indicator; the worker's steps cannot, since
    // this thread runs no events here.
    rig.engine.setUseThread(false);
    rig.view.clear();
    for (int i = 0; i < 33; ++i)
        rig.engine.timerControlTimer();
    QVERIFY(rig.engine.workerAlive());
    QCOMPARE(rig.view.indicatorUpdates, 0);

    // Once the worker has ended, the timer polls again at the next 11th tick.
    rig.engine.stopThread(50);
    QVERIFY(rig.engine.waitForWorkers(3000));
    rig.view.clear();
    for (int i = 0; i < 11; ++i)
        rig.engine.timerControlTimer();
    QTRY_VERIFY_WITH_TIMEOUT(rig.view.indicatorUpdates >= 1, 10000);
}

void TestSyncCycle::progressAndHeartbeatHelpers()
{
    QCOMPARE(progressWidth(1, 20, 289), 14);   // 14.45
    QCOMPARE(progressWidth(1, 2, 5), 2);       // 2.5: halves to even
    QCOMPARE(progressWidth(3, 2, 5), 8);       // 7.5
    QCOMPARE(progressWidth(20, 20, 289), 289);
    QCOMPARE(progressWidth(0, 0, 289), 0);
    QString text;
    QStringList seen;
    for (int i = 0; i < 6; ++i) {
        text = nextHeartbeatText(text);
        seen << text;
    }
    const QString b(QChar(0x2022));
    QCOMPARE(seen, (QStringList{b, b + b, b + b + b, b + b + b + b, QString(), b}));
}

QTEST_GUILESS_MAIN(TestSyncCycle)
#include "tst_sync_cycle.moc"

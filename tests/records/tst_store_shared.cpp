// Several monitors on one store: the same readings stored by two modules at
// once end up there once each, and the copy position is kept per reader.
// The concurrent cases need the server (CTest runs this file once per
// engine); the buffer's cases run on both.

#include "StoreFixture.h"
#include "ScriptedPrompt.h"
#include "DoseSite.h"

#include "records/AuditLog.h"
#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/DoseAlerts.h"
#include "records/DoseLevels.h"
#include "records/Journal.h"
#include "records/LabelBinding.h"
#include "records/ReadingBuffer.h"
#include "records/ReadingStore.h"

#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

QList<StoredReading> readingsOf(int address, int count)
{
    QList<StoredReading> list;
    for (int i = 1; i <= count; ++i)
        list.append({generatedTime(i), address, i, i % 40, QStringLiteral("Метка%1").arg(i % 7), i / 10.0});
    return list;
}

// How many times each (address, number, time) is in Measures: the rows that
// are there more than once, and all rows.
QPair<int, int> doublesAndRows(DataModule &dm)
{
    QSqlQuery q = dm.measures().exec(QStringLiteral("SELECT COUNT(*) - COUNT(DISTINCT \"TarnAddress\" || '/' || \"RecNumber\" "
                                                    "|| '/' || \"DateTime\"), COUNT(*) FROM %1")
                                         .arg(dm.measures().sqlName()));
    q.next();
    return {q.value(0).toInt(), q.value(1).toInt()};
}

int countRows(const DataTable &t)
{
    QSqlQuery q = t.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(t.sqlName()));
    q.next();
    return q.value(0).toInt();
}

int auditRows(DataModule &dm)
{
    return int(AuditLog(dm).query({}, {}, QString()).value.size());
}

} // namespace

class TestStoreShared : public QObject {
    Q_OBJECT
private slots:
    void twoModulesStoreTheSameReadingsOnce();
    void heldReadingsForwardedInOrderOnceEach();
    void forwardedAlertNamesTheCrossingReading();
    void killedWhileHoldingLosesNothing();
    void serverLostReadingsWaitAndFollowInOrder();
    void journalRowChangedTwiceOneWins();
    void sameDosimeterBoundAtOnceOnce();
    void cardChangedTwiceOneWins();
    void labelBindingMeetsAnotherBinding();
};

void TestStoreShared::twoModulesStoreTheSameReadingsOnce()
{
    if (!testOnServer())
        QSKIP("several monitors share only a server's database");
    storeDir dir;
    ScriptedPrompt prompt;
    auto first = dir.start();  // makes the tables
    QVERIFY(first->connected());

    // Two monitors copy the same reader (a PC swapped while the old one still
    // copies) and a reader of their own each, all at once: the check before
    // the append races, the unique index decides.
    const int count = 300;
    std::atomic<int> ready{0};
    std::atomic<int> refused[2] = {0, 0};
    std::atomic<bool> failed{false};
    auto monitor = [&](int which) {
        try {
            DataModule dm;
            dm.setConnection(dir.server());
            dm.setLocalFallback(false);
            dm.dataModuleCreate();
            ReadingStore store(dm);
            ++ready;
            while (ready.load() < 2)
                std::this_thread::yield();
            const QList<StoredReading> shared = readingsOf(7, count);
            const QList<StoredReading> own = readingsOf(100 + which, count / 3);
            for (int i = 0; i < count; ++i) {
                const StoredReading &r = shared[which == 0 ? i : count - 1 - i];
                if (!store.readingStored(r.time, r.address, r.recNumber)) {
                    bool already = false;
                    if (store.storeReading(r, &already) <= 0)
                        failed = true;
                    refused[which] += already;
                }
                if (i % 3 == 0)
                    store.storeReading(own[i / 3]);
                if (i % 50 == 0)
                    store.saveReaderPosition(100 + which, {i / 3 + 1, own[i / 3].time});
                // Both write the shared reader's position; the row is one.
                store.saveReaderPosition(7, {i + 1, generatedTime(i + 1)});
            }
            store.saveReaderPosition(100 + which, {count / 3, own.last().time});
            dm.dataModuleDestroy();
        } catch (const std::exception &e) {
            qWarning("monitor %d: %s", which, e.what());
            failed = true;
        }
    };
    std::thread a(monitor, 0);
    std::thread b(monitor, 1);
    a.join();
    b.join();
    QVERIFY(!failed);

    first->measures().refresh();
    const QPair<int, int> counts = doublesAndRows(*first);
    QCOMPARE(counts.first, 0);
    QCOMPARE(counts.second, count + 2 * (count / 3));
    // The positions: one row per reader.
    ReadingStore store(*first);
    QSqlQuery q = first->devices().exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(first->devices().sqlName()));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 3);
    QCOMPARE(store.loadReaderPosition(7).recNumber, count);
    QCOMPARE(store.loadReaderPosition(100).recNumber, count / 3);
    QCOMPARE(store.loadReaderPosition(101).recNumber, count / 3);
    qInfo("refused as stored already: %d and %d", refused[0].load(), refused[1].load());
}

void TestStoreShared::heldReadingsForwardedInOrderOnceEach()
{
    storeDir dir;
    ScriptedPrompt prompt;
    auto dm = dir.start();
    const QString path = ReadingBuffer::pathIn(dir.dataDir());
    const QList<StoredReading> readings = readingsOf(5, 500);
    {
        ReadingBuffer buffer(path);
        QCOMPARE(buffer.waiting(), 0);
        for (const StoredReading &r : readings)
            QVERIFY(buffer.hold(r).ok());
        QVERIFY(buffer.hold(readings[10]).ok());  // held once
        QVERIFY(buffer.holdPosition(5, {500, readings.last().time}).ok());
        QVERIFY(buffer.holdPosition(5, {500, readings.last().time}).ok());
        QCOMPARE(buffer.waiting(), 500);
        QCOMPARE(buffer.heldPosition(5)->recNumber, 500);
        QVERIFY(!buffer.heldPosition(6));

        // Killed in mid-forward after 250 readings reached the store, before
        // the buffer was told of the last 50 of them.
        buffer.setStopAfterForTest(250);
        const Result<ReadingBuffer::Forwarded> cut = buffer.forward(*dm);
        QVERIFY(cut.ok());
        QCOMPARE(cut.value.stored, 250);
        QCOMPARE(buffer.waiting(), 300);
    }
    // The next run forwards the rest; the 50 told late are found stored.
    ReadingBuffer again(path);
    const Result<ReadingBuffer::Forwarded> rest = again.forward(*dm);
    QVERIFY(rest.ok());
    QCOMPARE(rest.value.stored, 250);
    QCOMPARE(rest.value.already, 50);
    QCOMPARE(rest.value.positions, 1);
    QCOMPARE(again.waiting(), 0);
    QVERIFY(!again.heldPosition(5));

    const QPair<int, int> counts = doublesAndRows(*dm);
    QCOMPARE(counts, qMakePair(0, 500));
    // In order of arrival, with the time each was copied kept.
    QSqlQuery q = dm->measures().exec(QStringLiteral("SELECT \"RecNumber\", \"Name\" FROM %1 ORDER BY \"Index\"")
                                          .arg(dm->measures().sqlName()));
    for (int n = 1; q.next(); ++n) {
        QCOMPARE(q.value(0).toInt(), n);
        QCOMPARE(q.value(1).toString(), readings[n - 1].name);
    }
    QCOMPARE(ReadingStore(*dm).loadReaderPosition(5).recNumber, 500);
    // Nothing waits: forwarding again changes nothing.
    QCOMPARE(again.forward(*dm).value.stored, 0);
    QCOMPARE(doublesAndRows(*dm).second, 500);
}

// The readings forwarded together are checked after their commit, each as
// if the later ones were not stored yet.
void TestStoreShared::forwardedAlertNamesTheCrossingReading()
{
    DoseSite s;
    s.bind(9, QStringLiteral("Кузнецов"), at(2025, 1, 1, 0));
    QVERIFY(DoseLevels(*s.dm)
                .setLevel({LevelScope::All, {}, {}, DosePeriod::Month, LevelKind::Investigation}, 10.0, QStringLiteral("тест"))
                .ok());
    ReadingBuffer buffer(ReadingBuffer::pathIn(s.dir.dataDir()));
    for (int i = 0; i < 5; ++i)  // 4 µSv each: the third goes over 10
        QVERIFY(buffer.hold({at(2025, 3, 1 + i), 5, i + 1, 9, QStringLiteral("Д"), 4.0}).ok());
    const Result<ReadingBuffer::Forwarded> done = buffer.forward(*s.dm);
    QVERIFY(done.ok());
    QCOMPARE(done.value.stored, 5);
    int monthAlerts = 0;
    for (const DoseAlert &a : DoseAlerts(*s.dm).alerts()) {
        if (a.period.kind != DosePeriod::Month)
            continue;
        ++monthAlerts;
        QCOMPARE(a.readingTime, at(2025, 3, 3));
        QCOMPARE(a.dose, 12.0);
    }
    QCOMPARE(monthAlerts, 1);
}

void TestStoreShared::killedWhileHoldingLosesNothing()
{
    const QString childPath = qEnvironmentVariable("RUVO_BUFFER_CHILD");
    if (!childPath.isEmpty()) {
        // The monitor holding readings as fast as it can until it is killed.
        ReadingBuffer buffer(childPath);
        const QList<StoredReading> readings = readingsOf(9, 5000);
        for (const StoredReading &r : readings) {
            if (!buffer.hold(r).ok())
                qFatal("hold failed");
            printf("%d\n", r.recNumber);
            fflush(stdout);
        }
        return;
    }
    storeDir dir;
    ScriptedPrompt prompt;
    auto dm = dir.start();
    const QString path = ReadingBuffer::pathIn(dir.dataDir());
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("RUVO_BUFFER_CHILD"), path);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("killedWhileHoldingLosesNothing")});
    QVERIFY(child.waitForStarted());
    int reported = 0;
    QByteArray out;
    while (reported < 200 && child.waitForReadyRead(10000)) {
        out += child.readAllStandardOutput();
        const QList<QByteArray> lines = out.split('\n');
        for (const QByteArray &line : lines)
            reported = qMax(reported, line.trimmed().toInt());
    }
    child.kill();  // SIGKILL, in the middle of a write
    child.waitForFinished();
    out += child.readAllStandardOutput();
    for (const QByteArray &line : out.split('\n'))
        reported = qMax(reported, line.trimmed().toInt());
    QVERIFY(reported >= 200);

    ReadingBuffer buffer(path);
    const qint64 held = buffer.waiting();
    // Every reading reported held is there; the one being written when the
    // kill came may be too.
    QVERIFY2(held == reported || held == reported + 1, qPrintable(QStringLiteral("%1 %2").arg(held).arg(reported)));
    const Result<ReadingBuffer::Forwarded> forwarded = buffer.forward(*dm);
    QVERIFY(forwarded.ok());
    QCOMPARE(doublesAndRows(*dm), qMakePair(0, int(held)));
    QCOMPARE(buffer.waiting(), 0);
}

void TestStoreShared::journalRowChangedTwiceOneWins()
{
    storeDir dir;
    ScriptedPrompt prompt;
    auto mine = dir.start();
    // A second monitor on the same store.
    DataModule theirs;
    if (testOnServer()) {
        theirs.setConnection(dir.server());
        theirs.setLocalFallback(false);
    }
    theirs.dataModuleCreate();
    Journal a(*mine, {});
    Journal b(theirs, {});
    const QDateTime from(QDate(2024, 3, 1), QTime(8, 0));
    QVERIFY(a.bind(QStringLiteral("42"), QStringLiteral("Иванов"), from.date(), from.time()).ok());
    const QVariant key = a.currentRow()->key;
    theirs.notes().refresh();
    QVERIFY(theirs.notes().findKey(key));
    // Both operators have the open row on screen and release it.
    QVERIFY(a.checkRelease().ok());
    QVERIFY(b.checkRelease().ok());
    QVERIFY(a.release(key, from.addDays(1)).ok());
    const Result<> lost = b.release(key, from.addDays(2));
    QCOMPARE(lost.kind(), ErrorKind::Conflict);
    QVERIFY(lost.errorText().contains(QStringLiteral("другом рабочем месте")));
    QVERIFY(lost.errorText().contains(Journal::momentText(from.addDays(1))));
    // The first release stands, and the loser's view shows it.
    QCOMPARE(b.row(key)->to, from.addDays(1));
    QCOMPARE(b.currentRow()->to, from.addDays(1));

    // A row deleted on one monitor while the other releases it.
    QVERIFY(a.bind(QStringLiteral("43"), QStringLiteral("Петров"), from.date(), from.time()).ok());
    const QVariant key2 = a.currentRow()->key;
    theirs.notes().refresh();
    QVERIFY(theirs.notes().findKey(key2));
    const Journal::Row shownToA = *a.currentRow();
    QVERIFY(b.remove(*b.currentRow()).ok());
    const Result<> gone = a.release(key2, from.addDays(1));
    QCOMPARE(gone.kind(), ErrorKind::Conflict);
    // Deleting the row the other one deleted: told, and nothing else goes.
    const int rows = countRows(mine->notes());
    const Result<> deletedTwice = a.remove(shownToA);
    QCOMPARE(deletedTwice.kind(), ErrorKind::Conflict);
    QVERIFY(deletedTwice.errorText().contains(QStringLiteral("Запись удалена")));
    QCOMPARE(countRows(mine->notes()), rows);

    // A row released on one monitor while the other deletes it as it was
    // shown (open): the release stands, the row stays, one audit row.
    QVERIFY(a.bind(QStringLiteral("44"), QStringLiteral("Сидоров"), from.date(), from.time()).ok());
    const QVariant key3 = a.currentRow()->key;
    theirs.notes().refresh();
    QVERIFY(theirs.notes().findKey(key3));
    const Journal::Row shownToB = *b.currentRow();
    QVERIFY(a.release(key3, from.addDays(3)).ok());
    const int audits = auditRows(*mine);
    const Result<> stale = b.remove(shownToB);
    QCOMPARE(stale.kind(), ErrorKind::Conflict);
    QVERIFY(stale.errorText().contains(QStringLiteral("другом рабочем месте")));
    QCOMPARE(b.row(key3)->to, from.addDays(3));
    QCOMPARE(auditRows(*mine), audits);
    // Shown as it is now, the row goes.
    QVERIFY(b.remove(*b.currentRow()).ok());
    QVERIFY(!a.row(key3));
    theirs.dataModuleDestroy();
}

void TestStoreShared::sameDosimeterBoundAtOnceOnce()
{
    if (!testOnServer())
        QSKIP("several monitors share only a server's database");
    storeDir dir;
    ScriptedPrompt prompt;
    auto first = dir.start();
    std::atomic<int> ready{0};
    std::atomic<int> bound{0};
    std::atomic<int> issued{0};
    auto monitor = [&](int which) {
        DataModule dm;
        dm.setConnection(dir.server());
        dm.setLocalFallback(false);
        dm.dataModuleCreate();
        Journal journal(dm, {});
        ++ready;
        while (ready.load() < 2)
            std::this_thread::yield();
        for (int n = 1; n <= 40; ++n) {
            const Result<> r = journal.bind(QString::number(n), QStringLiteral("Лицо %1").arg(which), QDate(2024, 1, 1), QTime(9, 0));
            bound += r.ok();
            issued += r.kind() == ErrorKind::Conflict;
        }
        dm.dataModuleDestroy();
    };
    std::thread a(monitor, 0);
    std::thread b(monitor, 1);
    a.join();
    b.join();
    QCOMPARE(bound.load(), 40);
    QCOMPARE(issued.load(), 40);
    QSqlQuery q = first->notes().exec(QStringLiteral("SELECT COUNT(*), COUNT(DISTINCT \"ID\") FROM %1").arg(first->notes().sqlName()));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 40);
    QCOMPARE(q.value(1).toInt(), 40);
}

void TestStoreShared::cardChangedTwiceOneWins()
{
    storeDir dir;
    ScriptedPrompt prompt;
    auto mine = dir.start();
    DataModule theirs;
    if (testOnServer()) {
        theirs.setConnection(dir.server());
        theirs.setLocalFallback(false);
    }
    theirs.dataModuleCreate();
    CardIndex a(*mine);
    CardIndex b(theirs);
    CardData card;
    card.id = 7;
    card.fio = QStringLiteral("Иванов Иван Иванович");
    card.label = QStringLiteral("ИвановИИ");
    card.key = a.createCard(card).value;
    QVERIFY(!card.key.isNull());
    // Both operators open the card in the editor.
    const CardData readByA = *a.card(card.key);
    const CardData readByB = *b.card(card.key);
    CardData byA = readByA;
    byA.telephone = QStringLiteral("12-34");
    CardData byB = readByB;
    byB.vacancy = QStringLiteral("инженер");
    QVERIFY(a.updateCard(byA, readByA).ok());
    const int audits = auditRows(*mine);
    const Result<QVariant> lost = b.updateCard(byB, readByB);
    QCOMPARE(lost.kind(), ErrorKind::Conflict);
    QCOMPARE(lost.errorText(), CardIndex::ChangedElsewhereText);
    // The first change stands whole; the loser's list shows it.
    QVERIFY(CardIndex::sameCard(*b.card(card.key), byA));
    QCOMPARE(b.currentCard()->telephone, byA.telephone);
    QCOMPARE(auditRows(*mine), audits);
    // Deleting the card as it was before the change: refused the same way.
    QCOMPARE(b.deleteCard(readByB).kind(), ErrorKind::Conflict);
    QVERIFY(b.card(card.key));
    // A card deleted on one monitor while the other edits it: not made anew.
    QVERIFY(b.deleteCard(*b.card(card.key)).ok());
    const Result<QVariant> gone = a.updateCard(byA, *a.currentCard());
    QCOMPARE(gone.kind(), ErrorKind::Conflict);
    QCOMPARE(gone.errorText(), CardIndex::DeletedElsewhereText);
    QCOMPARE(countRows(mine->cards()), 0);
    theirs.dataModuleDestroy();
}

void TestStoreShared::labelBindingMeetsAnotherBinding()
{
    storeDir dir;
    ScriptedPrompt prompt;
    auto mine = dir.start();
    DataModule theirs;
    if (testOnServer()) {
        theirs.setConnection(dir.server());
        theirs.setLocalFallback(false);
    }
    theirs.dataModuleCreate();
    Journal other(theirs, {});
    LabelBinding binding(*mine, {});
    const QDate day(2024, 5, 6);
    const LabelWriteOutcome written{QStringLiteral("60"), QStringLiteral("Сидоров"), {}, true, QString()};
    const auto openRows = [&] {
        QSqlQuery q = mine->notes().exec(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE \"ID\" = 60 AND \"TimeTo\" IS NULL")
                                             .arg(mine->notes().sqlName()));
        q.next();
        return q.value(0).toInt();
    };
    // While this operator types the holder's name, the other monitor binds
    // the same dosimeter: theirs stands, no second open row.
    const Result<> lost = binding.accept(written, LabelCardChoice::Nothing, false, true, [&](const QString &) {
        other.bind(QStringLiteral("60"), QStringLiteral("Петров"), day, QTime(8, 0));
        return std::optional<QString>(QStringLiteral("Сидоров"));
    });
    QCOMPARE(lost.kind(), ErrorKind::Conflict);
    QVERIFY(lost.errorText().contains(QStringLiteral("другом рабочем месте")));
    QCOMPARE(openRows(), 1);
    QCOMPARE(Journal(*mine, {}).openBinding(60)->fio, QStringLiteral("Петров"));
    // Their binding released meanwhile: its release time is kept, not
    // overwritten by this one's.
    const QVariant key = other.openBinding(60)->key;
    const QDateTime released(day.addDays(1), QTime(17, 0));
    const int rows = countRows(mine->notes());
    const Result<> late = binding.accept(written, LabelCardChoice::Nothing, false, true, [&](const QString &) {
        other.release(key, released);
        return std::optional<QString>(QStringLiteral("Сидоров"));
    });
    QCOMPARE(late.kind(), ErrorKind::Conflict);
    QVERIFY(late.errorText().contains(Journal::momentText(released)));
    QCOMPARE(other.row(key)->to, released);
    QCOMPARE(countRows(mine->notes()), rows);
    // Nothing in the way: bound.
    QVERIFY(binding.accept(written, LabelCardChoice::Nothing, false, true, [](const QString &) {
        return std::optional<QString>(QStringLiteral("Сидоров"));
    }).ok());
    QCOMPARE(openRows(), 1);
    theirs.dataModuleDestroy();
}

void TestStoreShared::serverLostReadingsWaitAndFollowInOrder()
{
    if (!testOnServer())
        QSKIP("only a server can be lost");
    storeDir dir;
    ScriptedPrompt prompt;
    auto admin = dir.start();  // makes the tables; its connection stays up
    // The monitor logs in as a role of its own, which the test locks out.
    const QString role = QStringLiteral("offline_%1").arg(QCoreApplication::applicationPid());
    admin->measures().exec(QStringLiteral("CREATE ROLE %1 LOGIN SUPERUSER").arg(role));
    StoreConnection c = dir.server();
    c.user = role;
    {
        DataModule dm;
        dm.setConnection(c);
        dm.setLocalFallback(false);
        dm.dataModuleCreate();
        QVERIFY(dm.connected());
        ReadingBuffer buffer(ReadingBuffer::pathIn(dir.dataDir()));
        buffer.setRetryMs(0);
        const QList<StoredReading> readings = readingsOf(3, 30);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(buffer.store(dm, readings[i]), ReadingBuffer::Fate::Stored);

        // The server goes away (the connection is cut and no new one is let in).
        admin->measures().exec(QStringLiteral("ALTER ROLE %1 NOLOGIN").arg(role));
        admin->measures().exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = ?"), {role});
        for (int i = 10; i < 20; ++i)
            QCOMPARE(buffer.store(dm, readings[i]), ReadingBuffer::Fate::Held);
        buffer.savePosition(dm, 3, {20, readings[19].time});
        QCOMPARE(buffer.waiting(), 10);
        QCOMPARE(buffer.loadPosition(dm, 3).recNumber, 20);

        // Back: what waits goes first, then the new reading.
        admin->measures().exec(QStringLiteral("ALTER ROLE %1 LOGIN").arg(role));
        for (int i = 20; i < 30; ++i)
            QCOMPARE(buffer.store(dm, readings[i]), ReadingBuffer::Fate::Stored);
        QCOMPARE(buffer.waiting(), 0);
        buffer.savePosition(dm, 3, {30, readings[29].time});
        dm.dataModuleDestroy();
    }
    admin->measures().exec(QStringLiteral("DROP ROLE %1").arg(role));
    QCOMPARE(doublesAndRows(*admin), qMakePair(0, 30));
    QSqlQuery q = admin->measures().exec(QStringLiteral("SELECT \"RecNumber\" FROM %1 ORDER BY \"Index\"").arg(admin->measures().sqlName()));
    for (int n = 1; q.next(); ++n)
        QCOMPARE(q.value(0).toInt(), n);
    QCOMPARE(ReadingStore(*admin).loadReaderPosition(3).recNumber, 30);
}

QTEST_GUILESS_MAIN(TestStoreShared)
#include "tst_store_shared.moc"

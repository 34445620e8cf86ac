// The table class on whichever engine the environment names (SQLite files,
// or a PostgreSQL server): the same rows give the same answers. CTest runs
// this once per engine.

#include "StoreFixture.h"
#include "ScriptedPrompt.h"

#include "core/Errors.h"
#include "core/Platform.h"
#include "records/AuditLog.h"
#include "records/CardIndex.h"
#include "records/DoseLevels.h"
#include "records/Journal.h"
#include "records/DataModule.h"
#include "records/ReadingStore.h"
#include "records/StoreMigration.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <algorithm>

namespace {

const QString kFio = QStringLiteral("FIO");

const QStringList kNames{
    QStringLiteral("иванов"), QStringLiteral("ИВАНОВА"), QStringLiteral("Петров"), QStringLiteral("ёлкин"),
    QStringLiteral("Ёжиков"), QStringLiteral("ABRAMS"), QStringLiteral("adams"), QStringLiteral("Яковлев"),
    QStringLiteral("ЖУКОВ"), QStringLiteral("жуков"), QStringLiteral("Щукин"), QStringLiteral("Аксёнов"),
};

QStringList walk(DataTable &t)
{
    QStringList names;
    for (t.first(); !t.eof(); t.next())
        names.append(t.fieldValue(kFio).toString());
    return names;
}

// The expected order: case-insensitive by text, ties by the key (the order
// of appending).
QStringList expectedOrder(const QStringList &appended)
{
    QList<int> idx;
    for (int i = 0; i < appended.size(); ++i)
        idx.append(i);
    std::stable_sort(idx.begin(), idx.end(), [&](int a, int b) {
        return appended[a].compare(appended[b], Qt::CaseInsensitive) < 0;
    });
    QStringList out;
    for (int i : idx)
        out.append(appended[i]);
    return out;
}

} // namespace

class TestStoreEngines : public QObject {
    Q_OBJECT
private slots:
    void casesAndCyrillicOrderAndFindAlike();
    void editsDeletionsAndRollbackAlike();
    void auditRowsShareTheChangesTransaction();
    void unreachableServerIsNamedAndTheFilesServe();
    void dataDirectoryCopiedToServerOnce();
    void serverIndexOfAnOlderVersionMadeAnewOnce();
};

void TestStoreEngines::casesAndCyrillicOrderAndFindAlike()
{
    storeDir dir;
    ScriptedPrompt prompt;
    auto dm = dir.start();
    QVERIFY(dm->connected());
    // The four missing tables announced, nothing failed.
    QCOMPARE(prompt.texts().filter(QStringLiteral("Не обнаружена таблица")).size(), 4);
    QCOMPARE(prompt.texts().filter(QStringLiteral("Ошибка")).size(), 0);
    DataTable &t = dm->cards();
    for (int i = 0; i < kNames.size(); ++i) {
        t.append();
        t.setFieldValue(QStringLiteral("ID"), 100 + i);
        t.setFieldValue(kFio, kNames[i]);
        t.setFieldValue(QStringLiteral("isMale"), i % 2 == 0);
        t.post();
    }
    // Keys assigned in order.
    QVERIFY(t.locate(kFio, QStringLiteral("Петров")));
    QCOMPARE(t.fieldValue(QStringLiteral("Index")).toInt(), 3);
    QCOMPARE(t.fieldValue(QStringLiteral("isMale")).toBool(), true);

    t.setIndexFieldNames(kFio);
    const QStringList expected = expectedOrder(kNames);
    QCOMPARE(walk(t), expected);
    QStringList backwards;
    for (t.last(); !t.bof(); t.prior())
        backwards.prepend(t.fieldValue(kFio).toString());
    QCOMPARE(backwards, expected);
    QCOMPARE(t.recordCount(), kNames.size());
    t.last();
    QCOMPARE(t.positionOfKey(t.fieldValue(QStringLiteral("Index"))), kNames.size() - 1);

    // Search: any case, a beginning, or exactly.
    QVERIFY(t.locate(kFio, QStringLiteral("жУкОв"), LocateOption::CaseInsensitive));
    QCOMPARE(t.fieldValue(kFio).toString(), QStringLiteral("ЖУКОВ"));
    QVERIFY(t.locate(kFio, QStringLiteral("жуков")));
    QCOMPARE(t.fieldValue(QStringLiteral("ID")).toInt(), 109);
    QVERIFY(!t.locate(kFio, QStringLiteral("Жуков")));
    QVERIFY(t.locate(kFio, QStringLiteral("иВаНоВа"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(t.fieldValue(kFio).toString(), QStringLiteral("ИВАНОВА"));
    QVERIFY(t.locate(kFio, QStringLiteral("ёЖ"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(t.fieldValue(kFio).toString(), QStringLiteral("Ёжиков"));
    QVERIFY(!t.locate(kFio, QStringLiteral("пЕт"), LocateOption::PartialKey));
    QVERIFY(t.locate(kFio, QStringLiteral("Пет"), LocateOption::PartialKey));

    // A filter, exact and by a beginning, keeps the order.
    t.setFilter(QStringLiteral("(FIO = 'жуков') OR (FIO = 'Пет*') OR (FIO = 'ив*') OR (ID > 109)"));
    t.setFiltered(true);
    QCOMPARE(walk(t), (QStringList{QStringLiteral("Аксёнов"), QStringLiteral("жуков"), QStringLiteral("иванов"), QStringLiteral("Петров"), QStringLiteral("Щукин")}));
    t.setFiltered(false);

    // Closed and opened again (the indexes rebuilt): the same order.
    dm.reset();
    auto again = dir.start();
    again->cards().setIndexFieldNames(kFio);
    QCOMPARE(walk(again->cards()), expected);
}

void TestStoreEngines::editsDeletionsAndRollbackAlike()
{
    storeDir dir;
    ScriptedPrompt prompt;
    auto dm = dir.start();
    DataTable &t = dm->cards();
    t.setIndexFieldNames(kFio);
    for (const QString &name : {QStringLiteral("Борисов"), QStringLiteral("анисимов"), QStringLiteral("Власов")}) {
        t.append();
        t.setFieldValue(kFio, name);
        t.post();
    }
    QVERIFY(t.locate(kFio, QStringLiteral("Власов")));
    t.edit();
    t.setFieldValue(kFio, QStringLiteral("АБРАМОВ"));
    t.post();
    QCOMPARE(walk(t), (QStringList{QStringLiteral("АБРАМОВ"), QStringLiteral("анисимов"), QStringLiteral("Борисов")}));
    QVERIFY(t.locate(kFio, QStringLiteral("анисимов")));
    t.remove();
    QCOMPARE(t.fieldValue(kFio).toString(), QStringLiteral("Борисов"));

    // A transaction rolled back leaves nothing behind; a committed one stays.
    {
        Transaction tx(*dm);
        t.append();
        t.setFieldValue(kFio, QStringLiteral("Гусев"));
        t.post();
    }
    QCOMPARE(walk(t), (QStringList{QStringLiteral("АБРАМОВ"), QStringLiteral("Борисов")}));
    {
        Transaction tx(*dm);
        t.append();
        t.setFieldValue(kFio, QStringLiteral("гусев"));
        t.post();
        tx.commit();
    }
    QCOMPARE(walk(t), (QStringList{QStringLiteral("АБРАМОВ"), QStringLiteral("Борисов"), QStringLiteral("гусев")}));
}

void TestStoreEngines::unreachableServerIsNamedAndTheFilesServe()
{
    storeDir dir;
    ScriptedPrompt prompt;
    StoreConnection wrong;
    wrong.driver = QStringLiteral("QPSQL");
    wrong.host = dir.programDir() + QStringLiteral("no-server");
    wrong.port = 5999;
    wrong.database = QStringLiteral("ruvo_site");
    wrong.user = QStringLiteral("operator1");
    DataModule dm;
    dm.setConnection(wrong);
    dm.dataModuleCreate(toldBy(prompt));
    QVERIFY(!dm.terminateRequested());
    const QString text = prompt.texts().value(0);
    for (const QString &part : {QStringLiteral("Не удалось подключиться"), wrong.host + QStringLiteral(":5999"),
                                QStringLiteral("база ruvo_site"), QStringLiteral("пользователь operator1"),
                                QStringLiteral("no-server")})
        QVERIFY2(text.contains(part), qPrintable(text));
    // The program goes on with its own files.
    QVERIFY(dm.connected());
    QVERIFY(dm.dialect().sqlite());
    QVERIFY(QFileInfo::exists(dir.tablePath(QStringLiteral("Cards.DB"))));

    // The monitor waits for the server instead: no tables of its own, the
    // server's dialect without a connection (readings go to the buffer), a
    // new connection tried later. (Without the driver there is no server
    // to wait for: the files serve, as above.)
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return;
    storeDir other;
    DataModule waiting;
    waiting.setConnection(wrong);
    waiting.setWaitForServer(true);
    waiting.dataModuleCreate(toldBy(prompt));
    QVERIFY(!waiting.terminateRequested());
    QVERIFY2(prompt.texts().last().contains(QStringLiteral("показания ожидают сервер")), qPrintable(prompt.texts().last()));
    QVERIFY(waiting.onServer());
    QVERIFY(!waiting.connected());
    QVERIFY(!waiting.reconnectServer());
    QVERIFY(!QFileInfo::exists(other.tablePath(QStringLiteral("Cards.DB"))));
    QVERIFY(!QFileInfo::exists(other.tablePath(QStringLiteral("Measures.DB"))));
}

void TestStoreEngines::dataDirectoryCopiedToServerOnce()
{
    if (!testOnServer())
        QSKIP("runs against the test server");
    storeDir dir;
    ScriptedPrompt prompt;
    {
        DataModule files;  // the data directory's own files
        files.dataModuleCreate(toldBy(prompt));
        fillMeasures(files, 450);
        DataTable &c = files.cards();
        for (const QString &name : {QStringLiteral("Орлов"), QStringLiteral("орлова")}) {
            c.append();
            c.setFieldValue(kFio, name);
            c.post();
        }
        // Dose control's tables and the audit trail.
        for (const QString &key : {QStringLiteral("1"), QStringLiteral("2")})
            QVERIFY(AuditLog(files).append({QStringLiteral("Cards"), key, AuditLog::InsertAction, {}, {}}).ok());
        for (const auto &[t, column] : {std::pair{&files.doseLevels(), "Period"}, {&files.dosePersons(), "PersonKey"},
                                        {&files.doseAlerts(), "Period"}})
            t->exec(QStringLiteral("INSERT INTO %1 (\"%2\") VALUES ('year')").arg(t->sqlName(), QLatin1String(column)));
    }
    const QList<TableCopy> first = copyDataDirToServer(dir.dataDir(), dir.server()).value;
    QCOMPARE(first.size(), 8);
    QCOMPARE(first[4].table, QStringLiteral("DoseLevels"));
    QCOMPARE(first[7].table, QStringLiteral("Audit"));
    for (int i : {4, 5, 6})
        QCOMPARE(first[i].copied, 1);
    QCOMPARE(first[7].copied, 2);
    QCOMPARE(first[0].table, QStringLiteral("Measures"));
    QCOMPARE(first[0].read, 450);
    QCOMPARE(first[0].copied, 450);
    QCOMPARE(first[3].copied, 2);
    const QList<TableCopy> second = copyDataDirToServer(dir.dataDir(), dir.server()).value;
    for (const TableCopy &t : second)
        QCOMPARE(t.copied, 0);
    QCOMPARE(second[0].read, 450);
    QCOMPARE(second[7].read, 2);

    auto dm = dir.start();
    QVERIFY(!dm->dialect().sqlite());
    QCOMPARE(dm->measures().recordCount(), 450);
    QVERIFY(dm->measures().locate(QStringLiteral("Index"), 450));
    QCOMPARE(dm->measures().fieldValue(QStringLiteral("DateTime")).toDateTime(), generatedTime(449));
    DataTable &c = dm->cards();
    c.append();
    c.setFieldValue(kFio, QStringLiteral("ОРЛОВ"));
    c.post();
    QCOMPARE(c.fieldValue(QStringLiteral("Index")).toInt(), 3);  // after the copied keys
    QCOMPARE(AuditLog(*dm).query({}, {}, QStringLiteral("Cards")).value.size(), 2);
    c.setIndexFieldNames(kFio);
    QCOMPARE(walk(c), (QStringList{QStringLiteral("Орлов"), QStringLiteral("ОРЛОВ"), QStringLiteral("орлова")}));
}

void TestStoreEngines::auditRowsShareTheChangesTransaction()
{
    storeDir dir;
    ScriptedPrompt prompt;
    auto dm = dir.start();
    AuditLog log(*dm);
    const auto all = [&log] { return log.query({}, {}, QString()).value; };
    const auto notesCount = [&dm] {
        QSqlQuery q = dm->notes().exec(QStringLiteral("SELECT count(*) FROM %1").arg(dm->notes().sqlName()));
        return q.next() ? q.value(0).toInt() : -1;
    };

    // Each change leaves its row: who, what, the values before and after,
    // a deletion the whole row.
    CardIndex cards(*dm);
    CardData card;
    card.fio = QStringLiteral("Иванов");
    card.comment = QStringLiteral("пропуск 12");
    card.key = cards.createCard(card).value;
    QVERIFY(!card.key.isNull());
    const CardData read = *cards.card(card.key);
    card.fio = QStringLiteral("Иванов И. И.");
    QVERIFY(cards.updateCard(card, read));
    QVERIFY(cards.deleteCard(*cards.card(card.key)));
    Journal journal(*dm, {});
    QVERIFY(journal.bind(QStringLiteral("5"), QStringLiteral("Петров"), QDate(2025, 3, 1), QTime(8, 0)));
    QList<AuditRecord> rows = all();
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0].entry.action, AuditLog::InsertAction);
    QCOMPARE(rows[1].entry.action, AuditLog::UpdateAction);
    QVERIFY(rows[1].entry.before.contains(QStringLiteral("FIO=Иванов;")));
    QVERIFY(rows[1].entry.after.contains(QStringLiteral("FIO=Иванов И. И.;")));
    QCOMPARE(rows[2].entry.action, AuditLog::DeleteAction);
    QCOMPARE(rows[2].entry.rowKey, card.key.toString());
    QVERIFY(rows[2].entry.before.contains(QStringLiteral("Comment=пропуск 12")));
    QCOMPARE(rows[3].entry.table, QStringLiteral("Notes"));
    QVERIFY(rows[3].entry.after.contains(QStringLiteral("FIO=Петров")));
    QCOMPARE(rows[3].osUser, osUserName());
    QCOMPARE(rows[3].monitor, AuditLog::monitor());
    QCOMPARE(rows[3].dbUser.isEmpty(), !testOnServer());
    QVERIFY(qAbs(QDateTime::fromString(rows[3].timeUtc, Qt::ISODateWithMs).secsTo(rows[3].timeLocal)) < 5);
    QCOMPARE(log.query({}, {}, QStringLiteral("Cards")).value.size(), 3);

    // A stored reading leaves its row; a second copy the server refuses
    // (the files' index is not unique) leaves none.
    ReadingStore store(*dm);
    const StoredReading reading{QDateTime(QDate(2025, 3, 2), QTime(9, 0)), 0x010203, 17, 5, QStringLiteral("Петров"), 2.5};
    const int index = store.storeReading(reading);
    QVERIFY(index > 0);
    if (testOnServer()) {
        bool already = false;
        QCOMPARE(store.storeReading(reading, &already), index);
        QVERIFY(already);
    }
    rows = log.query({}, {}, QStringLiteral("Measures")).value;
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].entry.action, AuditLog::InsertAction);
    QCOMPARE(rows[0].entry.rowKey, QString::number(index));
    QVERIFY(rows[0].entry.after.contains(QStringLiteral("RecNumber=17;")));
    QVERIFY(rows[0].entry.after.contains(QStringLiteral("Dose=2.5")));

    // A change rolled back takes its audit row with it.
    dm->startTransaction();
    QVERIFY(journal.bind(QStringLiteral("6"), QStringLiteral("Сидоров"), QDate(2025, 3, 1), QTime(8, 0)));
    QVERIFY(DoseLevels(*dm).setLevel(LevelKey{}, 40000, QStringLiteral("инженер")).ok());
    dm->rollback();
    QCOMPARE(all().size(), 5);
    QCOMPARE(notesCount(), 1);

    // An audit row that cannot be written undoes its change.
    if (testOnServer()) {
        dm->audit().exec(QStringLiteral("CREATE FUNCTION ruvo_no_audit() RETURNS trigger LANGUAGE plpgsql AS "
                                        "$$BEGIN RAISE EXCEPTION 'refused'; END$$"));
        dm->audit().exec(QStringLiteral("CREATE TRIGGER ruvo_no_audit BEFORE INSERT ON \"Audit\" FOR EACH ROW "
                                        "EXECUTE FUNCTION ruvo_no_audit()"));
    } else {
        dm->audit().exec(QStringLiteral("CREATE TRIGGER \"Audit\".\"NoAudit\" BEFORE INSERT ON \"Audit\" "
                                        "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    }
    QVERIFY(!journal.bind(QStringLiteral("7"), QStringLiteral("Козлов"), QDate(2025, 3, 1), QTime(8, 0)));
    QCOMPARE(notesCount(), 1);
    CardData other;
    other.fio = QStringLiteral("Смирнов");
    QVERIFY(!cards.createCard(other));
    QVERIFY(!cards.cards().locate(kFio, QStringLiteral("Смирнов")));
    QVERIFY_THROWS_EXCEPTION(ERuvoError, store.storeReading({reading.time.addSecs(60), 0x010203, 18, 5, QString(), 1.0}));
    QCOMPARE(store.readingCount(), 1);
    QCOMPARE(all().size(), 5);
}

QTEST_GUILESS_MAIN(TestStoreEngines)
#include "tst_store_engines.moc"

void TestStoreEngines::serverIndexOfAnOlderVersionMadeAnewOnce()
{
    if (!testOnServer())
        QSKIP("runs against the test server");
    storeDir dir;
    ScriptedPrompt prompt;
    // An index's identity and definition, as the server has them.
    auto index = [](DataModule &dm, const QString &name) {
        QSqlQuery q = dm.measures().exec(QStringLiteral("SELECT c.oid::bigint, pg_get_indexdef(c.oid) FROM pg_class c JOIN "
                                                        "pg_namespace n ON n.oid = c.relnamespace WHERE n.nspname = "
                                                        "current_schema() AND c.relname = ?"),
                                         {name});
        return q.next() ? qMakePair(q.value(0).toLongLong(), q.value(1).toString()) : qMakePair(qint64(0), QString());
    };
    QPair<qint64, QString> dose;
    {
        auto dm = dir.start();
        fillMeasures(*dm, 100);
        // The text's index as an older version made it: the folded text and
        // the key, without the text itself.
        dm->measures().exec(QStringLiteral("DROP INDEX \"Measures_iName\""));
        dm->measures().exec(QStringLiteral("CREATE INDEX \"Measures_iName\" ON \"Measures\"((lower(\"Name\" COLLATE "
                                           "\"und-x-icu\") COLLATE \"C\"), \"Index\")"));
        dose = index(*dm, QStringLiteral("Measures_iDose"));
        QVERIFY(dose.first != 0);
    }
    QPair<qint64, QString> name;
    {
        auto dm = dir.start();
        name = index(*dm, QStringLiteral("Measures_iName"));
        QVERIFY2(name.second.endsWith(QStringLiteral("\"Index\") INCLUDE (\"Name\")")), qPrintable(name.second));
        QCOMPARE(index(*dm, QStringLiteral("Measures_iDose")), dose);  // as it should be: kept
        dm->measures().setIndexFieldNames(QStringLiteral("Name"));
        QVERIFY(dm->measures().locate(QStringLiteral("Name"), QStringLiteral("метка5"), LocateOption::CaseInsensitive));
    }
    // Made anew once, not at every start.
    auto dm = dir.start();
    QCOMPARE(index(*dm, QStringLiteral("Measures_iName")), name);
}

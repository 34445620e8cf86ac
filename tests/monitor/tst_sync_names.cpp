// The name synchronisation over a real database: which readings get which
// name, the dose totals of the journal, the journal's filter, the question
// before it and its failure.

#include "SyncFixture.h"


#include <QSqlQuery>
#include <QtTest>

class TestSyncNames : public QObject {
    Q_OBJECT
private slots:
    void closedPeriodBoundsAreInclusive();
    void openAndBlankBounds();
    void overlappingPeriodsLaterStartWins();
    void journalFilterLeavesClosedPeriodsNameless();
    void askOnlyWhenOutOfStepAndNamesShown();
    void failedTableOperationIsReported();
    void namesWrittenInBulkKeepTheirIndex();
    void oddlyStoredValuesMatchAsInSql();

private:
    static QMap<int, QString> names(SyncRig &rig)
    {
        QMap<int, QString> out;
        for (const MeasureRow &r : rig.measures())
            out.insert(r.index, r.fio);
        return out;
    }
};

void TestSyncNames::closedPeriodBoundsAreInclusive()
{
    SyncRig rig;
    QVERIFY(rig.start(false));
    const int a = rig.addMeasure(at(10, 0), 5, 1.5);
    const int b = rig.addMeasure(at(12, 0), 5, 2.25);
    const int c = rig.addMeasure(at(12, 1), 5, 100);
    const int d = rig.addMeasure(at(9, 59), 5, 100);
    const int e = rig.addMeasure(at(11, 0), 6, 100, 0, 0, QStringLiteral("Старое имя"));
    const int note = rig.addNote(5, at(10, 0), at(12, 0), QStringLiteral("Петров П.П."));
    rig.dm.measures().setIndexFieldNames(QStringLiteral("ID"));
    rig.engine.setNamesOutOfStep(true);

    rig.engine.syncNamesFromJournal();

    const QMap<int, QString> fio = names(rig);
    QCOMPARE(fio.value(a), QStringLiteral("Петров П.П."));
    QCOMPARE(fio.value(b), QStringLiteral("Петров П.П."));
    QCOMPARE(fio.value(c), QString());
    QCOMPARE(fio.value(d), QString());
    QCOMPARE(fio.value(e), QString());  // every name is rewritten from the journal
    QCOMPARE(rig.noteDose(note).toDouble(), 3.75);
    QVERIFY(!rig.engine.snapshot().namesOutOfStep);
    QVERIFY(rig.prompt.asked.isEmpty());
    // The sort orders stay as the synchronisation set them.
    QCOMPARE(rig.dm.measures().indexFieldNames(), QStringLiteral("DateTime"));
    QCOMPARE(rig.dm.notes().indexFieldNames(), QStringLiteral("TimeFrom"));
    // The table object shows the new values.
    QVERIFY(rig.dm.measures().locate(QStringLiteral("Index"), a));
    QCOMPARE(rig.dm.measures().asString(QStringLiteral("FIO")), QStringLiteral("Петров П.П."));
}

void TestSyncNames::openAndBlankBounds()
{
    SyncRig rig;
    QVERIFY(rig.start(false));
    const int before = rig.addMeasure(at(8, 0), 3, 1);
    const int after = rig.addMeasure(at(15, 0), 3, 2);
    const int muchLater = rig.addMeasure(QDateTime(QDate(2030, 1, 1), QTime(0, 0)), 3, 4);
    const int open = rig.addNote(3, at(9, 0), QVariant(), QStringLiteral("Сидоров"));
    // A blank start holds everything up to the end of the period.
    const int early = rig.addMeasure(at(7, 0), 4, 8);
    const int late = rig.addMeasure(at(19, 0), 4, 16);
    const int blankFrom = rig.addNote(4, QVariant(), at(18, 0), QStringLiteral("Кузнецов"));

    rig.engine.syncNamesFromJournal();

    const QMap<int, QString> fio = names(rig);
    QCOMPARE(fio.value(before), QString());
    QCOMPARE(fio.value(after), QStringLiteral("Сидоров"));
    QCOMPARE(fio.value(muchLater), QStringLiteral("Сидоров"));
    QCOMPARE(rig.noteDose(open).toDouble(), 6.0);
    QCOMPARE(fio.value(early), QStringLiteral("Кузнецов"));
    QCOMPARE(fio.value(late), QString());
    QCOMPARE(rig.noteDose(blankFrom).toDouble(), 8.0);
}

void TestSyncNames::overlappingPeriodsLaterStartWins()
{
    SyncRig rig;
    QVERIFY(rig.start(false));
    const int r10 = rig.addMeasure(at(10, 0), 7, 1);
    const int r12 = rig.addMeasure(at(12, 0), 7, 2);
    const int r14 = rig.addMeasure(at(14, 0), 7, 4);
    // Entered in the other order: the later start is taken later all the same.
    const int second = rig.addNote(7, at(11, 0), QVariant(), QStringLiteral("Второй"));
    const int first = rig.addNote(7, at(9, 0), at(13, 0), QStringLiteral("Первый"));
    const int none = rig.addNote(7, at(20, 0), at(21, 0), QStringLiteral("Никто"));

    rig.engine.syncNamesFromJournal();

    const QMap<int, QString> fio = names(rig);
    QCOMPARE(fio.value(r10), QStringLiteral("Первый"));
    QCOMPARE(fio.value(r12), QStringLiteral("Второй"));
    QCOMPARE(fio.value(r14), QStringLiteral("Второй"));
    QCOMPARE(rig.noteDose(first).toDouble(), 3.0);
    QCOMPARE(rig.noteDose(second).toDouble(), 6.0);
    QCOMPARE(rig.noteDose(none).toDouble(), 0.0);

    // Run again after a name changed only in letter case: it is written.
    rig.dm.notes().locate(QStringLiteral("Index"), second);
    rig.dm.notes().edit();
    rig.dm.notes().setFieldValue(QStringLiteral("FIO"), QStringLiteral("ВТОРОЙ"));
    rig.dm.notes().post();
    rig.engine.syncNamesFromJournal();
    QCOMPARE(names(rig).value(r14), QStringLiteral("ВТОРОЙ"));
}

void TestSyncNames::journalFilterLeavesClosedPeriodsNameless()
{
    SyncRig rig;
    QVERIFY(rig.start(false));
    const int closedReading = rig.addMeasure(at(10, 0), 1, 5, 0, 0, QStringLiteral("Прежний"));
    const int openReading = rig.addMeasure(at(10, 0), 2, 7);
    const int closed = rig.addNote(1, at(9, 0), at(11, 0), QStringLiteral("Прежний"));
    const int open = rig.addNote(2, at(9, 0), QVariant(), QStringLiteral("Нынешний"));
    rig.dm.notes().locate(QStringLiteral("Index"), closed);
    rig.dm.notes().edit();
    rig.dm.notes().setFieldValue(QStringLiteral("Dose"), 42.0);
    rig.dm.notes().post();
    rig.dm.notes().setFilter(QStringLiteral("TimeTo=NULL"));
    rig.dm.notes().setFiltered(true);
    // The grid's own filter on Measures is kept as it was.
    rig.dm.measures().setFilter(QStringLiteral("ID=2"));
    rig.dm.measures().setFiltered(true);

    rig.engine.syncNamesFromJournal();

    const QMap<int, QString> fio = names(rig);
    QCOMPARE(fio.value(closedReading), QString());
    QCOMPARE(fio.value(openReading), QStringLiteral("Нынешний"));
    QCOMPARE(rig.noteDose(open).toDouble(), 7.0);
    QCOMPARE(rig.noteDose(closed).toDouble(), 42.0);
    QCOMPARE(rig.dm.measures().filter(), QStringLiteral("ID=2"));
    QVERIFY(rig.dm.measures().filtered());
    QCOMPARE(rig.dm.measures().recordCount(), 1);
    QVERIFY(rig.dm.notes().filtered());
}

void TestSyncNames::askOnlyWhenOutOfStepAndNamesShown()
{
    SyncRig rig;
    QVERIFY(rig.start(false));
    const int reading = rig.addMeasure(at(10, 0), 5, 1);
    rig.addNote(5, at(9, 0), QVariant(), QStringLiteral("Иванов"));

    rig.engine.setNamesOutOfStep(true);
    rig.engine.askNameSync(false);  // names switched off: no question
    QVERIFY(rig.prompt.asked.isEmpty());

    rig.prompt.answers << PromptButton::Cancel;
    rig.engine.askNameSync(true);
    QCOMPARE(rig.prompt.asked.size(), 1);
    QCOMPARE(rig.prompt.asked.at(0).kind, MsgKind::Warning);
    QCOMPARE(rig.prompt.asked.at(0).buttons, PromptButtons(PromptButton::Ok | PromptButton::Cancel));
    QCOMPARE(rig.prompt.asked.at(0).text, QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"));
    QVERIFY(rig.engine.snapshot().namesOutOfStep);
    QCOMPARE(names(rig).value(reading), QString());

    rig.prompt.answers << PromptButton::Ok;
    rig.engine.askNameSync(true);
    QCOMPARE(rig.prompt.asked.size(), 2);
    QVERIFY(!rig.engine.snapshot().namesOutOfStep);
    QCOMPARE(names(rig).value(reading), QStringLiteral("Иванов"));

    rig.engine.askNameSync(true);  // in step now: no question
    QCOMPARE(rig.prompt.asked.size(), 2);
}

void TestSyncNames::failedTableOperationIsReported()
{
    SyncRig rig;
    QVERIFY(rig.start(false));
    const int reading = rig.addMeasure(at(10, 0), 5, 1, 0, 0, QStringLiteral("Было"));
    rig.addNote(5, at(9, 0), QVariant(), QStringLiteral("Стало"));
    rig.dm.measures().setFilter(QStringLiteral("Dose>0"));
    rig.dm.measures().setFiltered(true);
    rig.dm.measures().exec(QStringLiteral("CREATE TRIGGER \"Measures\".\"NoNames\" BEFORE UPDATE OF \"FIO\" ON \"Measures\" "
                                        "BEGIN SELECT RAISE(ABORT, 'refused'); END"));
    rig.engine.setNamesOutOfStep(true);

    rig.engine.syncNamesFromJournal();

    QCOMPARE(rig.prompt.asked.size(), 1);
    QCOMPARE(rig.prompt.asked.at(0).kind, MsgKind::Error);
    QCOMPARE(rig.prompt.asked.at(0).buttons, PromptButtons(PromptButton::Ok));
    QCOMPARE(rig.prompt.asked.at(0).text,
             QStringLiteral("В процессе синхронизации возникла ошибка, возможно необходимо произвести чистку таблиц"));
    QVERIFY(!rig.engine.snapshot().namesOutOfStep);
    QCOMPARE(rig.dm.measures().filter(), QStringLiteral("Dose>0"));
    QVERIFY(rig.dm.measures().filtered());
    QCOMPARE(names(rig).value(reading), QStringLiteral("Было"));  // nothing half done
    QVERIFY(!rig.dm.inTransaction());
}

void TestSyncNames::namesWrittenInBulkKeepTheirIndex()
{
    // Most names change: the name index is built anew around the writing.
    SyncRig rig;
    QVERIFY(rig.start(false));
    QList<int> readings;
    for (int i = 0; i < 12; ++i)
        readings << rig.addMeasure(at(10, i), 5, 1, 0, 0, i % 3 ? QStringLiteral("Старое") : QString());
    const int note = rig.addNote(5, at(9, 0), QVariant(), QStringLiteral("Новое"));
    auto index = [&] {
        QSqlQuery q = rig.dm.measures().exec(QStringLiteral(
            "SELECT m.sql, (SELECT group_concat(s.stat) FROM \"Measures\".sqlite_stat1 AS s WHERE s.idx = m.name) "
            "FROM \"Measures\".sqlite_master AS m WHERE m.type = 'index' AND m.name = 'iFIO'"));
        return q.next() ? q.value(0).toString() + QStringLiteral(" / ") + q.value(1).toString() : QString();
    };
    rig.dm.measures().exec(QStringLiteral("ANALYZE \"Measures\".\"Measures\""));
    const QString before = index();
    QVERIFY(before.endsWith(QStringLiteral(" / 12 6")));  // its statistics stay as they were
    QVERIFY(before.startsWith(QStringLiteral("CREATE INDEX \"iFIO\" ON \"Measures\"(\"FIO_key\")")));

    rig.engine.syncNamesFromJournal();

    QCOMPARE(index(), before);
    for (int key : readings)
        QCOMPARE(names(rig).value(key), QStringLiteral("Новое"));
    QCOMPARE(rig.noteDose(note).toDouble(), 12.0);
    // The grid's order by name and a look-up by name go through the index.
    rig.dm.measures().setIndexFieldNames(QStringLiteral("FIO"));
    QVERIFY(rig.dm.measures().locate(QStringLiteral("FIO"), QStringLiteral("новое"), LocateOption::CaseInsensitive));
    QCOMPARE(rig.dm.measures().recordCount(), 12);

    // A synchronisation that fails halfway leaves names and index as they were.
    rig.dm.notes().locate(QStringLiteral("Index"), note);
    rig.dm.notes().edit();
    rig.dm.notes().setFieldValue(QStringLiteral("FIO"), QStringLiteral("Третье"));
    rig.dm.notes().post();
    rig.dm.measures().exec(QStringLiteral("CREATE TRIGGER \"Measures\".\"Refuse\" BEFORE UPDATE OF \"FIO\" ON \"Measures\" "
                                        "WHEN NEW.\"Index\" = %1 BEGIN SELECT RAISE(ABORT, 'refused'); END")
                             .arg(readings.last()));
    rig.engine.syncNamesFromJournal();
    QCOMPARE(rig.prompt.asked.size(), 1);
    QCOMPARE(index(), before);
    QCOMPARE(names(rig).value(readings.first()), QStringLiteral("Новое"));
}

void TestSyncNames::oddlyStoredValuesMatchAsInSql()
{
    // Values another program may have left in the files: a dosimeter number
    // that is no whole number or no number, a time that is no text, doses
    // that are texts. Readings match entries, and doses add up, exactly as
    // SQL compares and totals the stored values.
    SyncRig rig;
    QVERIFY(rig.start(false));
    const int plain = rig.addMeasure(at(10, 30), 2, 1.5);
    const int textDose = rig.addMeasure(at(10, 40), 2, 0);
    const int wordDose = rig.addMeasure(at(10, 50), 2, 0);
    const int realId = rig.addMeasure(at(10, 30), 2, 100);
    const int textId = rig.addMeasure(at(10, 30), 2, 100);
    const int blobTime = rig.addMeasure(at(10, 30), 2, 100);
    const int shortTime = rig.addMeasure(at(10, 30), 2, 100);
    const int note = rig.addNote(2, at(10, 0), at(11, 0), QStringLiteral("Петров"));
    DataTable &m = rig.dm.measures();
    auto set = [&](int key, const QString &assignment) {
        m.exec(QStringLiteral("UPDATE %1 SET %2 WHERE \"Index\" = %3").arg(m.sqlName(), assignment).arg(key));
    };
    set(textDose, QStringLiteral("\"Dose\" = '12.5abc'"));
    set(wordDose, QStringLiteral("\"Dose\" = 'много'"));
    set(realId, QStringLiteral("\"ID\" = 2.5"));
    set(textId, QStringLiteral("\"ID\" = '2x'"));
    set(blobTime, QStringLiteral("\"DateTime\" = CAST(\"DateTime\" AS BLOB)"));
    set(shortTime, QStringLiteral("\"DateTime\" = substr(\"DateTime\", 1, 16)"));  // "…10:30", before 10:30:00.000
    QSqlQuery total = m.exec(QStringLiteral("SELECT TOTAL(\"Dose\") FROM %1 WHERE \"Index\" IN (%2, %3, %4)")
                                 .arg(m.sqlName())
                                 .arg(plain)
                                 .arg(textDose)
                                 .arg(wordDose));
    QVERIFY(total.next());
    const double expected = total.value(0).toDouble();
    QVERIFY(expected > 1.5);
    m.refresh();
    // The query is still open on the readings: the name index cannot be
    // dropped and is changed row by row instead.
    QVERIFY(total.isActive());

    rig.engine.syncNamesFromJournal();

    const QMap<int, QString> fio = names(rig);
    for (int key : {plain, textDose, wordDose, shortTime})
        QCOMPARE(fio.value(key), QStringLiteral("Петров"));
    for (int key : {realId, textId, blobTime})
        QCOMPARE(fio.value(key), QString());
    QCOMPARE(rig.noteDose(note).toDouble(), expected + 100);  // the shortened time still lies in the period
    QVERIFY(rig.prompt.asked.isEmpty());
}

QTEST_GUILESS_MAIN(TestSyncNames)
#include "tst_sync_names.moc"

// The table class on real files: keys, field sizes, look-ups, sort orders,
// filters, bookmarks, editing and change notification.

#include "StoreFixture.h"
#include "ScriptedPrompt.h"

#include "core/Errors.h"
#include "records/ReadingStore.h"
#include "records/StoredDateTime.h"
#include "records/DataModule.h"

#include <QSignalSpy>
#include <QSqlQuery>
#include <QFileInfo>
#include <QtTest>
#include <algorithm>

namespace {

struct MeasureRow {
    int tarn;
    int rec;
    QDateTime time;
    QVariant id;
    QVariant name;
    QVariant dose;
};

void appendMeasure(DataTable &t, const MeasureRow &r)
{
    t.Append();
    t.SetFieldValue(QStringLiteral("TarnAddress"), r.tarn);
    t.SetFieldValue(QStringLiteral("RecNumber"), r.rec);
    t.SetFieldValue(QStringLiteral("DateTime"), r.time);
    t.SetFieldValue(QStringLiteral("ID"), r.id);
    t.SetFieldValue(QStringLiteral("Name"), r.name);
    t.SetFieldValue(QStringLiteral("Dose"), r.dose);
    t.SetFieldValue(QStringLiteral("Check"), r.rec % 2 == 0);
    t.Post();
}

QVariantList walk(DataTable &t, const QString &field)
{
    QVariantList values;
    for (t.First(); !t.Eof(); t.Next())
        values << t.FieldValue(field);
    return values;
}

QVariantList walkBack(DataTable &t, const QString &field)
{
    QVariantList values;
    for (t.Last(); !t.Bof(); t.Prior())
        values << t.FieldValue(field);
    return values;
}

// Blanks first, texts without regard to letter case, ties in key order.
bool lessInOrder(const QVariant &a, int ka, const QVariant &b, int kb)
{
    if (a.isNull() != b.isNull())
        return a.isNull();
    if (!a.isNull()) {
        int c = 0;
        if (a.typeId() == QMetaType::QString)
            c = QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive);
        else if (a.typeId() == QMetaType::QDateTime)
            c = a.toDateTime() < b.toDateTime() ? -1 : (b.toDateTime() < a.toDateTime() ? 1 : 0);
        else
            c = a.toDouble() < b.toDouble() ? -1 : (b.toDouble() < a.toDouble() ? 1 : 0);
        if (c != 0)
            return c < 0;
    }
    return ka < kb;
}

} // namespace

class TestStoreTable : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void primaryKeyAndAutoIncrement();
    void textsCutToFieldSizeAndBlankTexts();
    void valuesConvertedOrRefused();
    void dateTimeExtremesExact();
    void locateCaseInsensitiveAndPrefix();
    void locateSeveralFieldsExactly();
    void sortByEveryField();
    void sortUnknownFieldRaises();
    void filterSetRejectedAndSwitched();
    void filterPostsPendingEdit();
    void journalOpenBindingsFilter();
    void bookmarksKeepTheRow();
    void editCancelDelete();
    void notificationSuspendedAndResumed();
    void firstAndLastValueOverRowsShown();
    void firstAndLastValueOfRowsFarAlongTheOrder();
    void textOrderOfAwkwardTexts();
    void transactionRollbackForgetsRows();
    void readingsReachTheDiskBeforeAPosition();
    void readingStoreAnswersWhateverTheViewsShow();
    void secondCursorOnCardsSeesChanges();

private:
    std::unique_ptr<StoreDir> m_dir;
    std::unique_ptr<ScriptedPrompt> m_prompt;
    std::unique_ptr<DataModule> m_dm;
};

void TestStoreTable::init()
{
    m_dir = std::make_unique<StoreDir>();
    m_prompt = std::make_unique<ScriptedPrompt>();
    m_dm = m_dir->start();
    QVERIFY(m_dm->Measures.Active());
}

void TestStoreTable::cleanup()
{
    m_dm.reset();
    m_prompt.reset();
    m_dir.reset();
}

void TestStoreTable::primaryKeyAndAutoIncrement()
{
    DataTable &dev = m_dm->Devices;
    dev.Append();
    dev.SetFieldValue(QStringLiteral("TarnAddress"), 0x010203);
    dev.SetFieldValue(QStringLiteral("LastRecNumber"), 0);
    dev.SetFieldValue(QStringLiteral("LastRecTime"), MinDateTime());
    dev.Post();
    dev.Append();
    dev.SetFieldValue(QStringLiteral("TarnAddress"), 0x010203);
    QVERIFY_THROWS_EXCEPTION(EGeneralError, dev.Post());
    QCOMPARE(dev.State(), TableState::Insert);
    dev.Cancel();
    QCOMPARE(dev.State(), TableState::Browse);
    QCOMPARE(dev.RecordCount(), 1);
    QCOMPARE(dev.AsInteger(QStringLiteral("TarnAddress")), 0x010203);
    // A row without its key is refused rather than numbered by the store.
    dev.Append();
    dev.SetFieldValue(QStringLiteral("LastRecNumber"), 7);
    QVERIFY_THROWS_EXCEPTION(EGeneralError, dev.Post());
    dev.Cancel();

    // The auto-increment number is there right after posting, is read-only
    // and is never given out twice, also after the last row was deleted.
    DataTable &m = m_dm->Measures;
    for (int i = 1; i <= 3; ++i) {
        m.Append();
        QVERIFY(m.IsNull(QStringLiteral("Index")));
        m.SetFieldValue(QStringLiteral("RecNumber"), i);
        m.Post();
        QCOMPARE(m.AsInteger(QStringLiteral("Index")), i);
        QCOMPARE(m.AsInteger(QStringLiteral("RecNumber")), i);
    }
    m.Edit();
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.SetFieldValue(QStringLiteral("Index"), 99));
    m.Cancel();
    m.Last();
    m.Delete();
    m.Append();
    m.Post();
    QCOMPARE(m.AsInteger(QStringLiteral("Index")), 4);
    // Values can only be set while editing.
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.SetFieldValue(QStringLiteral("ID"), 1));
}

void TestStoreTable::textsCutToFieldSizeAndBlankTexts()
{
    DataTable &c = m_dm->DBCards;
    c.Append();
    c.SetFieldValue(QStringLiteral("FIO_RFID"), QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРС"));  // 19 + 1 below
    c.SetFieldValue(QStringLiteral("FIO_RFID"), QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРСТ"));
    QCOMPARE(c.FieldValue(QStringLiteral("FIO_RFID")).toString(), QStringLiteral("АБВГДЕЁЖЗИЙКЛМНО"));
    c.SetFieldValue(QStringLiteral("Comment"), QString(150, QLatin1Char('x')));
    c.SetFieldValue(QStringLiteral("FIO"), QString());
    c.Post();
    c.Refresh();
    QCOMPARE(c.FieldValue(QStringLiteral("FIO_RFID")).toString(), QStringLiteral("АБВГДЕЁЖЗИЙКЛМНО"));
    QCOMPARE(c.FieldValue(QStringLiteral("Comment")).toString().size(), 100);
    QVERIFY(c.IsNull(QStringLiteral("FIO")));
    QSqlQuery q = c.Exec(QStringLiteral("SELECT length(\"FIO_RFID\"), \"FIO\" IS NULL FROM ") + c.SqlName());
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 16);
    QCOMPARE(q.value(1).toInt(), 1);
}

void TestStoreTable::valuesConvertedOrRefused()
{
    DataTable &m = m_dm->Measures;
    m.Append();
    m.SetFieldValue(QStringLiteral("Dose"), QStringLiteral("1.5"));
    m.SetFieldValue(QStringLiteral("ID"), QStringLiteral(" 42 "));
    m.SetFieldValue(QStringLiteral("DateTime"), QStringLiteral("13.03.2024 10:20:30"));
    m.SetFieldValue(QStringLiteral("Check"), true);
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.SetFieldValue(QStringLiteral("ID"), QStringLiteral("сорок")));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.SetFieldValue(QStringLiteral("ID"), qlonglong(1) << 40));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.SetFieldValue(QStringLiteral("Dose"), QStringLiteral("1,5")));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.SetFieldValue(QStringLiteral("DateTime"), QStringLiteral("вчера")));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.SetFieldValue(QStringLiteral("NoSuchField"), 1));
    m.Post();
    QCOMPARE(m.FieldValue(QStringLiteral("Dose")), QVariant(1.5));
    QCOMPARE(m.FieldValue(QStringLiteral("ID")), QVariant(42));
    QCOMPARE(m.AsDateTime(QStringLiteral("DateTime")), QDateTime(QDate(2024, 3, 13), QTime(10, 20, 30)));
    QCOMPARE(m.FieldValue(QStringLiteral("Check")), QVariant(true));
    QCOMPARE(m.DisplayText(QStringLiteral("DateTime")), QStringLiteral("13.03.24 10:20"));
    QCOMPARE(m.DisplayText(QStringLiteral("Dose")), QStringLiteral("1.500"));
    QCOMPARE(m.AsString(QStringLiteral("DateTime")), QStringLiteral("13.03.2024 10:20:30"));
    QCOMPARE(m.AsString(QStringLiteral("Dose")), QStringLiteral("1.5"));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.FieldValue(QStringLiteral("NoSuchField")));

    DataTable &c = m_dm->DBCards;
    c.Append();
    c.SetFieldValue(QStringLiteral("isMale"), false);
    c.SetFieldValue(QStringLiteral("BirthDay"), QDate(1970, 2, 3));
    c.Post();
    QCOMPARE(c.DisplayText(QStringLiteral("isMale")), QStringLiteral("Ж"));
    QCOMPARE(c.FieldValue(QStringLiteral("BirthDay")), QVariant(QDate(1970, 2, 3)));
}

void TestStoreTable::dateTimeExtremesExact()
{
    DataTable &n = m_dm->Notes;
    n.Append();
    n.SetFieldValue(QStringLiteral("TimeFrom"), MinDateTime());
    n.SetFieldValue(QStringLiteral("TimeTo"), MaxDateTime());
    n.Post();
    const QVariant key = n.GetBookmark();
    m_dm->dataModuleDestroy();
    m_dm = m_dir->start();
    DataTable &again = m_dm->Notes;
    QVERIFY(again.GotoBookmark(key));
    QCOMPARE(again.AsDateTime(QStringLiteral("TimeFrom")), MinDateTime());
    QCOMPARE(again.AsDateTime(QStringLiteral("TimeTo")), MaxDateTime());
    QCOMPARE(again.AsDateTime(QStringLiteral("TimeTo")).time().msec(), 999);
    QSqlQuery q = again.Exec(QStringLiteral("SELECT \"TimeFrom\", \"TimeTo\" FROM ") + again.SqlName());
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("0001-01-01 00:00:00.000"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("9999-12-31 23:59:59.999"));
    q.finish();
    // Exact comparison finds them again.
    QVERIFY(again.Locate(QStringLiteral("TimeTo"), MaxDateTime()));
    QVERIFY(!again.Locate(QStringLiteral("TimeTo"), MaxDateTime().addMSecs(-1)));
}

void TestStoreTable::locateCaseInsensitiveAndPrefix()
{
    DataTable &c = m_dm->DBCards;
    const QStringList names{QStringLiteral("Петров Пётр"), QStringLiteral("Иванов Иван"), QStringLiteral("ивашкин"),
                            QStringLiteral("Smith John"), QStringLiteral("Ёжиков")};
    for (const QString &n : names) {
        c.Append();
        c.SetFieldValue(QStringLiteral("FIO"), n);
        c.Post();
    }
    c.SetIndexFieldNames(QStringLiteral("FIO"));
    // The first match in the current order: "Иванов" sorts before "ивашкин".
    QVERIFY(c.Locate(QStringLiteral("FIO"), QStringLiteral("ива"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(c.AsString(QStringLiteral("FIO")), QStringLiteral("Иванов Иван"));
    QVERIFY(c.Locate(QStringLiteral("FIO"), QStringLiteral("ИВАШ"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(c.AsString(QStringLiteral("FIO")), QStringLiteral("ивашкин"));
    QVERIFY(c.Locate(QStringLiteral("FIO"), QStringLiteral("ёЖИКОВ"), LocateOption::CaseInsensitive));
    QCOMPARE(c.AsString(QStringLiteral("FIO")), QStringLiteral("Ёжиков"));
    QVERIFY(c.Locate(QStringLiteral("FIO"), QStringLiteral("SMITH"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(c.AsString(QStringLiteral("FIO")), QStringLiteral("Smith John"));

    // Without the options letter case counts and the whole text must match;
    // a failed look-up leaves the current row where it was.
    QVERIFY(!c.Locate(QStringLiteral("FIO"), QStringLiteral("иван"), LocateOption::PartialKey));
    QCOMPARE(c.AsString(QStringLiteral("FIO")), QStringLiteral("Smith John"));
    QVERIFY(!c.Locate(QStringLiteral("FIO"), QStringLiteral("иванов иван")));
    QVERIFY(!c.Locate(QStringLiteral("FIO"), QStringLiteral("Иванов"), LocateOption::CaseInsensitive));
    QVERIFY(c.Locate(QStringLiteral("FIO"), QStringLiteral("Иванов Иван")));
    QVERIFY(c.Locate(QStringLiteral("FIO"), QStringLiteral("Ив"), LocateOption::PartialKey));
    QCOMPARE(c.AsString(QStringLiteral("FIO")), QStringLiteral("Иванов Иван"));

    // The second cursor looks up without moving the first.
    QVERIFY(m_dm->DBCards4Find.Locate(QStringLiteral("FIO"), QStringLiteral("пет"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(m_dm->DBCards4Find.AsString(QStringLiteral("FIO")), QStringLiteral("Петров Пётр"));
    QCOMPARE(c.AsString(QStringLiteral("FIO")), QStringLiteral("Иванов Иван"));
}

void TestStoreTable::locateSeveralFieldsExactly()
{
    DataTable &m = m_dm->Measures;
    const QDateTime t0(QDate(2024, 3, 13), QTime(10, 0, 0, 250));
    appendMeasure(m, {5, 120, t0, 7, QStringLiteral("A"), 1.0});
    appendMeasure(m, {5, 121, t0, 7, QStringLiteral("B"), 20.0});
    appendMeasure(m, {6, 120, t0, 7, QStringLiteral("C"), 3.0});
    const QStringList key{QStringLiteral("DateTime"), QStringLiteral("TarnAddress"), QStringLiteral("RecNumber")};
    m.First();
    QVERIFY(m.Locate(key, {t0, 5, 121}));
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("B"));
    QVERIFY(m.Locate(key, {t0, 6, 120}));
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("C"));
    QVERIFY(!m.Locate(key, {t0.addMSecs(1), 5, 121}));
    QVERIFY(!m.Locate(key, {t0, 7, 121}));
    // A filter hides rows from a look-up unless all rows are asked for.
    m.SetFilter(QStringLiteral("Dose<10"));
    m.SetFiltered(true);
    QVERIFY(!m.Locate(key, {t0, 5, 121}));
    QVERIFY(m.Locate(key, {t0, 5, 121}, LocateOption::AllRows));
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("B"));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.Locate(key, {t0, 5}));
}

void TestStoreTable::sortByEveryField()
{
    DataTable &m = m_dm->Measures;
    const QStringList names{QStringLiteral("бета"), QStringLiteral("Альфа"), QStringLiteral("альфа"),
                            QStringLiteral("Beta"), QStringLiteral("alpha"), QStringLiteral("Гамма")};
    for (int i = 0; i < 24; ++i) {
        MeasureRow r{100 + (i * 7) % 5, (i * 13) % 11, QDateTime(QDate(2024, 1, 1 + (i * 5) % 9), QTime(i % 24, 0)),
                     i % 6 == 0 ? QVariant() : QVariant((i * 11) % 7), i % 7 == 3 ? QVariant() : QVariant(names[i % 6]),
                     i % 5 == 0 ? QVariant() : QVariant((i * 37) % 10 / 4.0)};
        appendMeasure(m, r);
    }
    for (const FieldDef &f : m.Fields()) {
        m.SetIndexFieldNames(f.name);
        QCOMPARE(m.IndexFieldNames(), f.name == QLatin1String("Index") ? QString() : f.name);
        // What the order must be, worked out here from the rows in key order.
        m.SetIndexFieldNames(QString());
        QList<QPair<QVariant, int>> rows;
        for (m.First(); !m.Eof(); m.Next())
            rows << qMakePair(m.FieldValue(f.name), m.AsInteger(QStringLiteral("Index")));
        std::stable_sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
            return lessInOrder(a.first, a.second, b.first, b.second);
        });
        QVariantList expectedKeys;
        for (const auto &r : rows)
            expectedKeys << r.second;
        m.SetIndexFieldNames(f.name);
        QVariantList keys;
        for (const QVariant &k : walk(m, QStringLiteral("Index")))
            keys << k.toInt();
        QCOMPARE(keys, expectedKeys);
        QVariantList back;
        for (const QVariant &k : walkBack(m, QStringLiteral("Index")))
            back.prepend(k.toInt());
        QCOMPARE(back, expectedKeys);
    }
}

void TestStoreTable::sortUnknownFieldRaises()
{
    DataTable &m = m_dm->Measures;
    m.SetIndexFieldNames(QStringLiteral("Dose"));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.SetIndexFieldNames(QStringLiteral("Доза")));
    QCOMPARE(m.IndexFieldNames(), QStringLiteral("Dose"));
    m.SetIndexFieldNames(QStringLiteral("dose"));  // any letter case
    QCOMPARE(m.IndexFieldNames(), QStringLiteral("Dose"));
}

void TestStoreTable::filterSetRejectedAndSwitched()
{
    DataTable &m = m_dm->Measures;
    for (int i = 0; i < 10; ++i)
        appendMeasure(m, {1, i, GeneratedTime(i), i, QStringLiteral("N%1").arg(i), double(i * 3)});
    QSignalSpy resets(&m, &DataTable::DataSetReset);
    m.SetFilter(QStringLiteral("Dose>10"));
    // Not filtered yet: every row shows.
    QCOMPARE(m.RecordCount(), 10);
    m.Last();
    m.SetFiltered(true);
    QCOMPARE(m.RecordCount(), 6);
    QCOMPARE(m.AsFloat(QStringLiteral("Dose")), 12.0);  // moved to the first row shown
    QVERIFY(m.Bof());
    QCOMPARE(walk(m, QStringLiteral("ID")), (QVariantList{4, 5, 6, 7, 8, 9}));

    // A malformed text is refused; the previous one stays in force.
    m.Next();
    QVERIFY_THROWS_EXCEPTION(EFilterError, m.SetFilter(QStringLiteral("Dose>>")));
    QVERIFY_THROWS_EXCEPTION(EFilterError, m.SetFilter(QStringLiteral("Dose>[1000]")));
    QCOMPARE(m.Filter(), QStringLiteral("Dose>10"));
    QVERIFY(m.Filtered());
    QCOMPARE(m.RecordCount(), 6);

    // A new text while filtering is on re-applies and goes to the first row.
    m.Last();
    m.SetFilter(QStringLiteral("(Dose<=21) AND (Dose>=6)"));
    QCOMPARE(m.AsInteger(QStringLiteral("ID")), 2);
    QCOMPARE(m.RecordCount(), 6);
    m.SetFilter(QStringLiteral("Name>='N7'"));
    QCOMPARE(walk(m, QStringLiteral("Name")), (QVariantList{QStringLiteral("N7"), QStringLiteral("N8"),
                                                            QStringLiteral("N9")}));
    m.SetFilter(QStringLiteral("Index>8"));
    QCOMPARE(walk(m, QStringLiteral("ID")), (QVariantList{8, 9}));

    m.SetFiltered(false);
    QCOMPARE(m.RecordCount(), 10);
    QCOMPARE(m.AsInteger(QStringLiteral("ID")), 0);
    QCOMPARE(m.Filter(), QStringLiteral("Index>8"));
    QVERIFY(resets.count() >= 4);

    // An empty text shows every row, filtered or not.
    m.SetFiltered(true);
    m.SetFilter(QString());
    QCOMPARE(m.RecordCount(), 10);
    QVERIFY(m.WhereClause().isEmpty());
    m.SetFilter(QStringLiteral("Check"));
    QVERIFY(!m.WhereClause().isEmpty());
    QCOMPARE(m.RecordCount(), 5);
}

void TestStoreTable::filterPostsPendingEdit()
{
    DataTable &m = m_dm->Measures;
    appendMeasure(m, {1, 1, GeneratedTime(1), 1, QStringLiteral("X"), 1.0});
    m.Edit();
    m.SetFieldValue(QStringLiteral("Dose"), 50.0);
    m.SetFilter(QStringLiteral("Dose>10"));
    QCOMPARE(m.State(), TableState::Browse);
    m.SetFiltered(true);
    QCOMPARE(m.RecordCount(), 1);
    QCOMPARE(m.AsFloat(QStringLiteral("Dose")), 50.0);
    // A rejected text still posts first: the edit is never lost.
    m.Edit();
    m.SetFieldValue(QStringLiteral("Dose"), 60.0);
    QVERIFY_THROWS_EXCEPTION(EFilterError, m.SetFilter(QStringLiteral("Dose >")));
    m.Refresh();
    QCOMPARE(m.AsFloat(QStringLiteral("Dose")), 60.0);
}

void TestStoreTable::journalOpenBindingsFilter()
{
    DataTable &n = m_dm->Notes;
    QVERIFY(!n.Filtered());
    QCOMPARE(n.Filter(), QString());
    for (int i = 0; i < 4; ++i) {
        n.Append();
        n.SetFieldValue(QStringLiteral("ID"), i);
        n.SetFieldValue(QStringLiteral("TimeFrom"), GeneratedTime(i));
        if (i % 2)
            n.SetFieldValue(QStringLiteral("TimeTo"), GeneratedTime(i + 10));
        n.Post();
    }
    n.SetFilter(QStringLiteral("TimeTo=NULL"));
    n.SetFiltered(true);
    QCOMPARE(walk(n, QStringLiteral("ID")), (QVariantList{0, 2}));
    // Closing a binding takes it out of the view; the count follows.
    n.First();
    n.Edit();
    n.SetFieldValue(QStringLiteral("TimeTo"), GeneratedTime(50));
    n.Post();
    QCOMPARE(n.RecordCount(), 1);
}

void TestStoreTable::bookmarksKeepTheRow()
{
    DataTable &m = m_dm->Measures;
    for (int i = 0; i < 5; ++i)
        appendMeasure(m, {1, i, GeneratedTime(i), i, QStringLiteral("N%1").arg(i), double(i)});
    m.First();
    m.Next();
    m.Next();
    const QVariant bm = m.GetBookmark();
    QVERIFY(m.BookmarkValid(bm));
    m.SetIndexFieldNames(QStringLiteral("Dose"));
    m.Last();
    QVERIFY(m.GotoBookmark(bm));
    QCOMPARE(m.AsInteger(QStringLiteral("ID")), 2);
    // The order goes on from the bookmarked row.
    m.Next();
    QCOMPARE(m.AsInteger(QStringLiteral("ID")), 3);
    // Hidden by the filter or deleted: the bookmark no longer leads anywhere.
    m.SetFilter(QStringLiteral("Dose>2"));
    m.SetFiltered(true);
    QVERIFY(!m.GotoBookmark(bm));
    QVERIFY(!m.BookmarkValid(bm));
    m.SetFiltered(false);
    QVERIFY(m.GotoBookmark(bm));
    m.Delete();
    QVERIFY(!m.GotoBookmark(bm));
}

void TestStoreTable::editCancelDelete()
{
    DataTable &m = m_dm->Measures;
    for (int i = 0; i < 3; ++i)
        appendMeasure(m, {1, i, GeneratedTime(i), i, QStringLiteral("N%1").arg(i), double(i)});
    m.First();
    m.Edit();
    m.SetFieldValue(QStringLiteral("Name"), QStringLiteral("changed"));
    m.Cancel();
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("N0"));
    m.Refresh();
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("N0"));

    // Cancelling an appended row returns to the row that was current.
    m.Next();
    m.Append();
    m.SetFieldValue(QStringLiteral("Name"), QStringLiteral("never"));
    m.Cancel();
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("N1"));
    QCOMPARE(m.RecordCount(), 3);

    // Moving posts a pending edit.
    m.Edit();
    m.SetFieldValue(QStringLiteral("FIO"), QStringLiteral("Иванов"));
    m.Next();
    m.Prior();
    QCOMPARE(m.AsString(QStringLiteral("FIO")), QStringLiteral("Иванов"));

    // Deleting moves to the next row, or to the previous one at the end.
    m.Delete();
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("N2"));
    m.Delete();
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("N0"));
    m.Delete();
    QVERIFY(m.IsEmpty());
    QVERIFY(m.Eof() && m.Bof());
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.Delete());
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.Edit());
}

void TestStoreTable::notificationSuspendedAndResumed()
{
    DataTable &m = m_dm->Measures;
    QSignalSpy resets(&m, &DataTable::DataSetReset);
    QSignalSpy inserted(&m, &DataTable::RowInserted);
    QSignalSpy current(&m, &DataTable::CurrentChanged);
    appendMeasure(m, {1, 1, GeneratedTime(1), 1, QStringLiteral("A"), 1.0});
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(1).toBool(), true);

    m.DisableControls();
    m.DisableControls();
    inserted.clear();
    current.clear();
    resets.clear();
    for (int i = 0; i < 5; ++i)
        appendMeasure(m, {1, i + 2, GeneratedTime(i + 2), 1, QStringLiteral("B"), 1.0});
    m.SetIndexFieldNames(QStringLiteral("Name"));
    m.EnableControls();
    QCOMPARE(inserted.count() + current.count() + resets.count(), 0);
    m.EnableControls();
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(current.count(), 1);
    QVERIFY(!m.ControlsDisabled());

    // A row that the filter hides is announced as not shown.
    m.SetFilter(QStringLiteral("Dose>5"));
    m.SetFiltered(true);
    inserted.clear();
    appendMeasure(m, {1, 9, GeneratedTime(9), 1, QStringLiteral("C"), 1.0});
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(1).toBool(), false);
    QCOMPARE(m.RecordCount(), 0);
}

void TestStoreTable::firstAndLastValueOverRowsShown()
{
    DataTable &m = m_dm->Measures;
    appendMeasure(m, {1, 1, GeneratedTime(1), 3, QStringLiteral("банан"), 7.5});
    appendMeasure(m, {1, 2, GeneratedTime(2), 1, QStringLiteral("Яблоко"), 0.25});
    appendMeasure(m, {1, 3, GeneratedTime(3), 2, QStringLiteral("Абрикос"), 12.0});
    m.SetIndexFieldNames(QStringLiteral("DateTime"));
    m.Last();
    const QVariant here = m.GetBookmark();
    QCOMPARE(m.FirstAndLastValue(QStringLiteral("Name")),
             qMakePair(QVariant(QStringLiteral("Абрикос")), QVariant(QStringLiteral("Яблоко"))));
    QCOMPARE(m.FirstAndLastValue(QStringLiteral("Dose")), qMakePair(QVariant(0.25), QVariant(12.0)));
    QCOMPARE(m.FirstAndLastValue(QStringLiteral("DateTime")),
             qMakePair(QVariant(GeneratedTime(1)), QVariant(GeneratedTime(3))));
    m.SetFilter(QStringLiteral("ID<3"));
    m.SetFiltered(true);
    m.Last();
    QCOMPARE(m.GetBookmark(), here);
    QCOMPARE(m.FirstAndLastValue(QStringLiteral("ID")), qMakePair(QVariant(1), QVariant(2)));
    // The helpers neither move the current row nor change the order.
    QCOMPARE(m.IndexFieldNames(), QStringLiteral("DateTime"));
    QCOMPARE(m.GetBookmark(), here);
    m.SetFilter(QStringLiteral("ID>100"));
    QCOMPARE(m.FirstAndLastValue(QStringLiteral("ID")), qMakePair(QVariant(), QVariant()));
}

void TestStoreTable::firstAndLastValueOfRowsFarAlongTheOrder()
{
    // The rows of dosimeter 7 lie in the middle of the FIO order, thousands
    // of rows from either end, and are too many to be simply sorted at once.
    DataTable &m = m_dm->Measures;
    FillMeasures(*m_dm, 30000);
    m.Exec(QStringLiteral("UPDATE %1 SET \"ID\" = CASE WHEN \"Index\" BETWEEN 14001 AND 15000 THEN 7 ELSE 1 END, "
                          "\"FIO\" = CASE WHEN \"Index\" <= 14000 THEN 'Аня' WHEN \"Index\" > 15000 THEN 'Яна' "
                          "ELSE CASE \"Index\" % 4 WHEN 1 THEN 'БОРИС' WHEN 2 THEN 'Борис' WHEN 3 THEN 'вера' "
                          "ELSE 'ВЕРА' END END")
               .arg(m.SqlName()));
    m.Refresh();
    m.SetFilter(QStringLiteral("ID=7"));
    m.SetFiltered(true);
    QCOMPARE(m.RecordCount(), 1000);
    // Ties in letter case go by key, as in the grid's order.
    QCOMPARE(m.FirstAndLastValue(QStringLiteral("FIO")),
             qMakePair(QVariant(QStringLiteral("БОРИС")), QVariant(QStringLiteral("ВЕРА"))));
    QCOMPARE(m.FirstAndLastValue(QStringLiteral("Index")), qMakePair(QVariant(14001), QVariant(15000)));
    m.SetFilter(QStringLiteral("ID=1"));
    QCOMPARE(m.FirstAndLastValue(QStringLiteral("FIO")),
             qMakePair(QVariant(QStringLiteral("Аня")), QVariant(QStringLiteral("Яна"))));
}

void TestStoreTable::textOrderOfAwkwardTexts()
{
    // Letters of every width in UTF-8, texts that share their first bytes,
    // letters that fold to others, characters beyond the 16-bit range: the
    // sort order of texts is that of a case-insensitive comparison.
    DataTable &m = m_dm->Measures;
    const QStringList texts{
        QStringLiteral("Жук"), QStringLiteral("жук"), QStringLiteral("Зуб"), QStringLiteral("ЖУКИ"),
        QStringLiteral("Ёж"), QStringLiteral("ёж"), QStringLiteral("Еж"), QStringLiteral("ez"),
        QStringLiteral("EZ"), QStringLiteral("é"), QStringLiteral("É"), QStringLiteral("aé"),
        QStringLiteral("aЖ"), QStringLiteral("a€"), QStringLiteral("a😀"), QStringLiteral("A😁"),
        QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("ab"), QStringLiteral("aB"),
        QStringLiteral("a["), QStringLiteral("a_"), QStringLiteral("€"), QStringLiteral("Ω"),
        QStringLiteral("ω"), QStringLiteral("ǅ"), QStringLiteral("ǆ"), QStringLiteral("ß"),
        QStringLiteral("SS"), QStringLiteral("\u212A"), QStringLiteral("k"), QStringLiteral("\uE000"),
        QStringLiteral("\uFFFD"), QStringLiteral("😀"), QStringLiteral("Я1"), QStringLiteral("я10"),
    };
    for (int i = 0; i < texts.size(); ++i)
        appendMeasure(m, {1, i, GeneratedTime(i), i, texts[i], 1.0});
    QList<QPair<QVariant, int>> rows;
    for (m.First(); !m.Eof(); m.Next())
        rows << qMakePair(m.FieldValue(QStringLiteral("Name")), m.AsInteger(QStringLiteral("Index")));
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto &a, const auto &b) { return lessInOrder(a.first, a.second, b.first, b.second); });
    QStringList expected;
    for (const auto &r : rows)
        expected << r.first.toString();
    m.SetIndexFieldNames(QStringLiteral("Name"));
    QStringList sorted;
    for (const QVariant &v : walk(m, QStringLiteral("Name")))
        sorted << v.toString();
    QCOMPARE(sorted, expected);
}

void TestStoreTable::transactionRollbackForgetsRows()
{
    DataTable &m = m_dm->Measures;
    appendMeasure(m, {1, 1, GeneratedTime(1), 1, QStringLiteral("kept"), 1.0});
    {
        Transaction tx(*m_dm);
        appendMeasure(m, {1, 2, GeneratedTime(2), 1, QStringLiteral("gone"), 1.0});
        QCOMPARE(m.RecordCount(), 2);
    }
    QCOMPARE(m.RecordCount(), 1);
    QCOMPARE(m.AsString(QStringLiteral("Name")), QStringLiteral("kept"));
    {
        // A row still being edited when the transaction is dropped is not
        // written afterwards either.
        Transaction tx(*m_dm);
        m.Append();
        m.SetFieldValue(QStringLiteral("Name"), QStringLiteral("pending"));
    }
    QCOMPARE(m.State(), TableState::Browse);
    QCOMPARE(m.RecordCount(), 1);
    {
        Transaction tx(*m_dm);
        QVERIFY_THROWS_EXCEPTION(EGeneralError, m_dm->startTransaction());
        appendMeasure(m, {1, 3, GeneratedTime(3), 1, QStringLiteral("stored"), 1.0});
        tx.commit();
    }
    m_dm->dataModuleDestroy();
    m_dm = m_dir->start();
    QCOMPARE(m_dm->Measures.RecordCount(), 2);
}

void TestStoreTable::readingsReachTheDiskBeforeAPosition()
{
    auto synchronous = [this](const QString &schema) {
        QSqlQuery q(m_dm->database());
        q.exec(QStringLiteral("PRAGMA \"%1\".synchronous").arg(schema));
        return q.next() ? q.value(0).toInt() : -1;
    };
    // Readings are committed without a flush each; the other tables wait for the disk.
    QCOMPARE(synchronous(QStringLiteral("Measures")), 1);
    QCOMPARE(synchronous(QStringLiteral("Devices")), 2);
    QCOMPARE(synchronous(QStringLiteral("Notes")), 2);

    DataTable &m = m_dm->Measures;
    appendMeasure(m, {1, 1, GeneratedTime(1), 1, QStringLiteral("first"), 1.0});
    appendMeasure(m, {1, 2, GeneratedTime(2), 1, QStringLiteral("second"), 2.0});
    const QString wal = m_dir->tablePath(QStringLiteral("Measures.DB")) + QStringLiteral("-wal");
    const qint64 before = QFileInfo(wal).size();
    QVERIFY(before > 0);
    // The flush is a commit of its own made with a full flush of the log.
    m_dm->flushReadings();
    QVERIFY(QFileInfo(wal).size() > before);
    QCOMPARE(synchronous(QStringLiteral("Measures")), 1);
    QCOMPARE(m.RecordCount(), 2);

    m_dm->dataModuleDestroy();
    m_dm = m_dir->start();
    QCOMPARE(m_dm->Measures.RecordCount(), 2);
}

void TestStoreTable::secondCursorOnCardsSeesChanges()
{
    QSignalSpy resets(&m_dm->DBCards, &DataTable::DataSetReset);
    m_dm->DBCards4Find.Append();
    m_dm->DBCards4Find.SetFieldValue(QStringLiteral("FIO"), QStringLiteral("Сидоров"));
    m_dm->DBCards4Find.Post();
    QCOMPARE(resets.count(), 1);
    QCOMPARE(m_dm->DBCards.RecordCount(), 1);
    m_dm->DBCards.First();
    QCOMPARE(m_dm->DBCards.AsString(QStringLiteral("FIO")), QStringLiteral("Сидоров"));
}

QTEST_GUILESS_MAIN(TestStoreTable)
void TestStoreTable::readingStoreAnswersWhateverTheViewsShow()
{
    ReadingStore store(*m_dm);
    const QDateTime t = GeneratedTime(5);
    QVERIFY(!store.readingStored(t, 7, 3));
    const int index = store.storeReading({t, 7, 3, 12, QStringLiteral("Метка"), 1.5});
    DataTable &m = m_dm->Measures;
    QVERIFY(index > 0);
    QCOMPARE(m.FieldValue(QStringLiteral("Index")).toInt(), index);
    QCOMPARE(m.AsBoolean(QStringLiteral("Check")), false);
    // A grid filter hiding the reading changes neither the check nor the count.
    m.SetFilter(QStringLiteral("ID=99"));
    m.SetFiltered(true);
    QVERIFY(store.readingStored(t, 7, 3));
    QVERIFY(!store.readingStored(t, 7, 4));
    QVERIFY(!store.readingStored(t.addMSecs(1), 7, 3));
    QCOMPARE(store.readingCount(), 1);

    // A position goes into the row of its own reader, whichever row is current.
    bool created = false;
    QCOMPARE(store.loadReaderPosition(1, &created).recNumber, 0);
    QVERIFY(created);
    store.loadReaderPosition(2, &created);
    QVERIFY(created);
    store.saveReaderPosition(1, {40, t});
    const ReaderPosition saved = store.loadReaderPosition(1, &created);
    QVERIFY(!created);
    QCOMPARE(saved.recNumber, 40);
    QCOMPARE(saved.time, t);
    QCOMPARE(store.loadReaderPosition(2).recNumber, 0);
}

#include "tst_store_table.moc"

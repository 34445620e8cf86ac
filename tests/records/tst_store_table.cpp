// The table class on real files: keys, field sizes, look-ups, sort orders,
// filters, bookmarks, editing and change notification.

#include "StoreFixture.h"
#include "ScriptedPrompt.h"

#include "core/Errors.h"
#include "records/ReadingStore.h"
#include "records/StoredDateTime.h"
#include "records/DataModule.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QFileInfo>
#include <QtTest>
#include <algorithm>
#include <ctime>

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
    t.append();
    t.setFieldValue(QStringLiteral("TarnAddress"), r.tarn);
    t.setFieldValue(QStringLiteral("RecNumber"), r.rec);
    t.setFieldValue(QStringLiteral("DateTime"), r.time);
    t.setFieldValue(QStringLiteral("ID"), r.id);
    t.setFieldValue(QStringLiteral("Name"), r.name);
    t.setFieldValue(QStringLiteral("Dose"), r.dose);
    t.setFieldValue(QStringLiteral("Check"), r.rec % 2 == 0);
    t.post();
}

QVariantList walk(DataTable &t, const QString &field)
{
    QVariantList values;
    for (t.first(); !t.eof(); t.next())
        values << t.fieldValue(field);
    return values;
}

QVariantList walkBack(DataTable &t, const QString &field)
{
    QVariantList values;
    for (t.last(); !t.bof(); t.prior())
        values << t.fieldValue(field);
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
    std::unique_ptr<storeDir> m_dir;
    std::unique_ptr<ScriptedPrompt> m_prompt;
    std::unique_ptr<DataModule> m_dm;
};

void TestStoreTable::init()
{
    m_dir = std::make_unique<storeDir>();
    m_prompt = std::make_unique<ScriptedPrompt>();
    m_dm = m_dir->start();
    QVERIFY(m_dm->measures().active());
}

void TestStoreTable::cleanup()
{
    m_dm.reset();
    m_prompt.reset();
    m_dir.reset();
}

void TestStoreTable::primaryKeyAndAutoIncrement()
{
    DataTable &dev = m_dm->devices();
    dev.append();
    dev.setFieldValue(QStringLiteral("TarnAddress"), 0x010203);
    dev.setFieldValue(QStringLiteral("LastRecNumber"), 0);
    dev.setFieldValue(QStringLiteral("LastRecTime"), minDateTime());
    dev.post();
    dev.append();
    dev.setFieldValue(QStringLiteral("TarnAddress"), 0x010203);
    QVERIFY_THROWS_EXCEPTION(EGeneralError, dev.post());
    QCOMPARE(dev.state(), TableState::Insert);
    dev.cancel();
    QCOMPARE(dev.state(), TableState::Browse);
    QCOMPARE(dev.recordCount(), 1);
    QCOMPARE(dev.asInteger(QStringLiteral("TarnAddress")), 0x010203);
    // A row without its key is refused rather than numbered by the store.
    dev.append();
    dev.setFieldValue(QStringLiteral("LastRecNumber"), 7);
    QVERIFY_THROWS_EXCEPTION(EGeneralError, dev.post());
    dev.cancel();

    // The auto-increment number is there right after posting, is read-only
    // and is never given out twice, also after the last row was deleted.
    DataTable &m = m_dm->measures();
    for (int i = 1; i <= 3; ++i) {
        m.append();
        QVERIFY(m.isNull(QStringLiteral("Index")));
        m.setFieldValue(QStringLiteral("RecNumber"), i);
        m.post();
        QCOMPARE(m.asInteger(QStringLiteral("Index")), i);
        QCOMPARE(m.asInteger(QStringLiteral("RecNumber")), i);
    }
    m.edit();
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.setFieldValue(QStringLiteral("Index"), 99));
    m.cancel();
    m.last();
    m.remove();
    m.append();
    m.post();
    QCOMPARE(m.asInteger(QStringLiteral("Index")), 4);
    // Values can only be set while editing.
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.setFieldValue(QStringLiteral("ID"), 1));
}

void TestStoreTable::textsCutToFieldSizeAndBlankTexts()
{
    DataTable &c = m_dm->cards();
    c.append();
    c.setFieldValue(QStringLiteral("FIO_RFID"), QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРС"));  // 19 + 1 below
    c.setFieldValue(QStringLiteral("FIO_RFID"), QStringLiteral("АБВГДЕЁЖЗИЙКЛМНОПРСТ"));
    QCOMPARE(c.fieldValue(QStringLiteral("FIO_RFID")).toString(), QStringLiteral("АБВГДЕЁЖЗИЙКЛМНО"));
    c.setFieldValue(QStringLiteral("Comment"), QString(150, QLatin1Char('x')));
    c.setFieldValue(QStringLiteral("FIO"), QString());
    c.post();
    c.refresh();
    QCOMPARE(c.fieldValue(QStringLiteral("FIO_RFID")).toString(), QStringLiteral("АБВГДЕЁЖЗИЙКЛМНО"));
    QCOMPARE(c.fieldValue(QStringLiteral("Comment")).toString().size(), 100);
    QVERIFY(c.isNull(QStringLiteral("FIO")));
    QSqlQuery q = c.exec(QStringLiteral("SELECT length(\"FIO_RFID\"), \"FIO\" IS NULL FROM ") + c.sqlName());
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 16);
    QCOMPARE(q.value(1).toInt(), 1);
}

void TestStoreTable::valuesConvertedOrRefused()
{
    DataTable &m = m_dm->measures();
    m.append();
    m.setFieldValue(QStringLiteral("Dose"), QStringLiteral("1.5"));
    m.setFieldValue(QStringLiteral("ID"), QStringLiteral(" 42 "));
    m.setFieldValue(QStringLiteral("DateTime"), QStringLiteral("13.03.2024 10:20:30"));
    m.setFieldValue(QStringLiteral("Check"), true);
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.setFieldValue(QStringLiteral("ID"), QStringLiteral("сорок")));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.setFieldValue(QStringLiteral("ID"), qlonglong(1) << 40));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.setFieldValue(QStringLiteral("Dose"), QStringLiteral("1,5")));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.setFieldValue(QStringLiteral("DateTime"), QStringLiteral("вчера")));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.setFieldValue(QStringLiteral("NoSuchField"), 1));
    m.post();
    QCOMPARE(m.fieldValue(QStringLiteral("Dose")), QVariant(1.5));
    QCOMPARE(m.fieldValue(QStringLiteral("ID")), QVariant(42));
    QCOMPARE(m.asDateTime(QStringLiteral("DateTime")), QDateTime(QDate(2024, 3, 13), QTime(10, 20, 30)));
    QCOMPARE(m.fieldValue(QStringLiteral("Check")), QVariant(true));
    QCOMPARE(m.displayText(QStringLiteral("DateTime")), QStringLiteral("13.03.24 10:20"));
    QCOMPARE(m.displayText(QStringLiteral("Dose")), QStringLiteral("1.500"));
    QCOMPARE(m.asString(QStringLiteral("DateTime")), QStringLiteral("13.03.2024 10:20:30"));
    QCOMPARE(m.asString(QStringLiteral("Dose")), QStringLiteral("1.5"));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.fieldValue(QStringLiteral("NoSuchField")));

    DataTable &c = m_dm->cards();
    c.append();
    c.setFieldValue(QStringLiteral("isMale"), false);
    c.setFieldValue(QStringLiteral("BirthDay"), QDate(1970, 2, 3));
    c.post();
    QCOMPARE(c.displayText(QStringLiteral("isMale")), QStringLiteral("Ж"));
    QCOMPARE(c.fieldValue(QStringLiteral("BirthDay")), QVariant(QDate(1970, 2, 3)));
}

void TestStoreTable::dateTimeExtremesExact()
{
    DataTable &n = m_dm->notes();
    n.append();
    n.setFieldValue(QStringLiteral("TimeFrom"), minDateTime());
    n.setFieldValue(QStringLiteral("TimeTo"), maxDateTime());
    n.post();
    const QVariant key = n.getBookmark();
    m_dm->dataModuleDestroy();
    m_dm = m_dir->start();
    DataTable &again = m_dm->notes();
    QVERIFY(again.gotoBookmark(key));
    QCOMPARE(again.asDateTime(QStringLiteral("TimeFrom")), minDateTime());
    QCOMPARE(again.asDateTime(QStringLiteral("TimeTo")), maxDateTime());
    QCOMPARE(again.asDateTime(QStringLiteral("TimeTo")).time().msec(), 999);
    QSqlQuery q = again.exec(QStringLiteral("SELECT \"TimeFrom\", \"TimeTo\" FROM ") + again.sqlName());
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("0001-01-01 00:00:00.000"));
    QCOMPARE(q.value(1).toString(), QStringLiteral("9999-12-31 23:59:59.999"));
    q.finish();
    // Exact comparison finds them again.
    QVERIFY(again.locate(QStringLiteral("TimeTo"), maxDateTime()));
    QVERIFY(!again.locate(QStringLiteral("TimeTo"), maxDateTime().addMSecs(-1)));

    // Stored times are read as Qt's parser reads their form, in a zone whose
    // clock skips and repeats an hour too; anything else is no time.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
    QStringList texts{QStringLiteral("2025-03-30 02:30:00.000"), QStringLiteral("2025-10-26 02:30:00.000"),
                      QStringLiteral("2024-02-29 23:59:59.999"), QStringLiteral("2025-02-29 10:00:00.000"),
                      QStringLiteral("2025-01-01 24:00:00.000"), QStringLiteral("2025-01-01T10:00:00.000"),
                      QStringLiteral("2025-01-01 10:00:00.00x"), QStringLiteral("2025-1-01 10:00:00.000"),
                      QStringLiteral("2025-01-01 10:00:00")};
    QRandomGenerator random(7);
    for (int i = 0; i < 2000; ++i)
        texts.append(dateTimeToStored(QDateTime(QDate(1, 1, 1).addDays(random.bounded(3652058)),
                                                QTime(0, 0).addMSecs(int(random.bounded(86400000))))));
    for (const QString &text : std::as_const(texts)) {
        const QDateTime qt = QDateTime::fromString(text, format);
        QCOMPARE(dateTimeFromStored(text), qt.isValid() ? qt : QDateTime());
    }
    qputenv("TZ", zone);
    tzset();
}

void TestStoreTable::locateCaseInsensitiveAndPrefix()
{
    DataTable &c = m_dm->cards();
    const QStringList names{QStringLiteral("Петров Пётр"), QStringLiteral("Иванов Иван"), QStringLiteral("ивашкин"),
                            QStringLiteral("Smith John"), QStringLiteral("Ёжиков")};
    for (const QString &n : names) {
        c.append();
        c.setFieldValue(QStringLiteral("FIO"), n);
        c.post();
    }
    c.setIndexFieldNames(QStringLiteral("FIO"));
    // The first match in the current order: "Иванов" sorts before "ивашкин".
    QVERIFY(c.locate(QStringLiteral("FIO"), QStringLiteral("ива"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(c.asString(QStringLiteral("FIO")), QStringLiteral("Иванов Иван"));
    QVERIFY(c.locate(QStringLiteral("FIO"), QStringLiteral("ИВАШ"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(c.asString(QStringLiteral("FIO")), QStringLiteral("ивашкин"));
    QVERIFY(c.locate(QStringLiteral("FIO"), QStringLiteral("ёЖИКОВ"), LocateOption::CaseInsensitive));
    QCOMPARE(c.asString(QStringLiteral("FIO")), QStringLiteral("Ёжиков"));
    QVERIFY(c.locate(QStringLiteral("FIO"), QStringLiteral("SMITH"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(c.asString(QStringLiteral("FIO")), QStringLiteral("Smith John"));

    // Without the options letter case counts and the whole text must match;
    // a failed look-up leaves the current row where it was.
    QVERIFY(!c.locate(QStringLiteral("FIO"), QStringLiteral("иван"), LocateOption::PartialKey));
    QCOMPARE(c.asString(QStringLiteral("FIO")), QStringLiteral("Smith John"));
    QVERIFY(!c.locate(QStringLiteral("FIO"), QStringLiteral("иванов иван")));
    QVERIFY(!c.locate(QStringLiteral("FIO"), QStringLiteral("Иванов"), LocateOption::CaseInsensitive));
    QVERIFY(c.locate(QStringLiteral("FIO"), QStringLiteral("Иванов Иван")));
    QVERIFY(c.locate(QStringLiteral("FIO"), QStringLiteral("Ив"), LocateOption::PartialKey));
    QCOMPARE(c.asString(QStringLiteral("FIO")), QStringLiteral("Иванов Иван"));

    // The second cursor looks up without moving the first.
    QVERIFY(m_dm->cardsFind().locate(QStringLiteral("FIO"), QStringLiteral("пет"), LocateOption::CaseInsensitive | LocateOption::PartialKey));
    QCOMPARE(m_dm->cardsFind().asString(QStringLiteral("FIO")), QStringLiteral("Петров Пётр"));
    QCOMPARE(c.asString(QStringLiteral("FIO")), QStringLiteral("Иванов Иван"));
}

void TestStoreTable::locateSeveralFieldsExactly()
{
    DataTable &m = m_dm->measures();
    const QDateTime t0(QDate(2024, 3, 13), QTime(10, 0, 0, 250));
    appendMeasure(m, {5, 120, t0, 7, QStringLiteral("A"), 1.0});
    appendMeasure(m, {5, 121, t0, 7, QStringLiteral("B"), 20.0});
    appendMeasure(m, {6, 120, t0, 7, QStringLiteral("C"), 3.0});
    const QStringList key{QStringLiteral("DateTime"), QStringLiteral("TarnAddress"), QStringLiteral("RecNumber")};
    m.first();
    QVERIFY(m.locate(key, {t0, 5, 121}));
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("B"));
    QVERIFY(m.locate(key, {t0, 6, 120}));
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("C"));
    QVERIFY(!m.locate(key, {t0.addMSecs(1), 5, 121}));
    QVERIFY(!m.locate(key, {t0, 7, 121}));
    // A filter hides rows from a look-up unless all rows are asked for.
    m.setFilter(QStringLiteral("Dose<10"));
    m.setFiltered(true);
    QVERIFY(!m.locate(key, {t0, 5, 121}));
    QVERIFY(m.locate(key, {t0, 5, 121}, LocateOption::AllRows));
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("B"));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.locate(key, {t0, 5}));
}

void TestStoreTable::sortByEveryField()
{
    DataTable &m = m_dm->measures();
    const QStringList names{QStringLiteral("бета"), QStringLiteral("Альфа"), QStringLiteral("альфа"),
                            QStringLiteral("Beta"), QStringLiteral("alpha"), QStringLiteral("Гамма")};
    for (int i = 0; i < 24; ++i) {
        MeasureRow r{100 + (i * 7) % 5, (i * 13) % 11, QDateTime(QDate(2024, 1, 1 + (i * 5) % 9), QTime(i % 24, 0)),
                     i % 6 == 0 ? QVariant() : QVariant((i * 11) % 7), i % 7 == 3 ? QVariant() : QVariant(names[i % 6]),
                     i % 5 == 0 ? QVariant() : QVariant((i * 37) % 10 / 4.0)};
        appendMeasure(m, r);
    }
    for (const FieldDef &f : m.fields()) {
        m.setIndexFieldNames(f.name);
        QCOMPARE(m.indexFieldNames(), f.name == QLatin1String("Index") ? QString() : f.name);
        // What the order must be, worked out here from the rows in key order.
        m.setIndexFieldNames(QString());
        QList<QPair<QVariant, int>> rows;
        for (m.first(); !m.eof(); m.next())
            rows << qMakePair(m.fieldValue(f.name), m.asInteger(QStringLiteral("Index")));
        std::stable_sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
            return lessInOrder(a.first, a.second, b.first, b.second);
        });
        QVariantList expectedKeys;
        for (const auto &r : rows)
            expectedKeys << r.second;
        m.setIndexFieldNames(f.name);
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
    DataTable &m = m_dm->measures();
    m.setIndexFieldNames(QStringLiteral("Dose"));
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.setIndexFieldNames(QStringLiteral("Доза")));
    QCOMPARE(m.indexFieldNames(), QStringLiteral("Dose"));
    m.setIndexFieldNames(QStringLiteral("dose"));  // any letter case
    QCOMPARE(m.indexFieldNames(), QStringLiteral("Dose"));
}

void TestStoreTable::filterSetRejectedAndSwitched()
{
    DataTable &m = m_dm->measures();
    for (int i = 0; i < 10; ++i)
        appendMeasure(m, {1, i, generatedTime(i), i, QStringLiteral("N%1").arg(i), double(i * 3)});
    QSignalSpy resets(&m, &DataTable::dataSetReset);
    m.setFilter(QStringLiteral("Dose>10"));
    // Not filtered yet: every row shows.
    QCOMPARE(m.recordCount(), 10);
    m.last();
    m.setFiltered(true);
    QCOMPARE(m.recordCount(), 6);
    QCOMPARE(m.asFloat(QStringLiteral("Dose")), 12.0);  // moved to the first row shown
    QVERIFY(m.bof());
    QCOMPARE(walk(m, QStringLiteral("ID")), (QVariantList{4, 5, 6, 7, 8, 9}));

    // A malformed text is refused; the previous one stays in force.
    m.next();
    QVERIFY_THROWS_EXCEPTION(EFilterError, m.setFilter(QStringLiteral("Dose>>")));
    QVERIFY_THROWS_EXCEPTION(EFilterError, m.setFilter(QStringLiteral("Dose>[1000]")));
    QCOMPARE(m.filter(), QStringLiteral("Dose>10"));
    QVERIFY(m.filtered());
    QCOMPARE(m.recordCount(), 6);

    // A new text while filtering is on re-applies and goes to the first row.
    m.last();
    m.setFilter(QStringLiteral("(Dose<=21) AND (Dose>=6)"));
    QCOMPARE(m.asInteger(QStringLiteral("ID")), 2);
    QCOMPARE(m.recordCount(), 6);
    m.setFilter(QStringLiteral("Name>='N7'"));
    QCOMPARE(walk(m, QStringLiteral("Name")), (QVariantList{QStringLiteral("N7"), QStringLiteral("N8"),
                                                            QStringLiteral("N9")}));
    m.setFilter(QStringLiteral("Index>8"));
    QCOMPARE(walk(m, QStringLiteral("ID")), (QVariantList{8, 9}));

    m.setFiltered(false);
    QCOMPARE(m.recordCount(), 10);
    QCOMPARE(m.asInteger(QStringLiteral("ID")), 0);
    QCOMPARE(m.filter(), QStringLiteral("Index>8"));
    QVERIFY(resets.count() >= 4);

    // An empty text shows every row, filtered or not.
    m.setFiltered(true);
    m.setFilter(QString());
    QCOMPARE(m.recordCount(), 10);
    QVERIFY(m.whereClause().isEmpty());
    m.setFilter(QStringLiteral("Check"));
    QVERIFY(!m.whereClause().isEmpty());
    QCOMPARE(m.recordCount(), 5);
}

void TestStoreTable::filterPostsPendingEdit()
{
    DataTable &m = m_dm->measures();
    appendMeasure(m, {1, 1, generatedTime(1), 1, QStringLiteral("X"), 1.0});
    m.edit();
    m.setFieldValue(QStringLiteral("Dose"), 50.0);
    m.setFilter(QStringLiteral("Dose>10"));
    QCOMPARE(m.state(), TableState::Browse);
    m.setFiltered(true);
    QCOMPARE(m.recordCount(), 1);
    QCOMPARE(m.asFloat(QStringLiteral("Dose")), 50.0);
    // A rejected text still posts first: the edit is never lost.
    m.edit();
    m.setFieldValue(QStringLiteral("Dose"), 60.0);
    QVERIFY_THROWS_EXCEPTION(EFilterError, m.setFilter(QStringLiteral("Dose >")));
    m.refresh();
    QCOMPARE(m.asFloat(QStringLiteral("Dose")), 60.0);
}

void TestStoreTable::journalOpenBindingsFilter()
{
    DataTable &n = m_dm->notes();
    QVERIFY(!n.filtered());
    QCOMPARE(n.filter(), QString());
    for (int i = 0; i < 4; ++i) {
        n.append();
        n.setFieldValue(QStringLiteral("ID"), i);
        n.setFieldValue(QStringLiteral("TimeFrom"), generatedTime(i));
        if (i % 2)
            n.setFieldValue(QStringLiteral("TimeTo"), generatedTime(i + 10));
        n.post();
    }
    n.setFilter(QStringLiteral("TimeTo=NULL"));
    n.setFiltered(true);
    QCOMPARE(walk(n, QStringLiteral("ID")), (QVariantList{0, 2}));
    // Closing a binding takes it out of the view; the count follows.
    n.first();
    n.edit();
    n.setFieldValue(QStringLiteral("TimeTo"), generatedTime(50));
    n.post();
    QCOMPARE(n.recordCount(), 1);
}

void TestStoreTable::bookmarksKeepTheRow()
{
    DataTable &m = m_dm->measures();
    for (int i = 0; i < 5; ++i)
        appendMeasure(m, {1, i, generatedTime(i), i, QStringLiteral("N%1").arg(i), double(i)});
    m.first();
    m.next();
    m.next();
    const QVariant bm = m.getBookmark();
    QVERIFY(m.bookmarkValid(bm));
    m.setIndexFieldNames(QStringLiteral("Dose"));
    m.last();
    QVERIFY(m.gotoBookmark(bm));
    QCOMPARE(m.asInteger(QStringLiteral("ID")), 2);
    // The order goes on from the bookmarked row.
    m.next();
    QCOMPARE(m.asInteger(QStringLiteral("ID")), 3);
    // Hidden by the filter or deleted: the bookmark no longer leads anywhere.
    m.setFilter(QStringLiteral("Dose>2"));
    m.setFiltered(true);
    QVERIFY(!m.gotoBookmark(bm));
    QVERIFY(!m.bookmarkValid(bm));
    m.setFiltered(false);
    QVERIFY(m.gotoBookmark(bm));
    m.remove();
    QVERIFY(!m.gotoBookmark(bm));
}

void TestStoreTable::editCancelDelete()
{
    DataTable &m = m_dm->measures();
    for (int i = 0; i < 3; ++i)
        appendMeasure(m, {1, i, generatedTime(i), i, QStringLiteral("N%1").arg(i), double(i)});
    m.first();
    m.edit();
    m.setFieldValue(QStringLiteral("Name"), QStringLiteral("changed"));
    m.cancel();
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("N0"));
    m.refresh();
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("N0"));

    // Cancelling an appended row returns to the row that was current.
    m.next();
    m.append();
    m.setFieldValue(QStringLiteral("Name"), QStringLiteral("never"));
    m.cancel();
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("N1"));
    QCOMPARE(m.recordCount(), 3);

    // Moving posts a pending edit.
    m.edit();
    m.setFieldValue(QStringLiteral("FIO"), QStringLiteral("Иванов"));
    m.next();
    m.prior();
    QCOMPARE(m.asString(QStringLiteral("FIO")), QStringLiteral("Иванов"));

    // Deleting moves to the next row, or to the previous one at the end.
    m.remove();
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("N2"));
    m.remove();
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("N0"));
    m.remove();
    QVERIFY(m.isEmpty());
    QVERIFY(m.eof() && m.bof());
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.remove());
    QVERIFY_THROWS_EXCEPTION(EGeneralError, m.edit());
}

void TestStoreTable::notificationSuspendedAndResumed()
{
    DataTable &m = m_dm->measures();
    QSignalSpy resets(&m, &DataTable::dataSetReset);
    QSignalSpy inserted(&m, &DataTable::rowInserted);
    QSignalSpy current(&m, &DataTable::currentChanged);
    appendMeasure(m, {1, 1, generatedTime(1), 1, QStringLiteral("A"), 1.0});
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(1).toBool(), true);

    m.disableControls();
    m.disableControls();
    inserted.clear();
    current.clear();
    resets.clear();
    for (int i = 0; i < 5; ++i)
        appendMeasure(m, {1, i + 2, generatedTime(i + 2), 1, QStringLiteral("B"), 1.0});
    m.setIndexFieldNames(QStringLiteral("Name"));
    m.enableControls();
    QCOMPARE(inserted.count() + current.count() + resets.count(), 0);
    m.enableControls();
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(current.count(), 1);
    QVERIFY(!m.controlsDisabled());

    // A row that the filter hides is announced as not shown.
    m.setFilter(QStringLiteral("Dose>5"));
    m.setFiltered(true);
    inserted.clear();
    appendMeasure(m, {1, 9, generatedTime(9), 1, QStringLiteral("C"), 1.0});
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(inserted.first().at(1).toBool(), false);
    QCOMPARE(m.recordCount(), 0);
}

void TestStoreTable::firstAndLastValueOverRowsShown()
{
    DataTable &m = m_dm->measures();
    appendMeasure(m, {1, 1, generatedTime(1), 3, QStringLiteral("банан"), 7.5});
    appendMeasure(m, {1, 2, generatedTime(2), 1, QStringLiteral("Яблоко"), 0.25});
    appendMeasure(m, {1, 3, generatedTime(3), 2, QStringLiteral("Абрикос"), 12.0});
    m.setIndexFieldNames(QStringLiteral("DateTime"));
    m.last();
    const QVariant here = m.getBookmark();
    QCOMPARE(m.firstAndLastValue(QStringLiteral("Name")),
             qMakePair(QVariant(QStringLiteral("Абрикос")), QVariant(QStringLiteral("Яблоко"))));
    QCOMPARE(m.firstAndLastValue(QStringLiteral("Dose")), qMakePair(QVariant(0.25), QVariant(12.0)));
    QCOMPARE(m.firstAndLastValue(QStringLiteral("DateTime")),
             qMakePair(QVariant(generatedTime(1)), QVariant(generatedTime(3))));
    m.setFilter(QStringLiteral("ID<3"));
    m.setFiltered(true);
    m.last();
    QCOMPARE(m.getBookmark(), here);
    QCOMPARE(m.firstAndLastValue(QStringLiteral("ID")), qMakePair(QVariant(1), QVariant(2)));
    // The helpers neither move the current row nor change the order.
    QCOMPARE(m.indexFieldNames(), QStringLiteral("DateTime"));
    QCOMPARE(m.getBookmark(), here);
    m.setFilter(QStringLiteral("ID>100"));
    QCOMPARE(m.firstAndLastValue(QStringLiteral("ID")), qMakePair(QVariant(), QVariant()));
}

void TestStoreTable::firstAndLastValueOfRowsFarAlongTheOrder()
{
    // The rows of dosimeter 7 lie in the middle of the FIO order, thousands
    // of rows from either end, and are too many to be simply sorted at once.
    DataTable &m = m_dm->measures();
    fillMeasures(*m_dm, 30000);
    m.exec(QStringLiteral("UPDATE %1 SET \"ID\" = CASE WHEN \"Index\" BETWEEN 14001 AND 15000 THEN 7 ELSE 1 END, "
                          "\"FIO\" = CASE WHEN \"Index\" <= 14000 THEN 'Аня' WHEN \"Index\" > 15000 THEN 'Яна' "
                          "ELSE CASE \"Index\" % 4 WHEN 1 THEN 'БОРИС' WHEN 2 THEN 'Борис' WHEN 3 THEN 'вера' "
                          "ELSE 'ВЕРА' END END")
               .arg(m.sqlName()));
    m.refresh();
    m.setFilter(QStringLiteral("ID=7"));
    m.setFiltered(true);
    QCOMPARE(m.recordCount(), 1000);
    // Ties in letter case go by key, as in the grid's order.
    QCOMPARE(m.firstAndLastValue(QStringLiteral("FIO")),
             qMakePair(QVariant(QStringLiteral("БОРИС")), QVariant(QStringLiteral("ВЕРА"))));
    QCOMPARE(m.firstAndLastValue(QStringLiteral("Index")), qMakePair(QVariant(14001), QVariant(15000)));
    m.setFilter(QStringLiteral("ID=1"));
    QCOMPARE(m.firstAndLastValue(QStringLiteral("FIO")),
             qMakePair(QVariant(QStringLiteral("Аня")), QVariant(QStringLiteral("Яна"))));
}

void TestStoreTable::textOrderOfAwkwardTexts()
{
    // Letters of every width in UTF-8, texts that share their first bytes,
    // letters that fold to others, characters beyond the 16-bit range: the
    // sort order of texts is that of a case-insensitive comparison.
    DataTable &m = m_dm->measures();
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
        appendMeasure(m, {1, i, generatedTime(i), i, texts[i], 1.0});
    QList<QPair<QVariant, int>> rows;
    for (m.first(); !m.eof(); m.next())
        rows << qMakePair(m.fieldValue(QStringLiteral("Name")), m.asInteger(QStringLiteral("Index")));
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto &a, const auto &b) { return lessInOrder(a.first, a.second, b.first, b.second); });
    QStringList expected;
    for (const auto &r : rows)
        expected << r.first.toString();
    m.setIndexFieldNames(QStringLiteral("Name"));
    QStringList sorted;
    for (const QVariant &v : walk(m, QStringLiteral("Name")))
        sorted << v.toString();
    QCOMPARE(sorted, expected);
}

void TestStoreTable::transactionRollbackForgetsRows()
{
    DataTable &m = m_dm->measures();
    appendMeasure(m, {1, 1, generatedTime(1), 1, QStringLiteral("kept"), 1.0});
    {
        Transaction tx(*m_dm);
        appendMeasure(m, {1, 2, generatedTime(2), 1, QStringLiteral("gone"), 1.0});
        QCOMPARE(m.recordCount(), 2);
    }
    QCOMPARE(m.recordCount(), 1);
    QCOMPARE(m.asString(QStringLiteral("Name")), QStringLiteral("kept"));
    {
        // A row still being edited when the transaction is dropped is not
        // written afterwards either.
        Transaction tx(*m_dm);
        m.append();
        m.setFieldValue(QStringLiteral("Name"), QStringLiteral("pending"));
    }
    QCOMPARE(m.state(), TableState::Browse);
    QCOMPARE(m.recordCount(), 1);
    {
        Transaction tx(*m_dm);
        QVERIFY_THROWS_EXCEPTION(EGeneralError, m_dm->startTransaction());
        appendMeasure(m, {1, 3, generatedTime(3), 1, QStringLiteral("stored"), 1.0});
        tx.commit();
    }
    m_dm->dataModuleDestroy();
    m_dm = m_dir->start();
    QCOMPARE(m_dm->measures().recordCount(), 2);
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

    DataTable &m = m_dm->measures();
    appendMeasure(m, {1, 1, generatedTime(1), 1, QStringLiteral("first"), 1.0});
    appendMeasure(m, {1, 2, generatedTime(2), 1, QStringLiteral("second"), 2.0});
    const QString wal = m_dir->tablePath(QStringLiteral("Measures.DB")) + QStringLiteral("-wal");
    const qint64 before = QFileInfo(wal).size();
    QVERIFY(before > 0);
    // The flush is a commit of its own made with a full flush of the log.
    m_dm->flushReadings();
    QVERIFY(QFileInfo(wal).size() > before);
    QCOMPARE(synchronous(QStringLiteral("Measures")), 1);
    QCOMPARE(m.recordCount(), 2);

    // A stored reading's audit row commits as the reading does; the flush
    // takes the audit file too, and other changes wait for the disk again.
    ReadingStore(*m_dm).storeReading({generatedTime(3), 1, 3, 1, QStringLiteral("third"), 3.0});
    QCOMPARE(synchronous(QStringLiteral("Audit")), 2);
    const QString auditWal = m_dir->tablePath(QStringLiteral("Audit.db")) + QStringLiteral("-wal");
    const qint64 auditBefore = QFileInfo(auditWal).size();
    QVERIFY(auditBefore > 0);
    m_dm->flushReadings();
    QVERIFY(QFileInfo(auditWal).size() > auditBefore);
    QCOMPARE(m.recordCount(), 3);

    m_dm->dataModuleDestroy();
    m_dm = m_dir->start();
    QCOMPARE(m_dm->measures().recordCount(), 3);
}

void TestStoreTable::secondCursorOnCardsSeesChanges()
{
    QSignalSpy resets(&m_dm->cards(), &DataTable::dataSetReset);
    m_dm->cardsFind().append();
    m_dm->cardsFind().setFieldValue(QStringLiteral("FIO"), QStringLiteral("Сидоров"));
    m_dm->cardsFind().post();
    QCOMPARE(resets.count(), 1);
    QCOMPARE(m_dm->cards().recordCount(), 1);
    m_dm->cards().first();
    QCOMPARE(m_dm->cards().asString(QStringLiteral("FIO")), QStringLiteral("Сидоров"));
}

QTEST_GUILESS_MAIN(TestStoreTable)
void TestStoreTable::readingStoreAnswersWhateverTheViewsShow()
{
    ReadingStore store(*m_dm);
    const QDateTime t = generatedTime(5);
    QVERIFY(!store.readingStored(t, 7, 3));
    const int index = store.storeReading({t, 7, 3, 12, QStringLiteral("Метка"), 1.5});
    DataTable &m = m_dm->measures();
    QVERIFY(index > 0);
    QCOMPARE(m.fieldValue(QStringLiteral("Index")).toInt(), index);
    QCOMPARE(m.asBoolean(QStringLiteral("Check")), false);
    // A grid filter hiding the reading changes neither the check nor the count.
    m.setFilter(QStringLiteral("ID=99"));
    m.setFiltered(true);
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

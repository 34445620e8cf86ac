// The records view logic over a real Measures table: only-new, the quick
// filters and their combination, the labels built from the rows shown, the
// journal-name switch, title-click sorting, and the test rewind commands.

#include "ViewFixture.h"

#include "core/AppState.h"
#include "monitor/core/RecordsView.h"
#include "records/DataModule.h"

#include <QtTest>

namespace {

// An asker that answers with a fixed value and records the question.
struct Asker {
    QString answer;
    bool cancel = false;
    QStringList asked;
    std::function<void()> onAsk;
    RecordsView::AskFunction fn()
    {
        return [this](const QString &caption, const QString &prompt, QString &value) {
            asked << caption + QLatin1Char('|') + prompt + QLatin1Char('|') + value;
            if (onAsk)
                onAsk();
            if (cancel)
                return false;
            value = answer;
            return true;
        };
    }
};

enum { colDate = 0, colId = 1, colName = 2, colFio = 3, colDose = 4 };

} // namespace

class TestView : public QObject {
    Q_OBJECT
private slots:
    void onlyNewShowsRowsAboveTheBoundary();
    void minAndMaxCombineAndOneClearRemovesBoth();
    void textAndDateValuesAreQuoted();
    void refusedValueKeepsTheFilterInForce();
    void quickFilterSwitchesOnlyNewOffFirst();
    void labelsComeFromTheRowsShown();
    void emptyTableBuildsNoLabels();
    void namesSwitchSwapsTheColumns();
    void titleClickSortsAndAFailedSortRebuildsIndexes();
    void labelLayoutFillsTheGrid();
    void rewindMovesTheDevicePosition();
};

void TestView::onlyNewShowsRowsAboveTheBoundary()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(80);
    RecordsView view(&db.dm.measures());
    view.lastCheckedIndex = 57;
    QVERIFY(view.rebuildColumnLabels());

    view.extOnlyNewDown = true;
    view.onlyNewToggled();
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Index>57"));
    QVERIFY(db.dm.measures().filtered());
    QCOMPARE(db.dm.measures().recordCount(), 23);
    QCOMPARE(view.statusText, QStringLiteral("Только новые"));
    // The labels now describe the new rows only: record 58 is the earliest.
    QCOMPARE(view.minLabels[colDate].text, QStringLiteral("01.12.2026 08:57:00"));
    QCOMPARE(view.maxLabels[colDose].text, QStringLiteral("8"));

    view.extOnlyNewDown = false;
    view.onlyNewToggled();
    QVERIFY(!db.dm.measures().filtered());
    QCOMPARE(db.dm.measures().recordCount(), 80);
    QCOMPARE(view.statusText, QString());
    QCOMPARE(view.minLabels[colDate].text, QStringLiteral("01.12.2026 08:00:00"));
}

void TestView::minAndMaxCombineAndOneClearRemovesBoth()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(40);  // doses 0.1 .. 4.0
    RecordsView view(&db.dm.measures());
    QVERIFY(view.rebuildColumnLabels());
    const QString doseMin = view.minLabels[colDose].text;
    const QString doseMax = view.maxLabels[colDose].text;
    QCOMPARE(doseMin, QStringLiteral("0.1"));
    QCOMPARE(doseMax, QStringLiteral("4"));

    Asker ask;
    ask.answer = QStringLiteral("0.5");
    QVERIFY(view.setQuickMinFilter(colDose, ask.fn()));
    QCOMPARE(ask.asked.last(), QStringLiteral("Фильтр по значениям|Ввод значения для фильтра по минимальному значению:|0.1"));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Dose>=0.5"));
    QVERIFY(view.clearMinVisible);
    QVERIFY(!view.clearMaxVisible);

    ask.answer = QStringLiteral("2");
    QVERIFY(view.setQuickMaxFilter(colDose, ask.fn()));
    QCOMPARE(ask.asked.last(), QStringLiteral("Фильтр по значениям|Ввод значения для фильтра по максимальному значению:|4"));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("(Dose<=2) AND (Dose>=0.5)"));
    QCOMPARE(view.statusText, QStringLiteral("(Dose<=2) AND (Dose>=0.5)"));
    QCOMPARE(db.dm.measures().recordCount(), 16);  // 0.5 .. 2.0
    QVERIFY(view.minLabels[colDose].active);
    QVERIFY(view.maxLabels[colDose].active);
    QCOMPARE(view.minLabels[colDose].text, QStringLiteral("0.5"));
    QCOMPARE(view.maxLabels[colDose].text, QStringLiteral("2"));
    QVERIFY(view.clearMinVisible && view.clearMaxVisible);

    // A second minimum replaces the first and keeps the maximum.
    ask.answer = QStringLiteral("1");
    QVERIFY(view.setQuickMinFilter(colDose, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("(Dose>=1) AND (Dose<=2)"));
    QCOMPARE(view.minLabels[colDose].text, QStringLiteral("1"));

    view.clearQuickFilters();
    QVERIFY(!view.minLabels[colDose].active);
    QVERIFY(!view.maxLabels[colDose].active);
    QCOMPARE(view.minLabels[colDose].text, doseMin);
    QCOMPARE(view.maxLabels[colDose].text, doseMax);
    QCOMPARE(db.dm.measures().filter(), QString());
    QCOMPARE(db.dm.measures().recordCount(), 40);
    QVERIFY(!view.clearMinVisible && !view.clearMaxVisible);
    QVERIFY(view.minFilterExpr.isEmpty() && view.maxFilterExpr.isEmpty());
    QCOMPARE(view.statusText, QString());  // the condition no longer applies
}

void TestView::textAndDateValuesAreQuoted()
{
    ViewDb db;
    QVERIFY(db.open());
    db.add(1, QDateTime(QDate(2026, 12, 1), QTime(9, 0)), 5, QStringLiteral("A"), 1);
    db.add(2, QDateTime(QDate(2026, 12, 2), QTime(9, 0)), 6, QStringLiteral("O'Brien"), 2);
    db.add(3, QDateTime(QDate(2026, 12, 3), QTime(9, 0)), 7, QStringLiteral("Z"), 3);
    RecordsView view(&db.dm.measures());
    QVERIFY(view.rebuildColumnLabels());
    Asker ask;

    ask.answer = QStringLiteral("A");
    QVERIFY(view.setQuickMinFilter(colName, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Name>='A'"));

    // A quote in the value stays inside the text constant.
    ask.answer = QStringLiteral("O'Brien");
    QVERIFY(view.setQuickMaxFilter(colName, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("(Name<='O''Brien') AND (Name>='A')"));
    QCOMPARE(db.dm.measures().recordCount(), 2);

    view.clearQuickFilters();
    ask.answer = QStringLiteral("02.12.2026");
    QVERIFY(view.setQuickMinFilter(colDate, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("DateTime>='02.12.2026'"));
    QCOMPARE(db.dm.measures().recordCount(), 2);

    view.clearQuickFilters();
    ask.answer = QStringLiteral("6");
    QVERIFY(view.setQuickMinFilter(colId, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("ID>=6"));
}

void TestView::refusedValueKeepsTheFilterInForce()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(10);
    RecordsView view(&db.dm.measures());
    view.setPrompt(&db.prompt);
    QVERIFY(view.rebuildColumnLabels());
    Asker ask;
    ask.answer = QStringLiteral("0.5");
    QVERIFY(view.setQuickMinFilter(colDose, ask.fn()));
    const QString before = view.maxLabels[colDose].text;

    ask.answer = QStringLiteral("много");  // no number: the filter language refuses it
    QVERIFY(!view.setQuickMaxFilter(colDose, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Dose>=0.5"));
    QCOMPARE(db.dm.measures().recordCount(), 6);
    QVERIFY(!view.maxLabels[colDose].active);
    QCOMPARE(view.maxLabels[colDose].text, before);

    ask.cancel = true;  // Cancel changes nothing at all
    QVERIFY(!view.setQuickMaxFilter(colDose, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Dose>=0.5"));
    QVERIFY(view.minLabels[colDose].active);

    // A refused value leaves an active filter of the same kind, its label and
    // the clear buttons as they were, and the operator is told why.
    ask.cancel = false;
    ask.answer = QStringLiteral("3");
    QVERIFY(view.setQuickMaxFilter(colDose, ask.fn()));
    view.clearMaxVisible = false;  // so a wrongly shown button would be seen
    db.prompt.asked.clear();
    ask.answer = QStringLiteral("abc");
    QVERIFY(!view.setQuickMaxFilter(colDose, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("(Dose<=3) AND (Dose>=0.5)"));
    QCOMPARE(view.maxFilterExpr, QStringLiteral("Dose<=3"));
    QVERIFY(view.maxLabels[colDose].active);
    QCOMPARE(view.maxLabels[colDose].text, QStringLiteral("3"));
    QVERIFY(!view.clearMaxVisible);
    QCOMPARE(db.prompt.asked.size(), 1);
    QCOMPARE(db.prompt.asked.first().kind, MsgKind::Warning);
    QVERIFY(db.prompt.asked.first().text.contains(QStringLiteral("\"abc\"")));

    // A number column takes one number and nothing else, which would become
    // part of the condition; a decimal comma stands for the point.
    for (const char *typed : {"0 OR Dose<0", "1) OR (1=1", "1 2"}) {
        ask.answer = QString::fromUtf8(typed);
        QVERIFY2(!view.setQuickMinFilter(colDose, ask.fn()), typed);
        QCOMPARE(db.dm.measures().filter(), QStringLiteral("(Dose<=3) AND (Dose>=0.5)"));
        QVERIFY(db.prompt.asked.last().text.contains(QStringLiteral("нужно число")));
    }
    ask.answer = QStringLiteral(" 1,5 ");
    QVERIFY(view.setQuickMinFilter(colDose, ask.fn()));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("(Dose>=1.5) AND (Dose<=3)"));
}

void TestView::quickFilterSwitchesOnlyNewOffFirst()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(30);
    RecordsView view(&db.dm.measures());
    view.lastCheckedIndex = 20;
    view.extOnlyNewDown = true;
    view.onlyNewToggled();
    QCOMPARE(view.minLabels[colDate].text, QStringLiteral("01.12.2026 08:20:00"));

    Asker ask;
    ask.answer = QStringLiteral("1");
    bool modeOffWhenAsked = false;
    QString labelWhenAsked;
    ask.onAsk = [&] {
        modeOffWhenAsked = !view.extOnlyNewDown && !db.dm.measures().filtered();
        labelWhenAsked = view.minLabels[colDate].text;
    };
    QVERIFY(view.setQuickMinFilter(colDose, ask.fn()));
    QVERIFY(modeOffWhenAsked);
    // The labels were rebuilt from the whole table before the question.
    QCOMPARE(labelWhenAsked, QStringLiteral("01.12.2026 08:00:00"));
    QCOMPARE(ask.asked.last().section(QLatin1Char('|'), 2), QStringLiteral("0.1"));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Dose>=1"));
    QCOMPARE(db.dm.measures().recordCount(), 21);
    QCOMPARE(view.statusText, QStringLiteral("Dose>=1"));

    // And the other way round: switching only-new on clears the quick filters.
    view.extOnlyNewDown = true;
    view.onlyNewToggled();
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Index>20"));
    QVERIFY(!view.minLabels[colDose].active);
    QVERIFY(view.minFilterExpr.isEmpty());
}

void TestView::labelsComeFromTheRowsShown()
{
    ViewDb db;
    QVERIFY(db.open());
    const QDateTime t(QDate(2026, 12, 5), QTime(10, 15, 30));
    db.add(1, t, 300, QStringLiteral("бета"), 2.5, QDateTime::currentDateTime(), QStringLiteral("Петров"));
    db.add(2, t.addSecs(3600), 42, QStringLiteral("Альфа"), 0.25);
    db.add(3, t.addSecs(-3600), 1000, QStringLiteral("гамма"), 12);
    RecordsView view(&db.dm.measures());
    QVERIFY(view.rebuildColumnLabels());
    QCOMPARE(view.minLabels.size(), 5);
    QCOMPARE(view.minLabels[colDate].text, QStringLiteral("05.12.2026 09:15:30"));
    QCOMPARE(view.maxLabels[colDate].text, QStringLiteral("05.12.2026 11:15:30"));
    QCOMPARE(view.minLabels[colId].text, QStringLiteral("42"));  // numbers compare as numbers
    QCOMPARE(view.maxLabels[colId].text, QStringLiteral("1000"));
    QCOMPARE(view.minLabels[colName].text, QStringLiteral("Альфа"));
    QCOMPARE(view.maxLabels[colName].text, QStringLiteral("гамма"));
    QCOMPARE(view.minLabels[colDose].text, QStringLiteral("0.25"));
    QCOMPARE(view.maxLabels[colDose].text, QStringLiteral("12"));
    QVERIFY(!view.minLabels[colFio].visible);  // the hidden name column's labels are hidden
    // Only one row has a journal name; blanks sort first, so the minimum is empty.
    QCOMPARE(view.minLabels[colFio].text, QString());
    QCOMPARE(view.maxLabels[colFio].text, QStringLiteral("Петров"));

    // The current row and the sort order stay where they were.
    db.dm.measures().setIndexFieldNames(QStringLiteral("ID"));
    QVERIFY(db.dm.measures().locate(QStringLiteral("RecNumber"), 2));
    QVERIFY(view.rebuildColumnLabels());
    QCOMPARE(db.dm.measures().indexFieldNames(), QStringLiteral("ID"));
    QCOMPARE(db.dm.measures().asInteger(QStringLiteral("RecNumber")), 2);
}

void TestView::emptyTableBuildsNoLabels()
{
    ViewDb db;
    QVERIFY(db.open());
    RecordsView view(&db.dm.measures());
    QVERIFY(!view.rebuildColumnLabels());
    QVERIFY(!view.labelsBuilt);
    QCOMPARE(view.minLabels.size(), 1);
    QCOMPARE(view.maxLabels.size(), 1);
    // The layout of the labels of an empty table changes nothing and raises nothing.
    QList<RecordsColumn> columns = view.columns;
    layoutColumnLabels(columns, 600);
    view.clearQuickFilters();
    QCOMPARE(view.minLabels.size(), 1);
}

void TestView::namesSwitchSwapsTheColumns()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(3);
    RecordsView view(&db.dm.measures());
    QList<bool> asked;
    view.askNameSync = [&](bool down) { asked << down; };
    view.columns[colName].width = 250;

    view.extNotesDown = true;
    view.notesToggled();
    QCOMPARE(asked, QList<bool>{true});
    QVERIFY(view.columns[colFio].visible);
    QVERIFY(!view.columns[colName].visible);
    QCOMPARE(view.columns[colFio].width, 250);
    QVERIFY(view.minLabels[colFio].visible);
    QVERIFY(!view.minLabels[colName].visible);

    view.columns[colFio].width = 200;
    view.extNotesDown = false;
    view.notesToggled();
    QCOMPARE(asked, (QList<bool>{true, false}));
    QVERIFY(!view.columns[colFio].visible);
    QVERIFY(view.columns[colName].visible);
    QCOMPARE(view.columns[colName].width, 200);
}

void TestView::titleClickSortsAndAFailedSortRebuildsIndexes()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(5);
    RecordsView view(&db.dm.measures());
    QCOMPARE(view.sortFieldIndex, int(MeasuresField::DateTime));
    int rebuilds = 0;
    view.rebuildIndexes = [&] {
        ++rebuilds;
        db.dm.rebuildIndexes(db.dm.measures());
    };

    view.sortByTitle(int(MeasuresField::Dose));
    QCOMPARE(view.sortFieldIndex, int(MeasuresField::Dose));
    QCOMPARE(db.dm.measures().indexFieldNames(), QStringLiteral("Dose"));
    QCOMPARE(rebuilds, 0);

    view.sortByTitle(42);  // no such field: the sort fails
    QCOMPARE(view.sortFieldIndex, 42);
    QCOMPARE(db.dm.measures().indexFieldNames(), QString());  // natural order
    QCOMPARE(rebuilds, 1);
    QVERIFY(db.dm.measures().active());
    QCOMPARE(db.dm.measures().recordCount(), 5);
}

void TestView::labelLayoutFillsTheGrid()
{
    QList<RecordsColumn> columns = defaultRecordsColumns();
    columns[0].width = 130;  // 130, 92, 291, (hidden), 111
    columns[2].width = 291;
    const QList<LabelPlace> places = layoutColumnLabels(columns, 800, 14, 1);
    QCOMPARE(places.size(), 5);
    QCOMPARE(places[0].x, 14);
    QCOMPARE(places[1].x, 14 + 131);
    QCOMPARE(places[2].x, 14 + 131 + 93);
    QVERIFY(!places[3].placed);
    QCOMPARE(places[4].x, 14 + 131 + 93 + 292);
    // The last visible column takes up the rest: 800 - (14 + 131 + 93 + 292 + 1).
    QCOMPARE(columns[4].width, 269);
    QCOMPARE(places[4].width, 269);
    // A grid narrower than the columns leaves them as they are.
    QList<RecordsColumn> wide = defaultRecordsColumns();
    layoutColumnLabels(wide, 300, 14, 1);
    QCOMPARE(wide[4].width, 111);
}

void TestView::rewindMovesTheDevicePosition()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(12);
    DataTable &dev = db.dm.devices();
    dev.append();
    dev.setFieldValue(QStringLiteral("TarnAddress"), 0x010203);
    dev.setFieldValue(QStringLiteral("LastRecNumber"), 12);
    dev.setFieldValue(QStringLiteral("LastRecTime"), QDateTime(QDate(2026, 12, 1), QTime(8, 11)));
    dev.post();

    int number = 12;
    QDateTime time;
    QCOMPARE(rewindReaderPosition(dev, db.dm.measures(), 10, number, time), QString());
    QCOMPARE(number, 2);
    QCOMPARE(time, QDateTime(QDate(2026, 12, 1), QTime(8, 1)));
    QCOMPARE(dev.asInteger(QStringLiteral("LastRecNumber")), 2);
    QCOMPARE(dev.asDateTime(QStringLiteral("LastRecTime")), time);

    // Nothing 10 records before 2: the message names the number, nothing moves.
    QCOMPARE(rewindReaderPosition(dev, db.dm.measures(), 10, number, time),
             QStringLiteral("Не удалось найти запись -8"));
    QCOMPARE(number, 2);
    QCOMPARE(dev.asInteger(QStringLiteral("LastRecNumber")), 2);
}

QTEST_GUILESS_MAIN(TestView)
#include "tst_view.moc"

// The records grid of the main window over a real Measures table: its
// column labels and quick filters, the display modes, sorting and panels,
// the stored-filter switch, and the operator's row as readings come in.

#include "UiFixture.h"
#include "ViewFixture.h"

#include "core/AppState.h"
#include "monitor/core/RecordsView.h"
#include "monitor/ui/ClickLabel.h"
#include "monitor/ui/RecordsGrid.h"
#include "records/DataTableModel.h"
#include "records/ui/FilterList.h"

#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QToolButton>
#include <QtTest>

class TestUiGrid : public QObject {
    Q_OBJECT
private slots:
    void init() { appState().reset(); }
    void cleanup() { appState().reset(); }

    void gridLabelsAndQuickFilters();
    void modesSortingAndPanels();
    void storedFilterSwitch();
    void emptyTableAtFirstActivation();
    void labelsFollowStoredReadings();
    void gridKeepsTheOperatorsRow();
    void labelsKeepClearOfCaptionsAndButtons();
};

void TestUiGrid::gridLabelsAndQuickFilters()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(40);
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.activateFirstTime();
    QVERIFY(!rig.engine.snapshot().faceNotReady);
    QCOMPARE(f.minLabels().size(), 5);
    QCOMPARE(f.maxLabels().size(), 5);
    QCOMPARE(f.recordsGrid()->model()->rowCount(), 40);
    QCOMPARE(f.minLabels()[4]->text(), QStringLiteral("0.1"));
    QCOMPARE(f.maxLabels()[4]->text(), QStringLiteral("4"));
    QVERIFY(f.minLabels()[3]->isHidden());  // the journal-name column is hidden at start

    // Titles and display formats of the grid.
    QAbstractItemModel *m = f.recordsGrid()->model();
    QStringList titles;
    for (int c = 0; c < m->columnCount(); ++c)
        titles << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(titles, (QStringList{"Дата", "№", "Идентификатор", "ФИО (по журналу)", "Доза, мкЗв"}));
    QCOMPARE(m->index(0, 0).data().toString(), QStringLiteral("01.12.26 08:00"));
    QCOMPARE(m->index(0, 4).data().toString(), QStringLiteral("0.100"));
    QCOMPARE(f.recordsGrid()->horizontalHeader()->sectionSize(1), 92);
    QVERIFY(f.recordsGrid()->isColumnHidden(3));
    // Alignments of cells, titles and labels; the journal name in the caption colour.
    const int left = int(Qt::AlignLeft | Qt::AlignVCenter);
    QCOMPARE(m->index(0, 0).data(Qt::TextAlignmentRole).toInt(), left);
    QCOMPARE(m->index(0, 1).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
    QCOMPARE(m->index(0, 4).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(m->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt(), left);
    QCOMPARE(m->headerData(4, Qt::Horizontal, Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
    QCOMPARE(f.minLabels()[1]->alignment(), Qt::AlignCenter);
    QCOMPARE(f.maxLabels()[4]->alignment(), Qt::AlignRight | Qt::AlignVCenter);
    QVERIFY(m->index(0, 3).data(Qt::ForegroundRole).value<QColor>().isValid());
    QVERIFY(!m->index(0, 2).data(Qt::ForegroundRole).isValid());

    // A click on the minimum label of Dose asks for the value and filters.
    ScriptedPrompt prompt;
    prompt.inputs = {QStringLiteral("0.5"), QStringLiteral("2")};
    QTest::mouseClick(f.minLabels()[4], Qt::LeftButton);
    QCOMPARE(prompt.inputCaptions.last(),
             QStringLiteral("Фильтр по значениям|Ввод значения для фильтра по минимальному значению:|0.1"));
    QTest::mouseClick(f.maxLabels()[4], Qt::LeftButton);
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("(Dose<=2) AND (Dose>=0.5)"));
    QTRY_COMPARE(f.recordsGrid()->model()->rowCount(), 16);
    QCOMPARE(f.minLabels()[4]->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0xFF));
    QCOMPARE(f.maxLabels()[4]->palette().color(QPalette::WindowText), QColor(0xFF, 0x00, 0xFF));
    QCOMPARE(f.minLabels()[4]->text(), QStringLiteral("0.5"));
    QVERIFY(control<QPushButton>(f, "BtnClearFilterMin")->isVisible() && control<QPushButton>(f, "BtnClearFilterMax")->isVisible());
    QCOMPARE(control<QLabel>(f, "StatusPanel1")->text(), QStringLiteral("(Dose<=2) AND (Dose>=0.5)"));

    // One "Очистка" removes both.
    control<QPushButton>(f, "BtnClearFilterMax")->click();
    QTRY_COMPARE(f.recordsGrid()->model()->rowCount(), 40);
    QCOMPARE(f.minLabels()[4]->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0x4F));
    QCOMPARE(f.maxLabels()[4]->palette().color(QPalette::WindowText), QColor(0x00, 0x00, 0x4F));
    QCOMPARE(f.minLabels()[4]->text(), QStringLiteral("0.1"));
    QCOMPARE(f.maxLabels()[4]->text(), QStringLiteral("4"));
    QVERIFY(control<QPushButton>(f, "BtnClearFilterMin")->isHidden() && control<QPushButton>(f, "BtnClearFilterMax")->isHidden());

    // The label caption "фильтр max:" clears as well.
    prompt.inputs = {QStringLiteral("A")};
    QTest::mouseClick(f.minLabels()[2], Qt::LeftButton);
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Name>='A'"));
    QTest::mouseClick(control<ClickLabel>(f, "PanelLabelMax"), Qt::LeftButton);
    QCOMPARE(db.dm.measures().filter(), QString());

    // The labels sit over their columns.
    const int gridX = f.recordsGrid()->mapTo(&f, QPoint(0, 0)).x() - control<QWidget>(f, "PanelMin")->mapTo(&f, QPoint(0, 0)).x();
    QHeaderView *h = f.recordsGrid()->horizontalHeader();
    for (int i : {0, 1, 2, 4}) {
        QCOMPARE(f.minLabels()[i]->width(), h->sectionSize(i));
        QVERIFY(qAbs(f.minLabels()[i]->x() - (gridX + f.recordsGrid()->frameWidth() + f.recordsGrid()->verticalHeader()->width()
                                            + h->sectionViewportPosition(i))) <= 1);
    }
}

void TestUiGrid::modesSortingAndPanels()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(30);
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.activateFirstTime();
    f.view().lastCheckedIndex = 25;
    // The rows are in key order: no title claims a sorted column.
    QVERIFY(!f.recordsGrid()->horizontalHeader()->isSortIndicatorShown());

    // Only-new through its menu command.
    control<QAction>(f, "actOnlyNew")->trigger();
    QVERIFY(control<QToolButton>(f, "ExtOnlyNew")->isChecked());
    QVERIFY(control<QAction>(f, "actOnlyNew")->isChecked());
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Index>25"));
    QTRY_COMPARE(f.recordsGrid()->model()->rowCount(), 5);
    QCOMPARE(control<QLabel>(f, "StatusPanel1")->text(), QStringLiteral("Только новые"));
    QCOMPARE(control<QToolButton>(f, "ExtOnlyNew")->styleSheet().contains(QStringLiteral("#A6CAF0")), true);

    // A quick filter switches only-new off first, and the window shows it
    // before the question.
    ScriptedPrompt prompt;
    prompt.inputs = {QStringLiteral("2")};
    bool downWhenAsked = true;
    QString panelWhenAsked = QStringLiteral("?");
    prompt.whileAsking = [&] {
        downWhenAsked = control<QToolButton>(f, "ExtOnlyNew")->isChecked() || control<QAction>(f, "actOnlyNew")->isChecked();
        panelWhenAsked = control<QLabel>(f, "StatusPanel1")->text();
    };
    QTest::mouseClick(f.minLabels()[4], Qt::LeftButton);
    prompt.whileAsking = nullptr;
    QVERIFY(!downWhenAsked);
    QCOMPARE(panelWhenAsked, QString());
    QVERIFY(!control<QToolButton>(f, "ExtOnlyNew")->isChecked());
    QVERIFY(!control<QAction>(f, "actOnlyNew")->isChecked());
    QCOMPARE(prompt.inputCaptions.last().section(QLatin1Char('|'), 2), QStringLiteral("0.1"));
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Dose>=2"));
    f.clearQuickFilters();

    // The names mode shows the journal column in place of the dosimeter name.
    rig.engine.setNamesOutOfStep(true);
    prompt.answers = {PromptButton::Cancel};
    control<QToolButton>(f, "ExtNotes")->click();
    QVERIFY(control<QAction>(f, "actExtNotes")->isChecked());
    QVERIFY(!f.recordsGrid()->isColumnHidden(3));
    QVERIFY(f.recordsGrid()->isColumnHidden(2));
    QCOMPARE(f.recordsGrid()->horizontalHeader()->sectionSize(3), f.view().columns[3].width);
    QVERIFY(f.view().columns[3].width >= 271);
    QCOMPARE(prompt.asked.last().text, QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"));
    QVERIFY(rig.engine.snapshot().namesOutOfStep);  // Cancel leaves the flag
    control<QAction>(f, "actExtNotes")->trigger();
    QVERIFY(f.recordsGrid()->isColumnHidden(3));
    QVERIFY(!f.recordsGrid()->isColumnHidden(2));

    // A title click sorts by that column and marks it.
    QHeaderView *h = f.recordsGrid()->horizontalHeader();
    const int doseColumn = f.recordsGrid()->columnOfField(QStringLiteral("Dose"));
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(doseColumn) + 10, h->height() / 2));
    QCOMPARE(f.view().sortFieldIndex, int(MeasuresField::Dose));
    QCOMPARE(db.dm.measures().indexFieldNames(), QStringLiteral("Dose"));
    QCOMPARE(h->sortIndicatorSection(), doseColumn);
    QCOMPARE(h->sortIndicatorOrder(), Qt::DescendingOrder);
    // Cells of the sorted column are painted A0 FF FF (outside the selected row).
    f.recordsGrid()->clearSelection();
    const QRect cell = f.recordsGrid()->visualRect(f.recordsGrid()->model()->index(3, doseColumn));
    const QImage shot = f.recordsGrid()->viewport()->grab().toImage();
    QCOMPARE(shot.pixelColor(cell.left() + 3, cell.center().y()), QColor(0xA0, 0xFF, 0xFF));
    QVERIFY(f.recordsGrid()->columnHasSortBase(QStringLiteral("Dose")));
    // An order set elsewhere (the name synchronisation sorts by date) moves the marker.
    db.dm.measures().setIndexFieldNames(QStringLiteral("DateTime"));
    QVERIFY(h->isSortIndicatorShown());
    QCOMPARE(h->sortIndicatorSection(), f.recordsGrid()->columnOfField(QStringLiteral("DateTime")));

    // The panels collapse to one pixel and come back at 62.
    control<QAction>(f, "nViewPanelModes")->trigger();
    QCOMPARE(control<QSplitter>(f, "SplitterModes")->sizes().at(0), 1);
    QVERIFY(!control<QAction>(f, "nViewPanelModes")->isChecked());
    control<QAction>(f, "nViewPanelModes")->trigger();
    QCOMPARE(control<QSplitter>(f, "SplitterModes")->sizes().at(0), MainWindow::PanelWidth);
    control<QAction>(f, "nViewPanelCommands")->trigger();
    QCOMPARE(control<QSplitter>(f, "SplitterModes")->sizes().at(2), 1);
    control<QAction>(f, "nViewPanelCommands")->trigger();
    QCOMPARE(control<QSplitter>(f, "SplitterModes")->sizes().at(2), MainWindow::PanelWidth);
}

void TestUiGrid::storedFilterSwitch()
{
    // The switch opens the filter list; the chosen filter shows in the
    // grid, the status bar, the button and the menu item; switching it off
    // shows every row; a cancelled list leaves the switch up.
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(30);
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.activateFirstTime();
    ScriptedPrompt prompt;
    prompt.dialogs[QStringLiteral("TMeasureFiltr")] = [](QObject *o) {
        auto *list = qobject_cast<FilterList *>(o);
        list->setEntries({QStringLiteral("Доза от 2=Доза, мкЗв>=2")});
        list->selectRow(0);
        return int(QDialog::Accepted);
    };
    control<QToolButton>(f, "ExtFiltr")->click();
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Dose>=2"));
    QTRY_COMPARE(f.recordsGrid()->model()->rowCount(), 11);
    QVERIFY(control<QToolButton>(f, "ExtFiltr")->isChecked() && control<QAction>(f, "actSetFilter")->isChecked());
    QVERIFY(control<QToolButton>(f, "ExtFiltr")->styleSheet().contains(QStringLiteral("#A6CAF0")));
    QCOMPARE(control<QLabel>(f, "StatusPanel1")->text(), QStringLiteral("Доза от 2"));
    QVERIFY(prompt.asked.isEmpty());

    control<QAction>(f, "actSetFilter")->trigger();
    QVERIFY(!control<QToolButton>(f, "ExtFiltr")->isChecked() && !control<QAction>(f, "actSetFilter")->isChecked());
    QTRY_COMPARE(f.recordsGrid()->model()->rowCount(), 30);
    QCOMPARE(control<QLabel>(f, "StatusPanel1")->text(), QString());

    prompt.dialogs.clear();
    control<QToolButton>(f, "ExtFiltr")->click();
    QVERIFY(!control<QToolButton>(f, "ExtFiltr")->isChecked() && !control<QAction>(f, "actSetFilter")->isChecked());
    QCOMPARE(prompt.dialogsShown, QStringList({QStringLiteral("TMeasureFiltr"), QStringLiteral("TMeasureFiltr")}));
    QVERIFY(prompt.asked.isEmpty());
    QVERIFY(!db.dm.measures().filtered());
}

void TestUiGrid::emptyTableAtFirstActivation()
{
    ViewDb db;
    QVERIFY(db.open());
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.activateFirstTime();
    QVERIFY(!rig.engine.snapshot().faceNotReady);
    QVERIFY(f.minLabels().isEmpty());
    f.resize(900, 600);
    f.resize(640, 480);
    QVERIFY(f.minLabels().isEmpty());
    QTRY_COMPARE(f.width(), 640);  // the status panels never hold the window wide
    QCOMPARE(control<QLabel>(f, "StatusPanel1")->width(), f.width() - 100);
}

void TestUiGrid::labelsFollowStoredReadings()
{
    ViewDb db;
    QVERIFY(db.open());
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.activateFirstTime();
    QVERIFY(f.minLabels().isEmpty());  // a first start: nothing to show yet

    // A pass stores readings: the labels are built when it ends.
    const QDateTime t(QDate(2026, 12, 1), QTime(8, 0));
    db.add(1, t, 7, QStringLiteral("a"), 1.5);
    rig.engine.setLastStoredIndex(db.add(2, t.addSecs(60), 8, QStringLiteral("b"), 2.5));
    rig.engine.setState(SyncState::Exchanging);
    f.updateStateIndicator();
    QVERIFY(f.minLabels().isEmpty());  // not in the middle of the pass
    rig.engine.setState(SyncState::Online);
    f.updateStateIndicator();
    QCOMPARE(f.minLabels().size(), 5);
    QCOMPARE(f.maxLabels()[4]->text(), QStringLiteral("2.5"));

    // A quick filter stays in force while later readings refresh the other labels.
    ScriptedPrompt prompt;
    prompt.inputs = {QStringLiteral("2")};
    QTest::mouseClick(f.minLabels()[4], Qt::LeftButton);
    rig.engine.setLastStoredIndex(db.add(3, t.addSecs(120), 9, QStringLiteral("c"), 7.25));
    f.updateStateIndicator();
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Dose>=2"));
    QCOMPARE(f.minLabels()[4]->text(), QStringLiteral("2"));
    QCOMPARE(f.maxLabels()[4]->text(), QStringLiteral("7.25"));
    QCOMPARE(f.maxLabels()[1]->text(), QStringLiteral("9"));
}

void TestUiGrid::gridKeepsTheOperatorsRow()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(40);
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.activateFirstTime();
    RecordsGrid *g = f.recordsGrid();
    const QDateTime later(QDate(2026, 12, 2), QTime(9, 0));

    // The operator looks at row 5: a new reading does not take the row away.
    g->setCurrentIndex(g->model()->index(5, 0));
    const QVariant key = g->tableModel()->keyOfRow(5);
    db.add(41, later, 1, QStringLiteral("новый"), 1);
    QTRY_COMPARE(g->model()->rowCount(), 41);
    QTest::qWait(50);
    QCOMPARE(g->currentIndex().row(), 5);
    QCOMPARE(db.dm.measures().getBookmark(), key);

    // On the last row the grid follows the new readings.
    g->setCurrentIndex(g->model()->index(40, 0));
    db.add(42, later.addSecs(60), 2, QStringLiteral("ещё"), 2);
    QTRY_COMPARE(g->currentIndex().row(), 41);
}

void TestUiGrid::labelsKeepClearOfCaptionsAndButtons()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(3);  // few rows: no vertical scroll bar beside the dose column
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.resize(f.minimumSize());
    QTRY_COMPARE(f.size(), f.minimumSize());
    f.activateFirstTime();
    RecordsGrid *g = f.recordsGrid();
    QHeaderView *h = g->horizontalHeader();
    const int dose = g->columnOfField(QStringLiteral("Dose"));

    auto overlaps = [&](const QString &when) {
        QStringList found;
        for (const QList<ClickLabel *> &row : {f.minLabels(), f.maxLabels()}) {
            for (ClickLabel *l : row) {
                if (l->isHidden())
                    continue;
                QWidget *panel = l->parentWidget();
                QWidget *caption = panel == control<QWidget>(f, "PanelMin") ? static_cast<QWidget *>(control<ClickLabel>(f, "PanelLabelMin")) : control<ClickLabel>(f, "PanelLabelMax");
                QPushButton *clear = panel == control<QWidget>(f, "PanelMin") ? control<QPushButton>(f, "BtnClearFilterMin") : control<QPushButton>(f, "BtnClearFilterMax");
                if (l->geometry().intersects(caption->geometry()))
                    found << when + QStringLiteral(": ") + l->objectName() + QStringLiteral(" over the caption");
                if (!clear->isHidden() && l->geometry().intersects(clear->geometry()))
                    found << when + QStringLiteral(": ") + l->objectName() + QStringLiteral(" under the clear button");
            }
        }
        return found;
    };

    // At the minimum size the dose column is on screen.
    QTRY_VERIFY(h->sectionViewportPosition(dose) + h->sectionSize(dose) <= g->viewport()->width());
    QVERIFY(h->sectionViewportPosition(dose) >= 0);
    QCOMPARE(overlaps(QStringLiteral("minimum size")), QStringList());

    // "Очистка" shown, the mode panel hidden, the grid scrolled sideways.
    ScriptedPrompt prompt;
    prompt.inputs = {QStringLiteral("0.1"), QStringLiteral("0.3")};
    QTest::mouseClick(f.minLabels()[4], Qt::LeftButton);
    QTest::mouseClick(f.maxLabels()[4], Qt::LeftButton);
    QVERIFY(!control<QPushButton>(f, "BtnClearFilterMin")->isHidden());
    QCOMPARE(overlaps(QStringLiteral("clear buttons")), QStringList());
    QVERIFY(f.maxLabels()[4]->isVisible());
    control<QAction>(f, "nViewPanelModes")->trigger();
    QCOMPARE(overlaps(QStringLiteral("mode panel hidden")), QStringList());
    h->resizeSection(g->columnOfField(QStringLiteral("DateTime")), 400);
    QTRY_VERIFY(g->horizontalScrollBar()->maximum() > 0);
    g->horizontalScrollBar()->setValue(g->horizontalScrollBar()->maximum());
    QCOMPARE(overlaps(QStringLiteral("scrolled")), QStringList());
}

QTEST_MAIN(TestUiGrid)
#include "tst_ui_grid.moc"

// The dose control windows of the main window: a refused level through the
// settings window, the alert mark of the top strip following new alerts and
// acknowledgements.

#include "UiFixture.h"
#include "ViewFixture.h"

#include "core/AppState.h"
#include "monitor/ui/ClickLabel.h"
#include "records/DoseAlerts.h"
#include "records/ReadingStore.h"
#include "records/ui/DataChecksWindow.h"
#include "records/ui/DoseAlertList.h"
#include "records/ui/DoseLevelsWindow.h"

#include <QAction>
#include <QDialog>
#include <QLineEdit>
#include <QTableWidget>
#include <QtTest>

namespace {

// RUVO_DOSE_SHOTS=<folder>: the windows as the tests leave them, for the documentation.
void shoot(QWidget &w, const char *file)
{
    const QString folder = qEnvironmentVariable("RUVO_DOSE_SHOTS");
    if (folder.isEmpty())
        return;
    w.show();
    QTest::qWait(200);
    w.grab().save(folder + QLatin1Char('/') + QLatin1String(file));
}

} // namespace

class TestUiDose : public QObject {
    Q_OBJECT
private slots:
    void init() { appState().reset(); }
    void cleanup() { appState().reset(); }

    void refusedLevelChangesNothingAndSaysWhy();
    void alertMarkFollowsAlertsAndAcknowledgement();
};

void TestUiDose::refusedLevelChangesNothingAndSaysWhy()
{
    ViewDb db;
    QVERIFY(db.open());
    DoseLevelsWindow w(db.prompt, db.dm);
    const int yearRow = DoseLevelsWindow::Periods.indexOf(DosePeriod::Year);
    const int limitColumn = DoseLevelsWindow::columnOf(LevelKind::Limit);
    const qsizetype before = db.prompt.asked.size();
    // Typed in the cell: a year limit for everyone under the 6 000
    // investigation level, then no number at all.
    w.table()->item(yearRow, limitColumn)->setText(QStringLiteral("5 000"));
    QTRY_COMPARE(db.prompt.asked.size(), before + 1);
    const ScriptedPrompt::Asked refused = db.prompt.asked.last();
    QCOMPARE(refused.kind, MsgKind::Warning);
    QVERIFY2(refused.text.contains(QStringLiteral("ниже предела")), qPrintable(refused.text));
    QVERIFY(!w.enter(DosePeriod::Year, LevelKind::Limit, QStringLiteral("пять")));
    QCOMPARE(db.prompt.asked.last().text, QStringLiteral("Уровень должен быть положительным числом"));
    QCOMPARE(DoseLevels(db.dm).stored().size(), 0);
    QCOMPARE(w.table()->item(yearRow, limitColumn)->text(), QString());

    // An accepted value is stored and shown, with where the level comes from.
    QVERIFY(w.enter(DosePeriod::Year, LevelKind::Limit, QStringLiteral("40000")));
    QCOMPARE(DoseLevels(db.dm).stored().size(), 1);
    QCOMPARE(w.table()->item(yearRow, limitColumn)->text(), QStringLiteral("40000"));
    QVERIFY(w.table()->item(yearRow, 3)->text().contains(QStringLiteral("предел 40000 (для всех)")));
    QCOMPARE(db.prompt.asked.size(), before + 2);
    shoot(w, "dose-levels.png");
}

void TestUiDose::alertMarkFollowsAlertsAndAcknowledgement()
{
    ViewDb db;
    QVERIFY(db.open());
    setDataModule(&db.dm);
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    auto *mark = control<ClickLabel>(f, "LabelDoseAlerts");
    QVERIFY(mark->isHidden());

    DataTable &n = db.dm.notes();
    n.append();
    n.setFieldValue(fieldName(NotesField::ID), 5);
    n.setFieldValue(fieldName(NotesField::FIO), QStringLiteral("Иванов"));
    n.setFieldValue(fieldName(NotesField::TimeFrom), QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
    n.post();
    // One reading over the 1 000 µSv of a single reading.
    ReadingStore(db.dm).storeReading({QDateTime(QDate(2026, 3, 2), QTime(10, 0)), 1, 1, 5, QStringLiteral("Д"), 1500});
    QTRY_COMPARE(f.alertCount(), qint64(1));
    QVERIFY(mark->isVisible());
    QVERIFY(mark->text().contains(QLatin1Char('1')));
    shoot(f, "dose-alert-mark.png");

    // A click opens the list; the operator acknowledges with name and comment.
    QString state;
    db.prompt.dialogs[QStringLiteral("TDoseAlertAck")] = [](QObject *d) {
        d->findChild<QLineEdit *>(QStringLiteral("EditOperator"))->setText(QStringLiteral("Петров"));
        d->findChild<QLineEdit *>(QStringLiteral("EditComment"))->setText(QStringLiteral("Проверено"));
        return int(QDialog::Accepted);
    };
    db.prompt.dialogs[QStringLiteral("TDoseAlerts")] = [&](QObject *d) {
        auto *list = static_cast<DoseAlertList *>(d);
        list->table()->setCurrentCell(0, 0);
        if (!qEnvironmentVariableIsEmpty("RUVO_DOSE_SHOTS")) {
            DataChecksWindow checks(db.prompt, db.dm, QDateTime(QDate(2026, 12, 9), QTime(12, 0)));
            checks.setPeriod(QDate(2026, 1, 1), QDate(2026, 12, 9));
            checks.showTab(DataChecksWindow::Unacknowledged);
            shoot(checks, "data-checks.png");
        }
        list->acknowledgeCurrent();
        state = list->table()->item(0, 7)->text();
        shoot(*list, "dose-alerts.png");
        return 0;
    };
    QTest::mouseClick(mark, Qt::LeftButton);
    QCOMPARE(db.prompt.dialogsShown.count(QStringLiteral("TDoseAlertAck")), 1);
    QVERIFY2(state.startsWith(QStringLiteral("квитировано: Петров")), qPrintable(state));
    QCOMPARE(f.alertCount(), qint64(0));
    QVERIFY(mark->isHidden());
    // The alert stays, acknowledged.
    const QList<DoseAlert> all = DoseAlerts(db.dm).alerts();
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.first().ackComment, QStringLiteral("Проверено"));

    // The menu item opens the same list.
    control<QAction>(f, "actDoseAlerts")->trigger();
    QCOMPARE(db.prompt.dialogsShown.count(QStringLiteral("TDoseAlerts")), 2);
    f.close();
    setDataModule(nullptr);
}

QTEST_MAIN(TestUiDose)
#include "tst_ui_dose.moc"

// The main window's commands: menus, captions, shortcuts and tooltips, and
// the windows and service flows its buttons and menu items open.

#include "UiFixture.h"
#include "ReaderLinkSetup.h"
#include "ViewFixture.h"

#include "core/AppState.h"
#include "link/LinkSettingsBinding.h"
#include "monitor/ui/ClickLabel.h"
#include "records/DataModule.h"
#include "records/Journal.h"
#include "records/ui/Cards.h"
#include "records/ui/DetailMeasureRecord.h"
#include "records/ui/NoteBook.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

class TestUiCommands : public QObject {
    Q_OBJECT
private slots:
    void init() { appState().reset(); }
    void cleanup() { appState().reset(); }

    void windowHasEveryCommand();
    void serviceCommandsOpenTheirWindows();
    void cardsAndDetailOpenTheirWindows();
    void journalOpensTheJournal();
    void serviceFlowsLeaveTheWindowAsTheyFoundIt();
    void commandsFollowTheStoreRights();
};

void TestUiCommands::windowHasEveryCommand()
{
    FaceRig rig;
    MainWindow &f = rig.face;
    QCOMPARE(f.windowTitle(), QStringLiteral("RUVO - Монитор"));
    QCOMPARE(f.minimumSize(), QSize(586, 406));

    QStringList menus;
    for (QAction *a : f.menuBar()->actions())
        menus << a->text();
    QCOMPARE(menus, (QStringList{"&Файл", "&Сервис", "&Вид", "&Помощь"}));

    struct Item { const char *name; const char *caption; const char *key; };
    const Item items[] = {
        {"actExportCsv", "&Экспорт в CSV...", "Ctrl+E"},
        {"actBackup", "&Резервная копия...", ""},
        {"N4", "В&ыход", "Ctrl+X"},
        {"N5", "Настройка свя&зи", "Ctrl+O"},
        {"actGetFullArchive", "Считать весь архив ТРЕМ-01", ""},
        {"actSyncFIO", "&Синхронизировать ФИО по дозиметрам с записями в журнале", "Ctrl+H"},
        {"NStopSynchro", "Приостановить синхронизацию", "Ctrl+P"},
        {"actShowSpectrum", "Считать и показать спектр АЦП", ""},
        {"NNotes", "Журнал", ""},
        {"NCards", "Картотека", ""},
        {"actAnnualSummary", "Годовая сводка доз...", ""},
        {"NDosimetr", "Дозиметр", ""},
        {"NMetrology", "Метрология", ""},
        {"actDoseLevels", "Контрольные уровни...", ""},
        {"actDoseAlerts", "Оповещения о дозах...", ""},
        {"actDataChecks", "Контроль данных...", ""},
        {"N21", "Эмулировать введение дозиметра", ""},
        {"N101", "Эмулировать подключение считывателя с 10 записями", ""},
        {"nViewPanelModes", "Отображать панель &режимов", ""},
        {"nViewPanelCommands", "Отображать панель &действий", ""},
        {"actSetFilter", "Установить / Снять  &фильтр", "Ctrl+S"},
        {"actOnlyNew", "Включить / выключить режим отображения только новых", "Ctrl+N"},
        {"actExtNotes", "Отобразить / скрыть поля из записей в журнале", "Ctrl+J"},
        {"actDetailRecord", "Отобразить детальную информацию по выбранной записи", "Ctrl+I"},
        {"N3", "&О программе", ""},
    };
    for (const Item &it : items) {
        QAction *a = f.findChild<QAction *>(QString::fromLatin1(it.name));
        QVERIFY2(a, it.name);
        QCOMPARE(a->text(), QString::fromUtf8(it.caption));
        QCOMPARE(a->shortcut(), QKeySequence(QString::fromLatin1(it.key)));
    }
    // The test submenu exists but is hidden.
    QVERIFY(control<QMenu>(f, "NTest")->menuAction() && !control<QMenu>(f, "NTest")->menuAction()->isVisible());
    QVERIFY(control<QAction>(f, "nViewPanelModes")->isChecked() && control<QAction>(f, "nViewPanelCommands")->isChecked());
    // Service commands start disabled; the stored-filter switch is there.
    QVERIFY(!control<QPushButton>(f, "RunPencilOptions")->isEnabled() && !control<QPushButton>(f, "RunService")->isEnabled());
    QVERIFY(!control<QAction>(f, "NDosimetr")->isEnabled() && !control<QAction>(f, "NMetrology")->isEnabled());
    QVERIFY(control<QToolButton>(f, "ExtFiltr")->isEnabled() && control<QAction>(f, "actSetFilter")->isEnabled());
    // The grid's context menu.
    QStringList grid;
    for (QAction *a : control<QMenu>(f, "GridMenu")->actions())
        grid << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    QCOMPARE(grid, (QStringList{"actSetFilter", "actOnlyNew", "actExtNotes", "-", "actDetailRecord", "-", "actExportCsv"}));

    QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->text(), QStringLiteral("Статус соединения"));
    QCOMPARE(control<QPushButton>(f, "RunNotes")->text(), QStringLiteral("Журнал"));
    QCOMPARE(control<QPushButton>(f, "RunCardsEdit")->text(), QStringLiteral("Картотека"));
    QCOMPARE(control<QPushButton>(f, "RunCardsEdit")->toolTip(), QStringLiteral("Работа со списком людей"));
    QCOMPARE(control<QPushButton>(f, "RunPencilOptions")->toolTip(), QStringLiteral("Настройка работы дозиметра"));
    QCOMPARE(control<QPushButton>(f, "RunService")->toolTip(), QStringLiteral("Настройка коэфициентов дозиметра"));
    QCOMPARE(control<QToolButton>(f, "ExtNotes")->toolTip(),
             QStringLiteral("Отображение записей\r\nо данных пользователей дозиметров\r\nиз журнала"));
    QCOMPARE(control<QToolButton>(f, "ExtOnlyNew")->text(), QStringLiteral("Новые"));
    QCOMPARE(control<QToolButton>(f, "BtnShowDetail")->text(), QStringLiteral("Детали"));
    QCOMPARE(control<QLabel>(f, "StatusPanel0")->text(), QStringLiteral("Фильтр"));
    QCOMPARE(control<QPushButton>(f, "BtnClearFilterMin")->text(), QStringLiteral("Очистка"));
    QVERIFY(control<QPushButton>(f, "BtnClearFilterMin")->isHidden() && control<QPushButton>(f, "BtnClearFilterMax")->isHidden());

    // The link settings window and its texts.
    LinkSettingsWindow *r = rig.rs232;
    QCOMPARE(r->windowTitle(), QStringLiteral("Настройки соединения"));
    QCOMPARE(r->findChild<QGroupBox *>(QStringLiteral("GroupBox1"))->title(), QStringLiteral("СОМ-порт"));
    QCOMPARE(r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->count(), 8);
    QCOMPARE(r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->itemText(0), QStringLiteral("COM1"));
    QCOMPARE(r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->itemText(7), QStringLiteral("COM8"));
    QCOMPARE(r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->toolTip(), QStringLiteral("Номер COM-порта для обмена на компьютере"));
    QCOMPARE(r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->text(), QStringLiteral("Использовать отдельный поток"));
    QCOMPARE(r->findChild<QPushButton *>(QStringLiteral("btnOk"))->text(), QStringLiteral("&Принять"));
    QCOMPARE(r->findChild<QPushButton *>(QStringLiteral("btnOk"))->toolTip(), QStringLiteral("Принять изменения"));
    QCOMPARE(r->findChild<QPushButton *>(QStringLiteral("btnCancel"))->text(), QStringLiteral("&Отменить"));
    QCOMPARE(r->findChild<QPushButton *>(QStringLiteral("btnCancel"))->toolTip(), QStringLiteral("Отменить и выйти"));
    QCOMPARE(r->findChild<QAction *>(QStringLiteral("N2"))->text(), QStringLiteral("В&ыход"));
    QCOMPARE(r->findChild<QAction *>(QStringLiteral("N2"))->shortcut(), QKeySequence(QStringLiteral("Ctrl+X")));
    QCOMPARE(&r->settings(), &rig.settings);  // the window edits the settings of the run
    {
        SerialLink freshLink;
        LinkSettings freshSettings;
        followLinkSettings(freshLink, freshSettings);
        LinkSettingsWindow fresh(freshSettings);  // the box shows COM1 at start, and the link uses COM1
        QCOMPARE(fresh.findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->currentIndex(), 0);
        QCOMPARE(int(freshLink.comPortIndex()), 0);
    }
}

void TestUiCommands::serviceCommandsOpenTheirWindows()
{
    ScriptedPrompt prompt;
    FaceRig rig;
    MainWindow &f = rig.face;
    rig.engine.setState(SyncState::Suspended);
    f.updateStateIndicator();  // enables the service commands
    // "Метрология" runs the metrology flow (without a reader the coefficients
    // read fails and the flow offers to abort); the spectrum command and
    // "О программе" open their windows; synchronisation resumes after each.
    // A flow run before may have left the cycle offline: the commands are
    // enabled again first.
    rig.engine.setState(SyncState::Suspended);
    f.updateStateIndicator();
    prompt.asked.clear();
    control<QPushButton>(f, "RunService")->click();
    QCOMPARE(prompt.asked.size(), 1);
    QVERIFY(prompt.asked.first().text.startsWith(QStringLiteral("Не удалось считать текущие коэфициенты дозиметра")));
    QCOMPARE(prompt.asked.first().buttons, PromptButton::Abort | PromptButton::Ignore);
    prompt.dialogsShown.clear();
    control<QAction>(f, "actShowSpectrum")->trigger();
    control<QAction>(f, "N3")->trigger();
    QCOMPARE(prompt.dialogsShown, (QList<QString>{QStringLiteral("TSpectrumADC"), QStringLiteral("TAboutBox")}));
    QVERIFY(!rig.engine.snapshot().paused);
    // "Дозиметр" runs the options flow: without a reader the label read
    // fails and the flow offers to abort.
    prompt.asked.clear();
    control<QPushButton>(f, "RunPencilOptions")->click();
    QCOMPARE(prompt.asked.size(), 1);
    QVERIFY(prompt.asked.first().text.startsWith(QStringLiteral("Не удалось считать текущую метку дозиметра")));
    QCOMPARE(prompt.asked.first().buttons, PromptButton::Abort | PromptButton::Ignore);
    QVERIFY(!rig.engine.snapshot().paused);
}

void TestUiCommands::cardsAndDetailOpenTheirWindows()
{
    ViewDb db;
    QVERIFY(db.open());
    db.add(7, QDateTime(QDate(2026, 12, 8), QTime(9, 30)), 123, QStringLiteral("ИвановИП"), 2.5);
    setDataModule(&db.dm);
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());

    // "Картотека": the card list, its new cards numbered after the stored number.
    f.storedValues().maxCardsIndex = 41;
    int offered = 0;
    db.prompt.dialogs[QStringLiteral("TCards")] = [](QObject *d) {
        static_cast<Cards *>(d)->addCard();
        return int(QDialog::Accepted);
    };
    db.prompt.dialogs[QStringLiteral("TCardEdit")] = [&](QObject *d) {
        offered = d->findChild<QSpinBox *>(QStringLiteral("ID"))->value();
        return 0;
    };
    control<QPushButton>(f, "RunCardsEdit")->click();
    QCOMPARE(offered, 42);
    control<QAction>(f, "NCards")->trigger();
    QCOMPARE(db.prompt.dialogsShown.count(QStringLiteral("TCards")), 2);

    // "Детали", its menu item and the grid's double click show the detail view.
    control<QToolButton>(f, "BtnShowDetail")->click();
    auto *view = f.findChild<DetailMeasureRecord *>();
    QVERIFY(view && view->isVisible());
    QCOMPARE(view->valueText(QStringLiteral("ID")), QStringLiteral("123"));
    view->close();
    control<QAction>(f, "actDetailRecord")->trigger();
    QVERIFY(view->isVisible());
    QCOMPARE(f.findChildren<DetailMeasureRecord *>().size(), 1);
    f.close();
    setDataModule(nullptr);
}

void TestUiCommands::journalOpensTheJournal()
{
    ViewDb db;
    QVERIFY(db.open());
    setDataModule(&db.dm);
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    // "Журнал" and its menu item show the one journal window; a binding
    // made there marks the names out of step in the engine.
    int shown = 0;
    db.prompt.dialogs[QStringLiteral("TNoteBook")] = [&](QObject *d) {
        ++shown;
        static_cast<NoteBook *>(d)->journal().bind(QStringLiteral("5"), QStringLiteral("Иванов И.И."),
                                                    QDate(2026, 12, 8), QTime(9, 0));
        return 0;
    };
    control<QPushButton>(f, "RunNotes")->click();
    control<QAction>(f, "NNotes")->trigger();
    QCOMPARE(shown, 2);
    QCOMPARE(f.findChildren<NoteBook *>().size(), 1);
    QVERIFY(rig.engine.snapshot().namesOutOfStep);
    QCOMPARE(db.dm.notes().totalRows(), qint64(1));
    setDataModule(nullptr);
}

void TestUiCommands::serviceFlowsLeaveTheWindowAsTheyFoundIt()
{
    // A reader without mode switching: the operator suspends synchronisation
    // to reach the service commands. One that switches modes: they are
    // enabled while it is connected. Either way the window comes back from
    // "Дозиметр" and "Метрология" as it was before them.
    for (const bool switching : {false, true}) {
        ReaderLinkSetup setup(0);
        if (!setup.startReader())
            QSKIP("no pseudo-terminal");
        setup.sim.setInserted(true);
        setup.sim.setModeSwitching(switching);
        ScriptedPrompt prompt;
        prompt.dialogs[QStringLiteral("TInsertDosimetr")] = [](QObject *) { return int(QDialog::Accepted); };
        FaceRig rig;
        MainWindow &f = rig.face;
        rig.engine.setLink(&setup.link);
        rig.engine.setReaderFindings(true, false, switching);
        rig.engine.setState(SyncState::Online);
        f.updateStateIndicator();
        if (!switching)
            control<QAction>(f, "NStopSynchro")->trigger();
        const SyncState before = rig.engine.snapshot().state;
        const QString status = control<ClickLabel>(f, "PanelInfoStatus")->text();
        QVERIFY(control<QAction>(f, "NDosimetr")->isEnabled());
        for (const char *command : {"RunPencilOptions", "RunService"}) {
            control<QPushButton>(f, command)->click();
            QVERIFY(rig.engine.waitForWorkers(5000));
            QCOMPARE(rig.engine.snapshot().state, before);
            QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->text(), status);
            QCOMPARE(control<QAction>(f, "NStopSynchro")->isChecked(), !switching);
            QVERIFY(control<QAction>(f, "NDosimetr")->isEnabled() && control<QAction>(f, "NMetrology")->isEnabled());
            QVERIFY(control<QPushButton>(f, "RunPencilOptions")->isEnabled());
            QVERIFY(!rig.engine.snapshot().paused && !rig.engine.snapshot().readerModeRestorePending);
            QCOMPARE(setup.sim.readModel<int>([](const SimReaderModel &m) { return m.mode(); }), 0);
        }
        QCOMPARE(prompt.dialogsShown.count(QStringLiteral("TPencilOptions")), 1);
        QCOMPARE(prompt.dialogsShown.count(QStringLiteral("TPencilMetrology")), 1);
    }
}

void TestUiCommands::commandsFollowTheStoreRights()
{
    // An auditor: the journal and the cards open (read-only, in their
    // windows); no service commands, whatever the link's state enables, each
    // disabled one saying why.
    FaceRig rig;
    MainWindow &f = rig.face;
    StoreRights auditor;
    auditor.readings = auditor.marks = auditor.journal = auditor.cards = auditor.service = false;
    auditor.user = QStringLiteral("audit1");
    f.setStoreRights(auditor);
    rig.engine.setState(SyncState::Suspended);
    f.updateStateIndicator();  // would enable the service commands
    for (const char *name : {"RunPencilOptions", "RunService"}) {
        QVERIFY2(!control<QPushButton>(f, name)->isEnabled(), name);
        QVERIFY2(control<QPushButton>(f, name)->toolTip().endsWith(QLatin1String("audit1")), name);
    }
    for (const char *name : {"NDosimetr", "NMetrology"})
        QVERIFY2(!control<QAction>(f, name)->isEnabled(), name);
    for (const char *name : {"RunNotes", "RunCardsEdit"})
        QVERIFY2(control<QPushButton>(f, name)->isEnabled(), name);
    QVERIFY(control<QAction>(f, "NNotes")->isEnabled() && control<QAction>(f, "NCards")->isEnabled());
    // An operator: the service commands still not.
    StoreRights operatorRights;
    operatorRights.service = false;
    f.setStoreRights(operatorRights);
    f.updateStateIndicator();
    QVERIFY(control<QPushButton>(f, "RunNotes")->isEnabled());
    QVERIFY(control<QAction>(f, "NCards")->isEnabled());
    QVERIFY(!control<QPushButton>(f, "RunService")->isEnabled());
    QVERIFY(!control<QAction>(f, "NDosimetr")->isEnabled());
}

QTEST_MAIN(TestUiCommands)
#include "tst_ui_commands.moc"

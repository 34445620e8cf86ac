// The main window and the link settings window built with real widgets on
// the offscreen platform: start-up words, the state indicator and its enable
// rules, menus, captions and shortcuts, the link settings window over the
// engine, the records grid with its labels and modes, and the stored
// settings read at the first showing and written at the close.

#include "ReaderLinkSetup.h"
#include "SyncFixture.h"
#include "ViewFixture.h"

#include "core/AppState.h"
#include "core/Platform.h"
#include "link/SerialLink.h"
#include "monitor/core/IniFile.h"
#include "monitor/core/Settings.h"
#include "monitor/core/SettingsStartup.h"
#include "monitor/core/StateIndicator.h"
#include "monitor/core/SyncEngine.h"
#include "monitor/ui/ClickLabel.h"
#include "monitor/ui/StateSquare.h"
#include "monitor/ui/LinkSettingsWindow.h"
#include "monitor/ui/RecordsGrid.h"
#include "monitor/ui/StateStrip.h"
#include "monitor/ui/MainWindow.h"
#include "records/ui/MeasureFiltr.h"
#include "monitor/ui/WidgetPrompt.h"
#include "link/DeviceCommands.h"
#include "records/DataTableModel.h"
#include "records/ui/Cards.h"
#include "records/ui/DetailMeasureRecord.h"
#include "records/Journal.h"
#include "records/ui/NoteBook.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QInputDialog>
#include <QScrollBar>
#include <QTranslator>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QFontMetrics>
#include <QtTest>

namespace {

QAction *FindMenuAction(QMenuBar *bar, const QString &objectName)
{
    const QList<QAction *> all = bar->findChildren<QAction *>();
    for (QAction *a : all)
        if (a->objectName() == objectName)
            return a;
    return nullptr;
}

QColor PixelAt(QWidget *w, int x, int y)
{
    return w->grab().toImage().pixelColor(x, y);
}

// A control of the main window by its object name (the design's name).
template <class T>
T *control(const QObject &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("the window has no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

// The window with its link settings window, as the program builds them.
struct FaceRig {
    SyncEngine engine;
    SerialLink link;
    MainWindow face;
    LinkSettingsWindow *rs232;
    FaceRig() : face(QString()), rs232(new LinkSettingsWindow(link, &face))
    {
        face.setEngine(&engine);
        engine.setView(&face);
        engine.setLink(&link);
        face.setLinkSettingsWindow(rs232);
        // No reader here: the cycle's polls find no port and change nothing.
        rs232->link().setPortName(QStringLiteral("/nonexistent/ttyRUVO"));
        rs232->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->setCurrentIndex(-1);
    }
    // Shows the window and stops the control timer its first showing started,
    // so no poll changes the state while a test looks at it.
    bool show()
    {
        face.show();
        const bool exposed = QTest::qWaitForWindowExposed(&face);
        engine.timerControl()->stop();
        return exposed;
    }
    ~FaceRig() { engine.setView(nullptr); }
};

} // namespace

class TestUi : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void startupWordsAndProgramDir();
    void stateLookAndEnableRules();
    void indicatorStripHasItsPictures();
    void windowHasEveryCommand();
    void stateSquareRepaintsForEachState();
    void laterFunctionsSayTheyComeLater();
    void cardsAndDetailOpenTheirWindows();
    void journalOpensTheJournal();
    void stopSynchroLeavesStateZero();
    void serviceFlowsLeaveTheWindowAsTheyFoundIt();
    void linkOkStartsAndStopsTheThread();
    void linkCancelRestoresTheThreadChoice();
    void linkSettingsRestoreAndSave();
    void gridLabelsAndQuickFilters();
    void modesSortingAndPanels();
    void storedFilterSwitch();
    void emptyTableAtFirstActivation();
    void settingsAtShowAndClose_data();
    void settingsAtShowAndClose();
    void unattendedRunAnswersEachQuestionItsOwnWay();
    void clockQuestionShowsTheSuspension();
    void labelsFollowStoredReadings();
    void gridKeepsTheOperatorsRow();
    void labelsKeepClearOfCaptionsAndButtons();
    void standardButtonsAreRussian();
};

void TestUi::init()
{
    appState().reset();
}

void TestUi::cleanup()
{
    appState().reset();
}

void TestUi::startupWordsAndProgramDir()
{
    // The words are searched in the joined, upper-cased arguments.
    StartupWords w = readStartupWords({QStringLiteral("abc_rs232log"), QStringLiteral("EvEnTsLoG")});
    QVERIFY(w.rs232Log);
    QVERIFY(w.eventsLog);
    QCOMPARE(w.commandLineText, QStringLiteral("ABC_RS232LOGEVENTSLOG"));
    QCOMPARE(w.statusNote,
             QStringLiteral("активировано логгирование событий   активировано логгирование RS232"));
    // A word split across two arguments still counts.
    w = readStartupWords({QStringLiteral("RS23"), QStringLiteral("2log")});
    QVERIFY(w.rs232Log);
    QVERIFY(!w.eventsLog);
    QCOMPARE(w.statusNote, QStringLiteral("  активировано логгирование RS232"));
    w = readStartupWords({});
    QVERIFY(!w.rs232Log && !w.eventsLog);
    QVERIFY(w.statusNote.isEmpty());

    QCOMPARE(computeProgramDir(QStringLiteral("/opt/ruvo/RUVO")), QStringLiteral("/opt/ruvo/"));
    QCOMPARE(computeProgramDir(QStringLiteral("/RUVO")), QStringLiteral("./"));  // a bare root
    QTemporaryDir dir;
    QCOMPARE(computeProgramDir(QStringLiteral("/opt/ruvo/RUVO"), dir.path()), dir.path() + QLatin1Char('/'));

    // Where the tables go: the environment, then the settings file (a
    // relative path from home), then a program directory that can be
    // written, else the user's data directory; an installed program never
    // writes under /usr, whoever runs it.
    const QString writable = dir.path() + QStringLiteral("/RUVO");
    QCOMPARE(chooseDataPlace(writable, QString(), QString()).reason, DataPlaceReason::ProgramDirectory);
    QCOMPARE(chooseDataPlace(writable, QString(), QString()).dir, dir.path() + QLatin1Char('/'));
    QCOMPARE(chooseDataPlace(writable, QString(), QStringLiteral("ruvo-data")).dir,
             QDir::homePath() + QStringLiteral("/ruvo-data/"));
    QCOMPARE(chooseDataPlace(writable, dir.path() + QStringLiteral("/env"), QStringLiteral("/srv/ruvo")).reason,
             DataPlaceReason::Environment);
    const DataPlace installed = chooseDataPlace(QStringLiteral("/usr/bin/RUVO"), QString(), QString());
    QCOMPARE(installed.reason, DataPlaceReason::UserData);
    QCOMPARE(installed.dir, userDataDirectory());
    QVERIFY(installed.dir.endsWith(QStringLiteral("/RUVO/")));

    AppState &app = appState();
    const QString note = applyStartup(app, QStringLiteral("/opt/ruvo/RUVO"),
                                      {QStringLiteral("/opt/ruvo/RUVO"), QStringLiteral("eventslog")}, QString());
    QCOMPARE(app.programDir, QStringLiteral("/opt/ruvo/"));
    QVERIFY(app.eventsLogEnabled);
    QVERIFY(!app.rs232LogEnabled);  // the program file itself is not an argument
    QCOMPARE(note, QStringLiteral("активировано логгирование событий "));
}

void TestUi::stateLookAndEnableRules()
{
    StateLook l = computeStateLook(SyncState::Offline, false, true, 0, 5);
    QVERIFY(l.systemFace);
    QCOMPARE(l.picture, 60);
    QCOMPARE(l.statusText, QStringLiteral("Нет соединения"));
    QCOMPARE(l.service, ServiceCommands::Disable);

    l = computeStateLook(SyncState::Online, false, true, 0, 5);  // normal mode, no mode switching
    QCOMPARE(l.rgb, 0xA0FFA0u);
    QCOMPARE(l.picture, 0);
    QCOMPARE(l.statusText, QStringLiteral("Соединение есть"));
    QVERIFY(l.infoText.isEmpty());
    QCOMPARE(l.service, ServiceCommands::Disable);
    QCOMPARE(computeStateLook(SyncState::Online, false, true, 1, 5).service, ServiceCommands::Enable);   // switching reader
    QCOMPARE(computeStateLook(SyncState::Online, true, false, 0, 5).service, ServiceCommands::Enable);   // busy reader
    QCOMPARE(computeStateLook(SyncState::Online, true, false, 0, 5).infoText, QStringLiteral("Прибор занят"));

    l = computeStateLook(SyncState::Exchanging, false, true, 0, 130);
    QCOMPARE(l.rgb, 0xA0A0FFu);
    QCOMPARE(l.picture, 130 % 59);
    QCOMPARE(l.statusText, QStringLiteral("Обмен данными"));
    QCOMPARE(l.service, ServiceCommands::Keep);
    QCOMPARE(computeStateLook(SyncState::Exchanging, false, true, 0, 59).picture, 0);

    l = computeStateLook(SyncState::Suspended, false, true, 0, 5);
    QCOMPARE(l.rgb, 0xFFFFA0u);
    QCOMPARE(l.picture, 60);
    QCOMPARE(l.statusText, QStringLiteral("Соединение приостановлено"));
    QCOMPARE(l.service, ServiceCommands::Enable);

    l = computeStateLook(SyncState(9), false, true, 0, 5);
    QCOMPARE(l.rgb, 0x808080u);
    QCOMPARE(l.picture, -1);
    QVERIFY(l.statusText.isEmpty());
    QCOMPARE(l.service, ServiceCommands::Keep);

    StateColourTracker t;
    QVERIFY(t.changed(2));  // the first call always paints
    QVERIFY(!t.changed(2));
    QVERIFY(t.changed(1));
}

void TestUi::indicatorStripHasItsPictures()
{
    const QImage connected = stateStripPicture(0).toImage();
    const QImage idle = stateStripPicture(60).toImage();
    QCOMPARE(connected.size(), QSize(32, 32));
    QCOMPARE(idle.size(), QSize(32, 32));
    QVERIFY(connected != idle);
    // The exchange animation moves: neighbouring pictures differ.
    QVERIFY(stateStripPicture(10).toImage() != stateStripPicture(11).toImage());
    QCOMPARE(stateStripPicture(-3).toImage(), idle);
}

void TestUi::windowHasEveryCommand()
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
        {"N4", "В&ыход", "Ctrl+X"},
        {"N5", "Настройка свя&зи", "Ctrl+O"},
        {"actGetFullArchive", "Считать весь архив ТРЕМ-01", ""},
        {"actSyncFIO", "&Синхронизировать ФИО по дозиметрам с записями в журнале", "Ctrl+H"},
        {"NStopSynchro", "Приостановить синхронизацию", "Ctrl+P"},
        {"actShowSpectrum", "Считать и показать спектр АЦП", ""},
        {"NNotes", "Журнал", ""},
        {"NCards", "Картотека", ""},
        {"NDosimetr", "Дозиметр", ""},
        {"NMetrology", "Метрология", ""},
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
    QCOMPARE(&r->link(), &rig.link);  // the window works on the link of the run
    {
        SerialLink freshLink;
        LinkSettingsWindow fresh(freshLink);  // the box shows COM1 at start, and the link uses COM1
        QCOMPARE(fresh.findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->currentIndex(), 0);
        QCOMPARE(int(freshLink.comPortIndex()), 0);
    }
}

void TestUi::stateSquareRepaintsForEachState()
{
    FaceRig rig;
    MainWindow &f = rig.face;
    QVERIFY(rig.show());
    StateSquare *sq = control<StateSquare>(f, "PaintBox_ShowState");

    struct Case { int state; QColor colour; int picture; const char *text; };
    const Case cases[] = {
        {1, QColor(0xA0, 0xFF, 0xA0), 0, "Соединение есть"},
        {2, QColor(0xA0, 0xA0, 0xFF), 7, "Обмен данными"},
        {3, QColor(0xFF, 0xFF, 0xA0), 60, "Соединение приостановлено"},
        {0, f.palette().color(QPalette::Button), 60, "Нет соединения"},
    };
    rig.engine.syncTickCounter = 66;  // 66 mod 59 = 7
    rig.engine.readerNormalMode = false;
    for (const Case &c : cases) {
        rig.engine.syncState = SyncState(c.state);
        const int before = sq->paintCount();
        f.updateStateIndicator();
        QTRY_VERIFY(sq->paintCount() > before);
        QCOMPARE(sq->colour(), c.colour);
        QCOMPARE(sq->picture(), c.picture);
        QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->text(), QString::fromUtf8(c.text));
        QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->palette().color(QPalette::Window), c.colour);
        // The square really shows the colour (a corner the picture leaves free).
        QCOMPARE(PixelAt(sq, 31, 32), c.colour);
        const bool serviceOn = control<QPushButton>(f, "RunPencilOptions")->isEnabled();
        if (c.state == 1 || c.state == 3)
            QVERIFY(serviceOn && control<QPushButton>(f, "RunService")->isEnabled() && control<QAction>(f, "NDosimetr")->isEnabled() && control<QAction>(f, "NMetrology")->isEnabled());
        if (c.state == 0)
            QVERIFY(!serviceOn && !control<QPushButton>(f, "RunService")->isEnabled() && !control<QAction>(f, "NDosimetr")->isEnabled() && !control<QAction>(f, "NMetrology")->isEnabled());
        if (c.state == 2)
            QVERIFY(serviceOn);  // kept from state 1
    }
    // State 1 in normal mode without mode switching disables the service commands.
    rig.engine.syncState = SyncState::Online;
    rig.engine.readerNormalMode = true;
    rig.engine.readerBusy = true;
    f.updateStateIndicator();
    QVERIFY(!control<QPushButton>(f, "RunPencilOptions")->isEnabled());
    QCOMPARE(control<QLabel>(f, "LabelInfoLastDoIt")->text(), QStringLiteral("Прибор занят"));

    // The engine's view calls land in the window.
    f.setStatusText(QStringLiteral("Чтение записи 3 из 4"));
    QCOMPARE(control<QLabel>(f, "LabelInfoLastDoIt")->text(), QStringLiteral("Чтение записи 3 из 4"));
    // A long message is shown whole within the label; a longer still one
    // visibly shortened, whole in its tooltip.
    QLabel *info = control<QLabel>(f, "LabelInfoLastDoIt");
    auto fits = [info] {
        const int flags = Qt::AlignCenter | (info->wordWrap() ? Qt::TextWordWrap : 0);
        return info->contentsRect().contains(QFontMetrics(info->font()).boundingRect(info->contentsRect(), flags, info->text()));
    };
    const QString portText = QStringLiteral("Не удалось открыть порт /dev/none: нет такого файла или каталога");
    f.setStatusText(portText);
    QVERIFY(info->text() == portText && fits());
    f.setStatusText(portText.repeated(3));
    QVERIFY(fits() && info->text().endsWith(QChar(0x2026)));
    QCOMPARE(info->toolTip(), portText.repeated(3));
    f.setProgress(1, 2);
    QCOMPARE(control<QWidget>(f, "ImageProgress")->width(), progressWidth(1, 2, control<QWidget>(f, "PanelInfoLastDid")->width()));
    f.setProgress(0, 0);
    QCOMPARE(control<QWidget>(f, "ImageProgress")->width(), 0);
    for (int i = 0; i < 5; ++i)
        f.pulseHeartbeat();
    QCOMPARE(control<QLabel>(f, "StatusPanel2")->text(), QString());
    f.pulseHeartbeat();
    QCOMPARE(control<QLabel>(f, "StatusPanel2")->text(), QString(QChar(0x2022)));
}

void TestUi::laterFunctionsSayTheyComeLater()
{
    ScriptedPrompt prompt;
    FaceRig rig;
    MainWindow &f = rig.face;
    rig.engine.syncState = SyncState::Suspended;
    f.updateStateIndicator();  // enables the service commands
    const QString later = QStringLiteral("Функция будет доступна в следующей версии программы");
    QList<std::function<void()>> clicks = {
    };
    for (int i = 0; i < clicks.size(); ++i) {
        clicks[i]();
        QCOMPARE(prompt.asked.size(), i + 1);
        QCOMPARE(prompt.asked.last().text, later);
        QCOMPARE(prompt.asked.last().kind, MsgKind::Information);
        QCOMPARE(prompt.asked.last().buttons, PromptButtons(PromptButton::Ok));
    }
    // "Метрология" runs the metrology flow (without a reader the coefficients
    // read fails and the flow offers to abort); the spectrum command and
    // "О программе" open their windows; synchronisation resumes after each.
    // A flow run before may have left the cycle offline: the commands are
    // enabled again first.
    rig.engine.syncState = SyncState::Suspended;
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
    QVERIFY(!rig.engine.syncPaused);
    // "Дозиметр" runs the options flow: without a reader the label read
    // fails and the flow offers to abort.
    prompt.asked.clear();
    control<QPushButton>(f, "RunPencilOptions")->click();
    QCOMPARE(prompt.asked.size(), 1);
    QVERIFY(prompt.asked.first().text.startsWith(QStringLiteral("Не удалось считать текущую метку дозиметра")));
    QCOMPARE(prompt.asked.first().buttons, PromptButton::Abort | PromptButton::Ignore);
    QVERIFY(!rig.engine.syncPaused);
}

void TestUi::journalOpensTheJournal()
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
    QVERIFY(rig.engine.iNeedSynhroFIO);
    QCOMPARE(db.dm.notes().totalRows(), qint64(1));
    setDataModule(nullptr);
}

void TestUi::cardsAndDetailOpenTheirWindows()
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

void TestUi::stopSynchroLeavesStateZero()
{
    FaceRig rig;
    MainWindow &f = rig.face;
    rig.engine.syncState = SyncState::Exchanging;
    control<QAction>(f, "NStopSynchro")->trigger();
    QCOMPARE(rig.engine.syncState.load(), SyncState::Suspended);
    QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->text(), QStringLiteral("Соединение приостановлено"));
    rig.engine.syncState = SyncState::Online;
    control<QAction>(f, "NStopSynchro")->trigger();
    QCOMPARE(rig.engine.syncState.load(), SyncState::Offline);
    QVERIFY(!control<QAction>(f, "NStopSynchro")->isChecked());
    // The engine's own change shows in the menu.
    rig.engine.setStopSynchro(true);
    QVERIFY(control<QAction>(f, "NStopSynchro")->isChecked());
}

void TestUi::serviceFlowsLeaveTheWindowAsTheyFoundIt()
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
        rig.engine.readerModeSwitching = switching ? 1 : 0;
        rig.engine.readerNormalMode = true;
        rig.engine.syncState = SyncState::Online;
        f.updateStateIndicator();
        if (!switching)
            control<QAction>(f, "NStopSynchro")->trigger();
        const SyncState before = rig.engine.syncState;
        const QString status = control<ClickLabel>(f, "PanelInfoStatus")->text();
        QVERIFY(control<QAction>(f, "NDosimetr")->isEnabled());
        for (const char *command : {"RunPencilOptions", "RunService"}) {
            control<QPushButton>(f, command)->click();
            QVERIFY(rig.engine.waitForWorkers(5000));
            QCOMPARE(rig.engine.syncState.load(), before);
            QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->text(), status);
            QCOMPARE(control<QAction>(f, "NStopSynchro")->isChecked(), !switching);
            QVERIFY(control<QAction>(f, "NDosimetr")->isEnabled() && control<QAction>(f, "NMetrology")->isEnabled());
            QVERIFY(control<QPushButton>(f, "RunPencilOptions")->isEnabled());
            QVERIFY(!rig.engine.syncPaused && !rig.engine.readerModeRestorePending);
            QCOMPARE(setup.sim.readModel<int>([](const SimReaderModel &m) { return m.mode(); }), 0);
        }
        QCOMPARE(prompt.dialogsShown.count(QStringLiteral("TPencilOptions")), 1);
        QCOMPARE(prompt.dialogsShown.count(QStringLiteral("TPencilMetrology")), 1);
    }
}

void TestUi::linkOkStartsAndStopsTheThread()
{
    ScriptedPrompt prompt;
    FaceRig rig;
    SyncEngine &e = rig.engine;
    LinkSettingsWindow *r = rig.rs232;
    r->link().setPortName(QStringLiteral("/nonexistent/ttyRUVO"));
    r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->setCurrentIndex(-1);

    // Checking the box and "&Принять": the start is requested, the tick starts the worker.
    prompt.dialogs[QStringLiteral("TRS232")] = [r](QObject *) {
        r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->setChecked(true);
        r->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        return r->result();
    };
    rig.engine.threadStartTicks = 50;
    QCOMPARE(r->showModal(), int(QDialog::Accepted));
    QVERIFY(e.useThread());
    QCOMPARE(int(rig.engine.threadStartTicks), 0);
    for (int i = 0; i < 4; ++i)
        e.timerControlTimer();
    QTRY_VERIFY(e.threadRunning());

    // "&Принять" again with the box still checked starts no second worker.
    prompt.dialogs[QStringLiteral("TRS232")] = [r](QObject *) {
        r->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        return r->result();
    };
    rig.engine.threadStartTicks = 50;
    r->showModal();
    QCOMPARE(int(rig.engine.threadStartTicks), 50);

    // Unchecking it and "&Принять" stops the worker at once.
    prompt.dialogs[QStringLiteral("TRS232")] = [r](QObject *) {
        r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->setChecked(false);
        r->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        return r->result();
    };
    QElapsedTimer t;
    t.start();
    r->showModal();
    QVERIFY(!e.threadRunning());
    QVERIFY(!e.useThread());
    QVERIFY(t.elapsed() < 2000);
    QVERIFY(!rig.engine.syncPaused);
    QVERIFY(e.waitForWorkers(5000));
}

void TestUi::linkCancelRestoresTheThreadChoice()
{
    ScriptedPrompt prompt;
    FaceRig rig;
    SyncEngine &e = rig.engine;
    LinkSettingsWindow *r = rig.rs232;
    rig.engine.threadStartTicks = 50;

    // Every way out but "&Принять": the box comes back, the engine is untouched.
    const QList<std::function<void()>> exits = {
        [r] { r->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click(); },
        [r] { QTest::keyClick(r, Qt::Key_Escape); },
        [r] { r->findChild<QAction *>(QStringLiteral("N2"))->trigger(); },
        [r] { r->close(); },
    };
    for (int i = 0; i < exits.size(); ++i) {
        const auto leave = exits[i];
        prompt.dialogs[QStringLiteral("TRS232")] = [r, leave](QObject *) {
            r->show();
            r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->setChecked(true);
            r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->setCurrentIndex(2);  // the port choice takes effect anyway
            leave();
            return r->result();
        };
        QCOMPARE(r->showModal(), int(QDialog::Rejected));
        QVERIFY2(!r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->isChecked(), qPrintable(QString::number(i)));
        QVERIFY(r->isHidden());
        QVERIFY(!e.useThread());
        QCOMPARE(int(rig.engine.threadStartTicks), 50);
        QCOMPARE(int(r->link().comPortIndex()), 2);
        r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->setCurrentIndex(0);
    }
    for (int i = 0; i < 6; ++i)
        e.timerControlTimer();
    QVERIFY(!e.threadRunning());

    // With the thread chosen and running, Cancel after unchecking keeps it running.
    e.setUseThread(true);
    r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->setChecked(true);
    rig.engine.threadStartTicks = 0;
    for (int i = 0; i < 4; ++i)
        e.timerControlTimer();
    QTRY_VERIFY(e.threadRunning());
    prompt.dialogs[QStringLiteral("TRS232")] = [r](QObject *) {
        r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->setChecked(false);
        r->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click();
        return r->result();
    };
    r->showModal();
    QVERIFY(r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->isChecked());
    QVERIFY(e.useThread());
    QVERIFY(e.threadRunning());
    e.shutDown();
    QVERIFY(e.waitForWorkers(5000));
}

void TestUi::linkSettingsRestoreAndSave()
{
    FaceRig rig;
    LinkSettingsWindow *r = rig.rs232;
    IniFile ini;
    ini.writeString(SectionRS232, QStringLiteral("CommPort_PortName"), QStringLiteral("/tmp/demo/ttyRUVO"));
    ini.writeInteger(SectionRS232, QStringLiteral("CB_ComPort_ItemIndex"), -1);
    ini.writeBool(SectionRS232, QStringLiteral("CB_UseThread_Checked"), true);
    r->restoreSettings(ini);
    QCOMPARE(r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->currentIndex(), -1);
    QCOMPARE(int(r->link().comPortIndex()), -1);
    QCOMPARE(r->link().portName(), QStringLiteral("/tmp/demo/ttyRUVO"));
    QVERIFY(r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->isChecked());
    QVERIFY(rig.engine.useThread());  // the worker starts on the fourth tick after start

    r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->setCurrentIndex(4);
    r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->setChecked(false);
    rig.face.setGeometry(300, 200, 800, 580);
    IniFile out;
    r->saveSettings(out);
    // Never shown nor placed: the position written is over the main window,
    // not the corner of the screen.
    FormPlacement written;
    QVERIFY(readPlacement(out, SectionRS232, written, true));
    QVERIFY(qAbs((written.normPos[0] + written.normPos[2]) / 2 - 700) <= 1);
    QVERIFY(qAbs((written.normPos[1] + written.normPos[3]) / 2 - 490) <= 1);
    QCOMPARE(out.readInteger(SectionRS232, QStringLiteral("CB_ComPort_ItemIndex"), -9), 4);
    QCOMPARE(out.readString(SectionRS232, QStringLiteral("CB_UseThread_Checked")), QStringLiteral("False"));
    QCOMPARE(out.readString(SectionRS232, QStringLiteral("CommPort_PortName")), QStringLiteral("/tmp/demo/ttyRUVO"));
    QVERIFY(out.valueExists(SectionRS232, QStringLiteral("ActiveControl")));
    QVERIFY(out.valueExists(SectionRS232, QStringLiteral("NormPos")));
}

void TestUi::gridLabelsAndQuickFilters()
{
    ViewDb db;
    QVERIFY(db.open());
    db.addMany(40);
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.activateFirstTime();
    QVERIFY(!rig.engine.faceNotReady);
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

void TestUi::modesSortingAndPanels()
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
    rig.engine.iNeedSynhroFIO = true;
    prompt.answers = {PromptButton::Cancel};
    control<QToolButton>(f, "ExtNotes")->click();
    QVERIFY(control<QAction>(f, "actExtNotes")->isChecked());
    QVERIFY(!f.recordsGrid()->isColumnHidden(3));
    QVERIFY(f.recordsGrid()->isColumnHidden(2));
    QCOMPARE(f.recordsGrid()->horizontalHeader()->sectionSize(3), f.view().columns[3].width);
    QVERIFY(f.view().columns[3].width >= 271);
    QCOMPARE(prompt.asked.last().text, QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"));
    QVERIFY(rig.engine.iNeedSynhroFIO);  // Cancel leaves the flag
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

void TestUi::storedFilterSwitch()
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
        auto *list = qobject_cast<MeasureFiltr *>(o);
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

void TestUi::emptyTableAtFirstActivation()
{
    ViewDb db;
    QVERIFY(db.open());
    FaceRig rig;
    MainWindow &f = rig.face;
    f.bindMeasures(&db.dm.measures());
    QVERIFY(rig.show());
    f.activateFirstTime();
    QVERIFY(!rig.engine.faceNotReady);
    QVERIFY(f.minLabels().isEmpty());
    f.resize(900, 600);
    f.resize(640, 480);
    QVERIFY(f.minLabels().isEmpty());
    QTRY_COMPARE(f.width(), 640);  // the status panels never hold the window wide
    QCOMPARE(control<QLabel>(f, "StatusPanel1")->width(), f.width() - 100);
}

void TestUi::settingsAtShowAndClose_data()
{
    QTest::addColumn<int>("readDaysAgo");
    QTest::addColumn<bool>("rowExists");
    QTest::addColumn<int>("expectedBoundary");
    QTest::newRow("read today: kept") << 0 << true << 5;
    QTest::newRow("read yesterday: all old") << 1 << true << 8;
    QTest::newRow("no such row") << 0 << false << 8;
}

void TestUi::settingsAtShowAndClose()
{
    QFETCH(int, readDaysAgo);
    QFETCH(bool, rowExists);
    QFETCH(int, expectedBoundary);

    ViewDb db;
    QVERIFY(db.open());
    const QDateTime read = QDateTime(QDate::currentDate().addDays(-readDaysAgo), QTime(0, 0, 1));
    for (int i = 1; i <= 8; ++i)
        db.add(i, QDateTime(QDate(2026, 12, 1), QTime(9, i)), 7, QStringLiteral("x"), i, read);
    const QString path = db.dir.filePath(QStringLiteral("RUVO.INI"));
    {
        IniFile ini(path);
        ini.writeInteger(SectionFace, QStringLiteral("LastReadedIndex"), 8);
        ini.writeInteger(SectionFace, QStringLiteral("LastCheckedIndex"), rowExists ? 5 : 500);
        ini.writeInteger(SectionFace, QStringLiteral("MaxCardsIndex"), 12);
        ini.writeInteger(SectionFace, QStringLiteral("PingDelayMS"), 250);
        ini.writeInteger(SectionFace, QStringLiteral("FixedReceiveWindow"), 1);
        ini.writeInteger(SectionFace, QStringLiteral("INeedSynhroFIO"), 1);
        ini.writeString(QStringLiteral("TOther"), QStringLiteral("Key"), QStringLiteral("значение"));
        ini.writeString(SectionRS232, QStringLiteral("CommPort_PortName"), QStringLiteral("/nonexistent/ttyS9"));
        ini.writeInteger(SectionRS232, QStringLiteral("CB_ComPort_ItemIndex"), -1);
        QVERIFY(ini.save());
    }
    {
        FaceRig rig;
        MainWindow &f = rig.face;
        f.setSettingsPath(path);
        f.bindMeasures(&db.dm.measures());
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY(rig.engine.timerControl()->isActive());  // the restore enables the control timer
        QCOMPARE(f.lastCheckedIndex(), expectedBoundary);
        QCOMPARE(int(rig.engine.lastReadedIndex), 8);
        QCOMPARE(f.storedValues().maxCardsIndex, 12);
        QVERIFY(rig.engine.iNeedSynhroFIO);
        QCOMPARE(int(rig.link.pingDelayMs()), 250);
        QCOMPARE(int(rig.link.sendDelayMs()), 2000);
        QCOMPARE(int(rig.link.baseRequestCount()), 3);
        QVERIFY(rig.link.fixedReceiveWindow());
        QCOMPARE(rig.link.portName(), QStringLiteral("/nonexistent/ttyS9"));
        QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->text(), QStringLiteral("Нет соединения"));  // updateStateIndicator ran

        rig.engine.lastReadedIndex = 9;
        rig.engine.iNeedSynhroFIO = false;
        QVERIFY(f.close());
        QVERIFY(rig.engine.faceNotReady);
        QVERIFY(!db.dm.measures().active());  // the database module closed its tables
    }
    IniFile ini(path);
    QCOMPARE(ini.readInteger(SectionFace, QStringLiteral("LastReadedIndex"), -1), 9);
    QCOMPARE(ini.readInteger(SectionFace, QStringLiteral("LastCheckedIndex"), -1), expectedBoundary);
    QCOMPARE(ini.readInteger(SectionFace, QStringLiteral("PingDelayMS"), -1), 250);
    QCOMPARE(ini.readInteger(SectionFace, QStringLiteral("INeedSynhroFIO"), -1), 0);
    QCOMPARE(ini.readInteger(SectionFace, QStringLiteral("FixedReceiveWindow"), -1), 1);
    QCOMPARE(ini.readString(QStringLiteral("TOther"), QStringLiteral("Key")), QStringLiteral("значение"));
    QVERIFY(ini.valueExists(SectionFace, QStringLiteral("NormPos")));
    QCOMPARE(ini.readInteger(SectionRS232, QStringLiteral("CB_ComPort_ItemIndex"), -9), -1);
}

void TestUi::unattendedRunAnswersEachQuestionItsOwnWay()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(37);
    rig.sim.withModel([](SimReaderModel &m) { m.clearSlot(10); });
    rig.sim.setClockOffsetSeconds(-3600);
    const CommandResult<ReaderConfigData> config = readReaderConfig(&rig.link);
    QVERIFY(config);
    rig.engine.setReaderConfig(config.value);
    rig.engine.readerNormalMode = true;
    rig.engine.syncState = SyncState::Online;
    WidgetPrompt unattended;  // nobody watches the offscreen platform
    QVERIFY(WidgetPrompt::isUnattendedRun());
    setPrompt(&unattended);

    // The full read goes on over a slot that cannot be taken up to the newest
    // record and stops at the end of the archive.
    int served = rig.sim.requestsServed();
    rig.engine.readFullArchive();
    QCOMPARE(rig.measuresCount(), 36);
    QCOMPARE(rig.sim.requestsServed() - served, 38);

    // The reader's clock is left alone.
    served = rig.sim.requestsServed();
    rig.engine.checkReaderClock();
    QVERIFY(rig.engine.clockQuestionAsked);
    QCOMPARE(rig.sim.requestsServed(), served);

    // The names wait for an operator.
    rig.addNote(rig.measures().first().id, QVariant(), QVariant(), QStringLiteral("Петров"));
    rig.engine.iNeedSynhroFIO = true;
    rig.engine.askNameSync(true);
    QVERIFY(rig.engine.iNeedSynhroFIO);
    QVERIFY(rig.measures().first().fio.isEmpty());
    setPrompt(&rig.prompt);
}

void TestUi::clockQuestionShowsTheSuspension()
{
    FaceRig rig;
    MainWindow &f = rig.face;
    QVERIFY(rig.show());
    rig.engine.syncState = SyncState::Online;
    f.updateStateIndicator();
    ReaderConfigData rec = rig.engine.readerConfig();
    rec.clock = QDateTime::currentDateTime().addSecs(-600);
    rig.engine.setReaderConfig(rec);
    ScriptedPrompt prompt;
    prompt.answers = {PromptButton::Cancel};
    QString status, info;
    QColor colour;
    prompt.whileAsking = [&] {
        status = control<ClickLabel>(f, "PanelInfoStatus")->text();
        info = control<QLabel>(f, "LabelInfoLastDoIt")->text();
        colour = control<StateSquare>(f, "PaintBox_ShowState")->colour();
    };
    rig.engine.checkReaderClock();
    QCOMPARE(prompt.asked.size(), 1);
    QCOMPARE(prompt.asked.first().unattended, PromptButton::Cancel);
    QCOMPARE(status, QStringLiteral("Соединение приостановлено"));
    QCOMPARE(info, QStringLiteral("Синхронизация приостановлена"));
    QCOMPARE(colour, QColor(0xFF, 0xFF, 0xA0));
}

void TestUi::labelsFollowStoredReadings()
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
    rig.engine.lastReadedIndex = db.add(2, t.addSecs(60), 8, QStringLiteral("b"), 2.5);
    rig.engine.syncState = SyncState::Exchanging;
    f.updateStateIndicator();
    QVERIFY(f.minLabels().isEmpty());  // not in the middle of the pass
    rig.engine.syncState = SyncState::Online;
    f.updateStateIndicator();
    QCOMPARE(f.minLabels().size(), 5);
    QCOMPARE(f.maxLabels()[4]->text(), QStringLiteral("2.5"));

    // A quick filter stays in force while later readings refresh the other labels.
    ScriptedPrompt prompt;
    prompt.inputs = {QStringLiteral("2")};
    QTest::mouseClick(f.minLabels()[4], Qt::LeftButton);
    rig.engine.lastReadedIndex = db.add(3, t.addSecs(120), 9, QStringLiteral("c"), 7.25);
    f.updateStateIndicator();
    QCOMPARE(db.dm.measures().filter(), QStringLiteral("Dose>=2"));
    QCOMPARE(f.minLabels()[4]->text(), QStringLiteral("2"));
    QCOMPARE(f.maxLabels()[4]->text(), QStringLiteral("7.25"));
    QCOMPARE(f.maxLabels()[1]->text(), QStringLiteral("9"));
}

void TestUi::gridKeepsTheOperatorsRow()
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

void TestUi::labelsKeepClearOfCaptionsAndButtons()
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

void TestUi::standardButtonsAreRussian()
{
    QTranslator *russian = WidgetPrompt::installStandardTexts();
    QVERIFY(russian);
    QInputDialog dialog;
    dialog.show();  // the buttons come with the first showing
    const QList<QPushButton *> buttons = dialog.findChildren<QPushButton *>();
    QStringList texts;
    for (QPushButton *b : buttons)
        texts << b->text().remove(QLatin1Char('&'));
    QCoreApplication::removeTranslator(russian);
    delete russian;
    QVERIFY2(texts.contains(QStringLiteral("Отмена")), qPrintable(texts.join(QLatin1Char(' '))));
}

QTEST_MAIN(TestUi)
#include "tst_ui.moc"

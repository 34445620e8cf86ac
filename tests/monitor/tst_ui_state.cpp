// The state indicator of the main window: its look and enable rules for
// each state of the cycle, its pictures, the square and captions it paints,
// and the suspension as the operator sees it.

#include "UiFixture.h"
#include "ScriptedPrompt.h"

#include "core/AppState.h"
#include "monitor/core/StateIndicator.h"
#include "monitor/ui/ClickLabel.h"
#include "monitor/ui/StateSquare.h"
#include "monitor/ui/StateStrip.h"

#include <QAction>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

QColor PixelAt(QWidget *w, int x, int y)
{
    return w->grab().toImage().pixelColor(x, y);
}

} // namespace

class TestUiState : public QObject {
    Q_OBJECT
private slots:
    void init() { appState().reset(); }
    void cleanup() { appState().reset(); }

    void stateLookAndEnableRules();
    void indicatorStripHasItsPictures();
    void stateSquareRepaintsForEachState();
    void stopSynchroLeavesStateZero();
    void clockQuestionShowsTheSuspension();
};

void TestUiState::stateLookAndEnableRules()
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

void TestUiState::indicatorStripHasItsPictures()
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

void TestUiState::stateSquareRepaintsForEachState()
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
    rig.engine.setTickCount(66);  // 66 mod 59 = 7
    rig.engine.setReaderFindings(false, false, false);
    for (const Case &c : cases) {
        rig.engine.setState(SyncState(c.state));
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
    rig.engine.setState(SyncState::Online);
    rig.engine.setReaderFindings(true, true, false);
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

void TestUiState::stopSynchroLeavesStateZero()
{
    FaceRig rig;
    MainWindow &f = rig.face;
    rig.engine.setState(SyncState::Exchanging);
    control<QAction>(f, "NStopSynchro")->trigger();
    QCOMPARE(rig.engine.snapshot().state, SyncState::Suspended);
    QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->text(), QStringLiteral("Соединение приостановлено"));
    rig.engine.setState(SyncState::Online);
    control<QAction>(f, "NStopSynchro")->trigger();
    QCOMPARE(rig.engine.snapshot().state, SyncState::Offline);
    QVERIFY(!control<QAction>(f, "NStopSynchro")->isChecked());
    // The engine's own change shows in the menu.
    rig.engine.setStopSynchro(true);
    QVERIFY(control<QAction>(f, "NStopSynchro")->isChecked());
}

void TestUiState::clockQuestionShowsTheSuspension()
{
    FaceRig rig;
    MainWindow &f = rig.face;
    QVERIFY(rig.show());
    rig.engine.setState(SyncState::Online);
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

QTEST_MAIN(TestUiState)
#include "tst_ui_state.moc"

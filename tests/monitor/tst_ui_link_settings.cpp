// The link settings window over the engine: "&Принять" starts and stops
// the link thread, every other way out restores the choice, and the
// window's stored settings.

#include "UiFixture.h"
#include "ScriptedPrompt.h"

#include "core/AppState.h"
#include "core/IniFile.h"
#include "core/Settings.h"
#include "link/LinkSettingsBinding.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

class TestUiLinkSettings : public QObject {
    Q_OBJECT
private slots:
    void init() { appState().reset(); }
    void cleanup() { appState().reset(); }

    void linkOkStartsAndStopsTheThread();
    void linkCancelRestoresTheThreadChoice();
    void linkSettingsRestoreAndSave();
};

void TestUiLinkSettings::linkOkStartsAndStopsTheThread()
{
    ScriptedPrompt prompt;
    FaceRig rig;
    SyncEngine &e = rig.engine;
    LinkSettingsWindow *r = rig.rs232;
    QCOMPARE(rig.link.portName(), QStringLiteral("/nonexistent/ttyRUVO"));
    QCOMPARE(r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->currentIndex(), -1);

    // Checking the box and "&Принять": the start is requested, the tick starts the worker.
    prompt.dialogs[QStringLiteral("TRS232")] = [r](QObject *) {
        r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->setChecked(true);
        r->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        return r->result();
    };
    rig.engine.setThreadStartTicks(50);
    QCOMPARE(r->showModal(), int(QDialog::Accepted));
    QVERIFY(e.useThread());
    QCOMPARE(int(rig.engine.snapshot().threadStartTicks), 0);
    for (int i = 0; i < 4; ++i)
        e.timerControlTimer();
    QTRY_VERIFY(e.threadRunning());

    // "&Принять" again with the box still checked starts no second worker.
    prompt.dialogs[QStringLiteral("TRS232")] = [r](QObject *) {
        r->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        return r->result();
    };
    rig.engine.setThreadStartTicks(50);
    r->showModal();
    QCOMPARE(int(rig.engine.snapshot().threadStartTicks), 50);

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
    QVERIFY(!rig.engine.snapshot().paused);
    QVERIFY(e.waitForWorkers(5000));
}

void TestUiLinkSettings::linkCancelRestoresTheThreadChoice()
{
    ScriptedPrompt prompt;
    FaceRig rig;
    SyncEngine &e = rig.engine;
    LinkSettingsWindow *r = rig.rs232;
    rig.engine.setThreadStartTicks(50);

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
        QCOMPARE(int(rig.engine.snapshot().threadStartTicks), 50);
        QCOMPARE(int(rig.link.comPortIndex()), 2);
        r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->setCurrentIndex(0);
    }
    for (int i = 0; i < 6; ++i)
        e.timerControlTimer();
    QVERIFY(!e.threadRunning());

    // With the thread chosen and running, Cancel after unchecking keeps it running.
    e.setUseThread(true);
    r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->setChecked(true);
    rig.engine.setThreadStartTicks(0);
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

void TestUiLinkSettings::linkSettingsRestoreAndSave()
{
    FaceRig rig;
    LinkSettingsWindow *r = rig.rs232;
    IniFile ini;
    ini.writeString(SectionRS232, QStringLiteral("CommPort_PortName"), QStringLiteral("/tmp/demo/ttyRUVO"));
    ini.writeInteger(SectionRS232, QStringLiteral("CB_ComPort_ItemIndex"), -1);
    ini.writeBool(SectionRS232, QStringLiteral("CB_UseThread_Checked"), true);
    rig.settings.read(ini);  // as the program entry does
    r->restoreSettings(ini);
    QCOMPARE(r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->currentIndex(), -1);
    QCOMPARE(int(rig.link.comPortIndex()), -1);
    QCOMPARE(rig.link.portName(), QStringLiteral("/tmp/demo/ttyRUVO"));
    QVERIFY(r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->isChecked());
    QVERIFY(rig.engine.useThread());  // the worker starts on the fourth tick after start

    r->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->setCurrentIndex(4);
    rig.settings.setUseThread(false);  // the closed window's box follows
    QVERIFY(!r->findChild<QCheckBox *>(QStringLiteral("CB_UseThread"))->isChecked());
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

QTEST_MAIN(TestUiLinkSettings)
#include "tst_ui_link_settings.moc"

// What a run starts and ends with: the start-up words, the program and data
// directories, the stored settings read at the first showing and written
// at the close, the answers of an unattended run and the Russian texts of
// the standard buttons.

#include "UiFixture.h"
#include "SyncFixture.h"
#include "ViewFixture.h"

#include "core/AppState.h"
#include "core/Platform.h"
#include "link/DeviceCommands.h"
#include "core/IniFile.h"
#include "core/Settings.h"
#include "core/SettingsStartup.h"
#include "monitor/ui/ClickLabel.h"
#include "monitor/ui/WidgetPrompt.h"

#include <QDir>
#include <QInputDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

class TestUiStartup : public QObject {
    Q_OBJECT
private slots:
    void init() { appState().reset(); }
    void cleanup() { appState().reset(); }

    void startupWordsAndProgramDir();
    void settingsAtShowAndClose_data();
    void settingsAtShowAndClose();
    void unattendedRunAnswersEachQuestionItsOwnWay();
    void standardButtonsAreRussian();
};

void TestUiStartup::startupWordsAndProgramDir()
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

void TestUiStartup::settingsAtShowAndClose_data()
{
    QTest::addColumn<int>("readDaysAgo");
    QTest::addColumn<bool>("rowExists");
    QTest::addColumn<int>("expectedBoundary");
    QTest::newRow("read today: kept") << 0 << true << 5;
    QTest::newRow("read yesterday: all old") << 1 << true << 8;
    QTest::newRow("no such row") << 0 << false << 8;
}

void TestUiStartup::settingsAtShowAndClose()
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
        rig.settings.read(IniFile(path));  // as the program entry does
        f.bindMeasures(&db.dm.measures());
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY(rig.engine.timerControl()->isActive());  // the restore enables the control timer
        QCOMPARE(f.lastCheckedIndex(), expectedBoundary);
        QCOMPARE(int(rig.engine.snapshot().lastStoredIndex), 8);
        QCOMPARE(f.storedValues().maxCardsIndex, 12);
        QVERIFY(rig.engine.snapshot().namesOutOfStep);
        QCOMPARE(int(rig.link.pingDelayMs()), 250);
        QCOMPARE(int(rig.link.sendDelayMs()), 2000);
        QCOMPARE(int(rig.link.baseRequestCount()), 3);
        QVERIFY(rig.link.fixedReceiveWindow());
        QCOMPARE(rig.link.portName(), QStringLiteral("/nonexistent/ttyS9"));
        QCOMPARE(control<ClickLabel>(f, "PanelInfoStatus")->text(), QStringLiteral("Нет соединения"));  // updateStateIndicator ran

        rig.engine.setLastStoredIndex(9);
        rig.engine.setNamesOutOfStep(false);
        QVERIFY(f.close());
        QVERIFY(rig.engine.snapshot().faceNotReady);
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

void TestUiStartup::unattendedRunAnswersEachQuestionItsOwnWay()
{
    SyncRig rig;
    QVERIFY(rig.start());
    rig.sim.addRecords(37);
    rig.sim.withModel([](SimReaderModel &m) { m.clearSlot(10); });
    rig.sim.setClockOffsetSeconds(-3600);
    const CommandResult<ReaderConfigData> config = readReaderConfig(&rig.link);
    QVERIFY(config);
    rig.engine.setReaderConfig(config.value);
    rig.engine.setReaderFindings(true, false, false);
    rig.engine.setState(SyncState::Online);
    WidgetPrompt unattended;  // nobody watches the offscreen platform
    QVERIFY(WidgetPrompt::isUnattendedRun());
    setPrompt(&unattended);
    rig.engine.setPrompt(&unattended);  // as the program hands its prompt to the engine

    // The full read goes on over a slot that cannot be taken up to the newest
    // record and stops at the end of the archive.
    int served = rig.sim.requestsServed();
    rig.engine.readFullArchive();
    QCOMPARE(rig.measuresCount(), 36);
    QCOMPARE(rig.sim.requestsServed() - served, 38);

    // The reader's clock is left alone.
    served = rig.sim.requestsServed();
    rig.engine.checkReaderClock();
    QVERIFY(rig.engine.snapshot().clockQuestionAsked);
    QCOMPARE(rig.sim.requestsServed(), served);

    // The names wait for an operator.
    rig.addNote(rig.measures().first().id, QVariant(), QVariant(), QStringLiteral("Петров"));
    rig.engine.setNamesOutOfStep(true);
    rig.engine.askNameSync(true);
    QVERIFY(rig.engine.snapshot().namesOutOfStep);
    QVERIFY(rig.measures().first().fio.isEmpty());
    setPrompt(&rig.prompt);
}

void TestUiStartup::standardButtonsAreRussian()
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

QTEST_MAIN(TestUiStartup)
#include "tst_ui_startup.moc"

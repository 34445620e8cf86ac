// The settings file and the values kept in it: defaults for a missing or
// damaged file, the file's byte form, the round trip of every key, the list
// sections, and the only-new boundary rule at start.

#include "core/AppState.h"
#include "core/TextCode.h"
#include "core/IniFile.h"
#include "core/LinkSettings.h"
#include "core/Settings.h"
#include "core/WindowPlacements.h"
#include "link/LinkSettingsBinding.h"
#include "link/SerialLink.h"
#include "monitor/core/DatabaseSettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <stdexcept>

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void missingFileGivesDefaults();
    void damagedFileGivesDefaults();
    void needSyncFlagIsTrueOnlyForOne();
    void linkValuesOutOfRangeFallBackAndStayInTheFile();
    void fileIsWindows1251WithCrLf();
    void utf8FileWithMarkKeepsPortAndEncoding();
    void unreadableFileIsNamedAndNotOverwritten();
    void oversizedFileKeepsWindowSectionsInLinearTime();
    void everyKeyRoundTrips();
    void listsKeepCountAndItems();
    void emptiedListComesBackDesigned();
    void placementRejectsBrokenValues();
    void placementsTellTheirChanges();
    void onlyNewBoundaryAtStart();
    void fileLivesInConfigDirectory();
    void linkFollowsItsSettingsWithoutAWindow();
    void databaseSectionReachesTheDriver();
};

void TestSettings::missingFileGivesDefaults()
{
    QTemporaryDir dir;
    IniFile ini(dir.filePath(QStringLiteral("RUVO.INI")));
    QVERIFY(ini.sections().isEmpty());
    FaceStoredValues v;
    readFaceValues(ini, v);
    QCOMPARE(v.pingDelayMS, 300);
    QCOMPARE(v.sendDelayMS, 2000);
    QCOMPARE(v.baseRequestCount, 3);
    QCOMPARE(v.lastStoredIndex, 0);
    QCOMPARE(v.lastCheckedIndex, 0);
    QCOMPARE(v.maxCardsIndex, 0);
    QCOMPARE(v.namesOutOfStep, false);
    QCOMPARE(v.fixedReceiveWindow, false);
    RS232StoredValues r;
    r.portName = QStringLiteral("/dev/ttyS0");
    readRS232Values(ini, r);
    QCOMPARE(r.portName, QStringLiteral("/dev/ttyS0"));
    QCOMPARE(r.comPortItemIndex, 0);
    QCOMPARE(r.useThread, false);
    FormPlacement p;
    QVERIFY(!readPlacement(ini, SectionFace, p));
}

void TestSettings::damagedFileGivesDefaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QByteArray junk("PingDelayMS=5\r\n");  // before any section: belongs to none
    junk += QByteArray("\x00\xFF\xFE garbage \x01\x02", 16);
    junk += "\r\n[TFace\r\nSendDelayMS=7\r\n";  // broken header: its lines are skipped
    junk += "[TFace]\r\nPingDelayMS=abc\r\nBaseRequestCount=\r\n=12\r\nno equals sign\r\n";
    junk += "LastReadedIndex=  41 \r\nINeedSynhroFIO=yes\r\n";
    junk += "[TRS232]\r\nCB_ComPort_ItemIndex=99\r\nCB_UseThread_Checked=perhaps\r\n";
    junk += "[TFace.List]\r\nCount=2000000000\r\nItem0=a\r\n";
    f.write(junk);
    f.close();

    IniFile ini(path);
    FaceStoredValues v;
    readFaceValues(ini, v);
    QCOMPARE(v.pingDelayMS, 300);
    QCOMPARE(v.sendDelayMS, 2000);
    QCOMPARE(v.baseRequestCount, 3);
    QCOMPARE(v.lastStoredIndex, 41);  // a readable key in a damaged file still counts
    QCOMPARE(v.namesOutOfStep, false);
    RS232StoredValues r;
    readRS232Values(ini, r);
    QCOMPARE(r.comPortItemIndex, 0);
    QCOMPARE(r.useThread, false);
    // A damaged count yields no more lines than are stored.
    QStringList lines{QStringLiteral("designed")};
    QVERIFY(ini.readList(QStringLiteral("TFace"), QStringLiteral("List"), lines));
    QCOMPARE(lines, QStringList{QStringLiteral("a")});
}

void TestSettings::needSyncFlagIsTrueOnlyForOne()
{
    IniFile ini;
    FaceStoredValues v;
    for (const char *text : {"2", "-1", "True", "0"}) {
        ini.writeString(SectionFace, QStringLiteral("INeedSynhroFIO"), QString::fromLatin1(text));
        v.namesOutOfStep = true;
        readFaceValues(ini, v);
        QVERIFY2(!v.namesOutOfStep, text);
    }
    ini.writeString(SectionFace, QStringLiteral("INeedSynhroFIO"), QStringLiteral("1"));
    readFaceValues(ini, v);
    QVERIFY(v.namesOutOfStep);
}

void TestSettings::linkValuesOutOfRangeFallBackAndStayInTheFile()
{
    QTemporaryDir dir;
    appState().reset();
    appState().programDir = dir.path() + QLatin1Char('/');
    appState().eventsLogEnabled = true;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    {
        IniFile ini(path);
        ini.writeString(SectionFace, QStringLiteral("PingDelayMS"), QStringLiteral("2147483647"));
        ini.writeString(SectionFace, QStringLiteral("SendDelayMS"), QStringLiteral("99"));
        ini.writeString(SectionFace, QStringLiteral("BaseRequestCount"), QStringLiteral("-1"));
        QVERIFY(ini.save());
    }
    IniFile ini(path);
    FaceStoredValues v;
    v.pingDelayMS = 700;  // the values in force before do not count
    readFaceValues(ini, v);
    QCOMPARE(v.pingDelayMS, 300);
    QCOMPARE(v.sendDelayMS, 2000);
    QCOMPARE(v.baseRequestCount, 3);
    QFile log(dir.filePath(QStringLiteral("Events.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = fromCp1251(log.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    log.close();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).contains(QStringLiteral("PingDelayMS=2147483647")), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).contains(QStringLiteral("SendDelayMS=99")), qPrintable(lines.at(1)));
    QVERIFY2(lines.at(2).contains(QStringLiteral("BaseRequestCount=-1")), qPrintable(lines.at(2)));

    // The file keeps what the operator wrote.
    writeFaceValues(ini, v);
    QVERIFY(ini.save());
    IniFile again(path);
    QCOMPARE(again.readString(SectionFace, QStringLiteral("PingDelayMS")), QStringLiteral("2147483647"));
    QCOMPARE(again.readString(SectionFace, QStringLiteral("SendDelayMS")), QStringLiteral("99"));
    QCOMPARE(again.readString(SectionFace, QStringLiteral("BaseRequestCount")), QStringLiteral("-1"));

    // The ends of the ranges are sane values, taken without a word.
    ini.writeInteger(SectionFace, QStringLiteral("PingDelayMS"), 50);
    ini.writeInteger(SectionFace, QStringLiteral("SendDelayMS"), 60000);
    ini.writeInteger(SectionFace, QStringLiteral("BaseRequestCount"), 10);
    readFaceValues(ini, v);
    QCOMPARE(v.pingDelayMS, 50);
    QCOMPARE(v.sendDelayMS, 60000);
    QCOMPARE(v.baseRequestCount, 10);
    QVERIFY(v.keptAsWritten.isEmpty());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count("\r\n"), 3);
    log.close();

    // A text that is no decimal number is told like a value out of range.
    ini.writeString(SectionFace, QStringLiteral("PingDelayMS"), QStringLiteral("abc"));
    ini.writeString(SectionFace, QStringLiteral("SendDelayMS"), QStringLiteral("0x7D0"));
    ini.writeString(SectionFace, QStringLiteral("BaseRequestCount"), QStringLiteral("1e9"));
    readFaceValues(ini, v);
    QCOMPARE(v.pingDelayMS, 300);
    QCOMPARE(v.sendDelayMS, 2000);
    QCOMPARE(v.baseRequestCount, 3);
    QCOMPARE(v.keptAsWritten.value(QStringLiteral("SendDelayMS")), QStringLiteral("0x7D0"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList all = fromCp1251(log.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(all.size(), 6);
    QVERIFY2(all.at(3).endsWith(QStringLiteral("[TFace] PingDelayMS=abc вне пределов 50..10000, используется 300")),
             qPrintable(all.at(3)));
    QVERIFY2(all.at(4).contains(QStringLiteral("SendDelayMS=0x7D0 вне пределов")), qPrintable(all.at(4)));
    QVERIFY2(all.at(5).contains(QStringLiteral("BaseRequestCount=1e9 вне пределов")), qPrintable(all.at(5)));
    appState().reset();
}

void TestSettings::fileIsWindows1251WithCrLf()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    IniFile ini(path);
    ini.writeString(QStringLiteral("TMeasureFiltr"), QStringLiteral("Caption"), QStringLiteral("Записи"));
    ini.writeInteger(SectionFace, QStringLiteral("PingDelayMS"), 300);
    QVERIFY(ini.save());

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("[TMeasureFiltr]\r\nCaption=\xC7\xE0\xEF\xE8\xF1\xE8\r\n"));
    QVERIFY(bytes.contains("\r\n[TFace]\r\nPingDelayMS=300\r\n"));
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));  // every line ends in CR LF
}

void TestSettings::utf8FileWithMarkKeepsPortAndEncoding()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("\xEF\xBB\xBF[TRS232]\r\nCommPort_PortName=/dev/ttyUSB1\r\nCB_ComPort_ItemIndex=-1\r\n"
            "[TMeasureFiltr]\r\nCaption=" + QStringLiteral("Записи").toUtf8() + "\r\n");
    f.close();

    IniFile ini(path);
    RS232StoredValues r;
    readRS232Values(ini, r);
    QCOMPARE(r.portName, QStringLiteral("/dev/ttyUSB1"));
    QCOMPARE(r.comPortItemIndex, -1);
    QCOMPARE(ini.readString(QStringLiteral("TMeasureFiltr"), QStringLiteral("Caption")), QStringLiteral("Записи"));

    // Saved, it stays UTF-8 with its mark, the operator's values unchanged.
    writeRS232Values(ini, r);
    QVERIFY(ini.save());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF[TRS232]\r\nCommPort_PortName=/dev/ttyUSB1\r\n"));
    QVERIFY(bytes.contains("Caption=" + QStringLiteral("Записи").toUtf8() + "\r\n"));
}

void TestSettings::unreadableFileIsNamedAndNotOverwritten()
{
    QTemporaryDir dir;
    appState().reset();
    appState().programDir = dir.path() + QLatin1Char('/');
    appState().eventsLogEnabled = true;
    // Root reads every file; a directory in the file's place cannot be read by anyone.
    const QString path = dir.filePath(QStringLiteral("config/RUVO.INI"));
    QVERIFY(QDir().mkpath(path));
    for (int i = 0; i < 2; ++i) {  // every window reads the file; it is named once
        IniFile ini(path);
        QCOMPARE(ini.source(), IniFile::Source::Unreadable);
        FaceStoredValues v;
        writeFaceValues(ini, v);
        QVERIFY(!ini.save());
    }
    QVERIFY(QFileInfo(path).isDir());
    QFile log(dir.filePath(QStringLiteral("Events.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QStringList lines = fromCp1251(log.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.at(0).contains(QDir::toNativeSeparators(path) + QStringLiteral(" не читается")), qPrintable(lines.at(0)));
    appState().reset();
}

void TestSettings::oversizedFileKeepsWindowSectionsInLinearTime()
{
    QTemporaryDir dir;
    appState().reset();
    appState().programDir = dir.path() + QLatin1Char('/');
    appState().eventsLogEnabled = true;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    QByteArray text = "[TRS232]\r\nCommPort_PortName=/dev/ttyUSB1\r\n[Junk]\r\n";
    for (int i = 0; text.size() <= IniFile::SizeLimit; ++i)
        text += "Key" + QByteArray::number(i) + "=1\r\n";
    text += "[TMeasureFiltr.VLE_Filters_Strings]\r\nCount=60000\r\n";
    for (int i = 0; i < 60000; ++i)
        text += "Item" + QByteArray::number(i) + "=x\r\n";
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();

    // Sixty thousand keys of one section: a search through the keys for
    // each line took minutes.
    QElapsedTimer clock;
    clock.start();
    IniFile ini(path);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(ini.source(), IniFile::Source::Oversized);
    QCOMPARE(ini.sections(), (QStringList{QStringLiteral("TRS232"), QStringLiteral("TMeasureFiltr.VLE_Filters_Strings")}));
    QCOMPARE(ini.readString(QStringLiteral("TMeasureFiltr.VLE_Filters_Strings"), QStringLiteral("item59999")),
             QStringLiteral("x"));
    QFile log(dir.filePath(QStringLiteral("Events.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = fromCp1251(log.readAll());
    QCOMPARE(logged.count(QStringLiteral("\r\n")), 1);
    QVERIFY2(logged.contains(QDir::toNativeSeparators(path) + QStringLiteral(" слишком велик")), qPrintable(logged));

    // Saved, the file holds the windows' sections only.
    QVERIFY(ini.save());
    IniFile again(path);
    QCOMPARE(again.source(), IniFile::Source::Read);
    QCOMPARE(again.readString(SectionRS232, QStringLiteral("CommPort_PortName")), QStringLiteral("/dev/ttyUSB1"));
    QVERIFY(!again.sectionExists(QStringLiteral("Junk")));
    appState().reset();
}

void TestSettings::everyKeyRoundTrips()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    FaceStoredValues v;
    v.lastStoredIndex = 1234;
    v.lastCheckedIndex = 1200;
    v.maxCardsIndex = 77;
    v.pingDelayMS = 450;
    v.sendDelayMS = 2500;
    v.baseRequestCount = 0;
    v.namesOutOfStep = true;
    v.fixedReceiveWindow = true;
    FormPlacement p;
    p.flags = 2;
    p.showCmd = 3;
    p.pixelsPerInch = 120;
    p.minMaxPos[0] = -1; p.minMaxPos[1] = -1; p.minMaxPos[2] = -8; p.minMaxPos[3] = -8;
    p.normPos[0] = 112; p.normPos[1] = 94; p.normPos[2] = 912; p.normPos[3] = 674;
    p.visible = 1;
    FormPlacement q;
    q.normPos[0] = 10; q.normPos[1] = 20; q.normPos[2] = 310; q.normPos[3] = 220;
    q.activeControl = QStringLiteral("CB_ComPort");
    RS232StoredValues r;
    r.portName = QStringLiteral("/tmp/порт/ttyRUVO");
    r.comPortItemIndex = -1;
    r.useThread = true;
    {
        IniFile ini(path);
        writePlacement(ini, SectionFace, p);
        writeFaceValues(ini, v);
        writePlacement(ini, SectionRS232, q, true);
        writeRS232Values(ini, r);
        QVERIFY(ini.save());
    }
    IniFile ini(path);
    QCOMPARE(ini.readString(SectionFace, QStringLiteral("NormPos")), QStringLiteral("112,94,912,674"));
    QCOMPARE(ini.readString(SectionRS232, QStringLiteral("CB_UseThread_Checked")), QStringLiteral("True"));
    QCOMPARE(ini.readString(SectionFace, QStringLiteral("INeedSynhroFIO")), QStringLiteral("1"));
    QCOMPARE(ini.keys(SectionFace),
             (QStringList{"FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos", "NormPos", "Visible",
                          "LastReadedIndex", "LastCheckedIndex", "MaxCardsIndex", "PingDelayMS",
                          "FixedReceiveWindow", "SendDelayMS", "BaseRequestCount", "INeedSynhroFIO"}));
    FaceStoredValues v2;
    readFaceValues(ini, v2);
    QCOMPARE(v2.lastStoredIndex, 1234);
    QCOMPARE(v2.lastCheckedIndex, 1200);
    QCOMPARE(v2.maxCardsIndex, 77);
    QCOMPARE(v2.pingDelayMS, 450);
    QCOMPARE(v2.sendDelayMS, 2500);
    QCOMPARE(v2.baseRequestCount, 0);
    QCOMPARE(v2.namesOutOfStep, true);
    QCOMPARE(v2.fixedReceiveWindow, true);
    FormPlacement p2;
    QVERIFY(readPlacement(ini, SectionFace, p2));
    QCOMPARE(p2.flags, 2);
    QVERIFY(p2.maximised());
    QCOMPARE(p2.pixelsPerInch, 120);
    QCOMPARE(p2.minMaxPos[2], -8);
    QCOMPARE(p2.width(), 800);
    QCOMPARE(p2.height(), 580);
    QCOMPARE(p2.visible, 1);
    FormPlacement q2;
    QVERIFY(readPlacement(ini, SectionRS232, q2, true));
    QCOMPARE(q2.activeControl, QStringLiteral("CB_ComPort"));
    RS232StoredValues r2;
    readRS232Values(ini, r2);
    QCOMPARE(r2.portName, r.portName);
    QCOMPARE(r2.comPortItemIndex, -1);
    QCOMPARE(r2.useThread, true);
    // Section and key names compare without regard to case, as the file format expects.
    QCOMPARE(ini.readInteger(QStringLiteral("tface"), QStringLiteral("pingdelayms"), 0), 450);
}

void TestSettings::listsKeepCountAndItems()
{
    IniFile ini;
    const QStringList filters{QStringLiteral("Записи с начала месяца=DateTime>={Начало месяца}"),
                              QStringLiteral("С пометкой пользователя=Check")};
    ini.writeList(QStringLiteral("TMeasureFiltr"), QStringLiteral("VLE_Filters_Strings"), filters);
    const QString sec = QStringLiteral("TMeasureFiltr.VLE_Filters_Strings");
    QCOMPARE(ini.readInteger(sec, QStringLiteral("Count"), 0), 2);
    QCOMPARE(ini.readString(sec, QStringLiteral("Item1")), filters[1]);
    // A shorter list replaces the longer one entirely.
    ini.writeList(QStringLiteral("TMeasureFiltr"), QStringLiteral("VLE_Filters_Strings"), {QStringLiteral("x=Dose>1")});
    QVERIFY(!ini.valueExists(sec, QStringLiteral("Item1")));
    IniFile copy;
    copy.fromBytes(ini.toBytes());
    QStringList lines;
    QVERIFY(copy.readList(QStringLiteral("TMeasureFiltr"), QStringLiteral("VLE_Filters_Strings"), lines));
    QCOMPARE(lines, QStringList{QStringLiteral("x=Dose>1")});
}

void TestSettings::emptiedListComesBackDesigned()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    {
        IniFile ini(path);
        ini.writeList(QStringLiteral("TFiltrRecordDetail"), QStringLiteral("ComboBox1_Items"), {QStringLiteral("a")});
        QVERIFY(ini.save());
    }
    {
        IniFile ini(path);
        ini.writeList(QStringLiteral("TFiltrRecordDetail"), QStringLiteral("ComboBox1_Items"), {});
        QVERIFY(ini.save());
    }
    IniFile ini(path);
    QVERIFY(!ini.sectionExists(QStringLiteral("TFiltrRecordDetail.ComboBox1_Items")));
    const QStringList designed{QStringLiteral("Дата"), QStringLiteral("Доза, мкЗв")};
    QStringList lines = designed;
    QVERIFY(!ini.readList(QStringLiteral("TFiltrRecordDetail"), QStringLiteral("ComboBox1_Items"), lines));
    QCOMPARE(lines, designed);
}

void TestSettings::placementRejectsBrokenValues()
{
    IniFile ini;
    FormPlacement p;
    ini.writeString(SectionFace, QStringLiteral("NormPos"), QStringLiteral("1,2,3"));
    QVERIFY(!readPlacement(ini, SectionFace, p));
    ini.writeString(SectionFace, QStringLiteral("NormPos"), QStringLiteral("100,100,50,300"));
    QVERIFY(!readPlacement(ini, SectionFace, p));  // no width
    ini.writeString(SectionFace, QStringLiteral("NormPos"), QStringLiteral("100,100,500,x"));
    QVERIFY(!readPlacement(ini, SectionFace, p));
    ini.writeString(SectionFace, QStringLiteral("NormPos"), QStringLiteral("100,100,500,300"));
    ini.writeString(SectionFace, QStringLiteral("FormVersion"), QStringLiteral("-1"));
    QVERIFY(!readPlacement(ini, SectionFace, p));
    ini.writeString(SectionFace, QStringLiteral("FormVersion"), QStringLiteral("0"));
    QVERIFY(readPlacement(ini, SectionFace, p));
    QCOMPARE(p.width(), 400);
}

void TestSettings::placementsTellTheirChanges()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    {
        IniFile other(path);
        other.writeString(QStringLiteral("TCards"), QStringLiteral("NormPos"), QStringLiteral("1,2,300,400"));
        QVERIFY(other.save());
    }
    WindowPlacements &placements = WindowPlacements::forFile(path);
    QCOMPARE(&WindowPlacements::forFile(path), &placements);
    QSignalSpy changed(&placements, &WindowPlacements::placementChanged);

    FormPlacement p = placementOf(QRect(10, 20, 300, 200), 96);
    QVERIFY(placements.write(QStringLiteral("TSpectrumADC"), p));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.takeFirst().at(0).toString(), QStringLiteral("TSpectrumADC"));
    // The same keys as ever, the other sections left as they were.
    IniFile expected(path);
    writePlacement(expected, QStringLiteral("TSpectrumADC"), p);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected.toBytes());
    QVERIFY(expected.toBytes().contains("[TCards]\r\nNormPos=1,2,300,400\r\n"));
    QVERIFY(expected.toBytes().contains("NormPos=10,20,310,220\r\n"));

    QVERIFY(placements.write(QStringLiteral("TSpectrumADC"), p));  // nothing changed
    QCOMPARE(changed.size(), 0);
    FormPlacement back;
    QVERIFY(placements.readAt(QStringLiteral("TSpectrumADC"), 96, back));
    QCOMPARE(back.width(), 300);
    QVERIFY(!placements.readAt(QStringLiteral("TSpectrumADC"), 120, back));

    // Written with other values into content the caller saves.
    IniFile ini(path);
    p.showCmd = 3;
    placements.write(ini, QStringLiteral("TFace"), p);
    QCOMPARE(changed.size(), 1);
    QVERIFY(ini.save());
    QVERIFY(placements.read(QStringLiteral("TFace"), back));
    QVERIFY(back.maximised());

    // A file that cannot be written reports it and tells no change.
    WindowPlacements &nowhere = WindowPlacements::forFile(dir.filePath(QStringLiteral("no/such/dir/RUVO.INI")));
    QSignalSpy none(&nowhere, &WindowPlacements::placementChanged);
    QVERIFY(!nowhere.write(QStringLiteral("TFace"), p));
    QCOMPARE(none.size(), 0);
}

void TestSettings::onlyNewBoundaryAtStart()
{
    const QDate today(2026, 12, 9);
    const QDateTime todayMorning(today, QTime(0, 0, 0));
    const QDateTime yesterdayEvening(today.addDays(-1), QTime(23, 59, 59, 999));
    auto rowWith = [](const QDateTime &t) {
        return [t](int index) -> std::optional<QDateTime> {
            if (index != 57)
                return std::nullopt;
            return t;
        };
    };
    QCOMPARE(settleOnlyNewBoundary(57, 90, rowWith(todayMorning), today), 57);      // read today: kept
    QCOMPARE(settleOnlyNewBoundary(57, 90, rowWith(yesterdayEvening), today), 90);  // yesterday: all old
    QCOMPARE(settleOnlyNewBoundary(58, 90, rowWith(todayMorning), today), 90);      // no such row
    QCOMPARE(settleOnlyNewBoundary(57, 90, rowWith(QDateTime()), today), 90);       // blank time
    auto failing = [](int) -> std::optional<QDateTime> { throw std::runtime_error("table closed"); };
    QCOMPARE(settleOnlyNewBoundary(57, 90, failing, today), 90);
}

void TestSettings::fileLivesInConfigDirectory()
{
    QTemporaryDir dir;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    const QString path = settingsFilePath(QStringLiteral("/opt/ruvo/bin/RUVO"));
    if (old.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", old);
    QCOMPARE(path, dir.path() + QStringLiteral("/RUVO.INI"));
    QCOMPARE(settingsFileName(QStringLiteral("C:/W/P/RUVO/ruvo.exe")), QStringLiteral("ruvo.INI"));
}

void TestSettings::linkFollowsItsSettingsWithoutAWindow()
{
    IniFile ini;
    ini.writeString(SectionRS232, QStringLiteral("CommPort_PortName"), QStringLiteral("/tmp/ruvo/ttyA"));
    ini.writeInteger(SectionRS232, QStringLiteral("CB_ComPort_ItemIndex"), -1);
    ini.writeInteger(SectionFace, QStringLiteral("PingDelayMS"), 450);
    ini.writeInteger(SectionFace, QStringLiteral("FixedReceiveWindow"), 1);

    SerialLink link;
    LinkSettings settings;
    followLinkSettings(link, settings);
    QCOMPARE(settings.port().portName, link.portName());  // no stored name yet: the link's
    QCOMPARE(int(link.comPortIndex()), 0);                // COM1, as the window's box starts
    QSignalSpy portSpy(&settings, &LinkSettings::portChanged);
    QSignalSpy timingSpy(&settings, &LinkSettings::timingChanged);
    settings.read(ini);
    QCOMPARE(link.portName(), QStringLiteral("/tmp/ruvo/ttyA"));
    QCOMPARE(int(link.comPortIndex()), -1);
    QCOMPARE(int(link.pingDelayMs()), 450);
    QCOMPARE(int(link.sendDelayMs()), 2000);
    QVERIFY(link.fixedReceiveWindow());
    settings.read(ini);  // the same values again: nobody is told
    QCOMPARE(portSpy.count(), 1);
    QCOMPARE(timingSpy.count(), 1);

    // A later change reaches the link at once; the name written is the one
    // the link uses then (an open by number renames it), the timing values
    // stay with the main window's section.
    settings.setComPortIndex(2);
    QCOMPARE(int(link.comPortIndex()), 2);
    link.setPortName(QStringLiteral("/tmp/ruvo/ttyB"));
    settings.setUseThread(true);
    QCOMPARE(link.portName(), QStringLiteral("/tmp/ruvo/ttyB"));  // the unchanged stored name is not put back
    IniFile out;
    settings.writePort(out);
    QCOMPARE(out.readString(SectionRS232, QStringLiteral("CommPort_PortName")), QStringLiteral("/tmp/ruvo/ttyB"));
    QCOMPARE(out.readInteger(SectionRS232, QStringLiteral("CB_ComPort_ItemIndex"), -9), 2);
    QCOMPARE(out.readString(SectionRS232, QStringLiteral("CB_UseThread_Checked")), QStringLiteral("True"));
    QVERIFY(!out.sectionExists(SectionFace));
}

void TestSettings::databaseSectionReachesTheDriver()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Database]\r\nDriver=qpsql\r\nHost=db.local\r\nName=ruvo\r\nUser=op1\r\nSslMode=verify-full\r\n"
            "ServiceRole=site_service\r\n");
    f.close();
    const StoreConnection c = databaseSettings(IniFile(path));
    QVERIFY(c.server());
    QCOMPARE(c.sslMode, QStringLiteral("verify-full"));
    QCOMPARE(c.serviceRole, QStringLiteral("site_service"));
    QVERIFY(c.connectOptions().split(QLatin1Char(';')).contains(QStringLiteral("sslmode=verify-full")));
    // Without the keys: libpq's own default, the shipped role name.
    const StoreConnection plain = databaseSettings(IniFile(dir.filePath(QStringLiteral("none.ini"))));
    QVERIFY(!plain.connectOptions().contains(QLatin1String("sslmode")));
    QCOMPARE(plain.serviceRole, QStringLiteral("ruvo_service"));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"

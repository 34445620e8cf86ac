// The shared pieces under every subsystem: the program's text code, the log
// files and their time stamps, and the scripted prompt the other tests use.

#include "ScriptedPrompt.h"
#include "core/AppState.h"
#include "core/LogFiles.h"
#include "core/TextCode.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestCore : public QObject {
    Q_OBJECT
private slots:
    void cp1251RoundTrip();
    void timeStamps();
    void eventsLogAppendsOnlyWhenOn();
    void unwritableLogIsSilent();
    void promptRecordsAndAnswers();
};

void TestCore::cp1251RoundTrip()
{
    const QString name = QStringLiteral("Иванов №1 ¤•");
    const QByteArray bytes = toCp1251(name);
    QCOMPARE(bytes.left(6), QByteArray("\xC8\xE2\xE0\xED\xEE\xE2"));
    QCOMPARE(uchar(bytes.at(7)), uchar(0xB9));  // №
    QCOMPARE(uchar(bytes.at(bytes.size() - 1)), uchar(0x95));  // the heartbeat bullet
    QCOMPARE(fromCp1251(bytes), name);
}

void TestCore::timeStamps()
{
    const QDateTime t(QDate(2026, 12, 8), QTime(13, 30, 25));
    QCOMPARE(logTimeStamp(t), QStringLiteral("08.12.2026 13:30:25"));
    const QDateTime midnight(QDate(2026, 12, 8), QTime(0, 0, 0));
    QCOMPARE(logTimeStamp(midnight), QStringLiteral("08.12.2026 00:00:00"));
    QCOMPARE(logTimeStamp(midnight, true), QStringLiteral("08.12.2026"));
}

void TestCore::eventsLogAppendsOnlyWhenOn()
{
    QTemporaryDir dir;
    appState().reset();
    appState().programDir = dir.path() + QLatin1Char('/');
    const QString path = appState().programDir + QStringLiteral("Events.log");

    logEvent(QStringLiteral("не пишется"));
    QVERIFY(!QFile::exists(path));

    appState().eventsLogEnabled = true;
    logEvent(QStringLiteral("Ошибка диапазона архива"));
    logEvent(QStringLiteral("второе"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    const QList<QByteArray> lines = all.split('\n');
    QCOMPARE(lines.size(), 3);  // two lines and the empty rest after the last LF
    QVERIFY(lines[0].endsWith("\r"));
    QVERIFY(fromCp1251(lines[0]).contains(QStringLiteral(" >Ошибка диапазона архива")));
    QVERIFY(lines[0].contains(toCp1251(QStringLiteral("Ошибка диапазона архива"))));
    appState().reset();
}

void TestCore::unwritableLogIsSilent()
{
    QVERIFY(!appendLogLines(QStringLiteral("/nonexistent-dir/x/rs232.log"), {QStringLiteral("x")}));
    appState().reset();
    appState().eventsLogEnabled = true;
    appState().programDir = QStringLiteral("/nonexistent-dir/x/");
    logEvent(QStringLiteral("потеряно"));  // must neither raise nor crash
    appState().reset();
}

void TestCore::promptRecordsAndAnswers()
{
    ScriptedPrompt p;
    p.answers = {PromptButton::Cancel};
    QCOMPARE(activePrompt().message(MsgKind::Warning, QStringLiteral("a"), PromptButton::Ok | PromptButton::Cancel), PromptButton::Cancel);
    QCOMPARE(activePrompt().message(MsgKind::Error, QStringLiteral("b"), PromptButton::Ok), PromptButton::Ok);
    QCOMPARE(p.texts(), QStringList({QStringLiteral("a"), QStringLiteral("b")}));
    p.inputs = {QStringLiteral("25"), QString()};
    QString v = QStringLiteral("1000");
    QVERIFY(activePrompt().input(QStringLiteral("c"), QStringLiteral("l"), v));
    QCOMPARE(v, QStringLiteral("25"));
    QVERIFY(!activePrompt().input(QStringLiteral("c"), QStringLiteral("l"), v));
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"

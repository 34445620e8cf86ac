// The program itself, started as real processes: one copy per user (a second
// start says so and ends without disturbing the first), and an ordinary run
// that closes itself, saves its settings and leaves its tables behind.

#include "core/TextCode.h"
#include "core/IniFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestUiInstance : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void secondCopyEndsAndFirstRunsOn();

private:
    QString program() const;
    QProcessEnvironment environment(int exitAfterMs) const;

    QTemporaryDir m_dir;
};

void TestUiInstance::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFile::exists(program()), qPrintable(program()));
    // A runtime directory of its own: the lock of a monitor the user runs
    // meanwhile is not this test's business.
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("runtime"))));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString TestUiInstance::program() const
{
    QString bin = qEnvironmentVariable("RUVO_BIN_DIR");
    if (bin.isEmpty())
        bin = QCoreApplication::applicationDirPath();
    return bin + QStringLiteral("/RUVO");
}

QProcessEnvironment TestUiInstance::environment(int exitAfterMs) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("RUVO_PROGRAM_DIR"), m_dir.filePath(QStringLiteral("program")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("runtime")));
    if (exitAfterMs > 0)
        env.insert(QStringLiteral("RUVO_EXIT_AFTER_MS"), QString::number(exitAfterMs));
    else
        env.remove(QStringLiteral("RUVO_EXIT_AFTER_MS"));
    return env;
}

void TestUiInstance::secondCopyEndsAndFirstRunsOn()
{
    QProcess first;
    first.setProcessEnvironment(environment(4000));
    first.start(program(), {QStringLiteral("eventsLOG")});
    QVERIFY(first.waitForStarted(5000));
    // The first copy is up once it has created its tables.
    const QString measures = m_dir.filePath(QStringLiteral("program/Data/Measures.DB"));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(measures), 10000);

    QProcess second;
    second.setProcessEnvironment(environment(0));
    second.start(program(), {});
    QVERIFY(second.waitForStarted(5000));
    QVERIFY2(second.waitForFinished(10000), "the second copy must end by itself");
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    const QString said = QString::fromUtf8(second.readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("Одна копия программы \"RUVO - Монитор\" уже запущена")), qPrintable(said));

    // The first copy is not disturbed: it runs on and then closes the ordinary way.
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(first.exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.exitCode(), 0);
    const QString out = QString::fromUtf8(first.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("Measures holds 0 readings")), qPrintable(out));

    // It saved its settings at the close, in the configuration directory.
    IniFile ini(m_dir.filePath(QStringLiteral("config/RUVO.INI")));
    QCOMPARE(ini.readInteger(QStringLiteral("TFace"), QStringLiteral("PingDelayMS"), -1), 300);
    QVERIFY(ini.valueExists(QStringLiteral("TRS232"), QStringLiteral("CB_UseThread_Checked")));

    // Once the first copy has ended, the program starts again.
    QProcess third;
    third.setProcessEnvironment(environment(1000));
    third.start(program(), {});
    QVERIFY(third.waitForFinished(20000));
    QCOMPARE(third.exitCode(), 0);
    QVERIFY(!QString::fromUtf8(third.readAllStandardError()).contains(QStringLiteral("Одна копия")));
}

QTEST_GUILESS_MAIN(TestUiInstance)
#include "tst_ui_instance.moc"

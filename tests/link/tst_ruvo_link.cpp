// ruvo-link as a process against reader-sim as a process: numbers on the
// command line, what is refused before anything goes out, the commands that
// need the reader's configuration first, the reasons given for failures, the
// port path and the printed doses.

#include "link/TarnFrame.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString binary(const QString &name)
{
    QString dirPath = qEnvironmentVariable("RUVO_BIN_DIR");
    if (dirPath.isEmpty())
        dirPath = QCoreApplication::applicationDirPath();
    const QString path = QDir(dirPath).filePath(name);
    return QFileInfo(path).isExecutable() ? path : QString();
}

// reader-sim running on its pseudo-terminal, told things on its standard input.
struct Reader {
    QProcess proc;
    QString port;

    bool start(const QStringList &args)
    {
        proc.start(binary(QStringLiteral("reader-sim")), args);
        if (!proc.waitForStarted(5000) || !proc.waitForReadyRead(5000))
            return false;
        port = QString::fromUtf8(proc.readLine()).trimmed();
        return port.startsWith(QLatin1Char('/'));
    }
    QString tell(const QString &line)
    {
        proc.write(line.toUtf8() + '\n');
        QElapsedTimer waited;
        waited.start();
        while (!proc.canReadLine() && waited.elapsed() < 5000)
            proc.waitForReadyRead(100);
        return QString::fromUtf8(proc.readLine()).trimmed();
    }
    ~Reader()
    {
        if (proc.state() == QProcess::NotRunning)
            return;
        proc.write("quit\n");
        if (!proc.waitForFinished(5000))
            proc.kill();
        proc.waitForFinished(1000);
    }
};

struct Run {
    int exitCode = -1;
    QByteArray stdOut;
    QJsonObject out;
    QString error() const { return out.value(QStringLiteral("Error")).toString(); }
};

Run tool(const QString &workDir, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.start(binary(QStringLiteral("ruvo-link")), args);
    Run r;
    if (!p.waitForFinished(20000))
        return r;
    r.exitCode = p.exitCode();
    r.stdOut = p.readAllStandardOutput();
    r.out = QJsonDocument::fromJson(r.stdOut).object();
    return r;
}

QString hexLine(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper()) + QLatin1Char(' ');
}

QStringList logLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    return lines;
}

const QString Silent = QStringLiteral("Считыватель не ответил");

} // namespace

class TestRuvoLink : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList base(const QString &port) const
    {
        return {QStringLiteral("--port"), port, QStringLiteral("--ping-ms"), QStringLiteral("200"),
                QStringLiteral("--send-ms"), QStringLiteral("400"), QStringLiteral("--rs232log"),
                QStringLiteral("--log-dir"), m_dir.path()};
    }
    QString rs232Log() const { return m_dir.filePath(QStringLiteral("rs232.log")); }

private slots:
    void init()
    {
        if (binary(QStringLiteral("reader-sim")).isEmpty() || binary(QStringLiteral("ruvo-link")).isEmpty())
            QSKIP("reader-sim or ruvo-link not built next to the tests");
        QFile::remove(rs232Log());
    }

    void numbersAreDecimalAndCheckedBeforeSending()
    {
        Reader reader;
        QVERIFY(reader.start({QStringLiteral("--records"), QStringLiteral("12"), QStringLiteral("--inserted")}));
        const QStringList b = base(reader.port);

        // Leading zeros: decimal, not octal (which would give 83 and 8).
        QCOMPARE(tool(m_dir.path(), b + QStringList{"write-number", "00123", "on"}).exitCode, 0);
        QCOMPARE(tool(m_dir.path(), b + QStringList{"read-number"}).out.value("Number").toInt(), 123);
        const Run rec = tool(m_dir.path(), b + QStringList{"read-record", "010"});
        QCOMPARE(rec.exitCode, 0);
        QCOMPARE(rec.out.value("RecordNumber").toInt(), 10);

        // Arguments the reader or the encoding cannot take: usage errors, nothing on the line.
        QFile::remove(rs232Log());
        const QList<QStringList> refused = {
            {"read-record", "0"},        {"read-record", "2001"},      {"set-mode", "2"},
            {"write-coeffs", "5", "nan"}, {"write-coeffs", "5", "inf"}, {"write-coeffs", "5", "-1"},
            {"write-coeffs", "5", "1e32"}, {"write-coeffs", "5", "9e-33"}, {"read-spectrum", "15"},
            // The monitor's ranges of the timing values; one port, not two.
            {"--ping-ms", "0", "ping"},   {"--send-ms", "0", "ping"},   {"--ping-ms", "10001", "ping"},
            {"--send-ms", "60001", "ping"}, {"--repeats", "11", "ping"}, {"--com", "1", "ping"}};
        for (const QStringList &words : refused)
            QVERIFY2(tool(m_dir.path(), b + words).exitCode == 2, qPrintable(words.join(' ')));
        QVERIFY(!QFileInfo::exists(rs232Log()));

        // Doses: the decimal the reader holds, without a floating-point tail
        // (the generated archive holds such doses among its first records).
        const QRegularExpression doseText(QStringLiteral("\"Dose\": ([-0-9.e+]+)"));
        for (int n = 1; n <= 6; ++n) {
            const Run r = tool(m_dir.path(), b + QStringList{"read-record", QString::number(n)});
            const QString text = doseText.match(QString::fromUtf8(r.stdOut)).captured(1);
            QString digits = text.section(QLatin1Char('e'), 0, 0).remove(QLatin1Char('.'));
            while (digits.startsWith(QLatin1Char('0')))
                digits.remove(0, 1);
            while (digits.endsWith(QLatin1Char('0')))
                digits.chop(1);
            QVERIFY2(!text.isEmpty() && digits.size() <= 4, qPrintable(QString::fromUtf8(r.stdOut)));
        }
    }

    void readerAnsweringAfterTheWindow()
    {
        // 400 ms after the request, after the 300 ms window: heard at once.
        Reader reader;
        QVERIFY(reader.start({QStringLiteral("--paced"), QStringLiteral("--turnaround"), QStringLiteral("400")}));
        const Run r = tool(m_dir.path(), {"--port", reader.port, "--rs232log", "--log-dir", m_dir.path(), "read-config"});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(logLines(rs232Log()).value(1).endsWith(QStringLiteral("(1)")));
    }

    void modeCommandsReadTheConfigurationFirst()
    {
        Reader reader;
        QVERIFY(reader.start({QStringLiteral("--inserted")}));
        const QStringList b = base(reader.port);

        // Without mode switching the mode and the spectrum header are refused
        // after the configuration read, the only exchange.
        for (const QStringList &words : {QStringList{"set-mode", "1"}, QStringList{"read-spectrum-header"}}) {
            QFile::remove(rs232Log());
            const Run r = tool(m_dir.path(), b + words);
            QCOMPARE(r.exitCode, 1);
            QCOMPARE(r.out.value("ReaderModeSwitching").toInt(), 0);
            QVERIFY(!r.error().isEmpty());
            QCOMPARE(logLines(rs232Log()).size(), 2);
        }

        // With it, the metrology write carries its trailing zero byte.
        QVERIFY(reader.tell(QStringLiteral("switching on")).startsWith(QStringLiteral("ok")));
        QCOMPARE(tool(m_dir.path(), b + QStringList{"set-mode", "1"}).exitCode, 0);
        QFile::remove(rs232Log());
        const Run w = tool(m_dir.path(), b + QStringList{"write-coeffs", "5", "1.5"});
        QCOMPARE(w.exitCode, 0);
        const QStringList lines = logLines(rs232Log());
        QCOMPARE(lines.size(), 4);
        const QByteArray request =
            buildPacket(BroadcastAddress, MonitorAddress, 8, 1, metrologyWriteBody(5, 1.5, true));
        QVERIFY2(lines[2].endsWith(QStringLiteral(" >") + hexLine(request)), qPrintable(lines[2]));
    }

    void failuresSayWhy()
    {
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("t0")));
        Reader reader;
        QVERIFY(reader.start({QStringLiteral("--inserted"), QStringLiteral("--link"),
                              m_dir.filePath(QStringLiteral("t0/tty"))}));
        const QStringList b = base(reader.port) + QStringList{QStringLiteral("--repeats"), QStringLiteral("0")};

        QVERIFY(reader.tell(QStringLiteral("fault noreply 1")).startsWith(QStringLiteral("ok")));
        Run r = tool(m_dir.path(), b + QStringList{"ping"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.error(), Silent);
        // A silent reader is not a spectrum block of the wrong size; a short block is.
        QVERIFY(reader.tell(QStringLiteral("fault noreply 1")).startsWith(QStringLiteral("ok")));
        QCOMPARE(tool(m_dir.path(), b + QStringList{"read-spectrum", "0"}).error(), Silent);
        QVERIFY(reader.tell(QStringLiteral("fault spectrum 1")).startsWith(QStringLiteral("ok")));
        QCOMPARE(tool(m_dir.path(), b + QStringList{"read-spectrum", "0"}).error(),
                 QStringLiteral("Ошибка размера пакета спектра"));

        QVERIFY(reader.tell(QStringLiteral("busy on")).startsWith(QStringLiteral("ok")));
        QCOMPARE(tool(m_dir.path(), b + QStringList{"read-config"}).error(),
                 QStringLiteral("Считыватель занят (отказ с кодом 5)"));
        QVERIFY(reader.tell(QStringLiteral("busy off")).startsWith(QStringLiteral("ok")));
        QVERIFY(reader.tell(QStringLiteral("remove")).startsWith(QStringLiteral("ok")));
        QCOMPARE(tool(m_dir.path(), b + QStringList{"read-number"}).error(),
                 QStringLiteral("Считыватель отказал в запросе (код 2)"));

        // The archive read keeps the connection error to itself; the tool does not.
        r = tool(m_dir.path(), {"--port", m_dir.filePath("missing"), "read-record", "5"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.error(), SerialLink::connectFailureText());

        // A relative path is taken from the current directory, not from /dev/.
        r = tool(m_dir.path(), {"--port", "t0/tty", "ping"});
        QCOMPARE(r.exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestRuvoLink)
#include "tst_ruvo_link.moc"

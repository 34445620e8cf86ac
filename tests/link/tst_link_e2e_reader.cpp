// The simulated reader itself, as the link, the synchronisation tests and the
// demo rely on it: the archive ring, what it answers and what it ignores, the
// queued faults, line pacing, stale bytes on the terminal, and the reader-sim
// program's options and ending.

#include "LinkE2EFixture.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QtTest>

namespace {

QByteArray request(quint8 function, quint8 selector, const QByteArray &body,
                   const QString &destination = BroadcastAddress)
{
    return buildPacket(destination, MonitorAddress, function, selector, body);
}

// Writes a request straight to the terminal (no serial port code, nothing
// flushed on open), waits settleMs and collects what arrives within waitMs.
QByteArray rawExchange(const QString &path, const QByteArray &req, int waitMs, int settleMs = 0)
{
    QFile port(path);
    if (!port.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return QByteArray("open failed");
    port.write(req);
    QThread::msleep(settleMs);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < waitMs) {
        const QByteArray chunk = port.read(512); // the terminal is raw: a read never waits
        if (chunk.isEmpty())
            QThread::msleep(5);
        got += chunk;
    }
    return got;
}

} // namespace

class TestReaderSim : public QObject {
    Q_OBJECT

private slots:
    void archiveRing();
    void requestsAnsweredAndIgnored();
    void queuedFaults();
    void pacingAndTurnaround();
    void staleBytesDiscardedAtNextRequest();
    void programOptionsAndEnding();
};

void TestReaderSim::archiveRing()
{
    SimReaderModel m;
    QCOMPARE(m.recordCount(), 0);
    QVERIFY(m.record(1).empty);
    QCOMPARE(m.record(1).timeBytes, QByteArray(5, '\0'));

    m.addRecords(1995);
    QCOMPARE(m.recordCount(), 1995);
    m.addRecords(10); // past 2000 the ring goes on at 1
    QCOMPARE(m.recordCount(), 5);
    QCOMPARE(m.recordsWritten(), 2005);
    QVERIFY(m.record(1).time > m.record(2000).time);
    QVERIFY(m.record(6).time < m.record(2000).time); // slot 6 still holds the first lap
    for (int n = 2; n <= 2000; ++n)
        QVERIFY2(n == 6 || m.record(n).time > m.record(n - 1).time, qPrintable(QString::number(n)));
    QCOMPARE(m.record(5).time.time().second(), 0);

    bool small = false, large = false, cut = false, cyrillic = false;
    for (int n = 1; n <= 2000; ++n) {
        const SimRecord r = m.record(n);
        QCOMPARE(r.nameCode.size(), 16);
        small |= r.doseMicroSv < 100;
        large |= r.doseMicroSv >= 1000;
        cut |= r.name.startsWith(QStringLiteral("Константинопольс")) && r.name.size() == 16;
        cyrillic |= r.name.startsWith(QStringLiteral("Иванов И.И."));
        QVERIFY(r.id > 0 && r.id <= 0xFFFFFF);
    }
    QVERIFY(small && large && cut && cyrillic);

    // One reading: the dose survives as its three significant digits.
    const QDateTime when(QDate(2026, 12, 8), QTime(14, 30));
    QCOMPARE(m.addRecord(when, 42, QStringLiteral("Петров"), 12345.0), 6);
    QCOMPARE(m.record(6).timeBytes, QByteArray::fromHex("3014081226"));
    QCOMPARE(m.record(6).doseMicroSv, 12300.0);
    QCOMPARE(m.record(6).name, QStringLiteral("Петров          "));

    // Generated readings continue after the newest time even when the clock
    // is behind it.
    m.setClockOffsetSeconds(-365LL * 24 * 3600);
    m.addRecords(2);
    QVERIFY(m.record(8).time > m.record(7).time && m.record(7).time > when);

    m.setRecordCount(2000);
    QCOMPARE(m.addRecord(when.addDays(1), 1, QStringLiteral("А"), 1.0), 1);
    m.clearArchive();
    QCOMPARE(m.recordCount(), 0);
    QVERIFY(m.record(1).empty);
}

void TestReaderSim::requestsAnsweredAndIgnored()
{
    SimReaderModel m;
    m.setAddress(0x010203);
    const QByteArray config = request(6, 1, QByteArray(2, '\0'));
    QCOMPARE(m.handle(config).size(), 52);
    QCOMPARE(frameAddress(m.handle(config), 3), quint32(0x010203));
    QCOMPARE(frameAddress(m.handle(config), 0), quint32(0x010101)); // back to the requester
    QVERIFY(frameIsConsistent(m.handle(config)));

    // Addressed to the reader itself: answered; to another device: silence.
    QCOMPARE(m.handle(request(6, 1, QByteArray(2, '\0'), QStringLiteral("1.2.3"))).size(), 52);
    QVERIFY(m.handle(request(6, 1, QByteArray(2, '\0'), QStringLiteral("1.2.4"))).isEmpty());

    // A request damaged on the line is not answered.
    QByteArray bad = config;
    bad[15] = char(bad[15] ^ 1);
    QVERIFY(m.handle(bad).isEmpty());
    QVERIFY(m.handle(config.left(19)).isEmpty());

    // What the reader does not know is refused with code 1.
    for (const QByteArray &unknown :
         {request(6, 1, archiveRecordRequestBody(2001)), request(6, 17, QByteArray(1, char(15))),
          request(6, 125, QByteArray(1, char(3))), request(9, 1, QByteArray(2, '\0'))}) {
        const QByteArray r = m.handle(unknown);
        QCOMPARE(r.size(), 19);
        QCOMPARE(quint8(r[6]), quint8(3));
        QCOMPARE(quint8(r[14]), quint8(1));
    }
    // Register access: code 2 without a dosimeter, code 1 for a malformed write.
    const QByteArray shortWrite = request(8, 1, QByteArray::fromHex("F7FF01"));
    QCOMPARE(quint8(m.handle(shortWrite)[14]), quint8(2));
    m.setInserted(true);
    QCOMPARE(quint8(m.handle(shortWrite)[14]), quint8(1));
    QCOMPARE(m.handle(request(8, 1, QByteArray::fromHex("F7FF0100000000"))).size(), 14);

    // Where the values sit in the replies, byte by byte.
    m.setAddress(0x010203);
    const QDateTime when(QDate(2026, 12, 8), QTime(14, 30));
    m.addRecord(when, 0x123456, QStringLiteral("Иванов"), 1.0);
    m.setRecordCount(0x0102);
    SimDosimeter d;
    d.number = 0xABCDEF;
    d.accumulation = true;
    d.setA(1.5);
    d.b = 0x8001;
    m.setDosimeter(d);
    QByteArray r = m.handle(config);
    QCOMPARE(r.mid(32, 4), QByteArray::fromHex("0102" "10" "00")); // count (high first), status, status 2
    QCOMPARE(r.at(36), '\0');                                        // no mode switching
    r = m.handle(request(6, 1, archiveRecordRequestBody(1)));
    QCOMPARE(r.size(), 52);
    QCOMPARE(r.mid(16, 8), QByteArray::fromHex("3014081226" "123456"));
    QCOMPARE(r.mid(24, 16), QByteArray::fromHex("A5B361BD6FB3") + QByteArray(10, ' '));
    QCOMPARE(r.mid(42, 2), QByteArray::fromHex("E864")); // 1 µSv: the word in sieverts, high byte first
    r = m.handle(request(6, 1, dosimeterRegisterReadBody(0xF7)));
    QCOMPARE(r.size(), 25);
    QCOMPARE(r.mid(16, 4), QByteArray::fromHex("EFCDAB02"));
    r = m.handle(request(6, 1, dosimeterRegisterReadBody(0xF2)));
    QCOMPARE(r.mid(16, 4), QByteArray::fromHex("96000180"));
    m.setSpectrum({0x1234, 7});
    r = m.handle(request(6, 17, QByteArray(1, '\0')));
    QCOMPARE(r.size(), 220);
    QCOMPARE(r.mid(16, 4), QByteArray::fromHex("34120700"));
    SimSpectrumHeader sh;
    sh.doseWord = 0x0864;
    sh.doseCounts = 0x01020304;
    sh.maxChannel = 661;
    m.setSpectrumHeader(sh);
    r = m.handle(request(6, 125, QByteArray(1, char(4))));
    QCOMPARE(r.size(), 37);
    QCOMPARE(r.mid(21, 6), QByteArray::fromHex("6408" "04030201"));
    QCOMPARE(r.mid(29, 2), QByteArray::fromHex("9502"));
    m.setModeSwitching(true);
    QVERIFY(m.handle(config).at(36) != '\0');

    // Busy: everything but the presence check refused with code 5.
    m.setBusy(true);
    QCOMPARE(quint8(m.handle(config)[14]), quint8(5));
    QCOMPARE(quint8(m.handle(request(6, 1, archiveRecordRequestBody(1)))[14]), quint8(5));
    QCOMPARE(m.handle(request(4, 1, QByteArray())).size(), 14);
}

void TestReaderSim::queuedFaults()
{
    LinkE2EFixture fx;
    QVERIFY(fx.start());
    fx.link.setBaseRequestCount(0);

    // Skip one request, then two silent ones; then back to normal.
    fx.sim.injectFault(SimReader::Fault::NoReply, 2, 0, 1);
    QVERIFY(pingReader(&fx.link));
    QVERIFY(!pingReader(&fx.link));
    QVERIFY(!pingReader(&fx.link));
    QVERIFY(pingReader(&fx.link));

    // A spectrum fault waits for a spectrum block and lets the rest pass.
    fx.sim.injectFault(SimReader::Fault::SpectrumWrongSize);
    QVERIFY(pingReader(&fx.link));
    QVERIFY(readReaderConfig(&fx.link));
    QVERIFY_THROWS_EXCEPTION(EProtocolCancel, readSpectrum(&fx.link, 0));
    QCOMPARE(readSpectrum(&fx.link, 0).size(), 100);

    // Faults by chance: always, then never.
    fx.sim.setFaultProbability(SimReader::Fault::Refuse, 1.0, 5);
    QCOMPARE(readReaderConfig(&fx.link).kind(), ErrorKind::ReaderBusy);
    QVERIFY(!pingReader(&fx.link));
    fx.sim.setFaultProbability(SimReader::Fault::Refuse, 0.0);
    QVERIFY(pingReader(&fx.link));

    fx.sim.injectFault(SimReader::Fault::NoReply, 5);
    fx.sim.clearFaults();
    QVERIFY(pingReader(&fx.link));
}

void TestReaderSim::pacingAndTurnaround()
{
    LinkE2EFixture fx;
    QVERIFY(fx.start());
    fx.link.setPingDelayMs(1000);
    fx.link.setSendDelayMs(1000);
    QElapsedTimer t;

    // 9600 bit/s, 10 bits a byte: the 20-byte request and the 52-byte reply
    // take 75 ms on the line; the 19-byte spectrum request and its 220-byte
    // reply 249 ms.
    fx.sim.setPaced(true);
    t.start();
    QVERIFY(readReaderConfig(&fx.link));
    const qint64 config = t.elapsed();
    QVERIFY2(config >= 73 && config < 500, qPrintable(QString::number(config)));
    t.start();
    const QVector<quint16> channels = readSpectrum(&fx.link, 2);
    const qint64 block = t.elapsed();
    QVERIFY2(block >= 246 && block < 700, qPrintable(QString::number(block)));
    QCOMPARE(channels.size(), 100);

    fx.sim.setPaced(false);
    fx.sim.setTurnaroundMs(120);
    t.start();
    QVERIFY(pingReader(&fx.link));
    QVERIFY2(t.elapsed() >= 120, qPrintable(QString::number(t.elapsed())));
}

void TestReaderSim::staleBytesDiscardedAtNextRequest()
{
    SimReader sim;
    QVERIFY(sim.start());
    // The first request's reply comes after its asker has gone ...
    sim.injectFault(SimReader::Fault::Late, 1, 60);
    const QByteArray config = request(6, 1, QByteArray(2, '\0'));
    QCOMPARE(rawExchange(sim.portPath(), config, 10), QByteArray());
    QTRY_COMPARE(sim.repliesSent(), 1);
    // ... and is gone by the time the next request starts, as on a real port
    // that is opened for the next command.
    const QByteArray ping = request(4, 1, QByteArray());
    const QByteArray got = rawExchange(sim.portPath(), ping, 150, 40);
    QCOMPARE(got.size(), 14);
    QCOMPARE(got, sim.replyLog().last());
}

void TestReaderSim::programOptionsAndEnding()
{
    const QString simPath = LinkE2EFixture::binary(QStringLiteral("reader-sim"));
    if (simPath.isEmpty())
        QSKIP("reader-sim not built next to the tests");
    QTemporaryDir dir;

    QProcess help;
    help.start(simPath, {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(5000));
    QCOMPARE(help.exitCode(), 0);
    const QString usage = QString::fromUtf8(help.readAllStandardOutput());
    for (const char *word : {"--records", "--link", "--exit-on-eof", "fault late MS", "quit"})
        QVERIFY2(usage.contains(QLatin1String(word)), word);

    QProcess wrong;
    wrong.start(simPath, {QStringLiteral("--records"), QStringLiteral("many")});
    QVERIFY(wrong.waitForFinished(5000));
    QCOMPARE(wrong.exitCode(), 2);

    // --link: a symbolic link to the terminal, removed again on SIGTERM.
    const QString linkPath = dir.filePath(QStringLiteral("ttyREADER"));
    QProcess reader;
    reader.start(simPath, {QStringLiteral("--link"), linkPath, QStringLiteral("--records"), QStringLiteral("3"),
                           QStringLiteral("--busy")});
    QVERIFY(reader.waitForReadyRead(5000));
    const QString port = QString::fromUtf8(reader.readLine()).trimmed();
    QCOMPARE(QFileInfo(linkPath).symLinkTarget(), port);
    // The options are in force: a busy reader refuses the configuration read.
    const QByteArray r = rawExchange(linkPath, request(6, 1, QByteArray(2, '\0')), 150);
    QCOMPARE(r.size(), 19);
    QCOMPARE(quint8(r[14]), quint8(5));
    // Standard input ends, but without --exit-on-eof the reader runs on.
    reader.closeWriteChannel();
    QVERIFY(!reader.waitForFinished(300));
    reader.terminate(); // SIGTERM
    QVERIFY(reader.waitForFinished(5000));
    QCOMPARE(reader.exitStatus(), QProcess::NormalExit);
    QCOMPARE(reader.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(linkPath) && !QFileInfo(linkPath).isSymLink());

    // --exit-on-eof: the end of standard input ends the program.
    QProcess eof;
    eof.start(simPath, {QStringLiteral("--exit-on-eof")});
    QVERIFY(eof.waitForReadyRead(5000));
    eof.write("add 4\nstatus\n");
    eof.closeWriteChannel();
    QVERIFY(eof.waitForFinished(5000));
    QCOMPARE(eof.exitCode(), 0);
    const QString said = QString::fromUtf8(eof.readAllStandardOutput());
    QVERIFY2(said.contains(QStringLiteral("ok newest 4")) && said.contains(QStringLiteral("records 4 (newest 4)")),
             qPrintable(said));

    // --add-every: a live reader adds readings by itself.
    QProcess live;
    live.start(simPath, {QStringLiteral("--exit-on-eof"), QStringLiteral("--add-every"), QStringLiteral("0.05")});
    QVERIFY(live.waitForReadyRead(5000));
    live.readLine();
    QTest::qWait(400);
    live.write("status\n");
    live.closeWriteChannel();
    QVERIFY(live.waitForFinished(5000));
    QCOMPARE(live.exitCode(), 0);
    const QString liveStatus = QString::fromUtf8(live.readAllStandardOutput());
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("records (\\d+) \\(newest")).match(liveStatus);
    QVERIFY2(m.hasMatch() && m.captured(1).toInt() >= 3, qPrintable(liveStatus));
}

QTEST_GUILESS_MAIN(TestReaderSim)
#include "tst_link_e2e_reader.moc"

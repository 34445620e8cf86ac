// The link end to end: the real serial port code on a pseudo-terminal against
// the simulated reader, every command decoded and checked against what the
// reader holds, the attempts and their log, and the command-line tool run
// against the reader-sim program.

#include "LinkE2EFixture.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <cmath>

namespace {

QString hexLine(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes)
        out += QString::asprintf("%02X ", unsigned(quint8(c)));
    return out;
}

QString replyLogLine(const QByteArray &reply, int attempts)
{
    return QStringLiteral("< ") + hexLine(reply) + QStringLiteral("  (%1)").arg(attempts);
}

} // namespace

#define START_READER(fx)                                                          \
    LinkE2EFixture fx;                                                            \
    QVERIFY2(fx.start(), qPrintable(QStringLiteral("no pseudo-terminal: ") + fx.sim.errorText()))

class TestLinkE2E : public QObject {
    Q_OBJECT

private slots:
    void readerCommands();
    void dosimeterCommands();
    void dosimeterAccessRefused();
    void spectrum();
    void retriesAndTheirLog();
    void refusalsAreNotRepeated();
    void lateRepliesNeverAnswerTheNextRequest();
    void replyBetweenWindowAndRepeat_data();
    void replyBetweenWindowAndRepeat();
    void readerSlowerThanTheWindow();
    void replyFollowedByStrayBytes();
    void connectionErrorOncePerRun();
    void portHeldExclusively();
    void labelReadFailingOnThirdReply();
    void busyReader();
    void invalidArchiveDates();
    void receiveWindowEnd();
    void toolAgainstReaderProgram();
};

void TestLinkE2E::readerCommands()
{
    START_READER(fx);
    fx.sim.setAddress(0x0A0B0C);
    fx.sim.addRecords(37);
    fx.sim.setInserted(true);
    fx.sim.setClockOffsetSeconds(-3 * 3600);

    const CommandResult<ReaderConfigData> config = readReaderConfig(&fx.link);
    QVERIFY(config);
    const ReaderConfigData &r = config.value;
    QCOMPARE(int(r.recordCount), 37);
    QVERIFY(r.status & StatusDosimeterInserted);
    const qint64 behind = r.clock.secsTo(fx.sim.clock());
    QVERIFY2(behind >= 0 && behind < 62, qPrintable(QString::number(behind))); // minute resolution
    QCOMPARE(r.clock.time().second(), 0);
    fx.sim.withModel([&](SimReaderModel &m) {
        QCOMPARE(r.param1, m.param(1));
        QCOMPARE(r.param3, m.param(3));
        QCOMPARE(r.value1, m.value(1));
        QCOMPARE(r.infoText, m.infoText());
    });
    QCOMPARE(r.infoText.at(0), '\0');
    QVERIFY(!r.modeSwitching());
    QCOMPARE(config.responder, std::optional<quint32>(0x0A0B0C));

    fx.sim.setModeSwitching(true);
    const CommandResult<ReaderConfigData> switching = readReaderConfig(&fx.link);
    QVERIFY(switching);
    QVERIFY(switching.value.modeSwitching());

    const CommandResult<NoValue> ping = pingReader(&fx.link);
    QVERIFY(ping);
    QCOMPARE(ping.responder, std::optional<quint32>(0x0A0B0C));
    QCOMPARE(fx.sim.requestLog().last().size(), 14);

    QDateTime lastTime;
    for (int n : {1, 36, 37}) {
        const CommandResult<ArchiveRecordData> read = readArchiveRecord(&fx.link, n);
        QVERIFY(read);
        const ArchiveRecordData &a = read.value;
        lastTime = a.time;
        const SimRecord s = fx.sim.record(n);
        QCOMPARE(a.time, s.time);
        QCOMPARE(a.id, s.id);
        QCOMPARE(a.name, s.name);
        QCOMPARE(a.dose, s.doseMicroSv);
    }
    QVERIFY(lastTime > fx.sim.record(36).time);

    // The clock write: the reader's clock runs on from the written time, and
    // the configuration bytes travel back as they were read.
    ReaderConfigData w = switching.value;
    w.clock = QDateTime::currentDateTime().addSecs(2 * 3600);
    w.param2 = 0x7F;
    QVERIFY(writeReaderConfig(&fx.link, w));
    QVERIFY(qAbs(QDateTime::currentDateTime().addSecs(2 * 3600).secsTo(fx.sim.clock())) < 62);
    fx.sim.withModel([&](SimReaderModel &m) {
        QCOMPARE(m.configWrites(), 1);
        QCOMPARE(int(m.param(2)), 0x7F);
        QCOMPARE(m.param(1), w.param1);
    });
    const CommandResult<ReaderConfigData> back = readReaderConfig(&fx.link);
    QVERIFY(back);
    QVERIFY2(qAbs(back.value.clock.secsTo(w.clock)) < 62, qPrintable(back.value.clock.toString() + " / " + w.clock.toString()));

    // The answer to a mode switch names no reader to follow.
    const CommandResult<NoValue> mode = setReaderMode(&fx.link, 1);
    QVERIFY(mode);
    QCOMPARE(fx.sim.readModel<int>([](const SimReaderModel &m) { return m.mode(); }), 1);
    QVERIFY(!mode.responder);
    QVERIFY(setReaderMode(&fx.link, 0));
    QCOMPARE(fx.sim.readModel<int>([](const SimReaderModel &m) { return m.mode(); }), 0);
}

void TestLinkE2E::dosimeterCommands()
{
    START_READER(fx);
    fx.sim.setInserted(true);
    SimDosimeter d;
    d.setLabel(QStringLiteral("Петров П.П."));
    d.number = 0x123456;
    d.accumulation = true;
    d.totalDose = 3.25f;
    d.setA(2.5);
    d.b = 0xFFFF;
    fx.sim.setDosimeter(d);

    const CommandResult<DosimeterLabelData> label = readDosimeterLabel(&fx.link);
    QVERIFY(label);
    QCOMPARE(label.value.code, d.labelCode);
    QCOMPARE(label.value.text, QStringLiteral("Петров П.П.     "));
    QCOMPARE(fx.sim.requestLog().size(), 4);

    const CommandResult<MetrologyData> coefficients = readMetrologyCoefficients(&fx.link);
    QVERIFY(coefficients);
    QCOMPARE(coefficients.value.a, 2.5);
    QCOMPARE(coefficients.value.b, quint16(0xFFFF));
    QVERIFY(writeMetrologyCoefficients(&fx.link, 0x0010, 3.14159, false));
    QCOMPARE(fx.sim.dosimeter().aWord, quint16(0x013A));
    QCOMPARE(fx.sim.dosimeter().b, quint16(0x0010));
    QCOMPARE(frameBody(fx.sim.requestLog().last()).size(), 6); // no mode switching: no trailing byte

    CommandResult<DosimeterNumberData> number = readDosimeterNumber(&fx.link);
    QVERIFY(number);
    QCOMPARE(number.value.number, quint32(0x123456));
    QVERIFY(number.value.accumulation);
    QVERIFY(writeDosimeterNumber(&fx.link, 0x00ABCD, false));
    QCOMPARE(frameBody(fx.sim.requestLog().last()), QByteArray::fromHex("F7FFCDAB000000"));
    number = readDosimeterNumber(&fx.link);
    QVERIFY(number);
    QCOMPARE(number.value.number, quint32(0xABCD));
    QVERIFY(!number.value.accumulation);

    CommandResult<float> dose = readTotalDose(&fx.link);
    QVERIFY(dose);
    QCOMPARE(dose.value, 3.25f);
    QVERIFY(clearDosimeterDose(&fx.link));
    dose = readTotalDose(&fx.link);
    QVERIFY(dose);
    QCOMPARE(dose.value, 0.0f);
    d = fx.sim.dosimeter();
    d.totalDose = std::nanf("");
    fx.sim.setDosimeter(d);
    dose = readTotalDose(&fx.link);
    QVERIFY(dose);
    QVERIFY(std::isnan(dose.value));
}

void TestLinkE2E::dosimeterAccessRefused()
{
    START_READER(fx);
    // No dosimeter: the reader refuses, and a refusal is not asked again.
    const CommandResult<DosimeterLabelData> label = readDosimeterLabel(&fx.link);
    QCOMPARE(label.kind(), ErrorKind::Refused);
    QVERIFY(label.value.code.isEmpty());
    QCOMPARE(fx.sim.requestsServed(), 1);
    const CommandResult<DosimeterNumberData> number = readDosimeterNumber(&fx.link);
    QCOMPARE(number.kind(), ErrorKind::Refused);
    QCOMPARE(number.value.number, quint32(0));
    QCOMPARE(clearDosimeterDose(&fx.link).kind(), ErrorKind::Refused);
    QCOMPARE(fx.sim.requestsServed(), 3);

    // A reader that needs mode switching answers the dosimeter only in mode 1,
    // and then takes coefficient A and B with one more byte.
    fx.sim.setInserted(true);
    fx.sim.setModeSwitching(true);
    const CommandResult<ReaderConfigData> config = readReaderConfig(&fx.link);
    QVERIFY(config);
    QVERIFY(config.value.modeSwitching());
    QVERIFY(!readDosimeterNumber(&fx.link));
    QVERIFY(setReaderMode(&fx.link, 1));
    QVERIFY(readDosimeterNumber(&fx.link));
    QVERIFY(writeMetrologyCoefficients(&fx.link, 0xFFFF, 1.5, config.value.modeSwitching()));
    QCOMPARE(frameBody(fx.sim.requestLog().last()), QByteArray::fromHex("F2FF9600FFFF00"));
    QCOMPARE(fx.sim.dosimeter().a(), 1.5);
}

void TestLinkE2E::spectrum()
{
    START_READER(fx);
    const CommandResult<SpectrumHeaderData> header = readSpectrumHeader(&fx.link);
    QVERIFY(header);
    const SpectrumHeaderData &h = header.value;
    const SimSpectrumHeader sh = fx.sim.readModel<SimSpectrumHeader>(
        [](const SimReaderModel &m) { return m.spectrumHeader(); });
    QCOMPARE(h.dose, decodeDecimalWord(sh.doseWord));
    QCOMPARE(h.doseCounts, sh.doseCounts);
    QCOMPARE(h.delta, sh.delta);
    QCOMPARE(h.maxChannel, sh.maxChannel);
    QCOMPARE(h.comparatorChannel, sh.comparatorChannel);

    const QVector<quint16> all =
        fx.sim.readModel<QVector<quint16>>([](const SimReaderModel &m) { return m.spectrum(); });
    const int eventsBefore = fx.eventLines().size();
    for (int block : {0, 14}) {
        QCOMPARE(readSpectrum(&fx.link, quint8(block)), all.mid(block * 100, 100));
    }
    // Every channel value goes to the events log, one line each.
    const QStringList events = fx.eventLines();
    QCOMPARE(events.size(), eventsBefore + 200);
    QVERIFY(events.last().endsWith(QLatin1Char('>') + QString::number(all[1499])));

    fx.sim.injectFault(SimReader::Fault::SpectrumWrongSize);
    bool raised = false;
    try {
        readSpectrum(&fx.link, 3);
    } catch (const EProtocolCancel &e) {
        raised = true;
        QCOMPARE(e.message(), QStringLiteral("Ошибка размера пакета спектра"));
    }
    QVERIFY(raised);
    QVERIFY(!fx.link.serialPort().isOpen());
    QCOMPARE(fx.sim.replyLog().last().size(), 218);
    QCOMPARE(readSpectrum(&fx.link, 3), all.mid(300, 100));
}

void TestLinkE2E::retriesAndTheirLog()
{
    START_READER(fx);
    fx.sim.addRecords(5);

    // A short reply, then the whole one: the command succeeds on the second
    // attempt, and the log shows the count 2 and the second reply only.
    fx.clearLogs();
    fx.sim.injectFault(SimReader::Fault::ShortReply, 1, 10);
    QVERIFY(readReaderConfig(&fx.link));
    QCOMPARE(fx.sim.requestsServed(), 2);
    QCOMPARE(fx.sim.replyLog().first().size(), 10);
    QStringList log = fx.rs232Lines();
    QCOMPARE(log.size(), 2);
    QVERIFY(log[0].endsWith(QStringLiteral(" >") + hexLine(fx.sim.requestLog().last())));
    QCOMPARE(log[1], replyLogLine(fx.sim.replyLog().last(), 2));

    // A reply corrupted on the line (body, then header checksum) is refused
    // and asked again.
    for (int where : {0, 1}) {
        fx.clearLogs();
        fx.sim.injectFault(SimReader::Fault::Corrupt, 1, where);
        const CommandResult<ArchiveRecordData> read = readArchiveRecord(&fx.link, 4);
        QVERIFY(read);
        QCOMPARE(fx.sim.replyLog().size(), 2);
        QVERIFY(fx.sim.replyLog().first() != fx.sim.replyLog().last());
        QCOMPARE(read.value.time, fx.sim.record(4).time);
        QCOMPARE(fx.rs232Lines().value(1), replyLogLine(fx.sim.replyLog().last(), 2));
    }

    // No reply at all: every attempt listens for its window, and the log's
    // second line holds no byte.
    fx.clearLogs();
    const int before = fx.sim.requestsServed();
    fx.sim.injectFault(SimReader::Fault::NoReply, 4);
    QElapsedTimer t;
    t.start();
    QVERIFY(!readReaderConfig(&fx.link));
    QVERIFY(t.elapsed() >= 4 * LinkE2EFixture::PingWindowMs - 20);
    QCOMPARE(fx.sim.requestsServed() - before, 4);
    QCOMPARE(fx.rs232Lines().value(1), QStringLiteral("<   (4)"));

    // baseRequestCount() 0: one attempt only.
    fx.clearLogs();
    fx.link.setBaseRequestCount(0);
    fx.sim.injectFault(SimReader::Fault::NoReply, 1);
    QVERIFY(!pingReader(&fx.link));
    QCOMPARE(fx.sim.requestLog().size(), 1);
    QCOMPARE(fx.rs232Lines().value(1), QStringLiteral("<   (1)"));
    QVERIFY(pingReader(&fx.link)); // the fault is used up
    QCOMPARE(fx.rs232Lines().value(3), replyLogLine(fx.sim.replyLog().last(), 1));

    // A late answer to the first attempt is taken while the line settles
    // before the repeat: the same request, asked once.
    fx.link.setBaseRequestCount(1);
    fx.clearLogs();
    fx.sim.injectFault(SimReader::Fault::Late, 1, LinkE2EFixture::PingWindowMs + 60);
    QVERIFY(readReaderConfig(&fx.link));
    QCOMPARE(fx.rs232Lines().value(1), replyLogLine(fx.sim.replyLog().last(), 1));
    // Answered after the repeat went out: the answer to the repeat comes
    // after the command ended; the next command does not mistake it for its
    // own reply.
    fx.clearLogs();
    fx.sim.setTurnaroundMs(150);
    fx.sim.injectFault(SimReader::Fault::Late, 1, LinkE2EFixture::PingWindowMs + SerialLink::LineSettleMs - 80);
    QVERIFY(readReaderConfig(&fx.link));
    QCOMPARE(fx.rs232Lines().value(1), replyLogLine(fx.sim.replyLog().first(), 2));
    const CommandResult<ArchiveRecordData> read = readArchiveRecord(&fx.link, 2);
    QVERIFY(read);
    QCOMPARE(read.value.time, fx.sim.record(2).time);
}

namespace {
// The record the command decoded is the reader's record n.
bool holdsRecord(LinkE2EFixture &fx, const ArchiveRecordData &a, int n)
{
    const SimRecord s = fx.sim.record(n);
    return a.time == s.time && a.id == s.id && a.name == s.name && a.dose == s.doseMicroSv;
}
} // namespace

void TestLinkE2E::lateRepliesNeverAnswerTheNextRequest()
{
    START_READER(fx);
    fx.sim.setInserted(true);
    fx.sim.addRecords(70);
    const QString label = fx.sim.dosimeter().label();
    const int window = LinkE2EFixture::PingWindowMs;

    // A reply so late that the line had settled, arriving while the next
    // command listens for an answer that does not come: it answers another
    // request and is not taken.
    fx.link.setBaseRequestCount(0);
    fx.sim.injectFault(SimReader::Fault::Late, 1, window + SerialLink::LineSettleMs + 50);
    fx.sim.injectFault(SimReader::Fault::NoReply, 1);
    QVERIFY(!readReaderConfig(&fx.link));
    QVERIFY(!readArchiveRecord(&fx.link, 3));
    QTRY_COMPARE(fx.sim.repliesSent(), 1);
    fx.link.setBaseRequestCount(3);

    // The second of the four label groups answered 400 ms after its window:
    // neither it nor the answers to its repeats are taken for a later group.
    fx.sim.injectFault(SimReader::Fault::Late, 1, window + 400, 1);
    const CommandResult<DosimeterLabelData> read = readDosimeterLabel(&fx.link);
    QVERIFY(read);
    QCOMPARE(read.value.text, label);

    // An archive copy at the line rate with late replies: every record read
    // is the record asked for.
    fx.sim.setPaced(true);
    fx.link.setPingDelayMs(300);
    for (int n = 62; n <= 70; ++n) {
        if (n == 65 || n == 66)
            fx.sim.injectFault(SimReader::Fault::Late, 1, 300 + (n == 65 ? 400 : 100));
        const CommandResult<ArchiveRecordData> record = readArchiveRecord(&fx.link, n);
        QVERIFY2(record, qPrintable(QString::number(n)));
        QVERIFY2(holdsRecord(fx, record.value, n), qPrintable(QString::number(n)));
    }
}

void TestLinkE2E::replyBetweenWindowAndRepeat_data()
{
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("fixed");
    for (const int delay : {320, 400}) {
        QTest::addRow("%d ms, window ended by the reply", delay) << delay << false;
        QTest::addRow("%d ms, fixed window", delay) << delay << true;
    }
}

void TestLinkE2E::replyBetweenWindowAndRepeat()
{
    // A reader at the line rate answering after the 300 ms window but before
    // the repeat would go out: every answer is taken at the first attempt,
    // and every record read is the record asked for.
    QFETCH(int, delayMs);
    QFETCH(bool, fixed);
    START_READER(fx);
    fx.sim.addRecords(5);
    fx.sim.setPaced(true);
    fx.sim.setTurnaroundMs(delayMs);
    fx.link.setPingDelayMs(300);
    fx.link.setFixedReceiveWindow(fixed);
    QVERIFY(readReaderConfig(&fx.link));
    for (const int n : {2, 3}) {
        const CommandResult<ArchiveRecordData> record = readArchiveRecord(&fx.link, n);
        QVERIFY2(record && holdsRecord(fx, record.value, n), qPrintable(QString::number(n)));
    }
    QCOMPARE(fx.sim.requestsServed(), 3);
    QCOMPARE(fx.rs232Lines().value(5), replyLogLine(fx.sim.replyLog().last(), 1));
}

void TestLinkE2E::readerSlowerThanTheWindow()
{
    // Every answer comes after its window: no command may take the answer to
    // an earlier request for its own.
    START_READER(fx);
    fx.sim.addRecords(5);
    fx.sim.setTurnaroundMs(LinkE2EFixture::PingWindowMs + 60);
    fx.link.setBaseRequestCount(1);
    for (const bool fixed : {false, true}) {
        fx.link.setFixedReceiveWindow(fixed);
        const CommandResult<ReaderConfigData> config = readReaderConfig(&fx.link);
        if (config)
            QCOMPARE(int(config.value.recordCount), 5);
        for (int n : {2, 3}) {
            const CommandResult<ArchiveRecordData> record = readArchiveRecord(&fx.link, n);
            if (record)
                QVERIFY2(holdsRecord(fx, record.value, n), qPrintable(QString::number(n)));
            pingReader(&fx.link);
        }
    }
}

void TestLinkE2E::replyFollowedByStrayBytes()
{
    START_READER(fx);
    fx.sim.setInserted(true);

    // A stray byte after the first label group: that attempt failed, and the
    // next group is not asked while the byte is on the line.
    fx.sim.injectFault(SimReader::Fault::Trailing, 1);
    const CommandResult<DosimeterLabelData> label = readDosimeterLabel(&fx.link);
    QVERIFY(label);
    QCOMPARE(label.value.text, fx.sim.dosimeter().label());
    QStringList asked;
    for (const QByteArray &request : fx.sim.requestLog())
        asked << QString::fromLatin1(frameBody(request).toHex());
    QCOMPARE(asked, QStringList({"f3ff", "f3ff", "f4ff", "f5ff", "f6ff"}));

    // A body-less reply may carry its header's true checksum instead of the
    // four zero bytes: it is a good reply, taken at the first attempt.
    fx.clearLogs();
    fx.sim.injectFault(SimReader::Fault::HeaderSumOnEmpty, 1);
    QVERIFY(pingReader(&fx.link));
    QCOMPARE(fx.sim.requestsServed(), 6);
    QCOMPARE(fx.rs232Lines().value(1), replyLogLine(fx.sim.replyLog().last(), 1));
    QVERIFY(fx.sim.replyLog().last().mid(10, 4) != QByteArray(4, '\0'));
}

void TestLinkE2E::refusalsAreNotRepeated()
{
    START_READER(fx);
    fx.sim.addRecords(1);
    fx.sim.injectFault(SimReader::Fault::Refuse, 2, 1);
    QVERIFY(!pingReader(&fx.link));
    QVERIFY(!readArchiveRecord(&fx.link, 1));
    QCOMPARE(fx.sim.requestsServed(), 2); // each asked once
    QCOMPARE(fx.rs232Lines().value(1), replyLogLine(fx.sim.replyLog().first(), 1));
    QCOMPARE(fx.sim.replyLog().first().size(), 19);
}

void TestLinkE2E::connectionErrorOncePerRun()
{
    START_READER(fx);
    fx.link.setPortName(fx.dir.filePath(QStringLiteral("no-such-port")));

    bool raised = false;
    try {
        readReaderConfig(&fx.link);
    } catch (const EProtocolCancel &) {
        QFAIL("the connection error is not a protocol error");
    } catch (const ERuvoError &e) {
        raised = true;
        QCOMPARE(e.message(),
                 QStringLiteral("RS232: Не удалось подключиться к заданному COM-порту.\r\nПроверьте настройки подключения."));
    }
    QVERIFY(raised);
    // Later failures are silent.
    QVERIFY(!readReaderConfig(&fx.link));
    QVERIFY(!pingReader(&fx.link));
    QVERIFY(!setReaderMode(&fx.link, 0));
    QCOMPARE(fx.sim.requestsServed(), 0);

    // The archive read keeps the error to itself: it logs it and fails, and
    // the once-per-run report is then used up.
    fx.link.resetReportConnectFailure();
    QVERIFY(!readArchiveRecord(&fx.link, 1));
    QVERIFY(fx.eventLines().value(0).endsWith(QStringLiteral(">Ошибка при запросе архивной записи")));
    QVERIFY(!readReaderConfig(&fx.link));

    // The right port again: commands work.
    fx.link.setPortName(fx.sim.portPath());
    QVERIFY(readReaderConfig(&fx.link));
}

void TestLinkE2E::portHeldExclusively()
{
    START_READER(fx);
    const QString port = fx.sim.portPath();
    QVERIFY(fx.link.openLink());
    QCOMPARE(fx.link.lastOpenError(), QString());

    // A second holder of the same device is refused while the first holds it,
    // also when it names the device by another path (as a by-id link names a
    // USB adapter), and is told why; the first keeps working.
    SerialLink other;
    const QString alias = fx.dir.filePath(QStringLiteral("ttyALIAS"));
    QVERIFY(QFile::link(port, alias));
    for (const QString &name : {port, alias}) {
        other.setPortName(name);
        QVERIFY(!other.serialPort().openPort());
        QCOMPARE(other.lastOpenError(),
                 QStringLiteral("Не удалось открыть порт %1: порт занят другой программой").arg(name));
    }
    QVERIFY(fx.link.exchangePacket(buildPacket(BroadcastAddress, MonitorAddress, 4, 1), 300).size() == 14);
    fx.link.closeLink();
    QVERIFY(other.serialPort().openPort());
    QCOMPARE(other.lastOpenError(), QString());
    other.closeLink();

    const QString missing = fx.dir.filePath(QStringLiteral("no-such-port"));
    other.setPortName(missing);
    QVERIFY(!other.serialPort().openPort());
    QCOMPARE(other.lastOpenError(), QStringLiteral("Не удалось открыть порт %1: нет такого устройства").arg(missing));
}

void TestLinkE2E::labelReadFailingOnThirdReply()
{
    START_READER(fx);
    fx.sim.setInserted(true);
    fx.sim.injectFault(SimReader::Fault::Refuse, 1, 1, 2);
    const CommandResult<DosimeterLabelData> label = readDosimeterLabel(&fx.link);
    QCOMPARE(label.kind(), ErrorKind::Refused);
    QVERIFY(label.value.text.isEmpty() && label.value.code.isEmpty());  // nothing of the two groups read
    QVERIFY(!label.responder);
    QVERIFY(!fx.link.serialPort().isOpen());
    const QList<QByteArray> sent = fx.sim.requestLog();
    QCOMPARE(sent.size(), 3);
    QCOMPARE(frameBody(sent[0]), QByteArray::fromHex("F3FF"));
    QCOMPARE(frameBody(sent[2]), QByteArray::fromHex("F5FF"));
}

void TestLinkE2E::busyReader()
{
    START_READER(fx);
    fx.sim.setAddress(0x050607);
    fx.sim.setBusy(true);
    const CommandResult<ReaderConfigData> busy = readReaderConfig(&fx.link);
    QCOMPARE(busy.kind(), ErrorKind::ReaderBusy);
    QCOMPARE(busy.responder, std::optional<quint32>(0x050607));
    QCOMPARE(fx.rs232Lines().value(1), replyLogLine(fx.sim.replyLog().last(), 1));
    QVERIFY(pingReader(&fx.link)); // the presence check is still answered

    fx.sim.setBusy(false);
    QVERIFY(readReaderConfig(&fx.link));

    // A refusal with another code is no busy reader.
    fx.sim.injectFault(SimReader::Fault::Refuse, 1, 4);
    const CommandResult<ReaderConfigData> refused = readReaderConfig(&fx.link);
    QCOMPARE(refused.kind(), ErrorKind::Refused);
    QCOMPARE(refused.responder, std::optional<quint32>(0x050607));
}

void TestLinkE2E::invalidArchiveDates()
{
    START_READER(fx);
    fx.sim.addRecords(3);
    fx.sim.setSlotTimeBytes(2, QByteArray::fromHex("0012311326")); // month 13

    CommandResult<ArchiveRecordData> read = readArchiveRecord(&fx.link, 2);
    QVERIFY(read);
    QVERIFY(read.value.time.isNull());
    QCOMPARE(read.value.id, fx.sim.record(2).id);
    QStringList events = fx.eventLines();
    QCOMPARE(events.size(), 1);
    QVERIFY(events[0].endsWith(QStringLiteral(">Ошибка при запросе архивной записи")));

    // A slot never written answers with zero date bytes: the same.
    read = readArchiveRecord(&fx.link, 2000);
    QVERIFY(read);
    QVERIFY(read.value.time.isNull());
    QCOMPARE(fx.eventLines().size(), 2);

    read = readArchiveRecord(&fx.link, 3);
    QVERIFY(read);
    QCOMPARE(read.value.time, fx.sim.record(3).time);
    QCOMPARE(fx.eventLines().size(), 2);

    // Without the events log nothing is written.
    appState().eventsLogEnabled = false;
    QVERIFY(readArchiveRecord(&fx.link, 2));
    QCOMPARE(fx.eventLines().size(), 2);
}

void TestLinkE2E::receiveWindowEnd()
{
    START_READER(fx);
    fx.link.setPingDelayMs(800);
    QElapsedTimer t;

    // A whole reply ends the window at once.
    fx.link.setFixedReceiveWindow(false);
    t.start();
    QVERIFY(readReaderConfig(&fx.link));
    QVERIFY2(t.elapsed() < 400, qPrintable(QString::number(t.elapsed())));

    // A fixed window is listened to in full, whatever came.
    fx.link.setFixedReceiveWindow(true);
    t.start();
    QVERIFY(readReaderConfig(&fx.link));
    QVERIFY2(t.elapsed() >= 790 && t.elapsed() < 1500, qPrintable(QString::number(t.elapsed())));
    QCOMPARE(fx.sim.requestsServed(), 2);
}

void TestLinkE2E::toolAgainstReaderProgram()
{
    const QString simPath = LinkE2EFixture::binary(QStringLiteral("reader-sim"));
    const QString toolPath = LinkE2EFixture::binary(QStringLiteral("ruvo-link"));
    if (simPath.isEmpty() || toolPath.isEmpty())
        QSKIP("reader-sim or ruvo-link not built next to the tests");
    QTemporaryDir dir;

    QProcess reader;
    reader.start(simPath, {QStringLiteral("--records"), QStringLiteral("12"), QStringLiteral("--address"),
                           QStringLiteral("9.8.7"), QStringLiteral("--inserted")});
    QVERIFY(reader.waitForStarted(5000));
    QVERIFY(reader.waitForReadyRead(5000));
    const QString port = QString::fromUtf8(reader.readLine()).trimmed();
    QVERIFY2(port.startsWith(QLatin1Char('/')), qPrintable(port));

    auto tell = [&](const char *line) {
        reader.write(line);
        reader.write("\n");
        QElapsedTimer waited;
        waited.start();
        while (!reader.canReadLine() && waited.elapsed() < 5000)
            reader.waitForReadyRead(100);
        return QString::fromUtf8(reader.readLine()).trimmed();
    };
    auto run = [&](const QStringList &args, int &exitCode) {
        QProcess tool;
        tool.setWorkingDirectory(dir.path());
        tool.start(toolPath, args);
        if (!tool.waitForFinished(20000))
            return QJsonObject();
        exitCode = tool.exitCode();
        return QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
    };
    const QStringList base = {QStringLiteral("--port"), port, QStringLiteral("--ping-ms"), QStringLiteral("200"),
                              QStringLiteral("--send-ms"), QStringLiteral("400")};

    int code = -1;
    QJsonObject out = run(base + QStringList{QStringLiteral("read-config")}, code);
    QCOMPARE(code, 0);
    QCOMPARE(out.value(QStringLiteral("Ok")).toBool(), true);
    QCOMPARE(out.value(QStringLiteral("LastResponder")).toString(), QStringLiteral("9.8.7"));
    const QJsonObject rec0 = out.value(QStringLiteral("TRec0")).toObject();
    QCOMPARE(rec0.value(QStringLiteral("RecordCount")).toInt(), 12);
    QCOMPARE(rec0.value(QStringLiteral("DosimeterInserted")).toBool(), true);

    out = run(base + QStringList{QStringLiteral("read-record"), QStringLiteral("12")}, code);
    QCOMPARE(code, 0);
    const QJsonObject rec = out.value(QStringLiteral("ArchiveRecord")).toObject();
    QVERIFY(rec.value(QStringLiteral("ID")).toInt() > 0);
    QVERIFY(!rec.value(QStringLiteral("Name")).toString().trimmed().isEmpty());
    QVERIFY(!rec.value(QStringLiteral("Time")).toString().isEmpty());

    QCOMPARE(tell("busy on"), QStringLiteral("ok"));
    out = run(base + QStringList{QStringLiteral("read-config")}, code);
    QCOMPARE(code, 1);
    QCOMPARE(out.value(QStringLiteral("Ok")).toBool(), false);
    QCOMPARE(out.value(QStringLiteral("ReaderBusy")).toBool(), true);
    QCOMPARE(tell("busy off"), QStringLiteral("ok"));

    QCOMPARE(tell("fault noreply 2"), QStringLiteral("ok"));
    out = run(base + QStringList{QStringLiteral("--repeats"), QStringLiteral("1"), QStringLiteral("ping")}, code);
    QCOMPARE(code, 1);
    out = run(base + QStringList{QStringLiteral("ping")}, code);
    QCOMPARE(code, 0);

    out = run({QStringLiteral("--port"), dir.filePath(QStringLiteral("missing")), QStringLiteral("ping")}, code);
    QCOMPARE(code, 1);
    QCOMPARE(out.value(QStringLiteral("Error")).toString(), SerialLink::connectFailureText());

    QVERIFY(tell("status").contains(QStringLiteral("address 9.8.7")));
    reader.write("quit\n");
    QVERIFY(reader.waitForFinished(5000));
    QCOMPARE(reader.exitStatus(), QProcess::NormalExit);
    QCOMPARE(reader.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestLinkE2E)
#include "tst_link_e2e.moc"

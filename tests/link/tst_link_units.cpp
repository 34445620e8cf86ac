// The link below the wire: frames, checksums, addresses, value encodings,
// device text, reply layouts and the command paths that need no port.

#include "core/AppState.h"
#include "core/Errors.h"
#include "link/SerialPortDriver.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

QByteArray hexBytes(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// A reply as the reader sends it: to the monitor, from address 10.11.12.
QByteArray replyFrame(quint8 function, quint8 selector, const QByteArray &body)
{
    return buildPacket(QStringLiteral("1.1.1"), QStringLiteral("10.11.12"), function, selector, body);
}

// A 52-byte configuration reply with the given clock bytes and InfoText.
QByteArray configFrame(const QByteArray &clock, const QByteArray &info)
{
    QByteArray body = hexBytes("00 00") + clock + hexBytes("07 08 09 01 02 03 04 A0 B0 C0 D0 00 79 10 22") + info
        + hexBytes("00 00 00");
    return replyFrame(6, 1, body);
}

// A 52-byte archive reply.
QByteArray archiveFrame(const QByteArray &clock, const QByteArray &id, const QByteArray &name16,
                        const QByteArray &dose)
{
    QByteArray body = hexBytes("00 00") + clock + id + name16 + hexBytes("00 00") + dose + hexBytes("00 00 00 00");
    return replyFrame(6, 1, body);
}

// A 25-byte register reply carrying four data bytes.
QByteArray registerFrame(const QByteArray &data)
{
    return replyFrame(6, 1, hexBytes("F7 FF") + data + hexBytes("00"));
}

} // namespace

class TestLinkUnits : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        appState().reset();
    }

    void frameChecksumValues()
    {
        QCOMPARE(frameChecksum(QByteArray()), 0u);
        QCOMPARE(frameChecksum(QByteArray("abc")), 0x6E43u);
        QCOMPARE(frameChecksum(hexBytes("00 00")), 0u);
        QCOMPARE(frameChecksum(hexBytes("FF FF FF 01 01 01 06 01 02 00")), 0x8074462Fu);
        QCOMPARE(frameChecksum(hexBytes("05")), 0x05u);
        QCOMPARE(frameChecksum(hexBytes("01 02 03")), 0x0223u);
        // The rotation carries the top bits round to the bottom.
        QCOMPARE(frameChecksum(hexBytes("F8 00 00 00 00 00")), quint32((0xF800u << 10 | 0xF800u >> 22)));
    }

    void buildPacketWorkedFrames()
    {
        QCOMPARE(buildPacket(BroadcastAddress, MonitorAddress, 6, 1, hexBytes("00 00")),
                 hexBytes("FF FF FF 01 01 01 06 01 02 00 2F 46 74 80 00 00 00 00 00 00"));
        QCOMPARE(buildPacket(BroadcastAddress, MonitorAddress, 4, 1, QByteArray()),
                 hexBytes("FF FF FF 01 01 01 04 01 00 00 00 00 00 00"));
        QCOMPARE(buildPacket(BroadcastAddress, MonitorAddress, 8, 1, hexBytes("01 01")),
                 hexBytes("FF FF FF 01 01 01 08 01 02 00 2F 86 75 80 01 01 01 01 00 00"));
    }

    void buildPacketBodies()
    {
        const QByteArray empty = buildPacket(QStringLiteral("9.8.7"), QStringLiteral("1.2.3"), 0x55, 0xAA);
        QCOMPARE(empty.size(), 14);
        QCOMPARE(empty.mid(10), QByteArray(4, '\0'));
        QCOMPARE(empty.left(6), hexBytes("09 08 07 01 02 03"));

        const QByteArray one = buildPacket(BroadcastAddress, MonitorAddress, 8, 1, hexBytes("05"));
        QCOMPARE(one.size(), 19);
        QCOMPARE(one.mid(8, 2), hexBytes("01 00"));
        QCOMPARE(one.mid(15), hexBytes("05 00 00 00"));

        const QByteArray body(256, '\x11');
        const QByteArray big = buildPacket(BroadcastAddress, MonitorAddress, 8, 1, body);
        QCOMPARE(big.size(), 256 + 18);
        QCOMPARE(big.mid(8, 2), hexBytes("00 01"));
        QCOMPARE(expectedFrameLength(big.left(10)), 274);
        QVERIFY(frameIsConsistent(big));
    }

    void deviceAddress()
    {
        QCOMPARE(parseDeviceAddress(QStringLiteral("255.255.255")), hexBytes("FF FF FF"));
        QCOMPARE(parseDeviceAddress(QStringLiteral("  1.1.1 ")), hexBytes("01 01 01"));
        QCOMPARE(parseDeviceAddress(QStringLiteral("0.10.200")), hexBytes("00 0A C8"));
        QCOMPARE(parseDeviceAddress(QStringLiteral("256.257.1")), hexBytes("00 01 01"));  // low 8 bits
        for (const char *bad : {"1.1", "1..1", "1.1.", ".1.1", "a.b.c", "1.1.x", "1 .1.1", "", "   ",
                                "1.1.1.1", "-1.1.1"}) {
            try {
                parseDeviceAddress(QString::fromLatin1(bad));
                QFAIL(qPrintable(QStringLiteral("accepted \"%1\"").arg(QLatin1String(bad))));
            } catch (const EFormatError &e) {
                QCOMPARE(e.message(), QStringLiteral("Неправильно задан адрес устройства"));
            }
        }
        QVERIFY_THROWS_EXCEPTION(EFormatError, buildPacket(QStringLiteral("1.1"), MonitorAddress, 6, 1));
        QCOMPARE(addressToText(frameAddress(replyFrame(4, 1, {}), 3)), QStringLiteral("10.11.12"));
        QCOMPARE(frameAddress(replyFrame(4, 1, {}), 3), quint32(10 * 65536 + 11 * 256 + 12));
    }

    void frameValidation()
    {
        const QByteArray good = replyFrame(6, 1, hexBytes("01 02 03 04 05"));
        QVERIFY(frameIsConsistent(good));
        QCOMPARE(expectedFrameLength(good.left(9)), -1);
        QCOMPARE(expectedFrameLength(good.left(10)), good.size());

        QByteArray headerSum = good;
        headerSum[11] = char(headerSum[11] ^ 0x01);
        QVERIFY(!frameIsConsistent(headerSum));
        QByteArray headerByte = good;
        headerByte[6] = 7;  // a changed Function no longer matches the header checksum
        QVERIFY(!frameIsConsistent(headerByte));
        QByteArray bodyByte = good;
        bodyByte[15] = char(0x7F);
        QVERIFY(!frameIsConsistent(bodyByte));
        QByteArray bodySum = good;
        bodySum[bodySum.size() - 1] = char(bodySum[bodySum.size() - 1] ^ 0x80);
        QVERIFY(!frameIsConsistent(bodySum));
        QVERIFY(!frameIsConsistent(good + hexBytes("00")));     // more bytes than BodyLength says
        QVERIFY(!frameIsConsistent(good.chopped(1)));      // fewer
        QVERIFY(!frameIsConsistent(good.left(10)));

        // Body-less frames carry zeros where the header checksum would be.
        const QByteArray ack = replyFrame(8, 1, QByteArray());
        QVERIFY(frameIsConsistent(ack));
        QVERIFY(frameIsConsistent(hexBytes("01 01 01 0A 0B 0C 04 01 00 00 00 00 00 00")));
        QByteArray ackGarbage = ack;
        ackGarbage[12] = 0x33;
        QVERIFY(!frameIsConsistent(ackGarbage));
        QVERIFY(!frameIsConsistent(ack + hexBytes("00 00 00 00")));
    }

    void bcdAndDeviceDateTime()
    {
        QCOMPARE(toBcd(0), quint8(0x00));
        QCOMPARE(toBcd(59), quint8(0x59));
        QCOMPARE(toBcd(26), quint8(0x26));
        QCOMPARE(fromBcd(0x99), 99);
        QCOMPARE(fromBcd(0x1F), 25);

        QDateTime t;
        QVERIFY(decodeDeviceDateTime(hexBytes("30 14 08 12 26"), 0, t));
        QCOMPARE(t, QDateTime(QDate(2026, 12, 8), QTime(14, 30, 0)));
        const QDateTime before = t;
        for (const char *bad : {"00 00 00 00 00", "00 00 01 13 26", "00 00 32 01 26", "00 24 01 01 26",
                                "60 00 01 01 26", "00 00 30 02 26", "00 00 29 02 25"}) {
            QVERIFY2(!decodeDeviceDateTime(hexBytes(bad), 0, t), bad);
            QCOMPARE(t, before);  // untouched on failure
        }
        QVERIFY(decodeDeviceDateTime(hexBytes("59 23 29 02 24"), 0, t));  // a leap day
        QVERIFY(!decodeDeviceDateTime(hexBytes("30 14 08 12"), 0, t));    // too short

        const QDateTime moment(QDate(2031, 1, 5), QTime(9, 7, 45, 500));
        QCOMPARE(encodeDeviceDateTime(moment), hexBytes("07 09 05 01 31"));
        QVERIFY(decodeDeviceDateTime(encodeDeviceDateTime(moment), 0, t));
        QCOMPARE(t, QDateTime(QDate(2031, 1, 5), QTime(9, 7, 0)));  // seconds dropped
    }

    void decimalWordWorkedValues_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("word");
        QTest::addColumn<double>("decoded");
        QTest::newRow("0") << 0.0 << 0x0000 << 0.0;
        QTest::newRow("1.0") << 1.0 << 0x0064 << 1.0;
        QTest::newRow("1.5") << 1.5 << 0x0096 << 1.5;
        QTest::newRow("2.0") << 2.0 << 0x00C8 << 2.0;
        QTest::newRow("3.14159") << 3.14159 << 0x013A << 3.14;
        QTest::newRow("100") << 100.0 << 0x0864 << 100.0;
        QTest::newRow("12345") << 12345.0 << 0x107B << 12300.0;
        QTest::newRow("0.5") << 0.5 << 0xFDF4 << 0.5;
        QTest::newRow("0.25") << 0.25 << 0xFCFA << 0.25;
        QTest::newRow("0.01") << 0.01 << 0xF864 << 0.01;
        QTest::newRow("0.999") << 0.999 << 0xFFE7 << 0.999;
        QTest::newRow("0.1") << 0.1 << 0xFC64 << 0.1;
        QTest::newRow("0.001") << 0.001 << 0xF464 << 0.001;
        QTest::newRow("hair below 1") << 0.999999999 << 0x0064 << 1.0;
        QTest::newRow("negative") << -1.0 << 0x0000 << 0.0;
        // Exact values that a cut floating-point product would write one digit low.
        QTest::newRow("11.0") << 11.0 << 0x046E << 11.0;
        QTest::newRow("0.12") << 0.12 << 0xFC78 << 0.12;
        QTest::newRow("1.01e-6") << 1.01e-6 << 0xE865 << 1.01e-6;
        QTest::newRow("cut, not rounded") << 9.999 << 0x03E7 << 9.99;
    }

    void decimalWordWorkedValues()
    {
        QFETCH(double, x);
        QFETCH(int, word);
        QFETCH(double, decoded);
        QCOMPARE(int(encodeDecimalWord(x)), word);
        QCOMPARE(decodeDecimalWord(quint16(word)), decoded);
    }

    void decimalWordDecodeOnly()
    {
        QCOMPARE(decodeDecimalWord(0x03FF), 10.23);
        QCOMPARE(decodeDecimalWord(0x07FF), 102.3);
        QVERIFY(qFuzzyCompare(decodeDecimalWord(0x8064), 1e-32));
        QCOMPARE(decodeDecimalWord(0x0000), 0.0);
        QCOMPARE(encodeDecimalWord(std::numeric_limits<double>::quiet_NaN()), quint16(0));
        QCOMPARE(encodeDecimalWord(std::numeric_limits<double>::infinity()), quint16(0));
    }

    // Every value of three significant digits survives the round trip exactly.
    void decimalWordRoundTripSweep()
    {
        int checked = 0;
        for (int e = -9; e <= 9; ++e) {
            for (int m = 100; m <= 999; ++m) {
                const double x = QStringLiteral("%1e%2").arg(m).arg(e - 2).toDouble();
                const quint16 w = encodeDecimalWord(x);
                const quint16 expected = quint16(m + ((e + 64) % 64) * 1024);
                if (w != expected)
                    QFAIL(qPrintable(QStringLiteral("%1e%2 encoded as %3").arg(m).arg(e - 2).arg(w, 4, 16)));
                if (decodeDecimalWord(w) != x)
                    QFAIL(qPrintable(QStringLiteral("%1e%2 decoded as %3").arg(m).arg(e - 2).arg(decodeDecimalWord(w), 0, 'g', 17)));
                ++checked;
            }
        }
        QCOMPARE(checked, 19 * 900);
    }

    void deviceText()
    {
        const QString ivanov = QStringLiteral("Иванов");
        QCOMPARE(textToDeviceCode(ivanov), hexBytes("A5 B3 61 BD 6F B3"));
        QCOMPARE(deviceCodeToText(hexBytes("A5 B3 61 BD 6F B3")), ivanov);
        QCOMPARE(deviceCodeToText(hexBytes("41 42 43")), QStringLiteral("АВС"));
        QCOMPARE(cp1251ToDeviceCode(hexBytes("C0 C2 D1")), hexBytes("41 42 43"));
        QCOMPARE(deviceCodeToText(QByteArray(3, '\0')), QStringLiteral("¤¤¤"));
        QCOMPARE(deviceCodeToText(hexBytes("80 C8 FF")), QStringLiteral("   "));
        QCOMPARE(textToDeviceCode(QStringLiteral("Ёё№")), hexBytes("A2 B5 17"));
        // Latin look-alikes written to the device come back Cyrillic.
        QCOMPARE(deviceCodeToText(textToDeviceCode(QStringLiteral("TOM"))), QStringLiteral("ТОМ"));
        QCOMPARE(textToDeviceCode(QStringLiteral("Z9.-")), QByteArray("Z9.-"));

        // Every Cyrillic letter survives the round trip, and the Windows-1251
        // range 80..AF repeats the letters' device codes.
        for (int b = 0xC0; b <= 0xFF; ++b)
            if (b != 0xDC)
                QCOMPARE(int(FromDeviceTable[ToDeviceTable[b]]), b);
        // The device has one code for both soft signs: Ь is read back as ь.
        QCOMPARE(deviceCodeToText(textToDeviceCode(QStringLiteral("Ь"))), QStringLiteral("ь"));
        for (int b : {0xA8, 0xB8, 0xB9})
            QCOMPARE(int(FromDeviceTable[ToDeviceTable[b]]), b);
        for (int b = 0x80; b <= 0xAF; ++b)
            if (b != 0xA8)
                QCOMPARE(ToDeviceTable[b], ToDeviceTable[b + 0x40]);
        // Printable ASCII other than the look-alike letters travels unchanged.
        for (int b = 0x30; b <= 0x39; ++b)
            QCOMPARE(int(FromDeviceTable[ToDeviceTable[b]]), b);
        const QString all = deviceCodeToText(QByteArray(1, char(0x17)) + hexBytes("A2 B5"));
        QCOMPARE(all, QStringLiteral("№Ёё"));
    }

    void requestBodies()
    {
        QCOMPARE(archiveRecordRequestBody(2000), hexBytes("D0 07"));
        QCOMPARE(archiveRecordRequestBody(1), hexBytes("01 00"));
        QCOMPARE(readerModeBody(1), hexBytes("01 01"));
        QCOMPARE(dosimeterRegisterReadBody(0xF3), hexBytes("F3 FF"));
        QCOMPARE(dosimeterNumberWriteBody(0x123456, true), hexBytes("F7 FF 56 34 12 02 00"));
        QCOMPARE(dosimeterNumberWriteBody(0xAB123456, false), hexBytes("F7 FF 56 34 12 00 00"));
        QCOMPARE(metrologyWriteBody(0xFFFF, 1.5, false), hexBytes("F2 FF 96 00 FF FF"));
        QCOMPARE(metrologyWriteBody(0xFFFF, 1.5, true), hexBytes("F2 FF 96 00 FF FF 00"));
        QCOMPARE(clearDoseBody(), hexBytes("F1 FF 00 00 00 00 00"));

        ReaderConfigData rec;
        rec.clock = QDateTime(QDate(2026, 12, 8), QTime(14, 30, 59));
        rec.param1 = 7;
        rec.param2 = 8;
        rec.param3 = 9;
        rec.value1 = 0x01020304;
        rec.value2 = 0xA0B0C0D0;
        rec.recordCount = 121;
        rec.status = 0x10;
        rec.infoText = "XXXXXXXXX";
        const QByteArray body = readerConfigWriteBody(rec);
        QCOMPARE(body.size(), 34);
        QCOMPARE(body, hexBytes("00 00 30 14 08 12 26 07 08 09 01 02 03 04 A0 B0 C0 D0 00 79") + QByteArray(14, ' '));
        // What is written reads back as the same configuration (seconds aside).
        QByteArray reply = replyFrame(6, 1, body.left(20) + hexBytes("10 22") + QByteArray("XXXXXXXXX") + hexBytes("00 00 00"));
        ReaderConfigData back;
        QVERIFY(decodeReaderConfigReply(reply, back));
        QCOMPARE(back.clock, QDateTime(QDate(2026, 12, 8), QTime(14, 30, 0)));
        QCOMPARE(back.value2, rec.value2);
        QCOMPARE(back.recordCount, rec.recordCount);
    }

    void configReply()
    {
        const QByteArray reply = configFrame(hexBytes("30 14 08 12 26"), QByteArray("\0ABCDEFGH", 9));
        QCOMPARE(reply.size(), ReaderConfigReplySize);
        ReaderConfigData rec;
        QVERIFY(decodeReaderConfigReply(reply, rec));
        QCOMPARE(rec.clock, QDateTime(QDate(2026, 12, 8), QTime(14, 30, 0)));
        QCOMPARE(rec.param1, quint8(7));
        QCOMPARE(rec.param3, quint8(9));
        QCOMPARE(rec.value1, 0x01020304u);
        QCOMPARE(rec.value2, 0xA0B0C0D0u);
        QCOMPARE(rec.recordCount, quint16(121));
        QCOMPARE(rec.status, quint8(0x10));
        QCOMPARE(rec.status2, quint8(0x22));
        QCOMPARE(rec.infoText, QByteArray("\0ABCDEFGH", 9));
        QCOMPARE(rec.infoText.at(0), '\0');

        ReaderConfigData untouched;
        untouched.recordCount = 5;
        QVERIFY(!decodeReaderConfigReply(configFrame(hexBytes("30 14 08 13 26"), QByteArray(9, 'A')), untouched));
        QCOMPARE(untouched.recordCount, quint16(5));
        QVERIFY(!untouched.clock.isValid());
        QVERIFY(!decodeReaderConfigReply(reply.left(51), untouched));

        QVERIFY(isReaderBusyRefusal(replyFrame(3, 1, hexBytes("05"))));
        QVERIFY(!isReaderBusyRefusal(replyFrame(3, 1, hexBytes("04"))));
        QVERIFY(!isReaderBusyRefusal(replyFrame(6, 1, hexBytes("05"))));
        QVERIFY(!isReaderBusyRefusal(replyFrame(3, 1, hexBytes("05 00"))));
    }

    void archiveReply()
    {
        ArchiveRecordData rec;
        bool timeValid = false;
        const QByteArray name = textToDeviceCode(QStringLiteral("Иванов")) + QByteArray(10, ' ');
        QByteArray reply = archiveFrame(hexBytes("05 09 01 03 26"), hexBytes("12 34 56"), name, hexBytes("00 64"));
        QCOMPARE(reply.size(), ArchiveRecordReplySize);
        QVERIFY(decodeArchiveRecordReply(reply, rec, timeValid));
        QVERIFY(timeValid);
        QCOMPARE(rec.time, QDateTime(QDate(2026, 3, 1), QTime(9, 5, 0)));
        QCOMPARE(rec.id, 0x123456u);
        QCOMPARE(rec.name, QStringLiteral("Иванов          "));
        QCOMPARE(rec.dose, 1000000.0);

        QVERIFY(decodeArchiveRecordReply(archiveFrame(hexBytes("05 09 01 03 26"), hexBytes("00 00 01"), QByteArray(16, ' '),
                                                      hexBytes("E8 64")),
                                         rec, timeValid));
        QCOMPARE(rec.dose, 1.0);
        QCOMPARE(rec.name, QString(16, QLatin1Char(' ')));

        QVERIFY(decodeArchiveRecordReply(archiveFrame(hexBytes("00 00 00 00 00"), hexBytes("00 00 02"), QByteArray(16, '\0'),
                                                      hexBytes("00 00")),
                                         rec, timeValid));
        QVERIFY(!timeValid);
        QVERIFY(rec.time.isNull());
        QCOMPARE(rec.id, 2u);
        QCOMPARE(rec.name, QString(16, QChar(0x00A4)));
        QCOMPARE(rec.dose, 0.0);

        QVERIFY(!decodeArchiveRecordReply(replyFrame(3, 1, hexBytes("01")), rec, timeValid));
    }

    void registerReplies()
    {
        quint32 number = 0;
        bool acc = false;
        QVERIFY(decodeDosimeterNumberReply(registerFrame(hexBytes("56 34 12 02")), number, acc));
        QCOMPARE(number, 0x123456u);
        QVERIFY(acc);
        QVERIFY(decodeDosimeterNumberReply(registerFrame(hexBytes("01 00 00 FD")), number, acc));
        QCOMPARE(number, 1u);
        QVERIFY(!acc);

        double a = 0;
        quint16 b = 0;
        QVERIFY(decodeMetrologyReply(registerFrame(hexBytes("96 00 FF FF")), a, b));
        QCOMPARE(a, 1.5);
        QCOMPARE(b, quint16(0xFFFF));

        float dose = 0;
        QVERIFY(decodeTotalDoseReply(registerFrame(hexBytes("00 00 C0 3F")), dose));
        QCOMPARE(dose, 1.5f);
        QVERIFY(decodeTotalDoseReply(registerFrame(hexBytes("00 00 C0 7F")), dose));
        QVERIFY(std::isnan(dose));

        QByteArray data;
        QVERIFY(registerReplyData(registerFrame(hexBytes("41 42 43 44")), data));
        QCOMPARE(data, QByteArray("ABCD"));
        QVERIFY(!registerReplyData(replyFrame(3, 1, hexBytes("02")), data));
        QVERIFY(!decodeDosimeterNumberReply(replyFrame(8, 1, {}), number, acc));
    }

    void spectrumReplies()
    {
        QByteArray body = hexBytes("00 00");
        for (int i = 0; i < 100; ++i) {
            body.append(char((i * 600) & 0xFF));
            body.append(char((i * 600) >> 8));
        }
        const QByteArray reply = replyFrame(6, 17, body);
        QCOMPARE(reply.size(), SpectrumReplySize);
        QVector<quint16> channels;
        QVERIFY(decodeSpectrumReply(reply, channels));
        QCOMPARE(channels.size(), 100);
        QCOMPARE(channels[1], quint16(600));
        QCOMPARE(channels[99], quint16(59400));
        QVERIFY(!decodeSpectrumReply(reply.left(219), channels));

        const QByteArray header =
            replyFrame(6, 125, hexBytes("00 00 00 00 00 00 00") + hexBytes("96 E8") + hexBytes("78 56 34 12") + hexBytes("01 02")
                              + hexBytes("DC 05") + hexBytes("10 00"));
        QCOMPARE(header.size(), SpectrumHeaderReplySize);
        SpectrumHeaderData h;
        QVERIFY(decodeSpectrumHeaderReply(header, h));
        QCOMPARE(h.dose, 1.5e-6);
        QCOMPARE(h.doseCounts, 0x12345678u);
        QCOMPARE(h.delta, quint16(0x0201));
        QCOMPARE(h.maxChannel, quint16(1500));
        QCOMPARE(h.comparatorChannel, quint16(16));
    }

    void exchangeLogLineTexts()
    {
        const QDateTime moment(QDate(2026, 12, 8), QTime(13, 30, 25));
        const QByteArray request = buildPacket(BroadcastAddress, MonitorAddress, 6, 1, hexBytes("00 00"));
        QStringList lines = exchangeLogLines(moment, request, QByteArray(), 4);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("08.12.2026 13:30:25 >FF FF FF 01 01 01 06 01 02 00 2F 46 74 80 00 00 00 00 00 00 "));
        QCOMPARE(lines[1], QStringLiteral("<   (4)"));
        lines = exchangeLogLines(moment, hexBytes("0a"), hexBytes("ab 01"), 1);
        QCOMPARE(lines[0], QStringLiteral("08.12.2026 13:30:25 >0A "));
        QCOMPARE(lines[1], QStringLiteral("< AB 01   (1)"));
    }

    void serialPortSettings()
    {
        SerialPortDriver port;
        QCOMPARE(port.inBufSize(), 2048u);
        port.setInBufSize(100);
        QCOMPARE(port.inBufSize(), 128u);
        port.setOutBufSize(10000);
        QCOMPARE(port.outBufSize(), 8192u);
        port.setPort(3);
        QCOMPARE(port.portName(), SerialPortDriver::portNameForNumber(3));
        QCOMPARE(port.port(), 3);
        port.setPortName(QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(port.port(), int(SerialPortDriver::CustomPort));
        port.setPort(0);
        QCOMPARE(port.portName(), QStringLiteral("/dev/ttyUSB0"));
#ifdef Q_OS_WIN
        QCOMPARE(SerialPortDriver::portNameForNumber(3), QStringLiteral("\\\\.\\COM3"));
#else
        QCOMPARE(SerialPortDriver::portNameForNumber(1), QStringLiteral("/dev/ttyS0"));
#endif
        // A closed port sends nothing and receives nothing, at once.
        QElapsedTimer t;
        t.start();
        port.setInputTimeout(500);
        QVERIFY(!port.sendBytes(hexBytes("01")));
        QCOMPARE(port.receiveBytes(10).size(), 0);
        QVERIFY(t.elapsed() < 200);
    }

    void commandsWithoutLink()
    {
        const auto noLink = [](const auto &result) {
            return result.kind() == ErrorKind::NoLink && !result.ok() && !result.responder;
        };
        QVERIFY(noLink(readReaderConfig(nullptr)));
        QVERIFY(noLink(writeReaderConfig(nullptr, ReaderConfigData())));
        QVERIFY(noLink(pingReader(nullptr)));
        QVERIFY(noLink(readArchiveRecord(nullptr, 1)));
        QVERIFY(noLink(setReaderMode(nullptr, 1)));
        QVERIFY(noLink(readDosimeterLabel(nullptr)));
        QVERIFY(noLink(readMetrologyCoefficients(nullptr)));
        QVERIFY(noLink(writeMetrologyCoefficients(nullptr, 1, 1.0, false)));
        QVERIFY(noLink(readDosimeterNumber(nullptr)));
        QVERIFY(noLink(writeDosimeterNumber(nullptr, 1, true)));
        QVERIFY(noLink(clearDosimeterDose(nullptr)));
        QVERIFY(noLink(readTotalDose(nullptr)));
        QVERIFY(noLink(readSpectrumHeader(nullptr)));
        QVERIFY_THROWS_EXCEPTION(ERuvoError, readSpectrum(nullptr, 0));
    }

    // The first failure to open the port in a run is an error; later ones are
    // silent. The archive read logs it instead.
    void connectionErrorOncePerRun()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        appState().programDir = dir.path() + QLatin1Char('/');
        appState().eventsLogEnabled = true;
        appState().rs232LogEnabled = true;
        SerialLink link;
        link.setPortName(dir.filePath(QStringLiteral("no-such-port")));
        link.setBaseRequestCount(0);
        link.setPingDelayMs(50);

        QVERIFY(link.reportConnectFailure());
        try {
            pingReader(&link);
            QFAIL("no connection error");
        } catch (const EGeneralError &e) {
            QCOMPARE(e.message(), QStringLiteral("RS232: Не удалось подключиться к заданному COM-порту.\r\n"
                                                 "Проверьте настройки подключения."));
        }
        QVERIFY(!link.reportConnectFailure());
        QVERIFY(!link.serialPort().isOpen());
        QVERIFY(!pingReader(&link));
        QVERIFY(!readReaderConfig(&link));
        // The report belongs to the link: another link of the run reports its own.
        QVERIFY(SerialLink().reportConnectFailure());

        link.resetReportConnectFailure();
        QVERIFY(!readArchiveRecord(&link, 5));
        QVERIFY(!link.reportConnectFailure());
        QFile events(dir.filePath(QStringLiteral("Events.log")));
        QVERIFY(events.open(QIODevice::ReadOnly));
        const QByteArray log = events.readAll();
        QVERIFY(log.endsWith(" >" + toCp1251Bytes("Ошибка при запросе архивной записи") + "\r\n"));

        // The exchanges that found the port closed were still logged: nothing came back.
        QFile rs232(dir.filePath(QStringLiteral("rs232.log")));
        QVERIFY(rs232.open(QIODevice::ReadOnly));
        QVERIFY(rs232.readAll().contains("\r\n<   (1)\r\n"));
    }

    // A command waits for a command of another thread that holds the link.
    void linkLockSerialisesCommands()
    {
        SerialLink link;
        link.setPortName(QStringLiteral("/nonexistent/port"));
        std::atomic<bool> locked{false};
        std::atomic<bool> release{false};
        QThread *holder = QThread::create([&] {
            LinkLockGuard lock(&link.lock());
            locked = true;
            while (!release)
                QThread::msleep(5);
        });
        holder->start();
        while (!locked)
            QThread::msleep(1);
        std::atomic<bool> done{false};
        QThread *worker = QThread::create([&] {
            try {
                pingReader(&link);
            } catch (...) {
            }
            done = true;
        });
        worker->start();
        QThread::msleep(150);
        QVERIFY(!done);
        release = true;
        QVERIFY(worker->wait(5000));
        QVERIFY(done);
        holder->wait();
        delete holder;
        delete worker;
    }

    // A result nothing has filled in is a failure, never a success, and
    // names no reader; the mode-switching flag is the first info byte.
    void resultsStartAsFailures()
    {
        const CommandResult<ReaderConfigData> nothing;
        QVERIFY(!nothing);
        QCOMPARE(nothing.kind(), ErrorKind::NoReply);
        QVERIFY(!nothing.responder);
        QVERIFY(!nothing.value.modeSwitching());
        ReaderConfigData rec;
        rec.infoText = QByteArray::fromHex("010000000000000000");
        QVERIFY(rec.modeSwitching());
        rec.infoText[0] = '\0';
        rec.infoText[1] = '\1';
        QVERIFY(!rec.modeSwitching());
    }

private:
    static QByteArray toCp1251Bytes(const char *utf8);
};

#include "core/TextCode.h"

QByteArray TestLinkUnits::toCp1251Bytes(const char *utf8)
{
    return toCp1251(QString::fromUtf8(utf8));
}

QTEST_GUILESS_MAIN(TestLinkUnits)
#include "tst_link_units.moc"

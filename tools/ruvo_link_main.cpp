// ruvo-link: one device command against a reader, the result printed as JSON.
// A service engineer checks a reader with it without the monitor.

#include "core/AppState.h"
#include "core/Errors.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"
#include "core/LinkValueRanges.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

const char *const UsageText =
    "usage: ruvo-link (--port PATH | --com N) [options] COMMAND [ARGS]\n"
    "options:\n"
    "  --port PATH        serial device (e.g. /dev/ttyUSB0, a pseudo-terminal, COM3)\n"
    "  --com N            COM port 1..8\n"
    "  --ping-ms MS       window of the short reads, 50..10000 (300)\n"
    "  --send-ms MS       window of writes and long reads, 100..60000 (2000)\n"
    "  --repeats N        repeats after the first attempt, 0..10 (3)\n"
    "  --fixed-window     every attempt listens for its whole window\n"
    "  --rs232log         append the exchanges to rs232.log\n"
    "  --eventslog        append the events to Events.log\n"
    "  --log-dir DIR      directory of the two logs (the current one)\n"
    "commands:\n"
    "  read-config | write-config | ping | read-record N (1..2000) | set-mode 0|1\n"
    "  read-label | read-coeffs | write-coeffs B A | read-number\n"
    "  write-number N on|off | clear-dose | read-dose\n"
    "  read-spectrum BLOCK (0..14) | read-spectrum-header\n";

int usage(const QString &problem)
{
    std::fprintf(stderr, "ruvo-link: %s\n%s", problem.toLocal8Bit().constData(), UsageText);
    return 2;
}

QString isoTime(const QDateTime &t)
{
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

QJsonValue timeValue(const QDateTime &t)
{
    return t.isValid() ? QJsonValue(isoTime(t)) : QJsonValue(QJsonValue::Null);
}

QJsonValue numberValue(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

// A value decoded from the decimal word carries at most four significant
// digits; arithmetic on it (a dose in sieverts times a million) can leave a
// floating-point tail. Rounded to 15 significant digits it is the nearest
// double to its decimal value again, which prints as that decimal ("123", not
// "123.00000000000001").
QJsonValue decimalValue(double v)
{
    if (!std::isfinite(v))
        return QJsonValue(QJsonValue::Null);
    char text[40];
    const auto written = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 15);
    double back = v;
    std::from_chars(text, written.ptr, back);
    return QJsonValue(back);
}

// A single-precision value as the shortest decimal that reads back as the
// same single (0.1, not 0.10000000149011612).
QJsonValue singleValue(float v)
{
    if (!std::isfinite(v))
        return QJsonValue(QJsonValue::Null);
    char text[40];
    const auto written = std::to_chars(text, text + sizeof text, v);
    double back = double(v);
    std::from_chars(text, written.ptr, back);
    return QJsonValue(back);
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QJsonObject rec0Json(const ReaderConfigData &r)
{
    QJsonObject o;
    o[QStringLiteral("Clock")] = timeValue(r.clock);
    o[QStringLiteral("Param1")] = r.param1;
    o[QStringLiteral("Param2")] = r.param2;
    o[QStringLiteral("Param3")] = r.param3;
    o[QStringLiteral("Value1")] = qint64(r.value1);
    o[QStringLiteral("Value2")] = qint64(r.value2);
    o[QStringLiteral("RecordCount")] = r.recordCount;
    o[QStringLiteral("Status")] = r.status;
    o[QStringLiteral("Status2")] = r.status2;
    o[QStringLiteral("DosimeterInserted")] = (r.status & StatusDosimeterInserted) != 0;
    o[QStringLiteral("InfoText")] = hexBytes(r.infoText);
    return o;
}

// Numbers on the command line are decimal: a leading zero does not make one octal.
bool parseInt(const QString &text, qint64 min, qint64 max, qint64 &value)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    value = v;
    return true;
}

bool parseUInt(const QString &text, qint64 max, qint64 &value)
{
    return parseInt(text, 0, max, value);
}

// Coefficient A goes out as a decimal word: 0, or three significant digits
// with a power of ten from -32 to 31. Anything else (not a number, infinite,
// negative, 1e32 and above, below 1e-32) would be written as 0 or with a
// wrapped power of ten.
bool decimalWordHolds(double a)
{
    if (!std::isfinite(a) || a < 0)
        return false;
    if (a == 0)
        return true;
    const double sent = decodeDecimalWord(encodeDecimalWord(a));
    return sent > 0 && std::abs(sent - a) <= a * 0.01;
}

// A path with a directory part is a file path: a relative one is taken from
// the current directory (the serial port layer would look for it under /dev/).
// A bare name ("ttyUSB0", "COM3") stays the platform's device name.
QString portPath(const QString &given)
{
    if (given.contains(QLatin1Char('/')) && !QDir::isAbsolutePath(given))
        return QDir::cleanPath(QDir::current().absoluteFilePath(given));
    return given;
}

// A refusal: function 3 with a one-byte body, the code.
bool isRefusal(const QByteArray &reply)
{
    return reply.size() == RefusalReplySize && quint8(reply[6]) == 3;
}

// Why a command failed, judged from the last reply it got.
QString failureText(const QByteArray &reply, int expectedSize, const QString &undecodable)
{
    if (reply.isEmpty())
        return QStringLiteral("Считыватель не ответил");
    if (isRefusal(reply)) {
        const int code = quint8(reply[14]);
        if (code == 5)
            return QStringLiteral("Считыватель занят (отказ с кодом 5)");
        return QStringLiteral("Считыватель отказал в запросе (код %1)").arg(code);
    }
    if (reply.size() != expectedSize)
        return QStringLiteral("Ответ длиной %1 байт вместо %2").arg(reply.size()).arg(expectedSize);
    return undecodable;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();

    SerialLink link;
    QString logDir = QDir::currentPath();
    bool pathGiven = false;
    bool comGiven = false;
    QStringList words;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        auto value = [&](qint64 max, qint64 &out) {
            if (i + 1 >= args.size())
                return false;
            return parseUInt(args[++i], max, out);
        };
        // A timing value in the range the monitor accepts from its settings file.
        auto timing = [&](const LinkValueRange &range, qint64 &out) {
            return value(range.high, out) && range.holds(out);
        };
        // Either --port or --com names the port, not both.
        const bool otherPortGiven = (a == QLatin1String("--port") && comGiven)
            || (a == QLatin1String("--com") && pathGiven);
        if (otherPortGiven)
            return usage(QStringLiteral("--port and --com exclude each other"));
        qint64 v = 0;
        if (a == QLatin1String("--port")) {
            if (i + 1 >= args.size())
                return usage(QStringLiteral("--port needs a path"));
            link.setComPortIndex(-1);
            link.setPortName(portPath(args[++i]));
            pathGiven = true;
        } else if (a == QLatin1String("--com")) {
            if (!value(8, v) || v < 1)
                return usage(QStringLiteral("--com needs a number 1..8"));
            link.setComPortIndex(int(v - 1));
            comGiven = true;
        } else if (a == QLatin1String("--ping-ms")) {
            if (!timing(PingDelayRange, v))
                return usage(QStringLiteral("--ping-ms needs milliseconds 50..10000"));
            link.setPingDelayMs(int(v));
        } else if (a == QLatin1String("--send-ms")) {
            if (!timing(SendDelayRange, v))
                return usage(QStringLiteral("--send-ms needs milliseconds 100..60000"));
            link.setSendDelayMs(int(v));
        } else if (a == QLatin1String("--repeats")) {
            if (!timing(BaseRequestCountRange, v))
                return usage(QStringLiteral("--repeats needs a number 0..10"));
            link.setBaseRequestCount(int(v));
        } else if (a == QLatin1String("--fixed-window")) {
            link.setFixedReceiveWindow(true);
        } else if (a == QLatin1String("--rs232log")) {
            appState().rs232LogEnabled = true;
        } else if (a == QLatin1String("--eventslog")) {
            appState().eventsLogEnabled = true;
        } else if (a == QLatin1String("--log-dir")) {
            if (i + 1 >= args.size())
                return usage(QStringLiteral("--log-dir needs a directory"));
            logDir = args[++i];
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::fputs(UsageText, stdout);
            return 0;
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage(QStringLiteral("unknown option ") + a);
        } else {
            words << a;
        }
    }
    if (!pathGiven && !comGiven)
        return usage(QStringLiteral("no port given"));
    if (words.isEmpty())
        return usage(QStringLiteral("no command given"));
    appState().programDir = QDir(logDir).absolutePath() + QLatin1Char('/');

    const QString command = words.takeFirst();
    auto needArgs = [&](int n) { return words.size() == n; };
    QJsonObject out;
    out[QStringLiteral("Command")] = command;
    bool ok = false;
    // What the failing exchange should have brought back, and what to say
    // when it came whole but could not be decoded.
    int expected = AcknowledgeReplySize;
    QString undecodable = QStringLiteral("Ответ не удалось разобрать");
    const bool connectFailureReportable = link.reportConnectFailure();
    // The reader that answered last, and the reply of the last command.
    quint32 lastResponder = 0;
    QByteArray lastReply;
    auto take = [&](const auto &result) {
        if (result.responder)
            lastResponder = *result.responder;
        lastReply = result.reply;
        return result.ok();
    };
    ReaderConfigData config;

    // Commands whose request depends on how the reader works read its
    // configuration first: a new process does not know readerModeSwitching.
    auto readConfigFirst = [&]() {
        const CommandResult<ReaderConfigData> result = readReaderConfig(&link);
        if (!take(result)) {
            expected = ReaderConfigReplySize;
            undecodable = QStringLiteral("Часы считывателя не дают верной даты");
            return false;
        }
        config = result.value;
        out[QStringLiteral("ReaderModeSwitching")] = int(config.modeSwitching());
        return true;
    };
    auto needsModeSwitching = [&]() {
        if (config.modeSwitching())
            return true;
        out[QStringLiteral("Error")] =
            QStringLiteral("Считыватель работает без переключения режимов: запрос не отправлен");
        return false;
    };

    try {
        qint64 v = 0, w = 0;
        if (command == QLatin1String("read-config") && needArgs(0)) {
            expected = ReaderConfigReplySize;
            undecodable = QStringLiteral("Часы считывателя не дают верной даты");
            const CommandResult<ReaderConfigData> result = readReaderConfig(&link);
            ok = take(result);
            if (ok)
                out[QStringLiteral("TRec0")] = rec0Json(result.value);
            out[QStringLiteral("ReaderBusy")] = result.kind() == ErrorKind::ReaderBusy;
            out[QStringLiteral("ReaderModeSwitching")] = int(ok && result.value.modeSwitching());
        } else if (command == QLatin1String("write-config") && needArgs(0)) {
            // The configuration is carried back as read; only the clock changes.
            bool busy = false;
            if (readConfigFirst()) {
                ReaderConfigData rec = config;
                rec.clock = QDateTime::currentDateTime();
                // The write itself succeeds whatever comes back; the tool
                // wants the reader's acknowledgement.
                ok = take(writeReaderConfig(&link, rec)) && lastReply.size() == AcknowledgeReplySize;
                out[QStringLiteral("TRec0")] = rec0Json(rec);
            } else {
                busy = isReaderBusyRefusal(lastReply);
            }
            out[QStringLiteral("ReaderBusy")] = busy;
        } else if (command == QLatin1String("ping") && needArgs(0)) {
            ok = take(pingReader(&link));
        } else if (command == QLatin1String("read-record") && needArgs(1)) {
            // Record 0 would be the configuration request.
            if (!parseInt(words[0], 1, 2000, v))
                return usage(QStringLiteral("read-record needs a record number 1..2000"));
            out[QStringLiteral("RecordNumber")] = int(v);
            expected = ArchiveRecordReplySize;
            const CommandResult<ArchiveRecordData> result = readArchiveRecord(&link, int(v));
            ok = take(result);
            if (ok) {
                const ArchiveRecordData &r = result.value;
                QJsonObject o;
                o[QStringLiteral("Time")] = timeValue(r.time);
                o[QStringLiteral("ID")] = qint64(r.id);
                o[QStringLiteral("Name")] = r.name;
                o[QStringLiteral("Dose")] = decimalValue(r.dose);
                out[QStringLiteral("ArchiveRecord")] = o;
            }
        } else if (command == QLatin1String("set-mode") && needArgs(1)) {
            if (!parseUInt(words[0], 1, v))
                return usage(QStringLiteral("set-mode needs a mode 0 or 1"));
            out[QStringLiteral("Mode")] = int(v);
            if (readConfigFirst() && needsModeSwitching())
                ok = take(setReaderMode(&link, quint8(v)));
        } else if (command == QLatin1String("read-label") && needArgs(0)) {
            expected = RegisterReplySize;
            const CommandResult<DosimeterLabelData> result = readDosimeterLabel(&link);
            ok = take(result);
            if (ok) {
                out[QStringLiteral("Text")] = result.value.text;
                out[QStringLiteral("Code")] = hexBytes(result.value.code);
            }
        } else if (command == QLatin1String("read-coeffs") && needArgs(0)) {
            expected = RegisterReplySize;
            const CommandResult<MetrologyData> result = readMetrologyCoefficients(&link);
            ok = take(result);
            const double a = result.value.a;
            const quint16 b = result.value.b;
            if (ok) {
                out[QStringLiteral("A")] = decimalValue(a);
                out[QStringLiteral("B")] = int(b);
                out[QStringLiteral("BSigned")] = int(qint16(b));
            }
        } else if (command == QLatin1String("write-coeffs") && needArgs(2)) {
            qint64 b = 0;
            bool okA = false;
            const double a = words[1].toDouble(&okA);
            if (!parseInt(words[0], -32768, 65535, b) || !okA || !decimalWordHolds(a))
                return usage(QStringLiteral("write-coeffs needs B (-32768..65535) and A (0, or from 1e-32 up to below 1e32)"));
            out[QStringLiteral("B")] = int(quint16(b));
            out[QStringLiteral("A")] = decimalValue(decodeDecimalWord(encodeDecimalWord(a)));
            // The body has one more byte on a reader with mode switching.
            if (readConfigFirst())
                ok = take(writeMetrologyCoefficients(&link, quint16(b), a, config.modeSwitching()));
        } else if (command == QLatin1String("read-number") && needArgs(0)) {
            expected = RegisterReplySize;
            const CommandResult<DosimeterNumberData> result = readDosimeterNumber(&link);
            ok = take(result);
            if (ok) {
                out[QStringLiteral("Number")] = qint64(result.value.number);
                out[QStringLiteral("Accumulation")] = result.value.accumulation;
            }
        } else if (command == QLatin1String("write-number") && needArgs(2)) {
            const QString mode = words[1].toLower();
            if (!parseUInt(words[0], 0xFFFFFF, v) || (mode != QLatin1String("on") && mode != QLatin1String("off")))
                return usage(QStringLiteral("write-number needs a number 0..16777215 and on|off"));
            out[QStringLiteral("Number")] = qint64(v);
            out[QStringLiteral("Accumulation")] = mode == QLatin1String("on");
            ok = take(writeDosimeterNumber(&link, quint32(v), mode == QLatin1String("on")));
        } else if (command == QLatin1String("clear-dose") && needArgs(0)) {
            ok = take(clearDosimeterDose(&link));
        } else if (command == QLatin1String("read-dose") && needArgs(0)) {
            expected = RegisterReplySize;
            const CommandResult<float> result = readTotalDose(&link);
            ok = take(result);
            if (ok)
                out[QStringLiteral("Dose")] = singleValue(result.value);
        } else if (command == QLatin1String("read-spectrum") && needArgs(1)) {
            if (!parseUInt(words[0], SpectrumBlocks - 1, w))
                return usage(QStringLiteral("read-spectrum needs a block number 0..14"));
            out[QStringLiteral("Block")] = int(w);
            expected = SpectrumReplySize;
            try {
                const QVector<quint16> channels = readSpectrum(&link, quint8(w));
                QJsonArray arr;
                for (const quint16 c : channels)
                    arr.append(int(c));
                out[QStringLiteral("Channels")] = arr;
                ok = true;
            } catch (const EProtocolCancel &e) {
                // Raised for any reply but a whole block; silence and a
                // refusal are not a block of the wrong size.
                const QByteArray reply = link.lastReply();
                out[QStringLiteral("Error")] =
                    reply.isEmpty() || isRefusal(reply) ? failureText(reply, expected, QString()) : e.message();
            }
        } else if (command == QLatin1String("read-spectrum-header") && needArgs(0)) {
            SpectrumHeaderData h;
            if (readConfigFirst() && needsModeSwitching()) {
                expected = SpectrumHeaderReplySize;
                const CommandResult<SpectrumHeaderData> result = readSpectrumHeader(&link);
                ok = take(result);
                h = result.value;
            }
            if (ok) {
                out[QStringLiteral("Dose")] = decimalValue(h.dose);
                out[QStringLiteral("DoseCounts")] = qint64(h.doseCounts);
                out[QStringLiteral("Delta")] = int(h.delta);
                out[QStringLiteral("MaxChannel")] = int(h.maxChannel);
                out[QStringLiteral("ComparatorChannel")] = int(h.comparatorChannel);
            }
        } else {
            return usage(QStringLiteral("unknown command or wrong arguments: ") + command);
        }
    } catch (const ERuvoError &e) {
        ok = false;
        out[QStringLiteral("Error")] = e.message();
    } catch (const std::exception &e) {
        ok = false;
        out[QStringLiteral("Error")] = QString::fromUtf8(e.what());
    }
    if (!ok && !out.contains(QStringLiteral("Error"))) {
        // The archive read keeps the connection error to itself: the spent
        // report says the port did not open.
        if (connectFailureReportable && !link.reportConnectFailure())
            out[QStringLiteral("Error")] = SerialLink::connectFailureText();
        else
            out[QStringLiteral("Error")] = failureText(lastReply, expected, undecodable);
    }
    out[QStringLiteral("Ok")] = ok;
    out[QStringLiteral("LastResponderAddress")] = qint64(lastResponder);
    out[QStringLiteral("LastResponder")] = addressToText(lastResponder);
    std::fputs(QJsonDocument(out).toJson(QJsonDocument::Indented).constData(), stdout);
    return ok ? 0 : 1;
}

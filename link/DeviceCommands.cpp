#include "link/DeviceCommands.h"

#include "core/Errors.h"
#include "core/LogFiles.h"
#include "link/TarnCodes.h"
#include "link/SerialLink.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstring>

namespace {

using namespace TarnCodes;

quint8 u8(const QByteArray &b, int i)
{
    return quint8(b[i]);
}

quint16 le16(const QByteArray &b, int i)
{
    return quint16(u8(b, i) | (u8(b, i + 1) << 8));
}

quint16 be16(const QByteArray &b, int i)
{
    return quint16((u8(b, i) << 8) | u8(b, i + 1));
}

quint32 le32(const QByteArray &b, int i)
{
    return quint32(u8(b, i)) | (quint32(u8(b, i + 1)) << 8) | (quint32(u8(b, i + 2)) << 16)
        | (quint32(u8(b, i + 3)) << 24);
}

quint32 be32(const QByteArray &b, int i)
{
    return (quint32(u8(b, i)) << 24) | (quint32(u8(b, i + 1)) << 16) | (quint32(u8(b, i + 2)) << 8)
        | quint32(u8(b, i + 3));
}

void putBe32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24));
    out.append(char((v >> 16) & 0xFF));
    out.append(char((v >> 8) & 0xFF));
    out.append(char(v & 0xFF));
}

QByteArray bytesOf(std::initializer_list<quint8> list)
{
    QByteArray out;
    for (const quint8 b : list)
        out.append(char(b));
    return out;
}

quint32 replySource(const QByteArray &reply)
{
    return frameAddress(reply, 3);
}

// The exchange of one request whose reply must answer it.
QByteArray exchangeChecked(SerialLink *link, const QByteArray &request, int windowMs)
{
    return link->exchangePacket(request, windowMs,
                                [&request](const QByteArray &reply) { return replyAnswersRequest(request, reply); });
}

// One request, one reply, in a session of its own or the caller's. The
// connection error of openLink() leaves as EGeneralError.
QByteArray runExchange(SerialLink *link, quint8 function, quint8 selector, const QByteArray &body,
                       int windowMs)
{
    const QByteArray request = buildPacket(BroadcastAddress, MonitorAddress, function, selector, body);
    LinkSession session(*link);
    return exchangeChecked(link, request, windowMs);
}

template <typename T>
CommandResult<T> failed(ErrorKind failure, const QByteArray &reply = QByteArray())
{
    return CommandResult<T>::failure(failure, reply);
}

// Why a reply of the wrong length was not taken.
ErrorKind lengthFailure(const QByteArray &reply)
{
    if (reply.isEmpty())
        return ErrorKind::NoReply;
    if (reply.size() == RefusalReplySize && u8(reply, 6) == FnRefusal)
        return isReaderBusyRefusal(reply) ? ErrorKind::ReaderBusy : ErrorKind::Refused;
    return ErrorKind::WrongLength;
}

// The reply of `size` bytes carries the value: the responder is noted.
template <typename T>
CommandResult<T> taken(const QByteArray &reply, T value)
{
    CommandResult<T> result = CommandResult<T>::success(std::move(value), reply);
    result.responder = replySource(reply);
    return result;
}

// Writes to a dosimeter register: acknowledged by a 14-byte reply.
CommandResult<NoValue> runAcknowledgedWrite(SerialLink *link, const QByteArray &body)
{
    if (!link)
        return failed<NoValue>(ErrorKind::NoLink);
    LinkLockGuard lock(&link->lock());
    const QByteArray reply = runExchange(link, FnWrite, SelRegister, body, link->sendDelayMs());
    if (reply.size() != AcknowledgeReplySize)
        return failed<NoValue>(lengthFailure(reply), reply);
    return taken(reply, NoValue());
}

// Reads a dosimeter register: a 25-byte reply, decoded by `decode`.
template <typename T, typename Decode>
CommandResult<T> runRegisterRead(SerialLink *link, quint8 code, bool longWindow, Decode decode)
{
    if (!link)
        return failed<T>(ErrorKind::NoLink);
    LinkLockGuard lock(&link->lock());
    const QByteArray reply = runExchange(link, FnRead, SelRegister, dosimeterRegisterReadBody(code),
                                         longWindow ? link->sendDelayMs() : link->pingDelayMs());
    T value{};
    if (reply.size() != RegisterReplySize)
        return failed<T>(lengthFailure(reply), reply);
    decode(reply, value);
    return taken(reply, value);
}

// Reads the four data bytes of a dosimeter register: a 25-byte reply.
CommandResult<QByteArray> runRegisterDataRead(SerialLink *link, quint8 code, int windowMs)
{
    const QByteArray reply = runExchange(link, FnRead, SelRegister, dosimeterRegisterReadBody(code), windowMs);
    QByteArray data;
    if (!registerReplyData(reply, data))
        return failed<QByteArray>(lengthFailure(reply), reply);
    return taken(reply, data);
}

} // namespace

// ---- Request bodies ----

QByteArray readerConfigReadBody()
{
    return QByteArray(2, '\0');
}

QByteArray readerConfigWriteBody(const ReaderConfigData &rec)
{
    QByteArray body(2, '\0');
    body += encodeDeviceDateTime(rec.clock);
    body.append(char(rec.param1));
    body.append(char(rec.param2));
    body.append(char(rec.param3));
    putBe32(body, rec.value1);
    putBe32(body, rec.value2);
    body.append(char(rec.recordCount >> 8));
    body.append(char(rec.recordCount & 0xFF));
    body.append(14, ' ');
    return body;
}

QByteArray archiveRecordRequestBody(int number)
{
    return bytesOf({quint8(number & 0xFF), quint8((number >> 8) & 0xFF)});
}

QByteArray readerModeBody(quint8 mode)
{
    return bytesOf({0x01, mode});
}

QByteArray dosimeterRegisterReadBody(quint8 code)
{
    return bytesOf({code, RegMarker});
}

QByteArray labelGroupWriteBody(int group, const QByteArray &fourBytes)
{
    QByteArray body = bytesOf({quint8(RegLabelFirst + group), RegMarker});
    body += fourBytes.left(LabelGroupSize);
    body += char(0);
    return body;
}

QByteArray labelGroupReadBody(int group)
{
    return dosimeterRegisterReadBody(quint8(RegLabelFirst + group));
}

QByteArray metrologyWriteBody(quint16 b, double a, bool withTrailingZero)
{
    return metrologyWordWriteBody(b, encodeDecimalWord(a), withTrailingZero);
}

QByteArray metrologyWordWriteBody(quint16 b, quint16 word, bool withTrailingZero)
{
    QByteArray body = bytesOf({RegMetrology, RegMarker, quint8(word & 0xFF), quint8(word >> 8), quint8(b & 0xFF),
                             quint8(b >> 8)});
    if (withTrailingZero)
        body.append('\0');
    return body;
}

QByteArray dosimeterNumberWriteBody(quint32 number, bool accumulation)
{
    return bytesOf({RegDosimeterNumber, RegMarker, quint8(number & 0xFF), quint8((number >> 8) & 0xFF),
                  quint8((number >> 16) & 0xFF), quint8(accumulation ? 0x02 : 0x00), 0x00});
}

QByteArray clearDoseBody()
{
    return bytesOf({RegTotalDose, RegMarker, 0, 0, 0, 0, 0});
}

// ---- Replies ----

bool replyAnswersRequest(const QByteArray &request, const QByteArray &reply)
{
    if (request.size() < EmptyFrameSize || reply.size() < EmptyFrameSize)
        return false;
    const quint8 function = u8(request, 6);
    const quint8 selector = u8(request, 7);
    if (u8(reply, 7) != selector)
        return false;
    if (u8(reply, 6) == FnRefusal)
        return true;
    if (u8(reply, 6) != function)
        return false;
    int echoed = 0;
    if (function == FnRead && selector == SelRegister)
        echoed = 2;
    else if (function == FnRead && selector == SelSpectrumBlock)
        echoed = 1;
    const QByteArray asked = frameBody(request).left(echoed);
    return asked.size() == echoed && frameBody(reply).left(echoed) == asked;
}

// ---- Decoders ----

bool decodeReaderConfigReply(const QByteArray &reply, ReaderConfigData &rec)
{
    if (reply.size() != ReaderConfigReplySize)
        return false;
    QDateTime clock;
    if (!decodeDeviceDateTime(reply, 16, clock))
        return false;
    rec.clock = clock;
    rec.param1 = u8(reply, 21);
    rec.param2 = u8(reply, 22);
    rec.param3 = u8(reply, 23);
    rec.value1 = be32(reply, 24);
    rec.value2 = be32(reply, 28);
    rec.recordCount = be16(reply, 32);
    rec.status = u8(reply, 34);
    rec.status2 = u8(reply, 35);
    rec.infoText = reply.mid(36, 9);
    return true;
}

bool isReaderBusyRefusal(const QByteArray &reply)
{
    return reply.size() == RefusalReplySize && u8(reply, 6) == FnRefusal && u8(reply, 14) == RefuseBusy;
}

bool decodeArchiveRecordReply(const QByteArray &reply, ArchiveRecordData &rec, bool &timeValid)
{
    if (reply.size() != ArchiveRecordReplySize)
        return false;
    rec.id = (quint32(u8(reply, 21)) << 16) | (quint32(u8(reply, 22)) << 8) | u8(reply, 23);
    rec.name = deviceCodeToText(reply.mid(24, 16));
    rec.dose = decodeDecimalWord(be16(reply, 42)) * 1000000.0;
    rec.time = QDateTime();
    timeValid = decodeDeviceDateTime(reply, 16, rec.time);
    return true;
}

bool registerReplyData(const QByteArray &reply, QByteArray &data)
{
    if (reply.size() != RegisterReplySize)
        return false;
    data = reply.mid(16, 4);
    return true;
}

bool decodeMetrologyReply(const QByteArray &reply, double &a, quint16 &b)
{
    if (reply.size() != RegisterReplySize)
        return false;
    a = decodeDecimalWord(le16(reply, 16));
    b = le16(reply, 18);
    return true;
}

bool decodeDosimeterNumberReply(const QByteArray &reply, quint32 &number, bool &accumulation)
{
    if (reply.size() != RegisterReplySize)
        return false;
    number = quint32(u8(reply, 16)) | (quint32(u8(reply, 17)) << 8) | (quint32(u8(reply, 18)) << 16);
    accumulation = (u8(reply, 19) & 0x02) != 0;
    return true;
}

bool decodeTotalDoseReply(const QByteArray &reply, float &dose)
{
    if (reply.size() != RegisterReplySize)
        return false;
    const quint32 bits = le32(reply, 16);
    static_assert(sizeof(float) == sizeof(quint32), "IEEE 754 single expected");
    std::memcpy(&dose, &bits, sizeof dose);
    return true;
}

bool decodeSpectrumReply(const QByteArray &reply, QVector<quint16> &channels)
{
    if (reply.size() != SpectrumReplySize)
        return false;
    channels.resize(SpectrumBlockChannels);
    for (int i = 0; i < SpectrumBlockChannels; ++i)
        channels[i] = le16(reply, 16 + 2 * i);
    return true;
}

bool decodeSpectrumHeaderReply(const QByteArray &reply, SpectrumHeaderData &header)
{
    if (reply.size() != SpectrumHeaderReplySize)
        return false;
    header.dose = decodeDecimalWord(le16(reply, 21));
    header.doseCounts = le32(reply, 23);
    header.delta = le16(reply, 27);
    header.maxChannel = le16(reply, 29);
    header.comparatorChannel = le16(reply, 31);
    return true;
}

// ---- The commands ----

CommandResult<ReaderConfigData> readReaderConfig(SerialLink *link)
{
    if (!link)
        return failed<ReaderConfigData>(ErrorKind::NoLink);
    LinkLockGuard lock(&link->lock());
    const QByteArray reply = runExchange(link, FnRead, SelRegister, readerConfigReadBody(), link->pingDelayMs());
    if (reply.size() == ReaderConfigReplySize) {
        ReaderConfigData rec;
        if (!decodeReaderConfigReply(reply, rec))
            return failed<ReaderConfigData>(ErrorKind::BadValue, reply);  // the clock is not a valid date
        return taken(reply, rec);
    }
    CommandResult<ReaderConfigData> result = failed<ReaderConfigData>(lengthFailure(reply), reply);
    // A refusal still names the reader that gave it.
    if (reply.size() == RefusalReplySize)
        result.responder = replySource(reply);
    return result;
}

CommandResult<NoValue> writeReaderConfig(SerialLink *link, const ReaderConfigData &rec)
{
    if (!link)
        return failed<NoValue>(ErrorKind::NoLink);
    LinkLockGuard lock(&link->lock());
    return CommandResult<NoValue>::success(
        NoValue(), runExchange(link, FnWrite, SelRegister, readerConfigWriteBody(rec), link->sendDelayMs()));
}

CommandResult<NoValue> pingReader(SerialLink *link)
{
    if (!link)
        return failed<NoValue>(ErrorKind::NoLink);
    LinkLockGuard lock(&link->lock());
    const QByteArray reply = runExchange(link, FnPresence, SelRegister, QByteArray(), link->pingDelayMs());
    if (reply.size() != AcknowledgeReplySize)
        return failed<NoValue>(lengthFailure(reply), reply);
    return taken(reply, NoValue());
}

CommandResult<ArchiveRecordData> readArchiveRecord(SerialLink *link, int number)
{
    const QString errorText = QStringLiteral("Ошибка при запросе архивной записи");
    CommandResult<ArchiveRecordData> result = failed<ArchiveRecordData>(ErrorKind::NoReply);
    try {
        if (!link)
            return failed<ArchiveRecordData>(ErrorKind::NoLink);
        LinkLockGuard lock(&link->lock());
        const QByteArray reply = runExchange(link, FnRead, SelRegister, archiveRecordRequestBody(number),
                                             link->pingDelayMs());
        ArchiveRecordData rec;
        bool timeValid = false;
        if (!decodeArchiveRecordReply(reply, rec, timeValid))
            return failed<ArchiveRecordData>(lengthFailure(reply), reply);
        result = taken(reply, rec);
        if (!timeValid)
            logEvent(errorText);
        return result;
    } catch (...) {
        logEvent(errorText);
        return result;
    }
}

CommandResult<NoValue> setReaderMode(SerialLink *link, quint8 mode)
{
    if (!link)
        return failed<NoValue>(ErrorKind::NoLink);
    LinkLockGuard lock(&link->lock());
    const QByteArray reply = runExchange(link, FnWrite, SelRegister, readerModeBody(mode), link->sendDelayMs());
    if (reply.size() != AcknowledgeReplySize)
        return failed<NoValue>(lengthFailure(reply), reply);
    // The answer to a mode switch names no reader the poll should follow.
    return CommandResult<NoValue>::success(NoValue(), reply);
}

CommandResult<DosimeterLabelData> readDosimeterLabel(SerialLink *link)
{
    if (!link)
        return failed<DosimeterLabelData>(ErrorKind::NoLink);
    LinkSession session(*link);
    QByteArray labelCode;
    QByteArray reply;
    for (int group = 0; group < LabelGroups; ++group) {
        const CommandResult<QByteArray> read =
            runRegisterDataRead(link, quint8(RegLabelFirst + group), link->pingDelayMs());
        if (!read)
            return failed<DosimeterLabelData>(read.kind(), read.reply);
        labelCode += read.value;
        reply = read.reply;
    }
    return taken(reply, DosimeterLabelData{deviceCodeToText(labelCode), labelCode});
}

CommandResult<NoValue> writeLabelGroup(SerialLink *link, int group, const QByteArray &fourBytes)
{
    return runAcknowledgedWrite(link, labelGroupWriteBody(group, fourBytes));
}

CommandResult<QByteArray> readLabelGroup(SerialLink *link, int group)
{
    if (!link)
        return failed<QByteArray>(ErrorKind::NoLink);
    LinkLockGuard lock(&link->lock());
    return runRegisterDataRead(link, quint8(RegLabelFirst + group), link->sendDelayMs());
}

CommandResult<MetrologyData> readMetrologyCoefficients(SerialLink *link)
{
    return runRegisterRead<MetrologyData>(link, RegMetrology, false, [](const QByteArray &reply, MetrologyData &v) {
        decodeMetrologyReply(reply, v.a, v.b);
    });
}

CommandResult<NoValue> writeMetrologyCoefficients(SerialLink *link, quint16 b, double a, bool modeSwitching)
{
    return runAcknowledgedWrite(link, metrologyWriteBody(b, a, modeSwitching));
}

CommandResult<NoValue> writeMetrologyWord(SerialLink *link, quint16 b, quint16 aWord, bool modeSwitching)
{
    return runAcknowledgedWrite(link, metrologyWordWriteBody(b, aWord, modeSwitching));
}

CommandResult<DosimeterNumberData> readDosimeterNumber(SerialLink *link)
{
    return runRegisterRead<DosimeterNumberData>(link, RegDosimeterNumber, false,
                                                [](const QByteArray &reply, DosimeterNumberData &v) {
                                                    decodeDosimeterNumberReply(reply, v.number, v.accumulation);
                                                });
}

CommandResult<NoValue> writeDosimeterNumber(SerialLink *link, quint32 number, bool accumulation)
{
    return runAcknowledgedWrite(link, dosimeterNumberWriteBody(number, accumulation));
}

CommandResult<NoValue> clearDosimeterDose(SerialLink *link)
{
    return runAcknowledgedWrite(link, clearDoseBody());
}

CommandResult<float> readTotalDose(SerialLink *link)
{
    return runRegisterRead<float>(link, RegTotalDose, true,
                                  [](const QByteArray &reply, float &dose) { decodeTotalDoseReply(reply, dose); });
}

QVector<quint16> readSpectrum(SerialLink *link, quint8 block)
{
    // Without a link there is no spectrum: that is an error, never an empty success.
    if (!link)
        throw EGeneralError(SerialLink::connectFailureText());
    LinkLockGuard lock(&link->lock());
    const QByteArray reply =
        runExchange(link, FnRead, SelSpectrumBlock, QByteArray(1, char(block)), link->sendDelayMs());
    QVector<quint16> values;
    if (!decodeSpectrumReply(reply, values))
        throw EProtocolCancel(QStringLiteral("Ошибка размера пакета спектра"));
    for (const quint16 v : values)
        logEvent(QString::number(v));
    return values;
}

CommandResult<SpectrumHeaderData> readSpectrumHeader(SerialLink *link)
{
    if (!link)
        return failed<SpectrumHeaderData>(ErrorKind::NoLink);
    LinkLockGuard lock(&link->lock());
    const QByteArray reply =
        runExchange(link, FnRead, SelSpectrumHeader, QByteArray(1, char(0x04)), link->sendDelayMs());
    SpectrumHeaderData header;
    if (!decodeSpectrumHeaderReply(reply, header))
        return failed<SpectrumHeaderData>(lengthFailure(reply), reply);
    return taken(reply, header);
}

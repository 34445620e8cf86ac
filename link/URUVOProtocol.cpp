#include "link/URUVOProtocol.h"

#include "core/Errors.h"
#include "core/LogFiles.h"
#include "link/ProtocolCodes.h"
#include "link/URS232.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstring>

namespace {

using namespace TarnCodes;

quint8 U8(const QByteArray &b, int i)
{
    return quint8(b[i]);
}

quint16 Le16(const QByteArray &b, int i)
{
    return quint16(U8(b, i) | (U8(b, i + 1) << 8));
}

quint16 Be16(const QByteArray &b, int i)
{
    return quint16((U8(b, i) << 8) | U8(b, i + 1));
}

quint32 Le32(const QByteArray &b, int i)
{
    return quint32(U8(b, i)) | (quint32(U8(b, i + 1)) << 8) | (quint32(U8(b, i + 2)) << 16)
        | (quint32(U8(b, i + 3)) << 24);
}

quint32 Be32(const QByteArray &b, int i)
{
    return (quint32(U8(b, i)) << 24) | (quint32(U8(b, i + 1)) << 16) | (quint32(U8(b, i + 2)) << 8)
        | quint32(U8(b, i + 3));
}

void PutBe32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24));
    out.append(char((v >> 16) & 0xFF));
    out.append(char((v >> 8) & 0xFF));
    out.append(char(v & 0xFF));
}

QByteArray Bytes(std::initializer_list<quint8> list)
{
    QByteArray out;
    for (const quint8 b : list)
        out.append(char(b));
    return out;
}

quint32 ReplySource(const QByteArray &reply)
{
    return FrameAddress(reply, 3);
}

// Closes the link when a command leaves, by any way.
struct TLinkCloser {
    TRS232Link *link;
    ~TLinkCloser() { link->CloseLink(); }
};

// The exchange of one request whose reply must answer it.
QByteArray ExchangeChecked(TRS232Link *link, const QByteArray &request, int windowMs)
{
    return link->ExchangePacket(request, windowMs,
                                [&request](const QByteArray &reply) { return ReplyAnswersRequest(request, reply); });
}

// One request, one reply, the link opened and closed around it. The
// connection error of OpenLink leaves as EGeneralError.
QByteArray RunExchange(TRS232Link *link, quint8 function, quint8 selector, const QByteArray &body,
                       int windowMs)
{
    const QByteArray request = BuildPacket(BroadcastAddress, MonitorAddress, function, selector, body);
    TLinkCloser closer{link};
    link->OpenLink();
    return ExchangeChecked(link, request, windowMs);
}

template <typename T>
CommandResult<T> Failed(CommandFailure failure, const QByteArray &reply = QByteArray())
{
    CommandResult<T> result;
    result.failure = failure;
    result.reply = reply;
    return result;
}

// Why a reply of the wrong length was not taken.
CommandFailure LengthFailure(const QByteArray &reply)
{
    if (reply.isEmpty())
        return CommandFailure::NoReply;
    if (reply.size() == RefusalReplySize && U8(reply, 6) == FnRefusal)
        return IsReaderBusyRefusal(reply) ? CommandFailure::ReaderBusy : CommandFailure::Refused;
    return CommandFailure::WrongLength;
}

// The reply of `size` bytes carries the value: the responder is noted.
template <typename T>
CommandResult<T> Taken(const QByteArray &reply, T value)
{
    CommandResult<T> result;
    result.failure = CommandFailure::None;
    result.value = std::move(value);
    result.reply = reply;
    result.responder = ReplySource(reply);
    return result;
}

// Writes to a dosimeter register: acknowledged by a 14-byte reply.
CommandResult<NoValue> RunAcknowledgedWrite(TRS232Link *link, const QByteArray &body)
{
    if (!link)
        return Failed<NoValue>(CommandFailure::NoLink);
    TLinkLockGuard lock(&link->Lock());
    const QByteArray reply = RunExchange(link, FnWrite, SelRegister, body, link->SendDelayMS);
    if (reply.size() != AcknowledgeReplySize)
        return Failed<NoValue>(LengthFailure(reply), reply);
    return Taken(reply, NoValue());
}

// Reads a dosimeter register: a 25-byte reply, decoded by `decode`.
template <typename T, typename Decode>
CommandResult<T> RunRegisterRead(TRS232Link *link, quint8 code, bool longWindow, Decode decode)
{
    if (!link)
        return Failed<T>(CommandFailure::NoLink);
    TLinkLockGuard lock(&link->Lock());
    const QByteArray reply = RunExchange(link, FnRead, SelRegister, DosimeterRegisterReadBody(code),
                                         longWindow ? link->SendDelayMS : link->PingDelayMS);
    T value{};
    if (reply.size() != RegisterReplySize)
        return Failed<T>(LengthFailure(reply), reply);
    decode(reply, value);
    return Taken(reply, value);
}

} // namespace

// ---- Request bodies ----

QByteArray ReaderConfigReadBody()
{
    return QByteArray(2, '\0');
}

QByteArray ReaderConfigWriteBody(const TRec0Data &rec)
{
    QByteArray body(2, '\0');
    body += EncodeDeviceDateTime(rec.Clock);
    body.append(char(rec.Param1));
    body.append(char(rec.Param2));
    body.append(char(rec.Param3));
    PutBe32(body, rec.Value1);
    PutBe32(body, rec.Value2);
    body.append(char(rec.RecordCount >> 8));
    body.append(char(rec.RecordCount & 0xFF));
    body.append(14, ' ');
    return body;
}

QByteArray ArchiveRecordRequestBody(int number)
{
    return Bytes({quint8(number & 0xFF), quint8((number >> 8) & 0xFF)});
}

QByteArray ReaderModeBody(quint8 mode)
{
    return Bytes({0x01, mode});
}

QByteArray DosimeterRegisterReadBody(quint8 code)
{
    return Bytes({code, RegMarker});
}

QByteArray MetrologyWriteBody(quint16 b, double a, bool withTrailingZero)
{
    const quint16 word = EncodeDecimalWord(a);
    QByteArray body = Bytes({RegMetrology, RegMarker, quint8(word & 0xFF), quint8(word >> 8), quint8(b & 0xFF),
                             quint8(b >> 8)});
    if (withTrailingZero)
        body.append('\0');
    return body;
}

QByteArray DosimeterNumberWriteBody(quint32 number, bool accumulation)
{
    return Bytes({RegDosimeterNumber, RegMarker, quint8(number & 0xFF), quint8((number >> 8) & 0xFF),
                  quint8((number >> 16) & 0xFF), quint8(accumulation ? 0x02 : 0x00), 0x00});
}

QByteArray ClearDoseBody()
{
    return Bytes({RegTotalDose, RegMarker, 0, 0, 0, 0, 0});
}

// ---- Replies ----

bool ReplyAnswersRequest(const QByteArray &request, const QByteArray &reply)
{
    if (request.size() < EmptyFrameSize || reply.size() < EmptyFrameSize)
        return false;
    const quint8 function = U8(request, 6);
    const quint8 selector = U8(request, 7);
    if (U8(reply, 7) != selector)
        return false;
    if (U8(reply, 6) == FnRefusal)
        return true;
    if (U8(reply, 6) != function)
        return false;
    int echoed = 0;
    if (function == FnRead && selector == SelRegister)
        echoed = 2;
    else if (function == FnRead && selector == SelSpectrumBlock)
        echoed = 1;
    const QByteArray asked = FrameBody(request).left(echoed);
    return asked.size() == echoed && FrameBody(reply).left(echoed) == asked;
}

// ---- Decoders ----

bool DecodeReaderConfigReply(const QByteArray &reply, TRec0Data &rec)
{
    if (reply.size() != ReaderConfigReplySize)
        return false;
    QDateTime clock;
    if (!DecodeDeviceDateTime(reply, 16, clock))
        return false;
    rec.Clock = clock;
    rec.Param1 = U8(reply, 21);
    rec.Param2 = U8(reply, 22);
    rec.Param3 = U8(reply, 23);
    rec.Value1 = Be32(reply, 24);
    rec.Value2 = Be32(reply, 28);
    rec.RecordCount = Be16(reply, 32);
    rec.Status = U8(reply, 34);
    rec.Status2 = U8(reply, 35);
    rec.InfoText = reply.mid(36, 9);
    return true;
}

bool IsReaderBusyRefusal(const QByteArray &reply)
{
    return reply.size() == RefusalReplySize && U8(reply, 6) == FnRefusal && U8(reply, 14) == RefuseBusy;
}

bool DecodeArchiveRecordReply(const QByteArray &reply, ArchiveRecordData &rec, bool &timeValid)
{
    if (reply.size() != ArchiveRecordReplySize)
        return false;
    rec.ID = (quint32(U8(reply, 21)) << 16) | (quint32(U8(reply, 22)) << 8) | U8(reply, 23);
    rec.Name = DeviceCodeToText(reply.mid(24, 16));
    rec.Dose = DecodeDecimalWord(Be16(reply, 42)) * 1000000.0;
    rec.Time = QDateTime();
    timeValid = DecodeDeviceDateTime(reply, 16, rec.Time);
    return true;
}

bool RegisterReplyData(const QByteArray &reply, QByteArray &data)
{
    if (reply.size() != RegisterReplySize)
        return false;
    data = reply.mid(16, 4);
    return true;
}

bool DecodeMetrologyReply(const QByteArray &reply, double &a, quint16 &b)
{
    if (reply.size() != RegisterReplySize)
        return false;
    a = DecodeDecimalWord(Le16(reply, 16));
    b = Le16(reply, 18);
    return true;
}

bool DecodeDosimeterNumberReply(const QByteArray &reply, quint32 &number, bool &accumulation)
{
    if (reply.size() != RegisterReplySize)
        return false;
    number = quint32(U8(reply, 16)) | (quint32(U8(reply, 17)) << 8) | (quint32(U8(reply, 18)) << 16);
    accumulation = (U8(reply, 19) & 0x02) != 0;
    return true;
}

bool DecodeTotalDoseReply(const QByteArray &reply, float &dose)
{
    if (reply.size() != RegisterReplySize)
        return false;
    const quint32 bits = Le32(reply, 16);
    static_assert(sizeof(float) == sizeof(quint32), "IEEE 754 single expected");
    std::memcpy(&dose, &bits, sizeof dose);
    return true;
}

bool DecodeSpectrumReply(const QByteArray &reply, QVector<quint16> &channels)
{
    if (reply.size() != SpectrumReplySize)
        return false;
    channels.resize(SpectrumBlockChannels);
    for (int i = 0; i < SpectrumBlockChannels; ++i)
        channels[i] = Le16(reply, 16 + 2 * i);
    return true;
}

bool DecodeSpectrumHeaderReply(const QByteArray &reply, SpectrumHeaderData &header)
{
    if (reply.size() != SpectrumHeaderReplySize)
        return false;
    header.Dose = DecodeDecimalWord(Le16(reply, 21));
    header.DoseCounts = Le32(reply, 23);
    header.Delta = Le16(reply, 27);
    header.MaxChannel = Le16(reply, 29);
    header.ComparatorChannel = Le16(reply, 31);
    return true;
}

// ---- The commands ----

CommandResult<TRec0Data> ReadReaderConfig(TRS232Link *link)
{
    if (!link)
        return Failed<TRec0Data>(CommandFailure::NoLink);
    TLinkLockGuard lock(&link->Lock());
    const QByteArray reply = RunExchange(link, FnRead, SelRegister, ReaderConfigReadBody(), link->PingDelayMS);
    if (reply.size() == ReaderConfigReplySize) {
        TRec0Data rec;
        if (!DecodeReaderConfigReply(reply, rec))
            return Failed<TRec0Data>(CommandFailure::BadValue, reply);  // the clock is not a valid date
        return Taken(reply, rec);
    }
    CommandResult<TRec0Data> result = Failed<TRec0Data>(LengthFailure(reply), reply);
    // A refusal still names the reader that gave it.
    if (reply.size() == RefusalReplySize)
        result.responder = ReplySource(reply);
    return result;
}

CommandResult<NoValue> WriteReaderConfig(TRS232Link *link, const TRec0Data &rec)
{
    if (!link)
        return Failed<NoValue>(CommandFailure::NoLink);
    TLinkLockGuard lock(&link->Lock());
    CommandResult<NoValue> result;
    result.reply = RunExchange(link, FnWrite, SelRegister, ReaderConfigWriteBody(rec), link->SendDelayMS);
    result.failure = CommandFailure::None;
    return result;
}

CommandResult<NoValue> PingReader(TRS232Link *link)
{
    if (!link)
        return Failed<NoValue>(CommandFailure::NoLink);
    TLinkLockGuard lock(&link->Lock());
    const QByteArray reply = RunExchange(link, FnPresence, SelRegister, QByteArray(), link->PingDelayMS);
    if (reply.size() != AcknowledgeReplySize)
        return Failed<NoValue>(LengthFailure(reply), reply);
    return Taken(reply, NoValue());
}

CommandResult<ArchiveRecordData> ReadArchiveRecord(TRS232Link *link, int number)
{
    const QString errorText = QStringLiteral("Ошибка при запросе архивной записи");
    CommandResult<ArchiveRecordData> result = Failed<ArchiveRecordData>(CommandFailure::NoReply);
    try {
        if (!link)
            return Failed<ArchiveRecordData>(CommandFailure::NoLink);
        TLinkLockGuard lock(&link->Lock());
        const QByteArray reply = RunExchange(link, FnRead, SelRegister, ArchiveRecordRequestBody(number),
                                             link->PingDelayMS);
        ArchiveRecordData rec;
        bool timeValid = false;
        if (!DecodeArchiveRecordReply(reply, rec, timeValid))
            return Failed<ArchiveRecordData>(LengthFailure(reply), reply);
        result = Taken(reply, rec);
        if (!timeValid)
            LogEvent(errorText);
        return result;
    } catch (...) {
        LogEvent(errorText);
        return result;
    }
}

CommandResult<NoValue> SetReaderMode(TRS232Link *link, quint8 mode)
{
    if (!link)
        return Failed<NoValue>(CommandFailure::NoLink);
    TLinkLockGuard lock(&link->Lock());
    const QByteArray reply = RunExchange(link, FnWrite, SelRegister, ReaderModeBody(mode), link->SendDelayMS);
    if (reply.size() != AcknowledgeReplySize)
        return Failed<NoValue>(LengthFailure(reply), reply);
    // The answer to a mode switch names no reader the poll should follow.
    CommandResult<NoValue> result;
    result.failure = CommandFailure::None;
    result.reply = reply;
    return result;
}

CommandResult<DosimeterLabelData> ReadDosimeterLabel(TRS232Link *link)
{
    if (!link)
        return Failed<DosimeterLabelData>(CommandFailure::NoLink);
    TLinkLockGuard lock(&link->Lock());
    TLinkCloser closer{link};
    link->OpenLink();
    QByteArray labelCode;
    QByteArray reply;
    for (quint8 reg = RegLabelFirst; reg <= RegLabelLast; ++reg) {
        const QByteArray request =
            BuildPacket(BroadcastAddress, MonitorAddress, FnRead, SelRegister, DosimeterRegisterReadBody(reg));
        reply = ExchangeChecked(link, request, link->PingDelayMS);
        QByteArray data;
        if (!RegisterReplyData(reply, data))
            return Failed<DosimeterLabelData>(LengthFailure(reply), reply);
        labelCode += data;
    }
    return Taken(reply, DosimeterLabelData{DeviceCodeToText(labelCode), labelCode});
}

CommandResult<MetrologyData> ReadMetrologyCoefficients(TRS232Link *link)
{
    return RunRegisterRead<MetrologyData>(link, RegMetrology, false, [](const QByteArray &reply, MetrologyData &v) {
        DecodeMetrologyReply(reply, v.A, v.B);
    });
}

CommandResult<NoValue> WriteMetrologyCoefficients(TRS232Link *link, quint16 b, double a, bool modeSwitching)
{
    return RunAcknowledgedWrite(link, MetrologyWriteBody(b, a, modeSwitching));
}

CommandResult<DosimeterNumberData> ReadDosimeterNumber(TRS232Link *link)
{
    return RunRegisterRead<DosimeterNumberData>(link, RegDosimeterNumber, false,
                                                [](const QByteArray &reply, DosimeterNumberData &v) {
                                                    DecodeDosimeterNumberReply(reply, v.Number, v.Accumulation);
                                                });
}

CommandResult<NoValue> WriteDosimeterNumber(TRS232Link *link, quint32 number, bool accumulation)
{
    return RunAcknowledgedWrite(link, DosimeterNumberWriteBody(number, accumulation));
}

CommandResult<NoValue> ClearDosimeterDose(TRS232Link *link)
{
    return RunAcknowledgedWrite(link, ClearDoseBody());
}

CommandResult<float> ReadTotalDose(TRS232Link *link)
{
    return RunRegisterRead<float>(link, RegTotalDose, true,
                                  [](const QByteArray &reply, float &dose) { DecodeTotalDoseReply(reply, dose); });
}

QVector<quint16> ReadSpectrum(TRS232Link *link, quint8 block)
{
    // Without a link there is no spectrum: that is an error, never an empty success.
    if (!link)
        throw EGeneralError(TRS232Link::ConnectFailureText());
    TLinkLockGuard lock(&link->Lock());
    const QByteArray reply =
        RunExchange(link, FnRead, SelSpectrumBlock, QByteArray(1, char(block)), link->SendDelayMS);
    QVector<quint16> values;
    if (!DecodeSpectrumReply(reply, values))
        throw EProtocolCancel(QStringLiteral("Ошибка размера пакета спектра"));
    for (const quint16 v : values)
        LogEvent(QString::number(v));
    return values;
}

CommandResult<SpectrumHeaderData> ReadSpectrumHeader(TRS232Link *link)
{
    if (!link)
        return Failed<SpectrumHeaderData>(CommandFailure::NoLink);
    TLinkLockGuard lock(&link->Lock());
    const QByteArray reply =
        RunExchange(link, FnRead, SelSpectrumHeader, QByteArray(1, char(0x04)), link->SendDelayMS);
    SpectrumHeaderData header;
    if (!DecodeSpectrumHeaderReply(reply, header))
        return Failed<SpectrumHeaderData>(LengthFailure(reply), reply);
    return Taken(reply, header);
}

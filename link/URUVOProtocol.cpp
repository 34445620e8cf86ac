#include "link/URUVOProtocol.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/LogFiles.h"
#include "link/ProtocolCodes.h"
#include "link/URS232.h"

#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstring>

namespace {

QMutex g_recordsMutex;
TRec0Data g_trec0;
ArchiveRecordData g_archiveRecord;
std::atomic<quint32> g_lastResponder{0};
QByteArray g_lastCommandReply;

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

void NoteCommandReply(const QByteArray &reply)
{
    QMutexLocker lock(&g_recordsMutex);
    g_lastCommandReply = reply;
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
    NoteCommandReply(QByteArray());
    link->OpenLink();
    const QByteArray reply = ExchangeChecked(link, request, windowMs);
    NoteCommandReply(reply);
    return reply;
}

// Writes to a dosimeter register: acknowledged by a 14-byte reply.
bool RunAcknowledgedWrite(const QByteArray &body)
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    if (!link)
        return false;
    const QByteArray reply = RunExchange(link, FnWrite, SelRegister, body, link->SendDelayMS);
    if (reply.size() != AcknowledgeReplySize)
        return false;
    SetLastResponderAddress(ReplySource(reply));
    return true;
}

// Reads a dosimeter register: a 25-byte reply.
bool RunRegisterRead(quint8 code, int windowMs, QByteArray &reply)
{
    TRS232Link *link = RS232Link();
    if (!link)
        return false;
    reply = RunExchange(link, FnRead, SelRegister, DosimeterRegisterReadBody(code), windowMs);
    return reply.size() == RegisterReplySize;
}

} // namespace

// ---- Values left behind ----

TRec0Data TRec0()
{
    QMutexLocker lock(&g_recordsMutex);
    return g_trec0;
}

void SetTRec0(const TRec0Data &rec)
{
    QMutexLocker lock(&g_recordsMutex);
    g_trec0 = rec;
}

ArchiveRecordData ArchiveRecord()
{
    QMutexLocker lock(&g_recordsMutex);
    return g_archiveRecord;
}

void SetArchiveRecord(const ArchiveRecordData &rec)
{
    QMutexLocker lock(&g_recordsMutex);
    g_archiveRecord = rec;
}

quint32 LastResponderAddress()
{
    return g_lastResponder.load();
}

void SetLastResponderAddress(quint32 address)
{
    g_lastResponder.store(address & 0xFFFFFF);
}

void ResetLinkValues()
{
    SetTRec0(TRec0Data());
    SetArchiveRecord(ArchiveRecordData());
    g_lastResponder.store(0);
    NoteCommandReply(QByteArray());
    ResetReportConnectFailure();
}

QByteArray LastCommandReply()
{
    QMutexLocker lock(&g_recordsMutex);
    return g_lastCommandReply;
}

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

bool ReadReaderConfig()
{
    App().ReaderBusy = false;
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    if (!link)
        return false;
    const QByteArray reply = RunExchange(link, FnRead, SelRegister, ReaderConfigReadBody(), link->PingDelayMS);
    if (reply.size() == ReaderConfigReplySize) {
        TRec0Data rec = TRec0();
        if (!DecodeReaderConfigReply(reply, rec))
            return false;  // the clock is not a valid date: nothing changes
        App().ReaderModeSwitching = U8(reply, 36) != 0 ? 1 : 0;
        SetTRec0(rec);
        SetLastResponderAddress(ReplySource(reply));
        return true;
    }
    if (reply.size() == RefusalReplySize) {
        SetLastResponderAddress(ReplySource(reply));
        if (IsReaderBusyRefusal(reply))
            App().ReaderBusy = true;
    }
    return false;
}

bool WriteReaderConfig()
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    if (!link)
        return false;
    RunExchange(link, FnWrite, SelRegister, ReaderConfigWriteBody(TRec0()), link->SendDelayMS);
    return true;
}

bool PingReader()
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    if (!link)
        return false;
    const QByteArray reply = RunExchange(link, FnPresence, SelRegister, QByteArray(), link->PingDelayMS);
    if (reply.size() != AcknowledgeReplySize)
        return false;
    SetLastResponderAddress(ReplySource(reply));
    return true;
}

bool ReadArchiveRecord(int number)
{
    const QString errorText = QStringLiteral("Ошибка при запросе архивной записи");
    bool decoded = false;
    try {
        TLinkLockGuard lock(&LinkLock());
        TRS232Link *link = RS232Link();
        if (!link)
            return false;
        const QByteArray reply = RunExchange(link, FnRead, SelRegister, ArchiveRecordRequestBody(number),
                                             link->PingDelayMS);
        ArchiveRecordData rec;
        bool timeValid = false;
        if (!DecodeArchiveRecordReply(reply, rec, timeValid))
            return false;
        SetArchiveRecord(rec);
        SetLastResponderAddress(ReplySource(reply));
        decoded = true;
        if (!timeValid)
            LogEvent(errorText);
        return true;
    } catch (...) {
        LogEvent(errorText);
        return decoded;
    }
}

bool SetReaderMode(quint8 mode)
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    if (!link)
        return false;
    const QByteArray reply = RunExchange(link, FnWrite, SelRegister, ReaderModeBody(mode), link->SendDelayMS);
    return reply.size() == AcknowledgeReplySize;
}

bool ReadDosimeterLabel(QString &text, QByteArray &code)
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    if (!link)
        return false;
    TLinkCloser closer{link};
    NoteCommandReply(QByteArray());
    link->OpenLink();
    QByteArray labelCode;
    QByteArray reply;
    for (quint8 reg = RegLabelFirst; reg <= RegLabelLast; ++reg) {
        const QByteArray request =
            BuildPacket(BroadcastAddress, MonitorAddress, FnRead, SelRegister, DosimeterRegisterReadBody(reg));
        reply = ExchangeChecked(link, request, link->PingDelayMS);
        NoteCommandReply(reply);
        QByteArray data;
        if (!RegisterReplyData(reply, data))
            return false;
        labelCode += data;
    }
    code = labelCode;
    text = DeviceCodeToText(labelCode);
    SetLastResponderAddress(ReplySource(reply));
    return true;
}

bool ReadMetrologyCoefficients(double &a, quint16 &b)
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    QByteArray reply;
    if (!link || !RunRegisterRead(RegMetrology, link->PingDelayMS, reply))
        return false;
    DecodeMetrologyReply(reply, a, b);
    SetLastResponderAddress(ReplySource(reply));
    return true;
}

bool WriteMetrologyCoefficients(quint16 b, double a)
{
    return RunAcknowledgedWrite(MetrologyWriteBody(b, a, App().ReaderModeSwitching != 0));
}

bool ReadDosimeterNumber(quint32 &number, bool &accumulation)
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    QByteArray reply;
    if (!link || !RunRegisterRead(RegDosimeterNumber, link->PingDelayMS, reply))
        return false;
    DecodeDosimeterNumberReply(reply, number, accumulation);
    SetLastResponderAddress(ReplySource(reply));
    return true;
}

bool WriteDosimeterNumber(quint32 number, bool accumulation)
{
    return RunAcknowledgedWrite(DosimeterNumberWriteBody(number, accumulation));
}

bool ClearDosimeterDose()
{
    return RunAcknowledgedWrite(ClearDoseBody());
}

bool ReadTotalDose(float &dose)
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    QByteArray reply;
    if (!link || !RunRegisterRead(RegTotalDose, link->SendDelayMS, reply))
        return false;
    DecodeTotalDoseReply(reply, dose);
    SetLastResponderAddress(ReplySource(reply));
    return true;
}

void ReadSpectrum(quint8 block, QVector<quint16> &channels)
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    // Without a link there is no spectrum: that is an error, never an empty success.
    if (!link)
        throw EGeneralError(TRS232Link::ConnectFailureText());
    const QByteArray reply =
        RunExchange(link, FnRead, SelSpectrumBlock, QByteArray(1, char(block)), link->SendDelayMS);
    QVector<quint16> values;
    if (!DecodeSpectrumReply(reply, values))
        throw EProtocolCancel(QStringLiteral("Ошибка размера пакета спектра"));
    channels = values;
    for (const quint16 v : values)
        LogEvent(QString::number(v));
}

bool ReadSpectrumHeader(SpectrumHeaderData &header)
{
    TLinkLockGuard lock(&LinkLock());
    TRS232Link *link = RS232Link();
    if (!link)
        return false;
    const QByteArray reply =
        RunExchange(link, FnRead, SelSpectrumHeader, QByteArray(1, char(0x04)), link->SendDelayMS);
    if (!DecodeSpectrumHeaderReply(reply, header))
        return false;
    SetLastResponderAddress(ReplySource(reply));
    return true;
}

#pragma once
// The device commands of the reader and the inserted dosimeter. Every command
// builds its request to BroadcastAddress from MonitorAddress, opens the link,
// exchanges, closes the link, checks the reply length and decodes it. Commands
// return their result (CommandResult) and never raise for a bad or missing
// reply; the first failure to open the port in a run leaves them as
// EGeneralError (ReadArchiveRecord logs it and returns a failure), and
// ReadSpectrum raises EProtocolCancel for a block of the wrong size and
// EGeneralError without a link.
//
// Every command holds its link's Lock() for its whole length.

#include "link/CommandResult.h"
#include "link/DeviceText.h"
#include "link/TarnModTransport.h"
#include "link/numFormats.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>
#include <QtGlobal>

class TRS232Link;

// The reader configuration record.
struct TRec0Data {
    QDateTime Clock;          // reader clock, minute resolution
    quint8 Param1 = 0, Param2 = 0, Param3 = 0;
    quint32 Value1 = 0, Value2 = 0;
    quint16 RecordCount = 0;  // number of the newest archive record
    quint8 Status = 0;        // bit 0x10: a dosimeter is inserted
    quint8 Status2 = 0;
    QByteArray InfoText;      // 9 bytes, as received

    // The reader switches between its normal and service modes (the first
    // byte of InfoText is not zero).
    bool ModeSwitching() const { return !InfoText.isEmpty() && InfoText.at(0) != 0; }
};

constexpr quint8 StatusDosimeterInserted = 0x10;

// One decoded archive record.
struct ArchiveRecordData {
    QDateTime Time;  // null QDateTime = the zero time of an invalid date
    quint32 ID = 0;  // dosimeter number
    QString Name;    // 16 characters
    double Dose = 0; // microsieverts
};

struct SpectrumHeaderData {
    double Dose = 0;  // sieverts
    quint32 DoseCounts = 0;
    quint16 Delta = 0, MaxChannel = 0, ComparatorChannel = 0;
};

// The two register values of the metrology coefficients.
struct MetrologyData {
    double A = 0;
    quint16 B = 0;
};

// The dosimeter's number and its accumulation flag.
struct DosimeterNumberData {
    quint32 Number = 0;
    bool Accumulation = false;
};

// The label of the inserted dosimeter: its 16 bytes and their text.
struct DosimeterLabelData {
    QString Text;
    QByteArray Code;
};

// ---- The commands ----
// Each takes the link it talks over (nullptr: the command fails at once with
// NoLink) and returns what it read, or why it has nothing.
CommandResult<TRec0Data> ReadReaderConfig(TRS232Link *link);   // ReaderBusy for the busy refusal
CommandResult<NoValue> WriteReaderConfig(TRS232Link *link, const TRec0Data &rec);  // ok whenever the link exists
CommandResult<NoValue> PingReader(TRS232Link *link);
// ok with a null Time when the record's date is not valid.
CommandResult<ArchiveRecordData> ReadArchiveRecord(TRS232Link *link, int number);
CommandResult<NoValue> SetReaderMode(TRS232Link *link, quint8 mode);  // 1 service, 0 normal
CommandResult<DosimeterLabelData> ReadDosimeterLabel(TRS232Link *link);
CommandResult<MetrologyData> ReadMetrologyCoefficients(TRS232Link *link);
// A reader that switches modes (TRec0Data::ModeSwitching) takes the body
// with a trailing zero byte.
CommandResult<NoValue> WriteMetrologyCoefficients(TRS232Link *link, quint16 b, double a, bool modeSwitching);
CommandResult<DosimeterNumberData> ReadDosimeterNumber(TRS232Link *link);
CommandResult<NoValue> WriteDosimeterNumber(TRS232Link *link, quint32 number, bool accumulation);
CommandResult<NoValue> ClearDosimeterDose(TRS232Link *link);
CommandResult<float> ReadTotalDose(TRS232Link *link);
// The 100 channels of a block.
QVector<quint16> ReadSpectrum(TRS232Link *link, quint8 block);
CommandResult<SpectrumHeaderData> ReadSpectrumHeader(TRS232Link *link);

// ---- Request bodies (also used by the simulated reader's tests) ----
QByteArray ReaderConfigReadBody();                        // 00 00
QByteArray ReaderConfigWriteBody(const TRec0Data &rec);   // 34 bytes
QByteArray ArchiveRecordRequestBody(int number);          // number, little-endian
QByteArray ReaderModeBody(quint8 mode);                   // 01 mode
QByteArray DosimeterRegisterReadBody(quint8 code);        // code FF (code F1..F7)
QByteArray MetrologyWriteBody(quint16 b, double a, bool withTrailingZero);
QByteArray DosimeterNumberWriteBody(quint32 number, bool accumulation);
QByteArray ClearDoseBody();                               // F1 FF 00 00 00 00 00

// Whether a reply answers the request just sent: it carries the request's
// selector, and its function (3 in a refusal); a read of the reader's
// register space (function 6, selector 1) is answered with the two bytes
// that were asked for (record number, register code, 00 00 of the
// configuration) at the head of its body, a spectrum block with its block
// number. Lengths are the command's to check.
bool ReplyAnswersRequest(const QByteArray &request, const QByteArray &reply);

// ---- Reply layouts: expected lengths and pure decoders ----
constexpr int ReaderConfigReplySize = 52;
constexpr int ArchiveRecordReplySize = 52;
constexpr int RefusalReplySize = 19;
constexpr int RegisterReplySize = 25;
constexpr int AcknowledgeReplySize = 14;
constexpr int SpectrumReplySize = 220;
constexpr int SpectrumHeaderReplySize = 37;
constexpr int SpectrumBlockChannels = 100;

// A 52-byte configuration reply → record. False (rec untouched) when the
// length is wrong or the clock bytes are not a valid date and time.
bool DecodeReaderConfigReply(const QByteArray &reply, TRec0Data &rec);
// A 19-byte refusal whose Function is 3 and body byte 5: the reader is busy.
bool IsReaderBusyRefusal(const QByteArray &reply);
// A 52-byte archive reply → record. False when the length is wrong. An invalid
// date leaves Time null and timeValid false; the rest is decoded.
bool DecodeArchiveRecordReply(const QByteArray &reply, ArchiveRecordData &rec, bool &timeValid);
// The four data bytes (frame bytes 16..19) of a 25-byte register reply.
bool RegisterReplyData(const QByteArray &reply, QByteArray &data);
bool DecodeMetrologyReply(const QByteArray &reply, double &a, quint16 &b);
bool DecodeDosimeterNumberReply(const QByteArray &reply, quint32 &number, bool &accumulation);
bool DecodeTotalDoseReply(const QByteArray &reply, float &dose);
bool DecodeSpectrumReply(const QByteArray &reply, QVector<quint16> &channels);
bool DecodeSpectrumHeaderReply(const QByteArray &reply, SpectrumHeaderData &header);

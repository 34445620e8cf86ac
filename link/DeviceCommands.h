#pragma once
// The device commands of the reader and the inserted dosimeter. Every command
// builds its request to BroadcastAddress from MonitorAddress, opens the link,
// exchanges, closes the link, checks the reply length and decodes it. Commands
// return their result (CommandResult) and never raise for a bad or missing
// reply; the first failure to open the port in a run leaves them as
// EGeneralError (readArchiveRecord() logs it and returns a failure), and
// readSpectrum() raises EProtocolCancel for a block of the wrong size and
// EGeneralError without a link.
//
// Every command holds its link's lock() for its whole length, and runs its
// exchanges in a LinkSession (a command run inside a caller's session leaves
// the link open).

#include "link/CommandResult.h"
#include "core/DeviceText.h"
#include "link/TarnFrame.h"
#include "link/ValueCodec.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>
#include <QtGlobal>

class SerialLink;

// The reader configuration record.
struct ReaderConfigData {
    QDateTime clock;          // reader clock, minute resolution
    quint8 param1 = 0, param2 = 0, param3 = 0;
    quint32 value1 = 0, value2 = 0;
    quint16 recordCount = 0;  // number of the newest archive record
    quint8 status = 0;        // bit 0x10: a dosimeter is inserted
    quint8 status2 = 0;
    QByteArray infoText;      // 9 bytes, as received

    // The reader switches between its normal and service modes (the first
    // byte of infoText is not zero).
    bool modeSwitching() const { return !infoText.isEmpty() && infoText.at(0) != 0; }
};

constexpr quint8 StatusDosimeterInserted = 0x10;

// One decoded archive record.
struct ArchiveRecordData {
    QDateTime time;  // null QDateTime = the zero time of an invalid date
    quint32 id = 0;  // dosimeter number
    QString name;    // 16 characters
    double dose = 0; // microsieverts
};

struct SpectrumHeaderData {
    double dose = 0;  // sieverts
    quint32 doseCounts = 0;
    quint16 delta = 0, maxChannel = 0, comparatorChannel = 0;
};

// The two register values of the metrology coefficients.
struct MetrologyData {
    double a = 0;
    quint16 b = 0;
};

// The dosimeter's number and its accumulation flag.
struct DosimeterNumberData {
    quint32 number = 0;
    bool accumulation = false;
};

// The label of the inserted dosimeter: its 16 bytes and their text.
struct DosimeterLabelData {
    QString text;
    QByteArray code;
};

// ---- The commands ----
// Each takes the link it talks over (nullptr: the command fails at once with
// NoLink) and returns what it read, or why it has nothing.
CommandResult<ReaderConfigData> readReaderConfig(SerialLink *link);   // readerBusy for the busy refusal
CommandResult<NoValue> writeReaderConfig(SerialLink *link, const ReaderConfigData &rec);  // ok whenever the link exists
CommandResult<NoValue> pingReader(SerialLink *link);
// ok with a null Time when the record's date is not valid.
CommandResult<ArchiveRecordData> readArchiveRecord(SerialLink *link, int number);
CommandResult<NoValue> setReaderMode(SerialLink *link, quint8 mode);  // 1 service, 0 normal
CommandResult<DosimeterLabelData> readDosimeterLabel(SerialLink *link);
// One group of the label (0..LabelGroups - 1, see TarnCodes.h): the write of
// its four bytes, ok when acknowledged, and its read with the window of a
// write (the read-back of a label write), whose value is the four bytes the
// group holds. Run under a LinkSession, a sequence of them uses the port
// opened once.
CommandResult<NoValue> writeLabelGroup(SerialLink *link, int group, const QByteArray &fourBytes);
CommandResult<QByteArray> readLabelGroup(SerialLink *link, int group);
CommandResult<MetrologyData> readMetrologyCoefficients(SerialLink *link);
// A reader that switches modes (ReaderConfigData::modeSwitching()) takes the body
// with a trailing zero byte.
CommandResult<NoValue> writeMetrologyCoefficients(SerialLink *link, quint16 b, double a, bool modeSwitching);
// The same write with A as a ready decimal word (a word read from the
// dosimeter goes back exactly as it was).
CommandResult<NoValue> writeMetrologyWord(SerialLink *link, quint16 b, quint16 aWord, bool modeSwitching);
CommandResult<DosimeterNumberData> readDosimeterNumber(SerialLink *link);
CommandResult<NoValue> writeDosimeterNumber(SerialLink *link, quint32 number, bool accumulation);
CommandResult<NoValue> clearDosimeterDose(SerialLink *link);
CommandResult<float> readTotalDose(SerialLink *link);
// The 100 channels of a block (0..SpectrumBlocks - 1).
QVector<quint16> readSpectrum(SerialLink *link, quint8 block);
CommandResult<SpectrumHeaderData> readSpectrumHeader(SerialLink *link);

// ---- Request bodies (also used by the simulated reader's tests) ----
QByteArray readerConfigReadBody();                        // 00 00
QByteArray readerConfigWriteBody(const ReaderConfigData &rec);   // 34 bytes
QByteArray archiveRecordRequestBody(int number);          // number, little-endian
QByteArray readerModeBody(quint8 mode);                   // 01 mode
QByteArray dosimeterRegisterReadBody(quint8 code);        // code FF (code F1..F7)
QByteArray labelGroupWriteBody(int group, const QByteArray &fourBytes);  // F3+k FF b b b b 00
QByteArray labelGroupReadBody(int group);                 // F3+k FF
QByteArray metrologyWriteBody(quint16 b, double a, bool withTrailingZero);
QByteArray metrologyWordWriteBody(quint16 b, quint16 aWord, bool withTrailingZero);  // F2 FF A B [00]
QByteArray dosimeterNumberWriteBody(quint32 number, bool accumulation);
QByteArray clearDoseBody();                               // F1 FF 00 00 00 00 00

// Whether a reply answers the request just sent: it carries the request's
// selector, and its function (3 in a refusal); a read of the reader's
// register space (function 6, selector 1) is answered with the two bytes
// that were asked for (record number, register code, 00 00 of the
// configuration) at the head of its body, a spectrum block with its block
// number. Lengths are the command's to check.
bool replyAnswersRequest(const QByteArray &request, const QByteArray &reply);

// ---- Reply layouts: expected lengths and pure decoders ----
constexpr int ReaderConfigReplySize = 52;
constexpr int ArchiveRecordReplySize = 52;
constexpr int RefusalReplySize = 19;
constexpr int RegisterReplySize = 25;
constexpr int AcknowledgeReplySize = 14;
constexpr int SpectrumReplySize = 220;
constexpr int SpectrumHeaderReplySize = 37;
constexpr int SpectrumBlockChannels = 100;
constexpr int SpectrumBlocks = 15;  // blocks 0..14

// A 52-byte configuration reply → record. False (rec untouched) when the
// length is wrong or the clock bytes are not a valid date and time.
bool decodeReaderConfigReply(const QByteArray &reply, ReaderConfigData &rec);
// A 19-byte refusal whose Function is 3 and body byte 5: the reader is busy.
bool isReaderBusyRefusal(const QByteArray &reply);
// A 52-byte archive reply → record. False when the length is wrong. An invalid
// date leaves Time null and timeValid false; the rest is decoded.
bool decodeArchiveRecordReply(const QByteArray &reply, ArchiveRecordData &rec, bool &timeValid);
// The four data bytes (frame bytes 16..19) of a 25-byte register reply.
bool registerReplyData(const QByteArray &reply, QByteArray &data);
bool decodeMetrologyReply(const QByteArray &reply, double &a, quint16 &b);
bool decodeDosimeterNumberReply(const QByteArray &reply, quint32 &number, bool &accumulation);
bool decodeTotalDoseReply(const QByteArray &reply, float &dose);
bool decodeSpectrumReply(const QByteArray &reply, QVector<quint16> &channels);
bool decodeSpectrumHeaderReply(const QByteArray &reply, SpectrumHeaderData &header);

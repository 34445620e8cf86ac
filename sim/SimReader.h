#pragma once
// The simulated reader: a stand-in for the control and reading unit on the
// bus, played on a pseudo-terminal so that the monitor's real serial port code
// can talk to it.
//
// Two layers:
//   SimReaderModel  - the reader itself: request frame bytes in, reply frame
//                     bytes (or nothing) out. No threads, no I/O, no clock of
//                     its own beyond the computer's clock for the reader clock.
//   SimReader       - a model behind a pseudo-terminal, served on its own
//                     thread, with fault injection, line pacing and a
//                     thread-safe control API for tests, the demo and
//                     the reader-sim program.
//
// What the reader does with each request (function, selector, body):
//   4,1   no body            presence check: 14-byte acknowledgement
//   6,1   00 00              configuration: 52 bytes (busy: refusal code 5)
//   6,1   n (LE, 1..2000)    archive record n: 52 bytes; an empty slot has the
//                            date bytes 00 00 00 00 00
//   6,1   F1 FF .. F7 FF     dosimeter register read: 25 bytes
//   8,1   00 00 + 32 bytes   configuration write: sets the clock (and carries
//                            the configuration bytes and values); 14 bytes
//   8,1   01 mode            reader mode: 14 bytes
//   8,1   Fx FF + data       dosimeter register write: 14 bytes
//   6,17  block (0..14)      spectrum block: 220 bytes, 100 channels
//   6,125 04                 spectrum header: 37 bytes
// Every reply is addressed to the requester (its Source) and carries the
// reader's own address as Source, with correct checksums.
//
// Refusals (19 bytes: function 3, one body byte):
//   5  the reader is busy: every request but the presence check is refused
//   2  no dosimeter inserted (Status bit 0x10 clear) for a register access, or
//      a reader that needs mode switching and is not in service mode (1)
//   1  a request the reader does not know (bad record number, register,
//      block, body length)
// Requests with a wrong header or body checksum, or addressed to another bus
// address (neither broadcast FF FF FF nor the reader's own), get no answer.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>

// One slot of the archive ring as the reader stores it.
struct SimRecord {
    int number = 0;            // 1..2000
    bool empty = true;         // never written: answers with date bytes 00 00 00 00 00
    QByteArray timeBytes;      // the five date bytes as sent (minute, hour, day, month, year-2000; BCD)
    QDateTime time;            // timeBytes decoded; null when they do not form a valid date
    quint32 id = 0;            // dosimeter number, 24 bits
    QByteArray nameCode;       // 16 bytes in device code
    QString name;              // nameCode as the monitor reads it
    quint16 doseWord = 0;      // decimal word, sieverts
    double doseMicroSv = 0;    // the word decoded, in microsieverts
};

// The registers of the inserted dosimeter.
struct SimDosimeter {
    QByteArray labelCode = QByteArray(16, ' ');  // F3..F6: 16 bytes in device code
    quint32 number = 0;        // F7: 24 bits
    bool accumulation = false; // F7: flags bit 0x02
    float totalDose = 0.0f;    // F1: IEEE single
    quint16 aWord = 0x0064;    // F2: A as a decimal word (1.00)
    quint16 b = 0;             // F2: B, 16 bits

    QString label() const;                 // labelCode as the monitor reads it
    void setLabel(const QString &text);    // text → device code, cut or padded with blanks to 16
    double a() const;                      // aWord decoded
    void setA(double value);               // value → decimal word
};

// The summary values of the spectrum header.
struct SimSpectrumHeader {
    quint16 doseWord = 0;      // dose in sieverts, decimal word
    quint32 doseCounts = 0;    // dose in counting units
    quint16 delta = 0;
    quint16 maxChannel = 0;
    quint16 comparatorChannel = 0;
};

class SimReaderModel {
public:
    static constexpr int ArchiveCapacity = 2000;
    static constexpr int SpectrumChannels = 1500;

    SimReaderModel();

    // One request frame in, the reply frame out (empty: no answer).
    QByteArray handle(const QByteArray &request);

    // --- reader identity and configuration
    quint32 address() const { return m_address; }
    void setAddress(quint32 address24);
    bool busy() const { return m_busy; }
    void setBusy(bool on) { m_busy = on; }
    bool modeSwitching() const { return m_modeSwitching; }
    void setModeSwitching(bool on) { m_modeSwitching = on; }
    int mode() const { return m_mode; }                    // last mode set with the mode command (0 at start)
    void setMode(int mode) { m_mode = mode; }
    int modeChanges() const { return m_modeChanges; }      // mode commands accepted so far
    QDateTime clock() const;                                // reader clock, with seconds (replies drop them)
    qint64 clockOffsetSeconds() const { return m_clockOffsetMs / 1000; }
    void setClockOffsetSeconds(qint64 seconds) { m_clockOffsetMs = seconds * 1000; }
    int configWrites() const { return m_configWrites; }    // configuration writes accepted so far
    quint8 param(int i) const;                             // configuration bytes 1..3
    void setParam(int i, quint8 value);
    quint32 value(int i) const;                            // configuration values 1..2
    void setValue(int i, quint32 value);
    quint8 status() const;                                  // 0x10 while a dosimeter is inserted
    quint8 status2() const { return m_status2; }
    void setStatus2(quint8 value) { m_status2 = value; }
    QByteArray infoText() const;                            // the 9 bytes as sent; first byte 0 unless mode switching
    void setInfoTail(const QByteArray &eightBytes);         // bytes 2..9 of the info text

    // --- archive ring
    int recordCount() const { return m_recordCount; }      // number of the newest record, 0 when none yet
    void setRecordCount(int number);                        // 0..2000
    int recordsWritten() const { return m_recordsWritten; } // records added since the start (ring laps included)
    // Appends generated readings after the newest one (names such as
    // "Иванов И.И.", small and large doses, times increasing by a minute and
    // ending near the reader clock). Wraps from 2000 to 1.
    void addRecords(int count);
    // Appends one reading after the newest one; returns its number.
    int addRecord(const QDateTime &time, quint32 id, const QString &name, double doseMicroSv);
    // Writes one slot without moving RecordCount.
    void setSlot(int number, const QDateTime &time, quint32 id, const QString &name, double doseMicroSv);
    // Writes the five date bytes of a slot as they are (for dates that are not valid).
    void setSlotTimeBytes(int number, const QByteArray &fiveBytes);
    void clearSlot(int number);
    void clearArchive();                                    // every slot empty, RecordCount 0
    SimRecord record(int number) const;

    // --- inserted dosimeter
    bool inserted() const { return m_inserted; }
    void setInserted(bool on) { m_inserted = on; }
    SimDosimeter dosimeter() const { return m_dosimeter; }
    void setDosimeter(const SimDosimeter &d) { m_dosimeter = d; }

    // --- spectrum
    QVector<quint16> spectrum() const { return m_spectrum; }
    void setSpectrum(const QVector<quint16> &channels);     // 1500 values (shorter: zero-filled)
    SimSpectrumHeader spectrumHeader() const { return m_spectrumHeader; }
    void setSpectrumHeader(const SimSpectrumHeader &h) { m_spectrumHeader = h; }

    // Reply builders (also used by the fault layer).
    QByteArray reply(const QByteArray &request, quint8 function, quint8 selector, const QByteArray &body) const;
    QByteArray refusal(const QByteArray &request, quint8 code) const;

private:
    QByteArray handleRead(const QByteArray &request, const QByteArray &body);
    QByteArray handleWrite(const QByteArray &request, const QByteArray &body);
    QByteArray registerRead(const QByteArray &request, quint8 reg);
    QByteArray registerWrite(const QByteArray &request, quint8 reg, const QByteArray &data);
    QByteArray dosimeterRefusal(const QByteArray &request) const;
    int nextNumber() const;
    QDateTime lastTime() const;

    quint32 m_address = 0x010203;
    bool m_busy = false;
    bool m_modeSwitching = false;
    int m_mode = 0;
    int m_modeChanges = 0;
    qint64 m_clockOffsetMs = 0;   // reader clock - computer clock
    int m_configWrites = 0;
    quint8 m_params[3] = {0x01, 0x00, 0x0A};
    quint32 m_values[2] = {0x00002710, 0x00000000};
    quint8 m_status2 = 0;
    QByteArray m_infoTail;
    int m_recordCount = 0;
    int m_recordsWritten = 0;
    QVector<SimRecord> m_slots;          // index number-1
    quint32 m_generator = 1;              // seed of the generated readings
    bool m_inserted = false;
    SimDosimeter m_dosimeter;
    QVector<quint16> m_spectrum;
    SimSpectrumHeader m_spectrumHeader;
};

class SimServer;

class SimReader {
public:
    enum class Fault {
        NoReply,           // silence
        ShortReply,        // only the first `param` bytes of the reply (10 when param is 0)
        Corrupt,           // param 0: one bit flipped in the body; 1: in the header checksum
        Late,              // the reply starts `param` ms late
        Refuse,            // a 19-byte refusal with code `param` (1 when 0) instead of the reply
        SpectrumWrongSize, // spectrum blocks only: the reply is `param` bytes shorter (2 when 0)
        Trailing,          // the reply is followed at once by `param` stray bytes (1 when 0)
        HeaderSumOnEmpty,  // a body-less reply carries its header's true checksum instead of
                           // four zero bytes (other replies pass unchanged)
        Unheard,           // the request is lost on the line: the reader never sees it
                           // (nothing changes) and nothing answers
    };

    SimReader();
    ~SimReader();   // stops the server
    SimReader(const SimReader &) = delete;
    SimReader &operator=(const SimReader &) = delete;

    // Opens the pseudo-terminal and starts serving it; false (with errorText())
    // when the terminal cannot be opened. portPath() is then the slave's path,
    // e.g. "/dev/pts/7", to be opened as the serial port.
    bool start();
    void stop();
    bool isRunning() const;
    QString portPath() const;
    QString errorText() const;

    // --- the model, under the server's lock
    void setAddress(quint32 address24);
    quint32 address() const;
    void addRecords(int count);
    int addRecord(const QDateTime &time, quint32 id, const QString &name, double doseMicroSv);
    void setRecordCount(int number);
    int recordCount() const;
    void setSlot(int number, const QDateTime &time, quint32 id, const QString &name, double doseMicroSv);
    void setSlotTimeBytes(int number, const QByteArray &fiveBytes);
    SimRecord record(int number) const;
    void clearArchive();
    void setBusy(bool on);
    void setInserted(bool on);
    void setModeSwitching(bool on);
    void setClockOffsetSeconds(qint64 seconds);
    QDateTime clock() const;
    SimDosimeter dosimeter() const;
    void setDosimeter(const SimDosimeter &d);
    // Anything else of the model: runs f under the lock (keep it short; the
    // server waits meanwhile).
    void withModel(const std::function<void(SimReaderModel &)> &f);
    template <typename T>
    T readModel(const std::function<T(const SimReaderModel &)> &f) const;

    // --- line behaviour
    // Pacing: replies leave at `bitsPerSecond` (10 bits a byte) and no reply
    // starts before the request could have arrived at that rate.
    void setPaced(bool on, int bitsPerSecond = 9600);
    // Delay between the end of a request and the start of its reply (0 at start).
    void setTurnaroundMs(int ms);

    // --- faults
    // The next `count` requests (after `skip` requests that are answered
    // normally) get the fault. Several calls queue up; a request takes the
    // first queued fault that applies to it (SpectrumWrongSize applies to
    // spectrum block requests only and lets other requests pass).
    void injectFault(Fault kind, int count = 1, int param = 0, int skip = 0);
    // Every request gets the fault with the probability p (0 turns it off).
    void setFaultProbability(Fault kind, double p, int param = 0);
    void clearFaults();

    // --- what was seen
    int requestsServed() const;            // complete request frames received
    int repliesSent() const;               // replies written (faulted ones included)
    QList<QByteArray> requestLog() const;  // every complete request frame, oldest first
    QList<QByteArray> replyLog() const;    // every reply as written, oldest first
    void clearLogs();
    // Waits until at least `count` requests have been served in total.
    bool waitForRequests(int count, int timeoutMs) const;

    // Time of the last reply's last byte written, for timing tests (monotonic ms).
    qint64 lastReplyEndMs() const;

private:
    std::unique_ptr<SimServer> m_server;
};

template <typename T>
T SimReader::readModel(const std::function<T(const SimReaderModel &)> &f) const
{
    T result{};
    const_cast<SimReader *>(this)->withModel([&](SimReaderModel &m) { result = f(m); });
    return result;
}

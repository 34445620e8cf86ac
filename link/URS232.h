#pragma once
// The headless link object: the serial port, the port selection, the timing
// values read at every exchange, the exchange with its attempts and the
// exchange log "rs232.log". The settings window is a widget built over it.
//
// Two exchanges must never overlap: every command holds LinkLock() for its
// whole length, so a foreground operation can wait for a command of the
// request thread under way before it uses the link itself.

#include "link/CPDrv.h"

#include <QByteArray>
#include <QDateTime>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <atomic>

class TRS232Link {
public:
    TRS232Link();
    ~TRS232Link();
    TRS232Link(const TRS232Link &) = delete;
    TRS232Link &operator=(const TRS232Link &) = delete;

    TCPDrv CommPort;

    // The port selection: -1 none (the stored PortName is used), 0..7 COM1..COM8.
    // Read by OpenLink at every command.
    std::atomic<int> ComPortIndex{-1};
    // The stored port name (the name of CommPort); any device path may be set.
    QString PortName() const { return CommPort.PortName(); }
    void SetPortName(const QString &name) { CommPort.SetPortName(name); }

    // Timing values, read at every exchange; set from the main thread at any time.
    std::atomic<int> PingDelayMS{300};     // window of the short reads
    std::atomic<int> SendDelayMS{2000};    // window of writes and long reads
    std::atomic<int> BaseRequestCount{3};  // repeats: at most BaseRequestCount + 1 attempts
    // false: a reply that has arrived whole ends the window at once;
    // true: every attempt listens for the whole window.
    std::atomic<bool> FixedReceiveWindow{false};

    // Largest reply collected by one attempt.
    static constexpr int MaxReplySize = 280;

    // Selects the port from ComPortIndex and opens it. Returns whether it is
    // open. The first failure of the run raises EGeneralError with
    // ConnectFailureText(); later failures return false silently.
    bool OpenLink();
    void CloseLink();
    // Empty after a successful open; else why the port could not be opened,
    // naming the port ("занят другой программой", "нет такого устройства",
    // "нет доступа", ...). May be read from any thread.
    QString LastOpenError() const;

    // Sends the request and listens for the reply during `windowMs`, up to
    // BaseRequestCount + 1 attempts while no usable reply came. Never raises
    // because of the line: an empty result means no usable reply.
    QByteArray ExchangePacket(const QByteArray &request, int windowMs);
    // One reply of the current window: empty when nothing came; raises
    // EProtocolCancel "Ошибочный пакет" for 1 to 13 bytes and for a reply
    // whose BodyLength, header checksum or body checksum disagrees with its bytes.
    QByteArray ReceivePacket();
    // The two lines of an exchange in ProgramDir + "rs232.log" (when the log is on).
    void LogExchange(const QByteArray &request, const QByteArray &reply, int attempts);

    static QString ConnectFailureText();
};

// The two lines LogExchange writes (without line ends), for a given moment.
QStringList ExchangeLogLines(const QDateTime &moment, const QByteArray &request,
                             const QByteArray &reply, int attempts);

// The link object of the program; null when there is none (every command then
// fails at once). Not owned.
TRS232Link *RS232Link();
void SetRS232Link(TRS232Link *link);

// The connection error is reported once per run. True while the next failure
// to open is still to be reported; the reset is for tests.
bool ReportConnectFailure();
void ResetReportConnectFailure();

// Held for the whole length of every command (recursive: a command may be
// run by a caller that already holds it).
QRecursiveMutex &LinkLock();
using TLinkLockGuard = QMutexLocker<QRecursiveMutex>;

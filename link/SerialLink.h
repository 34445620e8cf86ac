#pragma once
// The headless link object of the run (the program entry owns it and passes
// it to whatever talks to the reader): the serial port, the port selection, the timing
// values read at every exchange, the exchange with its attempts and the
// exchange log "rs232.log". The settings window is a widget built over it.
//
// Two exchanges must never overlap: every command holds the link's lock() for
// its whole length, so a foreground operation can wait for a command of the
// request thread under way before it uses the link itself.

#include "link/SerialPortDriver.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

class SerialLink {
public:
    SerialLink();
    ~SerialLink();
    SerialLink(const SerialLink &) = delete;
    SerialLink &operator=(const SerialLink &) = delete;

    SerialPortDriver &serialPort() { return m_serialPort; }
    const SerialPortDriver &serialPort() const { return m_serialPort; }

    // The port selection: -1 none (the stored port name is used), 0..7 COM1..COM8.
    // Read by openLink() at every command.
    int comPortIndex() const { return m_comPortIndex; }
    void setComPortIndex(int index) { m_comPortIndex = index; }
    // The stored port name (the name of serialPort()); any device path may be set.
    QString portName() const { return m_serialPort.portName(); }
    void setPortName(const QString &name) { m_serialPort.setPortName(name); }

    // Timing values, read at every exchange; set from the main thread at any time.
    int pingDelayMs() const { return m_pingDelayMs; }           // window of the short reads
    void setPingDelayMs(int ms) { m_pingDelayMs = ms; }
    int sendDelayMs() const { return m_sendDelayMs; }           // window of writes and long reads
    void setSendDelayMs(int ms) { m_sendDelayMs = ms; }
    int baseRequestCount() const { return m_baseRequestCount; } // repeats: at most baseRequestCount() + 1 attempts
    void setBaseRequestCount(int count) { m_baseRequestCount = count; }
    // false: a reply that has arrived whole ends the window at once;
    // true: every attempt listens for the whole window.
    bool fixedReceiveWindow() const { return m_fixedReceiveWindow; }
    void setFixedReceiveWindow(bool fixed) { m_fixedReceiveWindow = fixed; }

    // Largest reply collected by one attempt.
    static constexpr int MaxReplySize = 280;

    // Selects the port from comPortIndex() and opens it. Returns whether it is
    // open. The first failure of the run raises EGeneralError with
    // connectFailureText(); later failures return false silently.
    bool openLink();
    void closeLink();
    // Empty after a successful open; else a text that names the port and why
    // it could not be opened ("Не удалось открыть порт /dev/ttyS0: порт занят
    // другой программой"; "нет такого устройства", "нет доступа к
    // устройству", ...). May be read from any thread.
    QString lastOpenError() const;

    // Whether a reply is the answer to the request just sent (the command
    // knows what its reader repeats of the request).
    using ReplyCheck = std::function<bool(const QByteArray &reply)>;

    // Sends the request and listens for the reply during `windowMs`, up to
    // baseRequestCount() + 1 attempts while no usable reply came. Never raises
    // because of the line: an empty result means no usable reply.
    //
    // A reply is only ever taken as the answer to the request just sent:
    // whatever waits on the line is thrown away before every request; an
    // attempt that ends without a good reply (nothing, too little, damaged,
    // followed by stray bytes, or refused by `accept`) leaves the line to
    // settle: before the next request, of this exchange or of the next one,
    // the line must have been quiet for LineSettleMs since then, and what came
    // meanwhile is thrown away.
    QByteArray exchangePacket(const QByteArray &request, int windowMs, const ReplyCheck &accept = ReplyCheck());
    // One reply of the current window: empty when nothing came; raises
    // EProtocolCancel "Ошибочный пакет" for 1 to 13 bytes, for a reply whose
    // BodyLength, header checksum or body checksum disagrees with its bytes,
    // and for a whole reply followed at once by more bytes.
    QByteArray receivePacket();

    // Quiet time the line needs after a failed attempt before the next
    // request: a reply that comes up to this long after its window closed is
    // still thrown away rather than taken for the answer to the next request.
    static constexpr int LineSettleMs = 150;
    // Longest the line is watched for quiet before a request (a line that
    // never falls quiet does not stop the link).
    static constexpr int LineSettleCapMs = 1000;
    // How long the line is watched after a whole reply for bytes that follow
    // it: about three characters at 9600 bit/s.
    static constexpr int TrailingLookMs = 3;
    // The two lines of an exchange in programDir + "rs232.log" (when the log is on).
    void logExchange(const QByteArray &request, const QByteArray &reply, int attempts);

    static QString connectFailureText();

    // The connection error is reported once for the link's life (the run).
    // True while the next failure to open is still to be reported.
    bool reportConnectFailure() const;
    void resetReportConnectFailure();

    // The reply of the last exchange (empty when nothing usable came).
    QByteArray lastReply() const;

    // Held for the whole length of every command (recursive: a command may
    // be run by a caller that already holds it).
    QRecursiveMutex &lock() const { return m_lock; }

private:
    SerialPortDriver m_serialPort;
    std::atomic<int> m_comPortIndex{-1};
    std::atomic<int> m_pingDelayMs{300};
    std::atomic<int> m_sendDelayMs{2000};
    std::atomic<int> m_baseRequestCount{3};
    std::atomic<bool> m_fixedReceiveWindow{false};
    mutable QRecursiveMutex m_lock;
    std::atomic<bool> m_reportConnectFailure{true};
    QByteArray m_lastReply;
    // Set when an attempt ended without a good reply: the line must settle
    // before the next request. Used under m_lock.
    bool m_settlePending = false;
    QElapsedTimer m_sinceFailure;
};

// The two lines logExchange() writes (without line ends), for a given moment.
QStringList exchangeLogLines(const QDateTime &moment, const QByteArray &request,
                             const QByteArray &reply, int attempts);

// Holds a link's lock().
using LinkLockGuard = QMutexLocker<QRecursiveMutex>;

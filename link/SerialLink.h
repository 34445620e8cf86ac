#pragma once
// The headless link object of the run (the program entry owns it and passes
// it to whatever talks to the reader): the serial port, the port selection, the timing
// values read at every exchange, the exchange with its attempts and the
// exchange log "rs232.log". The settings window is a widget built over it.
//
// Two exchanges must never overlap: every command holds the link's lock() for
// its whole length, so a foreground operation can wait for a command of the
// request thread under way before it uses the link itself.

#include "core/LinkValueRanges.h"
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
    // A usable reply is one whole frame (BodyLength and both checksums agree
    // with its bytes, at most MaxReplySize bytes, no byte following it at
    // once) that `accept` takes.
    //
    // A reply is only ever taken as the answer to the request it was sent
    // for. Before the first request whatever waits on the line is thrown
    // away, and when an earlier exchange ended with a failed attempt or after
    // a repeat the line must first have been quiet for LineSettleMs since
    // that exchange ended. An attempt without a usable reply is followed,
    // before the repeat, by a watch of the line until it has been quiet for
    // LineSettleMs: the repeat would carry the same request, so a usable
    // reply that comes meanwhile (also one whose start the window cut off)
    // answers it; anything else is thrown away. A repeat's window takes the
    // answer to an earlier attempt as well.
    QByteArray exchangePacket(const QByteArray &request, int windowMs, const ReplyCheck &accept = ReplyCheck());

    // Quiet time the line needs after a failed attempt: before a repeat, a
    // reply of the same request may still come within it; before another
    // request, what comes within it is thrown away.
    static constexpr int LineSettleMs = 150;
    // Longest the line is watched for quiet (a line that never falls quiet
    // does not stop the link).
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
    friend class LinkSession;
    // What ends a window early: a whole frame, unless the window is fixed.
    SerialPortDriver::NeededCount replyEnd() const;
    // The bytes are one whole frame with nothing following at once.
    bool isWholeReply(const QByteArray &bytes);
    // The watch of the line between a failed attempt and its repeat: the
    // usable reply that came (`begun`: its start, cut off by the window), or
    // empty once the line has been quiet for LineSettleMs.
    QByteArray lateReply(const QByteArray &begun, const ReplyCheck &accept);

    SerialPortDriver m_serialPort;
    std::atomic<int> m_comPortIndex{-1};
    std::atomic<int> m_pingDelayMs{PingDelayRange.fallback};
    std::atomic<int> m_sendDelayMs{SendDelayRange.fallback};
    std::atomic<int> m_baseRequestCount{BaseRequestCountRange.fallback};
    std::atomic<bool> m_fixedReceiveWindow{false};
    mutable QRecursiveMutex m_lock;
    std::atomic<bool> m_reportConnectFailure{true};
    QByteArray m_lastReply;
    // Set when an exchange ended after a failed attempt or a repeat: the line
    // must settle before the next exchange. Used under m_lock.
    bool m_settlePending = false;
    QElapsedTimer m_sinceFailure;
    // Open LinkSessions (used under m_lock).
    int m_sessionDepth = 0;
};

// The two lines logExchange() writes (without line ends), for a given moment.
QStringList exchangeLogLines(const QDateTime &moment, const QByteArray &request,
                             const QByteArray &reply, int attempts);

// Holds a link's lock().
using LinkLockGuard = QMutexLocker<QRecursiveMutex>;

// A stretch of exchanges with the link open: holds the lock and opens the
// link (openLink(): the first failure of the run raises) for its whole life,
// and closes the link when it ends, by any way. A session begun inside
// another one leaves the link to the outer session: a sequence of commands
// run under one session uses the port opened once around all of them.
class LinkSession {
public:
    explicit LinkSession(SerialLink &link);
    ~LinkSession();
    LinkSession(const LinkSession &) = delete;
    LinkSession &operator=(const LinkSession &) = delete;

private:
    LinkLockGuard m_lock;
    SerialLink &m_link;
};

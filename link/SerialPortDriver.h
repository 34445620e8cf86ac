#pragma once
// SerialPortDriver: the serial port of the link over QSerialPort. 9600 bit/s, 8 data
// bits, no parity, 1 stop bit, DTR and RTS on, no handshake; both queues are
// cleared when the port opens.
//
// The port is opened and closed around every command. A QSerialPort belongs
// to the thread that created it and commands run from the main thread and from
// the request thread (never at once), so the QSerialPort object is created in
// openPort() and deleted in closePort(), in the thread that runs the command.
//
// Waiting never burns the processor: the queues are waited on with blocking
// waits for the time that remains of the window.

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <atomic>
#include <functional>

class QSerialPort;

class SerialPortDriver {
public:
    static constexpr int CustomPort = 0;

    SerialPortDriver();
    ~SerialPortDriver();
    SerialPortDriver(const SerialPortDriver &) = delete;
    SerialPortDriver &operator=(const SerialPortDriver &) = delete;

    // The device name of COM port n (1..8): "/dev/ttyS<n-1>" on Linux and
    // other Unix systems, "\\.\COM<n>" on Windows.
    static QString portNameForNumber(int n);

    // 0 (CustomPort) when portName() was set directly. Setting n >= 1 sets
    // the port name to the device of COM n; setting 0 leaves the port name unchanged.
    // Both setters do nothing while the port is open.
    int port() const;
    void setPort(int n);
    // Any device path: "/dev/ttyUSB0", a pseudo-terminal, "COM3", ...
    // Setting it directly sets port() to CustomPort.
    QString portName() const;
    void setPortName(const QString &name);

    // Queue sizes, limited to 128..8192 (default 2048 each).
    unsigned inBufSize() const { return m_inBufSize; }
    void setInBufSize(unsigned size);
    unsigned outBufSize() const { return m_outBufSize; }
    void setOutBufSize(unsigned size);

    // Idle limit of a write, counted from the last progress (default 500 ms).
    int outputTimeout() const { return m_outputTimeout; }
    void setOutputTimeout(int ms) { m_outputTimeout = ms; }
    // The receive window, counted from the start of receiveBytes (default 200 ms).
    int inputTimeout() const { return m_inputTimeout; }
    void setInputTimeout(int ms) { m_inputTimeout = ms; }

    static constexpr int BaudRateValue = 9600;

    // True when the port is open afterwards (also when it already was). Fails
    // when the device cannot be opened, is held by another program, or the
    // speed and framing cannot be set; modem lines that cannot be raised
    // (pseudo-terminals, some USB adapters) do not fail the open.
    //
    // The port is held exclusively: besides the system's own exclusive open,
    // an advisory lock on the device keeps out every other program that opens
    // it through this class, whatever its rights.
    bool openPort();
    // Why the last openPort() failed (None after a successful one), and the
    // system's text for it.
    enum class OpenFailure { None, InUse, NoDevice, NoAccess, Settings, Other };
    OpenFailure lastOpenFailure() const;
    QString lastOpenFailureText() const;
    void closePort();
    bool isOpen() const;

    // True when every byte was handed to the system before outputTimeout() ms
    // passed without progress. False at once on a closed port.
    bool sendBytes(const QByteArray &bytes);

    // Wanted total for a receive: given the bytes received so far, the number
    // of bytes the caller needs in all (it is asked again after every read).
    using NeededCount = std::function<int(const char *data, int count)>;

    // Collects up to n bytes during the window inputTimeout(), counted from the
    // start of the call; returns the count (0..n). Without `needed` the call
    // ends when n bytes have come or the window has passed; with it, also as
    // soon as the bytes received reach the number it names (bytes beyond it
    // stay queued). 0 at once on a closed port.
    int receiveBytes(char *buffer, int n, const NeededCount &needed = NeededCount());
    QByteArray receiveBytes(int n, const NeededCount &needed = NeededCount());

    // Throws away whatever waits in the input queue (the system's and the
    // port object's). Nothing on a closed port.
    void discardInput();
    // True when a byte is waiting or comes within `ms`; it stays queued.
    // False at once on a closed port.
    bool inputWithin(int ms);
    // Watches the line and throws away what comes until it has been quiet:
    // first for `firstQuietMs`, and after any byte for `quietMs` from that
    // byte; never longer than `capMs` in all. Nothing on a closed port.
    void discardUntilQuiet(int firstQuietMs, int quietMs, int capMs);
    // Watches the line as discardUntilQuiet() does but keeps what comes after
    // `held` (bytes the caller already has), up to n bytes in all; further
    // bytes are thrown away. With `needed` it also ends as soon as the bytes
    // held reach the number it names (bytes beyond it stay queued). `held`
    // alone on a closed port.
    QByteArray receiveUntilQuiet(QByteArray held, int n, int firstQuietMs, int quietMs, int capMs,
                                 const NeededCount &needed = NeededCount());

private:
    QSerialPort *currentSerial() const;

    mutable QMutex m_mutex;  // guards the name, the port object pointer and the open failure
    QString m_portName;
    OpenFailure m_openFailure = OpenFailure::None;
    QString m_openFailureText;
    int m_port = 1;
    QSerialPort *m_serial = nullptr;
    std::atomic<unsigned> m_inBufSize{2048};
    std::atomic<unsigned> m_outBufSize{2048};
    std::atomic<int> m_outputTimeout{500};
    std::atomic<int> m_inputTimeout{200};
};

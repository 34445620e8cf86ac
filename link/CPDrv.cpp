#include "link/CPDrv.h"

#include "core/Platform.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSerialPort>

#include <algorithm>

namespace {

unsigned ClampQueueSize(unsigned size)
{
    return std::clamp(size, 128u, 8192u);
}

// Waits up to `ms` for input. False when the device has gone away: such a
// device makes every wait fail at once, so the caller stops instead of
// spinning for the rest of its time.
bool WaitForInput(QSerialPort *serial, int ms)
{
    if (serial->waitForReadyRead(ms))
        return true;
    const auto err = serial->error();
    serial->clearError();
    return err == QSerialPort::TimeoutError || err == QSerialPort::NoError;
}

TCPDrv::TOpenFailure FailureOf(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return TCPDrv::TOpenFailure::NoDevice;
    case QSerialPort::PermissionError:
        return TCPDrv::TOpenFailure::NoAccess;
    case QSerialPort::OpenError:
        return TCPDrv::TOpenFailure::InUse;
    case QSerialPort::UnsupportedOperationError:
        return TCPDrv::TOpenFailure::Settings;
    default:
        return TCPDrv::TOpenFailure::Other;
    }
}

} // namespace

TCPDrv::TCPDrv() : m_portName(PortNameForNumber(1)) {}

TCPDrv::~TCPDrv()
{
    ClosePort();
}

QString TCPDrv::PortNameForNumber(int n)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

int TCPDrv::Port() const
{
    QMutexLocker lock(&m_mutex);
    return m_port;
}

void TCPDrv::SetPort(int n)
{
    QMutexLocker lock(&m_mutex);
    if (m_serial)
        return;
    m_port = n < 0 ? pnCustom : n;
    if (n >= 1)
        m_portName = PortNameForNumber(n);
}

QString TCPDrv::PortName() const
{
    QMutexLocker lock(&m_mutex);
    return m_portName;
}

void TCPDrv::SetPortName(const QString &name)
{
    QMutexLocker lock(&m_mutex);
    if (m_serial)
        return;
    m_portName = name;
    m_port = pnCustom;
}

void TCPDrv::SetInBufSize(unsigned size)
{
    m_inBufSize = ClampQueueSize(size);
}

void TCPDrv::SetOutBufSize(unsigned size)
{
    m_outBufSize = ClampQueueSize(size);
}

bool TCPDrv::IsOpen() const
{
    QMutexLocker lock(&m_mutex);
    return m_serial != nullptr;
}

bool TCPDrv::OpenPort()
{
    QMutexLocker lock(&m_mutex);
    if (m_serial)
        return true;
    auto *serial = new QSerialPort();
    serial->setPortName(m_portName);
    // Speed and framing are set before the open, so that the open applies
    // them and fails when the device refuses them.
    const bool ok = serial->setBaudRate(BaudRateValue) && serial->setDataBits(QSerialPort::Data8)
        && serial->setParity(QSerialPort::NoParity) && serial->setStopBits(QSerialPort::OneStop)
        && serial->setFlowControl(QSerialPort::NoFlowControl) && serial->open(QIODevice::ReadWrite);
    if (!ok) {
        // The serial port class reports a device held by another program (its
        // lock file taken, the device busy) as a permission error too.
        m_openFailure = FailureOf(serial->error());
        const QString why = serial->errorString();
        if (m_openFailure == TOpenFailure::NoAccess
            && (why.contains(QLatin1String("lock"), Qt::CaseInsensitive)
                || why.contains(QLatin1String("busy"), Qt::CaseInsensitive)))
            m_openFailure = TOpenFailure::InUse;
        m_openFailureText = serial->errorString();
        delete serial;
        return false;
    }
    if (LockDeviceExclusively(qintptr(serial->handle())) == DeviceLockResult::InUse) {
        serial->close();
        delete serial;
        m_openFailure = TOpenFailure::InUse;
        m_openFailureText.clear();
        return false;
    }
    // Pseudo-terminals and some USB adapters have no modem lines: a refusal
    // to raise DTR or RTS does not fail the open.
    serial->setDataTerminalReady(true);
    serial->setRequestToSend(true);
    serial->clear(QSerialPort::AllDirections);
    serial->clearError();
    serial->setReadBufferSize(m_inBufSize);
    m_serial = serial;
    m_openFailure = TOpenFailure::None;
    m_openFailureText.clear();
    return true;
}

TCPDrv::TOpenFailure TCPDrv::LastOpenFailure() const
{
    QMutexLocker lock(&m_mutex);
    return m_openFailure;
}

QString TCPDrv::LastOpenFailureText() const
{
    QMutexLocker lock(&m_mutex);
    return m_openFailureText;
}

void TCPDrv::ClosePort()
{
    QMutexLocker lock(&m_mutex);
    if (!m_serial)
        return;
    m_serial->close();
    delete m_serial;
    m_serial = nullptr;
}

bool TCPDrv::SendBytes(const QByteArray &bytes)
{
    QSerialPort *serial;
    {
        QMutexLocker lock(&m_mutex);
        serial = m_serial;
    }
    if (!serial)
        return false;
    if (bytes.isEmpty())
        return true;
    qint64 offset = 0;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    const qint64 total = bytes.size();
    while (offset < total || serial->bytesToWrite() > 0) {
        // Hand the bytes over in pieces no larger than the output queue.
        if (offset < total) {
            const qint64 free = qint64(m_outBufSize) - serial->bytesToWrite();
            if (free > 0) {
                const qint64 k = serial->write(bytes.constData() + offset, std::min(total - offset, free));
                if (k < 0)
                    return false;
                if (k > 0) {
                    offset += k;
                    sinceProgress.restart();
                    continue;
                }
            }
        }
        const qint64 remaining = m_outputTimeout - sinceProgress.elapsed();
        if (remaining <= 0)
            break;
        const qint64 before = serial->bytesToWrite();
        if (!serial->waitForBytesWritten(int(remaining))) {
            if (serial->error() != QSerialPort::TimeoutError && serial->error() != QSerialPort::NoError) {
                serial->clearError();
                return false;
            }
            serial->clearError();
        }
        if (serial->bytesToWrite() < before)
            sinceProgress.restart();
    }
    return offset == total && serial->bytesToWrite() == 0;
}

int TCPDrv::ReceiveBytes(char *buffer, int n, const TNeeded &needed)
{
    QSerialPort *serial;
    {
        QMutexLocker lock(&m_mutex);
        serial = m_serial;
    }
    if (!serial || n <= 0)
        return 0;
    QElapsedTimer window;
    window.start();
    const int windowMs = m_inputTimeout;
    int count = 0;
    auto target = [&]() { return needed ? std::clamp(needed(buffer, count), 0, n) : n; };
    int want = target();
    while (count < want) {
        const qint64 avail = serial->bytesAvailable();
        if (avail > 0) {
            const qint64 k = serial->read(buffer + count, std::min<qint64>(want - count, avail));
            if (k < 0)
                break;
            count += int(k);
            want = std::max(target(), count);
            if (count >= want)
                break;
            continue;
        }
        const qint64 remaining = windowMs - window.elapsed();
        if (remaining <= 0)
            break;
        if (!WaitForInput(serial, int(remaining)))
            break;
    }
    return count;
}

QByteArray TCPDrv::ReceiveBytes(int n, const TNeeded &needed)
{
    if (n <= 0)
        return QByteArray();
    QByteArray out(n, Qt::Uninitialized);
    out.resize(ReceiveBytes(out.data(), n, needed));
    return out;
}

QSerialPort *TCPDrv::Serial() const
{
    QMutexLocker lock(&m_mutex);
    return m_serial;
}

void TCPDrv::DiscardInput()
{
    QSerialPort *serial = Serial();
    if (!serial)
        return;
    serial->clear(QSerialPort::Input);
    serial->readAll();
    serial->clearError();
}

bool TCPDrv::InputWithin(int ms)
{
    QSerialPort *serial = Serial();
    if (!serial)
        return false;
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (serial->bytesAvailable() > 0)
            return true;
        const qint64 remaining = ms - t.elapsed();
        if (remaining <= 0 || !WaitForInput(serial, int(remaining)))
            return false;
    }
}

void TCPDrv::DiscardUntilQuiet(int firstQuietMs, int quietMs, int capMs)
{
    QSerialPort *serial = Serial();
    if (!serial)
        return;
    QElapsedTimer total, quiet;
    total.start();
    quiet.start();
    qint64 needed = firstQuietMs;
    for (;;) {
        if (serial->bytesAvailable() > 0) {
            serial->readAll();
            quiet.restart();
            needed = quietMs;
        }
        const qint64 remaining = std::min(needed - quiet.elapsed(), qint64(capMs) - total.elapsed());
        if (remaining <= 0)
            break;
        if (!WaitForInput(serial, int(remaining)))
            break;
    }
    serial->clear(QSerialPort::Input);
    serial->readAll();
    serial->clearError();
}

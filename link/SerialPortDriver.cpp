#include "link/SerialPortDriver.h"

#include "core/Platform.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QSerialPort>

#include <algorithm>

namespace {

unsigned clampQueueSize(unsigned size)
{
    return std::clamp(size, 128u, 8192u);
}

// Waits up to `ms` for input. False when the device has gone away: such a
// device makes every wait fail at once, so the caller stops instead of
// spinning for the rest of its time.
bool waitForInput(QSerialPort *serial, int ms)
{
    if (serial->waitForReadyRead(ms))
        return true;
    const auto err = serial->error();
    serial->clearError();
    return err == QSerialPort::TimeoutError || err == QSerialPort::NoError;
}

SerialPortDriver::OpenFailure failureOf(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return SerialPortDriver::OpenFailure::NoDevice;
    case QSerialPort::PermissionError:
        return SerialPortDriver::OpenFailure::NoAccess;
    case QSerialPort::OpenError:
        return SerialPortDriver::OpenFailure::InUse;
    case QSerialPort::UnsupportedOperationError:
        return SerialPortDriver::OpenFailure::Settings;
    default:
        return SerialPortDriver::OpenFailure::Other;
    }
}

} // namespace

SerialPortDriver::SerialPortDriver() : m_portName(portNameForNumber(1)) {}

SerialPortDriver::~SerialPortDriver()
{
    closePort();
}

QString SerialPortDriver::portNameForNumber(int n)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

int SerialPortDriver::port() const
{
    QMutexLocker lock(&m_mutex);
    return m_port;
}

void SerialPortDriver::setPort(int n)
{
    QMutexLocker lock(&m_mutex);
    if (m_serial)
        return;
    m_port = n < 0 ? CustomPort : n;
    if (n >= 1)
        m_portName = portNameForNumber(n);
}

QString SerialPortDriver::portName() const
{
    QMutexLocker lock(&m_mutex);
    return m_portName;
}

void SerialPortDriver::setPortName(const QString &name)
{
    QMutexLocker lock(&m_mutex);
    if (m_serial)
        return;
    m_portName = name;
    m_port = CustomPort;
}

void SerialPortDriver::setInBufSize(unsigned size)
{
    m_inBufSize = clampQueueSize(size);
}

void SerialPortDriver::setOutBufSize(unsigned size)
{
    m_outBufSize = clampQueueSize(size);
}

bool SerialPortDriver::isOpen() const
{
    QMutexLocker lock(&m_mutex);
    return m_serial != nullptr;
}

bool SerialPortDriver::openPort()
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
        m_openFailure = failureOf(serial->error());
        const QString why = serial->errorString();
        if (m_openFailure == OpenFailure::NoAccess
            && (why.contains(QLatin1String("lock"), Qt::CaseInsensitive)
                || why.contains(QLatin1String("busy"), Qt::CaseInsensitive)))
            m_openFailure = OpenFailure::InUse;
        m_openFailureText = serial->errorString();
        delete serial;
        return false;
    }
    if (lockDeviceExclusively(qintptr(serial->handle())) == DeviceLockResult::InUse) {
        serial->close();
        delete serial;
        m_openFailure = OpenFailure::InUse;
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
    m_openFailure = OpenFailure::None;
    m_openFailureText.clear();
    return true;
}

SerialPortDriver::OpenFailure SerialPortDriver::lastOpenFailure() const
{
    QMutexLocker lock(&m_mutex);
    return m_openFailure;
}

QString SerialPortDriver::lastOpenFailureText() const
{
    QMutexLocker lock(&m_mutex);
    return m_openFailureText;
}

void SerialPortDriver::closePort()
{
    QMutexLocker lock(&m_mutex);
    if (!m_serial)
        return;
    m_serial->close();
    delete m_serial;
    m_serial = nullptr;
}

bool SerialPortDriver::sendBytes(const QByteArray &bytes)
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

int SerialPortDriver::receiveBytes(char *buffer, int n, const NeededCount &needed)
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
        if (!waitForInput(serial, int(remaining)))
            break;
    }
    return count;
}

QByteArray SerialPortDriver::receiveBytes(int n, const NeededCount &needed)
{
    if (n <= 0)
        return QByteArray();
    QByteArray out(n, Qt::Uninitialized);
    out.resize(receiveBytes(out.data(), n, needed));
    return out;
}

QSerialPort *SerialPortDriver::currentSerial() const
{
    QMutexLocker lock(&m_mutex);
    return m_serial;
}

void SerialPortDriver::discardInput()
{
    QSerialPort *serial = currentSerial();
    if (!serial)
        return;
    serial->clear(QSerialPort::Input);
    serial->readAll();
    serial->clearError();
}

bool SerialPortDriver::inputWithin(int ms)
{
    QSerialPort *serial = currentSerial();
    if (!serial)
        return false;
    QElapsedTimer t;
    t.start();
    for (;;) {
        if (serial->bytesAvailable() > 0)
            return true;
        const qint64 remaining = ms - t.elapsed();
        if (remaining <= 0 || !waitForInput(serial, int(remaining)))
            return false;
    }
}

void SerialPortDriver::discardUntilQuiet(int firstQuietMs, int quietMs, int capMs)
{
    QSerialPort *serial = currentSerial();
    if (!serial)
        return;
    receiveUntilQuiet(QByteArray(), 0, firstQuietMs, quietMs, capMs);
    serial->clear(QSerialPort::Input);
    serial->readAll();
    serial->clearError();
}

QByteArray SerialPortDriver::receiveUntilQuiet(QByteArray held, int n, int firstQuietMs, int quietMs, int capMs,
                                               const NeededCount &needed)
{
    QSerialPort *serial = currentSerial();
    if (!serial)
        return held;
    auto target = [&]() { return needed ? std::clamp(needed(held.constData(), int(held.size())), 0, n) : n; };
    if (needed && held.size() >= target())
        return held;
    QElapsedTimer total, quiet;
    total.start();
    quiet.start();
    qint64 wanted = firstQuietMs;
    for (;;) {
        const qint64 avail = serial->bytesAvailable();
        if (avail > 0) {
            const qint64 room = std::min<qint64>(avail, qMax(0, target() - int(held.size())));
            if (room > 0)
                held += serial->read(room);
            else
                serial->readAll();
            quiet.restart();
            wanted = quietMs;
            if (needed && held.size() >= target())
                break;
            continue;
        }
        const qint64 remaining = std::min(wanted - quiet.elapsed(), qint64(capMs) - total.elapsed());
        if (remaining <= 0 || !waitForInput(serial, int(remaining)))
            break;
    }
    return held;
}

#include "link/SerialLink.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/LogFiles.h"
#include "core/Platform.h"
#include "link/TarnFrame.h"

namespace {


QString hexBytes(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size() * 3);
    static const char digits[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto b = quint8(c);
        out += QLatin1Char(digits[b >> 4]);
        out += QLatin1Char(digits[b & 0xF]);
        out += QLatin1Char(' ');
    }
    return out;
}

// How many bytes a reply needs in all, judged from what has come so far:
// first the header, then the length its BodyLength names.
int wholeFrameLength(const char *data, int count)
{
    if (count < FrameHeaderSize)
        return FrameHeaderSize;
    return expectedFrameLength(data, count);
}

} // namespace

SerialLink::SerialLink() = default;

SerialLink::~SerialLink() = default;

QString SerialLink::connectFailureText()
{
    return QStringLiteral(
        "RS232: Не удалось подключиться к заданному COM-порту.\r\nПроверьте настройки подключения.");
}

bool SerialLink::openLink()
{
    const int index = m_comPortIndex;
    if (index >= 0 && index <= 7)
        m_serialPort.setPort(index + 1);
    if (m_serialPort.openPort())
        return true;
    bool expected = true;
    if (m_reportConnectFailure.compare_exchange_strong(expected, false))
        throw EGeneralError(connectFailureText());
    return false;
}

QString SerialLink::lastOpenError() const
{
    QString why;
    switch (m_serialPort.lastOpenFailure()) {
    case SerialPortDriver::OpenFailure::None:
        return QString();
    case SerialPortDriver::OpenFailure::InUse:
        why = QStringLiteral("порт занят другой программой");
        break;
    case SerialPortDriver::OpenFailure::NoDevice:
        why = QStringLiteral("нет такого устройства");
        break;
    case SerialPortDriver::OpenFailure::NoAccess: {
        why = QStringLiteral("нет доступа к устройству");
        // On Debian and its kin the serial ports belong to the group
        // "dialout": say which group and how the user joins it.
        const DeviceGroupAccess access = missingDeviceGroup(m_serialPort.portName());
        if (!access.group.isEmpty())
            why += QStringLiteral(": пользователь %1 не входит в группу %2, которой принадлежит порт. "
                                  "Добавьте его в группу командой \"sudo usermod -aG %2 %1\" "
                                  "и войдите в систему заново")
                       .arg(access.user, access.group);
        break;
    }
    case SerialPortDriver::OpenFailure::Settings:
        why = QStringLiteral("порт не принимает настройки линии (9600 бит/с, 8 бит, без чётности, 1 стоп-бит)");
        break;
    case SerialPortDriver::OpenFailure::Other: {
        const QString text = m_serialPort.lastOpenFailureText();
        why = text.isEmpty() ? QStringLiteral("ошибка системы") : QStringLiteral("ошибка системы (%1)").arg(text);
        break;
    }
    }
    return QStringLiteral("Не удалось открыть порт %1: %2").arg(m_serialPort.portName(), why);
}

void SerialLink::closeLink()
{
    m_serialPort.closePort();
}

QByteArray SerialLink::receivePacket()
{
    SerialPortDriver::NeededCount needed;
    if (!m_fixedReceiveWindow)
        needed = wholeFrameLength;
    const QByteArray reply = m_serialPort.receiveBytes(MaxReplySize, needed);
    if (reply.isEmpty())
        return reply;
    // A short reply, and a reply whose length field or checksums disagree with
    // its bytes (corrupted on the line), is not a reply: the attempt failed.
    if (reply.size() < EmptyFrameSize || !frameIsConsistent(reply))
        throw EProtocolCancel(QStringLiteral("Ошибочный пакет"));
    // A whole frame followed at once by more bytes: either the frame is not
    // what it seems or a second answer is on its way. (A fixed window has
    // taken such bytes into the reply already.)
    if (!m_fixedReceiveWindow && m_serialPort.inputWithin(TrailingLookMs))
        throw EProtocolCancel(QStringLiteral("Ошибочный пакет"));
    return reply;
}

QByteArray SerialLink::exchangePacket(const QByteArray &request, int windowMs, const ReplyCheck &accept)
{
    LinkLockGuard lock(&m_lock);
    QByteArray reply;
    int attempts = 0;
    m_serialPort.setInputTimeout(windowMs);
    const int repeats = m_baseRequestCount;
    const int rounds = repeats <= 0 ? 1 : repeats + 1;
    for (int i = 0; i < rounds && reply.isEmpty(); ++i) {
        ++attempts;
        try {
            if (m_settlePending) {
                // Only what remains of the quiet time since the failure.
                const qint64 since = m_sinceFailure.elapsed();
                if (since < LineSettleMs)
                    m_serialPort.discardUntilQuiet(int(LineSettleMs - since), LineSettleMs, LineSettleCapMs);
                m_settlePending = false;
            }
            m_serialPort.discardInput();
            m_serialPort.sendBytes(request);
            reply = receivePacket();
            if (!reply.isEmpty() && accept && !accept(reply))
                reply.clear();
        } catch (...) {
            reply.clear();
        }
        if (reply.isEmpty()) {
            m_settlePending = true;
            m_sinceFailure.start();
        }
    }
    m_lastReply = reply;
    if (appState().rs232LogEnabled)
        logExchange(request, reply, attempts);
    return reply;
}

QStringList exchangeLogLines(const QDateTime &moment, const QByteArray &request,
                             const QByteArray &reply, int attempts)
{
    return {logTimeStamp(moment, true) + QStringLiteral(" >") + hexBytes(request),
            QStringLiteral("< ") + hexBytes(reply) + QStringLiteral("  (") + QString::number(attempts)
                + QStringLiteral(")")};
}

void SerialLink::logExchange(const QByteArray &request, const QByteArray &reply, int attempts)
{
    try {
        appendLogLines(appState().programDir + QStringLiteral("rs232.log"),
                       exchangeLogLines(QDateTime::currentDateTime(), request, reply, attempts));
    } catch (...) {
        // The log never changes the outcome of an exchange.
    }
}

bool SerialLink::reportConnectFailure() const
{
    return m_reportConnectFailure.load();
}

void SerialLink::resetReportConnectFailure()
{
    m_reportConnectFailure.store(true);
}

QByteArray SerialLink::lastReply() const
{
    LinkLockGuard lock(&m_lock);
    return m_lastReply;
}

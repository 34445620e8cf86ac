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

LinkSession::LinkSession(SerialLink &link) : m_lock(&link.lock()), m_link(link)
{
    if (m_link.m_sessionDepth++ > 0)
        return;
    try {
        m_link.openLink();
    } catch (...) {
        m_link.closeLink();
        --m_link.m_sessionDepth;
        throw;
    }
}

LinkSession::~LinkSession()
{
    if (--m_link.m_sessionDepth == 0)
        m_link.closeLink();
}

SerialPortDriver::NeededCount SerialLink::replyEnd() const
{
    if (m_fixedReceiveWindow)
        return SerialPortDriver::NeededCount();
    return wholeFrameLength;
}

bool SerialLink::isWholeReply(const QByteArray &bytes)
{
    // Too short, too long, or a length field or checksum that disagrees with
    // the bytes (corrupted on the line): no reply. A whole frame followed at
    // once by more bytes is not one either: the frame is not what it seems or
    // a second answer is on its way (a fixed window has taken such bytes into
    // the reply already).
    if (bytes.size() < EmptyFrameSize || bytes.size() > MaxReplySize || !frameIsConsistent(bytes))
        return false;
    return m_fixedReceiveWindow || !m_serialPort.inputWithin(TrailingLookMs);
}

QByteArray SerialLink::lateReply(const QByteArray &begun, const ReplyCheck &accept)
{
    const qint64 since = m_sinceFailure.elapsed();
    const int firstQuiet = begun.isEmpty() ? int(qMax<qint64>(0, LineSettleMs - since)) : LineSettleMs;
    const SerialPortDriver::NeededCount needed = replyEnd();
    const QByteArray got =
        m_serialPort.receiveUntilQuiet(begun, MaxReplySize + 1, firstQuiet, LineSettleMs, LineSettleCapMs, needed);
    if (isWholeReply(got) && (!accept || accept(got)))
        return got;
    // Not an answer: what follows it is thrown away until the line is quiet
    // (a watch that ended with the line quiet has done so already).
    if (needed && !got.isEmpty() && got.size() >= wholeFrameLength(got.constData(), int(got.size())))
        m_serialPort.discardUntilQuiet(LineSettleMs, LineSettleMs, LineSettleCapMs);
    return QByteArray();
}

QByteArray SerialLink::exchangePacket(const QByteArray &request, int windowMs, const ReplyCheck &accept)
{
    LinkLockGuard lock(&m_lock);
    QByteArray reply;
    int attempts = 0;
    m_serialPort.setInputTimeout(windowMs);
    const int repeats = m_baseRequestCount;
    const int rounds = repeats <= 0 ? 1 : repeats + 1;
    if (m_settlePending) {
        // Whatever an earlier exchange left on its way may answer another
        // request: the line must have been quiet for LineSettleMs since that
        // exchange ended (only what remains of it is waited for).
        const qint64 since = m_sinceFailure.elapsed();
        if (since < LineSettleMs)
            m_serialPort.discardUntilQuiet(int(LineSettleMs - since), LineSettleMs, LineSettleCapMs);
        m_settlePending = false;
    }
    while (attempts < rounds) {
        // The start of a reply the window cut off.
        QByteArray begun;
        try {
            m_serialPort.discardInput();
            m_serialPort.sendBytes(request);
            ++attempts;
            const QByteArray got = m_serialPort.receiveBytes(MaxReplySize, replyEnd());
            const int whole = got.isEmpty() ? 0 : wholeFrameLength(got.constData(), int(got.size()));
            if (got.size() < whole && whole <= MaxReplySize)
                begun = got;
            else if (isWholeReply(got) && (!accept || accept(got)))
                reply = got;
        } catch (...) {
            reply.clear();
        }
        if (!reply.isEmpty())
            break;
        m_sinceFailure.start();
        if (attempts >= rounds)
            break;
        // The repeat carries the same request: a whole reply that comes
        // before it is sent answers this request as well.
        try {
            reply = lateReply(begun, accept);
        } catch (...) {
            reply.clear();
        }
        if (!reply.isEmpty())
            break;
    }
    // After a failure, and after a repeat (the answer to another attempt may
    // still be on its way), the next exchange waits for the line to settle.
    m_settlePending = reply.isEmpty() || attempts > 1;
    if (!reply.isEmpty() && attempts > 1)
        m_sinceFailure.start();
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

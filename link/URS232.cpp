#include "link/URS232.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/LogFiles.h"
#include "link/TarnModTransport.h"

namespace {


QString HexBytes(const QByteArray &bytes)
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
int WholeFrameLength(const char *data, int count)
{
    if (count < FrameHeaderSize)
        return FrameHeaderSize;
    return ExpectedFrameLength(data, count);
}

} // namespace

TRS232Link::TRS232Link() = default;

TRS232Link::~TRS232Link() = default;

QString TRS232Link::ConnectFailureText()
{
    return QStringLiteral(
        "RS232: Не удалось подключиться к заданному COM-порту.\r\nПроверьте настройки подключения.");
}

bool TRS232Link::OpenLink()
{
    const int index = ComPortIndex;
    if (index >= 0 && index <= 7)
        CommPort.SetPort(index + 1);
    if (CommPort.OpenPort())
        return true;
    bool expected = true;
    if (m_reportConnectFailure.compare_exchange_strong(expected, false))
        throw EGeneralError(ConnectFailureText());
    return false;
}

QString TRS232Link::LastOpenError() const
{
    QString why;
    switch (CommPort.LastOpenFailure()) {
    case TCPDrv::TOpenFailure::None:
        return QString();
    case TCPDrv::TOpenFailure::InUse:
        why = QStringLiteral("порт занят другой программой");
        break;
    case TCPDrv::TOpenFailure::NoDevice:
        why = QStringLiteral("нет такого устройства");
        break;
    case TCPDrv::TOpenFailure::NoAccess:
        why = QStringLiteral("нет доступа к устройству");
        break;
    case TCPDrv::TOpenFailure::Settings:
        why = QStringLiteral("порт не принимает настройки линии (9600 бит/с, 8 бит, без чётности, 1 стоп-бит)");
        break;
    case TCPDrv::TOpenFailure::Other: {
        const QString text = CommPort.LastOpenFailureText();
        why = text.isEmpty() ? QStringLiteral("ошибка системы") : QStringLiteral("ошибка системы (%1)").arg(text);
        break;
    }
    }
    return QStringLiteral("Не удалось открыть порт %1: %2").arg(CommPort.PortName(), why);
}

void TRS232Link::CloseLink()
{
    CommPort.ClosePort();
}

QByteArray TRS232Link::ReceivePacket()
{
    TCPDrv::TNeeded needed;
    if (!FixedReceiveWindow)
        needed = WholeFrameLength;
    const QByteArray reply = CommPort.ReceiveBytes(MaxReplySize, needed);
    if (reply.isEmpty())
        return reply;
    // A short reply, and a reply whose length field or checksums disagree with
    // its bytes (corrupted on the line), is not a reply: the attempt failed.
    if (reply.size() < EmptyFrameSize || !FrameIsConsistent(reply))
        throw EProtocolCancel(QStringLiteral("Ошибочный пакет"));
    // A whole frame followed at once by more bytes: either the frame is not
    // what it seems or a second answer is on its way. (A fixed window has
    // taken such bytes into the reply already.)
    if (!FixedReceiveWindow && CommPort.InputWithin(TrailingLookMs))
        throw EProtocolCancel(QStringLiteral("Ошибочный пакет"));
    return reply;
}

QByteArray TRS232Link::ExchangePacket(const QByteArray &request, int windowMs, const TReplyCheck &accept)
{
    TLinkLockGuard lock(&m_lock);
    QByteArray reply;
    int attempts = 0;
    CommPort.SetInputTimeout(windowMs);
    const int repeats = BaseRequestCount;
    const int rounds = repeats <= 0 ? 1 : repeats + 1;
    for (int i = 0; i < rounds && reply.isEmpty(); ++i) {
        ++attempts;
        try {
            if (m_settlePending) {
                // Only what remains of the quiet time since the failure.
                const qint64 since = m_sinceFailure.elapsed();
                if (since < LineSettleMs)
                    CommPort.DiscardUntilQuiet(int(LineSettleMs - since), LineSettleMs, LineSettleCapMs);
                m_settlePending = false;
            }
            CommPort.DiscardInput();
            CommPort.SendBytes(request);
            reply = ReceivePacket();
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
    if (App().Rs232LogEnabled)
        LogExchange(request, reply, attempts);
    return reply;
}

QStringList ExchangeLogLines(const QDateTime &moment, const QByteArray &request,
                             const QByteArray &reply, int attempts)
{
    return {LogTimeStamp(moment, true) + QStringLiteral(" >") + HexBytes(request),
            QStringLiteral("< ") + HexBytes(reply) + QStringLiteral("  (") + QString::number(attempts)
                + QStringLiteral(")")};
}

void TRS232Link::LogExchange(const QByteArray &request, const QByteArray &reply, int attempts)
{
    try {
        AppendLogLines(App().ProgramDir + QStringLiteral("rs232.log"),
                       ExchangeLogLines(QDateTime::currentDateTime(), request, reply, attempts));
    } catch (...) {
        // The log never changes the outcome of an exchange.
    }
}

bool TRS232Link::ReportConnectFailure() const
{
    return m_reportConnectFailure.load();
}

void TRS232Link::ResetReportConnectFailure()
{
    m_reportConnectFailure.store(true);
}

QByteArray TRS232Link::LastReply() const
{
    TLinkLockGuard lock(&m_lock);
    return m_lastReply;
}

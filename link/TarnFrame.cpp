#include "link/TarnFrame.h"

#include "core/Errors.h"

namespace {

QString addressErrorText()
{
    return QStringLiteral("Неправильно задан адрес устройства");
}

// One decimal part of an address: digits only (no sign, no blanks).
bool parseAddressPart(const QString &part, quint8 &byte)
{
    if (part.isEmpty())
        return false;
    quint64 value = 0;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        // Only the low 8 bits are kept; keep the running value bounded.
        value = (value * 10 + quint64(c.unicode() - '0')) & 0xFFFFFFFFull;
    }
    byte = quint8(value & 0xFF);
    return true;
}

void appendLe32(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xFF));
    out.append(char((v >> 8) & 0xFF));
    out.append(char((v >> 16) & 0xFF));
    out.append(char((v >> 24) & 0xFF));
}

quint32 readLe32(const QByteArray &b, int offset)
{
    return quint32(quint8(b[offset])) | (quint32(quint8(b[offset + 1])) << 8)
        | (quint32(quint8(b[offset + 2])) << 16) | (quint32(quint8(b[offset + 3])) << 24);
}

} // namespace

quint32 frameChecksum(const char *data, int length)
{
    const auto *b = reinterpret_cast<const quint8 *>(data);
    quint32 h = 0;
    int i = 0;
    if (length % 2 == 1) {
        h = b[0];
        i = 1;
    }
    while (i < length) {
        h = (h << 5) | (h >> 27);
        h ^= quint32(b[i]) * 256u + quint32(b[i + 1]);
        i += 2;
    }
    return h;
}

quint32 frameChecksum(const QByteArray &bytes)
{
    return frameChecksum(bytes.constData(), int(bytes.size()));
}

QByteArray parseDeviceAddress(const QString &text)
{
    const QString t = text.left(11).trimmed();
    const int p1 = int(t.indexOf(QLatin1Char('.')));
    if (p1 < 0)
        throw EFormatError(addressErrorText());
    const QString rest = t.mid(p1 + 1);
    const int p2 = int(rest.indexOf(QLatin1Char('.')));
    if (p2 < 0)
        throw EFormatError(addressErrorText());
    quint8 a = 0, b = 0, c = 0;
    if (!parseAddressPart(t.left(p1), a) || !parseAddressPart(rest.left(p2), b)
        || !parseAddressPart(rest.mid(p2 + 1), c))
        throw EFormatError(addressErrorText());
    QByteArray out;
    out.append(char(a));
    out.append(char(b));
    out.append(char(c));
    return out;
}

QByteArray buildPacket(const QString &destination, const QString &source, quint8 function,
                       quint8 selector, const QByteArray &body)
{
    QByteArray header = parseDeviceAddress(destination);
    header += parseDeviceAddress(source);
    const int n = int(body.size());
    header.append(char(function));
    header.append(char(selector));
    header.append(char(n % 256));
    header.append(char((n / 256) & 0xFF));
    QByteArray frame = header;
    if (n == 0) {
        frame.append(4, '\0');
        return frame;
    }
    frame.reserve(n + FrameOverhead);
    appendLe32(frame, frameChecksum(header));
    frame += body;
    appendLe32(frame, frameChecksum(body));
    return frame;
}

int expectedFrameLength(const char *data, int count)
{
    if (count < FrameHeaderSize)
        return -1;
    const int n = int(quint8(data[8])) | (int(quint8(data[9])) << 8);
    return n == 0 ? EmptyFrameSize : n + FrameOverhead;
}

int expectedFrameLength(const QByteArray &head)
{
    return expectedFrameLength(head.constData(), int(head.size()));
}

bool frameIsConsistent(const QByteArray &frame)
{
    const int expected = expectedFrameLength(frame);
    if (expected < 0 || frame.size() != expected)
        return false;
    const quint32 headerSum = readLe32(frame, FrameHeaderSize);
    const quint32 trueHeaderSum = frameChecksum(frame.constData(), FrameHeaderSize);
    if (expected == EmptyFrameSize)
        return headerSum == 0 || headerSum == trueHeaderSum;
    if (headerSum != trueHeaderSum)
        return false;
    const int n = expected - FrameOverhead;
    return readLe32(frame, EmptyFrameSize + n) == frameChecksum(frame.constData() + EmptyFrameSize, n);
}

quint16 frameBodyLength(const QByteArray &frame)
{
    if (frame.size() < FrameHeaderSize)
        return 0;
    return quint16(quint8(frame[8]) | (quint8(frame[9]) << 8));
}

QByteArray frameBody(const QByteArray &frame)
{
    return frame.mid(EmptyFrameSize, frameBodyLength(frame));
}

quint32 frameAddress(const QByteArray &frame, int offset)
{
    if (offset < 0 || frame.size() < offset + 3)
        return 0;
    return (quint32(quint8(frame[offset])) << 16) | (quint32(quint8(frame[offset + 1])) << 8)
        | quint32(quint8(frame[offset + 2]));
}

QString addressToText(quint32 address)
{
    return QStringLiteral("%1.%2.%3")
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

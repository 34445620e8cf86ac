#include "service/core/LabelWrite.h"

#include "link/DeviceCommands.h"
#include "core/DeviceText.h"
#include "link/SerialLink.h"
#include "link/TarnCodes.h"
#include "link/TarnFrame.h"
#include "service/core/LabelText.h"
#include "core/TextCode.h"

#include <QThread>

using namespace TarnCodes;

KnownLabel KnownLabel::fromCode(const QByteArray &code)
{
    KnownLabel k;
    for (int g = 0; g < LabelGroups; ++g)
        if (code.size() >= (g + 1) * LabelGroupSize)
            k.groups[g] = code.mid(g * LabelGroupSize, LabelGroupSize);
    return k;
}

bool KnownLabel::complete() const
{
    for (const QByteArray &g : groups)
        if (g.size() != LabelGroupSize)
            return false;
    return true;
}

QByteArray KnownLabel::code() const
{
    if (!complete())
        return QByteArray();
    QByteArray c;
    for (const QByteArray &g : groups)
        c += g;
    return c;
}

QByteArray labelTargetCode(const QString &text)
{
    // Every character the table holds is one Windows-1251 byte and one
    // device byte, so 16 of them make the 16 bytes of the four groups.
    QString fitted = leftCharacters(keepHeldCharacters(text, deviceTextHolds), LabelLength);
    fitted += QString(LabelLength - fitted.size(), QLatin1Char(' '));
    return textToDeviceCode(fitted);
}

QByteArray labelGroupWriteBody(int group, const QByteArray &fourBytes)
{
    QByteArray body;
    body += char(RegLabelFirst + group);
    body += char(RegMarker);
    body += fourBytes.left(LabelGroupSize);
    body += char(0);
    return body;
}

QByteArray labelGroupReadBody(int group)
{
    return dosimeterRegisterReadBody(quint8(RegLabelFirst + group));
}

namespace {

void pause()
{
    QThread::msleep(LabelPacketPauseMs);
}

QByteArray exchange(SerialLink *link, const QByteArray &request)
{
    return link->exchangePacket(request, link->sendDelayMs(),
                                [&request](const QByteArray &reply) { return replyAnswersRequest(request, reply); });
}

struct Closer {
    SerialLink *link;
    ~Closer() { link->closeLink(); }
};

} // namespace

LabelWriteResult writeDosimeterLabel(SerialLink *link, const QByteArray &target, const KnownLabel &known,
                                     const std::function<void()> &step)
{
    LabelWriteResult result;
    result.known = known;
    if (!link) {
        result.noLink = true;
        return result;
    }
    auto advance = [&step] {
        if (step)
            step();
    };
    QVector<QByteArray> readBack(LabelGroups);
    {
        LinkLockGuard lock(&link->lock());
        Closer closer{link};
        link->openLink();
        pause();
        for (int g = 0; g < LabelGroups; ++g) {
            const QByteArray want = target.mid(g * LabelGroupSize, LabelGroupSize);
            if (want == known.groups.at(g)) {
                readBack[g] = want;
                advance();
                continue;
            }
            result.sent += g;
            const QByteArray write =
                buildPacket(BroadcastAddress, MonitorAddress, FnWrite, SelRegister, labelGroupWriteBody(g, want));
            const QByteArray ack = exchange(link, write);
            pause();
            if (ack.size() == AcknowledgeReplySize)
                advance();
            // Read back also after a lost acknowledgement: the bytes may have
            // arrived, and the known label must follow what the group holds.
            const QByteArray read =
                buildPacket(BroadcastAddress, MonitorAddress, FnRead, SelRegister, labelGroupReadBody(g));
            const QByteArray reply = exchange(link, read);
            QByteArray data;
            if (reply.size() != RegisterReplySize || !registerReplyData(reply, data))
                return result;  // not completed; the groups read back so far are known
            readBack[g] = data;
            result.known.groups[g] = data;
            if (data == want)
                result.written += g;
            pause();
            advance();
        }
    }
    for (const QByteArray &g : readBack)
        result.readBackCode += g;
    result.readBackText = deviceCodeToText(result.readBackCode);
    result.completed = true;
    bool allGroups = true;
    for (int g = 0; g < LabelGroups; ++g)
        if (readBack.at(g) != target.mid(g * LabelGroupSize, LabelGroupSize))
            allGroups = false;
    result.verified = allGroups && trimLabelCode(target) == trimLabelCode(result.readBackCode);
    return result;
}

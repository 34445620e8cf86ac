#include "service/core/LabelWrite.h"

#include "core/DeviceText.h"
#include "core/TextCode.h"
#include "link/DeviceCommands.h"
#include "link/SerialLink.h"
#include "service/core/LabelText.h"

#include <QThread>

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

namespace {

void pause()
{
    QThread::msleep(LabelPacketPauseMs);
}

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
        LinkSession session(*link);
        pause();
        for (int g = 0; g < LabelGroups; ++g) {
            const QByteArray want = target.mid(g * LabelGroupSize, LabelGroupSize);
            if (want == known.groups.at(g)) {
                readBack[g] = want;
                advance();
                continue;
            }
            result.sent += g;
            const bool acknowledged = writeLabelGroup(link, g, want).ok();
            pause();
            if (acknowledged)
                advance();
            // Read back also after a lost acknowledgement: the bytes may have
            // arrived, and the known label must follow what the group holds.
            const CommandResult<QByteArray> read = readLabelGroup(link, g);
            if (!read)
                return result;  // not completed; the groups read back so far are known
            const QByteArray &data = read.value;
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

#include "service/core/LabelText.h"

#include "core/TextCode.h"
#include "core/DeviceText.h"

#include <QStringList>

namespace {

bool blankOrControl(QChar c)
{
    return c.unicode() <= 0x20;
}

QString chopTrailing(QString s)
{
    while (!s.isEmpty() && blankOrControl(s.back()))
        s.chop(1);
    return s;
}

} // namespace

QString trimLabel(const QString &text)
{
    int from = 0;
    while (from < text.size() && blankOrControl(text.at(from)))
        ++from;
    return chopTrailing(text.mid(from));
}

QByteArray trimLabelCode(const QByteArray &code)
{
    int from = 0, to = code.size();
    while (from < to && quint8(code.at(from)) <= 0x20)
        ++from;
    while (to > from && quint8(code.at(to - 1)) <= 0x20)
        --to;
    return code.mid(from, to - from);
}

QString fitLabelText(const QString &text, bool *beep, bool keepUnheld)
{
    bool cut = false;
    QString s = keepUnheld ? leftCharacters(text, text.size()) : keepHeldCharacters(text, deviceTextHolds);
    if (s != text)
        cut = true;
    if (characterCount(s) > LabelLength)
        s = chopTrailing(s);
    if (characterCount(s) > LabelLength) {
        s = leftCharacters(s, LabelLength);
        cut = true;
    }
    if (beep)
        *beep = cut;
    return s;
}

QString labelHexView(const QString &text)
{
    QString padded = text;
    if (padded.size() < LabelLength)
        padded += QString(LabelLength - padded.size(), QLatin1Char(' '));
    const QByteArray bytes = toCp1251(padded);
    QString view;
    for (int i = 0; i < bytes.size(); ++i) {
        view += QStringLiteral("%1 ").arg(quint8(bytes.at(i)), 2, 16, QLatin1Char('0')).toUpper();
        if ((i + 1) % 4 == 0)
            view += QLatin1Char(' ');
    }
    return view.trimmed();
}

QString parseLabelHex(const QString &hex, int *beeps)
{
    int beepCount = 0;
    QString s = hex.trimmed();
    s.replace(QStringLiteral("  "), QStringLiteral(" "));
    s.replace(QStringLiteral("  "), QStringLiteral(" "));
    const QStringList words = s.split(QLatin1Char(' '));
    QByteArray bytes;
    for (int i = 0; i < words.size() && i < 100; ++i) {
        const QString &word = words.at(i);
        if (word.isEmpty())
            break;
        // The value is capped at one byte: a long word cannot wrap round
        // into a byte value.
        int value = 0;
        bool valid = true;
        for (const QChar c : word) {
            const int digit = QStringLiteral("0123456789ABCDEF").indexOf(c.toUpper());
            if (digit < 0) {
                valid = false;
                break;
            }
            value = value * 16 + digit;
            if (value > 0xFF) {
                valid = false;
                break;
            }
        }
        if (!valid) {
            ++beepCount;
            bytes += ' ';
        } else {
            bytes += char(value);
        }
    }
    bool unheld = false;
    for (char &b : bytes) {
        const QString c = fromCp1251(QByteArray(1, b));
        if (b == '\0' || c.size() != 1 || !deviceTextHolds(c.at(0).unicode())) {
            unheld = true;
            b = ' ';
        }
    }
    if (unheld)
        ++beepCount;
    QString text = chopTrailing(fromCp1251(bytes));
    if (text.size() > LabelLength)
        ++beepCount;
    if (beeps)
        *beeps = beepCount;
    return text;
}

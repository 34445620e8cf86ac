#include "StoredDateTime.h"

namespace {
const QString kDateTimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

QString fourDigitYear(const QDate &d)
{
    return QStringLiteral("%1").arg(d.year(), 4, 10, QLatin1Char('0'));
}
} // namespace

QString dateTimeToStored(const QDateTime &value)
{
    if (!value.isValid())
        return QString();
    // Qt writes years below 1000 with fewer digits; the stored form always has four.
    return fourDigitYear(value.date()) + value.toString(QStringLiteral("-MM-dd HH:mm:ss.zzz"));
}

namespace {

// The digits of text[at, at + n), or -1.
int digits(const QString &text, int at, int n)
{
    int v = 0;
    for (int i = at; i < at + n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        v = v * 10 + (c - u'0');
    }
    return v;
}

// The stored form read by its fixed places, the way every stored time is
// read: Qt's format parser is many times slower. Null when the text is not
// exactly that form, or names a local time the clock skips.
QDateTime parseStored(const QString &text)
{
    if (text.size() != 23 || text[4] != u'-' || text[7] != u'-' || text[10] != u' ' || text[13] != u':'
        || text[16] != u':' || text[19] != u'.')
        return QDateTime();
    const int y = digits(text, 0, 4), mo = digits(text, 5, 2), d = digits(text, 8, 2);
    const int h = digits(text, 11, 2), mi = digits(text, 14, 2), sec = digits(text, 17, 2), ms = digits(text, 20, 3);
    if (y < 0 || mo < 0 || d < 0 || h < 0 || mi < 0 || sec < 0 || ms < 0)
        return QDateTime();
    const QDate date(y, mo, d);
    const QTime time(h, mi, sec, ms);
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    QDateTime dt(date, time);
    return dt.isValid() && dt.date() == date && dt.time() == time ? dt : QDateTime();
}

} // namespace

QDateTime dateTimeFromStored(const QString &text)
{
    if (text.size() < 10)
        return QDateTime();
    if (QDateTime fast = parseStored(text); fast.isValid())
        return fast;
    QDateTime dt = QDateTime::fromString(text, kDateTimeFormat);
    if (!dt.isValid() && text.size() == 10)
        dt = QDateTime(QDate::fromString(text, kDateFormat), QTime(0, 0));
    return dt.isValid() ? dt : QDateTime();
}

QString dateToStored(const QDate &value)
{
    if (!value.isValid())
        return QString();
    return fourDigitYear(value) + value.toString(QStringLiteral("-MM-dd"));
}

QDate dateFromStored(const QString &text)
{
    return QDate::fromString(text.left(10), kDateFormat);
}

QDateTime minDateTime()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0, 0, 0));
}

QDateTime maxDateTime()
{
    return QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999));
}

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

QDateTime dateTimeFromStored(const QString &text)
{
    if (text.size() < 10)
        return QDateTime();
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

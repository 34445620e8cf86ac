#pragma once
// How the tables store date-times: fixed-width text "yyyy-MM-dd HH:mm:ss.zzz"
// (dates alone as "yyyy-MM-dd"). The text compares exactly, orders
// chronologically as plain text, and reads well in any SQLite tool. The range
// runs from 0001-01-01 00:00:00.000 to 9999-12-31 23:59:59.999. Local time, no
// zone: the reader's clock and the computer's clock are both local.

#include <QDate>
#include <QDateTime>
#include <QString>

QString dateTimeToStored(const QDateTime &value);  // a null value gives a null QString
QDateTime dateTimeFromStored(const QString &text);  // unreadable text gives a null QDateTime
QString dateToStored(const QDate &value);
QDate dateFromStored(const QString &text);

QDateTime minDateTime();  // 1 January of year 1, 00:00
QDateTime maxDateTime();  // 31 December 9999, 23:59:59.999

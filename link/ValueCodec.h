#pragma once
// Value encodings of the frame bodies: BCD bytes, the five-byte device
// date-time and the 16-bit decimal word (10-bit mantissa / 100, 6-bit signed
// power of ten) that carries doses and coefficient A.

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

// (n div 10) * 16 + (n mod 10), taken modulo 256 (numbers above 99 are not refused).
quint8 toBcd(int n);
// (b div 16) * 10 + (b mod 16); the digits are not checked (0x1F gives 25).
int fromBcd(quint8 b);

// Five BCD bytes: minute, hour, day, month, year - 2000. False (and `out`
// untouched) when they do not form a valid date and time; seconds are 0.
bool decodeDeviceDateTime(const char *five, QDateTime &out);
bool decodeDeviceDateTime(const QByteArray &bytes, int offset, QDateTime &out);
// Minute, hour, day, month, year - 2000 through toBcd(); seconds are dropped.
QByteArray encodeDeviceDateTime(const QDateTime &moment);

// Value = M / 100 * 10^E with M = w & 0x3FF and E the signed top six bits.
double decodeDecimalWord(quint16 w);
// Three significant digits (M 100..999), cut, not rounded; 0 for x <= 0
// (and for a value that is not a finite number). A value a hair below 1
// (log10 between -1e-8 and 0) is written as 1.00.
quint16 encodeDecimalWord(double x);

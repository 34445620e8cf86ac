#pragma once
// The device's own single-byte character code. Texts inside frames (names in
// archive records, the dosimeter label) use it; inside the program texts are
// ordinary Unicode strings, converted through Windows-1251 and two fixed
// 256-byte tables. Cyrillic letters that look like Latin letters travel as
// those Latin letters, so a text read back from the device is Cyrillic.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

extern const quint8 ToDeviceTable[256];    // Windows-1251 code -> device code
extern const quint8 FromDeviceTable[256];  // device code -> Windows-1251 code

// Each Windows-1251 byte b of the text becomes ToDeviceTable[b]; the length is kept.
QByteArray textToDeviceCode(const QString &text);
// Each byte b becomes FromDeviceTable[b]; the length is kept.
QString deviceCodeToText(const QByteArray &bytes);

// The same conversions on Windows-1251 bytes.
QByteArray cp1251ToDeviceCode(const QByteArray &cp1251);
QByteArray deviceCodeToCp1251(const QByteArray &device);

// True when the device's table holds the character: it goes to a device code
// that reads back as the same character or as its look-alike (Latin letters
// as Cyrillic, quotes and comma as typographic ones, Ь as ь). These are the
// printable ASCII characters (20..7E), the Russian letters, Ё, ё and №;
// every other character (other Windows-1251 letters and signs, control
// characters) would come back as another letter or a sign.
bool deviceTextHolds(char32_t c);

#pragma once
// The dosimeter label as the operator edits it: at most 16 characters of
// text, or the same bytes as hexadecimal codes. Pure functions; the two
// editors of the options dialog call them from their change handlers.

#include "link/TarnCodes.h"

#include <QByteArray>
#include <QString>

// 16 characters: one device byte each.
using TarnCodes::LabelLength;

// The text editor's rule: characters the device's table does not hold
// (deviceTextHolds) are dropped with a beep, unless `keepUnheld` (the label
// as read from the dosimeter, shown as it is); a text longer than 16
// characters loses its trailing blanks and control characters, and is then
// cut to 16 whole characters (beep set when cut).
QString fitLabelText(const QString &text, bool *beep = nullptr, bool keepUnheld = false);

// The hexadecimal view of a label text: the text padded with blanks to 16
// characters, each Windows-1251 byte as two upper-case digits, one blank
// between the codes of a group of four and two between groups.
QString labelHexView(const QString &text);

// The hexadecimal editor's text read back as label text. Words are taken in
// order up to the first empty one (a run of five or more blanks), at most
// 100; a word is a byte in hexadecimal, upper or lower case. A word that is
// not a byte (256 or more, or with another character) gives a blank and a
// beep; a zero byte, or a byte whose character the device's table does not
// hold, becomes a blank with a beep; trailing blanks and control
// characters are removed; a result over 16 characters is kept with a beep.
// `beeps` counts the beeps.
QString parseLabelHex(const QString &hex, int *beeps = nullptr);

// Removes leading and trailing blanks and control characters (code 0x20 and below).
QString trimLabel(const QString &text);
QByteArray trimLabelCode(const QByteArray &code);

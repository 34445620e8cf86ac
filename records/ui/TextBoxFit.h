#pragma once
// Text boxes whose text goes into a table or a dosimeter: whole characters
// only, and only characters the target holds (core/TextCode.h).

#include "core/TextCode.h"

#include <QString>

class QLineEdit;

// Keeps the box to whole characters as the operator types or pastes: the
// box's length limit counts UTF-16 units and may keep half of a surrogate
// pair at its end; that half goes, with a beep. With `holds`, characters the
// target lacks never enter the box either (dropped with a beep).
void keepWholeCharacters(QLineEdit *box, CharacterRule holds = nullptr);

// Before the box's text is stored: true when the target holds every
// character; otherwise a message through the prompt names the others, the
// box gets the focus and the answer is false.
bool boxTextFits(QLineEdit *box, const QString &boxTitle, bool device = false);

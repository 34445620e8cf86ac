#pragma once
// How a dose is written for the operator: one rule for every window, printout
// and file of dose control.
//
// A single reading is written in microsieverts. A sum (a month, a quarter,
// a year, a running total, a level) under 1 000 µSv is written in
// microsieverts too; from 1 000 µSv on, in millisieverts with two decimals.
// The unit is always written. The figure is rounded first and the unit
// chosen after, so 999,96 µSv becomes "1,00 мЗв", never "1 000,0 мкЗв".
// Russian number forms: decimal comma, thin groups of thousands.

#include <QString>

enum class DoseShown { Reading, Sum };

namespace DoseText {
QString format(double microsieverts, DoseShown shown = DoseShown::Sum);
// The units as written: "мкЗв", "мЗв".
QString microUnit();
QString milliUnit();
} // namespace DoseText

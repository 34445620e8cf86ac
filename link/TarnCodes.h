#pragma once
// The codes of the reader's protocol: the function and selector of a frame,
// the reason byte of a refusal and the dosimeter registers. The monitor's
// commands and the simulated reader both speak in these.

#include <QtGlobal>

namespace TarnCodes {

// Function (frame byte 6).
constexpr quint8 FnRefusal = 3;   // the reader's answer to a request it does not carry out
constexpr quint8 FnPresence = 4;  // presence query, answered by an empty frame
constexpr quint8 FnRead = 6;
constexpr quint8 FnWrite = 8;

// Selector (frame byte 7).
constexpr quint8 SelRegister = 1;         // the reader's register space
constexpr quint8 SelSpectrumBlock = 17;   // one block of 100 spectrum channels
constexpr quint8 SelSpectrumHeader = 125;

// Reason (the one body byte of a refusal).
constexpr quint8 RefuseUnknown = 1;
constexpr quint8 RefuseNoDosimeter = 2;
constexpr quint8 RefuseBusy = 5;

// Dosimeter registers: a register request body starts with the code and FF.
constexpr quint8 RegTotalDose = 0xF1;
constexpr quint8 RegMetrology = 0xF2;
constexpr quint8 RegLabelFirst = 0xF3;  // the label: LabelGroups registers of LabelGroupSize bytes
constexpr quint8 RegLabelLast = 0xF6;
constexpr quint8 RegDosimeterNumber = 0xF7;
constexpr quint8 RegMarker = 0xFF;

// The dosimeter label: 16 bytes, one device byte per character, kept in four
// groups of four bytes, group k in register RegLabelFirst + k.
constexpr int LabelGroups = 4;
constexpr int LabelGroupSize = 4;
constexpr int LabelLength = LabelGroups * LabelGroupSize;
static_assert(RegLabelLast == RegLabelFirst + LabelGroups - 1, "one register per label group");

} // namespace TarnCodes

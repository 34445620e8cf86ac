#pragma once
// The texts and small rules of the dosimeter options ("Настройка дозиметра")
// that do not need a window: the total dose as shown, the messages of the
// label write and of the number and mode write.

#include "core/Result.h"

#include <optional>
#include "service/core/LabelWrite.h"

#include <QDateTime>
#include <QString>
#include <QVector>

// The total dose in scientific notation, four significant digits and at
// least two exponent digits ("1.235E+03").
QString formatTotalDose(float dose);
// Writes the audit row of a dose clear once the dose was read back: the
// dose read before and after (absent: not read).
class DataModule;
Result<> auditDoseClear(DataModule &dm, const QString &number, std::optional<float> before,
                        std::optional<float> after);
// What the dose label shows: the formatted value, or "Не определено" when
// the value is not a number (whatever its sign bit).
QString totalDoseDisplay(float dose);
// "Значение <value> прочитано из прибора <date and time>".
QString totalDoseInfo(const QString &value, const QDateTime &moment);

// The texts of the opening reads.
extern const QString LabelReadFailedText;
extern const QString NumberReadFailedText;
// The status label while the options flow has the reader.
extern const QString LabelAccessText;  // "Доступ к метке дозиметра"

// The report text of a completed label write (verified or not) with the
// mode message appended.
QString labelWrittenInfo(bool verified, const QString &sentText, const QString &readBackText,
                         const QString &modeMessage);
// The failure box of a label write that did not complete. `writtenGroups`
// (0..3) are the groups that read back as sent; the text says which, out of
// the `changedGroups` groups that differed from what the dosimeter held.
QString labelWriteFailedText(const QString &sentText, const QVector<int> &writtenGroups, int changedGroups,
                             const QString &modeMessage);
// The groups of `target` that differ from what the dosimeter is known to
// hold (an unknown group counts as differing): the groups a write sends.
int changedLabelGroups(const QByteArray &target, const KnownLabel &known);

// The mode messages appended to the report.
QString modeWrittenMessage(bool accumulation);   // "\r\nрежим (1) успешно записан в дозиметр"
extern const QString ModeWriteFailedMessage;     // "\r\nНе удалось записать номер дозиметра и режим"
// The number read again before the write is not the one read at opening.
QString otherDosimeterMessage(quint32 number);

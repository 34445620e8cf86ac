#pragma once
// Checks of the records for the dosimetry service ("Контроль данных"):
// dosimeters issued but not read for a while, readings no journal entry
// holds, and persons over a level whose alert nobody has acknowledged.
// Headless; each check reads the store once and returns its rows or the
// store's failure. Nothing is changed.

#include "core/Result.h"
#include "records/DoseAlerts.h"

#include <QDateTime>
#include <QList>
#include <QString>

class DataModule;

// A dosimeter still issued (its journal entry has no TimeTo) that has not
// been read since `lastRead` (null: never read since it was issued).
struct UnreadDosimeter {
    qint64 entryKey = 0;  // Notes.Index
    qint64 id = 0;
    QString fio;
    QDateTime issued;     // TimeFrom; null when blank
    QDateTime lastRead;   // the dosimeter's last reading, null when none
    qint64 days = 0;      // whole days since the later of the two
};

// A reading of the period that no journal entry holds.
struct UnattributedReading {
    qint64 index = 0;  // Measures.Index
    qint64 id = 0;
    QDateTime time;
    double dose = 0;
};

namespace DataChecks {

constexpr int DefaultUnreadDays = 31;

// Dosimeters issued and not read for more than `days` whole days before
// `now`: neither a reading nor the issue itself lies within them. By number.
Result<QList<UnreadDosimeter>> unreadDosimeters(DataModule &dm, int days, const QDateTime &now);

// Readings of [from, to] (both included) that no binding holds (see
// DoseAttribution.h), in time order. A period that ends before it begins
// is refused (Invalid).
Result<QList<UnattributedReading>> unattributedReadings(DataModule &dm, const QDateTime &from, const QDateTime &to);

// Standing, unacknowledged alerts whose period overlaps [from, to]: the
// persons whose dose there went over a level (an investigation level or a
// limit) and nobody has looked at it yet. Newest first.
Result<QList<DoseAlert>> unacknowledgedOver(DataModule &dm, const QDateTime &from, const QDateTime &to);

} // namespace DataChecks

#pragma once
// The two optional logs of the program directory, "rs232.log" and
// "Events.log": Windows-1251 text, CR LF line ends, appended to and never
// truncated. A log that cannot be written is skipped silently.

#include <QDateTime>
#include <QString>
#include <QStringList>

// "dd.MM.yyyy HH:mm:ss", whatever the system locale. With dateOnlyAtMidnight
// a time of exactly 00:00:00 gives the date alone.
QString logTimeStamp(const QDateTime &moment, bool dateOnlyAtMidnight = false);

// Appends the lines (each ended by CR LF) to the file; creates it when missing.
// Safe to call from any thread. Returns false when the file could not be
// written; callers never let that change their outcome.
bool appendLogLines(const QString &path, const QStringList &lines);

// Appends "<time stamp> ><message>" to programDir + "Events.log" when the
// events log is on. Never fails, never raises.
void logEvent(const QString &message);

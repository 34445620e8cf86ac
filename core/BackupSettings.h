#pragma once
// The backup choices in the settings file, section "Backup": the folder
// the backups go to ("Folder", none: no daily backup), how many are kept
// ("Keep", 1..999, default 10) and when the last backup was made
// ("LastCopy", "yyyy-MM-ddTHH:mm:ss", local time), and when the daily
// backup is due.

#include <QDateTime>
#include <QString>

extern const QString BackupSection;  // "Backup"

struct BackupSettings {
    static constexpr int DefaultKeep = 10;
    static constexpr int MaxKeep = 999;
    QString folder;
    int keep = DefaultKeep;
    QDateTime lastCopy;  // invalid: none yet
};

// Reads the section of the settings file (defaults for what is missing or
// out of range); an empty path gives the defaults.
BackupSettings readBackupSettings(const QString &settingsPath);
// Writes folder and keep (lastCopy too when valid); the other sections stay.
void writeBackupSettings(const QString &settingsPath, const BackupSettings &s);
// Writes only the time of the last backup.
void writeLastBackupTime(const QString &settingsPath, const QDateTime &when);

// The daily backup is due: a folder is set and no backup was made on the
// day of `now` (a last backup dated after now, a clock set back, does not
// hold it back).
bool dailyBackupDue(const BackupSettings &s, const QDateTime &now);

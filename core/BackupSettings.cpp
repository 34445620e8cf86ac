#include "core/BackupSettings.h"

#include "core/IniFile.h"
#include "core/SettingsKeys.h"

const QString BackupSection = SettingsKeys::Backup::Section;

namespace {

const QString kFolder = SettingsKeys::Backup::Folder;
const QString kKeep = SettingsKeys::Backup::Keep;
const QString kLastCopy = SettingsKeys::Backup::LastCopy;
const QString kTimeFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

} // namespace

BackupSettings readBackupSettings(const QString &settingsPath)
{
    BackupSettings s;
    if (settingsPath.isEmpty())
        return s;
    const IniFile ini(settingsPath);
    s.folder = ini.readString(BackupSection, kFolder).trimmed();
    const int keep = ini.readInteger(BackupSection, kKeep, BackupSettings::DefaultKeep);
    s.keep = keep >= 1 && keep <= BackupSettings::MaxKeep ? keep : BackupSettings::DefaultKeep;
    s.lastCopy = QDateTime::fromString(ini.readString(BackupSection, kLastCopy).trimmed(), kTimeFormat);
    return s;
}

void writeBackupSettings(const QString &settingsPath, const BackupSettings &s)
{
    if (settingsPath.isEmpty())
        return;
    IniFile ini(settingsPath);
    ini.writeString(BackupSection, kFolder, s.folder);
    ini.writeInteger(BackupSection, kKeep, s.keep);
    if (s.lastCopy.isValid())
        ini.writeString(BackupSection, kLastCopy, s.lastCopy.toString(kTimeFormat));
    ini.save();
}

void writeLastBackupTime(const QString &settingsPath, const QDateTime &when)
{
    if (settingsPath.isEmpty())
        return;
    IniFile ini(settingsPath);
    ini.writeString(BackupSection, kLastCopy, when.toString(kTimeFormat));
    ini.save();
}

bool dailyBackupDue(const BackupSettings &s, const QDateTime &now)
{
    if (s.folder.isEmpty())
        return false;
    return !s.lastCopy.isValid() || s.lastCopy.date() != now.date();
}

// Reads the section [Database] of the settings file.

#include "monitor/core/DatabaseSettings.h"

#include "core/IniFile.h"
#include "core/SettingsKeys.h"

StoreConnection databaseSettings(const IniFile &ini)
{
    const QString section = SettingsKeys::Database::Section;
    StoreConnection c;
    const QString driver = ini.readString(section, SettingsKeys::Database::Driver).trimmed().toUpper();
    if (driver == QLatin1String("QPSQL"))
        c.driver = driver;
    c.host = ini.readString(section, SettingsKeys::Database::Host).trimmed();
    c.port = ini.readInteger(section, SettingsKeys::Database::Port, 5432);
    c.database = ini.readString(section, SettingsKeys::Database::Name).trimmed();
    c.user = ini.readString(section, SettingsKeys::Database::User).trimmed();
    c.sslMode = ini.readString(section, SettingsKeys::Database::SslMode).trimmed();
    c.schema = ini.readString(section, SettingsKeys::Database::Schema).trimmed();
    const QString serviceRole = ini.readString(section, SettingsKeys::Database::ServiceRole).trimmed();
    if (!serviceRole.isEmpty())
        c.serviceRole = serviceRole;
    c.passwordFile = ini.readString(section, SettingsKeys::Database::PasswordFile).trimmed();
    return c;
}

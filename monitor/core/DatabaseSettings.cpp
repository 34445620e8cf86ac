// Reads the section [Database] of the settings file.

#include "monitor/core/DatabaseSettings.h"

#include "core/IniFile.h"

StoreConnection databaseSettings(const IniFile &ini)
{
    const QString section = QStringLiteral("Database");
    StoreConnection c;
    const QString driver = ini.readString(section, QStringLiteral("Driver")).trimmed().toUpper();
    if (driver == QLatin1String("QPSQL"))
        c.driver = driver;
    c.host = ini.readString(section, QStringLiteral("Host")).trimmed();
    c.port = ini.readInteger(section, QStringLiteral("Port"), 5432);
    c.database = ini.readString(section, QStringLiteral("Name")).trimmed();
    c.user = ini.readString(section, QStringLiteral("User")).trimmed();
    c.sslMode = ini.readString(section, QStringLiteral("SslMode")).trimmed();
    c.schema = ini.readString(section, QStringLiteral("Schema")).trimmed();
    const QString serviceRole = ini.readString(section, QStringLiteral("ServiceRole")).trimmed();
    if (!serviceRole.isEmpty())
        c.serviceRole = serviceRole;
    c.passwordFile = ini.readString(section, QStringLiteral("PasswordFile")).trimmed();
    return c;
}

// The description of where the records are kept.

#include "records/StoreConnection.h"

#include <QRegularExpression>
#include <QStringList>

QString StoreConnection::connectOptions() const
{
    QStringList options;
    if (!sslMode.isEmpty())
        options.append(QStringLiteral("sslmode=") + sslMode);
    if (!passwordFile.isEmpty())
        options.append(QStringLiteral("passfile=") + passwordFile);
    if (!schema.isEmpty())
        options.append(QStringLiteral("options=-csearch_path=") + schema);
    options.append(QStringLiteral("connect_timeout=5"));
    options.append(QStringLiteral("application_name=ruvo"));
    return options.join(QLatin1Char(';'));
}

QString StoreConnection::describe() const
{
    return QStringLiteral("сервер %1:%2, база %3, пользователь %4")
        .arg(host.isEmpty() ? QStringLiteral("localhost") : host)
        .arg(port)
        .arg(database.isEmpty() ? QStringLiteral("(не задана)") : database,
             user.isEmpty() ? QStringLiteral("(не задан)") : user);
}

StoreConnection StoreConnection::fromConnInfo(const QString &text)
{
    StoreConnection c;
    c.driver = QStringLiteral("QPSQL");
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const int eq = part.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = part.left(eq).trimmed().toLower();
        const QString value = part.mid(eq + 1).trimmed();
        if (key == QLatin1String("host"))
            c.host = value;
        else if (key == QLatin1String("port"))
            c.port = value.toInt();
        else if (key == QLatin1String("dbname"))
            c.database = value;
        else if (key == QLatin1String("user"))
            c.user = value;
        else if (key == QLatin1String("sslmode"))
            c.sslMode = value;
        else if (key == QLatin1String("schema"))
            c.schema = value;
        else if (key == QLatin1String("passfile"))
            c.passwordFile = value;
    }
    return c;
}

#include "LogFiles.h"

#include "AppState.h"
#include "TextCode.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>

QString logTimeStamp(const QDateTime &moment, bool dateOnlyAtMidnight)
{
    const QTime t = moment.time();
    if (dateOnlyAtMidnight && t.hour() == 0 && t.minute() == 0 && t.second() == 0)
        return moment.toString(QStringLiteral("dd.MM.yyyy"));
    return moment.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

bool appendLogLines(const QString &path, const QStringList &lines)
{
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    try {
        QByteArray bytes;
        for (const QString &line : lines) {
            bytes += toCp1251(line);
            bytes += "\r\n";
        }
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        const bool ok = file.write(bytes) == bytes.size() && file.flush();
        file.close();
        return ok;
    } catch (...) {
        return false;
    }
}

void logEvent(const QString &message)
{
    AppState &app = appState();
    if (!app.eventsLogEnabled)
        return;
    const QString line = logTimeStamp(QDateTime::currentDateTime(), true) + QStringLiteral(" >") + message;
    appendLogLines(app.programDir + QStringLiteral("Events.log"), {line});
}

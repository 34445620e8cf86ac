#include "SettingsStartup.h"

#include "core/AppState.h"

#include <QDir>
#include <QFileInfo>

QString computeProgramDir(const QString &programFilePath, const QString &overrideDir)
{
    QString dir;
    if (!overrideDir.isEmpty())
        dir = QDir::fromNativeSeparators(QFileInfo(overrideDir).absoluteFilePath());
    else
        dir = QDir::fromNativeSeparators(QFileInfo(programFilePath).absolutePath());
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    if (dir.size() < 2)
        dir = QStringLiteral("./");
    return dir;
}

StartupWords readStartupWords(const QStringList &arguments)
{
    StartupWords w;
    w.commandLineText = arguments.join(QString()).toUpper();
    w.rs232Log = w.commandLineText.contains(QLatin1String("RS232LOG"));
    w.eventsLog = w.commandLineText.contains(QLatin1String("EVENTSLOG"));
    if (w.eventsLog)
        w.statusNote += QStringLiteral("активировано логгирование событий ");
    if (w.rs232Log)
        w.statusNote += QStringLiteral("  активировано логгирование RS232");
    return w;
}

QString applyStartup(AppState &app, const QString &programFilePath, const QStringList &arguments,
                     const QString &overrideDir)
{
    app.programDir = computeProgramDir(programFilePath, overrideDir);
    const StartupWords w = readStartupWords(arguments.mid(1));
    app.commandLineText = w.commandLineText;
    app.rs232LogEnabled = w.rs232Log;
    app.eventsLogEnabled = w.eventsLog;
    return w.statusNote;
}

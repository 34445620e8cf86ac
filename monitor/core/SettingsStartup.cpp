#include "SettingsStartup.h"

#include "core/AppState.h"

#include <QDir>
#include <QFileInfo>

QString ComputeProgramDir(const QString &programFilePath, const QString &overrideDir)
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

StartupWords ReadStartupWords(const QStringList &arguments)
{
    StartupWords w;
    w.commandLineText = arguments.join(QString()).toUpper();
    w.Rs232Log = w.commandLineText.contains(QLatin1String("RS232LOG"));
    w.EventsLog = w.commandLineText.contains(QLatin1String("EVENTSLOG"));
    if (w.EventsLog)
        w.StatusNote += QStringLiteral("активировано логгирование событий ");
    if (w.Rs232Log)
        w.StatusNote += QStringLiteral("  активировано логгирование RS232");
    return w;
}

QString ApplyStartup(AppState &app, const QString &programFilePath, const QStringList &arguments,
                     const QString &overrideDir)
{
    app.programDir = ComputeProgramDir(programFilePath, overrideDir);
    const StartupWords w = ReadStartupWords(arguments.mid(1));
    app.commandLineText = w.commandLineText;
    app.rs232LogEnabled = w.Rs232Log;
    app.eventsLogEnabled = w.EventsLog;
    return w.StatusNote;
}

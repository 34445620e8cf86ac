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
    w.CommandLineText = arguments.join(QString()).toUpper();
    w.Rs232Log = w.CommandLineText.contains(QLatin1String("RS232LOG"));
    w.EventsLog = w.CommandLineText.contains(QLatin1String("EVENTSLOG"));
    if (w.EventsLog)
        w.StatusNote += QStringLiteral("активировано логгирование событий ");
    if (w.Rs232Log)
        w.StatusNote += QStringLiteral("  активировано логгирование RS232");
    return w;
}

QString ApplyStartup(AppState &app, const QString &programFilePath, const QStringList &arguments,
                     const QString &overrideDir)
{
    app.ProgramDir = ComputeProgramDir(programFilePath, overrideDir);
    const StartupWords w = ReadStartupWords(arguments.mid(1));
    app.CommandLineText = w.CommandLineText;
    app.Rs232LogEnabled = w.Rs232Log;
    app.EventsLogEnabled = w.EventsLog;
    return w.StatusNote;
}

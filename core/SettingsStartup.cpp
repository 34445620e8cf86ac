#include "SettingsStartup.h"

#include "core/AppState.h"
#include "core/Platform.h"
#include "core/SettingsKeys.h"

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

const QString SectionPaths = SettingsKeys::Paths::Section;
const QString KeyDataDir = SettingsKeys::Paths::DataDir;

DataPlace chooseDataPlace(const QString &programFilePath, const QString &environmentDir,
                          const QString &settingsDir)
{
    DataPlace place;
    const QString configured = settingsDir.trimmed();
    if (!environmentDir.isEmpty()) {
        place.dir = computeProgramDir(programFilePath, environmentDir);
        place.reason = DataPlaceReason::Environment;
    } else if (!configured.isEmpty()) {
        const QString absolute = QDir::isAbsolutePath(configured) ? configured : QDir::home().filePath(configured);
        place.dir = computeProgramDir(programFilePath, absolute);
        place.reason = DataPlaceReason::Settings;
    } else {
        place.dir = computeProgramDir(programFilePath);
        place.reason = DataPlaceReason::ProgramDirectory;
        if (!programDirectoryHoldsData(place.dir)) {
            place.dir = userDataDirectory();
            place.reason = DataPlaceReason::UserData;
        }
    }
    return place;
}

QString dataPlaceText(const DataPlace &place)
{
    QString why;
    switch (place.reason) {
    case DataPlaceReason::Environment:
        why = QStringLiteral("задан переменной RUVO_PROGRAM_DIR");
        break;
    case DataPlaceReason::Settings:
        why = QStringLiteral("задан в файле настроек, [%1] %2").arg(SectionPaths, KeyDataDir);
        break;
    case DataPlaceReason::ProgramDirectory:
        why = QStringLiteral("каталог программы");
        break;
    case DataPlaceReason::UserData:
        why = QStringLiteral("каталог программы недоступен для записи");
        break;
    }
    return QStringLiteral("Каталог данных: %1 (%2)").arg(QDir::toNativeSeparators(place.dir), why);
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

#pragma once
// What the program learns at start before any window exists: its program
// directory and the two command-line words that switch the logs on.

#include <QString>
#include <QStringList>

struct AppState;

// Directory of the program file, ending in '/'. A non-empty `overrideDir`
// (the environment variable RUVO_PROGRAM_DIR) takes the place of the program
// file's directory. A result shorter than two characters becomes "./".
QString computeProgramDir(const QString &programFilePath, const QString &overrideDir = QString());

// Where the program keeps its tables (Data/) and logs, and why there.
enum class DataPlaceReason {
    Environment,       // RUVO_PROGRAM_DIR names it
    Settings,          // the settings file names it ([Paths] DataDir)
    ProgramDirectory,  // the program file's directory, which can be written
    UserData,          // the program directory cannot be written (an installed package)
};
struct DataPlace {
    QString dir;  // ends in '/'
    DataPlaceReason reason = DataPlaceReason::ProgramDirectory;
};

// The settings key that names the data directory.
extern const QString SectionPaths;  // "Paths"
extern const QString KeyDataDir;    // "DataDir"

// Chooses the directory in this order: `environmentDir`, `settingsDir`, the
// program file's directory when programDirectoryHoldsData() says so, and
// else the user's data directory (userDataDirectory()). A relative
// `settingsDir` is taken from the user's home directory.
DataPlace chooseDataPlace(const QString &programFilePath, const QString &environmentDir,
                          const QString &settingsDir);
// The line for Events.log: "Каталог данных: <dir> (<why>)".
QString dataPlaceText(const DataPlace &place);

struct StartupWords {
    QString commandLineText;  // the arguments joined without separators, upper-cased
    bool rs232Log = false;    // "RS232LOG" found anywhere in that text
    bool eventsLog = false;   // "EVENTSLOG" found anywhere in that text
    QString statusNote;       // what status panel 1 shows at start
};

// `arguments` are the program's arguments without the program file itself.
StartupWords readStartupWords(const QStringList &arguments);

// Fills programDir, commandLineText and the two log switches of `app` and
// returns the status note. `arguments` include the program file first, as
// QCoreApplication::arguments() gives them; `programFilePath` is the program file.
QString applyStartup(AppState &app, const QString &programFilePath, const QStringList &arguments,
                     const QString &overrideDir);

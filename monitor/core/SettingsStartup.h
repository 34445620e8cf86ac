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

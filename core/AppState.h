#pragma once
// The program-wide store of shared state. One instance for the whole run.
//
// The entry writes programDir, commandLineText and the two log switches once,
// before any thread starts; the switches are atomic, as every thread logs.
// (The cycle's state belongs to the synchronisation engine.)

#include <QString>
#include <atomic>

struct AppState {
    std::atomic<bool> eventsLogEnabled{false};
    std::atomic<bool> rs232LogEnabled{false};

    // Set once at start, before any worker thread exists; read-only afterwards.
    QString programDir;       // directory of the program file, ending in '/'
    QString commandLineText;  // all arguments joined without separators, upper-cased

    // Back to the values of a fresh start (tests run many starts in one process).
    void reset();
};

AppState &appState();

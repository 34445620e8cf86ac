#pragma once
// The program-wide store of shared state. One instance for the whole run.
//
// Owners: the main window and the synchronisation cycle write the sync flags
// (what the polls found out about the reader belongs to the engine); the entry
// writes ProgramDir, CommandLineText and the two log switches once, before any
// thread starts. Every value that the request thread reads or writes is atomic.

#include <QString>
#include <atomic>

enum SyncStateValue : int {
    SyncOffline = 0,
    SyncOnline = 1,
    SyncExchanging = 2,
    SyncSuspended = 3,
};

struct AppState {
    std::atomic<int> SyncState{SyncOffline};
    std::atomic<bool> SyncPaused{false};
    std::atomic<bool> FaceNotReady{true};
    std::atomic<bool> EventsLogEnabled{false};
    std::atomic<bool> Rs232LogEnabled{false};
    std::atomic<bool> INeedSynhroFIO{false};
    std::atomic<int> MaxCardsIndex{0};

    // Set once at start, before any worker thread exists; read-only afterwards.
    QString ProgramDir;       // directory of the program file, ending in '/'
    QString CommandLineText;  // all arguments joined without separators, upper-cased

    // Back to the values of a fresh start (tests run many starts in one process).
    void reset();
};

AppState &App();

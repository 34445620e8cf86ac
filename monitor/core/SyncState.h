#pragma once
// The snapshot of the whole synchronisation cycle that SyncEngine::snapshot()
// returns; the state it shows (SyncState) is the link cycle's
// (link/LinkCycle.h).

#include "link/LinkCycle.h"


// What the synchronisation cycle is doing, as one value: what the window,
// the service flows and the tests read. The engine changes it only through
// its own steps and its commands (SyncEngine.h).
struct SyncSnapshot {
    SyncState state = SyncState::Offline;
    // A foreground operation (ForegroundLinkUse, a worker restart or stop,
    // the clock question) keeps the cycle away from the link.
    bool paused = false;
    // The window is not ready (before its first activation, from its close
    // on): the engine stores nothing and the copy loops end.
    bool faceNotReady = true;
    // Readings were stored since the last name synchronisation (the window
    // keeps it in its stored settings).
    bool namesOutOfStep = false;
    // The reader as the polls found it.
    bool readerNormalMode = false;  // the configuration read was answered
    bool readerBusy = false;        // busy with a dosimeter: online, nothing copied
    int readerModeSwitching = 0;    // 1: it switches between normal and service mode
    bool readerModeRestorePending = false;  // a switch back to mode 0 failed and is retried
    bool clockQuestionAsked = false;        // the clock question was asked in this run
    int tickCount = 0;         // counted ticks; every PollPeriodTicks-th polls
    int threadStartTicks = 0;  // ticks since a worker start was asked for
    int lastRecNumber = 0;     // the copy position (Devices.lastRecNumber of loadedAddress)
    int loadedAddress = 0;     // bus address whose Devices row is mirrored
    int lastStoredIndex = 0;   // Measures.Index of the last row the cycle appended
};

#pragma once
// The full archive read: every slot of the reader's ring, 1 to 2000, into
// Measures, with a question at each record that cannot be taken. One object
// per read, run outside the main thread: in the link thread when the menu
// asks for it (the engine's readFullArchive hands it there), in the poll's
// thread when a catch-up finds no position. The table work and the questions
// run in the main thread through the engine while the read waits. It is a
// part of the engine (a nested class of it), not a user of it.

#include "monitor/core/SyncEngine.h"

#include <QDateTime>

class SyncEngine::FullArchiveRead {
public:
    explicit FullArchiveRead(SyncEngine &engine);
    FullArchiveRead(const FullArchiveRead &) = delete;
    FullArchiveRead &operator=(const FullArchiveRead &) = delete;

    // The whole read: holds the link for its sequence, ends at a close of the
    // window, a suspension or an answer that stops it.
    void run();

private:
    // Takes slot i; false when it could not be taken (emptySlot: the reader
    // had no record there).
    bool readSlot(int i, bool &emptySlot);
    // Moves the position after slot i (see run()).
    void keepPosition(int i, bool stored, bool emptySlot);
    // The question at slot i that could not be taken; true: stop the read.
    bool askToStop(int i);

    SyncEngine &m_engine;
    int m_newestAtStart = 0;  // the reader's RecordCount when the read began
    bool m_storedAny = false;
    bool m_unbroken = true;   // no slot up to here failed other than empty
    int m_reached = 0;
    QDateTime m_reachedTime;
};

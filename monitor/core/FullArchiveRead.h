#pragma once
// The full archive read: every slot of the reader's ring, 1 to 2000, into
// Measures, with a question at each record that cannot be taken. One object
// per read, run outside the main thread: in the link thread when the menu
// asks for it (SyncEngine::readFullArchive hands it there), in the poll's
// thread when a catch-up finds no position. The table work and the questions
// run in the main thread through its host while the read waits. What it needs
// of the engine that runs it is IArchiveReadHost, nothing more.

#include "monitor/core/SyncState.h"
#include "monitor/core/SyncView.h"
#include "records/ReadingStore.h"

#include <QDateTime>
#include <functional>

class ILinkCycle;
class IPrompt;

// What the full archive read needs from the cycle that runs it.
class IArchiveReadHost {
public:
    virtual ~IArchiveReadHost() = default;
    // The cycle whose link the read holds for its whole sequence.
    virtual ILinkCycle &cycle() = 0;
    // The operator's questions; asked in the main thread (onMain).
    virtual IPrompt &prompt() = 0;
    // What the window shows, callable from the read's thread (queued).
    virtual ISyncView &view() = 0;
    // The cycle's state now (any thread).
    virtual SyncSnapshot snapshot() const = 0;
    // The reader's newest record (its RecordCount as the last poll read it).
    virtual int newestRecord() const = 0;
    // The operator has suspended synchronisation.
    virtual bool suspended() const = 0;
    // The thread the read runs in has been told to end.
    virtual bool interrupted() const = 0;
    // Counts the read as a pass under way (the cycle's tick waits for it).
    virtual void setPassUnderWay(bool underWay) = 0;
    // Takes slot `number` into Measures, the progress showing number of
    // total; true when the record is there afterwards. Raises EFormatError
    // for a slot the reader holds nothing in, other errors for a failure.
    virtual bool storeRecord(int number, int total) = 0;
    // The time of the record stored last.
    virtual QDateTime lastStoredTime() const = 0;
    // Runs step in the main thread and waits for it; false (nothing run)
    // once the read is to end.
    virtual bool onMain(const std::function<void()> &step) = 0;
    // The copy position (main thread).
    virtual void setPosition(const ReaderPosition &position) = 0;
};

class FullArchiveRead {
public:
    static constexpr int ArchiveCapacity = 2000;

    explicit FullArchiveRead(IArchiveReadHost &host);
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

    IArchiveReadHost &m_host;
    int m_newestAtStart = 0;  // the reader's RecordCount when the read began
    bool m_storedAny = false;
    bool m_unbroken = true;   // no slot up to here failed other than empty
    int m_reached = 0;
    QDateTime m_reachedTime;
};

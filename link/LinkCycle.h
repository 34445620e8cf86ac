#pragma once
// The cycle that owns the link to the reader, as an operation that talks to
// the reader outside it sees it: a service flow, the spectrum read, the full
// archive read. The synchronisation engine is the one such cycle; the
// program entry and the main window hand it to the flows as an ILinkCycle.
//
// A foreground operation keeps the cycle away from the link for its whole
// sequence (ForegroundLinkUse), may switch a reader that switches modes to
// service mode and hands the switch back to the cycle when it ends, and puts
// the state the cycle shows back as it found it.

#include <QString>

class SerialLink;

// The state the cycle shows on the state indicator (the values are the ones
// the indicator and the logs have always used).
enum class SyncState : int {
    Offline = 0,     // no connection
    Online = 1,      // the reader answers
    Exchanging = 2,  // records are being copied
    Suspended = 3,   // the operator has suspended synchronisation
};

class ILinkCycle {
public:
    virtual ~ILinkCycle() = default;

    // The link to the reader (not owned); nullptr: every command fails at once.
    virtual SerialLink *link() const = 0;
    // Sets or clears the flag that keeps the cycle away from the link;
    // returns what it was (an operation puts it back when it ends). Any thread.
    virtual bool setPaused(bool paused) = 0;
    // The reader switches between its normal and service modes, as the
    // cycle's polls found it. Any thread.
    virtual bool readerSwitchesModes() const = 0;
    // Hands one switch of the reader back to mode 0 to the cycle without
    // waiting for it; the cycle retries it while it fails. Main thread.
    virtual void restoreReaderModeLater() = 0;

    // The state the cycle shows now. Any thread.
    virtual SyncState state() const = 0;
    // Sets the state (shown at the next showState()). Any thread.
    virtual void setState(SyncState state) = 0;
    // Puts the state back after a foreground operation that found `before`:
    // a pass that was under way has ended by then (connected), and the
    // operator's suspension, when it is on, stays. Any thread.
    virtual void restoreState(SyncState before) = 0;
    // The state indicator follows the state now. Main thread.
    virtual void showState() = 0;
    // The status label of the main window (empty clears it). Main thread.
    virtual void showStatusText(const QString &text) = 0;
};

// A foreground operation that talks to the reader outside the cycle (the full
// archive read, the service flows): sets the cycle's paused flag, waits
// waitMs, then also takes the lock of the cycle's link (when there is one),
// so a command of the cycle under way ends before the operation starts its
// own exchange. In the main thread both waits run the window's events (not
// the operator's input). Releases both on destruction (paused goes back to
// what it was before: cleared, unless an enclosing operation holds it).
class ForegroundLinkUse {
public:
    explicit ForegroundLinkUse(ILinkCycle &cycle, int waitMs = 100);
    ~ForegroundLinkUse();
    ForegroundLinkUse(const ForegroundLinkUse &) = delete;
    ForegroundLinkUse &operator=(const ForegroundLinkUse &) = delete;

private:
    ILinkCycle &m_cycle;
    SerialLink *m_link;
    bool m_wasPaused = false;
};

// Waits ms milliseconds in a local event loop that leaves out the operator's
// input (queued calls and timers go on); without an application it sleeps.
void waitProcessingEvents(int ms);

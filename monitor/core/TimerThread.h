#pragma once
// The request thread: counts its own 100 ms ticks and runs the engine's poll
// at every 11th, the engine's follow-up step at the others. Its body is
// Execute. A worker told to terminate skips the hand-offs still to come and
// ends at its next check.

#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <atomic>

class SyncEngine;

class TimerThread : public QThread {
    Q_OBJECT
public:
    explicit TimerThread(SyncEngine *engine);
    ~TimerThread() override;

    // Tells the worker to terminate: it finishes the command under way and
    // ends without running any further hand-off.
    void requestTermination();
    bool terminationRequested() const { return isInterruptionRequested(); }

    // Rounds the worker has polled (tests, benchmark).
    int polls() const { return m_polls.load(); }

protected:
    void run() override;

private:
    void execute();
    // Sleeps ms; false when told to terminate meanwhile (which wakes it).
    bool nap(int ms);

    SyncEngine *m_engine;
    std::atomic<int> m_polls{0};
    QMutex m_napMutex;
    QWaitCondition m_wake;
};

#pragma once
// The request thread: polls the reader from a worker thread and hands every
// piece of window and table work to the engine in the main thread, waiting
// for it. Its body is Execute. A worker told to terminate skips the hand-offs
// still to come and ends at its next check.

#include <QThread>
#include <atomic>
#include <exception>

class SyncEngine;

class TTimerThread : public QThread {
    Q_OBJECT
public:
    explicit TTimerThread(SyncEngine *engine);
    ~TTimerThread() override;

    // Tells the worker to terminate: it finishes the command under way and
    // ends without running any further hand-off.
    void Terminate() { requestInterruption(); }
    bool Terminated() const { return isInterruptionRequested(); }

    // Rounds the worker has polled (tests, benchmark).
    int Polls() const { return m_polls.load(); }

protected:
    void run() override;

private:
    void Execute();
    void Poll();
    // Sleeps ms in short steps; false when told to terminate meanwhile.
    bool Nap(int ms);
    // Runs step in the main thread and waits for it. Errors raised there are
    // raised again here. Returns false (and runs nothing) once terminated.
    template <typename F>
    bool HandOff(F &&step);

    SyncEngine *m_engine;
    std::atomic<int> m_polls{0};
};

#pragma once
// The request thread: counts its own ticks (the engine's CycleTickMs) and
// runs the step it was given at each (the engine's workerTick: its poll at
// every 11th, its follow-up step at the others). Its body is Execute. A
// worker told to terminate skips the hand-offs still to come and ends at its
// next check. It knows nothing of the engine but the step.

#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <atomic>
#include <functional>

class TimerThread : public QThread {
    Q_OBJECT
public:
    // One tick: suspendedTextDue is the worker's own memory between ticks;
    // the step sets polled when it polls. An error of the step is ignored.
    using Step = std::function<void(bool &suspendedTextDue, bool &polled)>;
    TimerThread(int tickMs, Step step);
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

    const int m_tickMs;
    const Step m_step;
    std::atomic<int> m_polls{0};
    QMutex m_napMutex;
    QWaitCondition m_wake;
};

#include "monitor/core/TimerThread.h"

#include <QDeadlineTimer>

TimerThread::TimerThread(int tickMs, Step step) : m_tickMs(tickMs), m_step(std::move(step))
{
    setObjectName(QStringLiteral("TTimerThread"));
}

TimerThread::~TimerThread()
{
    // Deleted only once finished (the engine connects finished to deleteLater).
    if (isRunning()) {
        requestInterruption();
        wait();
    }
}

void TimerThread::run()
{
    execute();
}

void TimerThread::requestTermination()
{
    requestInterruption();
    QMutexLocker lock(&m_napMutex);
    m_wake.wakeAll();
}

bool TimerThread::nap(int ms)
{
    QMutexLocker lock(&m_napMutex);
    if (terminationRequested())
        return false;
    m_wake.wait(&m_napMutex, QDeadlineTimer(ms, Qt::PreciseTimer));
    return !terminationRequested();
}

void TimerThread::execute()
{
    bool suspendedTextDue = true;
    while (!terminationRequested()) {
        if (!nap(m_tickMs))
            break;
        bool polled = false;
        try {
            m_step(suspendedTextDue, polled);
        } catch (...) {
            // The worker never ends because of an error; the steps report
            // their own.
        }
        if (polled)
            ++m_polls;
    }
}

#include "monitor/core/TimerThread.h"

#include "core/Errors.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"
#include "monitor/core/SyncEngine.h"

#include <QDeadlineTimer>

TimerThread::TimerThread(SyncEngine *engine) : m_engine(engine)
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
        if (!nap(SyncEngine::CycleTickMs))
            break;
        if (m_engine->syncPaused)
            continue;
        try {
            if (m_engine->syncState == SyncState::Suspended) {
                if (suspendedTextDue)
                    m_engine->showSuspendedText();  // queued to the window
                suspendedTextDue = false;
                continue;
            }
            suspendedTextDue = true;
            const int tick = ++m_engine->syncTickCounter;
            if (tick % SyncEngine::PollPeriodTicks == 0) {
                ++m_polls;
                m_engine->pollRound(true);
            } else {
                m_engine->followUp(true, false);
            }
        } catch (...) {
            // The worker never ends because of an error; the steps report
            // their own.
        }
    }
}

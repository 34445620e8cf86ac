#include "monitor/core/TimerThread.h"

#include "core/Errors.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"
#include "monitor/core/SyncEngine.h"

#include <QDeadlineTimer>

TTimerThread::TTimerThread(SyncEngine *engine) : m_engine(engine)
{
    setObjectName(QStringLiteral("TTimerThread"));
}

TTimerThread::~TTimerThread()
{
    // Deleted only once finished (the engine connects finished to deleteLater).
    if (isRunning()) {
        requestInterruption();
        wait();
    }
}

void TTimerThread::run()
{
    Execute();
}

void TTimerThread::Terminate()
{
    requestInterruption();
    QMutexLocker lock(&m_napMutex);
    m_wake.wakeAll();
}

bool TTimerThread::Nap(int ms)
{
    QMutexLocker lock(&m_napMutex);
    if (Terminated())
        return false;
    m_wake.wait(&m_napMutex, QDeadlineTimer(ms, Qt::PreciseTimer));
    return !Terminated();
}

void TTimerThread::Execute()
{
    bool suspendedTextDue = true;
    while (!Terminated()) {
        if (!Nap(100))
            break;
        if (m_engine->SyncPaused)
            continue;
        try {
            if (m_engine->SyncState == SyncSuspended) {
                if (suspendedTextDue)
                    m_engine->ShowSuspendedText();  // queued to the window
                suspendedTextDue = false;
                continue;
            }
            suspendedTextDue = true;
            const int tick = ++m_engine->SyncTickCounter;
            if (tick % SyncEngine::PollPeriodTicks == 0) {
                ++m_polls;
                m_engine->PollRound(true);
            } else {
                m_engine->FollowUp(true, false);
            }
        } catch (...) {
            // The worker never ends because of an error; the steps report
            // their own.
        }
    }
}

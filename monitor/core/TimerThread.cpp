#include "monitor/core/TimerThread.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "link/URS232.h"
#include "link/URUVOProtocol.h"
#include "monitor/core/SyncEngine.h"

#include <QMetaObject>

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

bool TTimerThread::Nap(int ms)
{
    for (int slept = 0; slept < ms; slept += 10) {
        if (Terminated())
            return false;
        QThread::msleep(10);
    }
    return !Terminated();
}

template <typename F>
bool TTimerThread::HandOff(F &&step)
{
    if (Terminated())
        return false;
    std::exception_ptr error;
    bool ran = false;
    // The main thread runs the step while this thread waits. A worker told to
    // terminate meanwhile gets its queued step dropped, so a main thread that
    // stops the worker never waits on a hand-off.
    QMetaObject::invokeMethod(
        m_engine,
        [&] {
            if (Terminated())
                return;
            ran = true;
            try {
                step();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error)
        std::rethrow_exception(error);
    return ran;
}

void TTimerThread::Execute()
{
    bool suspendedTextDue = true;
    while (!Terminated()) {
        if (!Nap(100))
            break;
        AppState &app = App();
        if (app.SyncPaused)
            continue;
        try {
            if (app.SyncState == SyncSuspended || app.SyncPaused) {
                if (suspendedTextDue)
                    HandOff([this] { m_engine->ShowSuspendedText(); });
                suspendedTextDue = false;
                continue;
            }
            suspendedTextDue = true;
            const int tick = ++m_engine->SyncTickCounter;
            const bool polled = tick % SyncEngine::PollPeriodTicks == 0;
            if (polled)
                Poll();
            HandOff([this, polled] {
                m_engine->ThreadSyncStep();
                // After a poll the indicator also follows a reader that went
                // offline or busy, not only the end of a catch-up.
                if (polled && !App().SyncPaused)
                    m_engine->View().UpdateStateIndicator();
            });
        } catch (...) {
            // The worker never ends because of an error; the steps report
            // their own.
        }
    }
}

void TTimerThread::Poll()
{
    ++m_polls;
    AppState &app = App();
    try {
        HandOff([this] { m_engine->View().PulseHeartbeat(); });
        if (Terminated())
            return;
        // The shared state is changed only under the link lock and while no
        // foreground operation holds the link: one that has set SyncPaused
        // and taken the lock never sees this round touch the state.
        QRecursiveMutex unlinked;  // without a link there is nothing to share
        TRS232Link *link = m_engine->Link();
        TLinkLockGuard lock(link ? &link->Lock() : &unlinked);
        if (app.SyncPaused || !m_engine->WorkerSetState(SyncOffline))
            return;
        m_engine->ReaderNormalMode = true;
        if (m_engine->ReadConfig()) {
            m_engine->ReaderNormalMode = true;
            lock.unlock();
            HandOff([this] {
                if (!App().SyncPaused)
                    m_engine->CheckReaderClock();
            });
            if (Terminated())
                return;
            lock.relock();
            if (app.SyncPaused)
                return;
            if (app.SyncState == SyncOffline || m_engine->ReaderConfig().RecordCount != m_engine->LastRecNumber.load()) {
                if (!m_engine->WorkerSetState(SyncExchanging))
                    return;
            }
            m_engine->RetryReaderModeRestore();
        } else if (m_engine->Ping()) {
            m_engine->ReaderBusy = true;
            m_engine->ReaderNormalMode = false;
        } else {
            m_engine->WorkerSetState(SyncOffline);
        }
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        HandOff([this, error] { m_engine->ReportError(error); });
    }
}

// The synchronisation engine: construction, the hand-offs to the main thread
// and the link thread, the control timer and its tick, the suspension, the
// request thread's control and what a foreground operation needs of the
// cycle (ILinkCycle). The poll and the error reports are in SyncPolling.cpp,
// the catch-up and the start of the full archive read in SyncCatchUp.cpp (the
// read itself in FullArchiveRead.cpp), the name synchronisation in
// SyncNames.cpp.

#include "monitor/core/SyncEngine.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "link/SerialLink.h"
#include "monitor/core/TimerThread.h"
#include "records/StoredDateTime.h"
#include "records/DataModule.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

const QString TextSuspended = QStringLiteral("Синхронизация приостановлена");

} // namespace

// Calls from outside the main thread are queued to it, so the window gets
// them in the order they were made and nobody waits for a repaint.
class SyncEngine::QueuedView : public ISyncView {
public:
    explicit QueuedView(SyncEngine &engine) : m_engine(engine) {}
    void setStatusText(const QString &text) override
    {
        post([text](ISyncView &v) { v.setStatusText(text); });
    }
    void setProgress(int index, int total) override
    {
        post([index, total](ISyncView &v) { v.setProgress(index, total); });
    }
    // The indicator paints the state of the moment it is asked for: the
    // caller waits for it.
    void updateStateIndicator() override
    {
        m_engine.onMain([this] { m_engine.view().updateStateIndicator(); });
    }
    void pulseHeartbeat() override
    {
        post([](ISyncView &v) { v.pulseHeartbeat(); });
    }

private:
    template <typename F>
    void post(F call)
    {
        SyncEngine *engine = &m_engine;
        if (QThread::currentThread() == engine->thread()) {
            call(engine->view());
            return;
        }
        QMetaObject::invokeMethod(
            engine,
            [engine, call] {
                if (!engine->m_closing)
                    call(engine->view());
            },
            Qt::QueuedConnection);
    }
    SyncEngine &m_engine;
};

SyncEngine::SyncEngine(QObject *parent)
    : QObject(parent), m_nullView(std::make_unique<NullSyncView>()), m_timer(new QTimer(this)),
      m_out(std::make_unique<QueuedView>(*this))
{
    m_lastRecTime = minDateTime();
    m_timer->setInterval(CycleTickMs);
    connect(m_timer, &QTimer::timeout, this, &SyncEngine::timerControlTimer);
}

SyncEngine::~SyncEngine()
{
    if (m_worker) {
        m_worker->requestTermination();
        m_retired.push_back(m_worker);
        m_worker = nullptr;
    }
    for (auto &w : m_retired)
        if (w)
            w->requestTermination();
    m_linkThread.requestInterruption();
    // A worker still inside a command after that is left to end by itself;
    // it runs no hand-off any more.
    waitForWorkers(10000);
    m_closing = true;
    m_linkThread.stop();
}

ISyncView &SyncEngine::out() const
{
    return *m_out;
}

bool SyncEngine::interrupted()
{
    return QThread::currentThread()->isInterruptionRequested();
}

bool SyncEngine::onMain(const std::function<void()> &step)
{
    if (QThread::currentThread() == thread()) {
        step();
        return true;
    }
    QThread *worker = QThread::currentThread();
    if (worker->isInterruptionRequested() || m_closing)
        return false;
    std::exception_ptr error;
    bool ran = false;
    // A worker told to terminate meanwhile gets its step dropped, so a main
    // thread that stops the worker never waits on it.
    QMetaObject::invokeMethod(
        this,
        [&] {
            if (worker->isInterruptionRequested() || m_closing)
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

void SyncEngine::runOnLinkThread(std::function<void()> job, bool wait)
{
    m_linkThread.run(std::move(job), wait);
}

void SyncEngine::setView(ISyncView *view)
{
    m_view = view;
}

ISyncView &SyncEngine::view() const
{
    return m_view ? *m_view : *m_nullView;
}

void SyncEngine::setDatabase(DataModule *dm)
{
    m_dm = dm;
}

DataModule *SyncEngine::database() const
{
    return m_dm ? m_dm : dataModule();
}

void SyncEngine::setLink(SerialLink *link)
{
    m_link = link;
}

// ---------------------------------------------------------------- state

SyncSnapshot SyncEngine::snapshot() const
{
    SyncSnapshot s;
    s.state = m_state;
    s.paused = m_paused;
    s.faceNotReady = m_faceNotReady;
    s.namesOutOfStep = m_namesOutOfStep;
    s.readerNormalMode = m_readerNormalMode;
    s.readerBusy = m_readerBusy;
    s.readerModeSwitching = m_readerModeSwitching;
    s.readerModeRestorePending = m_modeRestorePending;
    s.clockQuestionAsked = m_clockQuestionAsked;
    s.tickCount = m_tickCount;
    s.threadStartTicks = m_threadStartTicks;
    s.lastRecNumber = m_lastRecNumber;
    s.loadedAddress = m_loadedAddress;
    s.lastStoredIndex = m_lastStoredIndex;
    return s;
}

ReaderPosition SyncEngine::position() const
{
    return {m_lastRecNumber.load(), m_lastRecTime};
}

void SyncEngine::setPosition(const ReaderPosition &position)
{
    m_lastRecNumber = position.recNumber;
    m_lastRecTime = position.time;
}

bool SyncEngine::setPaused(bool paused)
{
    return m_paused.exchange(paused);
}

IPrompt &SyncEngine::prompt() const
{
    return m_prompt ? *m_prompt : unattendedPrompt();
}

void SyncEngine::setState(SyncState state)
{
    m_state = state;
}

void SyncEngine::restoreState(SyncState before)
{
    // The operator's suspension as it is now, otherwise the state the
    // operation found (a pass that was under way has ended by now: connected).
    SyncState state = before == SyncState::Exchanging ? SyncState::Online : before;
    if (stopSynchroChecked())
        state = SyncState::Suspended;
    setState(state);
}

void SyncEngine::showState()
{
    view().updateStateIndicator();
}

void SyncEngine::showStatusText(const QString &text)
{
    view().setStatusText(text);
}

void SyncEngine::setFaceNotReady(bool notReady)
{
    m_faceNotReady = notReady;
}

void SyncEngine::setNamesOutOfStep(bool outOfStep)
{
    m_namesOutOfStep = outOfStep;
}

void SyncEngine::setLastStoredIndex(int index)
{
    m_lastStoredIndex = index;
}

void SyncEngine::setReaderFindings(bool normalMode, bool busy, bool modeSwitching)
{
    m_readerNormalMode = normalMode;
    m_readerBusy = busy;
    m_readerModeSwitching = modeSwitching ? 1 : 0;
}

void SyncEngine::setTickCount(int ticks)
{
    m_tickCount = ticks;
}

void SyncEngine::setThreadStartTicks(int ticks)
{
    m_threadStartTicks = ticks;
}

void SyncEngine::setReaderModeRestorePending(bool pending)
{
    m_modeRestorePending = pending;
}

// ---------------------------------------------------------------- timer

QTimer *SyncEngine::timerControl() const
{
    return m_timer;
}

void SyncEngine::startControlTimer()
{
    m_timerStarted = true;
    m_timer->start();
}

void SyncEngine::waitProcessing(int ms)
{
    waitProcessingEvents(ms);
}

void SyncEngine::timerControlTimer()
{
    // A poll or a pass under way holds the count: the ticks meanwhile are
    // not counted at all, except while the clock question is open, when they
    // go on and show the suspension.
    if ((pollUnderWay() && !m_clockQuestionOpen) || m_passDepth > 0)
        return;
    ++m_threadStartTicks;
    if (useThread()) {
        if (m_threadStartTicks == ThreadStartTick)
            restartWorker();
        return;
    }
    // The timer never polls while a worker thread still runs (also one told
    // to terminate that has not ended its round yet).
    if (workerAlive())
        return;
    if (m_paused)
        return;
    if (m_state == SyncState::Suspended) {
        view().setStatusText(TextSuspended);
        view().updateStateIndicator();
        return;
    }
    const int tick = ++m_tickCount;
    if (tick % PollPeriodTicks == 0)
        runOnLinkThread([this] { pollRound(false); }, false);
}

// ---------------------------------------------------------------- suspension

void SyncEngine::setStopSynchro(bool checked)
{
    bool changed = false;
    {
        QMutexLocker lock(&m_stateMutex);
        changed = m_stopSynchro != checked;
        m_stopSynchro = checked;
        m_state = checked ? SyncState::Suspended : SyncState::Offline;
    }
    view().updateStateIndicator();
    if (changed)
        emit stopSynchroChanged(checked);
}

bool SyncEngine::stopSynchroChecked() const
{
    return m_stopSynchro;
}

bool SyncEngine::workerSetState(SyncState state)
{
    QMutexLocker lock(&m_stateMutex);
    if (m_stopSynchro)
        return false;
    m_state = state;
    return true;
}

// ---------------------------------------------------------------- request thread

void SyncEngine::setUseThread(bool on)
{
    m_useThread = on;
}

bool SyncEngine::useThread() const
{
    return m_useThread;
}

void SyncEngine::requestThreadStart()
{
    m_threadStartTicks = 0;
}

void SyncEngine::workerTick(bool &suspendedTextDue, bool &polled)
{
    if (m_paused)
        return;
    if (m_state == SyncState::Suspended) {
        if (suspendedTextDue)
            showSuspendedText();  // queued to the window
        suspendedTextDue = false;
        return;
    }
    suspendedTextDue = true;
    const int tick = ++m_tickCount;
    if (tick % PollPeriodTicks == 0) {
        polled = true;
        pollRound(true);
    } else {
        followUp(true, false);
    }
}

bool SyncEngine::threadRunning() const
{
    return m_worker && !m_worker->terminationRequested() && m_worker->isRunning();
}

bool SyncEngine::workerAlive() const
{
    if (m_worker && m_worker->isRunning())
        return true;
    for (const auto &w : m_retired)
        if (w && w->isRunning())
            return true;
    return false;
}

void SyncEngine::restartWorker()
{
    if (m_worker) {
        m_paused = true;
        try {
            waitProcessing(2000);
            m_worker->requestTermination();
            m_retired.push_back(m_worker);
            m_worker = nullptr;
        } catch (...) {
        }
        m_paused = false;
    }
    auto *worker = new TimerThread(CycleTickMs, [this](bool &suspendedTextDue, bool &polled) { workerTick(suspendedTextDue, polled); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    worker->start();
}

void SyncEngine::stopThread(int waitMs)
{
    if (!m_worker)
        return;
    m_paused = true;
    try {
        waitProcessing(waitMs);
        m_worker->requestTermination();
        m_retired.push_back(m_worker);
        m_worker = nullptr;
    } catch (...) {
    }
    m_paused = false;
}

void SyncEngine::shutDown()
{
    // A pass under way (the close came while it processed window events)
    // stores nothing more once the window is not ready; its final step runs now,
    // while the tables are still open: the position of the last stored
    // record goes into Devices.
    const bool passUnderWay = m_passDepth > 0 && !m_shutDown;
    m_shutDown = true;
    m_timer->stop();
    if (m_worker) {
        m_worker->requestTermination();
        m_retired.push_back(m_worker);
        m_worker = nullptr;
        waitForWorkers(200);
    }
    if (passUnderWay) {
        try {
            writeDevicePosition();
        } catch (...) {
            reportError(std::current_exception());
        }
    }
}

bool SyncEngine::waitForWorkers(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        m_retired.erase(std::remove_if(m_retired.begin(), m_retired.end(),
                                       [](const QPointer<TimerThread> &w) { return !w || w->isFinished(); }),
                        m_retired.end());
        const bool alive = workerAlive() || pollUnderWay();
        if (!alive || deadline.hasExpired())
            return !alive;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(2);
    }
}

void SyncEngine::showSuspendedText()
{
    out().setStatusText(TextSuspended);
    out().updateStateIndicator();
}

// ---------------------------------------------------------------- foreground use

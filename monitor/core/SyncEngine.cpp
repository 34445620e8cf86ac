#include "monitor/core/SyncEngine.h"

#include "core/Errors.h"
#include "core/LogFiles.h"
#include "core/Platform.h"
#include "core/Prompt.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"
#include "monitor/core/TimerThread.h"
#include "records/NameSync.h"
#include "records/ReadingStore.h"
#include "records/StoredDateTime.h"
#include "records/DataModule.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace {

const QString TextSuspended = QStringLiteral("Синхронизация приостановлена");
const QString TextRangeError = QStringLiteral("Ошибка диапазона архива");
const QString TextReadError = QStringLiteral("Ошибка чтения и обработки");
const QString TextDatabaseError = QStringLiteral("Ошибка работы с базой данных");

// Runs a callable when the scope ends, also when it is left by an error.
template <typename F>
class AtScopeEnd {
public:
    explicit AtScopeEnd(F f) : m_f(std::move(f)) {}
    ~AtScopeEnd() { m_f(); }
    AtScopeEnd(const AtScopeEnd &) = delete;
    AtScopeEnd &operator=(const AtScopeEnd &) = delete;

private:
    F m_f;
};

} // namespace

// Calls from outside the main thread are queued to it, so the window gets
// them in the order they were made and nobody waits for a repaint.
class SyncEngine::QueuedView : public ISyncView {
public:
    explicit QueuedView(SyncEngine &engine) : m_engine(engine) {}
    void SetStatusText(const QString &text) override
    {
        post([text](ISyncView &v) { v.SetStatusText(text); });
    }
    void SetProgress(int index, int total) override
    {
        post([index, total](ISyncView &v) { v.SetProgress(index, total); });
    }
    // The indicator paints the state of the moment it is asked for: the
    // caller waits for it.
    void UpdateStateIndicator() override
    {
        m_engine.OnMain([this] { m_engine.View().UpdateStateIndicator(); });
    }
    void PulseHeartbeat() override
    {
        post([](ISyncView &v) { v.PulseHeartbeat(); });
    }

private:
    template <typename F>
    void post(F call)
    {
        SyncEngine *engine = &m_engine;
        if (QThread::currentThread() == engine->thread()) {
            call(engine->View());
            return;
        }
        QMetaObject::invokeMethod(
            engine,
            [engine, call] {
                if (!engine->m_closing)
                    call(engine->View());
            },
            Qt::QueuedConnection);
    }
    SyncEngine &m_engine;
};

SyncEngine::SyncEngine(QObject *parent)
    : QObject(parent), m_nullView(std::make_unique<NullSyncView>()), m_timer(new QTimer(this)),
      m_out(std::make_unique<QueuedView>(*this))
{
    LastRecTime = minDateTime();
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &SyncEngine::TimerControlTimer);
}

SyncEngine::~SyncEngine()
{
    if (m_worker) {
        m_worker->Terminate();
        m_retired.push_back(m_worker);
        m_worker = nullptr;
    }
    for (auto &w : m_retired)
        if (w)
            w->Terminate();
    if (m_linkThread)
        m_linkThread->requestInterruption();
    // A worker still inside a command after that is left to end by itself;
    // it runs no hand-off any more.
    WaitForWorkers(10000);
    m_closing = true;
    if (m_linkThread) {
        m_linkThread->quit();
        QDeadlineTimer deadline(10000);
        while (!m_linkThread->wait(QDeadlineTimer(5)) && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        m_linkThread->wait();
        delete m_linkContext;
        delete m_linkThread;
    }
}

ISyncView &SyncEngine::Out() const
{
    return *m_out;
}

bool SyncEngine::Interrupted()
{
    return QThread::currentThread()->isInterruptionRequested();
}

bool SyncEngine::OnMain(const std::function<void()> &step)
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

void SyncEngine::RunOnLinkThread(std::function<void()> job, bool wait)
{
    if (!m_linkThread) {
        m_linkThread = new QThread;
        m_linkThread->setObjectName(QStringLiteral("LinkThread"));
        m_linkContext = new QObject;
        m_linkContext->moveToThread(m_linkThread);
        m_linkThread->start();
    }
    ++m_linkJobs;
    if (!wait) {
        QMetaObject::invokeMethod(
            m_linkContext,
            [this, job = std::move(job)] {
                try {
                    job();
                } catch (...) {
                }
                --m_linkJobs;
            },
            Qt::QueuedConnection);
        return;
    }
    QEventLoop loop;
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        m_linkContext,
        [this, &job, &loop, &error] {
            try {
                job();
            } catch (...) {
                error = std::current_exception();
            }
            --m_linkJobs;
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    loop.exec();
    if (error)
        std::rethrow_exception(error);
}

void SyncEngine::SetView(ISyncView *view)
{
    m_view = view;
}

ISyncView &SyncEngine::View() const
{
    return m_view ? *m_view : *m_nullView;
}

void SyncEngine::SetDatabase(DataModule *dm)
{
    m_dm = dm;
}

DataModule *SyncEngine::database() const
{
    return m_dm ? m_dm : dataModule();
}

static DataModule &RequireDatabase(const SyncEngine &engine)
{
    DataModule *dm = engine.database();
    if (!dm)
        throw EGeneralError(QStringLiteral("DM: база данных не открыта"));
    return *dm;
}

// ---------------------------------------------------------------- timer

QTimer *SyncEngine::TimerControl() const
{
    return m_timer;
}

void SyncEngine::StartControlTimer()
{
    m_timerStarted = true;
    m_timer->start();
}

void SyncEngine::WaitProcessing(int ms)
{
    if (ms <= 0)
        return;
    if (!QCoreApplication::instance()) {
        QThread::msleep(static_cast<unsigned long>(ms));
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void SyncEngine::TimerControlTimer()
{
    // A poll or a pass under way holds the count: the ticks meanwhile are
    // not counted at all, except while the clock question is open, when they
    // go on and show the suspension.
    if ((PollUnderWay() && !m_clockQuestionOpen) || m_passDepth > 0)
        return;
    ++ThreadStartTicks;
    if (UseThread()) {
        if (ThreadStartTicks == ThreadStartTick)
            RestartWorker();
        return;
    }
    // The timer never polls while a worker thread still runs (also one told
    // to terminate that has not ended its round yet).
    if (WorkerAlive())
        return;
    if (SyncPaused)
        return;
    if (SyncState == SyncSuspended) {
        View().SetStatusText(TextSuspended);
        View().UpdateStateIndicator();
        return;
    }
    const int tick = ++SyncTickCounter;
    if (tick % PollPeriodTicks == 0)
        RunOnLinkThread([this] { PollRound(false); }, false);
}

// ---------------------------------------------------------------- the poll

void SyncEngine::ReportError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EProtocolCancel &) {
        ReportRangeError();
    } catch (const EGeneralError &e) {
        if (e.message() == SerialLink::connectFailureText())
            ReportPortError();
        else
            ReportReadError();
    } catch (const std::system_error &e) {
        ReportReadError(QString::fromLocal8Bit(e.code().message().c_str()));
    } catch (...) {
        // The program's own errors (a table operation, a record in the wrong
        // format) carry no system text.
        ReportReadError();
    }
}

void SyncEngine::SetLink(SerialLink *link)
{
    m_link = link;
}

ReaderConfigData SyncEngine::ReaderConfig() const
{
    QMutexLocker lock(&m_readerMutex);
    return m_readerConfig;
}

void SyncEngine::NoteResponder(const std::optional<quint32> &address)
{
    if (address)
        m_responder = *address & 0xFFFFFF;
}

bool SyncEngine::ReadConfig()
{
    ReaderBusy = false;
    const CommandResult<ReaderConfigData> result = readReaderConfig(m_link);
    NoteResponder(result.responder);
    if (result.failure == CommandFailure::ReaderBusy)
        ReaderBusy = true;
    if (!result)
        return false;
    ReaderModeSwitching = result.value.modeSwitching() ? 1 : 0;
    SetReaderConfig(result.value);
    return true;
}

void SyncEngine::SetReaderConfig(const ReaderConfigData &rec)
{
    QMutexLocker lock(&m_readerMutex);
    m_readerConfig = rec;
}

bool SyncEngine::Ping()
{
    const CommandResult<NoValue> result = pingReader(m_link);
    NoteResponder(result.responder);
    return result.ok();
}

QString SyncEngine::PortFailureText() const
{
    const SerialLink *link = m_link;
    if (!link)
        return QStringLiteral("Не удалось открыть порт");
    // The link's own account names the port and the reason.
    const QString reason = link->lastOpenError();
    if (!reason.isEmpty())
        return reason;
    return QStringLiteral("Не удалось открыть порт %1").arg(link->portName());
}

void SyncEngine::ReportPortError()
{
    const QString text = PortFailureText();
    View().SetStatusText(text);
    logEvent(text);
}

void SyncEngine::ReportRangeError()
{
    const int count = ReaderConfig().recordCount;
    if (std::abs(count - LastRecNumber.load()) > 1) {
        View().SetStatusText(TextRangeError);
        logEvent(TextRangeError);
    }
}

void SyncEngine::ReportReadError(const QString &systemText)
{
    View().SetStatusText(TextReadError);
    logEvent(TextReadError + systemText);
}

void SyncEngine::PollReader()
{
    if (QThread::currentThread() == thread())
        RunOnLinkThread([this] { PollRound(false); }, true);
    else
        PollRound(false);
}

void SyncEngine::PollRound(bool threadMode)
{
    PollExchange(threadMode);
    FollowUp(threadMode, true);
}

void SyncEngine::PollExchange(bool threadMode)
{
    try {
        // Only the request thread shows its heartbeat.
        if (threadMode)
            Out().PulseHeartbeat();
        if (Interrupted())
            return;
        // The shared state is changed only under the link lock and while no
        // foreground operation holds the link: one that has set SyncPaused
        // and taken the lock never sees this round touch the state.
        QRecursiveMutex unlinked;  // without a link there is nothing to share
        LinkLockGuard lock(m_link ? &m_link->lock() : &unlinked);
        if (SyncPaused || !WorkerSetState(SyncOffline))
            return;
        ReaderNormalMode = true;
        if (ReadConfig()) {
            ReaderNormalMode = true;
            lock.unlock();
            if (!SyncPaused)
                CheckReaderClock();
            if (Interrupted())
                return;
            lock.relock();
            if (SyncPaused)
                return;
            if (SyncState == SyncOffline || ReaderConfig().recordCount != LastRecNumber.load()) {
                if (!WorkerSetState(SyncExchanging))
                    return;
            }
            RetryReaderModeRestore();
        } else if (Ping()) {
            ReaderBusy = true;
            ReaderNormalMode = false;
        } else {
            WorkerSetState(SyncOffline);
        }
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        OnMain([this, error] { ReportError(error); });
    }
}

void SyncEngine::FollowUp(bool threadMode, bool polled)
{
    // A foreground operation holds the link: its own work comes first. A
    // suspension checked while the poll ran stays in force.
    if (!SyncPaused && !StopSynchroChecked() && !Interrupted()) {
        try {
            if (static_cast<int>(ResponderAddress()) != LoadedAddress.load())
                OnMain([this, threadMode] { LoadDeviceRow(threadMode); });
            if (ReaderBusy)
                SyncState = SyncOnline;
            // The timer's poll shows what it found before it copies.
            if (!threadMode)
                Out().UpdateStateIndicator();
            if (SyncState == SyncExchanging)
                CatchUp();
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            OnMain([this, error] { ReportError(error); });
        }
    }
    // After a poll the request thread's indicator also follows a reader that
    // went offline or busy, not only the end of a catch-up.
    if (threadMode && polled && !SyncPaused)
        Out().UpdateStateIndicator();
}

void SyncEngine::LoadDeviceRow(bool fromThread)
{
    if (m_shutDown)
        return;
    try {
        ReadingStore store(RequireDatabase(*this));
        const int address = static_cast<int>(ResponderAddress());
        bool created = false;
        const ReaderPosition position = store.loadReaderPosition(address, &created);
        if (created && fromThread)
            INeedSynhroFIO = true;
        LastRecNumber = position.recNumber;
        LastRecTime = position.time;
        LoadedAddress = address;
    } catch (...) {
        View().SetStatusText(TextDatabaseError);
        if (SyncState == SyncExchanging)
            SyncState = SyncOnline;
    }
}

void SyncEngine::WriteDevicePosition()
{
    // The position always goes into the row of the address it belongs to,
    // the readings up to it on the disk first.
    ReadingStore(RequireDatabase(*this)).saveReaderPosition(LoadedAddress.load(), {LastRecNumber.load(), LastRecTime});
}

void SyncEngine::CatchUp()
{
    PassUnderWay pass(*this);
    Out().SetStatusText(QStringLiteral("Конфигурация считана"));

    std::exception_ptr error;
    try {
        const int count = ReaderConfig().recordCount;
        if (LastRecNumber.load() == count) {
            SyncState = SyncOnline;
        } else {
            // Is the remembered record still the same reading?
            if (LastRecNumber.load() != 0) {
                const CommandResult<ArchiveRecordData> remembered = readArchiveRecord(m_link, LastRecNumber.load());
                NoteResponder(remembered.responder);
                bool same = remembered.ok();
                if (same) {
                    const QDateTime time = remembered.value.time;
                    same = time.isValid() && LastRecTime.isValid()
                        && std::llabs(time.msecsTo(LastRecTime)) <= RecordTimeToleranceMs;
                }
                if (!same)
                    LastRecNumber = 0;
            }
            const int d = LastRecNumber.load();
            if (d != 0) {
                Out().SetStatusText(QStringLiteral("Чтение последних данных архива"));
                // A close of the window ends the pass at once.
                if (count > d) {
                    for (int i = d + 1; i <= count && !FaceNotReady && !Interrupted(); ++i)
                        StoreArchiveRecord(i, i - d, count - d);
                } else {
                    // The reader's numbers have wrapped round the ring.
                    for (int i = d + 1; i <= ArchiveCapacity && !FaceNotReady && !Interrupted(); ++i)
                        StoreArchiveRecord(i, i - d, ArchiveCapacity - d);
                    for (int j = 1; j <= count && !FaceNotReady && !Interrupted(); ++j)
                        StoreArchiveRecord(j, j, count);
                }
            } else {
                ReadFullArchive();
            }
            if (SyncState == SyncExchanging && !m_shutDown) {
                SyncState = SyncOnline;
                Out().SetStatusText(QStringLiteral("Синхронизация завершена"));
                Out().SetProgress(0, 0);
            }
        }
    } catch (...) {
        error = std::current_exception();
    }
    // Whatever stopped the pass, the position reached is saved; a close of
    // the window in mid-pass has saved it already, before the tables closed.
    Out().UpdateStateIndicator();
    OnMain([this] {
        if (!m_shutDown)
            WriteDevicePosition();
    });
    if (error)
        std::rethrow_exception(error);
}

bool SyncEngine::StoreArchiveRecord(int number, int progressIndex, int progressTotal)
{
    if (FaceNotReady || SyncState == SyncOffline || SyncState == SyncSuspended || Interrupted())
        return false;
    bool kept = false;
    const CommandResult<ArchiveRecordData> read = readArchiveRecord(m_link, number);
    NoteResponder(read.responder);
    if (!read) {
        // The remaining records of this pass are skipped.
        SyncState = SyncOffline;
        return false;
    }
    const ArchiveRecordData &record = read.value;
    if (!record.time.isValid())
        throw EFormatError(QStringLiteral("Ошибка в формате данных архивной записи ") + QString::number(number));
    // The tables belong to the main thread; the window goes on meanwhile and
    // may be closed before the record gets there.
    OnMain([&] {
        if (FaceNotReady || m_shutDown)
            return;
        ReadingStore store(RequireDatabase(*this));
        const int address = static_cast<int>(ResponderAddress());
        QElapsedTimer dbClock;
        dbClock.start();
        // The duplicate check looks at the whole table, whatever filter the
        // grid has on.
        const bool stored = store.readingStored(record.time, address, number);
        m_storeLookupNs += dbClock.nsecsElapsed();
        if (!stored) {
            LastReadedIndex = store.storeReading(
                {record.time, address, number, static_cast<int>(record.id), record.name, record.dose});
            INeedSynhroFIO = true;
        }
        m_storeDbNs += dbClock.nsecsElapsed();
        ++m_storeCalls;
        LastRecNumber = number;
        LastRecTime = record.time;
        kept = true;
        View().SetStatusText(QStringLiteral("Чтение записи %1 из %2").arg(progressIndex).arg(progressTotal));
        View().SetProgress(progressIndex, progressTotal);
    });
    return kept;
}

void SyncEngine::CheckReaderClock()
{
    if (ClockQuestionAsked)
        return;
    const QDateTime readerClock = ReaderConfig().clock;
    const qint64 seconds = std::llabs(QDateTime::currentDateTime().msecsTo(readerClock)) / 1000;
    if (seconds <= ClockToleranceSeconds)
        return;
    ClockQuestionAsked = true;
    SyncPaused = false;
    SyncState = SyncSuspended;
    AtScopeEnd unpause([this] { SyncPaused = false; });
    if (QThread::currentThread() != thread())
        QThread::msleep(100);
    // The window shows the suspension while the question is open (the ticks
    // that would show it wait behind the question in timer mode). Unattended,
    // the reader's clock is left alone.
    PromptButton answer = PromptButton::Cancel;
    OnMain([this, &answer] {
        m_clockQuestionOpen = true;
        AtScopeEnd closed([this] { m_clockQuestionOpen = false; });
        ShowSuspendedText();
        answer = activePrompt().ask(
            MsgKind::Information,
            QStringLiteral("Время в ТРЕМ не соответствует времени на компьютере\r\rСинхронизировать время ТРЕМ по компьютерному времени?"),
            PromptButton::Ok | PromptButton::Cancel, PromptButton::Cancel);
    });
    if (answer != PromptButton::Ok)
        return;
    ReaderConfigData rec = ReaderConfig();
    rec.clock = QDateTime::currentDateTime();
    SetReaderConfig(rec);
    if (QThread::currentThread() != thread())
        QThread::msleep(100);
    bool written = false;
    try {
        // A missing link object is a failed write as well.
        written = writeReaderConfig(m_link, rec).ok();
    } catch (...) {
        written = false;
    }
    if (!written)
        OnMain([] {
            activePrompt().message(MsgKind::Error,
                             QStringLiteral("Не удалось синхронизировать время в ТРЕМ\r(Ошибка прибора или специальный режим работы прибора)"),
                             PromptButton::Ok | PromptButton::Cancel);
        });
}

// ---------------------------------------------------------------- suspension

void SyncEngine::SetStopSynchro(bool checked)
{
    bool changed = false;
    {
        QMutexLocker lock(&m_stateMutex);
        changed = m_stopSynchro != checked;
        m_stopSynchro = checked;
        SyncState = checked ? SyncSuspended : SyncOffline;
    }
    View().UpdateStateIndicator();
    if (changed)
        emit StopSynchroChanged(checked);
}

bool SyncEngine::StopSynchroChecked() const
{
    return m_stopSynchro;
}

bool SyncEngine::WorkerSetState(int state)
{
    QMutexLocker lock(&m_stateMutex);
    if (m_stopSynchro)
        return false;
    SyncState = state;
    return true;
}

// ---------------------------------------------------------------- request thread

void SyncEngine::SetUseThread(bool on)
{
    m_useThread = on;
}

bool SyncEngine::UseThread() const
{
    return m_useThread;
}

void SyncEngine::RequestThreadStart()
{
    ThreadStartTicks = 0;
}

bool SyncEngine::ThreadRunning() const
{
    return m_worker && !m_worker->Terminated() && m_worker->isRunning();
}

bool SyncEngine::WorkerAlive() const
{
    if (m_worker && m_worker->isRunning())
        return true;
    for (const auto &w : m_retired)
        if (w && w->isRunning())
            return true;
    return false;
}

void SyncEngine::RestartWorker()
{
    if (m_worker) {
        SyncPaused = true;
        try {
            WaitProcessing(2000);
            m_worker->Terminate();
            m_retired.push_back(m_worker);
            m_worker = nullptr;
        } catch (...) {
        }
        SyncPaused = false;
    }
    auto *worker = new TTimerThread(this);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    worker->start();
}

void SyncEngine::StopThread(int waitMs)
{
    if (!m_worker)
        return;
    SyncPaused = true;
    try {
        WaitProcessing(waitMs);
        m_worker->Terminate();
        m_retired.push_back(m_worker);
        m_worker = nullptr;
    } catch (...) {
    }
    SyncPaused = false;
}

void SyncEngine::ShutDown()
{
    // A pass under way (the close came while it processed window events)
    // stores nothing more once FaceNotReady is set; its final step runs now,
    // while the tables are still open: the position of the last stored
    // record goes into Devices.
    const bool passUnderWay = m_passDepth > 0 && !m_shutDown;
    m_shutDown = true;
    m_timer->stop();
    if (m_worker) {
        m_worker->Terminate();
        m_retired.push_back(m_worker);
        m_worker = nullptr;
        WaitForWorkers(200);
    }
    if (passUnderWay) {
        try {
            WriteDevicePosition();
        } catch (...) {
            ReportError(std::current_exception());
        }
    }
}

bool SyncEngine::WaitForWorkers(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        m_retired.erase(std::remove_if(m_retired.begin(), m_retired.end(),
                                       [](const QPointer<TTimerThread> &w) { return !w || w->isFinished(); }),
                        m_retired.end());
        const bool alive = WorkerAlive() || PollUnderWay();
        if (!alive || deadline.hasExpired())
            return !alive;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(2);
    }
}

void SyncEngine::ShowSuspendedText()
{
    Out().SetStatusText(TextSuspended);
    Out().UpdateStateIndicator();
}

void SyncEngine::RetryReaderModeRestore()
{
    if (!ReaderModeRestorePending || ReaderModeSwitching <= 0)
        return;
    try {
        if (setReaderMode(m_link, 0))
            ReaderModeRestorePending = false;
    } catch (...) {
    }
}

// ---------------------------------------------------------------- foreground use

ForegroundLinkUse::ForegroundLinkUse(SyncEngine &engine, int waitMs)
    : m_engine(engine), m_link(engine.Link()), m_wasPaused(engine.SyncPaused.exchange(true))
{
    // In the main thread the window's events go on while it waits.
    const bool mainThread = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    if (mainThread)
        SyncEngine::WaitProcessing(waitMs);
    else if (waitMs > 0)
        QThread::msleep(static_cast<unsigned long>(waitMs));
    // A worker command under way ends before this operation uses the link.
    if (m_link) {
        if (mainThread) {
            while (!m_link->lock().tryLock(5))
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        } else {
            m_link->lock().lock();
        }
    }
}

ForegroundLinkUse::~ForegroundLinkUse()
{
    if (m_link)
        m_link->lock().unlock();
    m_engine.SyncPaused = m_wasPaused;
}

// ---------------------------------------------------------------- names

void SyncEngine::SyncNamesFromJournal()
{
    DataModule *dm = database();
    if (!dm || !NameSync(*dm).run())
        activePrompt().message(MsgKind::Error,
                         QStringLiteral("В процессе синхронизации возникла ошибка, возможно необходимо произвести чистку таблиц"),
                         PromptButton::Ok);
    INeedSynhroFIO = false;
    emit NamesSynchronised();
}

void SyncEngine::AskNameSync(bool extNotesDown)
{
    if (!INeedSynhroFIO || !extNotesDown)
        return;
    // Unattended, the names wait for an operator: nothing is rewritten unseen
    // and the flag stays set.
    const PromptButton answer = activePrompt().ask(MsgKind::Warning,
                                    QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"),
                                    PromptButton::Ok | PromptButton::Cancel, PromptButton::Cancel);
    if (answer == PromptButton::Ok)
        SyncNamesFromJournal();
}

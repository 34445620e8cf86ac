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
#include "records/StoreError.h"
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
    lastRecTime = minDateTime();
    m_timer->setInterval(100);
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

static DataModule &requireDatabase(const SyncEngine &engine)
{
    DataModule *dm = engine.database();
    if (!dm)
        throw EGeneralError(QStringLiteral("DM: база данных не открыта"));
    return *dm;
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

void SyncEngine::timerControlTimer()
{
    // A poll or a pass under way holds the count: the ticks meanwhile are
    // not counted at all, except while the clock question is open, when they
    // go on and show the suspension.
    if ((pollUnderWay() && !m_clockQuestionOpen) || m_passDepth > 0)
        return;
    ++threadStartTicks;
    if (useThread()) {
        if (threadStartTicks == ThreadStartTick)
            restartWorker();
        return;
    }
    // The timer never polls while a worker thread still runs (also one told
    // to terminate that has not ended its round yet).
    if (workerAlive())
        return;
    if (syncPaused)
        return;
    if (syncState == SyncState::Suspended) {
        view().setStatusText(TextSuspended);
        view().updateStateIndicator();
        return;
    }
    const int tick = ++syncTickCounter;
    if (tick % PollPeriodTicks == 0)
        runOnLinkThread([this] { pollRound(false); }, false);
}

// ---------------------------------------------------------------- the poll

void SyncEngine::reportError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EProtocolCancel &) {
        reportRangeError();
    } catch (const EStoreError &e) {
        reportStoreError(e.cause(), e.message());
    } catch (const EGeneralError &e) {
        if (e.message() == SerialLink::connectFailureText())
            reportPortError();
        else
            reportReadError();
    } catch (const std::system_error &e) {
        reportReadError(QString::fromLocal8Bit(e.code().message().c_str()));
    } catch (...) {
        // The program's own errors (a table operation, a record in the wrong
        // format) carry no system text.
        reportReadError();
    }
}

void SyncEngine::setLink(SerialLink *link)
{
    m_link = link;
}

ReaderConfigData SyncEngine::readerConfig() const
{
    QMutexLocker lock(&m_readerMutex);
    return m_readerConfig;
}

void SyncEngine::noteResponder(const std::optional<quint32> &address)
{
    if (address)
        m_responder = *address & 0xFFFFFF;
}

bool SyncEngine::readConfig()
{
    readerBusy = false;
    const CommandResult<ReaderConfigData> result = readReaderConfig(m_link);
    noteResponder(result.responder);
    if (result.failure == CommandFailure::readerBusy)
        readerBusy = true;
    if (!result)
        return false;
    readerModeSwitching = result.value.modeSwitching() ? 1 : 0;
    setReaderConfig(result.value);
    return true;
}

void SyncEngine::setReaderConfig(const ReaderConfigData &rec)
{
    QMutexLocker lock(&m_readerMutex);
    m_readerConfig = rec;
}

bool SyncEngine::ping()
{
    const CommandResult<NoValue> result = pingReader(m_link);
    noteResponder(result.responder);
    return result.ok();
}

QString SyncEngine::portFailureText() const
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

void SyncEngine::reportPortError()
{
    const QString text = portFailureText();
    view().setStatusText(text);
    logEvent(text);
}

void SyncEngine::reportRangeError()
{
    const int count = readerConfig().recordCount;
    if (std::abs(count - lastRecNumber.load()) > 1) {
        view().setStatusText(TextRangeError);
        logEvent(TextRangeError);
    }
}

void SyncEngine::reportReadError(const QString &systemText)
{
    view().setStatusText(TextReadError);
    logEvent(TextReadError + systemText);
}

void SyncEngine::reportStoreError(StoreCause cause, const QString &databaseText)
{
    if (cause == StoreCause::Other) {
        reportReadError();
        return;
    }
    // Every poll meets the same cause again: the status label keeps showing
    // it, the log is told once, until the cause changes or a pass succeeds.
    const QString text = TextReadError + QStringLiteral(": ") + storeCauseText(cause);
    view().setStatusText(text);
    if (m_reportedStoreCause.exchange(int(cause)) != int(cause))
        logEvent(text + QStringLiteral(" (") + databaseText + QLatin1Char(')'));
}

void SyncEngine::pollReader()
{
    if (QThread::currentThread() == thread())
        runOnLinkThread([this] { pollRound(false); }, true);
    else
        pollRound(false);
}

void SyncEngine::pollRound(bool threadMode)
{
    pollExchange(threadMode);
    followUp(threadMode, true);
}

void SyncEngine::pollExchange(bool threadMode)
{
    try {
        // Only the request thread shows its heartbeat.
        if (threadMode)
            out().pulseHeartbeat();
        if (interrupted())
            return;
        // The shared state is changed only under the link lock and while no
        // foreground operation holds the link: one that has set syncPaused
        // and taken the lock never sees this round touch the state.
        QRecursiveMutex unlinked;  // without a link there is nothing to share
        LinkLockGuard lock(m_link ? &m_link->lock() : &unlinked);
        if (syncPaused || !workerSetState(SyncState::Offline))
            return;
        readerNormalMode = true;
        if (readConfig()) {
            readerNormalMode = true;
            lock.unlock();
            if (!syncPaused)
                checkReaderClock();
            if (interrupted())
                return;
            lock.relock();
            if (syncPaused)
                return;
            if (syncState == SyncState::Offline || readerConfig().recordCount != lastRecNumber.load()) {
                if (!workerSetState(SyncState::Exchanging))
                    return;
            }
            retryReaderModeRestore();
        } else if (ping()) {
            readerBusy = true;
            readerNormalMode = false;
        } else {
            workerSetState(SyncState::Offline);
        }
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        onMain([this, error] { reportError(error); });
    }
}

void SyncEngine::followUp(bool threadMode, bool polled)
{
    // A foreground operation holds the link: its own work comes first. A
    // suspension checked while the poll ran stays in force.
    if (!syncPaused && !stopSynchroChecked() && !interrupted()) {
        try {
            if (static_cast<int>(responderAddress()) != loadedAddress.load())
                onMain([this, threadMode] { loadDeviceRow(threadMode); });
            if (readerBusy)
                syncState = SyncState::Online;
            // The timer's poll shows what it found before it copies.
            if (!threadMode)
                out().updateStateIndicator();
            if (syncState == SyncState::Exchanging)
                catchUp();
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            onMain([this, error] { reportError(error); });
        }
    }
    // After a poll the request thread's indicator also follows a reader that
    // went offline or busy, not only the end of a catch-up.
    if (threadMode && polled && !syncPaused)
        out().updateStateIndicator();
}

void SyncEngine::loadDeviceRow(bool fromThread)
{
    if (m_shutDown)
        return;
    try {
        ReadingStore store(requireDatabase(*this));
        const int address = static_cast<int>(responderAddress());
        bool created = false;
        const ReaderPosition position = store.loadReaderPosition(address, &created);
        if (created && fromThread)
            iNeedSynhroFIO = true;
        lastRecNumber = position.recNumber;
        lastRecTime = position.time;
        loadedAddress = address;
    } catch (...) {
        QString cause;
        try {
            throw;
        } catch (const EStoreError &e) {
            cause = storeCauseText(e.cause());
        } catch (...) {
        }
        view().setStatusText(cause.isEmpty() ? TextDatabaseError : TextDatabaseError + QStringLiteral(": ") + cause);
        if (syncState == SyncState::Exchanging)
            syncState = SyncState::Online;
    }
}

void SyncEngine::writeDevicePosition()
{
    // The position always goes into the row of the address it belongs to,
    // the readings up to it on the disk first.
    ReadingStore(requireDatabase(*this)).saveReaderPosition(loadedAddress.load(), {lastRecNumber.load(), lastRecTime});
}

void SyncEngine::catchUp()
{
    PassUnderWay pass(*this);
    out().setStatusText(QStringLiteral("Конфигурация считана"));

    std::exception_ptr error;
    try {
        const int count = readerConfig().recordCount;
        if (lastRecNumber.load() == count) {
            syncState = SyncState::Online;
        } else {
            // Is the remembered record still the same reading?
            if (lastRecNumber.load() != 0) {
                const CommandResult<ArchiveRecordData> remembered = readArchiveRecord(m_link, lastRecNumber.load());
                noteResponder(remembered.responder);
                bool same = remembered.ok();
                if (same) {
                    const QDateTime time = remembered.value.time;
                    same = time.isValid() && lastRecTime.isValid()
                        && std::llabs(time.msecsTo(lastRecTime)) <= RecordTimeToleranceMs;
                }
                if (!same)
                    lastRecNumber = 0;
            }
            const int d = lastRecNumber.load();
            if (d != 0) {
                out().setStatusText(QStringLiteral("Чтение последних данных архива"));
                // A close of the window ends the pass at once.
                if (count > d) {
                    for (int i = d + 1; i <= count && !faceNotReady && !interrupted(); ++i)
                        storeArchiveRecord(i, i - d, count - d);
                } else {
                    // The reader's numbers have wrapped round the ring.
                    for (int i = d + 1; i <= ArchiveCapacity && !faceNotReady && !interrupted(); ++i)
                        storeArchiveRecord(i, i - d, ArchiveCapacity - d);
                    for (int j = 1; j <= count && !faceNotReady && !interrupted(); ++j)
                        storeArchiveRecord(j, j, count);
                }
            } else {
                readFullArchive();
            }
            if (syncState == SyncState::Exchanging && !m_shutDown) {
                syncState = SyncState::Online;
                out().setStatusText(QStringLiteral("Синхронизация завершена"));
                out().setProgress(0, 0);
            }
        }
    } catch (...) {
        error = std::current_exception();
    }
    // Whatever stopped the pass, the position reached is saved; a close of
    // the window in mid-pass has saved it already, before the tables closed.
    out().updateStateIndicator();
    onMain([this] {
        if (!m_shutDown)
            writeDevicePosition();
    });
    if (error)
        std::rethrow_exception(error);
    m_reportedStoreCause = int(StoreCause::Other);
}

bool SyncEngine::storeArchiveRecord(int number, int progressIndex, int progressTotal)
{
    if (faceNotReady || syncState == SyncState::Offline || syncState == SyncState::Suspended || interrupted())
        return false;
    bool kept = false;
    const CommandResult<ArchiveRecordData> read = readArchiveRecord(m_link, number);
    noteResponder(read.responder);
    if (!read) {
        // The remaining records of this pass are skipped.
        syncState = SyncState::Offline;
        return false;
    }
    const ArchiveRecordData &record = read.value;
    if (!record.time.isValid())
        throw EFormatError(QStringLiteral("Ошибка в формате данных архивной записи ") + QString::number(number));
    // The tables belong to the main thread; the window goes on meanwhile and
    // may be closed before the record gets there.
    onMain([&] {
        if (faceNotReady || m_shutDown)
            return;
        ReadingStore store(requireDatabase(*this));
        const int address = static_cast<int>(responderAddress());
        QElapsedTimer dbClock;
        dbClock.start();
        // The duplicate check looks at the whole table, whatever filter the
        // grid has on.
        const bool stored = store.readingStored(record.time, address, number);
        m_storeLookupNs += dbClock.nsecsElapsed();
        if (!stored) {
            lastReadedIndex = store.storeReading(
                {record.time, address, number, static_cast<int>(record.id), record.name, record.dose});
            iNeedSynhroFIO = true;
        }
        m_storeDbNs += dbClock.nsecsElapsed();
        ++m_storeCalls;
        lastRecNumber = number;
        lastRecTime = record.time;
        kept = true;
        view().setStatusText(QStringLiteral("Чтение записи %1 из %2").arg(progressIndex).arg(progressTotal));
        view().setProgress(progressIndex, progressTotal);
    });
    return kept;
}

void SyncEngine::checkReaderClock()
{
    if (clockQuestionAsked)
        return;
    const QDateTime readerClock = readerConfig().clock;
    const qint64 seconds = std::llabs(QDateTime::currentDateTime().msecsTo(readerClock)) / 1000;
    if (seconds <= ClockToleranceSeconds)
        return;
    clockQuestionAsked = true;
    syncPaused = false;
    syncState = SyncState::Suspended;
    AtScopeEnd unpause([this] { syncPaused = false; });
    if (QThread::currentThread() != thread())
        QThread::msleep(100);
    // The window shows the suspension while the question is open (the ticks
    // that would show it wait behind the question in timer mode). Unattended,
    // the reader's clock is left alone.
    PromptButton answer = PromptButton::Cancel;
    onMain([this, &answer] {
        m_clockQuestionOpen = true;
        AtScopeEnd closed([this] { m_clockQuestionOpen = false; });
        showSuspendedText();
        answer = activePrompt().ask(
            MsgKind::Information,
            QStringLiteral("Время в ТРЕМ не соответствует времени на компьютере\r\rСинхронизировать время ТРЕМ по компьютерному времени?"),
            PromptButton::Ok | PromptButton::Cancel, PromptButton::Cancel);
    });
    if (answer != PromptButton::Ok)
        return;
    ReaderConfigData rec = readerConfig();
    rec.clock = QDateTime::currentDateTime();
    setReaderConfig(rec);
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
        onMain([] {
            activePrompt().message(MsgKind::Error,
                             QStringLiteral("Не удалось синхронизировать время в ТРЕМ\r(Ошибка прибора или специальный режим работы прибора)"),
                             PromptButton::Ok | PromptButton::Cancel);
        });
}

// ---------------------------------------------------------------- suspension

void SyncEngine::setStopSynchro(bool checked)
{
    bool changed = false;
    {
        QMutexLocker lock(&m_stateMutex);
        changed = m_stopSynchro != checked;
        m_stopSynchro = checked;
        syncState = checked ? SyncState::Suspended : SyncState::Offline;
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
    syncState = state;
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
    threadStartTicks = 0;
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
        syncPaused = true;
        try {
            waitProcessing(2000);
            m_worker->requestTermination();
            m_retired.push_back(m_worker);
            m_worker = nullptr;
        } catch (...) {
        }
        syncPaused = false;
    }
    auto *worker = new TimerThread(this);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    worker->start();
}

void SyncEngine::stopThread(int waitMs)
{
    if (!m_worker)
        return;
    syncPaused = true;
    try {
        waitProcessing(waitMs);
        m_worker->requestTermination();
        m_retired.push_back(m_worker);
        m_worker = nullptr;
    } catch (...) {
    }
    syncPaused = false;
}

void SyncEngine::shutDown()
{
    // A pass under way (the close came while it processed window events)
    // stores nothing more once faceNotReady is set; its final step runs now,
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

void SyncEngine::retryReaderModeRestore()
{
    if (!readerModeRestorePending || readerModeSwitching <= 0)
        return;
    try {
        if (setReaderMode(m_link, 0))
            readerModeRestorePending = false;
    } catch (...) {
    }
}

void SyncEngine::restoreReaderModeLater()
{
    readerModeRestorePending = true;
    // A poll of the timer waits for it (pollUnderWay); a worker's poll may
    // come first and then makes the switch itself.
    runOnLinkThread(
        [this] {
            QRecursiveMutex unlinked;
            LinkLockGuard lock(m_link ? &m_link->lock() : &unlinked);
            retryReaderModeRestore();
        },
        false);
}

// ---------------------------------------------------------------- foreground use

ForegroundLinkUse::ForegroundLinkUse(SyncEngine &engine, int waitMs)
    : m_engine(engine), m_link(engine.link()), m_wasPaused(engine.syncPaused.exchange(true))
{
    // In the main thread the window's events go on while it waits.
    const bool mainThread = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    if (mainThread)
        SyncEngine::waitProcessing(waitMs);
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
    m_engine.syncPaused = m_wasPaused;
}

// ---------------------------------------------------------------- names

void SyncEngine::syncNamesFromJournal()
{
    DataModule *dm = database();
    if (!dm || !NameSync(*dm).run())
        activePrompt().message(MsgKind::Error,
                         QStringLiteral("В процессе синхронизации возникла ошибка, возможно необходимо произвести чистку таблиц"),
                         PromptButton::Ok);
    iNeedSynhroFIO = false;
    emit namesSynchronised();
}

void SyncEngine::askNameSync(bool extNotesDown)
{
    if (!iNeedSynhroFIO || !extNotesDown)
        return;
    // Unattended, the names wait for an operator: nothing is rewritten unseen
    // and the flag stays set.
    const PromptButton answer = activePrompt().ask(MsgKind::Warning,
                                    QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"),
                                    PromptButton::Ok | PromptButton::Cancel, PromptButton::Cancel);
    if (answer == PromptButton::Ok)
        syncNamesFromJournal();
}

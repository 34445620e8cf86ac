#include "monitor/core/SyncEngine.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/LogFiles.h"
#include "core/Platform.h"
#include "core/Prompt.h"
#include "link/URS232.h"
#include "link/URUVOProtocol.h"
#include "monitor/core/TimerThread.h"
#include "records/NameSync.h"
#include "records/ReadingStore.h"
#include "records/StoredDateTime.h"
#include "records/UDM.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace {

SyncEngine *g_engine = nullptr;

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

SyncEngine *Engine()
{
    return g_engine;
}

SyncEngine::SyncEngine(QObject *parent)
    : QObject(parent), m_nullView(std::make_unique<NullSyncView>()), m_timer(new QTimer(this))
{
    LastRecTime = MinDateTime();
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &SyncEngine::TimerControlTimer);
    g_engine = this;
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
    // A worker still inside a command after that is left to end by itself;
    // it runs no hand-off any more.
    WaitForWorkers(10000);
    if (g_engine == this)
        g_engine = nullptr;
}

void SyncEngine::SetView(ISyncView *view)
{
    m_view = view;
}

ISyncView &SyncEngine::View() const
{
    return m_view ? *m_view : *m_nullView;
}

void SyncEngine::SetDatabase(TDM *dm)
{
    m_dm = dm;
}

TDM *SyncEngine::Database() const
{
    return m_dm ? m_dm : DM();
}

static TDM &RequireDatabase(const SyncEngine &engine)
{
    TDM *dm = engine.Database();
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

void SyncEngine::EnableTimerAfterWork()
{
    // Before the stored settings are restored the timer stays off, and once
    // the window has closed it stays off as well.
    if (m_timerStarted && !m_shutDown)
        m_timer->start();
}

void SyncEngine::WaitProcessing(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        const qint64 left = deadline.remainingTime();
        QThread::msleep(static_cast<unsigned long>(qBound<qint64>(qint64(0), left, qint64(2))));
    }
}

void SyncEngine::TimerControlTimer()
{
    AppState &app = App();
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
    if (app.SyncPaused)
        return;
    if (app.SyncState == SyncSuspended) {
        View().SetStatusText(TextSuspended);
        View().UpdateStateIndicator();
        return;
    }
    const int tick = ++SyncTickCounter;
    if (tick % PollPeriodTicks == 0)
        PollReader();
}

// ---------------------------------------------------------------- the poll

void SyncEngine::ReportError(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const EProtocolCancel &) {
        ReportRangeError();
    } catch (const EGeneralError &e) {
        if (e.message() == TRS232Link::ConnectFailureText())
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

void SyncEngine::SetLink(TRS232Link *link)
{
    m_link = link;
}

TRec0Data SyncEngine::ReaderConfig() const
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
    const CommandResult<TRec0Data> result = ReadReaderConfig(m_link);
    NoteResponder(result.responder);
    if (result.failure == CommandFailure::ReaderBusy)
        ReaderBusy = true;
    if (!result)
        return false;
    ReaderModeSwitching = result.value.ModeSwitching() ? 1 : 0;
    SetReaderConfig(result.value);
    return true;
}

void SyncEngine::SetReaderConfig(const TRec0Data &rec)
{
    QMutexLocker lock(&m_readerMutex);
    m_readerConfig = rec;
}

bool SyncEngine::Ping()
{
    const CommandResult<NoValue> result = PingReader(m_link);
    NoteResponder(result.responder);
    return result.ok();
}

QString SyncEngine::PortFailureText() const
{
    const TRS232Link *link = m_link;
    if (!link)
        return QStringLiteral("Не удалось открыть порт");
    // The link's own account names the port and the reason.
    const QString reason = link->LastOpenError();
    if (!reason.isEmpty())
        return reason;
    return QStringLiteral("Не удалось открыть порт %1").arg(link->PortName());
}

void SyncEngine::ReportPortError()
{
    const QString text = PortFailureText();
    View().SetStatusText(text);
    LogEvent(text);
}

void SyncEngine::ReportRangeError()
{
    const int count = ReaderConfig().RecordCount;
    if (std::abs(count - LastRecNumber.load()) > 1) {
        View().SetStatusText(TextRangeError);
        LogEvent(TextRangeError);
    }
}

void SyncEngine::ReportReadError(const QString &systemText)
{
    View().SetStatusText(TextReadError);
    LogEvent(TextReadError + systemText);
}

void SyncEngine::PollReader()
{
    AppState &app = App();
    try {
        app.SyncState = SyncOffline;
        ReaderNormalMode = true;
        if (ReadConfig()) {
            ReaderNormalMode = true;
            CheckReaderClock();
            if (app.SyncState == SyncOffline || ReaderConfig().RecordCount != LastRecNumber.load())
                app.SyncState = SyncExchanging;
            RetryReaderModeRestore();
        } else if (Ping()) {
            ReaderBusy = true;
            ReaderNormalMode = false;
        } else {
            app.SyncState = SyncOffline;
        }
        if (static_cast<int>(ResponderAddress()) != LoadedAddress.load())
            LoadDeviceRow(false);
        if (ReaderBusy)
            app.SyncState = SyncOnline;
        View().UpdateStateIndicator();
        if (app.SyncState == SyncExchanging)
            CatchUp();
    } catch (...) {
        ReportError(std::current_exception());
    }
}

void SyncEngine::LoadDeviceRow(bool fromThread)
{
    try {
        ReadingStore store(RequireDatabase(*this));
        const int address = static_cast<int>(ResponderAddress());
        bool created = false;
        const ReaderPosition position = store.loadReaderPosition(address, &created);
        if (created && fromThread)
            App().INeedSynhroFIO = true;
        LastRecNumber = position.recNumber;
        LastRecTime = position.time;
        LoadedAddress = address;
    } catch (...) {
        View().SetStatusText(TextDatabaseError);
        if (App().SyncState == SyncExchanging)
            App().SyncState = SyncOnline;
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
    AppState &app = App();
    m_timer->stop();
    AtScopeEnd enableTimer([this] { EnableTimerAfterWork(); });
    PassUnderWay pass(*this);
    View().SetStatusText(QStringLiteral("Конфигурация считана"));

    std::exception_ptr error;
    try {
        const int count = ReaderConfig().RecordCount;
        if (LastRecNumber.load() == count) {
            app.SyncState = SyncOnline;
        } else {
            // Is the remembered record still the same reading?
            if (LastRecNumber.load() != 0) {
                const CommandResult<ArchiveRecordData> remembered = ReadArchiveRecord(m_link, LastRecNumber.load());
                NoteResponder(remembered.responder);
                bool same = remembered.ok();
                if (same) {
                    const QDateTime time = remembered.value.Time;
                    same = time.isValid() && LastRecTime.isValid()
                        && std::llabs(time.msecsTo(LastRecTime)) <= RecordTimeToleranceMs;
                }
                if (!same)
                    LastRecNumber = 0;
            }
            const int d = LastRecNumber.load();
            if (d != 0) {
                View().SetStatusText(QStringLiteral("Чтение последних данных архива"));
                // A close of the window ends the pass at once.
                if (count > d) {
                    for (int i = d + 1; i <= count && !app.FaceNotReady; ++i)
                        StoreArchiveRecord(i, i - d, count - d);
                } else {
                    // The reader's numbers have wrapped round the ring.
                    for (int i = d + 1; i <= ArchiveCapacity && !app.FaceNotReady; ++i)
                        StoreArchiveRecord(i, i - d, ArchiveCapacity - d);
                    for (int j = 1; j <= count && !app.FaceNotReady; ++j)
                        StoreArchiveRecord(j, j, count);
                }
            } else {
                ReadFullArchive();
            }
            if (app.SyncState == SyncExchanging && !m_shutDown) {
                app.SyncState = SyncOnline;
                View().SetStatusText(QStringLiteral("Синхронизация завершена"));
                View().SetProgress(0, 0);
            }
        }
    } catch (...) {
        error = std::current_exception();
    }
    // Whatever stopped the pass, the position reached is saved; a close of
    // the window in mid-pass has saved it already, before the tables closed.
    View().UpdateStateIndicator();
    if (!m_shutDown)
        WriteDevicePosition();
    if (error)
        std::rethrow_exception(error);
}

bool SyncEngine::StoreArchiveRecord(int number, int progressIndex, int progressTotal)
{
    AppState &app = App();
    if (app.FaceNotReady || app.SyncState == SyncOffline || app.SyncState == SyncSuspended)
        return false;
    bool kept = false;
    const CommandResult<ArchiveRecordData> read = ReadArchiveRecord(m_link, number);
    NoteResponder(read.responder);
    if (!read) {
        // The remaining records of this pass are skipped.
        app.SyncState = SyncOffline;
    } else {
        const ArchiveRecordData &record = read.value;
        if (!record.Time.isValid())
            throw EFormatError(QStringLiteral("Ошибка в формате данных архивной записи ") + QString::number(number));
        ReadingStore store(RequireDatabase(*this));
        const int address = static_cast<int>(ResponderAddress());
        QElapsedTimer dbClock;
        dbClock.start();
        // The duplicate check looks at the whole table, whatever filter the
        // grid has on.
        const bool stored = store.readingStored(record.Time, address, number);
        m_storeLookupNs += dbClock.nsecsElapsed();
        if (!stored) {
            LastReadedIndex = store.storeReading(
                {record.Time, address, number, static_cast<int>(record.ID), record.Name, record.Dose});
            app.INeedSynhroFIO = true;
        }
        m_storeDbNs += dbClock.nsecsElapsed();
        ++m_storeCalls;
        LastRecNumber = number;
        LastRecTime = record.Time;
        kept = true;
        View().SetStatusText(QStringLiteral("Чтение записи %1 из %2").arg(progressIndex).arg(progressTotal));
        View().SetProgress(progressIndex, progressTotal);
    }
    // The window stays responsive; the operator may suspend in mid-pass.
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    return kept;
}

void SyncEngine::CheckReaderClock()
{
    if (ClockQuestionAsked)
        return;
    AppState &app = App();
    const QDateTime readerClock = ReaderConfig().Clock;
    const qint64 seconds = std::llabs(QDateTime::currentDateTime().msecsTo(readerClock)) / 1000;
    if (seconds <= ClockToleranceSeconds)
        return;
    ClockQuestionAsked = true;
    app.SyncPaused = false;
    app.SyncState = SyncSuspended;
    AtScopeEnd unpause([] { App().SyncPaused = false; });
    QThread::msleep(100);
    // The window shows the suspension while the question is open (the ticks
    // that would show it wait behind the question in timer mode). Unattended,
    // the reader's clock is left alone.
    ShowSuspendedText();
    const int answer = Prompt().ask(
        MsgKind::Information,
        QStringLiteral("Время в ТРЕМ не соответствует времени на компьютере\r\rСинхронизировать время ТРЕМ по компьютерному времени?"),
        BtnOk | BtnCancel, BtnCancel);
    if (answer != BtnOk)
        return;
    TRec0Data rec = ReaderConfig();
    rec.Clock = QDateTime::currentDateTime();
    SetReaderConfig(rec);
    QThread::msleep(100);
    bool written = false;
    try {
        // A missing link object is a failed write as well.
        written = WriteReaderConfig(m_link, rec).ok();
    } catch (...) {
        written = false;
    }
    if (!written)
        Prompt().message(MsgKind::Error,
                         QStringLiteral("Не удалось синхронизировать время в ТРЕМ\r(Ошибка прибора или специальный режим работы прибора)"),
                         BtnOk | BtnCancel);
}

// ---------------------------------------------------------------- suspension

void SyncEngine::SetStopSynchro(bool checked)
{
    bool changed = false;
    {
        QMutexLocker lock(&m_stateMutex);
        changed = m_stopSynchro != checked;
        m_stopSynchro = checked;
        App().SyncState = checked ? SyncSuspended : SyncOffline;
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
    App().SyncState = state;
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
    AppState &app = App();
    if (m_worker) {
        app.SyncPaused = true;
        try {
            WaitProcessing(2000);
            m_worker->Terminate();
            m_retired.push_back(m_worker);
            m_worker = nullptr;
        } catch (...) {
        }
        app.SyncPaused = false;
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
    AppState &app = App();
    app.SyncPaused = true;
    try {
        WaitProcessing(waitMs);
        m_worker->Terminate();
        m_retired.push_back(m_worker);
        m_worker = nullptr;
    } catch (...) {
    }
    app.SyncPaused = false;
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
        const bool alive = WorkerAlive();
        if (!alive || deadline.hasExpired())
            return !alive;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(2);
    }
}

void SyncEngine::ShowSuspendedText()
{
    View().SetStatusText(TextSuspended);
    View().UpdateStateIndicator();
}

void SyncEngine::RetryReaderModeRestore()
{
    if (!ReaderModeRestorePending || ReaderModeSwitching <= 0)
        return;
    try {
        if (SetReaderMode(m_link, 0))
            ReaderModeRestorePending = false;
    } catch (...) {
    }
}

void SyncEngine::ThreadSyncStep()
{
    AppState &app = App();
    // A foreground operation holds the link: its own work comes first. A
    // suspension checked while the worker polled stays in force.
    if (app.SyncPaused || StopSynchroChecked())
        return;
    try {
        if (static_cast<int>(ResponderAddress()) != LoadedAddress.load())
            LoadDeviceRow(true);
        if (ReaderBusy)
            app.SyncState = SyncOnline;
        if (app.SyncState == SyncExchanging)
            CatchUp();
    } catch (...) {
        ReportError(std::current_exception());
    }
}

// ---------------------------------------------------------------- foreground use

ForegroundLinkUse::ForegroundLinkUse(TRS232Link *link, int waitMs)
    : m_link(link), m_wasPaused(App().SyncPaused.exchange(true))
{
    if (waitMs > 0)
        QThread::msleep(static_cast<unsigned long>(waitMs));
    // A worker command under way ends before this operation uses the link.
    if (m_link)
        m_link->Lock().lock();
}

ForegroundLinkUse::~ForegroundLinkUse()
{
    if (m_link)
        m_link->Lock().unlock();
    App().SyncPaused = m_wasPaused;
}

// ---------------------------------------------------------------- names

void SyncEngine::SyncNamesFromJournal()
{
    TDM *dm = Database();
    if (!dm || !NameSync(*dm).run())
        Prompt().message(MsgKind::Error,
                         QStringLiteral("В процессе синхронизации возникла ошибка, возможно необходимо произвести чистку таблиц"),
                         BtnOk);
    App().INeedSynhroFIO = false;
    emit NamesSynchronised();
}

void SyncEngine::AskNameSync(bool extNotesDown)
{
    if (!App().INeedSynhroFIO || !extNotesDown)
        return;
    // Unattended, the names wait for an operator: nothing is rewritten unseen
    // and the flag stays set.
    const int answer = Prompt().ask(MsgKind::Warning,
                                    QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"),
                                    BtnOk | BtnCancel, BtnCancel);
    if (answer == BtnOk)
        SyncNamesFromJournal();
}

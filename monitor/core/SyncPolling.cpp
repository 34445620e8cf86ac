// The synchronisation engine: the poll of both modes (the exchange with the
// reader and its follow-up step), the reader's configuration and clock as
// the polls find them, the retried switch back to mode 0, and the reports of
// a poll's errors.

#include "monitor/core/SyncEngine.h"

#include "core/Errors.h"
#include "core/LogFiles.h"
#include "core/Prompt.h"
#include "link/SerialLink.h"
#include "link/DeviceCommands.h"
#include "records/StoreError.h"

#include <QThread>

#include <cstdlib>
#include <system_error>

namespace {

const QString TextRangeError = QStringLiteral("Ошибка диапазона архива");
const QString TextReadError = QStringLiteral("Ошибка чтения и обработки");

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
    m_readerBusy = false;
    const CommandResult<ReaderConfigData> result = readReaderConfig(m_link);
    noteResponder(result.responder);
    if (result.kind() == ErrorKind::ReaderBusy)
        m_readerBusy = true;
    if (!result)
        return false;
    m_readerModeSwitching = result.value.modeSwitching() ? 1 : 0;
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
    if (std::abs(count - m_lastRecNumber.load()) > 1) {
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
        // foreground operation holds the link: one that has set m_paused
        // and taken the lock never sees this round touch the state.
        QRecursiveMutex unlinked;  // without a link there is nothing to share
        LinkLockGuard lock(m_link ? &m_link->lock() : &unlinked);
        if (m_paused || !workerSetState(SyncState::Offline))
            return;
        m_readerNormalMode = true;
        if (readConfig()) {
            m_readerNormalMode = true;
            lock.unlock();
            if (!m_paused)
                checkReaderClock();
            if (interrupted())
                return;
            lock.relock();
            if (m_paused)
                return;
            if (m_state == SyncState::Offline || readerConfig().recordCount != m_lastRecNumber.load()) {
                if (!workerSetState(SyncState::Exchanging))
                    return;
            }
            retryReaderModeRestore();
        } else if (ping()) {
            m_readerBusy = true;
            m_readerNormalMode = false;
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
    if (!m_paused && !stopSynchroChecked() && !interrupted()) {
        try {
            if (static_cast<int>(responderAddress()) != m_loadedAddress.load())
                onMain([this, threadMode] { loadDeviceRow(threadMode); });
            if (m_readerBusy)
                m_state = SyncState::Online;
            // The timer's poll shows what it found before it copies.
            if (!threadMode)
                out().updateStateIndicator();
            if (m_state == SyncState::Exchanging)
                catchUp();
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            onMain([this, error] { reportError(error); });
        }
    }
    // After a poll the request thread's indicator also follows a reader that
    // went offline or busy, not only the end of a catch-up.
    if (threadMode && polled && !m_paused)
        out().updateStateIndicator();
}

void SyncEngine::checkReaderClock()
{
    if (m_clockQuestionAsked)
        return;
    const QDateTime readerClock = readerConfig().clock;
    const qint64 seconds = std::llabs(QDateTime::currentDateTime().msecsTo(readerClock)) / 1000;
    if (seconds <= ClockToleranceSeconds)
        return;
    m_clockQuestionAsked = true;
    m_paused = false;
    m_state = SyncState::Suspended;
    AtScopeEnd unpause([this] { m_paused = false; });
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
        answer = prompt().ask(
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
        onMain([this] {
            prompt().message(MsgKind::Error,
                             QStringLiteral("Не удалось синхронизировать время в ТРЕМ\r(Ошибка прибора или специальный режим работы прибора)"),
                             PromptButton::Ok | PromptButton::Cancel);
        });
}

void SyncEngine::retryReaderModeRestore()
{
    if (!m_modeRestorePending || m_readerModeSwitching <= 0)
        return;
    try {
        if (setReaderMode(m_link, 0))
            m_modeRestorePending = false;
    } catch (...) {
    }
}

void SyncEngine::restoreReaderModeLater()
{
    m_modeRestorePending = true;
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

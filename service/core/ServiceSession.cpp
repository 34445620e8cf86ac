#include "service/core/ServiceSession.h"

#include "core/Errors.h"
#include "link/DeviceCommands.h"
#include "link/LinkCycle.h"

#include <QEventLoop>
#include <QThread>

// The foreground use of the link: made and destroyed in the session's thread,
// which therefore owns the link lock from begin() to end().
class ServiceSession::Holder {
public:
    Holder(ILinkCycle &cycle, int waitMs) : use(cycle, waitMs) {}
    ForegroundLinkUse use;
};

ServiceSession::ServiceSession(ILinkCycle &cycle, QObject *parent) : QObject(parent), m_cycle(cycle)
{
}

ServiceSession::~ServiceSession()
{
    end();
}

SerialLink *ServiceSession::link() const
{
    return m_cycle.link();
}

void ServiceSession::runJob(std::function<void()> job, bool wait)
{
    if (!wait && m_ended)
        return;  // the session is over: nothing more goes to the reader
    // Repaints and queued signals go on while a step is waited for; buttons
    // and keys wait.
    m_jobs.run(std::move(job), wait, QEventLoop::ExcludeUserInputEvents);
}

bool ServiceSession::begin(int waitMs)
{
    if (m_begun)
        return m_serviceMode;
    m_begun = true;
    runJob(
        [this, waitMs] {
            m_holder = std::make_unique<Holder>(m_cycle, waitMs);
            m_stateBefore = m_cycle.state();
            m_modeSwitching = m_cycle.readerSwitchesModes();
            if (!m_modeSwitching)
                return;
            try {
                m_serviceMode = setReaderMode(link(), 1).ok();
            } catch (...) {
                m_serviceMode = false;
            }
        },
        true);
    return m_serviceMode;
}

void ServiceSession::end()
{
    if (m_ended)
        return;
    m_ended = true;
    if (!m_begun)
        return;
    // The switch back to mode 0 is handed to the cycle's link thread before
    // the link is let go, so the timer's next poll comes after it; the window
    // does not wait for it (a reader that does not answer costs every attempt
    // of the link), and when it fails the cycle retries it.
    if (m_modeSwitching)
        m_cycle.restoreReaderModeLater();
    runJob(
        [this] {
            // The monitor goes back to the state it was in before the flow,
            // set while the cycle is still kept away.
            m_cycle.restoreState(m_stateBefore);
            m_holder.reset();
        },
        true);
    m_jobs.stop();
    m_cycle.showState();
}

void ServiceSession::reportProgress(int value)
{
    QMetaObject::invokeMethod(this, [this, value] { emit progress(value); }, Qt::QueuedConnection);
}

DosimeterCheck checkDosimeter(SerialLink *link, std::optional<quint32> shown)
{
    DosimeterCheck check;
    if (!shown)
        return check;
    const CommandResult<DosimeterNumberData> now = readDosimeterNumber(link);
    if (!now.ok()) {
        check.outcome = DosimeterCheck::Unread;
        return check;
    }
    check.number = now.value.number;
    check.outcome = now.value.number == *shown ? DosimeterCheck::Same : DosimeterCheck::Other;
    return check;
}

QString dosimeterCheckText(const DosimeterCheck &check)
{
    switch (check.outcome) {
    case DosimeterCheck::Same:
        break;
    case DosimeterCheck::Other:
        return QStringLiteral("В считывателе другой дозиметр (%1).\r\nЗапись не произведена.").arg(check.number);
    case DosimeterCheck::Unread:
        return QStringLiteral("Не удалось считать номер дозиметра в считывателе.\r\nЗапись не произведена.");
    }
    return QString();
}

QString serviceErrorText(std::exception_ptr error)
{
    if (!error)
        return QString();
    try {
        std::rethrow_exception(error);
    } catch (const ERuvoError &e) {
        return e.message();
    } catch (const std::exception &e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
    }
    return QStringLiteral("Неизвестная ошибка");
}

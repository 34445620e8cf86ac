#include "service/core/ServiceSession.h"

#include "core/Errors.h"
#include "link/DeviceCommands.h"
#include "monitor/core/SyncEngine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

// The foreground use of the link: made and destroyed in the session's thread,
// which therefore owns the link lock from begin() to end().
class ServiceSession::Holder {
public:
    Holder(SyncEngine &engine, int waitMs) : use(engine, waitMs) {}
    ForegroundLinkUse use;
};

ServiceSession::ServiceSession(SyncEngine &engine, QObject *parent) : QObject(parent), m_engine(engine)
{
}

ServiceSession::~ServiceSession()
{
    end();
}

SerialLink *ServiceSession::link() const
{
    return m_engine.link();
}

bool ServiceSession::inSessionThread() const
{
    return m_thread && QThread::currentThread() == m_thread;
}

void ServiceSession::startThread()
{
    if (m_thread)
        return;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("ServiceLinkThread"));
    m_context = new QObject;
    m_context->moveToThread(m_thread);
    m_thread->start();
}

void ServiceSession::runJob(std::function<void()> job, bool wait)
{
    if (!wait && m_ended)
        return;  // the session is over: nothing more goes to the reader
    startThread();
    ++m_pending;
    if (!wait) {
        QMetaObject::invokeMethod(
            m_context,
            [this, job = std::move(job)] {
                try {
                    job();
                } catch (...) {
                }
                --m_pending;
            },
            Qt::QueuedConnection);
        return;
    }
    QEventLoop loop;
    std::exception_ptr error;
    bool done = false;
    QMetaObject::invokeMethod(
        m_context,
        [this, &job, &loop, &error, &done] {
            try {
                job();
            } catch (...) {
                error = std::current_exception();
            }
            --m_pending;
            QMetaObject::invokeMethod(
                &loop, [&loop, &done] { done = true; loop.quit(); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    // Repaints and queued signals go on; buttons and keys wait.
    while (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (error)
        std::rethrow_exception(error);
}

bool ServiceSession::begin(int waitMs)
{
    if (m_begun)
        return m_serviceMode;
    m_begun = true;
    runJob(
        [this, waitMs] {
            m_holder = std::make_unique<Holder>(m_engine, waitMs);
            m_modeSwitching = m_engine.readerModeSwitching > 0;
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

bool ServiceSession::end()
{
    if (m_ended)
        return m_endResult;
    m_ended = true;
    if (!m_begun)
        return m_endResult;
    runJob(
        [this] {
            if (m_modeSwitching) {
                bool back = false;
                for (int attempt = 0; attempt < 2 && !back; ++attempt) {
                    try {
                        back = setReaderMode(link(), 0).ok();
                    } catch (...) {
                        back = false;
                    }
                }
                m_endResult = back;
                if (!back)
                    m_engine.readerModeRestorePending = true;
            }
            m_holder.reset();
        },
        true);
    m_thread->quit();
    QDeadlineTimer deadline(10000);
    while (!m_thread->wait(QDeadlineTimer(5)) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_thread->wait();
    delete m_context;
    m_context = nullptr;
    delete m_thread;
    m_thread = nullptr;
    return m_endResult;
}

void ServiceSession::reportProgress(int value)
{
    QMetaObject::invokeMethod(this, [this, value] { emit progress(value); }, Qt::QueuedConnection);
}

void ServiceSession::waitProcessing(int ms)
{
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
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

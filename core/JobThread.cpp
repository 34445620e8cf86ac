#include "core/JobThread.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <exception>

JobThread::JobThread(const QString &name) : m_name(name)
{
}

JobThread::~JobThread()
{
    stop();
}

bool JobThread::isCurrent() const
{
    return m_thread && QThread::currentThread() == m_thread;
}

void JobThread::requestInterruption()
{
    if (m_thread)
        m_thread->requestInterruption();
}

void JobThread::run(std::function<void()> job, bool wait, QEventLoop::ProcessEventsFlags flags)
{
    if (!m_thread) {
        m_thread = new QThread;
        m_thread->setObjectName(m_name);
        m_context = new QObject;
        m_context->moveToThread(m_thread);
        m_thread->start();
    }
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
                &loop,
                [&loop, &done] {
                    done = true;
                    loop.quit();
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    while (!done)
        loop.exec(flags);
    if (error)
        std::rethrow_exception(error);
}

void JobThread::stop()
{
    if (!m_thread)
        return;
    m_thread->quit();
    QDeadlineTimer deadline(10000);
    while (!m_thread->wait(QDeadlineTimer(5)) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_thread->wait();
    delete m_context;
    m_context = nullptr;
    delete m_thread;
    m_thread = nullptr;
}

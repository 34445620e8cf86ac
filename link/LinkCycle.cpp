#include "link/LinkCycle.h"

#include "link/SerialLink.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

void waitProcessingEvents(int ms)
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

ForegroundLinkUse::ForegroundLinkUse(ILinkCycle &cycle, int waitMs)
    : m_cycle(cycle), m_link(cycle.link()), m_wasPaused(cycle.setPaused(true))
{
    // In the main thread the window's events go on while it waits.
    const bool mainThread = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    if (mainThread)
        waitProcessingEvents(waitMs);
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
    m_cycle.setPaused(m_wasPaused);
}

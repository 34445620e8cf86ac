#include "service/core/SpectrumReader.h"

#include "core/Errors.h"
#include "link/LinkCycle.h"
#include "service/core/SpectrumData.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

SpectrumReader::SpectrumReader(ILinkCycle &cycle, QObject *parent) : QObject(parent), m_cycle(cycle) {}

SpectrumReader::~SpectrumReader()
{
    m_cancel = true;
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

bool SpectrumReader::start(bool withHeader)
{
    if (m_running)
        return false;
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
    m_running = true;
    m_cancel = false;
    m_thread = QThread::create([this, withHeader] { run(withHeader); });
    m_thread->start();
    return true;
}

bool SpectrumReader::waitUntilDone(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (m_running && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return !m_running;
}

void SpectrumReader::run(bool withHeader)
{
    // Everything below reaches the owner queued; a reader destroyed meanwhile
    // drops it (the posted calls are tied to this object).
    auto post = [this](auto f) { QMetaObject::invokeMethod(this, f, Qt::QueuedConnection); };
    try {
        ForegroundLinkUse use(m_cycle, 0);
        SerialLink *link = m_cycle.link();
        if (withHeader && !m_cancel) {
            const CommandResult<SpectrumHeaderData> header = readSpectrumHeader(link);
            if (header.ok()) {
                const SpectrumHeaderData h = header.value;
                post([this, h] { emit headerRead(h); });
            }
        }
        for (int b = 0; b < SpectrumData::Blocks; ++b) {
            if (m_cancel) {
                post([this] { finish(false, true, QString()); });
                return;
            }
            const QVector<quint16> counts = readSpectrum(link, quint8(b));
            post([this, b, counts] { emit blockRead(b, counts); });
        }
        post([this] { finish(true, false, QString()); });
    } catch (const ERuvoError &e) {
        const QString text = e.message();
        post([this, text] { finish(false, false, text); });
    } catch (const std::exception &e) {
        const QString text = QString::fromLocal8Bit(e.what());
        post([this, text] { finish(false, false, text); });
    } catch (...) {
        post([this] { finish(false, false, QStringLiteral("?")); });
    }
}

void SpectrumReader::finish(bool ok, bool cancelled, const QString &error)
{
    m_running = false;
    emit finished(ok, cancelled, error);
}

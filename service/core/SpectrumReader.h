#pragma once
// One read of the ADC spectrum: the summary values where the reader has them,
// then the 15 blocks of 100 channels. The read runs in a thread of its own
// with synchronisation paused and the link's lock held for the whole
// sequence, so the cycle never comes between two blocks and the window goes
// on repainting. What it reads reaches the owner's thread as signals, in
// order; none arrives once the reader is destroyed.

#include "link/DeviceCommands.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>

class QThread;
class ILinkCycle;

class SpectrumReader : public QObject {
    Q_OBJECT
public:
    explicit SpectrumReader(ILinkCycle &cycle, QObject *parent = nullptr);
    // Stops after the block under way and waits for the thread.
    ~SpectrumReader() override;

    // Starts a read; false (nothing started) while one runs. `withHeader`: ask
    // for the summary values first (a reader with mode switching has them).
    bool start(bool withHeader);
    bool running() const { return m_running; }
    // The blocks not yet asked for are left out; the read ends as cancelled.
    void cancel() { m_cancel = true; }
    // Tests and benchmarks: runs the events until the read has ended.
    bool waitUntilDone(int timeoutMs);

signals:
    // The summary values arrived (a failed summary read is silent).
    void headerRead(const SpectrumHeaderData &header);
    void blockRead(int block, const QVector<quint16> &counts);
    // The read ended: ok when all 15 blocks came; `error` holds why not
    // (empty when it was cancelled).
    void finished(bool ok, bool cancelled, const QString &error);

private:
    void run(bool withHeader);
    void finish(bool ok, bool cancelled, const QString &error);

    ILinkCycle &m_cycle;
    QThread *m_thread = nullptr;
    bool m_running = false;
    std::atomic<bool> m_cancel{false};
};

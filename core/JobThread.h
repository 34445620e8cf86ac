#pragma once
// A thread of its own for jobs handed over from another thread (the reader's
// exchanges, which never run in the window's thread). Jobs run there one at a
// time, in the order handed over. The caller either goes on at once or waits
// for its job in a local event loop, and then gets the job's error raised
// again. The thread starts with the first job.

#include <QEventLoop>
#include <QString>
#include <atomic>
#include <functional>

class QObject;
class QThread;

class JobThread {
public:
    explicit JobThread(const QString &name);
    // Runs stop().
    ~JobThread();
    JobThread(const JobThread &) = delete;
    JobThread &operator=(const JobThread &) = delete;

    // The calling code runs in this thread.
    bool isCurrent() const;
    // Jobs handed over and not finished yet.
    int pending() const { return m_pending.load(); }
    // Tells a job under way that it should end (QThread::isInterruptionRequested).
    void requestInterruption();

    // Hands job over. Without wait, returns at once and an error of the job
    // is dropped. With wait, runs a local event loop with flags until the
    // job is done, then raises its error again.
    void run(std::function<void()> job, bool wait,
             QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);

    // Ends the thread once the jobs handed over are done, waiting at most
    // 10 s while the caller's events other than the operator's input go on.
    void stop();

private:
    QString m_name;
    QThread *m_thread = nullptr;
    QObject *m_context = nullptr;  // lives in m_thread
    std::atomic<int> m_pending{0};
};

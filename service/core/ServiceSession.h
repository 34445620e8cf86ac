#pragma once
// The frame of every dosimeter service flow (options, metrology, spectrum).
//
// A session keeps the cycle that owns the link (link/LinkCycle.h) away from
// the reader for its whole length: it sets the cycle's paused flag, waits for
// a poll under way, and holds the lock of the cycle's link from begin() to
// end(), so that the
// prompt's polls and the writes that follow form one sequence no poll can
// come between. Every exchange runs in the session's own link thread; the
// main thread waits for a step in a local event loop that repaints the
// windows and delivers queued signals (progress) but takes no operator input,
// so no second step can be started from a button while one is under way.
// Steps run in the order they were handed over.
//
// Where the reader switches between its normal and service modes
// (readerSwitchesModes() when the session begins), begin() switches it to
// service mode 1 and end() hands the switch back to mode 0 to the cycle
// without waiting for it (the cycle retries a switch that failed). end() also
// puts the cycle's state back as it was before the flow.
//
// Usage, in the main thread:
//
//     ServiceSession session(cycle);
//     session.begin();                        // paused, link lock, mode 1
//     if (session.serviceModeEntered() && !waitForDosimeter(session, parent))
//         return;                             // ~ServiceSession runs end()
//     auto label = session.call([](SerialLink *link) { return readDosimeterLabel(link); });
//     ...                                     // more steps, dialogs in between
//     session.end();                          // mode 0 handed over, lock released, state restored
//
// A step that raises has its error raised again by call() in the main
// thread. post() hands a step over without waiting and delivers its outcome
// to a receiver in the main thread, queued; the outcome is dropped when the
// receiver is gone by then (a prompt closed while its poll was under way).

#include "core/JobThread.h"
#include "link/LinkCycle.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <atomic>
#include <type_traits>
#include <utility>

class SerialLink;
class QThread;

class ServiceSession : public QObject {
    Q_OBJECT
public:
    explicit ServiceSession(ILinkCycle &cycle, QObject *parent = nullptr);
    // Runs end() when it has not run yet.
    ~ServiceSession() override;
    ServiceSession(const ServiceSession &) = delete;
    ServiceSession &operator=(const ServiceSession &) = delete;

    ILinkCycle &cycle() const { return m_cycle; }
    SerialLink *link() const;

    // Sets paused, waits waitMs for a request of the cycle under way,
    // takes the link lock in the session's thread and, when the reader
    // switches modes, switches it to service mode 1. Returns
    // serviceModeEntered(). An error of the mode switch (the port cannot be
    // opened) is swallowed: the flow goes on without service mode.
    bool begin(int waitMs = 100);
    bool begun() const { return m_begun; }
    bool ended() const { return m_ended; }
    // The reader switched modes (readerSwitchesModes()) when the session began.
    bool modeSwitching() const { return m_modeSwitching; }
    // The switch to service mode 1 succeeded.
    bool serviceModeEntered() const { return m_serviceMode; }

    // Runs step(link) in the session's thread and returns its result; the
    // main thread's events (not the operator's input) go on meanwhile. Called
    // from the session's own thread (a step calling call()), it runs at once.
    template <typename F>
    auto call(F &&step) -> std::invoke_result_t<F, SerialLink *>;

    // Hands step(link) to the session's thread without waiting. done(result,
    // error) runs in receiver's thread once the step has ended, unless the
    // receiver is destroyed by then; error is set when the step raised.
    template <typename F, typename Done>
    void post(F step, QObject *receiver, Done done);

    // Steps handed over and not finished yet.
    int pendingSteps() const { return m_jobs.pending(); }

    // Sends progress(value) to the main thread (queued from a step).
    void reportProgress(int value);

    // When the reader switches modes, hands the switch back to mode 0 to the
    // cycle (ILinkCycle::restoreReaderModeLater, not waited for); releases
    // the link lock, restores paused, stops the session's thread and puts
    // the state back as before begin() (Suspended while the operator's
    // suspension is on), shown at once. Runs once.
    void end();

signals:
    void progress(int value);

private:
    // Runs job in the session's thread; with wait, returns once it is done
    // (its error raised again here).
    void runJob(std::function<void()> job, bool wait);
    bool inSessionThread() const { return m_jobs.isCurrent(); }

    class Holder;  // the foreground use of the link, living in the session's thread
    ILinkCycle &m_cycle;
    JobThread m_jobs{QStringLiteral("ServiceLinkThread")};
    std::unique_ptr<Holder> m_holder;
    bool m_begun = false;
    bool m_ended = false;
    SyncState m_stateBefore = SyncState::Offline;
    bool m_modeSwitching = false;
    bool m_serviceMode = false;
};

template <typename F>
auto ServiceSession::call(F &&step) -> std::invoke_result_t<F, SerialLink *>
{
    using R = std::invoke_result_t<F, SerialLink *>;
    SerialLink *l = link();
    if (inSessionThread())
        return step(l);
    if constexpr (std::is_void_v<R>) {
        runJob([&] { step(l); }, true);
    } else {
        std::optional<R> result;
        runJob([&] { result.emplace(step(l)); }, true);
        return std::move(*result);
    }
}

template <typename F, typename Done>
void ServiceSession::post(F step, QObject *receiver, Done done)
{
    using R = std::invoke_result_t<F, SerialLink *>;
    static_assert(!std::is_void_v<R>, "a posted step returns its result");
    SerialLink *l = link();
    QPointer<QObject> target(receiver);
    runJob(
        [this, step = std::move(step), done = std::move(done), target, l]() mutable {
            R result{};
            std::exception_ptr error;
            try {
                result = step(l);
            } catch (...) {
                error = std::current_exception();
            }
            // Delivered through the session, which lives in the main thread
            // for as long as its steps run; the receiver is looked at there.
            QMetaObject::invokeMethod(
                this,
                [done = std::move(done), result = std::move(result), error, target]() mutable {
                    if (target)
                        done(result, error);
                },
                Qt::QueuedConnection);
        },
        false);
}

// The check every write to a dosimeter starts with, in the step of the
// writes (under the session's link lock, just before the first write): the
// number of the dosimeter in the reader is read again and compared with the
// one the dialog showed. Without a number shown (its read at opening was
// ignored) there is nothing to compare: nothing is read and the write goes on.
struct DosimeterCheck {
    enum Outcome { Same, Other, Unread };
    Outcome outcome = Same;
    quint32 number = 0;  // the number read now (Same and Other)
    bool same() const { return outcome == Same; }
};
DosimeterCheck checkDosimeter(SerialLink *link, std::optional<quint32> shown);
// The box of a check that failed: "В считывателе другой дозиметр (N).
// Запись не произведена." or the number could not be read.
QString dosimeterCheckText(const DosimeterCheck &check);

// The message of an error a step raised (the program's own errors carry the
// operator's text), or a general text for anything else.
QString serviceErrorText(std::exception_ptr error);

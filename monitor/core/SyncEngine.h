#pragma once
// The synchronisation engine: keeps the local table Measures in step with the
// archive of the reader. One instance for the run, living in the main thread;
// the program entry gives it to the main window, which is its view (ISyncView),
// starts the control timer once the stored settings are restored, forwards the
// menu commands and the thread check box of the link settings window.
//
// The reader is only ever talked to outside the main thread; both modes run
// the same poll (pollRound) there. The table work and the questions to the
// operator run in the main thread while the worker waits for them; what the
// window shows reaches it queued, in order.
// Timer mode: timerControl ticks every 100 ms; every 11th counted tick hands
// a poll to the link thread (ticks are not counted while it runs, as if the
// timer waited for it). The full archive read started from the window runs
// there too.
// Thread mode (useThread()): a worker TimerThread polls on its own 100 ms
// count instead.

#include "core/JobThread.h"
#include "link/DeviceCommands.h"
#include "link/LinkCycle.h"
#include "monitor/core/FullArchiveRead.h"
#include "monitor/core/SyncState.h"
#include "monitor/core/SyncView.h"
#include "records/ReadingBuffer.h"
#include "records/ReadingStore.h"
#include "records/StoreError.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QThread;
class QTimer;
class DataModule;
class IPrompt;
class SerialLink;
class TimerThread;

// The status text while the store's server is out of reach and readings
// wait in the buffer.
QString offlineStoreText(qint64 waiting);

class SyncEngine : public QObject, public ILinkCycle {
    Q_OBJECT
public:
    // The cycle's tick: the control timer's interval in timer mode, the
    // request thread's own count in thread mode.
    static constexpr int CycleTickMs = 100;
    static constexpr int ArchiveCapacity = FullArchiveRead::ArchiveCapacity;
    static constexpr int PollPeriodTicks = 11;
    static constexpr int ClockToleranceSeconds = 150;
    static constexpr qint64 RecordTimeToleranceMs = 3000;
    static constexpr int ThreadStartTick = 4;

    explicit SyncEngine(QObject *parent = nullptr);
    ~SyncEngine() override;

    // The view the engine writes to; nullptr gives the null view. Not owned.
    void setView(ISyncView *view);
    ISyncView &view() const;

    // The database module whose tables the engine writes. Not owned; without
    // one the engine uses the program's module (dataModule()).
    void setDatabase(DataModule *dm);
    DataModule *database() const;

    // The prompt the engine's questions and messages go through (asked in the
    // main thread). Not owned; without one the unattended answers are taken.
    void setPrompt(IPrompt *prompt) { m_prompt = prompt; }
    IPrompt &prompt() const;

    // The link to the reader. Not owned; without one every command fails at once.
    void setLink(SerialLink *link);
    SerialLink *link() const override { return m_link; }

    // The reader's configuration as the last poll read it (the clock as the
    // engine last wrote it), and the bus address of the reader that answered
    // last (0 before any answer). Any thread.
    ReaderConfigData readerConfig() const;
    quint32 responderAddress() const { return m_responder.load(); }
    void setReaderConfig(const ReaderConfigData &rec);

    // ---- What the cycle is doing, and the commands that change it ----
    // A copy of the cycle's state taken now (any thread).
    SyncSnapshot snapshot() const;
    // The copy position of the reader whose Devices row is mirrored
    // (loadedAddress): its last copied record. Main thread.
    ReaderPosition position() const;
    void setPosition(const ReaderPosition &position);
    // Sets or clears paused; returns what it was (a foreground operation
    // puts it back when it ends).
    bool setPaused(bool paused) override;
    // The state a service flow leaves the cycle in.
    void setState(SyncState state) override;
    // ---- What a foreground operation needs besides (ILinkCycle) ----
    SyncState state() const override { return m_state.load(); }
    bool readerSwitchesModes() const override { return m_readerModeSwitching.load() > 0; }
    void restoreState(SyncState before) override;
    void showState() override;
    void showStatusText(const QString &text) override;
    // Set by the window until its first activation and from its close on.
    void setFaceNotReady(bool notReady);
    // The names-out-of-step flag: restored from the stored settings, set
    // when a journal or label change leaves names to synchronise.
    void setNamesOutOfStep(bool outOfStep);
    void markNamesOutOfStep() { setNamesOutOfStep(true); }
    // The Measures.Index the stored settings remember as the last appended.
    void setLastStoredIndex(int index);
    // What the polls find out about the reader, set directly: for tests and
    // benchmarks that stand in for a poll.
    void setReaderFindings(bool normalMode, bool busy, bool modeSwitching);
    // Test hooks standing in for the cycle's own counters and its retry.
    void setTickCount(int ticks);
    void setThreadStartTicks(int ticks);
    void setReaderModeRestorePending(bool pending);

    // ---- Control timer ----
    QTimer *timerControl() const;
    // Enables the control timer (the main window does it once the stored
    // settings are restored). Until then catchUp and the full read leave the
    // timer off when they are done.
    void startControlTimer();
    void timerControlTimer();  // the tick, every CycleTickMs

    // ---- The cycle ----
    // One timer-mode poll. From the main thread it runs in the link thread and
    // returns when it is done (window events go on meanwhile).
    void pollReader();
    // A timer-mode poll handed to the link thread is under way.
    bool pollUnderWay() const { return m_linkThread.pending() > 0; }
    void loadDeviceRow(bool fromThread = false);
    void catchUp();
    // True when the record is in Measures afterwards (stored now or before).
    bool storeArchiveRecord(int number, int progressIndex, int progressTotal);
    void checkReaderClock();

    // ---- Commands of the "Сервис" menu ----
    // The full archive read (a FullArchiveRead). From the main thread it runs
    // in the link thread and returns when it is done (window events go on
    // meanwhile).
    void readFullArchive();
    void syncNamesFromJournal();
    void askNameSync(bool extNotesDown);

    // "Приостановить синхронизацию": checked → state 3, unchecked → 0.
    void setStopSynchro(bool checked);
    bool stopSynchroChecked() const;

    // ---- Request thread ----
    // The check box "Использовать отдельный поток", read at every tick.
    void setUseThread(bool on);
    bool useThread() const;
    // The thread start count := 0: the tick starts a worker four ticks later.
    void requestThreadStart();
    // Sets paused, waits waitMs (window events are processed), tells the
    // worker to terminate, forgets it, clears paused. Never blocks on a
    // worker that waits for a hand-off.
    void stopThread(int waitMs = 200);
    // A current worker exists (one that has not been told to terminate).
    bool threadRunning() const;
    // Any worker thread still runs, also one told to terminate that has not
    // ended its round yet. The tick does not poll while this is true.
    bool workerAlive() const;
    // Window close: tell the worker to terminate and wait 200 ms. A pass under
    // way (a catch-up or a full read) saves the position of its last stored
    // record now; afterwards the engine writes no tables and leaves the
    // control timer off.
    void shutDown();
    // Tests and the end of the program: waits (processing window events) until
    // every worker has ended and the link thread has nothing under way; false
    // when one still runs after timeoutMs.
    bool waitForWorkers(int timeoutMs);

    // Shows the suspension (queued from another thread).
    void showSuspendedText();
    // The end of a service flow on a reader that switches modes: sets
    // the restore-pending flag and hands one switch back to mode 0 to the link
    // thread without waiting for it; when it fails, the cycle's polls retry it.
    void restoreReaderModeLater() override;
    // ---- Run in the main thread ----
    void reportRangeError();
    // "Ошибка чтения и обработки" in the status label and the events log; the
    // log line carries the system's own text when the error came from the system.
    void reportReadError(const QString &systemText = QString());
    // A store failure with a cause the operator can act on (disk full, a table
    // held by another program, no right to write): "Ошибка чтения и обработки:
    // <cause>" in the status label at every failure, in the events log (with
    // the database's text) only when the cause differs from the one reported
    // last; a pass that ends without error forgets it. Other causes go to
    // reportReadError.
    void reportStoreError(StoreCause cause, const QString &databaseText);
    // The port that cannot be opened, named in the status label and the log
    // (the link raises that failure once per run).
    void reportPortError();
    QString portFailureText() const;
    // The report of an error of a poll or of its follow-up step, by its kind.
    void reportError(std::exception_ptr error);

    // Time spent in the table work of storeArchiveRecord (duplicate check and
    // append) since the start or the last reset, in nanoseconds (benchmarks).
    qint64 storeDatabaseNs() const { return m_storeDbNs; }
    qint64 storeLookupNs() const { return m_storeLookupNs; }  // the duplicate check alone
    int storedRecordCalls() const { return m_storeCalls; }
    void resetStoreStatistics()
    {
        m_storeDbNs = 0;
        m_storeLookupNs = 0;
        m_storeCalls = 0;
    }

    // Waits ms milliseconds in a local event loop that leaves out the
    // operator's input (the worker's hand-offs and the ticks go on).
    static void waitProcessing(int ms);

signals:
    // The suspension state changed (the menu item follows it).
    void stopSynchroChanged(bool checked);
    // The name synchronisation rewrote Measures and Notes.
    void namesSynchronised();

private:
    class ArchiveReadHost;  // what a FullArchiveRead sees of the engine
    class QueuedView;
    // One tick of a request thread (TimerThread): nothing while paused, the
    // suspension text once while suspended, otherwise a poll at every
    // PollPeriodTicks-th counted tick (polled := true first) and the
    // follow-up step at the others. suspendedTextDue is the worker's own.
    void workerTick(bool &suspendedTextDue, bool &polled);
    void restartWorker();
    void writeDevicePosition();
    // The buffer of readings that wait for the server, in the data directory
    // of the module given (main thread).
    ReadingBuffer &buffer(DataModule &dm);
    // The poll of both modes, run outside the main thread: the exchange with
    // the reader, then the follow-up step.
    void pollRound(bool threadMode);
    void pollExchange(bool threadMode);
    // What a poll's findings lead to: the reader's Devices row, the catch-up.
    // Thread mode runs it at every counted tick, repainting after a poll.
    void followUp(bool threadMode, bool polled);
    // Runs step in the main thread; from another thread it waits for it and
    // raises again what it raised there. False (nothing run) once the calling
    // worker is told to terminate or the engine is going.
    bool onMain(const std::function<void()> &step);
    // Hands job to the link thread; with wait, returns once it is done (its
    // error raised again here) while the event loop runs.
    void runOnLinkThread(std::function<void()> job, bool wait);
    // The view for code that may run outside the main thread: its calls reach
    // the view queued, in order (directly in the main thread).
    ISyncView &out() const;
    // The calling worker has been told to end.
    static bool interrupted();
    // The worker's writes of the state: skipped (false) once the operator has
    // suspended synchronisation, so a poll under way never undoes it.
    bool workerSetState(SyncState state);
    // A failed switch of the reader back to mode 0 is retried by every poll
    // that read the configuration; an error of the retry is ignored.
    void retryReaderModeRestore();
    // The configuration read of a poll: the reader's busy and mode-switching
    // flags follow it, the configuration and the responder are kept.
    bool readConfig();
    // The presence query of a poll; the responder is kept.
    bool ping();
    // Keeps the address a command's reply came from.
    void noteResponder(const std::optional<quint32> &address);

    // ---- The cycle's state (see SyncSnapshot; atomic: any thread) ----
    std::atomic<SyncState> m_state{SyncState::Offline};
    std::atomic<bool> m_paused{false};
    std::atomic<bool> m_faceNotReady{true};
    std::atomic<bool> m_namesOutOfStep{false};
    std::atomic<bool> m_readerNormalMode{false};
    std::atomic<bool> m_readerBusy{false};
    std::atomic<int> m_readerModeSwitching{0};
    std::atomic<bool> m_modeRestorePending{false};
    std::atomic<bool> m_clockQuestionAsked{false};
    std::atomic<int> m_tickCount{0};
    std::atomic<int> m_threadStartTicks{0};
    std::atomic<int> m_lastRecNumber{0};  // mirror of Devices.lastRecNumber of m_loadedAddress
    QDateTime m_lastRecTime;              // mirror of Devices.lastRecTime (main thread)
    std::atomic<int> m_loadedAddress{0};
    std::atomic<int> m_lastStoredIndex{0};

    ISyncView *m_view = nullptr;
    std::unique_ptr<NullSyncView> m_nullView;
    DataModule *m_dm = nullptr;
    SerialLink *m_link = nullptr;
    IPrompt *m_prompt = nullptr;
    mutable QMutex m_readerMutex;
    ReaderConfigData m_readerConfig;  // under m_readerMutex
    std::atomic<quint32> m_responder{0};
    QTimer *m_timer = nullptr;
    bool m_timerStarted = false;
    std::atomic<bool> m_stopSynchro{false};
    QMutex m_stateMutex;
    std::atomic<bool> m_useThread{false};
    qint64 m_storeDbNs = 0;
    qint64 m_storeLookupNs = 0;
    int m_storeCalls = 0;
    QPointer<TimerThread> m_worker;
    std::vector<QPointer<TimerThread>> m_retired;
    std::unique_ptr<QueuedView> m_out;
    JobThread m_linkThread{QStringLiteral("LinkThread")};
    std::atomic<bool> m_closing{false};  // the engine is being destroyed
    bool m_clockQuestionOpen = false;    // main thread
    std::atomic<int> m_passDepth{0};     // catch-ups and full reads under way
    std::atomic<bool> m_shutDown{false}; // shutDown has run
    std::atomic<int> m_reportedStoreCause{0};  // StoreCause last logged; Other: none
    std::unique_ptr<ReadingBuffer> m_buffer;   // main thread

    // Counts a catch-up or a full read while it runs.
    struct PassUnderWay {
        explicit PassUnderWay(SyncEngine &e) : engine(e) { ++engine.m_passDepth; }
        ~PassUnderWay() { --engine.m_passDepth; }
        PassUnderWay(const PassUnderWay &) = delete;
        PassUnderWay &operator=(const PassUnderWay &) = delete;
        SyncEngine &engine;
    };
};

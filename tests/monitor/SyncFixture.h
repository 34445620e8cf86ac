#pragma once
// The synchronisation engine against the simulated reader on a
// pseudo-terminal and a real database in a temporary program directory, with
// a view that records everything the engine shows.

#include "monitor/core/SyncEngine.h"
#include "monitor/core/SyncView.h"
#include "records/DataModule.h"

#include "ReaderLinkSetup.h"
#include "ScriptedPrompt.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

class RecordingView : public ISyncView {
public:
    QStringList statusTexts;
    QList<QPair<int, int>> progress;
    int indicatorUpdates = 0;
    int heartbeats = 0;
    QString heartbeatText;
    QList<int> statesPainted;  // the engine's syncState at every updateStateIndicator
    const SyncEngine *engine = nullptr;

    void setStatusText(const QString &text) override { statusTexts << text; }
    void setProgress(int index, int total) override { progress << qMakePair(index, total); }
    void updateStateIndicator() override;
    void pulseHeartbeat() override
    {
        ++heartbeats;
        heartbeatText = nextHeartbeatText(heartbeatText);
    }
    void clear()
    {
        statusTexts.clear();
        progress.clear();
        indicatorUpdates = 0;
        heartbeats = 0;
        statesPainted.clear();
    }
    int count(const QString &text) const { return statusTexts.count(text); }
};

// One row of Measures as the tests look at it.
struct MeasureRow {
    int index = 0;
    int address = 0;
    int recNumber = 0;
    QDateTime time;
    int id = 0;
    QString name;
    double dose = 0;
    QDateTime recoveryTime;
    QString fio;
    QVariant check;
};

class SyncRig : public ReaderLinkSetup {
public:
    SyncRig();
    ~SyncRig();

    // Opens the database; with a reader, also starts the simulated reader and
    // points the link at it. False when something cannot be set up.
    bool start(bool withReader = true);

    ScriptedPrompt prompt;
    DataModule dm;
    RecordingView view;
    SyncEngine engine;

    // The Devices row of an address: (lastRecNumber, lastRecTime); lastRecNumber
    // -1 when there is none.
    QPair<int, QDateTime> device(int address);
    void setDevice(int address, int lastRecNumber, const QDateTime &lastRecTime);
    // Remembers the reader's record `number` as the position of its address.
    void rememberRecord(int number, qint64 timeShiftMs = 0);

    QList<MeasureRow> measures();   // every row in Index order
    QList<int> recNumbers();        // RecNumber of every row in Index order
    int measuresCount();
    int addMeasure(const QDateTime &time, int id, double dose, int recNumber = 0, int address = 0,
                   const QString &fio = QString());
    int addNote(int id, const QVariant &from, const QVariant &to, const QString &fio);
    QVariant noteDose(int key);

    int address() const { return static_cast<int>(sim.address()); }
};

// A date-time of today at h:m (tests of the names).
QDateTime at(int h, int m, int s = 0);

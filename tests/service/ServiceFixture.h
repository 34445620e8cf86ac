#pragma once
// The set-up the service tests share (the dosimeter options, the label write
// and the metrology and spectrum tests): the simulated reader on a
// pseudo-terminal with a dosimeter inserted, the link pointed at it, an
// engine over that link and a scripted prompt. The reader answers at once
// and the link makes one attempt per request, so a lost reply costs one
// window.

#include "ReaderLinkSetup.h"
#include "ScriptedPrompt.h"
#include "monitor/core/SyncEngine.h"

#include <QByteArray>
#include <QList>

class ServiceFixture {
public:
    // modeSwitching: the reader needs service mode 1 for the dosimeter, and
    // the engine knows it (as the cycle's configuration read would have set).
    explicit ServiceFixture(bool modeSwitching = false, int repeats = 0);
    ~ServiceFixture();
    bool start();  // false: no pseudo-terminal here

    ReaderLinkSetup setup;
    SyncEngine engine;
    ScriptedPrompt prompt;

    SimReader &sim() { return setup.sim; }
    // The request frames the reader has seen since the last clearLog().
    QList<QByteArray> requests() const { return setup.sim.requestLog(); }
    void clearLog() { setup.sim.clearLogs(); }

    // A request frame of the monitor, as the link sends it.
    static QByteArray request(quint8 function, quint8 selector, const QByteArray &body);
    static QByteArray modeRequest(quint8 mode);
    static QByteArray configRequest();
    // Requests of a kind: reader mode, configuration reads.
    static int countOf(const QList<QByteArray> &log, const QByteArray &request);
};

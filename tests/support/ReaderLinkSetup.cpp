#include "ReaderLinkSetup.h"

#include "core/AppState.h"
#include "core/TextCode.h"

#include <QFile>

ReaderLinkSetup::ReaderLinkSetup(int repeats)
{
    appState().reset();
    appState().programDir = dir.path() + QLatin1Char('/');
    appState().eventsLogEnabled = true;
    link.setComPortIndex(-1);
    link.setPingDelayMs(PingWindowMs);
    link.setSendDelayMs(SendWindowMs);
    link.setBaseRequestCount(repeats);
    link.setFixedReceiveWindow(false);
}

ReaderLinkSetup::~ReaderLinkSetup()
{
    sim.stop();
    appState().reset();
}

bool ReaderLinkSetup::startReader()
{
    if (!sim.start())
        return false;
    link.setPortName(sim.portPath());
    return true;
}

QStringList ReaderLinkSetup::logLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = fromCp1251(f.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList ReaderLinkSetup::rs232Lines() const
{
    return logLines(appState().programDir + QStringLiteral("rs232.log"));
}

QStringList ReaderLinkSetup::eventLines() const
{
    return logLines(appState().programDir + QStringLiteral("Events.log"));
}

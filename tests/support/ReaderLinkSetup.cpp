#include "ReaderLinkSetup.h"

#include "core/AppState.h"
#include "core/TextCode.h"

#include <QFile>

ReaderLinkSetup::ReaderLinkSetup(int repeats)
{
    App().reset();
    App().ProgramDir = dir.path() + QLatin1Char('/');
    App().EventsLogEnabled = true;
    link.setComPortIndex(-1);
    link.setPingDelayMs(PingWindowMs);
    link.setSendDelayMs(SendWindowMs);
    link.setBaseRequestCount(repeats);
    link.setFixedReceiveWindow(false);
}

ReaderLinkSetup::~ReaderLinkSetup()
{
    sim.stop();
    App().reset();
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
    QStringList lines = FromCp1251(f.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QStringList ReaderLinkSetup::rs232Lines() const
{
    return logLines(App().ProgramDir + QStringLiteral("rs232.log"));
}

QStringList ReaderLinkSetup::eventLines() const
{
    return logLines(App().ProgramDir + QStringLiteral("Events.log"));
}

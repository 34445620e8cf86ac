#include "core/LinkSettings.h"

void LinkSettings::setPort(const RS232StoredValues &port)
{
    if (port == m_port)
        return;
    m_port = port;
    emit portChanged();
}

void LinkSettings::setComPortIndex(int index)
{
    RS232StoredValues p = m_port;
    p.comPortItemIndex = index;
    setPort(p);
}

void LinkSettings::setUseThread(bool useThread)
{
    RS232StoredValues p = m_port;
    p.useThread = useThread;
    setPort(p);
}

void LinkSettings::setTiming(const TimingValues &timing)
{
    if (timing == m_timing)
        return;
    m_timing = timing;
    emit timingChanged();
}

void LinkSettings::read(const IniFile &ini)
{
    RS232StoredValues p = m_port;
    readRS232Values(ini, p);
    TimingValues t = m_timing;
    readTimingValues(ini, t);
    setPort(p);
    setTiming(t);
}

void LinkSettings::writePort(IniFile &ini) const
{
    RS232StoredValues p = m_port;
    if (m_portNameInUse)
        p.portName = m_portNameInUse();
    writeRS232Values(ini, p);
}

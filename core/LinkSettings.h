#pragma once
// The link's settings as the program works with them: the port choice
// (section "TRS232") and the timing values (keys of section "TFace"), each a
// value that tells when it changes. The program entry reads them from the
// settings file and makes the link follow them (followLinkSettings in
// link/SerialLink.h); the link settings window only edits them. No window is
// needed to configure the link.

#include "core/Settings.h"

#include <QObject>
#include <functional>

class LinkSettings : public QObject {
    Q_OBJECT
public:
    explicit LinkSettings(QObject *parent = nullptr) : QObject(parent) {}

    const RS232StoredValues &port() const { return m_port; }
    // portChanged() when the values differ from the current ones.
    void setPort(const RS232StoredValues &port);
    void setComPortIndex(int index);
    void setUseThread(bool useThread);

    const TimingValues &timing() const { return m_timing; }
    // timingChanged() when the values differ from the current ones.
    void setTiming(const TimingValues &timing);

    // Both groups from the settings file; missing keys keep the current
    // values (readRS232Values, readTimingValues).
    void read(const IniFile &ini);
    // The port choice into section "TRS232". The port name written is the one
    // the link uses at that moment when a source is set (opening a COM port
    // by number names the link's port after it), else the stored one.
    void writePort(IniFile &ini) const;
    void setPortNameInUse(std::function<QString()> source) { m_portNameInUse = std::move(source); }

signals:
    void portChanged();
    void timingChanged();

private:
    RS232StoredValues m_port;
    TimingValues m_timing;
    std::function<QString()> m_portNameInUse;
};

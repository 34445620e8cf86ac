#include "link/LinkSettingsBinding.h"

#include "core/LinkSettings.h"
#include "link/SerialLink.h"

#include <memory>

void followLinkSettings(SerialLink &link, LinkSettings &settings)
{
    if (settings.port().portName.isEmpty()) {
        RS232StoredValues p = settings.port();
        p.portName = link.portName();
        settings.setPort(p);
    }
    // The name goes to the link only when the settings name another one: an
    // open by number may have renamed the link's port meanwhile.
    auto appliedName = std::make_shared<QString>();
    auto applyPort = [&link, &settings, appliedName] {
        const RS232StoredValues &p = settings.port();
        if (!p.portName.isEmpty() && p.portName != *appliedName) {
            link.setPortName(p.portName);
            *appliedName = p.portName;
        }
        link.setComPortIndex(p.comPortItemIndex);
    };
    auto applyTiming = [&link, &settings] {
        const TimingValues &t = settings.timing();
        link.setPingDelayMs(t.pingDelayMS);
        link.setSendDelayMs(t.sendDelayMS);
        link.setBaseRequestCount(t.baseRequestCount);
        link.setFixedReceiveWindow(t.fixedReceiveWindow);
    };
    QObject::connect(&settings, &LinkSettings::portChanged, &settings, applyPort);
    QObject::connect(&settings, &LinkSettings::timingChanged, &settings, applyTiming);
    settings.setPortNameInUse([&link] { return link.portName(); });
    applyPort();
    applyTiming();
}

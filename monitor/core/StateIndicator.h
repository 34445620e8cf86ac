#pragma once
// The look of the connection-state indicator and the enable rule of the
// dosimeter service commands, worked out from the shared state without any
// widget. The main window paints what this returns.

#include "monitor/core/SyncState.h"

#include <QString>
#include <QtGlobal>

enum class ServiceCommands { Keep, Enable, Disable };

struct StateLook {
    bool systemFace = false;  // the colour is the system button face
    quint32 rgb = 0;          // 0xRRGGBB when not the system face
    int picture = -1;         // picture of the indicator strip; -1 draws none
    QString statusText;       // text of the status panel; empty leaves it
    QString infoText;         // text for the status label; empty leaves it
    ServiceCommands service = ServiceCommands::Keep;
};

// Indicator strip: 61 pictures, 0 connected, 0..58 the exchange animation, 60 idle.
constexpr int StateStripCount = 61;
constexpr int StateStripConnected = 0;
constexpr int StateStripIdle = 60;
constexpr int StateStripAnimation = 59;

StateLook computeStateLook(SyncState syncState, bool readerBusy, bool readerNormalMode, int readerModeSwitching,
                           int tickCount);

// Remembers the state painted last so the colour is repainted only on a
// change of state. The first call always paints.
class StateColourTracker {
public:
    bool changed(int syncState)
    {
        if (syncState == m_last)
            return false;
        m_last = syncState;
        return true;
    }
    void forget() { m_last = -1; }

private:
    int m_last = -1;
};

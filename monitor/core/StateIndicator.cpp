#include "StateIndicator.h"

StateLook computeStateLook(SyncState syncState, bool readerBusy, bool readerNormalMode, int readerModeSwitching,
                           int tickCount)
{
    StateLook look;
    switch (syncState) {
    case SyncState::Offline:
        look.systemFace = true;
        look.picture = StateStripIdle;
        look.statusText = QStringLiteral("Нет соединения");
        look.service = ServiceCommands::Disable;
        break;
    case SyncState::Online:
        look.rgb = 0xA0FFA0;
        look.picture = StateStripConnected;
        look.statusText = QStringLiteral("Соединение есть");
        if (readerBusy)
            look.infoText = QStringLiteral("Прибор занят");
        look.service = (readerNormalMode && readerModeSwitching <= 0) ? ServiceCommands::Disable
                                                                     : ServiceCommands::Enable;
        break;
    case SyncState::Exchanging: {
        look.rgb = 0xA0A0FF;
        int n = tickCount % StateStripAnimation;
        if (n < 0)
            n += StateStripAnimation;
        look.picture = n;
        look.statusText = QStringLiteral("Обмен данными");
        look.service = ServiceCommands::Keep;
        break;
    }
    case SyncState::Suspended:
        look.rgb = 0xFFFFA0;
        look.picture = StateStripIdle;
        look.statusText = QStringLiteral("Соединение приостановлено");
        look.service = ServiceCommands::Enable;
        break;
    default:
        look.rgb = 0x808080;
        break;
    }
    return look;
}

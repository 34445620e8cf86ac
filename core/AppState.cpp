#include "AppState.h"

void AppState::reset()
{
    SyncState = SyncOffline;
    SyncPaused = false;
    FaceNotReady = true;
    EventsLogEnabled = false;
    Rs232LogEnabled = false;
    INeedSynhroFIO = false;
    MaxCardsIndex = 0;
    ProgramDir.clear();
    CommandLineText.clear();
}

AppState &App()
{
    static AppState state;
    return state;
}

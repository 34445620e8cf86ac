#include "AppState.h"

void AppState::reset()
{
    eventsLogEnabled = false;
    rs232LogEnabled = false;
    programDir.clear();
    commandLineText.clear();
}

AppState &appState()
{
    static AppState state;
    return state;
}

#include "AppState.h"

void AppState::reset()
{
    EventsLogEnabled = false;
    Rs232LogEnabled = false;
    ProgramDir.clear();
    CommandLineText.clear();
}

AppState &appState()
{
    static AppState state;
    return state;
}

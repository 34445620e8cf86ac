#include "AppState.h"

void AppState::reset()
{
    EventsLogEnabled = false;
    Rs232LogEnabled = false;
    ProgramDir.clear();
    CommandLineText.clear();
}

AppState &App()
{
    static AppState state;
    return state;
}

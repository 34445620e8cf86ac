#pragma once
// The main window with its link settings window and engine, as the program
// builds them, for the tests that drive the real windows offscreen.

#include "ScriptedPrompt.h"
#include "core/LinkSettings.h"
#include "link/SerialLink.h"
#include "monitor/core/SyncEngine.h"
#include "monitor/ui/LinkSettingsWindow.h"
#include "monitor/ui/MainWindow.h"

#include <QLatin1String>
#include <QObject>
#include <QtGlobal>

// A control of a window by its object name (the design's name).
template <class T>
T *control(const QObject &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("the window has no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

struct FaceRig {
    PromptInForce prompt;  // the one prompt of the run, as the program hands it out
    SyncEngine engine;
    SerialLink link;
    LinkSettings settings;  // the link follows them, as in the program
    MainWindow face;
    LinkSettingsWindow *rs232;
    FaceRig();
    // Shows the window and stops the control timer its first showing started,
    // so no poll changes the state while a test looks at it.
    bool show();
    ~FaceRig();
};

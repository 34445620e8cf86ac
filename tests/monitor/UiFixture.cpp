#include "UiFixture.h"

#include "link/LinkSettingsBinding.h"

#include <QComboBox>
#include <QTest>
#include <QTimer>

FaceRig::FaceRig() : face(QString())
{
    followLinkSettings(link, settings);
    rs232 = new LinkSettingsWindow(settings, &face);
    face.setEngine(&engine);
    engine.setView(&face);
    face.setPrompt(&prompt);
    engine.setPrompt(&prompt);
    engine.setLink(&link);
    face.setLinkSettingsWindow(rs232);
    // No reader here: the cycle's polls find no port and change nothing.
    RS232StoredValues port = settings.port();
    port.portName = QStringLiteral("/nonexistent/ttyRUVO");
    port.comPortItemIndex = -1;
    settings.setPort(port);
}

bool FaceRig::show()
{
    face.show();
    const bool exposed = QTest::qWaitForWindowExposed(&face);
    engine.timerControl()->stop();
    return exposed;
}

FaceRig::~FaceRig()
{
    engine.setView(nullptr);
}

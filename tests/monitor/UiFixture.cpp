#include "UiFixture.h"

#include <QComboBox>
#include <QTest>
#include <QTimer>

FaceRig::FaceRig() : face(QString()), rs232(new LinkSettingsWindow(link, &face))
{
    face.setEngine(&engine);
    engine.setView(&face);
    face.setPrompt(&prompt);
    engine.setPrompt(&prompt);
    engine.setLink(&link);
    face.setLinkSettingsWindow(rs232);
    // No reader here: the cycle's polls find no port and change nothing.
    rs232->link().setPortName(QStringLiteral("/nonexistent/ttyRUVO"));
    rs232->findChild<QComboBox *>(QStringLiteral("CB_ComPort"))->setCurrentIndex(-1);
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

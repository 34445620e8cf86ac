#include "LinkE2EFixture.h"

#include "core/AppState.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

LinkE2EFixture::LinkE2EFixture() : ReaderLinkSetup(3)
{
    appState().rs232LogEnabled = true;
}

void LinkE2EFixture::clearLogs()
{
    QFile::remove(appState().programDir + QStringLiteral("rs232.log"));
    QFile::remove(appState().programDir + QStringLiteral("Events.log"));
    sim.clearLogs();
}

QString LinkE2EFixture::binary(const QString &name)
{
    QString dirPath = qEnvironmentVariable("RUVO_BIN_DIR");
    if (dirPath.isEmpty())
        dirPath = QCoreApplication::applicationDirPath();
    const QString path = QDir(dirPath).filePath(name);
    return QFileInfo(path).isExecutable() ? path : QString();
}

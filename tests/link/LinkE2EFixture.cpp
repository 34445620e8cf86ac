#include "LinkE2EFixture.h"

#include "core/AppState.h"
#include "core/TextCode.h"
#include "link/URUVOProtocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = FromCp1251(f.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
} // namespace

LinkE2EFixture::LinkE2EFixture()
{
    App().reset();
    App().ProgramDir = dir.path() + QLatin1Char('/');
    App().Rs232LogEnabled = true;
    App().EventsLogEnabled = true;
    ResetLinkValues();
    link.ComPortIndex = -1;
    link.PingDelayMS = PingWindowMs;
    link.SendDelayMS = SendWindowMs;
    link.BaseRequestCount = 3;
    link.FixedReceiveWindow = false;
}

LinkE2EFixture::~LinkE2EFixture()
{
    SetRS232Link(nullptr);
    sim.stop();
    App().reset();
}

bool LinkE2EFixture::start()
{
    if (!sim.start())
        return false;
    link.SetPortName(sim.portPath());
    SetRS232Link(&link);
    return true;
}

QStringList LinkE2EFixture::rs232Lines() const
{
    return readLines(App().ProgramDir + QStringLiteral("rs232.log"));
}

QStringList LinkE2EFixture::eventLines() const
{
    return readLines(App().ProgramDir + QStringLiteral("Events.log"));
}

void LinkE2EFixture::clearLogs()
{
    QFile::remove(App().ProgramDir + QStringLiteral("rs232.log"));
    QFile::remove(App().ProgramDir + QStringLiteral("Events.log"));
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

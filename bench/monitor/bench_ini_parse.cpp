// Reading the settings file at start: loading RUVO.INI and reading the main
// window's and the link settings window's values, for a file of 20 000 keys
// and for files of 19 MB (the bulk in a list section of a window, and in a
// section no window reads).

#include "bench/BenchFigures.h"
#include "core/IniFile.h"
#include "core/Settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

namespace {

QByteArray knownPart()
{
    return QByteArrayLiteral("[TFace]\r\nLastReadedIndex=12\r\nPingDelayMS=300\r\n\r\n"
                             "[TRS232]\r\nCommPort_PortName=/dev/ttyUSB0\r\nCB_ComPort_ItemIndex=-1\r\n\r\n");
}

QByteArray bulk(const QByteArray &section, qint64 keys, qint64 bytes)
{
    QByteArray out = "[" + section + "]\r\n";
    for (qint64 i = 0; (keys <= 0 || i < keys) && (bytes <= 0 || out.size() < bytes); ++i)
        out += "Item" + QByteArray::number(i) + "=filter line number " + QByteArray::number(i) + "\r\n";
    return out;
}

void measure(const QString &what, const QString &path, const QByteArray &content)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    f.close();
    FaceStoredValues face;
    RS232StoredValues port;
    const double t = ms([&] {
        IniFile ini(path);
        readFaceValues(ini, face);
        readRS232Values(ini, port);
    });
    line(QStringLiteral("%1 (%2 bytes)").arg(what).arg(content.size()), t);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("RUVO.INI"));
    measure(QStringLiteral("20 000 keys in one list section"), path,
            knownPart() + bulk("TMeasureFiltr.VLE_Filters_Strings", 20000, 0));
    measure(QStringLiteral("19 MB, bulk in a list section"), path,
            knownPart() + bulk("TMeasureFiltr.VLE_Filters_Strings", 0, 19 * 1024 * 1024));
    measure(QStringLiteral("19 MB, bulk in a section no window reads"), path,
            knownPart() + bulk("Unknown", 0, 19 * 1024 * 1024));
    return 0;
}

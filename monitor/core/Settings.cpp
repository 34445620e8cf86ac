#include "Settings.h"

#include "core/LogFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

const QString SectionFace = QStringLiteral("TFace");
const QString SectionRS232 = QStringLiteral("TRS232");

const LinkValueRange PingDelayRange{50, 10000, 300};
const LinkValueRange SendDelayRange{100, 60000, 2000};
const LinkValueRange BaseRequestCountRange{0, 10, 3};

namespace {

// A link value: out of its range (a window so long that one lost request
// blocks the program, none at all, endless repeats) it falls back to the
// default; the operator's text is kept for the file.
int ReadLinkValue(const TIniFile &ini, const QString &key, const LinkValueRange &range, int current,
                  QMap<QString, QString> &kept)
{
    kept.remove(key);
    const int value = ini.readInteger(SectionFace, key, current);
    if (value >= range.low && value <= range.high)
        return value;
    const QString text = ini.readString(SectionFace, key);
    kept.insert(key, text);
    logEvent(QStringLiteral("Настройки: [%1] %2=%3 вне пределов %4..%5, используется %6")
                 .arg(SectionFace, key, text)
                 .arg(range.low)
                 .arg(range.high)
                 .arg(range.fallback));
    return range.fallback;
}

} // namespace

QString SettingsFileName(const QString &programFilePath)
{
    QString base = QFileInfo(programFilePath).completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("RUVO");
    return base + QStringLiteral(".INI");
}

QString SettingsFilePath(const QString &programFilePath)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (dir.isEmpty())
        dir = QDir::homePath();
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + SettingsFileName(programFilePath);
}

void ReadFaceValues(const TIniFile &ini, FaceStoredValues &v)
{
    const QString &s = SectionFace;
    v.LastReadedIndex = ini.readInteger(s, QStringLiteral("LastReadedIndex"), 0);
    v.LastCheckedIndex = ini.readInteger(s, QStringLiteral("LastCheckedIndex"), 0);
    v.MaxCardsIndex = ini.readInteger(s, QStringLiteral("MaxCardsIndex"), 0);
    v.PingDelayMS = ReadLinkValue(ini, QStringLiteral("PingDelayMS"), PingDelayRange, v.PingDelayMS, v.KeptAsWritten);
    v.SendDelayMS = ReadLinkValue(ini, QStringLiteral("SendDelayMS"), SendDelayRange, v.SendDelayMS, v.KeptAsWritten);
    v.BaseRequestCount = ReadLinkValue(ini, QStringLiteral("BaseRequestCount"), BaseRequestCountRange,
                                       v.BaseRequestCount, v.KeptAsWritten);
    v.INeedSynhroFIO = ini.readInteger(s, QStringLiteral("INeedSynhroFIO"), 0) == 1;
    v.FixedReceiveWindow = ini.readInteger(s, QStringLiteral("FixedReceiveWindow"), v.FixedReceiveWindow ? 1 : 0) == 1;
}

void WriteFaceValues(TIniFile &ini, const FaceStoredValues &v)
{
    const QString &s = SectionFace;
    ini.writeInteger(s, QStringLiteral("LastReadedIndex"), v.LastReadedIndex);
    ini.writeInteger(s, QStringLiteral("LastCheckedIndex"), v.LastCheckedIndex);
    ini.writeInteger(s, QStringLiteral("MaxCardsIndex"), v.MaxCardsIndex);
    auto writeLinkValue = [&](const QString &key, int value) {
        if (v.KeptAsWritten.contains(key))
            ini.writeString(s, key, v.KeptAsWritten.value(key));
        else
            ini.writeInteger(s, key, value);
    };
    writeLinkValue(QStringLiteral("PingDelayMS"), v.PingDelayMS);
    ini.writeInteger(s, QStringLiteral("FixedReceiveWindow"), v.FixedReceiveWindow ? 1 : 0);
    writeLinkValue(QStringLiteral("SendDelayMS"), v.SendDelayMS);
    writeLinkValue(QStringLiteral("BaseRequestCount"), v.BaseRequestCount);
    ini.writeInteger(s, QStringLiteral("INeedSynhroFIO"), v.INeedSynhroFIO ? 1 : 0);
}

namespace {

bool ParseFour(const QString &text, int out[4])
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return false;
    }
    for (int i = 0; i < 4; ++i)
        out[i] = values[i];
    return true;
}

QString JoinFour(const int v[4])
{
    return QStringLiteral("%1,%2,%3,%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
}

} // namespace

bool ReadPlacement(const TIniFile &ini, const QString &section, FormPlacement &p, bool withActiveControl)
{
    if (!ini.valueExists(section, QStringLiteral("NormPos")))
        return false;
    FormPlacement r;
    r.FormVersion = ini.readInteger(section, QStringLiteral("FormVersion"), -1);
    if (r.FormVersion < 0)
        return false;
    r.Flags = ini.readInteger(section, QStringLiteral("Flags"), 0);
    r.ShowCmd = ini.readInteger(section, QStringLiteral("ShowCmd"), 1);
    r.PixelsPerInch = ini.readInteger(section, QStringLiteral("PixelsPerInch"), 0);
    r.Visible = ini.readInteger(section, QStringLiteral("Visible"), 0);
    if (!ParseFour(ini.readString(section, QStringLiteral("NormPos")), r.NormPos))
        return false;
    if (r.width() <= 0 || r.height() <= 0)
        return false;
    ParseFour(ini.readString(section, QStringLiteral("MinMaxPos")), r.MinMaxPos);
    if (withActiveControl)
        r.ActiveControl = ini.readString(section, QStringLiteral("ActiveControl"));
    p = r;
    return true;
}

void WritePlacement(TIniFile &ini, const QString &section, const FormPlacement &p, bool withActiveControl)
{
    ini.writeInteger(section, QStringLiteral("FormVersion"), p.FormVersion);
    ini.writeInteger(section, QStringLiteral("Flags"), p.Flags);
    ini.writeInteger(section, QStringLiteral("ShowCmd"), p.ShowCmd);
    ini.writeInteger(section, QStringLiteral("PixelsPerInch"), p.PixelsPerInch);
    ini.writeString(section, QStringLiteral("MinMaxPos"), JoinFour(p.MinMaxPos));
    ini.writeString(section, QStringLiteral("NormPos"), JoinFour(p.NormPos));
    ini.writeInteger(section, QStringLiteral("Visible"), p.Visible);
    if (withActiveControl)
        ini.writeString(section, QStringLiteral("ActiveControl"), p.ActiveControl);
}

void ReadRS232Values(const TIniFile &ini, RS232StoredValues &v)
{
    const QString &s = SectionRS232;
    v.PortName = ini.readString(s, QStringLiteral("CommPort_PortName"), v.PortName);
    int index = ini.readInteger(s, QStringLiteral("CB_ComPort_ItemIndex"), v.ComPortItemIndex);
    if (index < -1 || index > 7)
        index = v.ComPortItemIndex;
    v.ComPortItemIndex = index;
    v.UseThread = ini.readBool(s, QStringLiteral("CB_UseThread_Checked"), v.UseThread);
}

void WriteRS232Values(TIniFile &ini, const RS232StoredValues &v)
{
    const QString &s = SectionRS232;
    ini.writeString(s, QStringLiteral("CommPort_PortName"), v.PortName);
    ini.writeInteger(s, QStringLiteral("CB_ComPort_ItemIndex"), v.ComPortItemIndex);
    ini.writeBool(s, QStringLiteral("CB_UseThread_Checked"), v.UseThread);
}

int SettleOnlyNewBoundary(int lastCheckedIndex, int lastReadedIndex,
                          const std::function<std::optional<QDateTime>(int)> &lookupRecoveryTime,
                          const QDate &today)
{
    try {
        const std::optional<QDateTime> recovered = lookupRecoveryTime(lastCheckedIndex);
        if (!recovered || !recovered->isValid())
            return lastReadedIndex;
        if (*recovered < QDateTime(today, QTime(0, 0)))
            return lastReadedIndex;
        return lastCheckedIndex;
    } catch (...) {
        return lastReadedIndex;
    }
}

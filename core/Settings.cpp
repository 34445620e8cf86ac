#include "Settings.h"

#include "core/LogFiles.h"
#include "core/SettingsKeys.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace Keys = SettingsKeys;

const QString SectionFace = Keys::TFace::Section;
const QString KeyLastStoredIndex = Keys::TFace::LastStoredIndex;
const QString KeyNamesOutOfStep = Keys::TFace::NamesOutOfStep;
const QString SectionRS232 = Keys::TRS232::Section;

namespace {

// A link value: one that is not a decimal number (also "1e9" or "0x7D0") or
// lies out of its range (a window so long that one lost request blocks the
// program, none at all, endless repeats) falls back to the default; the
// operator's text is kept for the file. A missing key keeps the current value.
int readLinkValue(const IniFile &ini, const QString &key, const LinkValueRange &range, int current,
                  QMap<QString, QString> &kept)
{
    kept.remove(key);
    if (!ini.valueExists(SectionFace, key))
        return current;
    const QString text = ini.readString(SectionFace, key);
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (ok && value >= range.low && value <= range.high)
        return value;
    kept.insert(key, text);
    logEvent(QStringLiteral("Настройки: [%1] %2=%3 вне пределов %4..%5, используется %6")
                 .arg(SectionFace, key, text)
                 .arg(range.low)
                 .arg(range.high)
                 .arg(range.fallback));
    return range.fallback;
}

} // namespace

QString settingsFileName(const QString &programFilePath)
{
    QString base = QFileInfo(programFilePath).completeBaseName();
    if (base.isEmpty())
        base = QStringLiteral("RUVO");
    return base + QStringLiteral(".INI");
}

QString settingsFilePath(const QString &programFilePath)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (dir.isEmpty())
        dir = QDir::homePath();
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + settingsFileName(programFilePath);
}

void readFaceOwnValues(const IniFile &ini, FaceStoredValues &v)
{
    const QString &s = SectionFace;
    v.lastStoredIndex = ini.readInteger(s, KeyLastStoredIndex, 0);
    v.lastCheckedIndex = ini.readInteger(s, Keys::TFace::LastCheckedIndex, 0);
    v.maxCardsIndex = ini.readInteger(s, Keys::TFace::MaxCardsIndex, 0);
    v.namesOutOfStep = ini.readInteger(s, KeyNamesOutOfStep, 0) == 1;
}

void readTimingValues(const IniFile &ini, TimingValues &v)
{
    v.pingDelayMS = readLinkValue(ini, Keys::TFace::PingDelayMS, PingDelayRange, v.pingDelayMS, v.keptAsWritten);
    v.sendDelayMS = readLinkValue(ini, Keys::TFace::SendDelayMS, SendDelayRange, v.sendDelayMS, v.keptAsWritten);
    v.baseRequestCount = readLinkValue(ini, Keys::TFace::BaseRequestCount, BaseRequestCountRange,
                                       v.baseRequestCount, v.keptAsWritten);
    v.fixedReceiveWindow =
        ini.readInteger(SectionFace, Keys::TFace::FixedReceiveWindow, v.fixedReceiveWindow ? 1 : 0) == 1;
}

void readFaceValues(const IniFile &ini, FaceStoredValues &v)
{
    readFaceOwnValues(ini, v);
    readTimingValues(ini, v);
}

void writeFaceValues(IniFile &ini, const FaceStoredValues &v)
{
    const QString &s = SectionFace;
    ini.writeInteger(s, KeyLastStoredIndex, v.lastStoredIndex);
    ini.writeInteger(s, Keys::TFace::LastCheckedIndex, v.lastCheckedIndex);
    ini.writeInteger(s, Keys::TFace::MaxCardsIndex, v.maxCardsIndex);
    auto writeLinkValue = [&](const QString &key, int value) {
        if (v.keptAsWritten.contains(key))
            ini.writeString(s, key, v.keptAsWritten.value(key));
        else
            ini.writeInteger(s, key, value);
    };
    writeLinkValue(Keys::TFace::PingDelayMS, v.pingDelayMS);
    ini.writeInteger(s, Keys::TFace::FixedReceiveWindow, v.fixedReceiveWindow ? 1 : 0);
    writeLinkValue(Keys::TFace::SendDelayMS, v.sendDelayMS);
    writeLinkValue(Keys::TFace::BaseRequestCount, v.baseRequestCount);
    ini.writeInteger(s, KeyNamesOutOfStep, v.namesOutOfStep ? 1 : 0);
}

namespace {

bool parseFour(const QString &text, int out[4])
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

QString joinFour(const int v[4])
{
    return QStringLiteral("%1,%2,%3,%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
}

} // namespace

bool readPlacement(const IniFile &ini, const QString &section, FormPlacement &p, bool withActiveControl)
{
    if (!ini.valueExists(section, Keys::Placement::NormPos))
        return false;
    FormPlacement r;
    r.formVersion = ini.readInteger(section, Keys::Placement::FormVersion, -1);
    if (r.formVersion < 0)
        return false;
    r.flags = ini.readInteger(section, Keys::Placement::Flags, 0);
    r.showCmd = ini.readInteger(section, Keys::Placement::ShowCmd, 1);
    r.pixelsPerInch = ini.readInteger(section, Keys::Placement::PixelsPerInch, 0);
    r.visible = ini.readInteger(section, Keys::Placement::Visible, 0);
    if (!parseFour(ini.readString(section, Keys::Placement::NormPos), r.normPos))
        return false;
    if (r.width() <= 0 || r.height() <= 0)
        return false;
    parseFour(ini.readString(section, Keys::Placement::MinMaxPos), r.minMaxPos);
    if (withActiveControl)
        r.activeControl = ini.readString(section, Keys::Placement::ActiveControl);
    p = r;
    return true;
}

void writePlacement(IniFile &ini, const QString &section, const FormPlacement &p, bool withActiveControl)
{
    ini.writeInteger(section, Keys::Placement::FormVersion, p.formVersion);
    ini.writeInteger(section, Keys::Placement::Flags, p.flags);
    ini.writeInteger(section, Keys::Placement::ShowCmd, p.showCmd);
    ini.writeInteger(section, Keys::Placement::PixelsPerInch, p.pixelsPerInch);
    ini.writeString(section, Keys::Placement::MinMaxPos, joinFour(p.minMaxPos));
    ini.writeString(section, Keys::Placement::NormPos, joinFour(p.normPos));
    ini.writeInteger(section, Keys::Placement::Visible, p.visible);
    if (withActiveControl)
        ini.writeString(section, Keys::Placement::ActiveControl, p.activeControl);
}

FormPlacement placementOf(const QRect &normal, int pixelsPerInch)
{
    FormPlacement p;
    p.normPos[0] = normal.left();
    p.normPos[1] = normal.top();
    p.normPos[2] = normal.left() + normal.width();
    p.normPos[3] = normal.top() + normal.height();
    p.pixelsPerInch = pixelsPerInch;
    return p;
}

bool readPlacementAt(const IniFile &ini, const QString &section, int pixelsPerInch, FormPlacement &p,
                     bool withActiveControl)
{
    FormPlacement r;
    if (!readPlacement(ini, section, r, withActiveControl) || r.pixelsPerInch != pixelsPerInch)
        return false;
    p = r;
    return true;
}

void readRS232Values(const IniFile &ini, RS232StoredValues &v)
{
    const QString &s = SectionRS232;
    v.portName = ini.readString(s, Keys::TRS232::PortName, v.portName);
    int index = ini.readInteger(s, Keys::TRS232::ComPortItemIndex, v.comPortItemIndex);
    if (index < -1 || index > 7)
        index = v.comPortItemIndex;
    v.comPortItemIndex = index;
    v.useThread = ini.readBool(s, Keys::TRS232::UseThread, v.useThread);
}

void writeRS232Values(IniFile &ini, const RS232StoredValues &v)
{
    const QString &s = SectionRS232;
    ini.writeString(s, Keys::TRS232::PortName, v.portName);
    ini.writeInteger(s, Keys::TRS232::ComPortItemIndex, v.comPortItemIndex);
    ini.writeBool(s, Keys::TRS232::UseThread, v.useThread);
}

int settleOnlyNewBoundary(int lastCheckedIndex, int lastStoredIndex,
                          const std::function<std::optional<QDateTime>(int)> &lookupRecoveryTime,
                          const QDate &today)
{
    try {
        const std::optional<QDateTime> recovered = lookupRecoveryTime(lastCheckedIndex);
        if (!recovered || !recovered->isValid())
            return lastStoredIndex;
        if (*recovered < QDateTime(today, QTime(0, 0)))
            return lastStoredIndex;
        return lastCheckedIndex;
    } catch (...) {
        return lastStoredIndex;
    }
}

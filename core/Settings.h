#pragma once
// The stored settings of the monitor as typed values: the main window's own
// values, the link's timing values and port choice, the window placements,
// all kept in one settings file (IniFile) named after the program file with
// ".INI". Every section and key name is spelled once, in core/SettingsKeys.h.
// The link's values with their change notification: core/LinkSettings.h;
// the windows' placements with theirs: core/WindowPlacements.h.

#include "core/LinkValueRanges.h"
#include "core/IniFile.h"

#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QRect>
#include <QString>
#include <functional>
#include <optional>

// "<program file name without extension>.INI" in the user's configuration
// directory (on Linux ~/.config, or $XDG_CONFIG_HOME when set).
QString settingsFileName(const QString &programFilePath);
QString settingsFilePath(const QString &programFilePath);

// The link's timing values, kept in section "TFace".
struct TimingValues {
    int pingDelayMS = PingDelayRange.fallback;        // "PingDelayMS"
    int sendDelayMS = SendDelayRange.fallback;        // "SendDelayMS"
    int baseRequestCount = BaseRequestCountRange.fallback;  // "BaseRequestCount"
    bool fixedReceiveWindow = false;                  // "FixedReceiveWindow"
    // Link values whose stored text was out of range, by key: the value above
    // is then the default, and the text goes back into the file unchanged.
    QMap<QString, QString> keptAsWritten;

    bool operator==(const TimingValues &o) const
    {
        return pingDelayMS == o.pingDelayMS && sendDelayMS == o.sendDelayMS && baseRequestCount == o.baseRequestCount
            && fixedReceiveWindow == o.fixedReceiveWindow && keptAsWritten == o.keptAsWritten;
    }
    bool operator!=(const TimingValues &o) const { return !(*this == o); }
};

// The whole section "TFace": the main window's own values and the link's
// timing values.
struct FaceStoredValues : TimingValues {
    int lastStoredIndex = 0;   // key "LastReadedIndex"
    int lastCheckedIndex = 0;
    int maxCardsIndex = 0;
    bool namesOutOfStep = false;  // key "INeedSynhroFIO"
};

// The sane range of each link value (core/LinkValueRanges.h); a stored value
// outside it is not used.

extern const QString SectionFace;    // "TFace"
extern const QString SectionRS232;   // "TRS232"
// The keys of section "TFace" whose names the stored files have always used.
extern const QString KeyLastStoredIndex;  // "LastReadedIndex"
extern const QString KeyNamesOutOfStep;   // "INeedSynhroFIO"

// Reads the values; a missing or unreadable key keeps the value `v` holds
// (the link values are read with the current ones as defaults, the three
// indexes with 0). namesOutOfStep is true only for the stored value 1.
// A link value that is not a decimal number or lies outside its range gives
// its default, with one line in the
// events log naming the key.
void readFaceValues(const IniFile &ini, FaceStoredValues &v);
// Only the main window's own values (the indexes and namesOutOfStep).
void readFaceOwnValues(const IniFile &ini, FaceStoredValues &v);
// Only the timing values.
void readTimingValues(const IniFile &ini, TimingValues &v);
// The whole section, its keys in the order the file has always had.
void writeFaceValues(IniFile &ini, const FaceStoredValues &v);

// A window's placement keys.
struct FormPlacement {
    int formVersion = 0;
    int flags = 0;
    int showCmd = 1;         // 1, 5, 9 normal; 2, 6, 7 minimised; 3 maximised
    int pixelsPerInch = 96;
    int minMaxPos[4] = {-1, -1, -1, -1};  // minimised x, y, maximised x, y
    int normPos[4] = {0, 0, 0, 0};        // normal rectangle left, top, right, bottom
    int visible = 0;
    QString activeControl;

    bool maximised() const { return showCmd == 3; }
    bool minimised() const { return showCmd == 2 || showCmd == 6 || showCmd == 7; }
    int width() const { return normPos[2] - normPos[0]; }
    int height() const { return normPos[3] - normPos[1]; }
};

// False when the section holds no usable placement (missing keys, a version
// below 0, a rectangle that is not four numbers or has no size).
bool readPlacement(const IniFile &ini, const QString &section, FormPlacement &p, bool withActiveControl = false);
void writePlacement(IniFile &ini, const QString &section, const FormPlacement &p, bool withActiveControl = false);

// A window shown normally whose rectangle (its own, without the frame) is
// `normal`, at the given screen resolution.
FormPlacement placementOf(const QRect &normal, int pixelsPerInch);
// The section's placement when there is a usable one saved at the given
// screen resolution (a placement from another resolution is not applied).
bool readPlacementAt(const IniFile &ini, const QString &section, int pixelsPerInch, FormPlacement &p,
                     bool withActiveControl = false);

// The link settings window's control values in section "TRS232".
struct RS232StoredValues {
    QString portName;          // "CommPort_PortName": the device name of the port
    int comPortItemIndex = 0;  // "CB_ComPort_ItemIndex": 0..7 for COM1..COM8, -1 the stored name
    bool useThread = false;    // "CB_UseThread_Checked"

    bool operator==(const RS232StoredValues &o) const
    {
        return portName == o.portName && comPortItemIndex == o.comPortItemIndex && useThread == o.useThread;
    }
    bool operator!=(const RS232StoredValues &o) const { return !(*this == o); }
};
void readRS232Values(const IniFile &ini, RS232StoredValues &v);
void writeRS232Values(IniFile &ini, const RS232StoredValues &v);

// The only-new boundary at start. `lookupRecoveryTime` finds the Measures row
// with the given Index: an empty optional when there is none (an exception
// counts as a failed lookup). The stored boundary is kept only when that row
// was copied today (RecoveryTime not before 00:00 of `today`); otherwise the
// boundary becomes `lastStoredIndex`.
int settleOnlyNewBoundary(int lastCheckedIndex, int lastStoredIndex,
                          const std::function<std::optional<QDateTime>(int)> &lookupRecoveryTime,
                          const QDate &today);

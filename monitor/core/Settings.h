#pragma once
// The stored settings of the monitor: the main window's own values, the
// window placements and the link settings window's control values, all kept
// in one settings file (TIniFile) named after the program file with ".INI".

#include "monitor/core/IniFile.h"

#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <functional>
#include <optional>

// "<program file name without extension>.INI" in the user's configuration
// directory (on Linux ~/.config, or $XDG_CONFIG_HOME when set).
QString SettingsFileName(const QString &programFilePath);
QString SettingsFilePath(const QString &programFilePath);

// The main window's values in section "TFace".
struct FaceStoredValues {
    int LastReadedIndex = 0;
    int LastCheckedIndex = 0;
    int MaxCardsIndex = 0;
    int PingDelayMS = 300;
    int SendDelayMS = 2000;
    int BaseRequestCount = 3;
    bool INeedSynhroFIO = false;
    bool FixedReceiveWindow = false;
    // Link values whose stored text was out of range, by key: the value above
    // is then the default, and the text goes back into the file unchanged.
    QMap<QString, QString> KeptAsWritten;
};

// The sane range of each link value; a stored value outside it is not used.
struct LinkValueRange {
    int low;
    int high;
    int fallback;
};
extern const LinkValueRange PingDelayRange;        // 50..10000 ms, default 300
extern const LinkValueRange SendDelayRange;        // 100..60000 ms, default 2000
extern const LinkValueRange BaseRequestCountRange; // 0..10 repeats, default 3

extern const QString SectionFace;    // "TFace"
extern const QString SectionRS232;   // "TRS232"

// Reads the values; a missing or unreadable key keeps the value `v` holds
// (the link values are read with the current ones as defaults, the three
// indexes with 0). "INeedSynhroFIO" is true only for the stored value 1.
// A link value outside its range gives its default, with one line in the
// events log naming the key.
void ReadFaceValues(const TIniFile &ini, FaceStoredValues &v);
void WriteFaceValues(TIniFile &ini, const FaceStoredValues &v);

// A window's placement keys.
struct FormPlacement {
    int FormVersion = 0;
    int Flags = 0;
    int ShowCmd = 1;         // 1, 5, 9 normal; 2, 6, 7 minimised; 3 maximised
    int PixelsPerInch = 96;
    int MinMaxPos[4] = {-1, -1, -1, -1};  // minimised x, y, maximised x, y
    int NormPos[4] = {0, 0, 0, 0};        // normal rectangle left, top, right, bottom
    int Visible = 0;
    QString ActiveControl;

    bool maximised() const { return ShowCmd == 3; }
    bool minimised() const { return ShowCmd == 2 || ShowCmd == 6 || ShowCmd == 7; }
    int width() const { return NormPos[2] - NormPos[0]; }
    int height() const { return NormPos[3] - NormPos[1]; }
};

// False when the section holds no usable placement (missing keys, a version
// below 0, a rectangle that is not four numbers or has no size).
bool ReadPlacement(const TIniFile &ini, const QString &section, FormPlacement &p, bool withActiveControl = false);
void WritePlacement(TIniFile &ini, const QString &section, const FormPlacement &p, bool withActiveControl = false);

// The link settings window's control values in section "TRS232".
struct RS232StoredValues {
    QString PortName;          // "CommPort_PortName": the device name of the port
    int ComPortItemIndex = 0;  // "CB_ComPort_ItemIndex": 0..7 for COM1..COM8, -1 the stored name
    bool UseThread = false;    // "CB_UseThread_Checked"
};
void ReadRS232Values(const TIniFile &ini, RS232StoredValues &v);
void WriteRS232Values(TIniFile &ini, const RS232StoredValues &v);

// The only-new boundary at start. `lookupRecoveryTime` finds the Measures row
// with the given Index: an empty optional when there is none (an exception
// counts as a failed lookup). The stored boundary is kept only when that row
// was copied today (RecoveryTime not before 00:00 of `today`); otherwise the
// boundary becomes `lastReadedIndex`.
int SettleOnlyNewBoundary(int lastCheckedIndex, int lastReadedIndex,
                          const std::function<std::optional<QDateTime>(int)> &lookupRecoveryTime,
                          const QDate &today);

#pragma once
// Every section and key name of the settings file, in one place. The names
// are those the stored files have always used (misspellings included) and
// never change: a renamed key would lose the operator's value. A new setting
// adds its key here, in its section's group; a new section is added to its
// group and to KnownSections.
//
// Section and key names compare without regard to letter case (IniFile). A
// list lives in its own section "<section>.<key>" (IniFile::listSection).

#include <QLatin1String>

namespace SettingsKeys {

// ---- the keys every window's placement is kept under (in the window's own
// section; core/WindowPlacements.h)
namespace Placement {
inline constexpr QLatin1String FormVersion("FormVersion");
inline constexpr QLatin1String Flags("Flags");
inline constexpr QLatin1String ShowCmd("ShowCmd");
inline constexpr QLatin1String PixelsPerInch("PixelsPerInch");
inline constexpr QLatin1String MinMaxPos("MinMaxPos");
inline constexpr QLatin1String NormPos("NormPos");
inline constexpr QLatin1String Visible("Visible");
inline constexpr QLatin1String ActiveControl("ActiveControl");  // the link settings window only
} // namespace Placement

// ---- the keys of a list section (IniFile::writeList)
namespace List {
inline constexpr QLatin1String Count("Count");
inline constexpr QLatin1String ItemPrefix("Item");  // "Item0", "Item1", ...
} // namespace List

// ---- the windows' sections, named after the windows as the design knew them

// The main window: its placement, its own values, and the link's timing values.
namespace TFace {
inline constexpr QLatin1String Section("TFace");
inline constexpr QLatin1String LastStoredIndex("LastReadedIndex");
inline constexpr QLatin1String LastCheckedIndex("LastCheckedIndex");
inline constexpr QLatin1String MaxCardsIndex("MaxCardsIndex");
inline constexpr QLatin1String PingDelayMS("PingDelayMS");
inline constexpr QLatin1String FixedReceiveWindow("FixedReceiveWindow");
inline constexpr QLatin1String SendDelayMS("SendDelayMS");
inline constexpr QLatin1String BaseRequestCount("BaseRequestCount");
inline constexpr QLatin1String NamesOutOfStep("INeedSynhroFIO");
} // namespace TFace

// The link settings window: its placement and the port choice.
namespace TRS232 {
inline constexpr QLatin1String Section("TRS232");
inline constexpr QLatin1String PortName("CommPort_PortName");
inline constexpr QLatin1String ComPortItemIndex("CB_ComPort_ItemIndex");
inline constexpr QLatin1String UseThread("CB_UseThread_Checked");
} // namespace TRS232

// The filter list window: its placement and the stored filters (a list).
namespace TMeasureFiltr {
inline constexpr QLatin1String Section("TMeasureFiltr");
inline constexpr QLatin1String FilterList("VLE_Filters_Strings");
} // namespace TMeasureFiltr

// The formula editor: its placement and its control values (two lists).
namespace TFiltrRecordDetail {
inline constexpr QLatin1String Section("TFiltrRecordDetail");
inline constexpr QLatin1String MemoLines("MemoFilter_Lines");
inline constexpr QLatin1String Examples("ComboBox1_Items");
inline constexpr QLatin1String ExampleIndex("ComboBox1_ItemIndex");
inline constexpr QLatin1String CaseSensitive("cbCaseSensitive_Checked");
inline constexpr QLatin1String NoPartialCompare("cbNoPartialCompare_Checked");
} // namespace TFiltrRecordDetail

// The label write report: its placement and the operator's last choices.
namespace TRFLabelSaveReport {
inline constexpr QLatin1String Section("TRFLabelSaveReport");
inline constexpr QLatin1String Choice("RG_ItemIndex");
inline constexpr QLatin1String Record2Note("CB_Record2Note_Checked");
} // namespace TRFLabelSaveReport

// Windows that keep only their placement (the object name is the section).
namespace TPencilOptions {
inline constexpr QLatin1String Section("TPencilOptions");  // the dosimeter dialog
}
namespace TCards {
inline constexpr QLatin1String Section("TCards");  // the card index
}
namespace TCardEdit {
inline constexpr QLatin1String Section("TCardEdit");  // the card editor
}
namespace TDetailMeasureRecord {
inline constexpr QLatin1String Section("TDetailMeasureRecord");  // one record in detail
}
namespace TSpectrumADC {
inline constexpr QLatin1String Section("TSpectrumADC");  // the spectrum dialog
}
namespace TNoteBook {
inline constexpr QLatin1String Section("TNoteBook");  // the journal (its object name; no keys yet)
}

// ---- the program's own choices

// Where the data lives (core/SettingsStartup.h).
namespace Paths {
inline constexpr QLatin1String Section("Paths");
inline constexpr QLatin1String DataDir("DataDir");
} // namespace Paths

// The separator of exported CSV files (records/ui/CsvExportFile.h).
namespace CsvExport {
inline constexpr QLatin1String Section("CsvExport");
inline constexpr QLatin1String Separator("Separator");
} // namespace CsvExport

// The daily backup (core/BackupSettings.h).
namespace Backup {
inline constexpr QLatin1String Section("Backup");
inline constexpr QLatin1String Folder("Folder");
inline constexpr QLatin1String Keep("Keep");
inline constexpr QLatin1String LastCopy("LastCopy");
} // namespace Backup

// The records' store (monitor/core/DatabaseSettings.h).
namespace Database {
inline constexpr QLatin1String Section("Database");
inline constexpr QLatin1String Driver("Driver");
inline constexpr QLatin1String Host("Host");
inline constexpr QLatin1String Port("Port");
inline constexpr QLatin1String Name("Name");
inline constexpr QLatin1String User("User");
inline constexpr QLatin1String SslMode("SslMode");
inline constexpr QLatin1String Schema("Schema");
inline constexpr QLatin1String ServiceRole("ServiceRole");
inline constexpr QLatin1String PasswordFile("PasswordFile");
} // namespace Database

// The sections of the program's windows and choices (with their list
// sections): the ones read from a settings file too large to read whole.
inline constexpr QLatin1String KnownSections[] = {
    TFace::Section,        TRS232::Section,        TMeasureFiltr::Section,        TFiltrRecordDetail::Section,
    TRFLabelSaveReport::Section, TPencilOptions::Section, TCards::Section,        TCardEdit::Section,
    TDetailMeasureRecord::Section, TSpectrumADC::Section, TNoteBook::Section,
    Paths::Section,        CsvExport::Section,     Backup::Section,               Database::Section,
};

} // namespace SettingsKeys

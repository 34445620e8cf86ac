#pragma once
// The file dialog of a CSV export, shared by the windows that export rows:
// the file name with the separator choice ("Разделитель": ';' with the
// decimal comma or ',' with the point) under the file list, remembered in
// the settings file.

#include "records/CsvExport.h"

#include <QString>

class QWidget;

// The separator chosen last (settings file, [CsvExport] Separator: ";" or
// ","), else the default of the system's locale (CsvFormat::forLocale).
extern const QString CsvExportSection;  // "CsvExport"
CsvFormat storedCsvFormat(const QString &settingsPath);
void storeCsvFormat(const QString &settingsPath, const CsvFormat &format);

// The file dialog of an export (object name "CsvExportFile", through the
// prompt: unattended runs choose nothing) with the separator choice under
// the file list (a combo box "CsvSeparator"), starting from the stored
// choice. Returns the file chosen, empty when none; `format` then holds the
// choice, also written to the settings file (an empty path keeps nothing).
QString askCsvExportFile(QWidget *parent, const QString &suggestedPath, const QString &settingsPath,
                         CsvFormat &format);

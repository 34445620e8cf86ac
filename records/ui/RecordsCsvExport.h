#pragma once
// "Экспорт в CSV...": the rows the records grid shows, after every filter
// and in its order, with the visible columns in the grid's order under their
// titles, into a CSV file the operator names. The file dialog also offers
// the separator ("Разделитель": ';' with the decimal comma or ',' with the
// point), remembered in the settings file. A progress window shows how far
// the export is and can cancel it; a cancelled export leaves no file.

#include "records/CsvExport.h"

#include <QList>
#include <QString>

class QWidget;
class RecordsView;

// The columns of the export: the visible columns of the view in order.
QList<CsvColumn> recordsExportColumns(const RecordsView &view);

// The file name offered: "Измерения ДД.ММ.ГГГГ.csv" in the given folder.
QString recordsExportFileName(const QString &folder);

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

// Asks for the file (askCsvExportFile), exports with the progress window and
// tells the result. Returns what the export did (Cancelled also when no file
// was chosen).
CsvResult exportRecordsToCsv(QWidget *parent, const RecordsView &view, const QString &settingsPath = QString());

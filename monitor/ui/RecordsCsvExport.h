#pragma once
// "Экспорт в CSV...": the rows the records grid shows, after every filter
// and in its order, with the visible columns in the grid's order under their
// titles, into a CSV file the operator names (the file dialog with its
// separator choice: records/ui/CsvExportFile.h). A progress window shows how
// far the export is and can cancel it; a cancelled export leaves no file.

#include "records/ui/CsvExportFile.h"

#include <QList>
#include <QString>

class QWidget;
class RecordsView;

// The columns of the export: the visible columns of the view in order.
QList<CsvColumn> recordsExportColumns(const RecordsView &view);

// The file name offered: "Измерения ДД.ММ.ГГГГ.csv" in the given folder.
QString recordsExportFileName(const QString &folder);

// Asks for the file (askCsvExportFile), exports with the progress window and
// tells the result. Returns what the export did (Cancelled also when no file
// was chosen).
CsvResult exportRecordsToCsv(QWidget *parent, const RecordsView &view, const QString &settingsPath = QString());

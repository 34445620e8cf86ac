#pragma once
// "Экспорт в CSV...": the rows the records grid shows, after every filter
// and in its order, with the visible columns in the grid's order under their
// titles, into a CSV file the operator names. A progress window shows how
// far the export is and can cancel it; a cancelled export leaves no file.

#include "records/CsvExport.h"

#include <QList>
#include <QString>

class QWidget;
class RecordsView;

// The columns of the export: the visible columns of the view in order.
QList<CsvColumn> recordsExportColumns(const RecordsView &view);

// The file name offered: "Измерения ДД.ММ.ГГГГ.csv" in the given folder.
QString recordsExportFileName(const QString &folder);

// Asks for the file (a dialog through the prompt: unattended runs export
// nothing), exports with the progress window and tells the result. Returns
// what the export did (Cancelled also when no file was chosen).
CsvResult exportRecordsToCsv(QWidget *parent, const RecordsView &view);

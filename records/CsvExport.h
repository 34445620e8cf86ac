#pragma once
// Rows to a CSV file: UTF-8 with a byte-order mark (so spreadsheet programs
// read the Cyrillic texts right), the column titles in the first line, cells
// separated by commas, lines ended by CR LF. A cell holding the separator, a
// double quote, a line break or blanks at either end is put in double quotes,
// a quote inside doubled.
//
// The file is written beside its final place and put there only when every
// row is written: a cancelled or failed export leaves whatever was there
// before (or nothing) untouched.

#include "records/TableSchema.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

class DataTable;
class QSaveFile;

// Told how many rows are written (total: rows to write, -1 when not known);
// returns false to cancel the export. Called before the first row, every few
// thousand rows and after the last.
using CsvProgress = std::function<bool(qint64 done, qint64 total)>;

struct CsvResult {
    enum class Status { Written, Cancelled, Failed };
    Status status = Status::Failed;
    qint64 rows = 0;      // data rows written (the title line not counted)
    QString error;        // why a failed export failed
    bool ok() const { return status == Status::Written; }
};

// One column of a table export: the field shown and its title in the file.
struct CsvColumn {
    QString field;
    QString title;
};

class CsvWriter {
public:
    explicit CsvWriter(const QString &path, QChar separator = QLatin1Char(','));
    ~CsvWriter();  // an export never committed is dropped

    bool open();                              // false: errorString() says why
    void writeRow(const QStringList &cells);  // buffered; written in large pieces
    bool commit();                            // puts the file in its place
    void cancel();                            // drops everything written
    QString errorString() const { return m_error; }

    // One line of cells (without the line end), quoted where needed.
    static QString line(const QStringList &cells, QChar separator = QLatin1Char(','));

private:
    bool flush();

    QString m_path;
    QChar m_separator;
    std::unique_ptr<QSaveFile> m_file;
    QString m_pending;
    QString m_error;
    bool m_failed = false;
};

// The text a stored value of a field gets in a file: date-times
// "dd.MM.yyyy HH:mm:ss", dates "dd.MM.yyyy", numbers with "." and every digit
// they hold, Booleans after the field's display format ("М;Ж") or
// "True"/"False", blanks empty.
QString csvCellText(const FieldDef &field, const QVariant &stored);

// The rows the table shows (its filter in force), in its current order, with
// the given columns; the current row and everything else of the table stay.
// Reads a page at a time, so the grid and the rest of the program may run
// between pages (from the progress callback).
CsvResult exportTableToCsv(const DataTable &table, const QList<CsvColumn> &columns, const QString &path,
                           const CsvProgress &progress = {});

// Rows already at hand (a report's lines), with their titles.
CsvResult exportRowsToCsv(const QStringList &titles, const QList<QStringList> &rows, const QString &path,
                          const CsvProgress &progress = {});

#pragma once
// Rows to a CSV file: UTF-8 with a byte-order mark (so spreadsheet programs
// read the Cyrillic texts right), the column titles in the first line, cells
// separated by the format's separator (a comma, or a semicolon where the
// decimal comma is used), lines ended by CR LF. A cell holding the separator,
// a double quote, a line break or blanks at either end is put in double
// quotes, a quote inside doubled. A cell a spreadsheet would take for a
// formula (beginning with =, +, -, @, tab or CR) gets a leading apostrophe
// and so stays text; a negative number is left a number.
//
// The file is written beside its final place and put there only when every
// row is written: a cancelled or failed export leaves whatever was there
// before (or nothing) untouched.

#include "core/Result.h"
#include "records/TableSchema.h"

#include <QByteArray>
#include <QList>
#include <QLocale>
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

// An export's result: the data rows written (the title line not counted), or
// ErrorKind::Cancelled (no text) when the progress callback cancelled it, or
// the failure with why it failed (Failed, or the store's cause).
using CsvResult = Result<qint64>;

// One column of a table export: the field shown and its title in the file.
struct CsvColumn {
    QString field;
    QString title;
};

// The separator of the cells and the decimal mark of the numbers.
struct CsvFormat {
    QChar separator = QLatin1Char(',');
    QChar decimal = QLatin1Char('.');

    // ';' goes with the decimal comma, anything else with the point.
    static CsvFormat withSeparator(QChar separator);
    // The default of a locale: Russian ';' and ',', any other ',' and '.'.
    static CsvFormat forLocale(const QLocale &locale);
};

class CsvWriter {
public:
    explicit CsvWriter(const QString &path, const CsvFormat &format = {});
    ~CsvWriter();  // an export never committed is dropped

    bool open();                              // false: errorString() says why
    void writeRow(const QStringList &cells);  // buffered; written in large pieces
    bool commit();                            // puts the file in its place
    void cancel();                            // drops everything written
    QString errorString() const { return m_error; }

    // Writes the rows to a new file at path, whole or not at all; the error
    // names the file and why.
    static Result<> writeAll(const QString &path, const CsvFormat &format, const QList<QStringList> &rows);

    // One line of cells (without the line end), quoted and guarded where needed.
    static QString line(const QStringList &cells, QChar separator = QLatin1Char(','));
    // One cell as the file holds it.
    static QString cell(const QString &text, QChar separator = QLatin1Char(','));

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
// "dd.MM.yyyy HH:mm:ss", dates "dd.MM.yyyy", numbers with every digit they
// hold and the given decimal mark, Booleans after the field's display format
// ("М;Ж") or "True"/"False", blanks empty.
QString csvCellText(const FieldDef &field, const QVariant &stored, QChar decimal = QLatin1Char('.'));
// A number as csvCellText writes a float.
QString csvNumberText(double value, QChar decimal = QLatin1Char('.'));

// The rows the table shows (its filter in force), in its current order, with
// the given columns; the current row and everything else of the table stay.
// Reads a page at a time, so the grid and the rest of the program may run
// between pages (from the progress callback).
CsvResult exportTableToCsv(const DataTable &table, const QList<CsvColumn> &columns, const QString &path,
                           const CsvProgress &progress = {}, const CsvFormat &format = {});

// Rows already at hand (a report's lines), with their titles; numbers in
// the cells should already carry the format's decimal mark (csvNumberText).
CsvResult exportRowsToCsv(const QStringList &titles, const QList<QStringList> &rows, const QString &path,
                          const CsvProgress &progress = {}, const CsvFormat &format = {});

#pragma once
// The dose of each dosimeter in each calendar month, kept by the database
// itself beside Measures: table "DoseMonths" (ID, Month "yyyy-MM", Dose, the
// number of Readings) in Measures' file, or in the server's schema, and
// triggers on Measures that add and take away every inserted, changed and
// deleted reading. Being plain SQL in the database, the sums stay right
// whoever writes Measures (the program, a stock sqlite3, ruvo-migrate).
// Rows of Measures without a dosimeter number or a time take no part; a
// reading's month is the first seven characters of its stored time.
//
// The table is no table of the records: no grid, export, migration or audit
// knows of it. PersonDoses::byMonth reads the whole months of a span from
// it, the partial months at the span's edges from Measures.

#include <QString>

class DataModule;
class DataTable;
class SqlDialect;

namespace MonthSums {

// The table's name for SQL on the module's connection.
QString sqlName(const SqlDialect &dialect);

// Run in the exclusive step of Measures' start-up: the table and its
// triggers made when missing (and on the files, triggers not as they should
// be made anew), the sums then counted from Measures. Whether the sums can
// be used; a failure (no right to create the table on the server) leaves
// everything as it was, and the doses are summed from Measures alone.
bool prepare(DataModule &dm, DataTable &measures);

// The whole months of a span of stored times: [first, end) as "yyyy-MM"
// keys; false when the span holds no whole month or a bound is no time.
bool wholeMonths(const QString &from, bool fromIncluded, const QString &to, QString *first, QString *end);

} // namespace MonthSums

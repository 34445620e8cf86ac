#pragma once
// The filter language of the tables and its compiler into an SQLite WHERE
// condition.
//
// A filter text is what the grid's quick filters, the only-new mode, the
// journal's "issued only" view and the operator's stored filters put on a
// table: field names, numbers, quoted texts, dates, NULL, the comparisons
// = <> < > <= >=, arithmetic + - * /, parentheses, AND, OR and NOT.
// CompileFilter turns it into a condition for "SELECT ... WHERE <sqlWhere>"
// whose every constant is a bound parameter: no character the operator typed
// is ever pasted into the SQL text. Field names in the SQL are always the
// canonical names of the field list, double-quoted.
//
// What the language means:
// - Field names are bare words (letters, digits, underscore) matched without
//   regard to letter case, or any text in square brackets "[Name]". A word
//   or bracketed text that is not a field of the table is an error
//   (so an unreplaced parameter such as "[1000]" is rejected).
// - Keywords AND, OR, NOT, NULL, TRUE, FALSE in any letter case.
//   NOT binds tighter than AND, AND tighter than OR.
// - Numbers: "12", "0.5", ".5" (the decimal separator is always ".").
// - Texts in single quotes; a doubled quote inside stands for one quote.
// - A quoted text compared with a date-time or date field is read as a date
//   "dd.mm.yyyy" or a date-time "dd.mm.yyyy hh:mm:ss" (also "hh:mm" and
//   "hh:mm:ss.zzz", and the stored form "yyyy-mm-dd[ hh:mm:ss[.zzz]]"); a
//   date against a date-time field means that day at 00:00:00.000. A text
//   that is no such date is an error.
// - A quoted text compared with a number field must hold a number; a number
//   written against a text field is compared as the text it was written as.
// - "= NULL" is true where the field is blank, "<> NULL" where it is not;
//   other comparisons with NULL are errors.
// - A Boolean field alone is a condition (true where the field is true);
//   TRUE/FALSE and 0/1 compare with it.
// - Text comparison respects letter case. A quoted text longer than one
//   character that ends in "*", compared by "=" or "<>" with a text field,
//   compares only the beginning: 'Ив*' matches every value beginning "Ив".
// - "/" divides as real numbers (7/2 is 3.5); a division by zero gives a
//   blank value, which no comparison selects.
// - Comparing values of kinds that cannot meet (a date with a number, a text
//   field with a date-time field, a condition with a number) is an error
//   found by the compiler, never left to SQLite.
// An empty or blank text compiles to an empty condition: no restriction.
//
// Errors (EFilterError) say where the text is wrong, with 1-based character
// positions, e.g. "Неизвестное поле \"[1000]\" в позиции 6". The compiler
// never crashes, loops or recurses without bound: nesting is limited and so
// is the size of the condition, so that SQLite always accepts what it gives.

#include "core/Errors.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantList>

enum class FilterFieldType { AutoInc, Integer, Float, DateTime, Date, Text, Boolean };

// One field of a table as the filter language sees it: its canonical name,
// its type, its display label (what the operator's formulas use, see
// FilterTranslation.h) and, for texts, its size in characters.
struct FilterField {
    QString name;
    FilterFieldType type = FilterFieldType::Text;
    QString label;
    int size = 0;
};

// The compiled condition: sqlWhere holds "?" placeholders, params the values
// to bind to them in order (qlonglong, double or QString; a null QVariant
// never appears). An empty sqlWhere means no restriction.
struct CompiledFilter {
    QString sqlWhere;
    QVariantList params;
};

// A filter text that cannot be compiled. position is the 1-based character
// position the message names (0 when the message names none).
class EFilterError : public ERuvoError {
public:
    explicit EFilterError(const QString &message, int position = 0)
        : ERuvoError(message), m_position(position) {}
    int position() const noexcept { return m_position; }

private:
    int m_position;
};

// Compiles a filter text against the fields of one table; raises EFilterError.
// exactCollation names the collation that compares texts exactly, code
// point by code point, on the engine the filter runs on.
CompiledFilter compileFilter(const QString &text, const QList<FilterField> &fields,
                             const QString &exactCollation = QStringLiteral("BINARY"));

// A value as a quoted text constant of the language: in single quotes, with
// every quote inside doubled ("O'Brien" gives 'O''Brien'). For building a
// filter text from a value the operator typed or a field shows.
QString quoteFilterText(const QString &value);

// The field lists of the tables themselves come with the schema
// (records/TableSchema.h).

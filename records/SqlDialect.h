#pragma once
// What differs between the two database engines the records run on, in one
// place: the table's name in a statement, the field types, the key of the
// case-insensitive order and search, index definitions and hints, and the
// catalogue queries. The table descriptions (TableSchema.*) stay one; this
// object only spells them for the engine in use. Nothing outside records/
// knows which engine that is.

#include "records/TableSchema.h"

#include <QString>

enum class SqlEngine { Sqlite, Postgres };

class SqlDialect {
public:
    explicit SqlDialect(SqlEngine engine = SqlEngine::Sqlite) : m_engine(engine) {}
    SqlEngine engine() const { return m_engine; }
    bool sqlite() const { return m_engine == SqlEngine::Sqlite; }

    // A table in a statement: on SQLite the table inside its own attached
    // file ("Measures"."Measures"), on PostgreSQL the table of the database.
    QString tableRef(const QString &table) const;
    // The column type of a field (the first field is the primary key).
    QString columnType(const FieldDef &f, bool first, bool autoKey) const;

    // The key texts are ordered and compared by without regard to letter case
    // (Unicode case folding, Cyrillic included), for a column expression and
    // for a bound value ("?") compared with it. On SQLite the key is computed
    // by the program's function ruvo_key (a blob compared byte by byte); an
    // indexed text field keeps it stored in its sort-key column instead, so
    // that the files need nothing of the program's to be written.
    QString textKey(const QString &column) const;
    QString textKeyOfParam() const;
    // SQLite: the name of the sort-key column of a text field, and the
    // trigger (plain SQL, run by any SQLite tool) that clears the key when
    // the text changes; the program fills cleared and missing keys again.
    static QString sortKeyColumn(const QString &field) { return field + QStringLiteral("_key"); }
    QString sortKeyTrigger(const QString &table, const QString &field) const;
    // The collation that compares texts exactly, code point by code point.
    QString exactCollation() const { return sqlite() ? QStringLiteral("BINARY") : QStringLiteral("\"C\""); }
    // A column written so that no index matches it (the planner then sorts
    // the few rows a filter selects instead of walking an index).
    QString unindexed(const QString &column) const;
    // Hints naming the index a read walks, or none; empty where the engine
    // takes no hints.
    QString indexedBy(const QString &indexName) const;
    QString notIndexed() const;

    // The name of the index of one field, and its definition. A text field's
    // index on SQLite holds its sort-key column. The views order by a field
    // and then by the table's key (keyField): SQLite's entries carry the key
    // already; on PostgreSQL it is the index's second column, so such an
    // order and its first and last rows are read from the index instead of
    // sorting the table.
    QString indexName(const QString &table, const QString &field) const;
    QString indexDefinition(const QString &table, const FieldDef &f, const QString &keyField) const;

    // A condition that a text column begins with a bound value (bound three
    // times on SQLite: a range of the key expression key (the sort-key
    // column, which its index narrows), then the exact test; once on
    // PostgreSQL). caseInsensitive ignores letter case.
    QString prefixCondition(const QString &column, const QString &key, bool caseInsensitive, int *paramCount) const;

    // Appended to an INSERT so that it returns the new automatic key as a row
    // (empty where the driver reports it itself).
    QString returningKey(const QString &keyColumn) const;

    // Catalogue queries, each with the table's name bound once: whether the
    // table exists, and the names of its columns (first column of the rows).
    QString tableExistsQuery(const QString &table) const;
    QString columnNamesQuery(const QString &table) const;

private:
    SqlEngine m_engine;
};

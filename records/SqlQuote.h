#pragma once
// Quoting of names in the SQL the records library builds.

#include <QString>

namespace RecordsSql {

// A table, schema, index or field name for SQL: in double quotes, every
// double quote inside doubled.
inline QString quoted(const QString &name)
{
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

} // namespace RecordsSql

// The monthly dose sums kept beside Measures; see MonthSums.h.

#include "records/MonthSums.h"

#include "records/DataModule.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

using RecordsSql::quoted;

namespace {

const QString Table = QStringLiteral("DoseMonths");

// One statement as it is, on the module's connection (no placeholders: the
// server's function bodies hold characters a driver would take for them).
void run(DataModule &dm, const QString &sql)
{
    QSqlQuery q(dm.database());
    if (!q.exec(sql))
        throwStoreError(q.lastError());
}

// What the triggers do, in SQL both engines take: `row` is NEW or OLD.
QString addRow(const QString &row)
{
    return QStringLiteral("INSERT INTO \"DoseMonths\" (\"ID\", \"Month\", \"Dose\", \"Readings\") "
                          "VALUES (%1.\"ID\", SUBSTR(%1.\"DateTime\", 1, 7), COALESCE(%1.\"Dose\", 0), 1) "
                          "ON CONFLICT (\"ID\", \"Month\") DO UPDATE SET \"Dose\" = \"DoseMonths\".\"Dose\" + excluded.\"Dose\", "
                          "\"Readings\" = \"DoseMonths\".\"Readings\" + 1;")
        .arg(row);
}

QString takeRow(const QString &row)
{
    const QString where = QStringLiteral("WHERE \"ID\" = %1.\"ID\" AND \"Month\" = SUBSTR(%1.\"DateTime\", 1, 7)").arg(row);
    return QStringLiteral("UPDATE \"DoseMonths\" SET \"Dose\" = \"Dose\" - COALESCE(%1.\"Dose\", 0), "
                          "\"Readings\" = \"Readings\" - 1 %2; "
                          "DELETE FROM \"DoseMonths\" %2 AND \"Readings\" <= 0;")
        .arg(row, where);
}

QString counted(const QString &row)
{
    return QStringLiteral("%1.\"ID\" IS NOT NULL AND %1.\"DateTime\" IS NOT NULL").arg(row);
}

const QString Columns = QStringLiteral("(\"ID\" %1 NOT NULL, \"Month\" TEXT NOT NULL, \"Dose\" %2 NOT NULL, "
                                       "\"Readings\" %1 NOT NULL, PRIMARY KEY (\"ID\", \"Month\"))");

const QString Fill = QStringLiteral("INSERT INTO %1 (\"ID\", \"Month\", \"Dose\", \"Readings\") "
                                    "SELECT \"ID\", SUBSTR(\"DateTime\", 1, 7), COALESCE(SUM(\"Dose\"), 0), COUNT(*) FROM %2 "
                                    "WHERE \"ID\" IS NOT NULL AND \"DateTime\" IS NOT NULL "
                                    "GROUP BY \"ID\", SUBSTR(\"DateTime\", 1, 7)");

// The files: the table and four triggers in Measures' own file (a trigger
// can only touch tables of its file), compared by their text.
bool prepareFile(DataModule &dm, DataTable &measures)
{
    const QString schema = quoted(QStringLiteral("Measures"));
    const QHash<QString, QString> wanted{
        {QStringLiteral("DoseMonths_insert"),
         QStringLiteral("CREATE TRIGGER \"DoseMonths_insert\" AFTER INSERT ON \"Measures\" WHEN %1 BEGIN %2 END")
             .arg(counted(QStringLiteral("NEW")), addRow(QStringLiteral("NEW")))},
        {QStringLiteral("DoseMonths_delete"),
         QStringLiteral("CREATE TRIGGER \"DoseMonths_delete\" AFTER DELETE ON \"Measures\" WHEN %1 BEGIN %2 END")
             .arg(counted(QStringLiteral("OLD")), takeRow(QStringLiteral("OLD")))},
        {QStringLiteral("DoseMonths_update_old"),
         QStringLiteral("CREATE TRIGGER \"DoseMonths_update_old\" AFTER UPDATE OF \"ID\", \"DateTime\", \"Dose\" ON \"Measures\" "
                        "WHEN %1 BEGIN %2 END")
             .arg(counted(QStringLiteral("OLD")), takeRow(QStringLiteral("OLD")))},
        {QStringLiteral("DoseMonths_update_new"),
         QStringLiteral("CREATE TRIGGER \"DoseMonths_update_new\" AFTER UPDATE OF \"ID\", \"DateTime\", \"Dose\" ON \"Measures\" "
                        "WHEN %1 BEGIN %2 END")
             .arg(counted(QStringLiteral("NEW")), addRow(QStringLiteral("NEW")))},
    };
    bool tablePresent = false;
    QHash<QString, QString> present;
    {
        QSqlQuery q = measures.exec(QStringLiteral("SELECT type, name, sql FROM %1.sqlite_master WHERE tbl_name IN (?, ?) "
                                             "AND type IN ('table', 'trigger')")
                                  .arg(schema),
                          {Table, QStringLiteral("Measures")});
        while (q.next()) {
            if (q.value(0).toString() == QLatin1String("table"))
                tablePresent = tablePresent || q.value(1).toString() == Table;
            else
                present.insert(q.value(1).toString(), q.value(2).toString());
        }
    }
    bool whole = tablePresent;
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
        whole = whole && present.value(it.key()) == it.value();
    if (whole)
        return true;
    // Made anew and counted again: sums that some write missed are wrong.
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
        if (present.contains(it.key()))
            run(dm, QStringLiteral("DROP TRIGGER %1.%2").arg(schema, quoted(it.key())));
    }
    if (tablePresent)
        run(dm, QStringLiteral("DELETE FROM %1.%2").arg(schema, quoted(Table)));
    else
        run(dm, QStringLiteral("CREATE TABLE %1.%2 ").arg(schema, quoted(Table))
                    + Columns.arg(QStringLiteral("INTEGER"), QStringLiteral("REAL")) + QStringLiteral(" WITHOUT ROWID"));
    run(dm, Fill.arg(QStringLiteral("%1.%2").arg(schema, quoted(Table)), measures.sqlName()));
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
        run(dm, QString(it.value()).replace(QStringLiteral("CREATE TRIGGER \""), QStringLiteral("CREATE TRIGGER %1.\"").arg(schema)));
    return true;
}

// The server: one trigger whose function runs with its owner's rights (a
// monitor's role may add readings without any right on the sums) and on
// the schema it was made in.
bool prepareServer(DataModule &dm, DataTable &measures)
{
    QSqlQuery state = measures.exec(QStringLiteral("SELECT current_schema(), "
                                             "(SELECT c.oid FROM pg_class c WHERE c.relname = ? "
                                             "AND c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema())) "
                                             "IS NOT NULL, "
                                             "(SELECT t.tgenabled FROM pg_trigger t JOIN pg_class c ON c.oid = t.tgrelid "
                                             "WHERE t.tgname = 'DoseMonths_keep' AND c.relname = 'Measures' "
                                             "AND c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema()))"),
                          {Table});
    if (!state.next())
        return false;
    const QString schema = state.value(0).toString();
    const bool tablePresent = state.value(1).toBool();
    const QVariant enabled = state.value(2);
    state.finish();
    if (tablePresent && !enabled.isNull()) {
        // Disabled by someone: sums not kept, so not used.
        if (enabled.toString() == QLatin1String("D"))
            return false;
        QSqlQuery may = measures.exec(QStringLiteral("SELECT has_table_privilege(?, 'SELECT')"),
                            {quoted(schema) + QLatin1Char('.') + quoted(Table)});
        return may.next() && may.value(0).toBool();
    }
    if (tablePresent)
        run(dm, QStringLiteral("DELETE FROM ") + quoted(Table));
    else
        run(dm, QStringLiteral("CREATE TABLE ") + quoted(Table) + QLatin1Char(' ')
                    + Columns.arg(QStringLiteral("BIGINT"), QStringLiteral("DOUBLE PRECISION")));
    run(dm, QStringLiteral("CREATE OR REPLACE FUNCTION \"ruvo_dose_months\"() RETURNS trigger LANGUAGE plpgsql "
                           "SECURITY DEFINER SET search_path = %1, pg_temp AS $ruvo$ BEGIN "
                           "IF TG_OP <> 'INSERT' AND %2 THEN %3 END IF; "
                           "IF TG_OP <> 'DELETE' AND %4 THEN %5 END IF; "
                           "RETURN NULL; END $ruvo$")
                .arg(quoted(schema), counted(QStringLiteral("OLD")), takeRow(QStringLiteral("OLD")),
                     counted(QStringLiteral("NEW")), addRow(QStringLiteral("NEW"))));
    run(dm, QStringLiteral("DROP TRIGGER IF EXISTS \"DoseMonths_keep\" ON \"Measures\""));
    run(dm, Fill.arg(quoted(Table), measures.sqlName()));
    run(dm, QStringLiteral("CREATE TRIGGER \"DoseMonths_keep\" AFTER INSERT OR DELETE OR UPDATE OF \"ID\", \"DateTime\", \"Dose\" "
                           "ON \"Measures\" FOR EACH ROW EXECUTE FUNCTION \"ruvo_dose_months\"()"));
    return true;
}

QString nextMonth(const QString &key)
{
    const int year = key.left(4).toInt();
    const int month = key.mid(5, 2).toInt();
    if (month >= 12)
        return year >= 9999 ? QString() : QStringLiteral("%1-01").arg(year + 1, 4, 10, QLatin1Char('0'));
    return QStringLiteral("%1-%2").arg(year, 4, 10, QLatin1Char('0')).arg(month + 1, 2, 10, QLatin1Char('0'));
}

} // namespace

namespace MonthSums {

QString sqlName(const SqlDialect &dialect)
{
    return dialect.sqlite() ? quoted(QStringLiteral("Measures")) + QLatin1Char('.') + quoted(Table) : quoted(Table);
}

bool prepare(DataModule &dm, DataTable &measures)
{
    // In a savepoint of the exclusive step: a failure here takes back only
    // its own statements, and on the server leaves the step's transaction
    // usable.
    run(dm, QStringLiteral("SAVEPOINT ruvo_month_sums"));
    try {
        const bool kept = dm.dialect().sqlite() ? prepareFile(dm, measures) : prepareServer(dm, measures);
        run(dm, QStringLiteral("RELEASE SAVEPOINT ruvo_month_sums"));
        return kept;
    } catch (const std::exception &e) {
        qWarning("Monthly dose sums not kept: %s", e.what());
        QSqlQuery q(dm.database());
        q.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ruvo_month_sums"));
        q.exec(QStringLiteral("RELEASE SAVEPOINT ruvo_month_sums"));
        return false;
    }
}

bool wholeMonths(const QString &from, bool fromIncluded, const QString &to, QString *first, QString *end)
{
    // Every time of month P sorts at or after "P" and before the next
    // month's key: P is whole when "P" meets the lower bound and the next
    // key is at most `to`, which holds for every month before to's own.
    static const QRegularExpression month(QStringLiteral("^[0-9]{4}-(0[1-9]|1[0-2])"));
    if (!month.match(from).hasMatch() || !month.match(to).hasMatch())
        return false;
    const QString fromMonth = from.left(7);
    *first = (fromIncluded ? fromMonth >= from : fromMonth > from) ? fromMonth : nextMonth(fromMonth);
    *end = to.left(7);
    return !first->isEmpty() && *first < *end;
}

} // namespace MonthSums

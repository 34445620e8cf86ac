// The name synchronisation: every reading in Measures gets the name of the
// person who held that dosimeter at the time of the reading, as the journal
// Notes says, and every journal entry gets the dose summed over its period.
//
// The work is set-based SQL in one transaction. The journal entries are taken
// in TimeFrom order (ties in key order); where the periods of one dosimeter
// overlap, the entry taken later wins the shared readings, and each entry's
// dose sums every reading of its own period. Both bounds are inclusive; a
// blank TimeFrom counts as the zero date-time (30.12.1899), an unreadable one
// as the largest date-time (the entry then matches nothing); a blank or
// unreadable TimeTo is an open end. Readings whose time is blank get no name. While the journal's filter is on only the
// entries it shows are taken; the readings of the others keep no name.

#include "core/AppState.h"
#include "core/Errors.h"
#include "core/Prompt.h"
#include "monitor/core/SyncEngine.h"
#include "records/StoredDateTime.h"
#include "records/UDM.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

const QString EntriesTable = QStringLiteral("temp.\"RuvoNameSyncEntries\"");
const QString TotalsTable = QStringLiteral("temp.\"RuvoNameSyncTotals\"");
const QString NamesTable = QStringLiteral("temp.\"RuvoNameSyncNames\"");

QSqlQuery Run(const QSqlDatabase &db, const QString &sql, const QVariantList &params = {})
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw EGeneralError(q.lastError().text());
    for (const QVariant &v : params)
        q.addBindValue(v);
    if (!q.exec())
        throw EGeneralError(q.lastError().text());
    return q;
}

void PostPending(TTable &table)
{
    if (table.State() == TTableState::Edit || table.State() == TTableState::Insert) {
        if (table.Modified())
            table.Post();
        else
            table.Cancel();
    }
}

// A stored date-time text that reads as a date-time: the fixed-width form
// with a real calendar date and time.
QString Readable(const QString &column)
{
    return QStringLiteral("(%1 GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9].[0-9][0-9][0-9]' "
                          "AND datetime(substr(%1, 1, 19)) = substr(%1, 1, 19))")
        .arg(column);
}

struct DropTemp {
    QSqlDatabase db;
    ~DropTemp()
    {
        QSqlQuery q(db);
        q.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(EntriesTable));
        q.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(TotalsTable));
        q.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(NamesTable));
    }
};

void RunNameSync(TDM &dm)
{
    TTable &measures = dm.Measures;
    TTable &notes = dm.Notes;
    const QSqlDatabase db = dm.Database();
    const TFieldDef &timeDef = notes.FieldDef(QStringLiteral("TimeFrom"));
    const QVariant zeroTime = TTable::ToStorage(timeDef, QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    const QVariant maxTime = TTable::ToStorage(timeDef, MaxDateTime());

    DropTemp dropTemp{db};
    Run(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(EntriesTable));
    Run(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(TotalsTable));
    Run(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(NamesTable));
    // Kept in dosimeter and taking order, so that the entry a reading gets is
    // the first one found walking its dosimeter's entries backwards.
    Run(db, QStringLiteral("CREATE TABLE %1 (\"Ord\" INTEGER, \"NoteKey\" INTEGER, \"ID\" INTEGER, "
                           "\"TimeFrom\" TEXT, \"TimeTo\" TEXT, \"FIO\" TEXT, PRIMARY KEY (\"ID\", \"Ord\")) WITHOUT ROWID")
                .arg(EntriesTable));

    // The entries the journal shows, numbered in the order they are taken,
    // with their bounds. A blank dosimeter number is taken as 0, as the
    // journal's "ID=" filter of it would select.
    const QString where = notes.WhereClause();
    QVariantList params{zeroTime, maxTime, maxTime};
    params += notes.WhereParams();
    Run(db,
        QStringLiteral("INSERT INTO %1 (\"Ord\", \"NoteKey\", \"ID\", \"TimeFrom\", \"TimeTo\", \"FIO\") "
                       "SELECT row_number() OVER (ORDER BY \"TimeFrom\", \"Index\"), \"Index\", "
                       "CAST(COALESCE(\"ID\", 0) AS INTEGER), "
                       "CASE WHEN \"TimeFrom\" IS NULL THEN ? WHEN %3 THEN \"TimeFrom\" ELSE ? END, "
                       "CASE WHEN %4 THEN \"TimeTo\" ELSE ? END, \"FIO\" FROM %2%5")
            .arg(EntriesTable, notes.SqlName(), Readable(QStringLiteral("\"TimeFrom\"")), Readable(QStringLiteral("\"TimeTo\"")),
                 where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where),
        params);
    // The periods of a dosimeter by their start, with everything the totals
    // read, so that they never look up the entry itself.
    Run(db, QStringLiteral("CREATE INDEX temp.\"RuvoNameSyncEntriesID\" ON \"RuvoNameSyncEntries\" "
                           "(\"ID\", \"TimeFrom\", \"TimeTo\", \"NoteKey\")"));

    // Every reading: the name of the last entry taken whose period holds it,
    // or none. One pass over the table finds the readings whose name changes
    // (looking each one's entry up once); only those are written.
    const QString nameOf = QStringLiteral(
                               "(SELECT e.\"FIO\" FROM %1 AS e WHERE e.\"ID\" = m.\"ID\" "
                               "AND m.\"DateTime\" BETWEEN e.\"TimeFrom\" AND e.\"TimeTo\" "
                               "ORDER BY e.\"Ord\" DESC LIMIT 1)")
                               .arg(EntriesTable);
    Run(db, QStringLiteral("CREATE TABLE %1 (\"Key\" INTEGER PRIMARY KEY, \"Value\")").arg(NamesTable));
    // The limit keeps the inner query whole, so that the name is looked up
    // once a reading rather than once for the test and once for the value.
    Run(db, QStringLiteral("INSERT INTO %1 (\"Key\", \"Value\") SELECT \"Key\", \"Value\" FROM "
                           "(SELECT m.\"Index\" AS \"Key\", m.\"FIO\" AS \"Old\", %3 AS \"Value\" FROM %2 AS m LIMIT -1) "
                           "WHERE \"Old\" COLLATE BINARY IS NOT \"Value\"")
                .arg(NamesTable, measures.SqlName(), nameOf));
    measures.SetFieldFromTable(QStringLiteral("FIO"), NamesTable);

    // Every entry taken: the dose over its own period (blank doses add
    // nothing), again in one pass over the readings.
    Run(db, QStringLiteral("CREATE TABLE %1 AS SELECT e.\"NoteKey\" AS \"NoteKey\", TOTAL(m.\"Dose\") AS \"Dose\" "
                           "FROM %2 AS m CROSS JOIN %3 AS e "
                           "WHERE e.\"ID\" = m.\"ID\" AND m.\"DateTime\" BETWEEN e.\"TimeFrom\" AND e.\"TimeTo\" "
                           "GROUP BY e.\"NoteKey\"")
                .arg(TotalsTable, measures.SqlName(), EntriesTable));
    Run(db, QStringLiteral("CREATE INDEX temp.\"RuvoNameSyncTotalsKey\" ON \"RuvoNameSyncTotals\" (\"NoteKey\")"));
    const QString totalOf = QStringLiteral("COALESCE((SELECT t.\"Dose\" FROM %1 AS t WHERE t.\"NoteKey\" = %2.\"Index\"), 0.0)");
    try {
        Run(db, QStringLiteral("UPDATE %1 SET \"Dose\" = %2 WHERE \"Index\" IN (SELECT \"NoteKey\" FROM %3)")
                    .arg(notes.SqlName(), totalOf.arg(TotalsTable, QStringLiteral("\"Notes\"")), EntriesTable));
    } catch (const EGeneralError &) {
        // One entry whose total cannot be written keeps its old total; the
        // others still get theirs.
        QSqlQuery keys = Run(db, QStringLiteral("SELECT \"NoteKey\" FROM %1 ORDER BY \"Ord\"").arg(EntriesTable));
        QSqlQuery update(db);
        update.prepare(QStringLiteral("UPDATE %1 SET \"Dose\" = %2 WHERE \"Index\" = ?")
                           .arg(notes.SqlName(), totalOf.arg(TotalsTable, QStringLiteral("\"Notes\""))));
        while (keys.next()) {
            update.addBindValue(keys.value(0));
            update.exec();
        }
    }
}

} // namespace

void SyncEngine::SyncNamesFromJournal()
{
    TDM *dm = Database();
    if (dm) {
        TTable &measures = dm->Measures;
        TTable &notes = dm->Notes;
        try {
            PostPending(measures);
            PostPending(notes);
            // These orders stay in force afterwards.
            measures.SetIndexFieldNames(QStringLiteral("DateTime"));
            notes.SetIndexFieldNames(QStringLiteral("TimeFrom"));
            TTransaction transaction(*dm);
            RunNameSync(*dm);
            transaction.Commit();
        } catch (...) {
            Prompt().message(MsgKind::Error,
                             QStringLiteral("В процессе синхронизации возникла ошибка, возможно необходимо произвести чистку таблиц"),
                             BtnOk);
        }
        // The views re-read the rewritten rows; the filter of Measures was
        // never touched, so it stays as it was.
        try {
            measures.Refresh();
        } catch (...) {
        }
        try {
            notes.Refresh();
        } catch (...) {
        }
    } else {
        Prompt().message(MsgKind::Error,
                         QStringLiteral("В процессе синхронизации возникла ошибка, возможно необходимо произвести чистку таблиц"),
                         BtnOk);
    }
    App().INeedSynhroFIO = false;
    emit NamesSynchronised();
}

void SyncEngine::AskNameSync(bool extNotesDown)
{
    if (!App().INeedSynhroFIO || !extNotesDown)
        return;
    // Unattended, the names wait for an operator: nothing is rewritten unseen
    // and the flag stays set.
    const int answer = Prompt().ask(MsgKind::Warning,
                                    QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"),
                                    BtnOk | BtnCancel, BtnCancel);
    if (answer == BtnOk)
        SyncNamesFromJournal();
}

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
// unreadable TimeTo is an open end. While the journal's filter is on only the
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
    if (table.State() == TDataSetState::Edit || table.State() == TDataSetState::Insert) {
        if (table.Modified())
            table.Post();
        else
            table.Cancel();
    }
}

// The bounds of one journal entry as stored date-time texts.
QVariant Bound(const TFieldDef &def, const QVariant &stored, const QDateTime &whenBlank)
{
    if (stored.isNull())
        return TTable::ToStorage(def, whenBlank);
    const QVariant value = TTable::FromStorage(def, stored);
    const QDateTime time = value.toDateTime();
    if (value.isNull() || !time.isValid())
        return TTable::ToStorage(def, MaxDateTime());
    return TTable::ToStorage(def, time);
}

void RunNameSync(TDM &dm)
{
    TTable &measures = dm.Measures;
    TTable &notes = dm.Notes;
    const QSqlDatabase db = dm.Database();
    const TFieldDef &fromDef = notes.FieldDef(QStringLiteral("TimeFrom"));
    const TFieldDef &toDef = notes.FieldDef(QStringLiteral("TimeTo"));
    const QDateTime zeroTime(QDate(1899, 12, 30), QTime(0, 0));

    Run(db, QStringLiteral("DROP TABLE IF EXISTS %1").arg(EntriesTable));
    Run(db, QStringLiteral("CREATE TABLE %1 (\"Ord\" INTEGER PRIMARY KEY, \"NoteKey\" INTEGER, \"ID\" INTEGER, "
                           "\"TimeFrom\" TEXT, \"TimeTo\" TEXT, \"FIO\" TEXT)")
                .arg(EntriesTable));
    struct DropEntries {
        QSqlDatabase db;
        ~DropEntries()
        {
            QSqlQuery q(db);
            q.exec(QStringLiteral("DROP TABLE IF EXISTS %1").arg(EntriesTable));
        }
    } dropEntries{db};

    // The entries the journal shows, in the order they are taken.
    const QString where = notes.WhereClause();
    QSqlQuery entries = Run(db,
                            QStringLiteral("SELECT \"Index\", \"ID\", \"TimeFrom\", \"TimeTo\", \"FIO\" FROM %1%2 "
                                           "ORDER BY \"TimeFrom\", \"Index\"")
                                .arg(notes.SqlName(), where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where),
                            notes.WhereParams());
    QSqlQuery insert(db);
    if (!insert.prepare(QStringLiteral("INSERT INTO %1 (\"NoteKey\", \"ID\", \"TimeFrom\", \"TimeTo\", \"FIO\") "
                                       "VALUES (?, ?, ?, ?, ?)")
                            .arg(EntriesTable)))
        throw EGeneralError(insert.lastError().text());
    while (entries.next()) {
        insert.addBindValue(entries.value(0));
        // The journal's "ID=" filter of a blank number selects dosimeter 0.
        insert.addBindValue(entries.value(1).isNull() ? QVariant(0) : QVariant(entries.value(1).toLongLong()));
        insert.addBindValue(Bound(fromDef, entries.value(2), zeroTime));
        const QVariant to = entries.value(3).isNull() ? TTable::ToStorage(toDef, MaxDateTime())
                                                      : Bound(toDef, entries.value(3), MaxDateTime());
        insert.addBindValue(to);
        insert.addBindValue(entries.value(4));
        if (!insert.exec())
            throw EGeneralError(insert.lastError().text());
    }
    entries.finish();
    Run(db, QStringLiteral("CREATE INDEX temp.\"RuvoNameSyncEntriesID\" ON \"RuvoNameSyncEntries\" (\"ID\", \"TimeFrom\")"));

    // Every reading: the name of the last entry taken whose period holds it,
    // or none. Rows whose name does not change are not written.
    const QString nameOf = QStringLiteral(
                               "(SELECT e.\"FIO\" FROM %1 AS e WHERE e.\"ID\" = m.\"ID\" "
                               "AND m.\"DateTime\" BETWEEN e.\"TimeFrom\" AND e.\"TimeTo\" "
                               "ORDER BY e.\"Ord\" DESC LIMIT 1)")
                               .arg(EntriesTable);
    Run(db, QStringLiteral("UPDATE %1 AS m SET \"FIO\" = %2 WHERE m.\"FIO\" COLLATE BINARY IS NOT %2")
                .arg(measures.SqlName(), nameOf));

    // Every entry taken: the dose over its own period. An entry whose total
    // cannot be written keeps its old one.
    QSqlQuery totals = Run(db, QStringLiteral("SELECT \"NoteKey\", \"ID\", \"TimeFrom\", \"TimeTo\" FROM %1 ORDER BY \"Ord\"")
                                   .arg(EntriesTable));
    QSqlQuery update(db);
    if (!update.prepare(QStringLiteral("UPDATE %1 SET \"Dose\" = (SELECT TOTAL(m.\"Dose\") FROM %2 AS m "
                                       "WHERE m.\"ID\" = ? AND m.\"DateTime\" BETWEEN ? AND ?) WHERE \"Index\" = ?")
                            .arg(notes.SqlName(), measures.SqlName())))
        throw EGeneralError(update.lastError().text());
    while (totals.next()) {
        update.addBindValue(totals.value(1));
        update.addBindValue(totals.value(2));
        update.addBindValue(totals.value(3));
        update.addBindValue(totals.value(0));
        update.exec();
    }
    totals.finish();
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
    const int answer = Prompt().message(MsgKind::Warning,
                                        QStringLiteral("Последние данные не синхронизированы.\rСинхронизировать?"),
                                        BtnOk | BtnCancel);
    if (answer == BtnOk)
        SyncNamesFromJournal();
}

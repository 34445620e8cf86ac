// The name synchronisation; see NameSync.h. The journal entries taken are
// gathered by SQL, the readings pass once through SQL and are each looked up
// among their dosimeter's entries in memory (compared as SQLite compares the
// stored values), and the names that change are written in one statement.
// On SQLite the rows reach the look-up through SQL functions, on the server
// through forward-only queries; the look-up is the same.

#include "records/NameSync.h"

#include "core/Errors.h"
#include "records/StoredDateTime.h"
#include "records/AuditLog.h"
#include "records/DataModule.h"
#include "records/SqlQuote.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <cstring>

#include <sqlite3.h>

namespace {

const QString EntriesTable = QStringLiteral("temp.\"RuvoNameSyncEntries\"");
const QString TotalsTable = QStringLiteral("temp.\"RuvoNameSyncTotals\"");
const QString NamesTable = QStringLiteral("temp.\"RuvoNameSyncNames\"");

void postPending(DataTable &table)
{
    if (table.state() == TableState::Edit || table.state() == TableState::Insert) {
        if (table.modified())
            table.post();
        else
            table.cancel();
    }
}

// A stored date-time text that reads as a date-time: the fixed-width form
// with a real calendar date and time.
QString readable(const QString &column)
{
    return QStringLiteral("(%1 GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9].[0-9][0-9][0-9]' "
                          "AND datetime(substr(%1, 1, 19)) = substr(%1, 1, 19))")
        .arg(column);
}

// A value as SQLite stores it, compared in SQLite's own order (numbers
// before texts before blobs, texts and blobs byte by byte), so that the
// look-ups below find exactly what SQL comparisons of the same values would.
// The bytes of a text or blob are SQLite's own: they last as long as the
// call of the function that was given the value.
struct StoredValue {
    int type = SQLITE_NULL;
    qint64 i = 0;
    double r = 0;
    const char *data = nullptr;
    int size = 0;

    static StoredValue of(sqlite3_value *v)
    {
        StoredValue s;
        s.type = sqlite3_value_type(v);
        if (s.type == SQLITE_INTEGER) {
            s.i = sqlite3_value_int64(v);
        } else if (s.type == SQLITE_FLOAT) {
            s.r = sqlite3_value_double(v);
        } else if (s.type == SQLITE_TEXT) {
            s.data = reinterpret_cast<const char *>(sqlite3_value_text(v));
            s.size = sqlite3_value_bytes(v);
        } else if (s.type == SQLITE_BLOB) {
            s.data = static_cast<const char *>(sqlite3_value_blob(v));
            s.size = sqlite3_value_bytes(v);
        }
        return s;
    }
    bool numeric() const { return type == SQLITE_INTEGER || type == SQLITE_FLOAT; }
};

int compareIntReal(qint64 i, double r)
{
    if (r < -9223372036854775808.0)
        return 1;
    if (r >= 9223372036854775808.0)
        return -1;
    const qint64 y = qint64(r);
    if (i != y)
        return i < y ? -1 : 1;
    const double x = double(i);
    return x < r ? -1 : (x > r ? 1 : 0);
}

// Neither value is NULL.
int compareStored(const StoredValue &a, const StoredValue &b)
{
    auto rank = [](int type) { return type == SQLITE_TEXT ? 2 : (type == SQLITE_BLOB ? 3 : 1); };
    if (rank(a.type) != rank(b.type))
        return rank(a.type) < rank(b.type) ? -1 : 1;
    if (a.numeric()) {
        if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER)
            return a.i < b.i ? -1 : (a.i > b.i ? 1 : 0);
        if (a.type == SQLITE_FLOAT && b.type == SQLITE_FLOAT)
            return a.r < b.r ? -1 : (a.r > b.r ? 1 : 0);
        return a.type == SQLITE_INTEGER ? compareIntReal(a.i, b.r) : -compareIntReal(b.i, a.r);
    }
    const int n = qMin(a.size, b.size);
    const int c = n > 0 ? std::memcmp(a.data, b.data, size_t(n)) : 0;
    if (c != 0)
        return c < 0 ? -1 : 1;
    return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
}

// The journal entries taken, each dosimeter's last taken first, with the
// dose totalled over each one's period while the readings pass by. Both
// engines hand their rows to this one rule: SQLite through SQL functions,
// the server through forward-only queries.
class EntryLookup {
public:
    ~EntryLookup()
    {
        for (Entry &e : m_entries)
            sqlite3_value_free(e.fio);
    }
    // One entry (dosimeter number, order taken, Notes key, bounds); its
    // name as SQLite holds it (fio, duplicated here) or as the server
    // returned it (fioValue).
    void add(qint64 id, qint64 ord, qint64 noteKey, const StoredValue &from, const StoredValue &to,
             sqlite3_value *fio, const QVariant &fioValue = QVariant())
    {
        Entry e;
        e.ord = ord;
        e.noteKey = noteKey;
        e.from = from;
        e.to = to;
        e.fromBytes = QByteArray(from.data, from.size);
        e.toBytes = QByteArray(to.data, to.size);
        e.fio = fio ? sqlite3_value_dup(fio) : nullptr;
        e.fioValue = fioValue;
        m_byId[id].append(m_entries.size());
        m_entries.append(e);
    }
    // After the last add: each dosimeter's entries, last taken first.
    void ready()
    {
        for (Entry &e : m_entries) {
            e.from.data = e.fromBytes.constData();
            e.to.data = e.toBytes.constData();
        }
        for (QVector<int> &list : m_byId)
            std::sort(list.begin(), list.end(), [&](int a, int b) { return m_entries[a].ord > m_entries[b].ord; });
    }
    struct Entry;
    // A reading (ID, DateTime, Dose; hasDose false for a blank dose): the
    // last entry taken whose period holds it (null when none does); its
    // dose goes to every entry whose period holds it, as TOTAL() adds it up.
    const Entry *reading(const StoredValue &id, const StoredValue &time, bool hasDose, double dose)
    {
        const QVector<int> *list = entriesOf(id);
        if (!list || time.type == SQLITE_NULL)
            return nullptr;
        const Entry *taken = nullptr;
        for (int index : *list) {
            Entry &e = m_entries[index];
            if (e.from.type == SQLITE_NULL || e.to.type == SQLITE_NULL || compareStored(time, e.from) < 0
                || compareStored(time, e.to) > 0)
                continue;
            if (!taken)
                taken = &e;
            if (hasDose)
                e.total += dose;
        }
        return taken;
    }
    // (NoteKey, total) of every entry.
    QList<QPair<qint64, double>> totals() const
    {
        QList<QPair<qint64, double>> out;
        for (const Entry &e : m_entries)
            out.append({e.noteKey, e.total});
        return out;
    }
    qint64 size() const { return m_entries.size(); }

    struct Entry {
        qint64 ord = 0;
        qint64 noteKey = 0;
        StoredValue from;
        StoredValue to;
        QByteArray fromBytes;  // what from and to point at
        QByteArray toBytes;
        sqlite3_value *fio = nullptr;
        QVariant fioValue;
        double total = 0;
    };

private:
    // The entries of the dosimeter a reading names: its number compares
    // equal to theirs only as a number.
    const QVector<int> *entriesOf(const StoredValue &v) const
    {
        qint64 key = 0;
        if (v.type == SQLITE_INTEGER) {
            key = v.i;
        } else if (v.type == SQLITE_FLOAT && std::floor(v.r) == v.r && std::fabs(v.r) < 9.0e18) {
            key = qint64(v.r);
            if (compareIntReal(key, v.r) != 0)
                return nullptr;
        } else {
            return nullptr;
        }
        const auto it = m_byId.constFind(key);
        return it == m_byId.constEnd() ? nullptr : &it.value();
    }

    QVector<Entry> m_entries;
    QHash<qint64, QVector<int>> m_byId;
};

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

// Returns how many journal entries were taken and how many readings got
// another name.
QPair<qint64, qint64> runNameSync(DataModule &dm)
{
    DataTable &measures = dm.measures();
    DataTable &notes = dm.notes();
    const QSqlDatabase db = dm.database();
    // Every statement goes through the module's connection, raising with the
    // database's message.
    const auto runSql = [&measures](const QString &sql, const QVariantList &params = {}) {
        return measures.exec(sql, params);
    };
    const FieldDef &timeDef = notes.fieldDef(fieldName(NotesField::TimeFrom));
    const QVariant zeroTime = DataTable::toStorage(timeDef, QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
    const QVariant maxTime = DataTable::toStorage(timeDef, maxDateTime());

    DropTemp dropTemp{db};
    runSql(QStringLiteral("DROP TABLE IF EXISTS %1").arg(EntriesTable));
    runSql(QStringLiteral("DROP TABLE IF EXISTS %1").arg(TotalsTable));
    runSql(QStringLiteral("DROP TABLE IF EXISTS %1").arg(NamesTable));
    // The entries' table and the journal spell the fields they share alike.
    const QString nIndex = RecordsSql::quoted(fieldName(NotesField::Index));
    const QString nId = RecordsSql::quoted(fieldName(NotesField::ID));
    const QString nFrom = RecordsSql::quoted(fieldName(NotesField::TimeFrom));
    const QString nTo = RecordsSql::quoted(fieldName(NotesField::TimeTo));
    const QString nFio = RecordsSql::quoted(fieldName(NotesField::FIO));
    const QString nDose = RecordsSql::quoted(fieldName(NotesField::Dose));
    runSql(QStringLiteral("CREATE TABLE %1 (\"Ord\" INTEGER PRIMARY KEY, \"NoteKey\" INTEGER, %2 INTEGER, "
                       "%3 TEXT, %4 TEXT, %5 TEXT)")
            .arg(EntriesTable, nId, nFrom, nTo, nFio));

    // The entries the journal shows, numbered in the order they are taken,
    // with their bounds. A blank dosimeter number is taken as 0, as the
    // journal's "ID=" filter of it would select.
    const QString where = notes.whereClause();
    QVariantList params{zeroTime, maxTime, maxTime};
    params += notes.whereParams();
    runSql(QStringLiteral("INSERT INTO %1 (\"Ord\", \"NoteKey\", %6, %7, %8, %9) "
                       "SELECT row_number() OVER (ORDER BY %7, %10), %10, "
                       "CAST(COALESCE(%6, 0) AS INTEGER), "
                       "CASE WHEN %7 IS NULL THEN ? WHEN %3 THEN %7 ELSE ? END, "
                       "CASE WHEN %4 THEN %8 ELSE ? END, %9 FROM %2%5")
            .arg(EntriesTable, notes.sqlName(), readable(nFrom), readable(nTo),
                 where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where, nId, nFrom, nTo, nFio, nIndex),
        params);
    // Every reading: the name of the last entry taken whose period holds it,
    // or none; every entry: the dose over its own period (blank doses add
    // nothing). One pass over the readings, each looked up among its
    // dosimeter's entries in memory, finds the readings whose name changes;
    // only those are written.
    EntryLookup lookup;
    // Each entry taken, handed over with its values as SQLite holds them.
    dm.withFunction("ruvo_name_sync_entry", 6, [&](sqlite3_context *ctx, int, sqlite3_value **v) {
        lookup.add(sqlite3_value_int64(v[0]), sqlite3_value_int64(v[1]), sqlite3_value_int64(v[2]),
                   StoredValue::of(v[3]), StoredValue::of(v[4]), v[5]);
        sqlite3_result_null(ctx);
    }, [&] {
        runSql(QStringLiteral("SELECT count(ruvo_name_sync_entry(%2, \"Ord\", \"NoteKey\", %3, %4, %5)) "
                           "FROM %1")
                .arg(EntriesTable, nId, nFrom, nTo, nFio));
    });
    lookup.ready();
    runSql(QStringLiteral("CREATE TABLE %1 (\"Key\" INTEGER PRIMARY KEY, \"Value\")").arg(NamesTable));
    dm.withFunction("ruvo_name_sync_reading", 3, [&](sqlite3_context *ctx, int, sqlite3_value **v) {
        const int doseType = sqlite3_value_numeric_type(v[2]);
        double dose = 0;
        if (doseType == SQLITE_INTEGER)
            dose = double(sqlite3_value_int64(v[2]));
        else if (doseType != SQLITE_NULL)
            dose = sqlite3_value_double(v[2]);
        if (const EntryLookup::Entry *taken =
                lookup.reading(StoredValue::of(v[0]), StoredValue::of(v[1]), doseType != SQLITE_NULL, dose))
            sqlite3_result_value(ctx, taken->fio);
        else
            sqlite3_result_null(ctx);
    }, [&] {
        // The limit keeps the inner query whole, so that every reading is
        // looked up exactly once.
        runSql(QStringLiteral("INSERT INTO %1 (\"Key\", \"Value\") SELECT \"Key\", \"Value\" FROM "
                           "(SELECT m.%3 AS \"Key\", m.%4 AS \"Old\", "
                           "ruvo_name_sync_reading(m.%5, m.%6, m.%7) AS \"Value\" "
                           "FROM %2 AS m LIMIT -1) WHERE \"Old\" COLLATE BINARY IS NOT \"Value\"")
                .arg(NamesTable, measures.sqlName(), RecordsSql::quoted(fieldName(MeasuresField::Index)),
                     RecordsSql::quoted(fieldName(MeasuresField::FIO)), RecordsSql::quoted(fieldName(MeasuresField::ID)),
                     RecordsSql::quoted(fieldName(MeasuresField::DateTime)),
                     RecordsSql::quoted(fieldName(MeasuresField::Dose))));
    });
    measures.setFieldFromTable(fieldName(MeasuresField::FIO), NamesTable);

    runSql(QStringLiteral("CREATE TABLE %1 (\"NoteKey\" INTEGER, %2 REAL)").arg(TotalsTable, nDose));
    {
        QSqlQuery insert(db);
        if (!insert.prepare(QStringLiteral("INSERT INTO %1 (\"NoteKey\", %2) VALUES (?, ?)").arg(TotalsTable, nDose)))
            throw EGeneralError(insert.lastError().text());
        for (const auto &total : lookup.totals()) {
            insert.addBindValue(total.first);
            insert.addBindValue(total.second);
            if (!insert.exec())
                throw EGeneralError(insert.lastError().text());
        }
    }
    QPair<qint64, qint64> counts;
    {
        QSqlQuery c = runSql(QStringLiteral("SELECT (SELECT count(*) FROM %1), (SELECT count(*) FROM %2)")
                                 .arg(EntriesTable, NamesTable));
        if (c.next())
            counts = {c.value(0).toLongLong(), c.value(1).toLongLong()};
    }
    runSql(QStringLiteral("CREATE INDEX temp.\"RuvoNameSyncTotalsKey\" ON \"RuvoNameSyncTotals\" (\"NoteKey\")"));
    const QString totalOf = QStringLiteral("COALESCE((SELECT t.%3 FROM %1 AS t WHERE t.\"NoteKey\" = %2.%4), 0.0)");
    try {
        runSql(QStringLiteral("UPDATE %1 SET %4 = %2 WHERE %5 IN (SELECT \"NoteKey\" FROM %3)")
                .arg(notes.sqlName(), totalOf.arg(TotalsTable, QStringLiteral("\"Notes\""), nDose, nIndex), EntriesTable,
                     nDose, nIndex));
    } catch (const EGeneralError &) {
        // One entry whose total cannot be written keeps its old total; the
        // others still get theirs.
        QSqlQuery keys = runSql(QStringLiteral("SELECT \"NoteKey\" FROM %1 ORDER BY \"Ord\"").arg(EntriesTable));
        QSqlQuery update(db);
        update.prepare(QStringLiteral("UPDATE %1 SET %3 = %2 WHERE %4 = ?")
                           .arg(notes.sqlName(), totalOf.arg(TotalsTable, QStringLiteral("\"Notes\""), nDose, nIndex),
                                nDose, nIndex));
        while (keys.next()) {
            update.addBindValue(keys.value(0));
            update.exec();
        }
    }
    return counts;
}

// A stored date-time text that reads as a date-time (as readable() tests it
// in SQL): the fixed-width form with a real calendar date and time.
bool readableText(const QVariant &v)
{
    if (v.isNull())
        return false;
    const QString t = v.toString();
    static const QString pattern = QStringLiteral("0000-00-00 00:00:00.000");
    if (t.size() != pattern.size())
        return false;
    for (qsizetype i = 0; i < t.size(); ++i) {
        if (pattern[i] == QLatin1Char('0') ? !t[i].isDigit() || t[i].unicode() > '9' : t[i] != pattern[i])
            return false;
    }
    // The date and the time each on its own: a local time that a clock
    // change skips still reads, as it does for SQLite.
    return QDate::fromString(t.left(10), QStringLiteral("yyyy-MM-dd")).isValid()
        && QTime::fromString(t.mid(11, 8), QStringLiteral("HH:mm:ss")).isValid();
}

StoredValue textValue(const QByteArray &bytes)
{
    StoredValue v;
    v.type = SQLITE_TEXT;
    v.data = bytes.constData();
    v.size = int(bytes.size());
    return v;
}

// Inserts (key, value) rows into a temporary table of the server, many rows
// to a statement.
void insertPairs(DataTable &table, const QString &target, const QList<QPair<qint64, QVariant>> &rows)
{
    constexpr int Batch = 500;
    for (qsizetype at = 0; at < rows.size(); at += Batch) {
        const qsizetype n = qMin<qsizetype>(Batch, rows.size() - at);
        QStringList marks;
        QVariantList params;
        for (qsizetype i = at; i < at + n; ++i) {
            marks << QStringLiteral("(?, ?)");
            params << rows[i].first << rows[i].second;
        }
        table.exec(QStringLiteral("INSERT INTO %1 VALUES %2").arg(target, marks.join(QLatin1Char(','))), params);
    }
}

// The same work on the server: the journal entries the filter shows and then
// every reading pass once through forward-only queries into the same
// look-up; the changed names and the totals go back through temporary tables
// that vanish with the transaction, each in one statement.
QPair<qint64, qint64> runNameSyncServer(DataModule &dm)
{
    DataTable &measures = dm.measures();
    DataTable &notes = dm.notes();
    const QString nIndex = RecordsSql::quoted(fieldName(NotesField::Index));
    const QString nId = RecordsSql::quoted(fieldName(NotesField::ID));
    const QString nFrom = RecordsSql::quoted(fieldName(NotesField::TimeFrom));
    const QString nTo = RecordsSql::quoted(fieldName(NotesField::TimeTo));
    const QString nFio = RecordsSql::quoted(fieldName(NotesField::FIO));
    const QString nDose = RecordsSql::quoted(fieldName(NotesField::Dose));
    const QByteArray zeroTime = dateTimeToStored(QDateTime(QDate(1899, 12, 30), QTime(0, 0))).toUtf8();
    const QByteArray maxTime = dateTimeToStored(maxDateTime()).toUtf8();

    struct Taken {
        qint64 key;
        qint64 id;
        QByteArray stored;  // TimeFrom as stored, for the order taken
        bool fromBlank;
        QByteArray from;
        QByteArray to;
        QVariant fio;
    };
    QVector<Taken> taken;
    {
        const QString where = notes.whereClause();
        QSqlQuery q = notes.exec(QStringLiteral("SELECT %2, %3, %4, %5, %6 FROM %1%7")
                                     .arg(notes.sqlName(), nIndex, nId, nFrom, nTo, nFio,
                                          where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where),
                                 notes.whereParams());
        while (q.next()) {
            // A blank dosimeter number is taken as 0, as the journal's "ID="
            // filter of it would select.
            const QVariant from = q.value(2);
            taken.append({q.value(0).toLongLong(), q.value(1).isNull() ? 0 : q.value(1).toLongLong(),
                          from.toString().toUtf8(), from.isNull(),
                          from.isNull() ? zeroTime : (readableText(from) ? from.toString().toUtf8() : maxTime),
                          readableText(q.value(3)) ? q.value(3).toString().toUtf8() : maxTime, q.value(4)});
        }
    }
    // Taken in TimeFrom order as stored (blank first, texts byte by byte),
    // ties in key order.
    std::sort(taken.begin(), taken.end(), [](const Taken &a, const Taken &b) {
        if (a.fromBlank != b.fromBlank)
            return a.fromBlank;
        if (a.stored != b.stored)
            return a.stored < b.stored;
        return a.key < b.key;
    });
    EntryLookup lookup;
    for (qsizetype i = 0; i < taken.size(); ++i) {
        const Taken &t = taken[i];
        lookup.add(t.id, i + 1, t.key, textValue(t.from), textValue(t.to), nullptr, t.fio);
    }
    lookup.ready();

    QList<QPair<qint64, QVariant>> names;
    {
        const auto m = [](MeasuresField f) { return RecordsSql::quoted(fieldName(f)); };
        QSqlQuery q = measures.exec(QStringLiteral("SELECT %2, %3, %4, %5, %6 FROM %1 ORDER BY %2")
                                        .arg(measures.sqlName(), m(MeasuresField::Index), m(MeasuresField::FIO),
                                             m(MeasuresField::ID), m(MeasuresField::DateTime), m(MeasuresField::Dose)));
        while (q.next()) {
            StoredValue id;
            if (!q.value(2).isNull()) {
                id.type = SQLITE_INTEGER;
                id.i = q.value(2).toLongLong();
            }
            const QByteArray timeBytes = q.value(3).toString().toUtf8();
            StoredValue time;
            if (!q.value(3).isNull())
                time = textValue(timeBytes);
            const QVariant dose = q.value(4);
            const EntryLookup::Entry *e = lookup.reading(id, time, !dose.isNull(), dose.toDouble());
            const QVariant old = q.value(1);
            const QVariant name = e ? e->fioValue : QVariant();
            if (old.isNull() != name.isNull() || (!old.isNull() && old.toString() != name.toString()))
                names.append({q.value(0).toLongLong(), name.isNull() ? QVariant(QMetaType(QMetaType::QString)) : name});
        }
    }
    if (!names.isEmpty()) {
        measures.exec(QStringLiteral("CREATE TEMPORARY TABLE \"RuvoNameSyncNames\" (\"Key\" BIGINT PRIMARY KEY, "
                                     "\"Value\" TEXT) ON COMMIT DROP"));
        insertPairs(measures, QStringLiteral("pg_temp.\"RuvoNameSyncNames\""), names);
        measures.exec(QStringLiteral("UPDATE %1 AS t SET %2 = s.\"Value\" FROM pg_temp.\"RuvoNameSyncNames\" AS s "
                                     "WHERE t.%3 = s.\"Key\"")
                          .arg(measures.sqlName(), RecordsSql::quoted(fieldName(MeasuresField::FIO)),
                               RecordsSql::quoted(fieldName(MeasuresField::Index))));
    }
    if (lookup.size() > 0) {
        QList<QPair<qint64, QVariant>> totals;
        for (const auto &t : lookup.totals())
            totals.append({t.first, t.second});
        notes.exec(QStringLiteral("CREATE TEMPORARY TABLE \"RuvoNameSyncTotals\" (\"NoteKey\" BIGINT PRIMARY KEY, "
                                  "%1 DOUBLE PRECISION) ON COMMIT DROP").arg(nDose));
        insertPairs(notes, QStringLiteral("pg_temp.\"RuvoNameSyncTotals\""), totals);
        notes.exec(QStringLiteral("UPDATE %1 AS n SET %2 = t.%2 FROM pg_temp.\"RuvoNameSyncTotals\" AS t "
                                  "WHERE n.%3 = t.\"NoteKey\"")
                       .arg(notes.sqlName(), nDose, nIndex));
    }
    return {lookup.size(), qint64(names.size())};
}

} // namespace

NameSync::NameSync(DataModule &dm) : m_dm(dm)
{
}

bool NameSync::run()
{
    DataTable &measures = m_dm.measures();
    DataTable &notes = m_dm.notes();
    bool done = false;
    try {
        postPending(measures);
        postPending(notes);
        // These orders stay in force afterwards.
        measures.setIndexFieldNames(fieldName(MeasuresField::DateTime));
        notes.setIndexFieldNames(fieldName(NotesField::TimeFrom));
        Transaction transaction(m_dm);
        const QPair<qint64, qint64> counts =
            m_dm.dialect().sqlite() ? runNameSync(m_dm) : runNameSyncServer(m_dm);
        // One audit row for the run, with its counts.
        AuditLog(m_dm).write({measures.tableName() + QLatin1Char(',') + notes.tableName(), QString(),
                              AuditLog::SyncAction, QString(),
                              AuditLog::valuesText({{QStringLiteral("Notes"), counts.first},
                                                    {QStringLiteral("Measures"), counts.second}})});
        transaction.commit();
        done = true;
    } catch (...) {
    }
    // The views re-read the rewritten rows; the filter of Measures was
    // never touched, so it stays as it was.
    try {
        measures.refresh();
    } catch (...) {
    }
    try {
        notes.refresh();
    } catch (...) {
    }
    return done;
}

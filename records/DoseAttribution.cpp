// The dose per person from the readings; see DoseAttribution.h. The journal
// entries that overlap the period pass once into memory, each dosimeter's
// latest first; the period's readings then pass once (through the DateTime
// index), each looked up among its dosimeter's entries, its dose added to the
// entry found. Stored date-times are fixed-width texts, so their bytes compare
// as the times do. On SQLite both passes go through SQL functions, so nothing
// but two single-row results crosses the SQL interface; on the server they
// are forward-only queries feeding the same look-up.

#include "records/DoseAttribution.h"

#include "records/DataModule.h"
#include "records/SqlQuote.h"
#include "records/StoredDateTime.h"

#include <QByteArray>
#include <QHash>
#include <QSqlQuery>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <cstring>

#include <sqlite3.h>

namespace {

QByteArray textOf(sqlite3_value *v)
{
    if (sqlite3_value_type(v) == SQLITE_NULL)
        return {};
    const char *text = reinterpret_cast<const char *>(sqlite3_value_text(v));
    return QByteArray(text, sqlite3_value_bytes(v));
}

// A dosimeter number as SQLite holds it: a whole number, else none.
bool numberOf(sqlite3_value *v, qint64 *number)
{
    const int type = sqlite3_value_type(v);
    if (type == SQLITE_INTEGER) {
        *number = sqlite3_value_int64(v);
        return true;
    }
    if (type == SQLITE_FLOAT) {
        const double r = sqlite3_value_double(v);
        if (std::floor(r) != r || std::fabs(r) > 9.0e18)
            return false;
        *number = qint64(r);
        return true;
    }
    return false;
}

// A reading's dose as SQLite adds it up: a number, else nothing.
double doseOf(sqlite3_value *v)
{
    const int type = sqlite3_value_numeric_type(v);
    if (type == SQLITE_INTEGER)
        return double(sqlite3_value_int64(v));
    if (type == SQLITE_FLOAT)
        return sqlite3_value_double(v);
    return 0;
}

// The same from a typed column of the server (a blank is NULL).
bool numberOf(const QVariant &v, qint64 *number)
{
    if (v.isNull())
        return false;
    bool ok = false;
    *number = v.toLongLong(&ok);
    return ok;
}

int compareBytes(const QByteArray &a, const char *b, int size)
{
    const int n = qMin(int(a.size()), size);
    const int c = n > 0 ? std::memcmp(a.constData(), b, size_t(n)) : 0;
    if (c != 0)
        return c;
    return int(a.size()) - size;
}

// The rule itself, whichever engine hands over the rows.
class EntryLookup {
public:
    struct Entry {
        qint64 key = 0;
        QByteArray from;  // empty: blank TimeFrom, the earliest moment
        QByteArray to;
        bool open = true;  // no TimeTo: still issued
        QByteArray fio;    // UTF-8, blanks around it dropped
        qint64 readings = 0;
        double dose = 0;
    };

    // One entry; `hasId` false for one without a usable dosimeter number.
    void entry(const Entry &e, bool hasId, qint64 id)
    {
        if (hasId)
            m_byId[id].append(m_entries.size());
        m_entries.append(e);
    }
    // After the last entry: each dosimeter's entries, the latest TimeFrom
    // first (the same TimeFrom: the later added first).
    void ready()
    {
        for (QVector<int> &list : m_byId) {
            std::sort(list.begin(), list.end(), [&](int a, int b) {
                const Entry &x = m_entries[a];
                const Entry &y = m_entries[b];
                if (x.from != y.from)
                    return x.from > y.from;
                return x.key > y.key;
            });
        }
    }
    // One reading of the period: its dose goes to the entry that holds it,
    // or to none. `time` null: a reading without a time text.
    void reading(bool hasId, qint64 id, const char *time, int timeSize, double dose)
    {
        ++readings;
        this->dose += dose;
        if (Entry *e = hasId && time ? holder(id, time, timeSize) : nullptr) {
            ++e->readings;
            e->dose += dose;
        } else {
            ++unboundReadings;
            unboundDose += dose;
        }
    }
    const QVector<Entry> &entries() const { return m_entries; }

    qint64 readings = 0;
    double dose = 0;
    qint64 unboundReadings = 0;
    double unboundDose = 0;

private:
    Entry *holder(qint64 id, const char *time, int size)
    {
        const auto it = m_byId.constFind(id);
        if (it == m_byId.constEnd())
            return nullptr;
        for (const int index : *it) {
            Entry &e = m_entries[index];
            if (compareBytes(e.from, time, size) > 0)
                continue;  // begins later
            if (e.open || compareBytes(e.to, time, size) >= 0)
                return &e;
        }
        return nullptr;
    }

    QVector<Entry> m_entries;
    QHash<qint64, QVector<int>> m_byId;
};

// The entries that overlap the period and the period's readings, through
// SQL functions on SQLite (values as SQLite holds them, whatever wrote
// them), through forward-only queries on the server (its columns are typed).
void feedEntries(DataModule &dm, EntryLookup &lookup, const QString &fromText, const QString &toText)
{
    DataTable &notes = dm.notes();
    const auto q = [](NotesField f) { return RecordsSql::quoted(fieldName(f)); };
    // An entry that ends before the period or begins after it holds none of
    // its readings, so it cannot win one either.
    const QString columns = QStringLiteral("%1, %2, %3, %4, trim(coalesce(%5, ''))")
                                .arg(q(NotesField::Index), q(NotesField::ID), q(NotesField::TimeFrom),
                                     q(NotesField::TimeTo), q(NotesField::FIO));
    const QString rows = QStringLiteral(" FROM %1 WHERE (%2 IS NULL OR %2 <= ?) AND (%3 IS NULL OR %3 >= ?)")
                             .arg(notes.sqlName(), q(NotesField::TimeFrom), q(NotesField::TimeTo));
    if (dm.dialect().sqlite()) {
        dm.withFunction("ruvo_dose_entry", 5, [&](sqlite3_context *ctx, int, sqlite3_value **v) {
            EntryLookup::Entry e;
            e.key = sqlite3_value_int64(v[0]);
            e.from = textOf(v[2]);
            e.open = sqlite3_value_type(v[3]) == SQLITE_NULL;
            e.to = textOf(v[3]);
            e.fio = textOf(v[4]);
            qint64 id = 0;
            const bool hasId = numberOf(v[1], &id);
            lookup.entry(e, hasId, id);
            sqlite3_result_null(ctx);
        }, [&] {
            notes.exec(QStringLiteral("SELECT count(ruvo_dose_entry(%1))%2").arg(columns, rows), {toText, fromText});
        });
        return;
    }
    QSqlQuery r = notes.exec(QStringLiteral("SELECT %1%2").arg(columns, rows), {toText, fromText});
    while (r.next()) {
        EntryLookup::Entry e;
        e.key = r.value(0).toLongLong();
        e.from = r.value(2).toString().toUtf8();
        e.open = r.value(3).isNull();
        e.to = r.value(3).toString().toUtf8();
        e.fio = r.value(4).toString().toUtf8();
        qint64 id = 0;
        const bool hasId = numberOf(r.value(1), &id);
        lookup.entry(e, hasId, id);
    }
}

void feedReadings(DataModule &dm, EntryLookup &lookup, const QString &fromText, const QString &toText)
{
    DataTable &measures = dm.measures();
    const auto q = [](MeasuresField f) { return RecordsSql::quoted(fieldName(f)); };
    if (dm.dialect().sqlite()) {
        dm.withFunction("ruvo_dose_reading", 3, [&](sqlite3_context *ctx, int, sqlite3_value **v) {
            qint64 id = 0;
            const bool hasId = numberOf(v[0], &id);
            const bool text = sqlite3_value_type(v[1]) == SQLITE_TEXT;
            const char *time = text ? reinterpret_cast<const char *>(sqlite3_value_text(v[1])) : nullptr;
            const int size = text ? sqlite3_value_bytes(v[1]) : 0;
            lookup.reading(hasId, id, time, size, doseOf(v[2]));
            sqlite3_result_null(ctx);
        }, [&] {
            measures.exec(QStringLiteral("SELECT count(ruvo_dose_reading(%2, %3, %4)) FROM %1 "
                                         "WHERE %3 >= ? AND %3 <= ?")
                              .arg(measures.sqlName(), q(MeasuresField::ID), q(MeasuresField::DateTime),
                                   q(MeasuresField::Dose)),
                          {fromText, toText});
        });
        return;
    }
    // In the order SQLite's walk along the DateTime index takes, so that the
    // sums add up alike to the last bit.
    QSqlQuery r = measures.exec(QStringLiteral("SELECT %2, %3, %4 FROM %1 WHERE %3 >= ? AND %3 <= ? ORDER BY %3, %5")
                                    .arg(measures.sqlName(), q(MeasuresField::ID), q(MeasuresField::DateTime),
                                         q(MeasuresField::Dose), q(MeasuresField::Index)),
                                {fromText, toText});
    while (r.next()) {
        qint64 id = 0;
        const bool hasId = numberOf(r.value(0), &id);
        const QByteArray time = r.value(1).toString().toUtf8();
        const QVariant dose = r.value(2);
        lookup.reading(hasId, id, time.constData(), int(time.size()), dose.isNull() ? 0.0 : dose.toDouble());
    }
}

} // namespace

DoseAttribution DoseAttribution::compute(DataModule &dm, const QDateTime &from, const QDateTime &to)
{
    DoseAttribution result;
    const QString fromText = dateTimeToStored(from.isValid() ? from : minDateTime());
    const QString toText = dateTimeToStored(to.isValid() ? to : maxDateTime());
    if (fromText > toText)
        return result;
    EntryLookup lookup;
    feedEntries(dm, lookup, fromText, toText);
    lookup.ready();
    feedReadings(dm, lookup, fromText, toText);
    result.readings = lookup.readings;
    result.dose = lookup.dose;
    result.unboundReadings = lookup.unboundReadings;
    result.unboundDose = lookup.unboundDose;

    QHash<QByteArray, int> byName;
    for (const EntryLookup::Entry &e : lookup.entries()) {
        PersonDose *p = &result.unnamed;
        if (!e.fio.isEmpty()) {
            auto it = byName.constFind(e.fio);
            if (it == byName.constEnd()) {
                it = byName.insert(e.fio, int(result.persons.size()));
                result.persons.append(PersonDose{QString::fromUtf8(e.fio)});
            }
            p = &result.persons[*it];
        }
        ++p->entries;
        p->readings += e.readings;
        p->dose += e.dose;
    }
    // As the grids sort names: without case first, ties in plain order.
    QVector<QPair<QString, int>> order;
    order.reserve(result.persons.size());
    for (int i = 0; i < result.persons.size(); ++i)
        order.append({result.persons[i].fio.toCaseFolded(), i});
    std::sort(order.begin(), order.end(), [&](const QPair<QString, int> &a, const QPair<QString, int> &b) {
        if (a.first != b.first)
            return a.first < b.first;
        return result.persons[a.second].fio < result.persons[b.second].fio;
    });
    QList<PersonDose> sorted;
    sorted.reserve(order.size());
    for (const auto &o : order)
        sorted.append(result.persons[o.second]);
    result.persons = sorted;
    return result;
}

QString DoseAttribution::openEnd()
{
    static const QString text = dateTimeToStored(maxDateTime());
    return text;
}

namespace {

// One end of a span: its text and whether the moment itself belongs.
bool spanEmpty(const HeldSpan &s)
{
    return s.from > s.to || (s.from == s.to && !(s.fromIncluded && s.toIncluded));
}

} // namespace

QList<HeldSpan> DoseAttribution::heldSpans(const JournalBinding &entry, const QList<JournalBinding> &sameDosimeter,
                                           const QString &from, const QString &to)
{
    HeldSpan whole;
    whole.from = qMax(entry.from, from);
    const QString entryTo = entry.open ? openEnd() : entry.to;
    whole.to = qMin(entryTo, to);
    QList<HeldSpan> spans;
    if (!spanEmpty(whole))
        spans.append(whole);
    for (const JournalBinding &w : sameDosimeter) {
        if (spans.isEmpty())
            break;
        if (w.key == entry.key || w.id != entry.id || !w.beats(entry))
            continue;
        const QString wTo = w.open ? openEnd() : w.to;
        QList<HeldSpan> rest;
        for (const HeldSpan &s : std::as_const(spans)) {
            // The part before the winner begins ...
            HeldSpan before = s;
            if (s.to >= w.from) {
                before.to = w.from;
                before.toIncluded = false;
            }
            if (!spanEmpty(before))
                rest.append(before);
            // ... and the part after it ends.
            if (!w.open) {
                HeldSpan after = s;
                if (s.from <= wTo) {
                    after.from = wTo;
                    after.fromIncluded = false;
                }
                if (!spanEmpty(after))
                    rest.append(after);
            }
        }
        spans = rest;
    }
    return spans;
}

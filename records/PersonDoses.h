#pragma once
// Persons and their doses over calendar periods, for dose control.
//
// A person is a card when a journal name matches the card's name (letter
// case ignored, blanks collapsed) or its label (compared as the dosimeter
// holds it; a name match goes first, then the first card in key order);
// names that match no card are persons of their own, by that name. Every
// dose is summed from the readings through the journal as DoseAttribution
// attributes them (DoseAttribution::heldSpans for one person, compute() for
// everyone at once), so the two never disagree.
//
// The journal and the cards are kept in memory once per data module and
// re-read after any change made through the module's tables; refresh() says
// which bindings changed since the last look, for the re-evaluation of
// alerts. All on the thread that owns the data module. Failures of the store
// raise ERuvoError.

#include "records/DoseAttribution.h"

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>
#include <optional>

class DataModule;

// The periods levels are set for.
enum class DosePeriod { Reading, Month, Quarter, Year, FiveYears, Pregnancy };

// A period of the calendar: its kind and its first and last moment.
struct PeriodRange {
    DosePeriod kind = DosePeriod::Year;
    QDateTime from;  // 00:00:00.000 of its first day
    QDateTime to;    // 23:59:59.999 of its last day
    QString fromText() const;
    QString toText() const;
    bool operator==(const PeriodRange &o) const { return kind == o.kind && from == o.from && to == o.to; }
};

namespace DosePeriods {
// The month, quarter or year holding the day (other kinds: the year).
PeriodRange holding(DosePeriod kind, const QDate &day);
// The five consecutive calendar years that begin in firstYear.
PeriodRange fiveYears(int firstYear);
// Every five-year stretch that holds the year (five of them).
QList<PeriodRange> fiveYearsHolding(int year);
// From one day's start to another day's end.
PeriodRange days(DosePeriod kind, const QDate &first, const QDate &last);
// Every period of the kind (month, quarter, year, five years) that overlaps
// [from, to], in order.
QList<PeriodRange> overlapping(DosePeriod kind, const QDate &from, const QDate &to);
// The stored words of the kinds ("reading", "month", "quarter", "year",
// "5years", "pregnancy") and the Russian names for texts.
QString word(DosePeriod kind);
std::optional<DosePeriod> fromWord(const QString &word);
QString title(DosePeriod kind);
// "март 2026", "II квартал 2026", "2026 год", "2022–2026", the dates.
QString describe(const PeriodRange &period);
} // namespace DosePeriods

struct DosePerson {
    QString key;      // "card:<Cards.Index>" or "name:<name folded>"
    QString fio;      // the card's name, or the name as the journal first has it
    QVariant cardKey; // null for a person without a card
    QString subDiv;   // the card's subdivision
};

// A journal entry with the person it belongs to (empty key: a blank name).
struct PersonBinding : JournalBinding {
    QString personKey;
};

// What changed between two looks at the journal: a dosimeter's readings
// between these moments may belong to someone else now.
struct TouchedStretch {
    qint64 id = 0;
    QString from;
    QString to;
};

class PersonDirectory {
public:
    // The module's directory, made on first use and kept with the module.
    static PersonDirectory &of(DataModule &dm);

    // Re-reads the journal and the cards when a table changed since the last
    // look and returns what moved (nothing on the first look).
    QList<TouchedStretch> refresh();
    // Forgets the copy: the next refresh() re-reads and compares.
    void markChanged() { m_stale = true; }

    // The person of a journal name; empty for a blank name.
    QString personOf(const QString &journalName) const;
    std::optional<DosePerson> person(const QString &key) const;
    QList<DosePerson> persons() const;
    // The person key of a card (whether or not the journal names it).
    static QString cardPersonKey(const QVariant &cardKey);
    static QString namePersonKey(const QString &name);

    QList<PersonBinding> bindingsOf(const QString &personKey) const;
    QList<PersonBinding> bindingsOfDosimeter(qint64 id) const;
    // The entry that holds a reading of this dosimeter at this stored time.
    std::optional<PersonBinding> holder(qint64 id, const QString &time) const;

private:
    explicit PersonDirectory(DataModule &dm);
    friend class PersonDirectoryHolder;
    void load();

    DataModule &m_dm;
    bool m_stale = true;
    bool m_loaded = false;
    QHash<qint64, PersonBinding> m_entries;           // by Notes.Index
    QHash<qint64, QList<qint64>> m_byDosimeter;       // entry keys, the winner first
    QHash<QString, QList<qint64>> m_byPerson;         // entry keys
    QHash<QString, DosePerson> m_persons;
    QHash<QString, QString> m_cardByName;             // folded name -> person key
    QHash<QByteArray, QString> m_cardByLabel;         // label key -> person key
};

// A person's dose over a period with the readings counted.
struct PeriodDose {
    double dose = 0;
    qint64 readings = 0;
};

// One reading attributed to a person.
struct PersonReading {
    qint64 index = 0;
    qint64 id = 0;
    QDateTime time;
    double dose = 0;
};

class PersonDoses {
public:
    explicit PersonDoses(DataModule &dm);

    // The person's dose over [from, to] (both included): the readings of the
    // spans their bindings hold, each summed through the index.
    PeriodDose dose(const QString &personKey, const QDateTime &from, const QDateTime &to) const;
    PeriodDose dose(const QString &personKey, const PeriodRange &period) const
    {
        return dose(personKey, period.from, period.to);
    }
    // The doses of the twelve months of a year, January first.
    QList<double> monthly(const QString &personKey, int year) const;
    // The person's dose per calendar month over [from, to], keyed "yyyy-MM"
    // (months without a reading left out): the spans of dose(), summed per
    // month by the store through the same index.
    QMap<QString, PeriodDose> byMonth(const QString &personKey, const QDateTime &from, const QDateTime &to) const;
    // The person's readings over [from, to] in time order (then by Index).
    QList<PersonReading> readings(const QString &personKey, const QDateTime &from, const QDateTime &to) const;
    // The first of those readings at which their running sum is over
    // `level`; nothing when the sum never is. Only that reading's time is
    // converted, so it is cheap to ask for many persons at once.
    std::optional<PersonReading> crossing(const QString &personKey, const PeriodRange &period, double level) const;

    // Everyone's dose over [from, to] at once (DoseAttribution::compute,
    // the names gathered into persons), sorted by name.
    struct Row {
        DosePerson person;
        PeriodDose dose;
    };
    QList<Row> everyone(const QDateTime &from, const QDateTime &to) const;

private:
    DataModule &m_dm;
};

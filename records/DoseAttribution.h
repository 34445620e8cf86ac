#pragma once
// The dose each person received over a period, summed from the readings
// (Measures) themselves, so it never depends on the name synchronisation.
//
// A reading counts when its DateTime lies in [from, to], both ends included.
// It belongs to the journal entry (Notes) of its dosimeter number whose
// binding holds its time: from TimeFrom to TimeTo, both included; an entry
// without TimeTo is still issued and runs on, a blank TimeFrom counts as the
// earliest moment. Where entries of one dosimeter overlap, the one with the
// later TimeFrom wins (the same TimeFrom: the one added later). A release
// stores TimeTo and the next binding of that dosimeter may begin in the very
// same second; a reading of that second then goes to the new binding, as the
// name synchronisation also decides. Names are compared without the blanks
// around them. An entry without a dosimeter number holds no readings.

#include <QDateTime>
#include <QList>
#include <QString>

class DataModule;

struct PersonDose {
    QString fio;          // blanks around it dropped; empty for entries without a name
    int entries = 0;      // journal entries of this name that overlap the period
    qint64 readings = 0;  // readings attributed to them
    double dose = 0;      // sum of those readings' doses (blank doses add nothing)
};

// One journal entry as the attribution orders it, its times as stored texts
// (see StoredDateTime.h).
struct JournalBinding {
    qint64 key = 0;   // Notes.Index
    qint64 id = 0;    // dosimeter number
    QString from;     // empty: blank TimeFrom, the earliest moment
    QString to;       // meaningless while open
    bool open = true; // no TimeTo: still issued
    QString fio;      // blanks around it dropped

    // Whether this entry wins a reading over `other` of the same dosimeter
    // when both hold its time: the later TimeFrom, the same: added later.
    bool beats(const JournalBinding &other) const
    {
        return from != other.from ? from > other.from : key > other.key;
    }
};

// A stretch of time in stored texts, each end included or not.
struct HeldSpan {
    QString from;
    bool fromIncluded = true;
    QString to;
    bool toIncluded = true;
};

struct DoseAttribution {
    QList<PersonDose> persons;   // every name with an entry overlapping the period, sorted by name
    PersonDose unnamed;          // entries whose name is blank
    qint64 unboundReadings = 0;  // readings of the period no entry holds
    double unboundDose = 0;
    qint64 readings = 0;         // every reading of the period
    double dose = 0;

    // One pass over the period's readings (through the DateTime index). A
    // period that ends before it begins holds nothing. Raises ERuvoError
    // when the store fails.
    static DoseAttribution compute(DataModule &dm, const QDateTime &from, const QDateTime &to);

    // The same rule for one entry: the stretches of [from, to] (stored
    // texts, both included) in which `entry` holds its dosimeter's readings,
    // given the other entries of that dosimeter (the entry itself may be
    // among them): its binding less every binding that beats it. Summing a
    // dosimeter's readings over these stretches gives the entry's dose as
    // compute() finds it, through the index on (ID, DateTime) alone.
    static QList<HeldSpan> heldSpans(const JournalBinding &entry, const QList<JournalBinding> &sameDosimeter,
                                     const QString &from, const QString &to);
    // The text that stands for an open end.
    static QString openEnd();
};

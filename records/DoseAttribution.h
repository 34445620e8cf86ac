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
};

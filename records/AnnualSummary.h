#pragma once
// The annual summary of doses: for one calendar year, per subdivision and
// group, each person's dose for the year, the number of people in each dose
// band, and the mean and the largest dose; the same for everyone together.
//
// Persons and doses are those of PersonDoses::everyone (everyone with a
// journal entry overlapping the year, a dose of nothing included); the
// subdivision is the card's (empty for a person without a card or without
// one), the group the one set for the person (A when none). Doses in
// microsieverts.
//
// Dose bands, in mSv, each holding its upper bound: 0–1 (0 to 1 000 µSv
// included), 1–5 (over 1 000 up to 5 000 included), 5–6, 6–15, 15–20, and
// over 20 (more than 20 000 µSv). A dose of exactly 5 mSv is in 1–5, as a
// dose is over a level only when it is greater than it.

#include "core/Result.h"
#include "records/CsvExport.h"
#include "records/DoseLevels.h"

#include <QList>
#include <QString>
#include <array>

class DataModule;

struct AnnualSummary {
    static constexpr int BandCount = 6;
    // The upper bounds of the first five bands, µSv (the last has none).
    static const std::array<double, BandCount - 1> BandBounds;
    static int bandOf(double microsieverts);
    static QString bandTitle(int band);  // "0–1 мЗв", ..., "более 20 мЗв"

    struct Person {
        DosePerson person;
        WorkerGroup group = WorkerGroup::A;
        double dose = 0;
        qint64 readings = 0;
    };
    struct Section {
        QString subDiv;                  // empty: no subdivision
        WorkerGroup group = WorkerGroup::A;
        QList<Person> persons;           // by name
        std::array<int, BandCount> bands{};
        double sum = 0;
        double mean = 0;                 // over the persons, 0 for none
        double largest = 0;
        QString largestFio;              // the first person with the largest dose
        void add(const Person &p);
        void finish();
    };

    int year = 0;
    QList<Section> sections;  // by subdivision, then group A before B
    Section everyone;         // all persons together (its subDiv and group unused)

    // Refused: a year outside 1900..9999 (Invalid). Store failures: their kind.
    static Result<AnnualSummary> compute(DataModule &dm, int year);

    static QString sectionTitle(const Section &s);  // "Цех 1, группа А", "Без подразделения, группа Б"
    QList<QStringList> csvRows(const CsvFormat &format = {}) const;
    Result<> exportCsv(const QString &path, const CsvFormat &format = {}) const;
};

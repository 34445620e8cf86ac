#pragma once
// The personal dose card: what the dose record of one person holds, computed
// headless for the card window, its printout, PDF and CSV.
//
// The person's card data and group; the dose of every calendar month from
// the January of the first year with a reading or a dated binding to the
// December of the year asked for, each with the running total since the
// first month; the quarter and year sums; the five-year sum (the five years
// that end with the year asked for) and the pregnancy sum when one is
// declared, each against the levels that apply (DoseLevels::applying); the
// dosimeters worn with their periods (the journal's bindings); the person's
// alerts. Every dose comes from PersonDoses (byMonth: the person's spans,
// summed per month by the store), i.e. the one attribution of readings to
// journal entries. Doses in microsieverts.

#include "core/Result.h"
#include "records/CardIndex.h"
#include "records/CsvExport.h"
#include "records/DoseAlerts.h"
#include "records/DoseLevels.h"

#include <QDate>
#include <QList>
#include <QString>
#include <array>
#include <optional>

class DataModule;

struct DoseCardMonth {
    int year = 0;
    int month = 0;       // 1..12
    double dose = 0;
    qint64 readings = 0;
    double running = 0;  // everything up to this month's end
};

struct DoseCardYear {
    int year = 0;
    std::array<double, 4> quarters{};
    double dose = 0;
    qint64 readings = 0;
    double running = 0;  // everything up to this year's end
};

// A dose over a period against the levels of that period.
struct DoseCardCheck {
    PeriodRange period;
    double dose = 0;
    std::optional<double> limit;
    std::optional<double> investigation;
    bool overLimit() const { return limit && dose > *limit; }
    bool overInvestigation() const { return investigation && dose > *investigation; }
};

struct DoseCardDosimeter {
    qint64 id = 0;
    QDateTime from;  // null: blank in the journal
    QDateTime to;    // null while issued
    bool open = true;
};

struct DoseCard {
    QDate asOf;
    DosePerson person;
    std::optional<CardData> card;  // none for a person known only by name
    PersonSettings settings;       // group and pregnancy
    QList<AppliedLevel> levels;
    int firstYear = 0;
    int lastYear = 0;              // the year of asOf
    QList<DoseCardMonth> months;   // every month, firstYear January on
    QList<DoseCardYear> years;
    DoseCardCheck fiveYears;       // lastYear - 4 .. lastYear
    std::optional<DoseCardCheck> pregnancy;
    QList<DoseCardDosimeter> dosimeters;  // by the start of the binding
    QList<DoseAlert> alerts;              // newest first
    double total = 0;
    qint64 readings = 0;

    // The card of the person (a PersonDirectory key) up to the end of asOf's
    // year. Refused: an unknown person (Invalid). Store failures: their kind.
    static Result<DoseCard> compute(DataModule &dm, const QString &personKey, const QDate &asOf);

    // The level that applies to the person for the period and kind, if any.
    std::optional<double> level(DosePeriod period, LevelKind kind) const;
    const DoseCardYear *year(int year) const;
    QList<DoseCardMonth> monthsOf(int year) const;
    // A year's level check (its sum against the year levels).
    DoseCardCheck yearCheck(int year) const;

    // The title lines and tables as a CSV file holds them (doses as numbers
    // in microsieverts with the format's decimal mark).
    QList<QStringList> csvRows(const CsvFormat &format = {}) const;
    // Writes csvRows() to the file; the error says why it was not written.
    Result<> exportCsv(const QString &path, const CsvFormat &format = {}) const;

    static QString groupTitle(WorkerGroup group);  // "группа А", "группа Б"
};

#pragma once
// Control levels of dose, in microsieverts, and each person's group and
// declared pregnancy.
//
// A level belongs to a period (one reading, a calendar month, quarter or
// year, five consecutive calendar years, a declared pregnancy) and is a
// limit or an investigation level. Built-in defaults apply until a site sets
// its own: group A 50 000 a year and 100 000 over five years, group B a
// quarter of those, an investigation level of 6 000 a year and of 1 000 for
// one reading, 1 000 over a declared pregnancy. A site's level is set for
// everyone, for a subdivision (the card's SubDiv) or for one person, and
// optionally for one group; the most specific applies: the person's, then
// the subdivision's for the group, the subdivision's, everyone's for the
// group, everyone's, the default.
//
// Every change goes through setLevel() or setPerson(), the one place each
// (an audit trail hooks there). A change is checked first; a refused one
// returns ErrorKind::Invalid with the reason and changes nothing. Store failures raise ERuvoError.

#include "core/Result.h"
#include "records/PersonDoses.h"

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

class DataModule;

enum class LevelKind { Limit, Investigation };
enum class LevelScope { All, SubDiv, Person };
enum class WorkerGroup { A, B };

// Which level: for whom and of what.
struct LevelKey {
    LevelScope scope = LevelScope::All;
    QString target;                    // the subdivision or the person key; empty for everyone
    std::optional<WorkerGroup> group;  // none: every group
    DosePeriod period = DosePeriod::Year;
    LevelKind kind = LevelKind::Limit;
};

struct StoredLevel {
    LevelKey key;
    double value = 0;
    QDateTime changed;
    QString changedBy;
};

// A level as it applies to a person, and where it comes from.
struct AppliedLevel {
    DosePeriod period = DosePeriod::Year;
    LevelKind kind = LevelKind::Limit;
    double value = 0;
    bool fromDefault = true;
    LevelScope scope = LevelScope::All;  // where the site set it (when not default)
};

struct PersonSettings {
    QString personKey;
    WorkerGroup group = WorkerGroup::A;
    QDate pregnantFrom;  // null: no declared pregnancy
    QDate pregnantTo;    // null: still declared
};

class DoseLevels {
public:
    explicit DoseLevels(DataModule &dm);

    // The built-in level of a group, if there is one.
    static std::optional<double> defaultLevel(WorkerGroup group, DosePeriod period, LevelKind kind);
    static QString kindWord(LevelKind kind);       // "limit", "investigation"
    static QString kindTitle(LevelKind kind);      // "предел", "уровень расследования"
    static QString groupWord(WorkerGroup group);   // "A", "B"

    // The levels the site has set.
    QList<StoredLevel> stored() const;
    // Sets the level (value: microsieverts) or, with no value, removes the
    // site's level so the next less specific one applies. Refused: a value
    // that is not a positive number, a subdivision or person level without
    // its target, an everyone level with one, a pregnancy level for a
    // subdivision, and any change after which an investigation level would
    // not lie below the limit of the same period for someone.
    Result<> setLevel(const LevelKey &key, std::optional<double> value, const QString &operatorName);

    // The levels that apply to the person (their group and subdivision
    // looked up), one per period and kind that has any.
    QList<AppliedLevel> applying(const QString &personKey) const;
    QList<AppliedLevel> applying(const PersonSettings &person, const QString &subDiv) const;

    // The person's group and pregnancy (group A without a pregnancy when
    // nothing was set).
    PersonSettings person(const QString &personKey) const;
    // Refused: an unknown person key form, an end of pregnancy without its
    // start or before it.
    Result<> setPerson(const PersonSettings &settings, const QString &operatorName);

private:
    Result<> check(const QList<StoredLevel> &levels) const;

    DataModule &m_dm;
};

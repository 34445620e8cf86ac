#pragma once
// Dose alerts: a person over a control level in a period.
//
// When a stored reading brings its holder's dose over a level in the period
// that holds the reading (its month, quarter, year, each five-year stretch
// holding its year, the declared pregnancy; or the reading alone), an alert
// is stored with the person, the level, the period, the dose, the reading
// and the moment, and written to Events.log. One level in one period alerts
// once while its alert stands; another level (an investigation level, then
// the limit) alerts anew.
//
// When the journal or the cards change (a binding added, changed, removed,
// a card's name or label), the periods of the readings that may now belong
// to someone else are looked at again for everyone concerned: alerts that
// now apply are raised, those whose dose is no longer over their level are
// marked withdrawn with the reason; none is ever deleted. Only an operator
// acknowledges an alert (acknowledge(), the one place that does).
//
// Nothing here asks anything. Store failures raise ERuvoError, except in
// checkStoredReading(), which never raises (see there).

#include "records/DoseLevels.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class DataModule;

struct DoseAlert {
    qint64 index = 0;
    QString personKey;
    QString fio;
    QString subDiv;
    PeriodRange period;
    LevelKind kind = LevelKind::Limit;
    double level = 0;
    double dose = 0;
    qint64 readingIndex = 0;
    qint64 readingId = 0;
    QDateTime readingTime;
    QDateTime raised;
    QDateTime withdrawn;  // null while it stands
    QString withdrawReason;
    QString ackBy;        // empty until acknowledged
    QDateTime ackTime;
    QString ackComment;

    bool standing() const { return withdrawn.isNull(); }
    bool acknowledged() const { return !ackBy.isEmpty(); }
    // One line for the log and the lists.
    QString text() const;
};

// A reading as the store path knows it.
struct ReadingForCheck {
    qint64 index = 0;
    qint64 id = 0;
    QDateTime time;
    double dose = 0;
};

// What a re-evaluation did.
struct Reevaluation {
    int raised = 0;
    int withdrawn = 0;
};

// What a change of a level or of a person's group or pregnancy touches.
struct LevelReview {
    std::optional<QStringList> persons;  // none: everyone
    std::optional<DosePeriod> period;    // none: every period
    std::optional<LevelKind> kind;       // none: both kinds
    QString cause;                       // the start of a withdrawal's reason
};

// Tells whoever shows alerts that one was raised, withdrawn or acknowledged
// through the module (sent after the change, on the module's thread).
class DoseAlertsSignal : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
signals:
    void changed();
};

class DoseAlerts {
public:
    // The module's signal, made on first use and kept with the module.
    static DoseAlertsSignal &signalOf(DataModule &dm);

    explicit DoseAlerts(DataModule &dm);

    // The check for one reading just stored; returns the alerts raised.
    // Looks at journal changes first (refreshBindings()).
    // later: readings stored after it and committed with it (a forwarded
    // batch, checked after its commit); the sums leave them out, so that
    // the check finds what it would have found right after this reading.
    QList<DoseAlert> check(const ReadingForCheck &reading, const QList<ReadingForCheck> &later = {});
    // The store path's call: check() that never raises and never delays the
    // reading, which is stored already; a failure goes to Events.log and
    // the debug output.
    static void checkStoredReading(DataModule &dm, const ReadingForCheck &reading,
                                   const QList<ReadingForCheck> &later = {}) noexcept;

    // Looks again at whatever the journal and the cards changed since the
    // last look (see PersonDirectory::refresh()).
    Reevaluation refreshBindings();
    // The store's hook after a change of the journal: refreshBindings()
    // that never raises (a failure is logged, the next look catches up).
    static void bindingsChanged(DataModule &dm) noexcept;
    // Looks again at one dosimeter's readings between two stored times.
    Reevaluation reevaluate(qint64 dosimeter, const QString &from, const QString &to);

    // After a level or a person's group or pregnancy changed: the current
    // periods (the month, quarter, year and five-year stretches holding
    // `today`, the readings of its year, the declared pregnancy) of the
    // persons concerned are looked at again against the levels that apply
    // now. Alerts that now apply are raised; standing ones whose level no
    // longer applies, whose dose is no longer over the level that applies,
    // or whose pregnancy is no longer the declared one are withdrawn with
    // the reason. Alerts of past periods stay as they are.
    Reevaluation reviewLevels(const LevelReview &review, const QDate &today);
    // DoseLevels' hook: reviewLevels() for today that never raises (a
    // failure is logged).
    static void levelsChanged(DataModule &dm, const LevelReview &review) noexcept;

    // Acknowledges the alert: operator's name required; an acknowledged
    // one keeps its first acknowledgement. Refused (Invalid): unknown alert,
    // no name; an acknowledged one again: Conflict.
    Result<> acknowledge(qint64 alertIndex, const QString &operatorName, const QString &comment);

    // Alerts, newest first; all, or those standing and unacknowledged.
    QList<DoseAlert> alerts(bool onlyOpen = false) const;
    QList<DoseAlert> alertsOf(const QString &personKey) const;
    std::optional<DoseAlert> alert(qint64 index) const;
    // Standing, unacknowledged alerts (the state strip's count).
    qint64 unacknowledgedCount() const;

private:
    QList<DoseAlert> select(const QString &where, const QVariantList &params) const;
    bool standingExists(const DoseAlert &a) const;
    void raise(DoseAlert &a);
    // Raises the alert of a period whose dose is over its level, naming the
    // reading at which the running sum went over.
    void raiseOverPeriod(DoseAlert &a, const PersonDoses &doses);
    void withdraw(const DoseAlert &a, const QString &reason);

    DataModule &m_dm;
};

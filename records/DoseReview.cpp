// Dose alerts looked at again after a level or a person's group or
// pregnancy changed; see DoseAlerts::reviewLevels().

#include "records/DoseAlerts.h"

#include "core/LogFiles.h"
#include "records/DataModule.h"
#include "records/DoseText.h"
#include "records/SqlQuote.h"
#include "records/StoredDateTime.h"

#include <QDebug>
#include <QHash>
#include <QSet>
#include <QSqlQuery>

namespace {

QString periodId(const QString &personKey, const PeriodRange &p)
{
    return personKey + QLatin1Char('|') + DosePeriods::word(p.kind) + p.fromText();
}

} // namespace

Reevaluation DoseAlerts::reviewLevels(const LevelReview &review, const QDate &today)
{
    Reevaluation result = refreshBindings();
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    const DoseLevels levels(m_dm);
    const PersonDoses doses(m_dm);
    const auto inScope = [&](DosePeriod period, LevelKind kind) {
        return (!review.period || *review.period == period) && (!review.kind || *review.kind == kind);
    };
    const auto periodInScope = [&](DosePeriod period) { return !review.period || *review.period == period; };

    // The calendar periods holding today.
    const PeriodRange year = DosePeriods::holding(DosePeriod::Year, today);
    QList<PeriodRange> current;
    for (DosePeriod p : {DosePeriod::Month, DosePeriod::Quarter, DosePeriod::Year}) {
        if (periodInScope(p))
            current.append(DosePeriods::holding(p, today));
    }
    if (periodInScope(DosePeriod::FiveYears))
        current += DosePeriods::fiveYearsHolding(today.year());
    const auto isCurrent = [&](const PeriodRange &p) { return current.contains(p); };

    // Who is concerned: the persons named, or everyone with a dose in a
    // current period (each period summed for everyone at once), with a
    // declared pregnancy, or with an alert standing there.
    QSet<QString> persons;
    QHash<QString, double> known;  // everyone's doses: a person missing had none
    const bool summedForEveryone = !review.persons;
    if (review.persons) {
        persons = QSet<QString>(review.persons->cbegin(), review.persons->cend());
    } else {
        QList<PeriodRange> summed = current;
        if (periodInScope(DosePeriod::Reading) && !summed.contains(year))
            summed.append(year);  // who has readings this year
        for (const PeriodRange &p : std::as_const(summed)) {
            for (const PersonDoses::Row &row : doses.everyone(p.from, p.to)) {
                if (row.person.key.isEmpty())
                    continue;
                known.insert(periodId(row.person.key, p), row.dose.dose);
                if (row.dose.readings > 0)
                    persons.insert(row.person.key);
            }
        }
        if (periodInScope(DosePeriod::Pregnancy)) {
            DataTable &t = m_dm.dosePersons();
            QSqlQuery q = t.exec(QStringLiteral("SELECT %2 FROM %1 WHERE %3 IS NOT NULL")
                                     .arg(t.sqlName(), RecordsSql::quoted(fieldName(DosePersonsField::PersonKey)),
                                          RecordsSql::quoted(fieldName(DosePersonsField::PregnantFrom))));
            while (q.next())
                persons.insert(q.value(0).toString());
        }
    }
    QHash<QString, QList<DoseAlert>> standing;
    for (const DoseAlert &a : select(QStringLiteral("%1 IS NULL").arg(RecordsSql::quoted(fieldName(DoseAlertsField::Withdrawn))), {})) {
        if (!inScope(a.period.kind, a.kind) || (review.persons && !persons.contains(a.personKey)))
            continue;
        const bool now = a.period.kind == DosePeriod::Pregnancy
            || (a.period.kind == DosePeriod::Reading ? a.readingTime >= year.from && a.readingTime <= year.to
                                                     : isCurrent(a.period));
        if (now) {
            standing[a.personKey].append(a);
            persons.insert(a.personKey);
        }
    }

    // One transaction for every alert raised or withdrawn (a change of
    // everyone's level may touch hundreds).
    std::optional<Transaction> tx;
    if (!m_dm.inTransaction())
        tx.emplace(m_dm);
    for (const QString &key : std::as_const(persons)) {
        const DosePerson person = dir.person(key).value_or(DosePerson{key, key.mid(5), {}, {}});
        const PersonSettings settings = levels.person(key);
        const QList<AppliedLevel> applied = levels.applying(settings, person.subDiv);
        std::optional<PeriodRange> pregnancy;
        if (!settings.pregnantFrom.isNull())
            pregnancy = DosePeriods::days(DosePeriod::Pregnancy, settings.pregnantFrom,
                                          settings.pregnantTo.isNull() ? QDate(9999, 12, 31) : settings.pregnantTo);
        const auto doseIn = [&](const PeriodRange &p) {
            const auto it = known.constFind(periodId(key, p));
            if (it != known.constEnd())
                return *it;
            return summedForEveryone && p.kind != DosePeriod::Pregnancy ? 0.0 : doses.dose(key, p).dose;
        };
        const auto levelOf = [&](DosePeriod period, LevelKind kind) -> std::optional<double> {
            for (const AppliedLevel &l : applied) {
                if (l.period == period && l.kind == kind)
                    return l.value;
            }
            return std::nullopt;
        };

        // Standing alerts that no longer apply.
        for (const DoseAlert &a : standing.value(key)) {
            QString reason;
            const std::optional<double> level = levelOf(a.period.kind, a.kind);
            if (a.period.kind == DosePeriod::Pregnancy && (!pregnancy || !(*pregnancy == a.period))) {
                reason = pregnancy ? QStringLiteral("период беременности изменён") : QStringLiteral("беременность не заявлена");
            } else if (!level) {
                reason = QStringLiteral("уровень больше не применяется");
            } else {
                const double now = a.period.kind == DosePeriod::Reading ? a.dose : doseIn(a.period);
                if (!(now > *level))
                    reason = QStringLiteral("доза %1 не превышает уровня %2")
                                 .arg(DoseText::format(now, a.period.kind == DosePeriod::Reading ? DoseShown::Reading : DoseShown::Sum),
                                      DoseText::format(*level));
            }
            if (!reason.isEmpty()) {
                withdraw(a, review.cause + reason);
                ++result.withdrawn;
            }
        }

        // Alerts that apply now.
        for (const AppliedLevel &level : applied) {
            if (!inScope(level.period, level.kind))
                continue;
            if (level.period == DosePeriod::Reading) {
                for (const PersonReading &r : doses.readings(key, year.from, year.to)) {
                    if (!(r.dose > level.value))
                        continue;
                    DoseAlert a{0, key, person.fio, person.subDiv, PeriodRange{DosePeriod::Reading, r.time, r.time},
                                level.kind, level.value, r.dose, r.index, r.id, r.time};
                    if (!standingExists(a)) {
                        raise(a);
                        ++result.raised;
                    }
                }
                continue;
            }
            QList<PeriodRange> periods;
            if (level.period == DosePeriod::Pregnancy) {
                if (pregnancy)
                    periods.append(*pregnancy);
            } else {
                for (const PeriodRange &p : std::as_const(current)) {
                    if (p.kind == level.period)
                        periods.append(p);
                }
            }
            for (const PeriodRange &period : std::as_const(periods)) {
                const double dose = doseIn(period);
                if (!(dose > level.value))
                    continue;
                DoseAlert a{0, key, person.fio, person.subDiv, period, level.kind, level.value, dose};
                if (!standingExists(a)) {
                    raiseOverPeriod(a, doses);
                    ++result.raised;
                }
            }
        }
    }
    if (tx)
        tx->commit();
    return result;
}

void DoseAlerts::levelsChanged(DataModule &dm, const LevelReview &review) noexcept
{
    try {
        DoseAlerts(dm).reviewLevels(review, QDate::currentDate());
    } catch (const std::exception &e) {
        const QString text = QStringLiteral("Контроль доз: пересмотр оповещений после изменения уровней не выполнен: %1")
                                 .arg(QString::fromUtf8(e.what()));
        qWarning().noquote() << text;
        logEvent(text);
    } catch (...) {
        logEvent(QStringLiteral("Контроль доз: пересмотр оповещений после изменения уровней не выполнен"));
    }
}

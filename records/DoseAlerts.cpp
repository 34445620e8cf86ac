// Dose alerts; see DoseAlerts.h.

#include "records/DoseAlerts.h"

#include "records/AuditLog.h"

#include "core/Errors.h"
#include "core/LogFiles.h"
#include "records/DataModule.h"
#include "records/SqlQuote.h"
#include "records/StoredDateTime.h"

#include <QDebug>
#include <QHash>
#include <QSet>
#include <QSqlQuery>
#include <optional>

using RecordsSql::quoted;
using A = DoseAlertsField;

namespace {

QString f(A field)
{
    return quoted(fieldName(field));
}

QString amount(double v)
{
    QString t = QString::number(v, 'f', 3);
    while (t.endsWith(QLatin1Char('0')))
        t.chop(1);
    if (t.endsWith(QLatin1Char('.')))
        t.chop(1);
    return t + QStringLiteral(" мкЗв");
}

QVariant textOrNull(const QString &t)
{
    return t.trimmed().isEmpty() ? QVariant() : QVariant(t.trimmed());
}

QVariant timeOrNull(const QDateTime &t)
{
    return t.isValid() ? QVariant(dateTimeToStored(t)) : QVariant();
}

// The periods of a kind that hold the reading's moment.
QList<PeriodRange> periodsHolding(DosePeriod kind, const QDateTime &time, const PersonSettings &person)
{
    switch (kind) {
    case DosePeriod::Reading:
        return {PeriodRange{kind, time, time}};
    case DosePeriod::Month:
    case DosePeriod::Quarter:
    case DosePeriod::Year:
        return {DosePeriods::holding(kind, time.date())};
    case DosePeriod::FiveYears:
        return DosePeriods::fiveYearsHolding(time.date().year());
    case DosePeriod::Pregnancy: {
        if (person.pregnantFrom.isNull())
            return {};
        const QDate last = person.pregnantTo.isNull() ? QDate(9999, 12, 31) : person.pregnantTo;
        if (time.date() < person.pregnantFrom || time.date() > last)
            return {};
        return {DosePeriods::days(kind, person.pregnantFrom, last)};
    }
    }
    return {};
}

// The periods of a kind that overlap [lo, hi].
QList<PeriodRange> periodsOverlapping(DosePeriod kind, const QDate &lo, const QDate &hi, const PersonSettings &person)
{
    if (kind == DosePeriod::Pregnancy) {
        if (person.pregnantFrom.isNull())
            return {};
        const QDate last = person.pregnantTo.isNull() ? QDate(9999, 12, 31) : person.pregnantTo;
        if (last < lo || person.pregnantFrom > hi)
            return {};
        return {DosePeriods::days(kind, person.pregnantFrom, last)};
    }
    return DosePeriods::overlapping(kind, lo, hi);
}

} // namespace

QString DoseAlert::text() const
{
    QString t = QStringLiteral("%1: превышен %2 (%3, %4): доза %5 при уровне %6")
                    .arg(fio, DoseLevels::kindTitle(kind), DosePeriods::title(period.kind),
                         DosePeriods::describe(period), amount(dose), amount(level));
    if (readingIndex > 0)
        t += QStringLiteral("; показание дозиметра %1 от %2").arg(readingId).arg(logTimeStamp(readingTime));
    return t;
}

DoseAlerts::DoseAlerts(DataModule &dm) : m_dm(dm)
{
}

bool DoseAlerts::standingExists(const DoseAlert &a) const
{
    DataTable &t = m_dm.doseAlerts();
    QString sql = QStringLiteral("SELECT %2 FROM %1 WHERE %3 = ? AND %4 = ? AND %5 = ? AND %6 = ? AND %7 IS NULL")
                      .arg(t.sqlName(), f(A::Index), f(A::PersonKey), f(A::Period), f(A::PeriodFrom), f(A::Kind),
                           f(A::Withdrawn));
    QVariantList params{a.personKey, DosePeriods::word(a.period.kind), a.period.fromText(),
                        DoseLevels::kindWord(a.kind)};
    if (a.period.kind == DosePeriod::Reading) {
        sql += QStringLiteral(" AND %1 = ?").arg(f(A::ReadingIndex));
        params.append(a.readingIndex);
    }
    return t.exec(sql, params).next();
}

void DoseAlerts::raise(DoseAlert &a)
{
    DataTable &t = m_dm.doseAlerts();
    a.raised = QDateTime::currentDateTime();
    QStringList names;
    for (A field : {A::PersonKey, A::FIO, A::SubDiv, A::Period, A::PeriodFrom, A::PeriodTo, A::Kind, A::Level,
                    A::Dose, A::ReadingIndex, A::ReadingID, A::ReadingTime, A::Raised})
        names.append(f(field));
    QSqlQuery q = t.exec(QStringLiteral("INSERT INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                             .arg(t.sqlName(), names.join(QStringLiteral(", "))),
                         {a.personKey, textOrNull(a.fio), textOrNull(a.subDiv), DosePeriods::word(a.period.kind),
                          a.period.fromText(), a.period.toText(), DoseLevels::kindWord(a.kind), a.level, a.dose,
                          a.readingIndex > 0 ? QVariant(a.readingIndex) : QVariant(), a.readingId,
                          timeOrNull(a.readingTime), dateTimeToStored(a.raised)});
    a.index = q.lastInsertId().toLongLong();
    logEvent(QStringLiteral("Контроль доз: ") + a.text());
    emit signalOf(m_dm).changed();
}

void DoseAlerts::withdraw(const DoseAlert &a, const QString &reason)
{
    DataTable &t = m_dm.doseAlerts();
    t.exec(QStringLiteral("UPDATE %1 SET %2 = ?, %3 = ? WHERE %4 = ? AND %2 IS NULL")
               .arg(t.sqlName(), f(A::Withdrawn), f(A::WithdrawReason), f(A::Index)),
           {dateTimeToStored(QDateTime::currentDateTime()), reason, a.index});
    logEvent(QStringLiteral("Контроль доз: снято оповещение (%1): %2").arg(a.text(), reason));
    emit signalOf(m_dm).changed();
}

void DoseAlerts::raiseOverPeriod(DoseAlert &a, const PersonDoses &doses)
{
    if (const std::optional<PersonReading> r = doses.crossing(a.personKey, a.period, a.level)) {
        a.readingIndex = r->index;
        a.readingId = r->id;
        a.readingTime = r->time;
    }
    raise(a);
}

DoseAlertsSignal &DoseAlerts::signalOf(DataModule &dm)
{
    const QString name = QStringLiteral("DoseAlertsSignal");
    auto *s = dm.findChild<DoseAlertsSignal *>(name, Qt::FindDirectChildrenOnly);
    if (!s) {
        s = new DoseAlertsSignal(&dm);
        s->setObjectName(name);
    }
    return *s;
}

QList<DoseAlert> DoseAlerts::check(const ReadingForCheck &reading, const QList<ReadingForCheck> &later)
{
    refreshBindings();
    QList<DoseAlert> raised;
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    const auto holder = dir.holder(reading.id, dateTimeToStored(reading.time));
    if (!holder || holder->personKey.isEmpty())
        return raised;
    const DosePerson person = dir.person(holder->personKey).value_or(DosePerson{holder->personKey, holder->fio, {}, {}});
    const DoseLevels levels(m_dm);
    const PersonSettings settings = levels.person(person.key);
    const PersonDoses doses(m_dm);
    QHash<QString, double> sums;
    // Every month, quarter and year a level can look at lies in the nine
    // years around the reading's (the five-year stretches holding it): their
    // monthly sums come in one pass, read once for all levels.
    std::optional<QMap<QString, PeriodDose>> months;
    const int year = reading.time.date().year();
    const auto calendarSum = [&](const PeriodRange &p) {
        if (!months)
            months = doses.byMonth(person.key, DosePeriods::holding(DosePeriod::Year, QDate(year - 4, 1, 1)).from,
                                   DosePeriods::holding(DosePeriod::Year, QDate(year + 4, 1, 1)).to);
        double total = 0;
        for (QDate m(p.from.date().year(), p.from.date().month(), 1); m <= p.to.date(); m = m.addMonths(1))
            total += months->value(m.toString(QStringLiteral("yyyy-MM"))).dose;
        return total;
    };
    // The person's readings among the later ones, by their stored times.
    QList<QPair<QString, double>> laterOwn;
    for (const ReadingForCheck &r : later) {
        const QString time = dateTimeToStored(r.time);
        const auto of = dir.holder(r.id, time);
        if (of && of->personKey == person.key)
            laterOwn.append({time, r.dose});
    }
    const auto laterIn = [&](const PeriodRange &p) {
        double total = 0;
        const QString from = p.fromText();
        const QString to = p.toText();
        for (const auto &[time, dose] : std::as_const(laterOwn)) {
            if (time >= from && time <= to)
                total += dose;
        }
        return total;
    };
    // The person's open alerts over periods of the nine years, read once
    // when a level is first found exceeded (a reading's own alert is
    // looked up by itself).
    std::optional<QSet<QString>> open;
    const auto standing = [&](const DoseAlert &a) {
        if (a.period.kind == DosePeriod::Reading)
            return standingExists(a);
        const auto key = [](const QString &period, const QString &from, const QString &kind) {
            return period + QLatin1Char('|') + from + QLatin1Char('|') + kind;
        };
        if (!open) {
            open.emplace();
            // The earliest period that can hold the reading.
            QString lowest = DosePeriods::fiveYears(year - 4).fromText();
            if (!settings.pregnantFrom.isNull())
                lowest = qMin(lowest, DosePeriods::days(DosePeriod::Pregnancy, settings.pregnantFrom, settings.pregnantFrom).fromText());
            DataTable &t = m_dm.doseAlerts();
            QSqlQuery q = t.exec(QStringLiteral("SELECT %2, %3, %4 FROM %1 WHERE %5 = ? AND %6 IS NULL AND %2 <> ? AND %3 >= ?")
                                     .arg(t.sqlName(), f(A::Period), f(A::PeriodFrom), f(A::Kind), f(A::PersonKey),
                                          f(A::Withdrawn)),
                                 {person.key, DosePeriods::word(DosePeriod::Reading), lowest});
            while (q.next())
                open->insert(key(q.value(0).toString(), q.value(1).toString(), q.value(2).toString()));
        }
        return open->contains(key(DosePeriods::word(a.period.kind), a.period.fromText(), DoseLevels::kindWord(a.kind)));
    };
    for (const AppliedLevel &level : levels.applying(settings, person.subDiv)) {
        for (const PeriodRange &period : periodsHolding(level.period, reading.time, settings)) {
            double dose = reading.dose;
            const auto sum = [&](const PeriodRange &p) {
                const QString key = DosePeriods::word(p.kind) + p.fromText();
                auto it = sums.constFind(key);
                if (it == sums.constEnd()) {
                    const bool calendar = p.kind == DosePeriod::Month || p.kind == DosePeriod::Quarter
                        || p.kind == DosePeriod::Year;
                    it = sums.insert(key, (calendar ? calendarSum(p) : doses.dose(person.key, p).dose) - laterIn(p));
                }
                return *it;
            };
            if (period.kind == DosePeriod::FiveYears) {
                // From the sums of its years, each asked for once.
                dose = 0;
                for (int y = period.from.date().year(); y <= period.to.date().year(); ++y)
                    dose += sum(DosePeriods::holding(DosePeriod::Year, QDate(y, 1, 1)));
            } else if (period.kind != DosePeriod::Reading) {
                dose = sum(period);
            }
            if (!(dose > level.value))
                continue;
            DoseAlert a;
            a.personKey = person.key;
            a.fio = person.fio;
            a.subDiv = person.subDiv;
            a.period = period;
            a.kind = level.kind;
            a.level = level.value;
            a.dose = dose;
            a.readingIndex = reading.index;
            a.readingId = reading.id;
            a.readingTime = reading.time;
            if (!standing(a)) {
                raise(a);
                raised.append(a);
            }
        }
    }
    return raised;
}

void DoseAlerts::checkStoredReading(DataModule &dm, const ReadingForCheck &reading,
                                    const QList<ReadingForCheck> &later) noexcept
{
    try {
        DoseAlerts(dm).check(reading, later);
    } catch (const std::exception &e) {
        const QString text = QStringLiteral("Контроль доз: проверка показания %1 не выполнена: %2")
                                 .arg(reading.index)
                                 .arg(QString::fromUtf8(e.what()));
        qWarning().noquote() << text;
        logEvent(text);
    } catch (...) {
        logEvent(QStringLiteral("Контроль доз: проверка показания %1 не выполнена").arg(reading.index));
    }
}

Reevaluation DoseAlerts::refreshBindings()
{
    Reevaluation total;
    const QList<TouchedStretch> touched = PersonDirectory::of(m_dm).refresh();
    for (const TouchedStretch &s : touched) {
        const Reevaluation r = reevaluate(s.id, s.from, s.to);
        total.raised += r.raised;
        total.withdrawn += r.withdrawn;
    }
    return total;
}

void DoseAlerts::bindingsChanged(DataModule &dm) noexcept
{
    try {
        DoseAlerts(dm).refreshBindings();
    } catch (const std::exception &e) {
        const QString text = QStringLiteral("Контроль доз: пересмотр оповещений после изменения журнала не выполнен: %1")
                                 .arg(QString::fromUtf8(e.what()));
        qWarning().noquote() << text;
        logEvent(text);
        PersonDirectory::of(dm).markChanged();
    } catch (...) {
        PersonDirectory::of(dm).markChanged();
    }
}

Reevaluation DoseAlerts::reevaluate(qint64 dosimeter, const QString &from, const QString &to)
{
    Reevaluation result;
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    DataTable &measures = m_dm.measures();
    const auto m = [](MeasuresField field) { return quoted(fieldName(field)); };
    // Only the periods of this dosimeter's readings in the stretch can have
    // changed.
    QString lo, hi;
    {
        QSqlQuery q = measures.exec(QStringLiteral("SELECT MIN(%2), MAX(%2) FROM %1 WHERE %3 = ? AND %2 >= ? AND %2 <= ?")
                                        .arg(measures.sqlName(), m(MeasuresField::DateTime), m(MeasuresField::ID)),
                                    {dosimeter, from, to});
        if (!q.next() || q.value(0).isNull())
            return result;
        lo = q.value(0).toString();
        hi = q.value(1).toString();
    }
    const QDate loDay = dateTimeFromStored(lo).date();
    const QDate hiDay = dateTimeFromStored(hi).date();

    // Everyone concerned: whoever holds the dosimeter then now, and whoever
    // has an alert standing for a period there.
    QSet<QString> persons;
    for (const PersonBinding &b : dir.bindingsOfDosimeter(dosimeter)) {
        if (!b.personKey.isEmpty() && b.from <= hi && (b.open || b.to >= lo))
            persons.insert(b.personKey);
    }
    const QList<DoseAlert> standing = select(
        QStringLiteral("%1 IS NULL AND %2 <= ? AND %3 >= ?").arg(f(A::Withdrawn), f(A::PeriodFrom), f(A::PeriodTo)),
        {hi, lo});
    const PersonDoses doses(m_dm);
    const QString because = QStringLiteral("после изменения журнала (дозиметр %1) ").arg(dosimeter);
    for (const DoseAlert &a : standing) {
        persons.insert(a.personKey);
        if (a.period.kind == DosePeriod::Reading) {
            QSqlQuery q = measures.exec(QStringLiteral("SELECT %2, %3 FROM %1 WHERE %4 = ?")
                                            .arg(measures.sqlName(), m(MeasuresField::ID), m(MeasuresField::DateTime),
                                                 m(MeasuresField::Index)),
                                        {a.readingIndex});
            QString reason;
            if (!q.next()) {
                reason = QStringLiteral("показание удалено");
            } else {
                const auto h = dir.holder(q.value(0).toLongLong(), q.value(1).toString());
                if (!h || h->personKey.isEmpty())
                    reason = because + QStringLiteral("показание не отнесено ни к кому");
                else if (h->personKey != a.personKey)
                    reason = because + QStringLiteral("показание отнесено к: %1").arg(h->fio);
            }
            if (!reason.isEmpty()) {
                withdraw(a, reason);
                ++result.withdrawn;
            }
            continue;
        }
        const double now = doses.dose(a.personKey, a.period).dose;
        if (!(now > a.level)) {
            withdraw(a, because + QStringLiteral("доза за период %1 не превышает уровня %2").arg(amount(now), amount(a.level)));
            ++result.withdrawn;
        }
    }

    // Alerts that apply now.
    const DoseLevels levels(m_dm);
    for (const QString &key : std::as_const(persons)) {
        const DosePerson person = dir.person(key).value_or(DosePerson{key, key.mid(5), {}, {}});
        const PersonSettings settings = levels.person(key);
        for (const AppliedLevel &level : levels.applying(settings, person.subDiv)) {
            if (level.period == DosePeriod::Reading) {
                // This dosimeter's readings of the stretch over the level.
                QSqlQuery q = measures.exec(
                    QStringLiteral("SELECT %2, %3, %4 FROM %1 WHERE %5 = ? AND %3 >= ? AND %3 <= ? AND %4 > ?")
                        .arg(measures.sqlName(), m(MeasuresField::Index), m(MeasuresField::DateTime),
                             m(MeasuresField::Dose), m(MeasuresField::ID)),
                    {dosimeter, lo, hi, level.value});
                while (q.next()) {
                    const auto h = dir.holder(dosimeter, q.value(1).toString());
                    if (!h || h->personKey != key)
                        continue;
                    DoseAlert a{0, key, person.fio, person.subDiv};
                    a.readingTime = dateTimeFromStored(q.value(1).toString());
                    a.period = PeriodRange{DosePeriod::Reading, a.readingTime, a.readingTime};
                    a.kind = level.kind;
                    a.level = level.value;
                    a.dose = q.value(2).toDouble();
                    a.readingIndex = q.value(0).toLongLong();
                    a.readingId = dosimeter;
                    if (!standingExists(a)) {
                        raise(a);
                        ++result.raised;
                    }
                }
                continue;
            }
            for (const PeriodRange &period : periodsOverlapping(level.period, loDay, hiDay, settings)) {
                const double dose = doses.dose(key, period).dose;
                if (!(dose > level.value))
                    continue;
                DoseAlert a{0, key, person.fio, person.subDiv, period, level.kind, level.value, dose};
                if (standingExists(a))
                    continue;
                raiseOverPeriod(a, doses);
                ++result.raised;
            }
        }
    }
    return result;
}

Result<> DoseAlerts::acknowledge(qint64 alertIndex, const QString &operatorName, const QString &comment)
{
    if (operatorName.trimmed().isEmpty())
        return Error{ErrorKind::Invalid, QStringLiteral("Укажите, кто квитирует оповещение")};
    const auto a = alert(alertIndex);
    if (!a)
        return Error{ErrorKind::Invalid, QStringLiteral("Оповещение %1 не найдено").arg(alertIndex)};
    if (a->acknowledged())
        return Error{ErrorKind::Conflict, QStringLiteral("Оповещение уже квитировано: %1, %2").arg(a->ackBy, logTimeStamp(a->ackTime))};
    DataTable &t = m_dm.doseAlerts();
    std::optional<Transaction> tx;
    if (!m_dm.inTransaction())
        tx.emplace(m_dm);
    const QDateTime now = QDateTime::currentDateTime();
    t.exec(QStringLiteral("UPDATE %1 SET %2 = ?, %3 = ?, %4 = ? WHERE %5 = ? AND %2 IS NULL")
               .arg(t.sqlName(), f(A::AckBy), f(A::AckTime), f(A::AckComment), f(A::Index)),
           {operatorName.trimmed(), dateTimeToStored(now), textOrNull(comment), alertIndex});
    AuditLog(m_dm).write({t.tableName(), QString::number(alertIndex), AuditLog::UpdateAction, QString(),
                          AuditLog::valuesText({{fieldName(A::AckBy), operatorName.trimmed()},
                                                {fieldName(A::AckTime), now},
                                                {fieldName(A::AckComment), comment}})});
    if (tx)
        tx->commit();
    emit signalOf(m_dm).changed();
    return {};
}

QList<DoseAlert> DoseAlerts::select(const QString &where, const QVariantList &params) const
{
    DataTable &t = m_dm.doseAlerts();
    QStringList names;
    for (int i = 0; i < int(A::Count); ++i)
        names.append(f(A(i)));
    QSqlQuery q = t.exec(QStringLiteral("SELECT %2 FROM %1%3 ORDER BY %4 DESC")
                             .arg(t.sqlName(), names.join(QStringLiteral(", ")),
                                  where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where, f(A::Index)),
                         params);
    QList<DoseAlert> list;
    while (q.next()) {
        const auto v = [&](A field) { return q.value(int(field)); };
        DoseAlert a;
        a.index = v(A::Index).toLongLong();
        a.personKey = v(A::PersonKey).toString();
        a.fio = v(A::FIO).toString();
        a.subDiv = v(A::SubDiv).toString();
        a.period.kind = DosePeriods::fromWord(v(A::Period).toString()).value_or(DosePeriod::Year);
        a.period.from = dateTimeFromStored(v(A::PeriodFrom).toString());
        a.period.to = dateTimeFromStored(v(A::PeriodTo).toString());
        a.kind = v(A::Kind).toString() == QLatin1String("investigation") ? LevelKind::Investigation : LevelKind::Limit;
        a.level = v(A::Level).toDouble();
        a.dose = v(A::Dose).toDouble();
        a.readingIndex = v(A::ReadingIndex).toLongLong();
        a.readingId = v(A::ReadingID).toLongLong();
        a.readingTime = dateTimeFromStored(v(A::ReadingTime).toString());
        a.raised = dateTimeFromStored(v(A::Raised).toString());
        a.withdrawn = dateTimeFromStored(v(A::Withdrawn).toString());
        a.withdrawReason = v(A::WithdrawReason).toString();
        a.ackBy = v(A::AckBy).toString();
        a.ackTime = dateTimeFromStored(v(A::AckTime).toString());
        a.ackComment = v(A::AckComment).toString();
        list.append(a);
    }
    return list;
}

QList<DoseAlert> DoseAlerts::alerts(bool onlyOpen) const
{
    if (!onlyOpen)
        return select({}, {});
    return select(QStringLiteral("%1 IS NULL AND %2 IS NULL").arg(f(A::Withdrawn), f(A::AckBy)), {});
}

QList<DoseAlert> DoseAlerts::alertsOf(const QString &personKey) const
{
    return select(QStringLiteral("%1 = ?").arg(f(A::PersonKey)), {personKey});
}

std::optional<DoseAlert> DoseAlerts::alert(qint64 index) const
{
    const QList<DoseAlert> list = select(QStringLiteral("%1 = ?").arg(f(A::Index)), {index});
    if (list.isEmpty())
        return std::nullopt;
    return list.first();
}

qint64 DoseAlerts::unacknowledgedCount() const
{
    DataTable &t = m_dm.doseAlerts();
    QSqlQuery q = t.exec(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2 IS NULL AND %3 IS NULL")
                             .arg(t.sqlName(), f(A::Withdrawn), f(A::AckBy)));
    return q.next() ? q.value(0).toLongLong() : 0;
}

// Control levels and persons' groups; see DoseLevels.h.

#include "records/DoseLevels.h"

#include "records/DoseAlerts.h"

#include "records/AuditLog.h"

#include "records/DataModule.h"
#include "records/SqlQuote.h"
#include "records/StoredDateTime.h"

#include <QLocale>
#include <QSqlQuery>
#include <QSet>
#include <cmath>

using RecordsSql::quoted;

namespace {

const DosePeriod AllPeriods[] = {DosePeriod::Reading, DosePeriod::Month, DosePeriod::Quarter,
                                 DosePeriod::Year, DosePeriod::FiveYears, DosePeriod::Pregnancy};

QString scopeWord(LevelScope s)
{
    switch (s) {
    case LevelScope::All: return QStringLiteral("all");
    case LevelScope::SubDiv: return QStringLiteral("subdiv");
    case LevelScope::Person: return QStringLiteral("person");
    }
    return {};
}

std::optional<WorkerGroup> groupFromWord(const QString &w)
{
    if (w == QLatin1String("A"))
        return WorkerGroup::A;
    if (w == QLatin1String("B"))
        return WorkerGroup::B;
    return std::nullopt;
}

bool sameKey(const LevelKey &a, const LevelKey &b)
{
    return a.scope == b.scope && a.target == b.target && a.group == b.group && a.period == b.period
        && a.kind == b.kind;
}

QString microsieverts(double v)
{
    return QLocale(QLocale::Russian).toString(v, 'f', v == std::floor(v) ? 0 : 3) + QStringLiteral(" мкЗв");
}

// The level that applies in one context: the most specific one set, else
// the default.
std::optional<AppliedLevel> resolve(const QList<StoredLevel> &levels, const QString &personKey,
                                    const QString &subDiv, WorkerGroup group, DosePeriod period, LevelKind kind)
{
    // Rank: person 5, subdivision with the group 4, subdivision 3, everyone
    // with the group 2, everyone 1.
    int best = 0;
    AppliedLevel found{period, kind, 0, true, LevelScope::All};
    for (const StoredLevel &l : levels) {
        const LevelKey &k = l.key;
        if (k.period != period || k.kind != kind || (k.group && *k.group != group))
            continue;
        int rank = 0;
        if (k.scope == LevelScope::Person && !personKey.isEmpty() && k.target == personKey)
            rank = 5;
        else if (k.scope == LevelScope::SubDiv && !subDiv.isEmpty()
                 && k.target.compare(subDiv, Qt::CaseInsensitive) == 0)
            rank = k.group ? 4 : 3;
        else if (k.scope == LevelScope::All)
            rank = k.group ? 2 : 1;
        if (rank > best) {
            best = rank;
            found = AppliedLevel{period, kind, l.value, false, k.scope};
        }
    }
    if (best > 0)
        return found;
    if (const auto d = DoseLevels::defaultLevel(group, period, kind))
        return AppliedLevel{period, kind, *d, true, LevelScope::All};
    return std::nullopt;
}

bool validPersonKey(const QString &key)
{
    return (key.startsWith(QLatin1String("card:")) || key.startsWith(QLatin1String("name:"))) && key.size() > 5;
}

} // namespace

DoseLevels::DoseLevels(DataModule &dm) : m_dm(dm)
{
}

std::optional<double> DoseLevels::defaultLevel(WorkerGroup group, DosePeriod period, LevelKind kind)
{
    const double share = group == WorkerGroup::A ? 1.0 : 0.25;
    if (kind == LevelKind::Limit) {
        if (period == DosePeriod::Year)
            return 50000 * share;
        if (period == DosePeriod::FiveYears)
            return 100000 * share;
        if (period == DosePeriod::Pregnancy)
            return 1000;
        return std::nullopt;
    }
    if (period == DosePeriod::Year)
        return 6000;
    if (period == DosePeriod::Reading)
        return 1000;
    return std::nullopt;
}

QString DoseLevels::kindWord(LevelKind kind)
{
    return kind == LevelKind::Limit ? QStringLiteral("limit") : QStringLiteral("investigation");
}

QString DoseLevels::kindTitle(LevelKind kind)
{
    return kind == LevelKind::Limit ? QStringLiteral("предел") : QStringLiteral("уровень расследования");
}

QString DoseLevels::groupWord(WorkerGroup group)
{
    return group == WorkerGroup::A ? QStringLiteral("A") : QStringLiteral("B");
}

QList<StoredLevel> DoseLevels::stored() const
{
    DataTable &t = m_dm.doseLevels();
    const auto f = [](DoseLevelsField field) { return quoted(fieldName(field)); };
    using L = DoseLevelsField;
    QSqlQuery q = t.exec(QStringLiteral("SELECT %2, %3, %4, %5, %6, %7, %8, %9 FROM %1 ORDER BY %10")
                             .arg(t.sqlName(), f(L::Scope), f(L::Target), f(L::Grp), f(L::Period), f(L::Kind),
                                  f(L::Value), f(L::Changed), f(L::ChangedBy))
                             .arg(f(L::Index)));
    QList<StoredLevel> list;
    while (q.next()) {
        StoredLevel l;
        const QString scope = q.value(0).toString();
        l.key.scope = scope == QLatin1String("person") ? LevelScope::Person
            : scope == QLatin1String("subdiv")         ? LevelScope::SubDiv
                                                       : LevelScope::All;
        l.key.target = q.value(1).toString();
        l.key.group = groupFromWord(q.value(2).toString());
        const auto period = DosePeriods::fromWord(q.value(3).toString());
        if (!period)
            continue;  // a period this program does not know is left alone
        l.key.period = *period;
        l.key.kind = q.value(4).toString() == QLatin1String("investigation") ? LevelKind::Investigation
                                                                              : LevelKind::Limit;
        l.value = q.value(5).toDouble();
        l.changed = dateTimeFromStored(q.value(6).toString());
        l.changedBy = q.value(7).toString();
        list.append(l);
    }
    return list;
}

Result<> DoseLevels::check(const QList<StoredLevel> &levels) const
{
    // Every context a level is set for, in each group.
    struct Context {
        QString person;
        QString subDiv;
        QString name;
    };
    QList<Context> contexts{{{}, {}, QStringLiteral("для всех")}};
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    dir.refresh();
    QSet<QString> seen;
    for (const StoredLevel &l : levels) {
        if (l.key.scope == LevelScope::All || seen.contains(scopeWord(l.key.scope) + l.key.target))
            continue;
        seen.insert(scopeWord(l.key.scope) + l.key.target);
        if (l.key.scope == LevelScope::SubDiv) {
            contexts.append({{}, l.key.target, QStringLiteral("для подразделения «%1»").arg(l.key.target)});
        } else {
            const auto p = dir.person(l.key.target);
            contexts.append({l.key.target, p ? p->subDiv : QString(),
                             QStringLiteral("для %1").arg(p ? p->fio : l.key.target)});
        }
    }
    for (const Context &c : contexts) {
        for (WorkerGroup g : {WorkerGroup::A, WorkerGroup::B}) {
            for (DosePeriod period : AllPeriods) {
                const auto limit = resolve(levels, c.person, c.subDiv, g, period, LevelKind::Limit);
                const auto inv = resolve(levels, c.person, c.subDiv, g, period, LevelKind::Investigation);
                if (limit && inv && inv->value >= limit->value) {
                    return Error{ErrorKind::Invalid, QStringLiteral("Уровень расследования (%1, период: %2) должен быть ниже предела "
                                           "за тот же период (%3) %4, группа %5")
                                .arg(microsieverts(inv->value), DosePeriods::title(period),
                                     microsieverts(limit->value), c.name,
                                     g == WorkerGroup::A ? QStringLiteral("А") : QStringLiteral("Б"))};
                }
            }
        }
    }
    return {};
}

Result<> DoseLevels::setLevel(const LevelKey &key, std::optional<double> value, const QString &operatorName)
{
    if (value && (!std::isfinite(*value) || *value <= 0))
        return Error{ErrorKind::Invalid, QStringLiteral("Уровень должен быть положительным числом")};
    if (key.scope == LevelScope::All && !key.target.isEmpty())
        return Error{ErrorKind::Invalid, QStringLiteral("Уровень для всех не относится к подразделению или лицу")};
    if (key.scope != LevelScope::All && key.target.trimmed().isEmpty())
        return Error{ErrorKind::Invalid, key.scope == LevelScope::SubDiv ? QStringLiteral("Не указано подразделение")
                                                : QStringLiteral("Не указано лицо")};
    if (key.scope == LevelScope::Person && !validPersonKey(key.target))
        return Error{ErrorKind::Invalid, QStringLiteral("Лицо указано неверно: %1").arg(key.target)};
    if (key.period == DosePeriod::Pregnancy && key.scope == LevelScope::SubDiv)
        return Error{ErrorKind::Invalid, QStringLiteral("Уровень на период беременности задаётся для всех или для лица")};
    LevelKey k = key;
    k.target = key.target.trimmed();

    const QList<StoredLevel> before = stored();
    QList<StoredLevel> after;
    for (const StoredLevel &l : before) {
        if (!sameKey(l.key, k))
            after.append(l);
    }
    if (value)
        after.append(StoredLevel{k, *value, QDateTime::currentDateTime(), operatorName});
    const Result<> verdict = check(after);
    if (!verdict.ok())
        return verdict;

    DataTable &t = m_dm.doseLevels();
    using L = DoseLevelsField;
    const auto f = [](L field) { return quoted(fieldName(field)); };
    std::optional<Transaction> tx;
    if (!m_dm.inTransaction())
        tx.emplace(m_dm);
    QString beforeText;
    for (const StoredLevel &l : before) {
        if (sameKey(l.key, k))
            beforeText = AuditLog::valuesText({{fieldName(L::Value), l.value}, {fieldName(L::ChangedBy), l.changedBy}});
    }
    const QString levelKey = QStringList{scopeWord(k.scope), k.target, k.group ? groupWord(*k.group) : QString(),
                                         DosePeriods::word(k.period), kindWord(k.kind)}
                                 .join(QLatin1Char('/'));
    // The blank group is stored as NULL, as every blank text is.
    const QVariant group = k.group ? QVariant(groupWord(*k.group)) : QVariant();
    t.exec(QStringLiteral("DELETE FROM %1 WHERE %2 = ? AND COALESCE(%3, '') = ? AND COALESCE(%4, '') = ? "
                          "AND %5 = ? AND %6 = ?")
               .arg(t.sqlName(), f(L::Scope), f(L::Target), f(L::Grp), f(L::Period), f(L::Kind)),
           // An empty target must not be bound as NULL: COALESCE(NULL, '') = NULL
           // matches nothing, and the earlier level would stay in force.
           {scopeWord(k.scope), k.target.isEmpty() ? QString(QLatin1String("")) : k.target,
            k.group ? groupWord(*k.group) : QString(QLatin1String("")),
            DosePeriods::word(k.period), kindWord(k.kind)});
    if (value) {
        t.exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7, %8, %9) VALUES (?, ?, ?, ?, ?, ?, ?, ?)")
                   .arg(t.sqlName(), f(L::Scope), f(L::Target), f(L::Grp), f(L::Period), f(L::Kind), f(L::Value),
                        f(L::Changed), f(L::ChangedBy)),
               {scopeWord(k.scope), k.target.isEmpty() ? QVariant() : QVariant(k.target), group,
                DosePeriods::word(k.period), kindWord(k.kind), *value,
                dateTimeToStored(QDateTime::currentDateTime()),
                operatorName.trimmed().isEmpty() ? QVariant() : QVariant(operatorName.trimmed())});
    }
    AuditLog(m_dm).write({t.tableName(), levelKey,
                          value ? (beforeText.isEmpty() ? AuditLog::InsertAction : AuditLog::UpdateAction)
                                : AuditLog::DeleteAction,
                          beforeText,
                          value ? AuditLog::valuesText({{fieldName(L::Value), *value},
                                                        {fieldName(L::ChangedBy), operatorName.trimmed()}})
                                : QString()});
    if (tx)
        tx->commit();
    LevelReview review;
    if (k.scope == LevelScope::Person)
        review.persons = QStringList{k.target};
    review.period = k.period;
    review.kind = k.kind;
    review.cause = QStringLiteral("после изменения контрольного уровня: ");
    DoseAlerts::levelsChanged(m_dm, review);
    return {};
}

QList<AppliedLevel> DoseLevels::applying(const PersonSettings &person, const QString &subDiv) const
{
    const QList<StoredLevel> levels = stored();
    QList<AppliedLevel> list;
    for (DosePeriod period : AllPeriods) {
        if (period == DosePeriod::Pregnancy && person.pregnantFrom.isNull())
            continue;
        for (LevelKind kind : {LevelKind::Limit, LevelKind::Investigation}) {
            if (const auto l = resolve(levels, person.personKey, subDiv, person.group, period, kind))
                list.append(*l);
        }
    }
    return list;
}

QList<AppliedLevel> DoseLevels::applying(const QString &personKey) const
{
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    dir.refresh();
    const auto p = dir.person(personKey);
    return applying(person(personKey), p ? p->subDiv : QString());
}

PersonSettings DoseLevels::person(const QString &personKey) const
{
    PersonSettings s;
    s.personKey = personKey;
    DataTable &t = m_dm.dosePersons();
    using P = DosePersonsField;
    const auto f = [](P field) { return quoted(fieldName(field)); };
    QSqlQuery q = t.exec(QStringLiteral("SELECT %2, %3, %4 FROM %1 WHERE %5 = ? ORDER BY %6 DESC")
                             .arg(t.sqlName(), f(P::Grp), f(P::PregnantFrom), f(P::PregnantTo), f(P::PersonKey),
                                  f(P::Index)),
                         {personKey});
    if (q.next()) {
        s.group = groupFromWord(q.value(0).toString()).value_or(WorkerGroup::A);
        s.pregnantFrom = dateFromStored(q.value(1).toString());
        s.pregnantTo = dateFromStored(q.value(2).toString());
    }
    return s;
}

Result<> DoseLevels::setPerson(const PersonSettings &settings, const QString &operatorName)
{
    if (!validPersonKey(settings.personKey))
        return Error{ErrorKind::Invalid, QStringLiteral("Лицо указано неверно: %1").arg(settings.personKey)};
    if (settings.pregnantFrom.isNull() && !settings.pregnantTo.isNull())
        return Error{ErrorKind::Invalid, QStringLiteral("Не указана дата объявления беременности")};
    if (!settings.pregnantTo.isNull() && settings.pregnantTo < settings.pregnantFrom)
        return Error{ErrorKind::Invalid, QStringLiteral("Окончание беременности раньше её объявления")};
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    dir.refresh();
    const auto p = dir.person(settings.personKey);

    DataTable &t = m_dm.dosePersons();
    using P = DosePersonsField;
    const auto f = [](P field) { return quoted(fieldName(field)); };
    std::optional<Transaction> tx;
    if (!m_dm.inTransaction())
        tx.emplace(m_dm);
    const auto settingsText = [](const PersonSettings &ps) {
        return AuditLog::valuesText({{fieldName(P::Grp), groupWord(ps.group)},
                                     {fieldName(P::PregnantFrom), ps.pregnantFrom},
                                     {fieldName(P::PregnantTo), ps.pregnantTo}});
    };
    const QString before = settingsText(person(settings.personKey));
    t.exec(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(t.sqlName(), f(P::PersonKey)), {settings.personKey});
    t.exec(QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6, %7, %8) VALUES (?, ?, ?, ?, ?, ?, ?)")
               .arg(t.sqlName(), f(P::PersonKey), f(P::FIO), f(P::Grp), f(P::PregnantFrom), f(P::PregnantTo),
                    f(P::Changed), f(P::ChangedBy)),
           {settings.personKey, p ? QVariant(p->fio) : QVariant(), groupWord(settings.group),
            settings.pregnantFrom.isNull() ? QVariant() : QVariant(dateToStored(settings.pregnantFrom)),
            settings.pregnantTo.isNull() ? QVariant() : QVariant(dateToStored(settings.pregnantTo)),
            dateTimeToStored(QDateTime::currentDateTime()),
            operatorName.trimmed().isEmpty() ? QVariant() : QVariant(operatorName.trimmed())});
    AuditLog(m_dm).write({t.tableName(), settings.personKey, AuditLog::UpdateAction, before, settingsText(settings)});
    if (tx)
        tx->commit();
    LevelReview review;
    review.persons = QStringList{settings.personKey};
    review.cause = QStringLiteral("после изменения группы или беременности лица: ");
    DoseAlerts::levelsChanged(m_dm, review);
    return {};
}

// Persons and their doses; see PersonDoses.h.

#include "records/PersonDoses.h"

#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/MonthSums.h"
#include "records/SqlQuote.h"
#include "records/StoredDateTime.h"

#include <QSqlQuery>
#include <algorithm>
#include <vector>
#include <cmath>
#include <memory>

using RecordsSql::quoted;

// ---------------------------------------------------------------- periods

QString PeriodRange::fromText() const
{
    return dateTimeToStored(from);
}

QString PeriodRange::toText() const
{
    return dateTimeToStored(to);
}

namespace DosePeriods {

PeriodRange days(DosePeriod kind, const QDate &first, const QDate &last)
{
    return {kind, QDateTime(first, QTime(0, 0)), QDateTime(last, QTime(23, 59, 59, 999))};
}

PeriodRange holding(DosePeriod kind, const QDate &day)
{
    const int y = day.year();
    switch (kind) {
    case DosePeriod::Month:
        return days(kind, QDate(y, day.month(), 1), QDate(y, day.month(), day.daysInMonth()));
    case DosePeriod::Quarter: {
        const int first = (day.month() - 1) / 3 * 3 + 1;
        const QDate start(y, first, 1);
        return days(kind, start, start.addMonths(3).addDays(-1));
    }
    default:
        return days(DosePeriod::Year, QDate(y, 1, 1), QDate(y, 12, 31));
    }
}

PeriodRange fiveYears(int firstYear)
{
    return days(DosePeriod::FiveYears, QDate(firstYear, 1, 1), QDate(firstYear + 4, 12, 31));
}

QList<PeriodRange> fiveYearsHolding(int year)
{
    QList<PeriodRange> list;
    for (int first = year - 4; first <= year; ++first)
        list.append(fiveYears(first));
    return list;
}

QList<PeriodRange> overlapping(DosePeriod kind, const QDate &from, const QDate &to)
{
    QList<PeriodRange> list;
    if (!from.isValid() || !to.isValid() || from > to)
        return list;
    if (kind == DosePeriod::FiveYears) {
        for (int first = from.year() - 4; first <= to.year(); ++first)
            list.append(fiveYears(first));
        return list;
    }
    PeriodRange p = holding(kind, from);
    while (p.from.date() <= to) {
        list.append(p);
        p = holding(kind, p.to.date().addDays(1));
    }
    return list;
}

QString word(DosePeriod kind)
{
    switch (kind) {
    case DosePeriod::Reading: return QStringLiteral("reading");
    case DosePeriod::Month: return QStringLiteral("month");
    case DosePeriod::Quarter: return QStringLiteral("quarter");
    case DosePeriod::Year: return QStringLiteral("year");
    case DosePeriod::FiveYears: return QStringLiteral("5years");
    case DosePeriod::Pregnancy: return QStringLiteral("pregnancy");
    }
    return {};
}

std::optional<DosePeriod> fromWord(const QString &w)
{
    for (DosePeriod k : {DosePeriod::Reading, DosePeriod::Month, DosePeriod::Quarter, DosePeriod::Year,
                         DosePeriod::FiveYears, DosePeriod::Pregnancy}) {
        if (word(k) == w)
            return k;
    }
    return std::nullopt;
}

QString title(DosePeriod kind)
{
    switch (kind) {
    case DosePeriod::Reading: return QStringLiteral("одно показание");
    case DosePeriod::Month: return QStringLiteral("месяц");
    case DosePeriod::Quarter: return QStringLiteral("квартал");
    case DosePeriod::Year: return QStringLiteral("год");
    case DosePeriod::FiveYears: return QStringLiteral("пять лет подряд");
    case DosePeriod::Pregnancy: return QStringLiteral("беременность");
    }
    return {};
}

QString describe(const PeriodRange &p)
{
    static const char *const months[] = {"январь", "февраль", "март", "апрель", "май", "июнь", "июль",
                                         "август", "сентябрь", "октябрь", "ноябрь", "декабрь"};
    static const char *const quarters[] = {"I", "II", "III", "IV"};
    const QDate d = p.from.date();
    switch (p.kind) {
    case DosePeriod::Month:
        return QStringLiteral("%1 %2").arg(QString::fromUtf8(months[d.month() - 1])).arg(d.year());
    case DosePeriod::Quarter:
        return QStringLiteral("%1 квартал %2").arg(QLatin1String(quarters[(d.month() - 1) / 3])).arg(d.year());
    case DosePeriod::Year:
        return QStringLiteral("%1 год").arg(d.year());
    case DosePeriod::FiveYears:
        return QStringLiteral("%1–%2").arg(d.year()).arg(p.to.date().year());
    case DosePeriod::Reading:
        return p.from.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    case DosePeriod::Pregnancy:
        break;
    }
    return QStringLiteral("%1–%2").arg(d.toString(QStringLiteral("dd.MM.yyyy")),
                                       p.to.date().toString(QStringLiteral("dd.MM.yyyy")));
}

} // namespace DosePeriods

// ---------------------------------------------------------------- directory

// Keeps the module's directory and marks it stale whenever the journal or
// the cards change through the module's table objects.
class PersonDirectoryHolder : public QObject {
public:
    explicit PersonDirectoryHolder(DataModule &dm) : QObject(&dm), directory(dm)
    {
        setObjectName(QStringLiteral("PersonDirectory"));
        for (DataTable *t : {&dm.notes(), &dm.cards(), &dm.cardsFind()}) {
            const auto stale = [this] { directory.markChanged(); };
            connect(t, &DataTable::dataSetReset, this, stale);
            connect(t, &DataTable::rowInserted, this, stale);
            connect(t, &DataTable::rowUpdated, this, stale);
            connect(t, &DataTable::rowDeleted, this, stale);
        }
    }
    PersonDirectory directory;
};

PersonDirectory::PersonDirectory(DataModule &dm) : m_dm(dm)
{
}

PersonDirectory &PersonDirectory::of(DataModule &dm)
{
    auto *holder = dm.findChild<PersonDirectoryHolder *>(QStringLiteral("PersonDirectory"), Qt::FindDirectChildrenOnly);
    if (!holder)
        holder = new PersonDirectoryHolder(dm);
    return holder->directory;
}

QString PersonDirectory::cardPersonKey(const QVariant &cardKey)
{
    return QStringLiteral("card:") + cardKey.toString();
}

QString PersonDirectory::namePersonKey(const QString &name)
{
    return QStringLiteral("name:") + CardIndex::collapseBlanks(name).toCaseFolded();
}

QString PersonDirectory::personOf(const QString &journalName) const
{
    const QString name = CardIndex::collapseBlanks(journalName);
    if (name.isEmpty())
        return {};
    const QString folded = name.toCaseFolded();
    auto it = m_cardByName.constFind(folded);
    if (it != m_cardByName.constEnd())
        return *it;
    const QByteArray label = CardIndex::labelKey(name);
    auto byLabel = label.isEmpty() ? m_cardByLabel.constEnd() : m_cardByLabel.constFind(label);
    if (byLabel != m_cardByLabel.constEnd())
        return *byLabel;
    return namePersonKey(name);
}

void PersonDirectory::load()
{
    m_entries.clear();
    m_byDosimeter.clear();
    m_byPerson.clear();
    m_persons.clear();
    m_cardByName.clear();
    m_cardByLabel.clear();

    DataTable &cards = m_dm.cards();
    {
        const auto q = [](CardsField f) { return quoted(fieldName(f)); };
        QSqlQuery rows = cards.exec(QStringLiteral("SELECT %2, %3, %4, %5 FROM %1 ORDER BY %2")
                                        .arg(cards.sqlName(), q(CardsField::Index), q(CardsField::FIO),
                                             q(CardsField::Label), q(CardsField::SubDiv)));
        while (rows.next()) {
            DosePerson p;
            p.cardKey = rows.value(0);
            p.key = cardPersonKey(p.cardKey);
            p.fio = CardIndex::collapseBlanks(rows.value(1).toString());
            p.subDiv = rows.value(3).toString().trimmed();
            m_persons.insert(p.key, p);
            if (!p.fio.isEmpty() && !m_cardByName.contains(p.fio.toCaseFolded()))
                m_cardByName.insert(p.fio.toCaseFolded(), p.key);
            const QByteArray label = CardIndex::labelKey(rows.value(2).toString());
            if (!label.isEmpty() && !m_cardByLabel.contains(label))
                m_cardByLabel.insert(label, p.key);
        }
    }

    DataTable &notes = m_dm.notes();
    const auto q = [](NotesField f) { return quoted(fieldName(f)); };
    QSqlQuery rows = notes.exec(QStringLiteral("SELECT %2, %3, %4, %5, %6 FROM %1")
                                    .arg(notes.sqlName(), q(NotesField::Index), q(NotesField::ID),
                                         q(NotesField::TimeFrom), q(NotesField::TimeTo), q(NotesField::FIO)));
    while (rows.next()) {
        if (rows.value(1).typeId() == QMetaType::QString)
            continue;  // as the attribution: a text is no dosimeter number
        bool numbered = false;
        const double id = rows.value(1).toDouble(&numbered);
        if (rows.value(1).isNull() || !numbered || id != std::floor(id))
            continue;  // no dosimeter: holds no readings
        PersonBinding b;
        b.key = rows.value(0).toLongLong();
        b.id = qint64(id);
        b.from = rows.value(2).toString();
        b.open = rows.value(3).isNull();
        b.to = rows.value(3).toString();
        b.fio = rows.value(4).toString().trimmed();
        b.personKey = personOf(b.fio);
        m_entries.insert(b.key, b);
        m_byDosimeter[b.id].append(b.key);
        if (!b.personKey.isEmpty()) {
            m_byPerson[b.personKey].append(b.key);
            if (!m_persons.contains(b.personKey))
                m_persons.insert(b.personKey, DosePerson{b.personKey, CardIndex::collapseBlanks(b.fio), {}, {}});
        }
    }
    for (QList<qint64> &keys : m_byDosimeter) {
        std::sort(keys.begin(), keys.end(), [&](qint64 a, qint64 b) { return m_entries[a].beats(m_entries[b]); });
    }
    m_loaded = true;
    m_stale = false;
}

QList<TouchedStretch> PersonDirectory::refresh()
{
    if (!m_stale && m_loaded)
        return {};
    const bool compare = m_loaded;
    const QHash<qint64, PersonBinding> before = m_entries;
    load();
    QList<TouchedStretch> touched;
    if (!compare)
        return touched;
    const auto stretch = [](const PersonBinding &b) {
        return TouchedStretch{b.id, b.from, b.open ? DoseAttribution::openEnd() : b.to};
    };
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        const auto now = m_entries.constFind(it.key());
        const PersonBinding &was = *it;
        if (now == m_entries.constEnd()) {
            touched.append(stretch(was));
            continue;
        }
        if (now->id != was.id || now->from != was.from || now->to != was.to || now->open != was.open
            || now->personKey != was.personKey) {
            touched.append(stretch(was));
            touched.append(stretch(*now));
        }
    }
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (!before.contains(it.key()))
            touched.append(stretch(*it));
    }
    return touched;
}

std::optional<DosePerson> PersonDirectory::person(const QString &key) const
{
    const auto it = m_persons.constFind(key);
    if (it == m_persons.constEnd())
        return std::nullopt;
    return *it;
}

QList<DosePerson> PersonDirectory::persons() const
{
    QList<DosePerson> list = m_persons.values();
    std::sort(list.begin(), list.end(), [](const DosePerson &a, const DosePerson &b) {
        const int c = QString::compare(a.fio, b.fio, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.key < b.key;
    });
    return list;
}

QList<PersonBinding> PersonDirectory::bindingsOf(const QString &personKey) const
{
    QList<PersonBinding> list;
    for (const qint64 key : m_byPerson.value(personKey))
        list.append(m_entries.value(key));
    return list;
}

QList<PersonBinding> PersonDirectory::bindingsOfDosimeter(qint64 id) const
{
    QList<PersonBinding> list;
    for (const qint64 key : m_byDosimeter.value(id))
        list.append(m_entries.value(key));
    return list;
}

std::optional<PersonBinding> PersonDirectory::holder(qint64 id, const QString &time) const
{
    for (const qint64 key : m_byDosimeter.value(id)) {
        const PersonBinding &e = m_entries[key];
        if (e.from > time)
            continue;
        if (e.open || e.to >= time)
            return e;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- doses

PersonDoses::PersonDoses(DataModule &dm) : m_dm(dm)
{
}

namespace {

// The held spans of every binding of the person within [from, to].
QList<QPair<qint64, HeldSpan>> personSpans(PersonDirectory &dir, const QString &personKey, const QString &from,
                                           const QString &to)
{
    QList<QPair<qint64, HeldSpan>> list;
    QHash<qint64, QList<JournalBinding>> sameDosimeter;
    for (const PersonBinding &b : dir.bindingsOf(personKey)) {
        if (b.from > to || (!b.open && b.to < from))
            continue;
        auto it = sameDosimeter.find(b.id);
        if (it == sameDosimeter.end()) {
            QList<JournalBinding> others;
            for (const PersonBinding &o : dir.bindingsOfDosimeter(b.id))
                others.append(o);
            it = sameDosimeter.insert(b.id, others);
        }
        for (const HeldSpan &s : DoseAttribution::heldSpans(b, *it, from, to))
            list.append({b.id, s});
    }
    return list;
}

QString spanCondition(const HeldSpan &s, const QString &column)
{
    return QStringLiteral("%1 %2 ? AND %1 %3 ?")
        .arg(column, s.fromIncluded ? QStringLiteral(">=") : QStringLiteral(">"),
             s.toIncluded ? QStringLiteral("<=") : QStringLiteral("<"));
}

} // namespace

PeriodDose PersonDoses::dose(const QString &personKey, const QDateTime &from, const QDateTime &to) const
{
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    dir.refresh();
    PeriodDose total;
    DataTable &measures = m_dm.measures();
    const QString id = quoted(fieldName(MeasuresField::ID));
    const QString time = quoted(fieldName(MeasuresField::DateTime));
    const QString dose = quoted(fieldName(MeasuresField::Dose));
    for (const auto &[dosimeter, span] : personSpans(dir, personKey, dateTimeToStored(from), dateTimeToStored(to))) {
        QSqlQuery q = measures.exec(QStringLiteral("SELECT COALESCE(SUM(%2), 0), COUNT(*) FROM %1 WHERE %3 = ? AND %4")
                                        .arg(measures.sqlName(), dose, id, spanCondition(span, time)),
                                    {dosimeter, span.from, span.to});
        if (q.next()) {
            total.dose += q.value(0).toDouble();
            total.readings += q.value(1).toLongLong();
        }
    }
    return total;
}

QMap<QString, PeriodDose> PersonDoses::byMonth(const QString &personKey, const QDateTime &from, const QDateTime &to) const
{
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    dir.refresh();
    QMap<QString, PeriodDose> months;
    DataTable &measures = m_dm.measures();
    const QString id = quoted(fieldName(MeasuresField::ID));
    const QString time = quoted(fieldName(MeasuresField::DateTime));
    const QString dose = quoted(fieldName(MeasuresField::Dose));
    for (const auto &[dosimeter, span] : personSpans(dir, personKey, dateTimeToStored(from), dateTimeToStored(to))) {
        QString first, end;
        if (m_dm.monthSumsKept() && MonthSums::wholeMonths(span.from, span.fromIncluded, span.to, &first, &end)) {
            // The whole months [first, end) from the sums the database
            // keeps, the partial ones at the edges from the readings.
            const HeldSpan before{span.from, span.fromIncluded, first, false};
            const HeldSpan after{end, true, span.to, span.toIncluded};
            // Each edge lies within one month (the first and the last of
            // the span): one plain sum each, none when it holds no reading.
            const QString edge = QStringLiteral(" UNION ALL SELECT ?, COALESCE(SUM(%2), 0), COUNT(*) FROM %1 WHERE %3 = ? AND %4 "
                                                "HAVING COUNT(*) > 0")
                                     .arg(measures.sqlName(), dose, id);
            QSqlQuery q = measures.exec(
                QStringLiteral("SELECT \"Month\", \"Dose\", \"Readings\" FROM %1 WHERE \"ID\" = ? AND \"Month\" >= ? "
                               "AND \"Month\" < ?")
                        .arg(MonthSums::sqlName(m_dm.dialect()))
                    + edge.arg(spanCondition(before, time)) + edge.arg(spanCondition(after, time)),
                {dosimeter, first, end, span.from.left(7), dosimeter, before.from, before.to, end, dosimeter, after.from,
                 after.to});
            while (q.next()) {
                PeriodDose &m = months[q.value(0).toString()];
                m.dose += q.value(1).toDouble();
                m.readings += q.value(2).toLongLong();
            }
            continue;
        }
        // The stored text begins with "yyyy-MM" (StoredDateTime.h).
        QSqlQuery q = measures.exec(QStringLiteral("SELECT SUBSTR(%3, 1, 7), COALESCE(SUM(%2), 0), COUNT(*) FROM %1 "
                                                   "WHERE %4 = ? AND %5 GROUP BY SUBSTR(%3, 1, 7)")
                                        .arg(measures.sqlName(), dose, time, id, spanCondition(span, time)),
                                    {dosimeter, span.from, span.to});
        while (q.next()) {
            PeriodDose &m = months[q.value(0).toString()];
            m.dose += q.value(1).toDouble();
            m.readings += q.value(2).toLongLong();
        }
    }
    return months;
}

QList<double> PersonDoses::monthly(const QString &personKey, int year) const
{
    QList<double> list;
    for (const PeriodRange &m :
         DosePeriods::overlapping(DosePeriod::Month, QDate(year, 1, 1), QDate(year, 12, 31)))
        list.append(dose(personKey, m).dose);
    return list;
}

QList<PersonReading> PersonDoses::readings(const QString &personKey, const QDateTime &from, const QDateTime &to) const
{
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    dir.refresh();
    QList<PersonReading> list;
    DataTable &measures = m_dm.measures();
    const auto f = [](MeasuresField field) { return quoted(fieldName(field)); };
    for (const auto &[dosimeter, span] : personSpans(dir, personKey, dateTimeToStored(from), dateTimeToStored(to))) {
        QSqlQuery q = measures.exec(QStringLiteral("SELECT %2, %3, %4 FROM %1 WHERE %5 = ? AND %6")
                                        .arg(measures.sqlName(), f(MeasuresField::Index), f(MeasuresField::DateTime),
                                             f(MeasuresField::Dose), f(MeasuresField::ID),
                                             spanCondition(span, f(MeasuresField::DateTime))),
                                    {dosimeter, span.from, span.to});
        while (q.next())
            list.append({q.value(0).toLongLong(), dosimeter, dateTimeFromStored(q.value(1).toString()),
                         q.value(2).toDouble()});
    }
    std::sort(list.begin(), list.end(), [](const PersonReading &a, const PersonReading &b) {
        return a.time != b.time ? a.time < b.time : a.index < b.index;
    });
    return list;
}

std::optional<PersonReading> PersonDoses::crossing(const QString &personKey, const PeriodRange &period, double level) const
{
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    dir.refresh();
    struct Stored {
        QString time;  // stored texts sort as the times do
        qint64 index;
        qint64 id;
        double dose;
    };
    std::vector<Stored> list;
    DataTable &measures = m_dm.measures();
    const auto f = [](MeasuresField field) { return quoted(fieldName(field)); };
    for (const auto &[dosimeter, span] :
         personSpans(dir, personKey, dateTimeToStored(period.from), dateTimeToStored(period.to))) {
        QSqlQuery q = measures.exec(QStringLiteral("SELECT %2, %3, %4 FROM %1 WHERE %5 = ? AND %6")
                                        .arg(measures.sqlName(), f(MeasuresField::Index), f(MeasuresField::DateTime),
                                             f(MeasuresField::Dose), f(MeasuresField::ID),
                                             spanCondition(span, f(MeasuresField::DateTime))),
                                    {dosimeter, span.from, span.to});
        while (q.next())
            list.push_back({q.value(1).toString(), q.value(0).toLongLong(), dosimeter, q.value(2).toDouble()});
    }
    std::sort(list.begin(), list.end(), [](const Stored &a, const Stored &b) {
        return a.time != b.time ? a.time < b.time : a.index < b.index;
    });
    double sum = 0;
    for (const Stored &r : list) {
        sum += r.dose;
        if (sum > level)
            return PersonReading{r.index, r.id, dateTimeFromStored(r.time), r.dose};
    }
    return std::nullopt;
}

QList<PersonDoses::Row> PersonDoses::everyone(const QDateTime &from, const QDateTime &to) const
{
    PersonDirectory &dir = PersonDirectory::of(m_dm);
    dir.refresh();
    const DoseAttribution all = DoseAttribution::compute(m_dm, from, to);
    QHash<QString, int> at;
    QList<Row> rows;
    for (const PersonDose &p : all.persons) {
        const QString key = dir.personOf(p.fio);
        auto it = at.constFind(key);
        if (it == at.constEnd()) {
            it = at.insert(key, int(rows.size()));
            rows.append(Row{dir.person(key).value_or(DosePerson{key, p.fio, {}, {}}), {}});
        }
        rows[*it].dose.dose += p.dose;
        rows[*it].dose.readings += p.readings;
    }
    std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
        const int c = QString::compare(a.person.fio, b.person.fio, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.person.key < b.person.key;
    });
    return rows;
}

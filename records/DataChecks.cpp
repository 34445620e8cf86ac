// Checks of the records; see DataChecks.h.

#include "records/DataChecks.h"

#include "records/DataModule.h"
#include "records/PersonDoses.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"
#include "records/StoredDateTime.h"

#include <QSqlQuery>
#include <limits>

using RecordsSql::quoted;

namespace DataChecks {

Result<QList<UnreadDosimeter>> unreadDosimeters(DataModule &dm, int days, const QDateTime &now)
{
    if (days < 0)
        return Error{ErrorKind::Invalid, QStringLiteral("Число дней не может быть отрицательным")};
    try {
        using N = NotesField;
        using M = MeasuresField;
        DataTable &notes = dm.notes();
        DataTable &measures = dm.measures();
        QSqlQuery q = notes.exec(QStringLiteral("SELECT %2, %3, %4, %5 FROM %1 WHERE %6 IS NULL AND %3 IS NOT NULL "
                                                "ORDER BY %3, %4")
                                     .arg(notes.sqlName(), quoted(fieldName(N::Index)), quoted(fieldName(N::ID)),
                                          quoted(fieldName(N::TimeFrom)), quoted(fieldName(N::FIO)),
                                          quoted(fieldName(N::TimeTo))));
        QList<UnreadDosimeter> open;
        while (q.next()) {
            UnreadDosimeter u;
            u.entryKey = q.value(0).toLongLong();
            u.id = q.value(1).toLongLong();
            u.issued = dateTimeFromStored(q.value(2).toString());
            u.fio = q.value(3).toString().trimmed();
            open.append(u);
        }
        const QString lastSql = QStringLiteral("SELECT MAX(%2) FROM %1 WHERE %3 = ?")
                                    .arg(measures.sqlName(), quoted(fieldName(M::DateTime)), quoted(fieldName(M::ID)));
        QList<UnreadDosimeter> list;
        for (UnreadDosimeter &u : open) {
            QSqlQuery last = measures.exec(lastSql, {u.id});
            if (last.next() && !last.value(0).isNull())
                u.lastRead = dateTimeFromStored(last.value(0).toString());
            QDateTime since = u.issued;
            if (u.lastRead.isValid() && (!since.isValid() || u.lastRead > since))
                since = u.lastRead;
            u.days = since.isValid() ? since.daysTo(now) : std::numeric_limits<int>::max();
            if (u.days > days)
                list.append(u);
        }
        return list;
    } catch (const std::exception &e) {
        return storeError(e);
    }
}

Result<QList<UnattributedReading>> unattributedReadings(DataModule &dm, const QDateTime &from, const QDateTime &to)
{
    if (!from.isValid() || !to.isValid() || to < from)
        return Error{ErrorKind::Invalid, QStringLiteral("Период задан неверно: конец раньше начала")};
    try {
        using M = MeasuresField;
        PersonDirectory &dir = PersonDirectory::of(dm);
        dir.refresh();
        DataTable &measures = dm.measures();
        QSqlQuery q = measures.exec(QStringLiteral("SELECT %2, %3, %4, %5 FROM %1 WHERE %4 >= ? AND %4 <= ? "
                                                   "ORDER BY %4, %2")
                                        .arg(measures.sqlName(), quoted(fieldName(M::Index)), quoted(fieldName(M::ID)),
                                             quoted(fieldName(M::DateTime)), quoted(fieldName(M::Dose))),
                                    {dateTimeToStored(from), dateTimeToStored(to)});
        QList<UnattributedReading> list;
        while (q.next()) {
            const QString time = q.value(2).toString();
            const qint64 id = q.value(1).toLongLong();
            if (!q.value(1).isNull() && dir.holder(id, time))
                continue;
            list.append({q.value(0).toLongLong(), id, dateTimeFromStored(time), q.value(3).toDouble()});
        }
        return list;
    } catch (const std::exception &e) {
        return storeError(e);
    }
}

Result<QList<DoseAlert>> unacknowledgedOver(DataModule &dm, const QDateTime &from, const QDateTime &to)
{
    if (!from.isValid() || !to.isValid() || to < from)
        return Error{ErrorKind::Invalid, QStringLiteral("Период задан неверно: конец раньше начала")};
    try {
        QList<DoseAlert> list;
        for (const DoseAlert &a : DoseAlerts(dm).alerts(true)) {
            if (a.period.from <= to && a.period.to >= from)
                list.append(a);
        }
        return list;
    } catch (const std::exception &e) {
        return storeError(e);
    }
}

} // namespace DataChecks

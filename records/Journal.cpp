// The issue journal's operations; see Journal.h.

#include "records/Journal.h"

#include "core/Errors.h"
#include "records/AuditLog.h"
#include "records/DataModule.h"
#include "records/DoseAlerts.h"
#include "records/RowEditing.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"
#include "records/StoredDateTime.h"

#include <QSqlQuery>
#include <optional>

namespace {

QString sqlField(NotesField field)
{
    return RecordsSql::quoted(fieldName(field));
}

QDateTime wholeSeconds(const QDateTime &t)
{
    QDateTime r = t;
    r.setTime(QTime(t.time().hour(), t.time().minute(), t.time().second()));
    return r;
}

} // namespace

const QString Journal::AddFailedText = QStringLiteral("Возникла ошибка при добавлении записи в журнал");
const QString Journal::NoDateText = QStringLiteral("Не указана дата привязки");
const QString Journal::NotReleasableText =
    QStringLiteral("Указанная запись по дозиметру не может быть использована для освобождения дозиметра!");
const QString Journal::TooEarlyText =
    QStringLiteral("Дата, время освобождения не может быть раньше чем дата, время привязки дозиметра человеку");
const QString Journal::ChangeFailedText = QStringLiteral("Возникла ошибка изменении записи в журнале");
const QString Journal::DeleteQuestion = QStringLiteral("Delete record?");
const QString Journal::ReversedPeriodText = QStringLiteral("Дата начала периода не может быть позже даты его окончания");

QString Journal::issuedText(const QString &fio)
{
    return QStringLiteral("Указанный дозиметр приписан человеку ") + fio + QStringLiteral("\r\n")
        + QStringLiteral(" перед приписыванием другому лицу, его следует освободить!");
}

QString Journal::releasedAlreadyText(const QDateTime &to)
{
    return QStringLiteral("Указанная запись по дозиметру не может быть использована для освобождения дозиметра\r\n"
                          " так как в ней указано что дозиметр уже освобождён ")
        + momentText(to);
}

Journal::Journal(DataModule &dm, std::function<void()> namesOutOfStep)
    : m_dm(dm), m_namesOutOfStep(std::move(namesOutOfStep))
{
}

DataTable &Journal::notes() const
{
    return m_dm.notes();
}

std::optional<int> Journal::dosimeterNumber(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 8)
        return std::nullopt;
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int n = t.toInt();
    if (n > MaxDosimeterNumber)
        return std::nullopt;
    return n;
}

QDateTime Journal::moment(const QDate &day, const QTime &time)
{
    if (!day.isValid())
        return {};
    return QDateTime(day, time.isValid() ? time : QTime(0, 0));
}

QString Journal::momentText(const QDateTime &moment)
{
    if (moment.time() == QTime(0, 0))
        return moment.toString(QStringLiteral("dd.MM.yyyy"));
    return moment.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

Journal::Row Journal::rowFromTable() const
{
    const DataTable &t = notes();
    Row r;
    r.key = t.getBookmark();
    r.id = t.fieldValue(fieldName(NotesField::ID));
    r.fio = t.asString(fieldName(NotesField::FIO));
    r.from = t.asDateTime(fieldName(NotesField::TimeFrom));
    r.to = t.asDateTime(fieldName(NotesField::TimeTo));
    r.dose = t.fieldValue(fieldName(NotesField::Dose));
    return r;
}

std::optional<Journal::Row> Journal::currentRow() const
{
    if (!notes().active() || !notes().hasCurrent())
        return std::nullopt;
    return rowFromTable();
}

std::optional<Journal::Row> Journal::row(const QVariant &key) const
{
    DataTable &t = notes();
    QSqlQuery q = t.exec(QStringLiteral("SELECT %2, %3, %4, %5, %6 FROM %1 WHERE %7=?")
                             .arg(t.sqlName(), sqlField(NotesField::ID), sqlField(NotesField::FIO),
                                  sqlField(NotesField::TimeFrom), sqlField(NotesField::TimeTo),
                                  sqlField(NotesField::Dose), sqlField(NotesField::Index)),
                         {key});
    if (!q.next())
        return std::nullopt;
    Row r;
    r.key = key;
    r.id = DataTable::fromStorage(t.fieldDef(fieldName(NotesField::ID)), q.value(0));
    r.fio = q.value(1).toString();
    r.from = DataTable::fromStorage(t.fieldDef(fieldName(NotesField::TimeFrom)), q.value(2)).toDateTime();
    r.to = DataTable::fromStorage(t.fieldDef(fieldName(NotesField::TimeTo)), q.value(3)).toDateTime();
    r.dose = DataTable::fromStorage(t.fieldDef(fieldName(NotesField::Dose)), q.value(4));
    return r;
}

std::optional<Journal::Row> Journal::openBinding(int number) const
{
    DataTable &t = notes();
    QString order = t.orderByClause();
    QSqlQuery q = t.exec(QStringLiteral("SELECT %3 FROM %1 WHERE %4=? AND %5 IS NULL %2 LIMIT 1")
                             .arg(t.sqlName(), order, sqlField(NotesField::Index), sqlField(NotesField::ID),
                                  sqlField(NotesField::TimeTo)),
                         {number});
    if (!q.next())
        return std::nullopt;
    return row(q.value(0));
}

void Journal::outOfStep()
{
    DoseAlerts::bindingsChanged(m_dm);
    if (m_namesOutOfStep)
        m_namesOutOfStep();
}

Result<> Journal::bind(const QString &numberText, const QString &fio, const QDate &day, const QTime &time)
{
    const std::optional<int> number = dosimeterNumber(numberText);
    if (!number)
        return Error{ErrorKind::Failed, AddFailedText};
    const QDateTime from = moment(day, time);
    if (!from.isValid())
        return Error{ErrorKind::Invalid, NoDateText};
    DataTable &t = notes();
    try {
        // On a server several monitors bind at once: the check and the new
        // row go in one transaction that holds the journal against other
        // writers (readers go on), so a dosimeter never gets two open rows.
        std::optional<Transaction> held;
        if (!m_dm.dialect().sqlite() && !m_dm.inTransaction()) {
            held.emplace(m_dm);
            t.exec(QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(t.sqlName()));
        }
        if (const std::optional<Row> open = openBinding(*number)) {
            held.reset();
            t.findKey(open->key);
            return Error{ErrorKind::Conflict, issuedText(open->fio)};
        }
        std::optional<Transaction> tx;
        if (!m_dm.inTransaction())
            tx.emplace(m_dm);
        editingRow(t, [&] {
            t.append();
            t.setFieldValue(fieldName(NotesField::ID), *number);
            t.setFieldValue(fieldName(NotesField::FIO), fio);
            t.setFieldValue(fieldName(NotesField::TimeFrom), from);
            t.post();
        });
        AuditLog(m_dm).write({t.tableName(), t.fieldValue(t.keyField()).toString(), AuditLog::InsertAction, QString(),
                              AuditLog::rowText(t)});
        if (tx)
            tx->commit();
        if (held)
            held->commit();
    } catch (const ERuvoError &e) {
        return storeError(e, AddFailedText);
    }
    outOfStep();
    return {};
}

Result<> Journal::checkRelease() const
{
    std::optional<Row> r;
    try {
        r = currentRow();
    } catch (const ERuvoError &) {
        return {};  // the dialog opens anyway, as it always did
    }
    if (!r || r->from.isNull())
        return Error{ErrorKind::Conflict, NotReleasableText};
    if (!r->to.isNull())
        return Error{ErrorKind::Conflict, releasedAlreadyText(r->to)};
    return {};
}

Result<> Journal::release(const QVariant &key, const QDateTime &to)
{
    DataTable &t = notes();
    try {
        const std::optional<Row> r = row(key);
        // The dialog opened on an open row: one released or gone by now was
        // changed by someone else meanwhile.
        if (!r || !r->to.isNull()) {
            t.refresh();
            return Error{ErrorKind::Conflict, changedElsewhereText(r)};
        }
        if (r->from.isNull())
            return Error{ErrorKind::Conflict, NotReleasableText};
        // The dialog shows the bind moment in whole seconds; the stored one
        // may carry milliseconds (bindings made from a label).
        if (!to.isValid() || to < wholeSeconds(r->from))
            return Error{ErrorKind::Invalid, TooEarlyText};
        const QDateTime end = to < r->from ? r->from : to;
        std::optional<Transaction> tx;
        if (!m_dm.inTransaction())
            tx.emplace(m_dm);
        const QString before = t.findKey(key) ? AuditLog::rowText(t) : QString();
        // Written only if the row is still as it was read: another operator
        // (another monitor on the same store) may have released, changed or
        // deleted it meanwhile; the first change stands and this one is told.
        const FieldDef &timeDef = t.fieldDef(fieldName(NotesField::TimeFrom));
        QSqlQuery q = t.exec(QStringLiteral("UPDATE %1 SET %2=? WHERE %3=? AND %2 IS NULL AND %4=? AND %5 IS NOT DISTINCT FROM ?")
                                 .arg(t.sqlName(), sqlField(NotesField::TimeTo), sqlField(NotesField::Index),
                                      sqlField(NotesField::TimeFrom), sqlField(NotesField::ID)),
                             {DataTable::toStorage(t.fieldDef(fieldName(NotesField::TimeTo)), end), key,
                              DataTable::toStorage(timeDef, r->from),
                              DataTable::toStorage(t.fieldDef(fieldName(NotesField::ID)), r->id)});
        const bool written = q.numRowsAffected() == 1;
        q.finish();
        if (!written) {
            tx.reset();  // nothing of this change stays
            t.refresh();
            return Error{ErrorKind::Conflict, changedElsewhereText(row(key))};
        }
        t.refresh();
        t.findKey(key);
        AuditLog(m_dm).write({t.tableName(), key.toString(), AuditLog::UpdateAction, before, AuditLog::rowText(t)});
        if (tx)
            tx->commit();
    } catch (const ERuvoError &e) {
        return storeError(e, ChangeFailedText);
    }
    outOfStep();
    return {};
}

QString Journal::changedElsewhereText(const std::optional<Row> &now)
{
    QString text = QStringLiteral("Запись журнала изменена на другом рабочем месте, ваше изменение не сохранено.\r\n");
    if (!now)
        return text + QStringLiteral("Запись удалена.");
    if (!now->to.isNull())
        return text + QStringLiteral("Дозиметр освобождён ") + momentText(now->to);
    return text + QStringLiteral("Проверьте запись и повторите действие.");
}

bool Journal::sameRow(const Row &a, const Row &b)
{
    return a.key == b.key && a.id == b.id && a.fio == b.fio && a.from == b.from && a.to == b.to;
}

Result<> Journal::remove(const Row &shown)
{
    DataTable &t = notes();
    try {
        std::optional<Transaction> tx;
        if (!m_dm.inTransaction())
            tx.emplace(m_dm);
        // Deleted only if the row is still the one the operator was shown:
        // another monitor may have released, changed or deleted it meanwhile;
        // the first change stands and this one is told.
        holdRow(t, shown.key);
        const std::optional<Row> now = row(shown.key);
        if (!now || !sameRow(*now, shown) || !t.active() || !t.findKey(shown.key)) {
            tx.reset();  // nothing of this change stays
            t.refresh();
            return Error{ErrorKind::Conflict, changedElsewhereText(now)};
        }
        const QString before = AuditLog::rowText(t);
        t.remove();
        AuditLog(m_dm).write({t.tableName(), shown.key.toString(), AuditLog::DeleteAction, before, QString()});
        if (tx)
            tx->commit();
    } catch (const ERuvoError &e) {
        try {
            t.refresh();
        } catch (...) {
        }
        return storeError(e);
    }
    outOfStep();
    return {};
}

Result<DoseAttribution> Journal::totals(const QDateTime &from, const QDateTime &to) const
{
    if (from.isValid() && to.isValid() && from > to)
        return Error{ErrorKind::Invalid, ReversedPeriodText};
    try {
        return DoseAttribution::compute(m_dm, from, to);
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
}

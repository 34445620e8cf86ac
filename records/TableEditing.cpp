// The table class: the edit buffer (append, edit, the field values and
// their texts) and its writes (post, cancel, remove).

#include "records/DataTable.h"

#include "core/Errors.h"
#include "core/TextCode.h"
#include "records/SqlQuote.h"
#include "records/TableHost.h"

#include <QSqlQuery>

using RecordsSql::quoted;

namespace {

bool hasSurrogates(const QString &text)
{
    for (const QChar c : text)
        if (c.isSurrogate())
            return true;
    return false;
}

} // namespace

// ---------------------------------------------------------------- editing

void DataTable::append()
{
    checkBrowseMode();
    m_savedKey = m_curKey;
    m_savedEof = m_eof;
    m_savedBof = m_bof;
    m_savedValues = m_values;
    m_values.fill(QVariant());
    m_changed.fill(false);
    m_modified = false;
    setState(TableState::Insert);
    notifyCurrent();
}

void DataTable::edit()
{
    requireActive();
    if (m_state == TableState::Edit || m_state == TableState::Insert)
        return;
    if (m_curKey.isNull())
        throw EGeneralError(QStringLiteral("%1: нет текущей записи").arg(m_tableName));
    m_savedValues = m_values;
    m_changed.fill(false);
    m_modified = false;
    setState(TableState::Edit);
}

void DataTable::setFieldValue(const QString &field, const QVariant &value)
{
    requireActive();
    const int i = fieldIndexOrRaise(field);
    const FieldDef &f = m_fields[i];
    if (m_state != TableState::Edit && m_state != TableState::Insert)
        throw EGeneralError(QStringLiteral("%1: таблица не в режиме редактирования").arg(m_tableName));
    if (f.type == FieldType::AutoInc)
        throw EGeneralError(QStringLiteral("%1: поле %2 нельзя изменить").arg(m_tableName, f.name));
    QVariant v = value;
    if (f.type == FieldType::Text && v.isValid() && !v.isNull()) {
        QString text = v.toString();
        // A longer text is cut to the field size by whole characters; half of
        // a surrogate pair (a lone one) is never stored.
        if ((f.size > 0 && text.size() > f.size) || hasSurrogates(text))
            text = leftCharacters(text, f.size > 0 ? f.size : text.size());
        v = text;
    }
    // Checked and normalised now, so that a bad value fails where it is set.
    m_values[i] = fromStorage(f, toStorage(f, v));
    m_changed[i] = true;
    m_modified = true;
}

QVariant DataTable::fieldValue(const QString &field) const
{
    requireActive();
    return m_values[fieldIndexOrRaise(field)];
}

bool DataTable::isNull(const QString &field) const
{
    const QVariant v = fieldValue(field);
    return !v.isValid() || v.isNull();
}

QString DataTable::asString(const QString &field) const
{
    const int i = fieldIndexOrRaise(field);
    return plainText(m_fields[i], fieldValue(field));
}

int DataTable::asInteger(const QString &field) const
{
    const QVariant v = fieldValue(field);
    return v.isNull() ? 0 : v.toInt();
}

double DataTable::asFloat(const QString &field) const
{
    const QVariant v = fieldValue(field);
    return v.isNull() ? 0.0 : v.toDouble();
}

QDateTime DataTable::asDateTime(const QString &field) const
{
    const QVariant v = fieldValue(field);
    if (v.isNull())
        return QDateTime();
    if (v.typeId() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0));
    return v.toDateTime();
}

bool DataTable::asBoolean(const QString &field) const
{
    const QVariant v = fieldValue(field);
    return !v.isNull() && v.toBool();
}

QString DataTable::displayText(const QString &field) const
{
    const int i = fieldIndexOrRaise(field);
    return displayText(m_fields[i], fieldValue(field));
}

void DataTable::post()
{
    requireActive();
    if (m_state == TableState::Insert) {
        const bool autoKey = m_fields.first().type == FieldType::AutoInc;
        QStringList cols;
        QStringList marks;
        QVariantList params;
        for (int i = autoKey ? 1 : 0; i < m_fields.size(); ++i) {
            const QVariant stored = toStorage(m_fields[i], m_values[i]);
            if (stored.isNull())
                continue;
            cols.append(quoted(m_fields[i].name));
            marks.append(QStringLiteral("?"));
            params.append(stored);
            if (hasSortKey(m_fields[i])) {
                cols.append(quoted(SqlDialect::sortKeyColumn(m_fields[i].name)));
                marks.append(m_dm->dialect().textKeyOfParam());
                params.append(stored);
            }
        }
        if (!autoKey && m_values[0].isNull())
            throw EGeneralError(QStringLiteral("%1: не задано значение ключевого поля %2").arg(m_tableName, keyField()));
        QVariant key;
        {
            const QString sql = cols.isEmpty()
                                    ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(sqlName())
                                    : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                          .arg(sqlName(), cols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));
            const QString returning = autoKey ? m_dm->dialect().returningKey(keyField()) : QString();
            QSqlQuery q = exec(sql + returning, params);
            if (!autoKey)
                key = toStorage(m_fields[0], m_values[0]);
            else if (!returning.isEmpty())
                key = q.next() ? QVariant(q.value(0).toLongLong()) : QVariant();
            else
                key = QVariant(q.lastInsertId().toLongLong());
        }
        const bool shown = keyShown(key);
        loadKey(key, false);
        m_eof = m_bof = false;
        m_modified = false;
        if (m_countCache >= 0 && shown)
            ++m_countCache;
        if (m_totalCache >= 0)
            ++m_totalCache;
        setState(TableState::Browse);
        if (!controlsDisabled())
            emit rowInserted(key, shown);
        else
            m_pendingReset = true;
        notifyCurrent();
        m_dm->notifyPeers(this);
        return;
    }
    if (m_state == TableState::Edit) {
        const QVariant oldKey = m_curKey;
        QStringList sets;
        QVariantList params;
        for (int i = 0; i < m_fields.size(); ++i) {
            if (!m_changed[i])
                continue;
            sets.append(quoted(m_fields[i].name) + QStringLiteral(" = ?"));
            params.append(toStorage(m_fields[i], m_values[i]));
            if (hasSortKey(m_fields[i])) {
                sets.append(quoted(SqlDialect::sortKeyColumn(m_fields[i].name)) + QStringLiteral(" = ")
                            + m_dm->dialect().textKeyOfParam());
                params.append(toStorage(m_fields[i], m_values[i]));
            }
        }
        if (sets.isEmpty()) {
            m_modified = false;
            setState(TableState::Browse);
            return;
        }
        if (m_changed[0] && m_values[0].isNull())
            throw EGeneralError(QStringLiteral("%1: не задано значение ключевого поля %2").arg(m_tableName, keyField()));
        const bool wasShown = keyShown(oldKey);
        params.append(oldKey);
        exec(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                 .arg(sqlName(), sets.join(QStringLiteral(", ")), quoted(keyField())),
             params);
        const QVariant newKey = m_changed[0] ? toStorage(m_fields[0], m_values[0]) : oldKey;
        const bool nowShown = keyShown(newKey);
        loadKey(newKey, false);
        m_modified = false;
        if (m_countCache >= 0)
            m_countCache += int(nowShown) - int(wasShown);
        if (wasShown && !nowShown && m_countAtLeast > 0)
            --m_countAtLeast;
        setState(TableState::Browse);
        if (!controlsDisabled())
            emit rowUpdated(newKey, int(nowShown) - int(wasShown));
        else
            m_pendingReset = true;
        notifyCurrent();
        m_dm->notifyPeers(this);
        return;
    }
    throw EGeneralError(QStringLiteral("%1: таблица не в режиме редактирования").arg(m_tableName));
}

void DataTable::cancel()
{
    requireActive();
    if (m_state == TableState::Insert) {
        const QVariant key = m_savedKey;
        setState(TableState::Browse);
        m_modified = false;
        if (key.isNull() || !loadKey(key, false)) {
            if (!key.isNull())
                moveTo(true, false);
            else
                clearCurrent();
        } else {
            m_eof = m_savedEof;
            m_bof = m_savedBof;
        }
        notifyCurrent();
        return;
    }
    if (m_state == TableState::Edit) {
        m_values = m_savedValues;
        m_modified = false;
        setState(TableState::Browse);
        notifyCurrent();
    }
}

void DataTable::remove()
{
    requireActive();
    if (m_state == TableState::Insert) {
        cancel();
        return;
    }
    if (m_state == TableState::Edit)
        cancel();
    if (m_curKey.isNull())
        throw EGeneralError(QStringLiteral("%1: нет текущей записи").arg(m_tableName));
    const QVariant key = m_curKey;
    const RowData boundary = currentRowData();
    const bool wasShown = keyShown(key);
    exec(QStringLiteral("DELETE FROM %1 WHERE %2 = ?").arg(sqlName(), quoted(keyField())), {key});
    if (m_countCache >= 0 && wasShown)
        --m_countCache;
    if (wasShown && m_countAtLeast > 0)
        --m_countAtLeast;
    if (m_totalCache >= 0)
        --m_totalCache;
    QVector<int> all(m_fields.size());
    for (int i = 0; i < all.size(); ++i)
        all[i] = i;
    QVector<RowData> rows = fetchRows(all, true, &boundary, 1);
    if (!rows.isEmpty()) {
        setCurrent(rows.first().values);
        m_eof = m_bof = false;
    } else {
        rows = fetchRows(all, false, &boundary, 1);
        if (!rows.isEmpty()) {
            setCurrent(rows.first().values);
            m_bof = false;
            m_eof = true;
        } else {
            clearCurrent();
        }
    }
    if (!controlsDisabled())
        emit rowDeleted(key, wasShown);
    else
        m_pendingReset = true;
    notifyCurrent();
    m_dm->notifyPeers(this);
}

// The table class: conversions between the values its interface takes and
// gives and the values stored in the table's file, and their texts.

#include "records/DataTable.h"

#include "core/Errors.h"
#include "records/StoredDateTime.h"

#include <cmath>
#include <limits>

namespace {

QDateTime parseDateTimeText(const QString &text)
{
    const QString t = text.trimmed();
    static const char *const formats[] = {"dd.MM.yyyy HH:mm:ss.zzz", "dd.MM.yyyy HH:mm:ss", "dd.MM.yyyy HH:mm",
                                          "dd.MM.yyyy", "d.M.yyyy H:mm:ss", "d.M.yyyy H:mm", "d.M.yyyy"};
    for (const char *f : formats) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(f));
        if (dt.isValid())
            return dt;
    }
    return dateTimeFromStored(t);
}

bool inStoredRange(const QDateTime &dt)
{
    return dt.isValid() && dt.date().year() >= 1 && dt.date().year() <= 9999;
}

} // namespace

QVariant DataTable::toStorage(const FieldDef &f, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    const bool isText = value.typeId() == QMetaType::QString;
    const QString text = isText ? value.toString() : QString();
    if (isText && f.type != FieldType::Text && text.trimmed().isEmpty())
        return QVariant();
    bool ok = true;
    switch (f.type) {
    case FieldType::AutoInc:
    case FieldType::Integer: {
        qlonglong v = 0;
        if (isText) {
            v = text.trimmed().toLongLong(&ok);
        } else if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
            const double d = value.toDouble();
            ok = std::isfinite(d) && d == std::floor(d);
            v = ok ? static_cast<qlonglong>(d) : 0;
        } else {
            v = value.toLongLong(&ok);
        }
        if (!ok || v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
            throw EGeneralError(QStringLiteral("'%1' не является допустимым целым значением для поля %2")
                                    .arg(value.toString(), f.name));
        return QVariant(v);
    }
    case FieldType::Float: {
        const double d = isText ? text.trimmed().toDouble(&ok) : value.toDouble(&ok);
        if (!ok || !std::isfinite(d))
            throw EGeneralError(QStringLiteral("'%1' не является допустимым числом для поля %2")
                                    .arg(value.toString(), f.name));
        return QVariant(d);
    }
    case FieldType::Boolean: {
        if (isText) {
            const QString t = text.trimmed().toLower();
            if (t == QLatin1String("true") || t == QLatin1String("1"))
                return QVariant(qlonglong(1));
            if (t == QLatin1String("false") || t == QLatin1String("0"))
                return QVariant(qlonglong(0));
            throw EGeneralError(QStringLiteral("'%1' не является логическим значением для поля %2").arg(text, f.name));
        }
        return QVariant(qlonglong(value.toBool() ? 1 : 0));
    }
    case FieldType::DateTime: {
        QDateTime dt;
        if (value.typeId() == QMetaType::QDateTime)
            dt = value.toDateTime();
        else if (value.typeId() == QMetaType::QDate)
            dt = QDateTime(value.toDate(), QTime(0, 0));
        else if (isText)
            dt = parseDateTimeText(text);
        if (!inStoredRange(dt))
            throw EGeneralError(QStringLiteral("'%1' не является допустимой датой и временем для поля %2")
                                    .arg(value.toString(), f.name));
        return QVariant(dateTimeToStored(dt));
    }
    case FieldType::Date: {
        QDate d;
        if (value.typeId() == QMetaType::QDate)
            d = value.toDate();
        else if (value.typeId() == QMetaType::QDateTime)
            d = value.toDateTime().date();
        else if (isText)
            d = parseDateTimeText(text).date();
        if (!d.isValid() || d.year() < 1 || d.year() > 9999)
            throw EGeneralError(QStringLiteral("'%1' не является допустимой датой для поля %2")
                                    .arg(value.toString(), f.name));
        return QVariant(dateToStored(d));
    }
    case FieldType::Text: {
        const QString t = value.toString();
        return t.isEmpty() ? QVariant() : QVariant(t);
    }
    }
    return QVariant();
}

QVariant DataTable::fromStorage(const FieldDef &f, const QVariant &stored)
{
    if (!stored.isValid() || stored.isNull())
        return QVariant();
    switch (f.type) {
    case FieldType::AutoInc:
    case FieldType::Integer:
        return QVariant(static_cast<int>(stored.toLongLong()));
    case FieldType::Float:
        return QVariant(stored.toDouble());
    case FieldType::Boolean:
        return QVariant(stored.toLongLong() != 0);
    case FieldType::DateTime: {
        const QDateTime dt = dateTimeFromStored(stored.toString());
        return dt.isValid() ? QVariant(dt) : QVariant();
    }
    case FieldType::Date: {
        const QDate d = dateFromStored(stored.toString());
        return d.isValid() ? QVariant(d) : QVariant();
    }
    case FieldType::Text:
        return QVariant(stored.toString());
    }
    return QVariant();
}

QString DataTable::plainText(const FieldDef &f, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    switch (f.type) {
    case FieldType::AutoInc:
    case FieldType::Integer:
        return QString::number(value.toLongLong());
    case FieldType::Float:
        return QString::number(value.toDouble(), 'g', 15);
    case FieldType::Boolean:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case FieldType::DateTime: {
        const QDateTime dt = value.toDateTime();
        if (dt.time() == QTime(0, 0))
            return dt.toString(QStringLiteral("dd.MM.yyyy"));
        return dt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    }
    case FieldType::Date:
        return value.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case FieldType::Text:
        return value.toString();
    }
    return value.toString();
}

QString DataTable::displayText(const FieldDef &f, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QString();
    if (f.displayFormat.isEmpty())
        return plainText(f, value);
    switch (f.type) {
    case FieldType::DateTime:
        return value.toDateTime().toString(f.displayFormat);
    case FieldType::Date:
        return value.toDate().toString(f.displayFormat);
    case FieldType::Float: {
        const int dot = f.displayFormat.indexOf(QLatin1Char('.'));
        const int decimals = dot < 0 ? 0 : int(f.displayFormat.size() - dot - 1);
        return QString::number(value.toDouble(), 'f', decimals);
    }
    case FieldType::Boolean: {
        const QStringList parts = f.displayFormat.split(QLatin1Char(';'));
        if (parts.size() >= 2)
            return value.toBool() ? parts[0] : parts[1];
        return plainText(f, value);
    }
    default:
        return plainText(f, value);
    }
}

// The filter language's compiler: the constants a filter text holds, and
// the tree the parser (FilterSyntax.cpp) reads turned into an SQLite
// condition with bound parameters.

#include "records/FilterLanguage.h"

#include "records/FilterSyntax.h"
#include "records/StoredDateTime.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <utility>

using namespace FilterSyntax;

namespace {

// ---------------------------------------------------------------- constants

// Reads "dd.mm.yyyy[ hh:mm[:ss[.zzz]]]" or the stored form
// "yyyy-mm-dd[ hh:mm[:ss[.zzz]]]". hasTime tells whether a time was written.
bool readDateConstant(const QString &text, QDateTime *out, bool *hasTime)
{
    static const QRegularExpression dotted(QStringLiteral(
        "^([0-9]{1,2})\\.([0-9]{1,2})\\.([0-9]{4})(?:\\s+([0-9]{1,2}):([0-9]{2})(?::([0-9]{2})(?:\\.([0-9]{1,3}))?)?)?$"));
    static const QRegularExpression iso(QStringLiteral(
        "^([0-9]{4})-([0-9]{2})-([0-9]{2})(?:[ T]([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:\\.([0-9]{1,3}))?)?)?$"));
    const QString s = text.trimmed();
    int y = 0, m = 0, d = 0;
    QRegularExpressionMatch match = dotted.match(s);
    if (match.hasMatch()) {
        d = match.captured(1).toInt();
        m = match.captured(2).toInt();
        y = match.captured(3).toInt();
    } else {
        match = iso.match(s);
        if (!match.hasMatch())
            return false;
        y = match.captured(1).toInt();
        m = match.captured(2).toInt();
        d = match.captured(3).toInt();
    }
    const QDate date(y, m, d);
    if (y < 1 || !date.isValid())
        return false;
    QTime time(0, 0);
    *hasTime = match.capturedLength(4) > 0;
    if (*hasTime) {
        QString ms = match.captured(7);
        while (ms.size() < 3)
            ms += QLatin1Char('0');
        time = QTime(match.captured(4).toInt(), match.captured(5).toInt(), match.captured(6).toInt(), ms.toInt());
        if (!time.isValid())
            return false;
    }
    *out = QDateTime(date, time);
    return true;
}

bool readNumberConstant(const QString &text, QVariant *out)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)$"));
    const QString s = text.trimmed();
    if (!number.match(s).hasMatch())
        return false;
    bool ok = false;
    if (!s.contains(QLatin1Char('.'))) {
        const qlonglong whole = s.toLongLong(&ok);
        if (ok) {
            *out = whole;
            return true;
        }
    }
    const double d = QLocale::c().toDouble(s, &ok);
    if (!ok || !std::isfinite(d))
        return false;
    *out = d;
    return true;
}

bool readBooleanConstant(const QString &text, QVariant *out)
{
    const QString s = text.trimmed();
    if (s.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0) {
        *out = qlonglong(1);
        return true;
    }
    if (s.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
        *out = qlonglong(0);
        return true;
    }
    return readNumberConstant(s, out);
}

// A text constant that compares only the beginning: longer than one
// character and ending in "*".
bool isPrefixPattern(const Node &n) { return n.kind == Kind::Text && n.raw.size() > 1 && n.raw.endsWith(QLatin1Char('*')); }

// ---------------------------------------------------------------- SQL

// What a value is, for the choice of comparison. Constants adapt to the
// other side of a comparison; fields and expressions do not.
enum class Cls { Number, Text, DateTime, Date, Boolean, NumberConst, TextConst, Null, Condition };

class Emitter {
public:
    Emitter(const QList<FilterField> &fields, const QString &exact) : m_fields(fields), m_exact(exact) {}

    CompiledFilter result() { return {m_sql, m_params}; }

    void condition(const Node &n)
    {
        switch (n.kind) {
        case Kind::Or:
        case Kind::And: {
            const QString joint = n.kind == Kind::Or ? QStringLiteral(" OR ") : QStringLiteral(" AND ");
            for (size_t i = 0; i < n.kids.size(); ++i) {
                if (i)
                    m_sql += joint;
                const Node &kid = *n.kids[i];
                const bool wrap = n.kind == Kind::And && kid.kind == Kind::Or;
                if (wrap)
                    m_sql += QLatin1Char('(');
                condition(kid);
                if (wrap)
                    m_sql += QLatin1Char(')');
            }
            return;
        }
        case Kind::Not:
            m_sql += QStringLiteral("NOT (");
            condition(*n.kids[0]);
            m_sql += QLatin1Char(')');
            return;
        case Kind::Compare:
            comparison(n);
            return;
        default:
            break;
        }
        const Cls c = classOf(n);
        if (c == Cls::Boolean) {
            // A blank mark counts as not set.
            value(n, Cls::Boolean);
            m_sql += QStringLiteral(" <> 0");
            return;
        }
        failAt(QStringLiteral("Ожидалось условие"), n.pos);
    }

private:
    Cls fieldClass(int field) const
    {
        switch (m_fields.at(field).type) {
        case FilterFieldType::AutoInc:
        case FilterFieldType::Integer:
        case FilterFieldType::Float:
            return Cls::Number;
        case FilterFieldType::DateTime:
            return Cls::DateTime;
        case FilterFieldType::Date:
            return Cls::Date;
        case FilterFieldType::Boolean:
            return Cls::Boolean;
        case FilterFieldType::Text:
            break;
        }
        return Cls::Text;
    }

    Cls classOf(const Node &n) const
    {
        switch (n.kind) {
        case Kind::Field:
            return fieldClass(n.field);
        case Kind::Number:
            return Cls::NumberConst;
        case Kind::Text:
            return Cls::TextConst;
        case Kind::Null:
            return Cls::Null;
        case Kind::Bool:
            return Cls::Boolean;
        case Kind::Neg:
        case Kind::Arith:
            return Cls::Number;
        default:
            return Cls::Condition;
        }
    }

    QString quotedName(int field) const
    {
        QString name = m_fields.at(field).name;
        name.replace(QLatin1Char('"'), QLatin1String("\"\""));
        return QLatin1Char('"') + name + QLatin1Char('"');
    }

    void bind(const QVariant &v)
    {
        m_sql += QLatin1Char('?');
        m_params << v;
    }

    // The class both sides of a comparison are compared as; raises on a
    // mismatch. For a date field against a date-time constant the field is
    // raised to a date-time.
    Cls common(const Node &l, const Node &r, int opPos)
    {
        const Cls a = classOf(l), b = classOf(r);
        auto constant = [](Cls c) { return c == Cls::NumberConst || c == Cls::TextConst; };
        auto mismatch = [&]() -> Cls {
            failAt(QStringLiteral("Несовместимые типы в сравнении"), opPos);
        };
        if (!constant(a) && !constant(b)) {
            if (a == b)
                return a;
            if ((a == Cls::Date && b == Cls::DateTime) || (a == Cls::DateTime && b == Cls::Date))
                return Cls::DateTime;
            if ((a == Cls::Boolean && b == Cls::Number) || (a == Cls::Number && b == Cls::Boolean))
                return Cls::Number;
            return mismatch();
        }
        if (constant(a) && constant(b)) {
            if (a == Cls::NumberConst && b == Cls::NumberConst)
                return Cls::Number;
            if (a == Cls::TextConst && b == Cls::TextConst)
                return Cls::Text;
            const Node &text = a == Cls::TextConst ? l : r;
            QVariant v;
            return readNumberConstant(text.raw, &v) ? Cls::Number : Cls::Text;
        }
        const Cls fixed = constant(a) ? b : a;
        const Node &k = constant(a) ? l : r;
        const Cls konst = constant(a) ? a : b;
        switch (fixed) {
        case Cls::Number:
        case Cls::Text:
        case Cls::Boolean:
            return fixed;
        case Cls::DateTime:
            if (konst == Cls::NumberConst)
                return mismatch();
            return Cls::DateTime;
        case Cls::Date: {
            if (konst == Cls::NumberConst)
                return mismatch();
            QDateTime dt;
            bool hasTime = false;
            if (readDateConstant(k.raw, &dt, &hasTime) && dt.time() != QTime(0, 0))
                return Cls::DateTime;
            return Cls::Date;
        }
        default:
            return mismatch();
        }
    }

    void comparison(const Node &n)
    {
        const Node *l = n.kids[0].get();
        const Node *r = n.kids[1].get();
        const Cls a = classOf(*l), b = classOf(*r);
        if (a == Cls::Condition)
            failAt(QStringLiteral("Ожидалось значение, а не условие"), l->pos);
        if (b == Cls::Condition)
            failAt(QStringLiteral("Ожидалось значение, а не условие"), r->pos);
        if (a == Cls::Null || b == Cls::Null) {
            nullComparison(n, a == Cls::Null ? *r : *l);
            return;
        }
        const Cls cls = common(*l, *r, n.opAt);
        const bool equality = n.op == QLatin1String("=") || n.op == QLatin1String("<>");
        if (cls == Cls::Text && equality && !isPrefixPattern(*r) && isPrefixPattern(*l))
            std::swap(l, r); // "=" and "<>" read the same both ways
        if (cls == Cls::Text && equality && isPrefixPattern(*r)) {
            const QString prefix = r->raw.left(r->raw.size() - 1);
            m_sql += QStringLiteral("substr(");
            value(*l, cls);
            m_sql += QStringLiteral(", 1, ");
            // SQLite counts characters, not UTF-16 units.
            bind(qlonglong(prefix.toUcs4().size()));
            m_sql += QStringLiteral(") COLLATE ") + m_exact + QLatin1Char(' ') + n.op + QLatin1Char(' ');
            bind(prefix);
            return;
        }
        value(*l, cls);
        if (cls == Cls::Text)
            m_sql += QStringLiteral(" COLLATE ") + m_exact;
        m_sql += QLatin1Char(' ') + n.op + QLatin1Char(' ');
        value(*r, cls);
    }

    void nullComparison(const Node &n, const Node &other)
    {
        const bool equal = n.op == QLatin1String("=");
        if (!equal && n.op != QLatin1String("<>"))
            failAt(QStringLiteral("NULL сравнивается только знаками \"=\" и \"<>\""), n.opAt);
        if (other.kind == Kind::Null) {
            m_sql += equal ? QStringLiteral("(NULL IS NULL)") : QStringLiteral("(NULL IS NOT NULL)");
            return;
        }
        if (other.kind == Kind::Field && fieldClass(other.field) == Cls::Text) {
            // An empty text is as blank as a missing one.
            const QString f = quotedName(other.field);
            m_sql += equal ? QStringLiteral("(%1 IS NULL OR %1 = '')").arg(f)
                           : QStringLiteral("(%1 IS NOT NULL AND %1 <> '')").arg(f);
            return;
        }
        if (other.kind == Kind::Field) {
            m_sql += quotedName(other.field);
        } else {
            m_sql += QLatin1Char('(');
            const Cls c = classOf(other);
            value(other, c == Cls::NumberConst ? Cls::Number : c == Cls::TextConst ? Cls::Text : c);
            m_sql += QLatin1Char(')');
        }
        m_sql += equal ? QStringLiteral(" IS NULL") : QStringLiteral(" IS NOT NULL");
    }

    // Emits a value compared as cls.
    void value(const Node &n, Cls cls)
    {
        switch (n.kind) {
        case Kind::Field: {
            const Cls own = fieldClass(n.field);
            if (own == Cls::Boolean) {
                m_sql += QStringLiteral("ifnull(%1, 0)").arg(quotedName(n.field));
            } else if (own == Cls::Date && cls == Cls::DateTime) {
                m_sql += QStringLiteral("(%1 || ' 00:00:00.000')").arg(quotedName(n.field));
            } else {
                m_sql += quotedName(n.field);
            }
            return;
        }
        case Kind::Number:
            bind(cls == Cls::Text ? QVariant(n.raw) : n.number);
            return;
        case Kind::Bool:
            bind(qlonglong(n.truth ? 1 : 0));
            return;
        case Kind::Text: {
            QVariant v;
            switch (cls) {
            case Cls::Number:
                if (!readNumberConstant(n.raw, &v))
                    failAt(QStringLiteral("Ожидалось число вместо '%1'").arg(shown(n.raw)), n.pos);
                bind(v);
                return;
            case Cls::Boolean:
                if (!readBooleanConstant(n.raw, &v))
                    failAt(QStringLiteral("Ожидалось логическое значение вместо '%1'").arg(shown(n.raw)), n.pos);
                bind(v);
                return;
            case Cls::DateTime:
            case Cls::Date: {
                QDateTime dt;
                bool hasTime = false;
                if (!readDateConstant(n.raw, &dt, &hasTime))
                    failAt(QStringLiteral("Некорректная дата '%1'").arg(shown(n.raw)), n.pos);
                bind(cls == Cls::Date ? dateToStored(dt.date()) : dateTimeToStored(dt));
                return;
            }
            default:
                bind(n.raw);
                return;
            }
        }
        case Kind::Neg:
            m_sql += QStringLiteral("-(");
            arithmeticOperand(*n.kids[0]);
            m_sql += QLatin1Char(')');
            return;
        case Kind::Arith:
            arithmetic(n);
            return;
        default:
            failAt(QStringLiteral("Ожидалось значение"), n.pos);
        }
    }

    void arithmeticOperand(const Node &n)
    {
        const Cls c = classOf(n);
        if (c != Cls::Number && c != Cls::NumberConst)
            failAt(QStringLiteral("Ожидалось число"), n.pos);
        value(n, Cls::Number);
    }

    void arithmetic(const Node &n)
    {
        const bool multiplicative = n.ops.front() == QLatin1Char('*') || n.ops.front() == QLatin1Char('/');
        bool divides = false;
        for (QChar op : n.ops)
            divides = divides || op == QLatin1Char('/');
        for (size_t i = 0; i < n.kids.size(); ++i) {
            if (i)
                m_sql += QLatin1Char(' ') + n.ops[i - 1] + QLatin1Char(' ');
            const Node &kid = *n.kids[i];
            // A nested chain came from parentheses; keep them where they matter.
            const bool wrap = kid.kind == Kind::Arith
                && (multiplicative || !(kid.ops.front() == QLatin1Char('*') || kid.ops.front() == QLatin1Char('/')));
            if (wrap)
                m_sql += QLatin1Char('(');
            arithmeticOperand(kid);
            if (wrap)
                m_sql += QLatin1Char(')');
            if (i == 0 && divides)
                m_sql += QStringLiteral(" * 1.0"); // so that "/" divides as real numbers
        }
    }

    const QList<FilterField> &m_fields;
    QString m_exact;
    QString m_sql;
    QVariantList m_params;
};

} // namespace

CompiledFilter compileFilter(const QString &text, const QList<FilterField> &fields, const QString &exactCollation)
{
    if (text.trimmed().isEmpty())
        return {};
    NodePtr root = FilterSyntax::parse(text, fields);
    Emitter emitter(fields, exactCollation);
    emitter.condition(*root);
    return emitter.result();
}

QString quoteFilterText(const QString &value)
{
    QString inner = value;
    inner.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

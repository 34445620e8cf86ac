#include "records/FilterLanguage.h"

#include "records/StoredDateTime.h"

#include <QLocale>
#include <QRegularExpression>

#include <climits>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// Nesting of parentheses, NOT and unary signs, and the number of operators,
// are limited so that the parser's recursion stays bounded and SQLite's own
// parser and expression-depth limits are never reached by what we produce.
// SQLite's parser stack (100 entries in the builds we meet) overflows at
// about 15 nested groups of the form "a OR b AND (" when the condition sits
// inside a subquery; 8 levels leave room for the statements around it and
// are more than any sensible filter needs.
const int kMaxDepth = 8;
const int kMaxOperators = 200;

QString position(int index) { return QString::number(index + 1); }

[[noreturn]] void fail(const QString &message, int index) { throw EFilterError(message, index + 1); }

[[noreturn]] void failAt(const QString &what, int index)
{
    fail(what + QStringLiteral(" в позиции ") + position(index), index);
}

QString shown(const QString &text)
{
    const int kMaxShown = 40;
    if (text.size() > kMaxShown)
        return text.left(kMaxShown) + QStringLiteral("…");
    return text;
}

// ---------------------------------------------------------------- tokens

enum class Tok { End, Word, Bracketed, Number, Text, Op, LParen, RParen };

struct Token {
    Tok kind = Tok::End;
    QString text;   // the word, the bracketed name, the number as written, the text's value, the operator
    int pos = 0;    // 0-based index of its first character
    int length = 0; // characters it covers in the source
};

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c.isMark(); }
bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

class Lexer {
public:
    explicit Lexer(const QString &text) : m_s(text) {}

    const Token &peek()
    {
        if (!m_has) {
            m_next = scan();
            m_has = true;
        }
        return m_next;
    }
    Token take()
    {
        peek();
        m_has = false;
        return m_next;
    }

private:
    Token scan()
    {
        const int n = m_s.size();
        while (m_i < n && m_s.at(m_i).isSpace())
            ++m_i;
        Token t;
        t.pos = m_i;
        if (m_i >= n) {
            t.kind = Tok::End;
            return t;
        }
        const QChar c = m_s.at(m_i);
        if (isAsciiDigit(c) || (c == QLatin1Char('.') && m_i + 1 < n && isAsciiDigit(m_s.at(m_i + 1)))) {
            int j = m_i;
            while (j < n && isAsciiDigit(m_s.at(j)))
                ++j;
            if (j < n && m_s.at(j) == QLatin1Char('.')) {
                ++j;
                while (j < n && isAsciiDigit(m_s.at(j)))
                    ++j;
            }
            if (j < n && (isWordChar(m_s.at(j)) || m_s.at(j) == QLatin1Char('.'))) {
                int k = j;
                while (k < n && (isWordChar(m_s.at(k)) || m_s.at(k) == QLatin1Char('.')))
                    ++k;
                failAt(QStringLiteral("Некорректное число \"%1\"").arg(shown(m_s.mid(m_i, k - m_i))), m_i);
            }
            t.kind = Tok::Number;
            t.text = m_s.mid(m_i, j - m_i);
        } else if (isWordChar(c)) {
            int j = m_i;
            while (j < n && isWordChar(m_s.at(j)))
                ++j;
            t.kind = Tok::Word;
            t.text = m_s.mid(m_i, j - m_i);
        } else if (c == QLatin1Char('[')) {
            const int close = m_s.indexOf(QLatin1Char(']'), m_i + 1);
            if (close < 0)
                failAt(QStringLiteral("Не закрыта скобка \"[\""), m_i);
            t.kind = Tok::Bracketed;
            t.text = m_s.mid(m_i + 1, close - m_i - 1);
            m_i = close + 1;
            t.length = m_i - t.pos;
            return t;
        } else if (c == QLatin1Char('\'')) {
            QString value;
            int j = m_i + 1;
            for (;;) {
                if (j >= n)
                    failAt(QStringLiteral("Не закрыта кавычка"), m_i);
                if (m_s.at(j) == QLatin1Char('\'')) {
                    if (j + 1 < n && m_s.at(j + 1) == QLatin1Char('\'')) {
                        value += QLatin1Char('\'');
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += m_s.at(j);
                ++j;
            }
            t.kind = Tok::Text;
            t.text = value;
            m_i = j;
            t.length = m_i - t.pos;
            return t;
        } else if (c == QLatin1Char('(')) {
            t.kind = Tok::LParen;
            t.text = c;
        } else if (c == QLatin1Char(')')) {
            t.kind = Tok::RParen;
            t.text = c;
        } else if (c == QLatin1Char('<') || c == QLatin1Char('>')) {
            t.kind = Tok::Op;
            t.text = c;
            if (m_i + 1 < n) {
                const QChar d = m_s.at(m_i + 1);
                if (d == QLatin1Char('=') || (c == QLatin1Char('<') && d == QLatin1Char('>')))
                    t.text += d;
            }
        } else if (c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-')
                   || c == QLatin1Char('*') || c == QLatin1Char('/')) {
            t.kind = Tok::Op;
            t.text = c;
        } else {
            const uint code = c.unicode();
            if (code < 0x20 || code == 0x7F || !c.isPrint())
                failAt(QStringLiteral("Недопустимый символ с кодом %1").arg(code), m_i);
            failAt(QStringLiteral("Недопустимый символ \"%1\"").arg(c), m_i);
        }
        if (t.kind == Tok::Number || t.kind == Tok::Word || t.kind == Tok::Op || t.kind == Tok::LParen
            || t.kind == Tok::RParen) {
            m_i += t.text.size();
            t.length = t.text.size();
        }
        return t;
    }

    const QString &m_s;
    int m_i = 0;
    Token m_next;
    bool m_has = false;
};

// ---------------------------------------------------------------- syntax tree

enum class Kind { Field, Number, Text, Null, Bool, Neg, Arith, Compare, Not, And, Or };

struct Node {
    Kind kind;
    int pos = 0;          // 0-based index the node starts at
    int opAt = 0;         // Compare: where its operator stands
    int field = -1;       // Field: index into the field list
    QString raw;          // Number: as written (with a folded sign); Text: the value
    QVariant number;      // Number: qlonglong or double
    bool truth = false;   // Bool
    QString op;           // Compare: the comparison
    std::vector<std::unique_ptr<Node>> kids;
    std::vector<QChar> ops;     // Arith: the operator before kids[i+1]
    std::vector<int> opPos;     // Arith: where each of ops stands

    Node(Kind k, int p) : kind(k), pos(p) {}
};
using NodePtr = std::unique_ptr<Node>;

bool isKeyword(const Token &t, const char *word)
{
    return t.kind == Tok::Word && t.text.compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isOp(const Token &t, const char *op) { return t.kind == Tok::Op && t.text == QLatin1String(op); }

bool isComparison(const Token &t)
{
    return t.kind == Tok::Op
        && (t.text == QLatin1String("=") || t.text == QLatin1String("<>") || t.text == QLatin1String("<")
            || t.text == QLatin1String(">") || t.text == QLatin1String("<=") || t.text == QLatin1String(">="));
}

class Parser {
public:
    Parser(const QString &text, const QList<FilterField> &fields) : m_text(text), m_lex(text), m_fields(fields) {}

    NodePtr parseAll()
    {
        NodePtr root = parseOr();
        const Token &t = m_lex.peek();
        if (t.kind != Tok::End) {
            if (t.kind == Tok::RParen)
                failAt(QStringLiteral("Лишняя скобка \")\""), t.pos);
            failAt(QStringLiteral("Лишний текст \"%1\"").arg(shown(m_text.mid(t.pos, qMax(t.length, 1)))), t.pos);
        }
        return root;
    }

private:
    void enter(int pos)
    {
        if (++m_depth > kMaxDepth)
            failAt(QStringLiteral("Слишком глубокая вложенность"), pos);
    }
    void leave() { --m_depth; }
    void countOperator(int pos)
    {
        if (++m_operators > kMaxOperators)
            failAt(QStringLiteral("Слишком длинное выражение"), pos);
    }

    NodePtr chain(Kind kind, NodePtr first, const char *keyword, NodePtr (Parser::*next)())
    {
        if (!isKeyword(m_lex.peek(), keyword))
            return first;
        auto node = std::make_unique<Node>(kind, first->pos);
        node->kids.push_back(std::move(first));
        while (isKeyword(m_lex.peek(), keyword)) {
            countOperator(m_lex.take().pos);
            node->kids.push_back((this->*next)());
        }
        return node;
    }

    NodePtr parseOr() { return chain(Kind::Or, parseAnd(), "OR", &Parser::parseAnd); }
    NodePtr parseAnd() { return chain(Kind::And, parseNot(), "AND", &Parser::parseNot); }

    NodePtr parseNot()
    {
        if (!isKeyword(m_lex.peek(), "NOT"))
            return parseComparison();
        const Token t = m_lex.take();
        countOperator(t.pos);
        enter(t.pos);
        auto node = std::make_unique<Node>(Kind::Not, t.pos);
        node->kids.push_back(parseNot());
        leave();
        return node;
    }

    NodePtr parseComparison()
    {
        NodePtr left = parseAdditive();
        if (!isComparison(m_lex.peek()))
            return left;
        const Token t = m_lex.take();
        countOperator(t.pos);
        auto node = std::make_unique<Node>(Kind::Compare, left->pos);
        node->opAt = t.pos;
        node->op = t.text;
        node->kids.push_back(std::move(left));
        node->kids.push_back(parseAdditive());
        return node;
    }

    NodePtr arith(NodePtr first, const char *op1, const char *op2, NodePtr (Parser::*next)())
    {
        auto isOurs = [&](const Token &t) { return isOp(t, op1) || isOp(t, op2); };
        if (!isOurs(m_lex.peek()))
            return first;
        auto node = std::make_unique<Node>(Kind::Arith, first->pos);
        node->kids.push_back(std::move(first));
        while (isOurs(m_lex.peek())) {
            const Token t = m_lex.take();
            countOperator(t.pos);
            node->ops.push_back(t.text.at(0));
            node->opPos.push_back(t.pos);
            node->kids.push_back((this->*next)());
        }
        return node;
    }

    NodePtr parseAdditive() { return arith(parseTerm(), "+", "-", &Parser::parseTerm); }
    NodePtr parseTerm() { return arith(parseUnary(), "*", "/", &Parser::parseUnary); }

    NodePtr parseUnary()
    {
        const Token &peeked = m_lex.peek();
        if (!isOp(peeked, "-") && !isOp(peeked, "+"))
            return parsePrimary();
        const Token t = m_lex.take();
        countOperator(t.pos);
        enter(t.pos);
        NodePtr operand = parseUnary();
        leave();
        if (t.text == QLatin1String("+"))
            return operand;
        if (operand->kind == Kind::Number) {
            // A signed number stays a constant, so that it can still be read
            // as the text it was written as.
            operand->pos = t.pos;
            if (operand->raw.startsWith(QLatin1Char('-')))
                operand->raw = operand->raw.mid(1);
            else
                operand->raw.prepend(QLatin1Char('-'));
            if (operand->number.userType() == QMetaType::LongLong && operand->number.toLongLong() != LLONG_MIN)
                operand->number = -operand->number.toLongLong();
            else
                operand->number = -operand->number.toDouble();
            return operand;
        }
        auto node = std::make_unique<Node>(Kind::Neg, t.pos);
        node->kids.push_back(std::move(operand));
        return node;
    }

    NodePtr fieldNode(const Token &t, const QString &name)
    {
        for (int i = 0; i < m_fields.size(); ++i) {
            if (m_fields.at(i).name.compare(name, Qt::CaseInsensitive) == 0) {
                auto node = std::make_unique<Node>(Kind::Field, t.pos);
                node->field = i;
                return node;
            }
        }
        failAt(QStringLiteral("Неизвестное поле \"%1\"").arg(shown(m_text.mid(t.pos, t.length))), t.pos);
    }

    NodePtr parsePrimary()
    {
        const Token t = m_lex.take();
        switch (t.kind) {
        case Tok::Number: {
            auto node = std::make_unique<Node>(Kind::Number, t.pos);
            node->raw = t.text;
            bool ok = false;
            const qlonglong whole = t.text.contains(QLatin1Char('.')) ? 0 : t.text.toLongLong(&ok);
            if (ok) {
                node->number = whole;
            } else {
                const double d = QLocale::c().toDouble(t.text, &ok);
                if (!ok || !std::isfinite(d))
                    failAt(QStringLiteral("Некорректное число \"%1\"").arg(shown(t.text)), t.pos);
                node->number = d;
            }
            return node;
        }
        case Tok::Text: {
            auto node = std::make_unique<Node>(Kind::Text, t.pos);
            node->raw = t.text;
            return node;
        }
        case Tok::Bracketed:
            return fieldNode(t, t.text);
        case Tok::Word:
            if (isKeyword(t, "NULL"))
                return std::make_unique<Node>(Kind::Null, t.pos);
            if (isKeyword(t, "TRUE") || isKeyword(t, "FALSE")) {
                auto node = std::make_unique<Node>(Kind::Bool, t.pos);
                node->truth = isKeyword(t, "TRUE");
                return node;
            }
            if (isKeyword(t, "AND") || isKeyword(t, "OR") || isKeyword(t, "NOT"))
                failAt(QStringLiteral("Ожидалось значение вместо \"%1\"").arg(t.text), t.pos);
            return fieldNode(t, t.text);
        case Tok::LParen: {
            enter(t.pos);
            NodePtr inner = parseOr();
            const Token &close = m_lex.peek();
            if (close.kind != Tok::RParen) {
                if (close.kind == Tok::End)
                    failAt(QStringLiteral("Не закрыта скобка \"(\" из позиции %1: ожидалась \")\"").arg(position(t.pos)),
                           close.pos);
                failAt(QStringLiteral("Ожидалась \")\" вместо \"%1\"")
                           .arg(shown(m_text.mid(close.pos, qMax(close.length, 1)))),
                       close.pos);
            }
            m_lex.take();
            leave();
            return inner;
        }
        case Tok::End:
            failAt(QStringLiteral("Неожиданный конец выражения: ожидалось значение"), t.pos);
        default:
            failAt(QStringLiteral("Ожидалось значение вместо \"%1\"").arg(shown(t.text)), t.pos);
        }
    }

    const QString &m_text;
    Lexer m_lex;
    const QList<FilterField> &m_fields;
    int m_depth = 0;
    int m_operators = 0;
};

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
    explicit Emitter(const QList<FilterField> &fields) : m_fields(fields) {}

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
            m_sql += QStringLiteral(") COLLATE BINARY ") + n.op + QLatin1Char(' ');
            bind(prefix);
            return;
        }
        value(*l, cls);
        if (cls == Cls::Text)
            m_sql += QStringLiteral(" COLLATE BINARY");
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
    QString m_sql;
    QVariantList m_params;
};

} // namespace

CompiledFilter compileFilter(const QString &text, const QList<FilterField> &fields)
{
    if (text.trimmed().isEmpty())
        return {};
    Parser parser(text, fields);
    NodePtr root = parser.parseAll();
    Emitter emitter(fields);
    emitter.condition(*root);
    return emitter.result();
}

QString quoteFilterText(const QString &value)
{
    QString inner = value;
    inner.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + inner + QLatin1Char('\'');
}

// The filter language's syntax: the tokens of a filter text and the parser
// that reads them into the tree the compiler (FilterLanguage.cpp) turns into
// SQL, with the limits on nesting and size.

#include "records/FilterSyntax.h"

#include <climits>

namespace FilterSyntax {

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

} // namespace

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

namespace {

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

} // namespace

NodePtr parse(const QString &text, const QList<FilterField> &fields)
{
    Parser parser(text, fields);
    return parser.parseAll();
}

} // namespace FilterSyntax

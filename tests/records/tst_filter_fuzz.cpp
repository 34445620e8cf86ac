// Hostile and random filter texts: every one either compiles, and the
// condition then prepares and runs in SQLite (inside a larger statement, as
// the table class uses it) without touching anything but the one query, or
// is rejected with EFilterError. Nothing else may happen: no other
// exception, no crash, no hang. Inputs come from a grammar of the language
// (with random damage), from random tokens, random bytes and code units,
// nesting and chains around the limits, and injection attempts.

#include "records/TableSchema.h"
#include "records/FilterLanguage.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

class TestFilterFuzz : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { m_failure.clear(); }
    void hostileTexts();
    void nestingAndChainsAroundTheLimits();
    void randomInputs();

private:
    // Compiles text and runs it; returns whether it compiled. Fails the test
    // (through m_failure) on anything but success or EFilterError.
    bool check(const QString &text, bool inSubquery = false);
    void verifyTableIntact();

    QSqlDatabase m_db;
    QList<FilterField> m_fields;
    QString m_failure;
    int m_compiled = 0;
    int m_rejected = 0;
};

namespace {
const char *kConnection = "filter_fuzz";

QString repeat(const char *s, int n) { return QString::fromUtf8(s).repeated(n); }
} // namespace

void TestFilterFuzz::initTestCase()
{
    m_fields = measuresFilterFields();
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QString::fromLatin1(kConnection));
    m_db.setDatabaseName(QStringLiteral(":memory:"));
    QVERIFY(m_db.open());
    QSqlQuery q(m_db);
    QVERIFY(q.exec(QStringLiteral(
        "CREATE TABLE Measures (\"Index\" INTEGER PRIMARY KEY AUTOINCREMENT, \"TarnAddress\" INTEGER,"
        " \"RecNumber\" INTEGER, \"DateTime\" TEXT, \"ID\" INTEGER, \"Name\" TEXT COLLATE NOCASE, \"Dose\" REAL,"
        " \"RecoveryTime\" TEXT, \"FIO\" TEXT, \"Check\" INTEGER)")));
    QVERIFY(q.exec(QStringLiteral(
        "INSERT INTO Measures (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\", \"Dose\","
        " \"RecoveryTime\", \"FIO\", \"Check\") VALUES"
        " (5, 1, '2024-03-11 00:00:00.000', 7, 'Иванов', 0.5, '2024-03-11 00:00:01.000', 'Иванов И.И.', 1),"
        " (6, 2, '2024-03-12 10:00:00.000', 8, 'x''; DROP', 12.25, NULL, '', 0),"
        " (5, 3, NULL, NULL, NULL, NULL, NULL, NULL, NULL)")));
}

void TestFilterFuzz::cleanupTestCase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kConnection));
}

bool TestFilterFuzz::check(const QString &text, bool inSubquery)
{
    CompiledFilter c;
    try {
        c = compileFilter(text, m_fields);
    } catch (const EFilterError &e) {
        if (e.message().isEmpty() || e.position() < 0 || e.position() > text.size() + 1)
            m_failure = QStringLiteral("bad error report \"%1\" (%2) for: %3").arg(e.message()).arg(e.position()).arg(text);
        ++m_rejected;
        return false;
    } catch (const std::exception &e) {
        m_failure = QStringLiteral("unexpected exception %1 for: %2").arg(QString::fromUtf8(e.what()), text);
        return false;
    } catch (...) {
        m_failure = QStringLiteral("unexpected exception for: ") + text;
        return false;
    }
    ++m_compiled;
    if (c.sqlWhere.isEmpty()) {
        if (!text.trimmed().isEmpty())
            m_failure = QStringLiteral("empty condition for: ") + text;
        return true;
    }
    if (c.sqlWhere.count(QLatin1Char('?')) != c.params.size()) {
        m_failure = QStringLiteral("parameters do not match for: ") + text;
        return true;
    }
    // The way the table class may use it: inside parentheses, next to
    // conditions of its own, with an order.
    QSqlQuery q(m_db);
    QString sql = QStringLiteral("SELECT \"Index\" FROM Measures WHERE (") + c.sqlWhere
        + QStringLiteral(") AND (\"Index\" >= ?) ORDER BY \"Dose\" DESC, \"Index\"");
    if (inSubquery) // with room to spare
        sql = QStringLiteral("SELECT * FROM (SELECT * FROM Measures WHERE \"Index\" IN (%1) ORDER BY \"Dose\")").arg(sql);
    if (!q.prepare(sql)) {
        m_failure = QStringLiteral("prepare failed (%1) for: %2\n%3").arg(q.lastError().text(), text, sql);
        return true;
    }
    for (const QVariant &p : c.params)
        q.addBindValue(p);
    q.addBindValue(0);
    if (!q.exec()) {
        m_failure = QStringLiteral("exec failed (%1) for: %2\n%3").arg(q.lastError().text(), text, sql);
        return true;
    }
    while (q.next()) {
    }
    return true;
}

void TestFilterFuzz::verifyTableIntact()
{
    QSqlQuery q(m_db);
    QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'Measures'")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 1);
    QVERIFY(q.exec(QStringLiteral("SELECT count(*), sum(\"Dose\") FROM Measures")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 3);
    QCOMPARE(q.value(1).toDouble(), 12.75);
}

void TestFilterFuzz::hostileTexts()
{
    const char *texts[] = {
        "Name='x'; DROP TABLE Measures; --",
        "Name='x''; DROP TABLE Measures; --'",
        "Name='x' OR 1=1 --",
        "Name='x' /* comment */ OR Check",
        "Dose>1; DELETE FROM Measures",
        "Dose>1) OR (1=1",
        "Name=''' OR ''1''=''1'",
        "Name='' OR '1'='1'",
        "[Name] = 'a' UNION SELECT * FROM sqlite_master",
        "[Dose\"; DROP TABLE Measures; --]>1",
        "[\"Dose\"]>1",
        "Dose>1 AND \"Check\"",
        "Name='\\'; DROP TABLE Measures; --'",
        "Dose>0x10",
        "Dose>1e5",
        "Dose>1,5",
        "Dose>1 -- comment",
        "Dose--1>0",
        "Dose>1 ORDER BY Dose",
        "Check; ATTACH DATABASE '/tmp/x' AS x",
        "Name=char(65)",
        "sqlite_version()>'3'",
        "Name='%' OR Name LIKE '%'",
        "Name GLOB '*'",
        "Name='a*' ESCAPE '\\'",
        "Name=$1 OR Name=:x OR Name=@y OR Name=?",
        "Name='\x01\x02\x7f'",
        "'",
        "''''",
        "'''",
        "[",
        "]",
        "()",
        ")(",
        "NOT",
        "NULL",
        "NULL=NULL",
        "TRUE",
        "-",
        "Dose>-",
        "Name='ab*'='ab*'",
        "'*'='**'",
        "Dose/0>1",
        "ID*9223372036854775807*9223372036854775807>1",
        "ID>-9223372036854775808",
        "ID>99999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
        "99999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
        "99999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
        "9999999999999999999999",
        "DateTime>'00.00.0000'",
        "DateTime>'01.01.0001'",
        "DateTime<'31.12.9999 23:59:59.999'",
        "DateTime>'29.02.2023'",
        "DateTime>'24:00'",
        "DateTime>'01.01.2024 24:00:00'",
    };
    for (const char *t : texts) {
        check(QString::fromUtf8(t));
        QVERIFY2(m_failure.isEmpty(), qPrintable(m_failure));
    }
    verifyTableIntact();
}

void TestFilterFuzz::nestingAndChainsAroundTheLimits()
{
    // Each pattern at every depth up to well past the limit: the deepest
    // ones that compile must still be accepted by SQLite's parser.
    int compiledDeep = 0;
    for (int d = 1; d <= 40; ++d) {
        const QStringList patterns = {
            repeat("(", d) + "Check" + repeat(")", d),
            repeat("NOT ", d) + "Check",
            repeat("NOT (", d) + "Name='ab*'" + repeat(")", d),
            "Dose>" + repeat("-", d) + "1",
            "Dose>" + repeat("-", d) + "ID",
            repeat("-(", d) + "Dose" + repeat(")", d) + ">0",
            "Dose>" + repeat("ID+(", d) + "1" + repeat(")", d),
            "Dose>" + repeat("ID/(", d) + "2" + repeat(")", d),
            repeat("(ID-", d) + "1" + repeat(")", d) + "*2>Dose",
            repeat("Check AND (", d) + "Dose=NULL" + repeat(")", d),
            repeat("Check OR (Name<>'x*' AND (", d) + "FIO=NULL" + repeat("))", d),
            repeat("NOT (-(", d) + "Dose" + repeat("))", d) + ">1",
            repeat("(ID=", d) + "1" + repeat(")", d),
            repeat("((Dose+1)*(", d) + "2" + repeat("))", d) + ">0",
            repeat("NOT NOT (Check OR (", d) + "DateTime>='01.01.2024'" + repeat("))", d),
            // The ones that leave the most pending in SQLite's parser.
            repeat("Check OR Check AND (", d) + "Check" + repeat(")", d),
            "Dose = " + repeat("ID + ID * (", d) + "1" + repeat(")", d),
            repeat("Check OR Check AND NOT (", d) + "Dose = " + repeat("ID + ID * -(", d) + "1" + repeat(")", 2 * d),
            repeat("Check OR Check AND (", d) + "Dose = " + repeat("ID + ID / (", d) + "2" + repeat(")", 2 * d),
        };
        for (const QString &p : patterns) {
            if (check(p, true) && d >= 4)
                ++compiledDeep;
            QVERIFY2(m_failure.isEmpty(), qPrintable(m_failure));
        }
    }
    QVERIFY(compiledDeep >= 40);

    // Flat chains up to past the operator limit.
    for (int n = 1; n <= 260; n += 7) {
        const QStringList chains = {
            "Dose" + repeat("+Dose", n) + ">0",
            "ID" + repeat("/2", n) + ">0",
            "Check" + repeat(" OR Check", n),
            "Dose>1" + repeat(" AND NOT Dose=NULL", n),
            "Name='a*'" + repeat(" OR Name<>'b*'", n),
            "1" + repeat("-1*-1", n) + "=1",
        };
        for (const QString &c : chains) {
            check(c, true);
            QVERIFY2(m_failure.isEmpty(), qPrintable(m_failure));
        }
    }
    verifyTableIntact();
}

namespace {

class Generator {
public:
    explicit Generator(quint32 seed) : m_rng(seed) {}

    int pick(int n) { return int(m_rng.bounded(quint32(n))); }
    bool chance(int percent) { return pick(100) < percent; }

    QString field()
    {
        static const char *names[] = {"Index", "TarnAddress", "RecNumber", "DateTime", "ID", "Name",
                                      "Dose", "RecoveryTime", "FIO", "Check", "Dosa", "[1000]", "[Dose]",
                                      "[check]", "dose", "NAME", "Дата", "[]", "[Name ]"};
        return QString::fromUtf8(names[pick(int(sizeof names / sizeof *names))]);
    }

    QString constant()
    {
        static const char *consts[] = {"0", "1", "-1", "0.5", ".5", "1.", "1500", "99999999999999999999",
                                       "9223372036854775807", "'abc'", "''", "'O''Brien'", "'Ив*'", "'*'",
                                       "'%*'", "'_*'", "'11.03.2024'", "'11.03.2024 10:15:00'",
                                       "'2024-03-11'", "'31.02.2024'", "'1.2.2024 1:02'", "'1000'",
                                       "'true'", "NULL", "TRUE", "FALSE", "'x''; DROP TABLE Measures; --'",
                                       "'--'", "'/*'", "'\\'", "'😀*'", "'😀😀*'"};
        return QString::fromUtf8(consts[pick(int(sizeof consts / sizeof *consts))]);
    }

    QString value(int depth)
    {
        if (depth <= 0 || chance(45))
            return chance(55) ? field() : constant();
        switch (pick(4)) {
        case 0:
            return QLatin1Char('(') + value(depth - 1) + QLatin1Char(')');
        case 1:
            return QLatin1Char('-') + value(depth - 1);
        default: {
            static const char *ops[] = {"+", "-", "*", "/", " + ", " / "};
            return value(depth - 1) + QString::fromLatin1(ops[pick(6)]) + value(depth - 1);
        }
        }
    }

    QString condition(int depth)
    {
        static const char *cmps[] = {"=", "<>", "<", ">", "<=", ">=", " = ", " <> "};
        if (depth <= 0 || chance(30)) {
            if (chance(15))
                return chance(50) ? QStringLiteral("Check") : QStringLiteral("check");
            return value(2) + QString::fromLatin1(cmps[pick(8)]) + value(2);
        }
        switch (pick(5)) {
        case 0:
            return QLatin1Char('(') + condition(depth - 1) + QLatin1Char(')');
        case 1:
            return (chance(50) ? QStringLiteral("NOT ") : QStringLiteral("not ")) + condition(depth - 1);
        case 2:
            return condition(depth - 1) + (chance(50) ? QStringLiteral(" AND ") : QStringLiteral(" and "))
                + condition(depth - 1);
        case 3:
            return condition(depth - 1) + (chance(50) ? QStringLiteral(" OR ") : QStringLiteral(" Or "))
                + condition(depth - 1);
        default:
            return value(3) + QString::fromLatin1(cmps[pick(8)]) + value(3);
        }
    }

    QString damage(QString s)
    {
        static const char *junk[] = {"'", "\"", "(", ")", "[", "]", ";", "--", "/*", "*/", "\\", " ", "=",
                                     "<", ">", "*", "-", ".", "и", " И ", "\t", "\n", "$", "?", ":", "@",
                                     "NOT", "AND", "OR", "NULL", "1e5", "0x1"};
        const int edits = 1 + pick(3);
        for (int i = 0; i < edits; ++i) {
            const int at = s.isEmpty() ? 0 : pick(int(s.size()) + 1);
            switch (pick(3)) {
            case 0:
                s.remove(at, 1 + pick(3));
                break;
            case 1:
                s.insert(at, QString::fromUtf8(junk[pick(int(sizeof junk / sizeof *junk))]));
                break;
            default:
                s.insert(at, s.mid(pick(int(s.size()) + 1), pick(8)));
                break;
            }
        }
        return s;
    }

    QString tokens()
    {
        static const char *vocab[] = {"Dose", "Name", "DateTime", "Check", "ID", "FIO", "Index", "[1000]",
                                      "AND", "OR", "NOT", "NULL", "TRUE", "and", "not", "(", ")", "((", "))",
                                      "=", "<>", "<", ">", "<=", ">=", "=<", "><", "!=", "==", "+", "-", "*",
                                      "/", "1", "0.5", "-3", "'a'", "'Ив*'", "'11.03.2024'", "'", "''",
                                      "'unterminated", "[", "]", "[x", ";", "--", "/*", "\"", "\\", "?",
                                      "Доза", "И", "ИЛИ", "и", "{Сегодня}", "DROP", "TABLE", "Measures",
                                      "SELECT", "UNION", "\x00", "\xc2\xa0", "😀", "\t"};
        const int n = 1 + pick(40);
        QString s;
        for (int i = 0; i < n; ++i) {
            const char *t = vocab[pick(int(sizeof vocab / sizeof *vocab))];
            s += *t ? QString::fromUtf8(t) : QString(QChar(0));
            if (chance(70))
                s += QLatin1Char(' ');
        }
        return s;
    }

    QString bytes()
    {
        QByteArray b(pick(60), Qt::Uninitialized);
        for (char &c : b)
            c = char(pick(256));
        return QString::fromLatin1(b);
    }

    QString units()
    {
        QString s(pick(60), Qt::Uninitialized);
        for (QChar &c : s)
            c = QChar(char16_t(pick(0x10000)));
        return s;
    }

private:
    QRandomGenerator m_rng;
};

} // namespace

void TestFilterFuzz::randomInputs()
{
    const quint32 seed = qEnvironmentVariableIsSet("RUVO_FUZZ_SEED")
        ? quint32(qEnvironmentVariableIntValue("RUVO_FUZZ_SEED"))
        : 20240313u;
    const int rounds = qEnvironmentVariableIsSet("RUVO_FUZZ_ROUNDS") ? qEnvironmentVariableIntValue("RUVO_FUZZ_ROUNDS")
                                                                      : 300000;
    Generator gen(seed);
    m_compiled = m_rejected = 0;
    int grammarCompiled = 0, grammarTotal = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i) {
        QString text;
        const int kind = i % 10;
        if (kind < 4) {
            text = gen.condition(1 + gen.pick(8));
        } else if (kind < 6) {
            text = gen.damage(gen.condition(1 + gen.pick(5)));
        } else if (kind < 8) {
            text = gen.tokens();
        } else if (kind == 8) {
            text = gen.bytes();
        } else {
            text = gen.units();
        }
        const bool compiled = check(text);
        if (kind < 4) {
            ++grammarTotal;
            grammarCompiled += compiled ? 1 : 0;
        }
        if (!m_failure.isEmpty())
            QFAIL(qPrintable(QStringLiteral("seed %1, round %2: %3").arg(seed).arg(i).arg(m_failure)));
    }
    // Some long inputs: the work stays linear in the length.
    for (int i = 0; i < 5; ++i) {
        check(gen.tokens().repeated(2000));
        check(QStringLiteral("Name='") + gen.bytes().repeated(2000) + QLatin1Char('\''));
        QVERIFY2(m_failure.isEmpty(), qPrintable(m_failure));
    }
    const qint64 ms = timer.elapsed();
    qInfo("%d inputs in %lld ms: %d compiled and ran, %d rejected; grammar inputs compiled %d of %d (seed %u)",
          rounds + 10, ms, m_compiled, m_rejected, grammarCompiled, grammarTotal, seed);
    // The grammar keeps the SQL side of the check busy.
    QVERIFY(grammarCompiled > grammarTotal / 10);
    verifyTableIntact();
}

QTEST_GUILESS_MAIN(TestFilterFuzz)
#include "tst_filter_fuzz.moc"

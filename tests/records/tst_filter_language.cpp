// The filter language of the tables: every filter is compiled and run for
// real against a small Measures table in an in-memory SQLite database, and
// the rows it selects are compared. The table declares its text columns
// case-insensitive, as an index-friendly store might, so that the filter's
// own case-respecting comparison is what is tested.

#include "records/TableSchema.h"
#include "records/FilterLanguage.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

using Rows = QList<int>;

class TestFilterLanguage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void selects_data();
    void selects();
    void journalOpenRows();
    void cardDates();
    void rejects_data();
    void rejects();
    void operatorTextNeverReachesSql();
    void emptyTextIsNoRestriction();

private:
    Rows run(const QString &table, const QString &filter, const QList<FilterField> &fields);
    QSqlDatabase m_db;
};

namespace {
const char *kConnection = "filter_language";

// Index, TarnAddress, RecNumber, DateTime, ID, Name, Dose, FIO, Check
struct Row {
    int tarn;
    int rec;
    const char *dateTime;
    int id;
    const char *name;
    QVariant dose;
    const char *fio;
    QVariant check;
};
} // namespace

void TestFilterLanguage::initTestCase()
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QString::fromLatin1(kConnection));
    m_db.setDatabaseName(QStringLiteral(":memory:"));
    QVERIFY(m_db.open());
    QSqlQuery q(m_db);
    QVERIFY2(q.exec(QStringLiteral(
                 "CREATE TABLE Measures (\"Index\" INTEGER PRIMARY KEY AUTOINCREMENT, \"TarnAddress\" INTEGER,"
                 " \"RecNumber\" INTEGER, \"DateTime\" TEXT, \"ID\" INTEGER, \"Name\" TEXT COLLATE NOCASE,"
                 " \"Dose\" REAL, \"RecoveryTime\" TEXT, \"FIO\" TEXT COLLATE NOCASE, \"Check\" INTEGER)")),
             qPrintable(q.lastError().text()));
    const QVariant null;
    const Row rows[] = {
        {5, 1, "2024-03-10 23:59:59.000", 7, "Иванов", 0.4, "Иванов И.И.", 0},
        {5, 2, "2024-03-11 00:00:00.000", 7, "иванова", 0.5, "Петрова", 1},
        {6, 3, "2024-03-13 10:15:00.000", 8, "O'Brien", 2, "O'Brien", null},
        {5, 4, "2024-03-01 08:00:00.000", 9, "A", 1500, nullptr, 1},
        {6, 5, "2024-02-29 12:00:00.000", 10, "*", 10, "", 0},
        {5, 6, nullptr, 11, nullptr, null, "Сидоров", 0},
        {5, 7, "2024-03-12 09:00:00.000", 12, "Ив*ан", 3, "Ив", 0},
        {6, 8, "2024-03-12 09:30:00.000", 13, "%_x", 0.45, "x", 0},
    };
    for (const Row &r : rows) {
        q.prepare(QStringLiteral("INSERT INTO Measures (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\","
                                 " \"Dose\", \"RecoveryTime\", \"FIO\", \"Check\") VALUES (?,?,?,?,?,?,?,?,?)"));
        auto text = [](const char *s) { return s ? QVariant(QString::fromUtf8(s)) : QVariant(); };
        q.addBindValue(r.tarn);
        q.addBindValue(r.rec);
        q.addBindValue(text(r.dateTime));
        q.addBindValue(r.id);
        q.addBindValue(text(r.name));
        q.addBindValue(r.dose);
        q.addBindValue(QStringLiteral("2024-03-13 12:00:00.000"));
        q.addBindValue(text(r.fio));
        q.addBindValue(r.check);
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
    QVERIFY(q.exec(QStringLiteral("CREATE TABLE Notes (\"Index\" INTEGER PRIMARY KEY, \"ID\" INTEGER,"
                                  " \"TimeFrom\" TEXT, \"TimeTo\" TEXT, \"FIO\" TEXT, \"Dose\" REAL)")));
    QVERIFY(q.exec(QStringLiteral("INSERT INTO Notes VALUES (1, 7, '2024-01-01 08:00:00.000', "
                                  "'2024-02-01 08:00:00.000', 'Иванов', 1.5),"
                                  " (2, 7, '2024-02-01 09:00:00.000', NULL, 'Петров', 0),"
                                  " (3, 8, '2024-02-02 09:00:00.000', NULL, 'Сидоров', NULL)")));
    QVERIFY(q.exec(QStringLiteral("CREATE TABLE Cards (\"Index\" INTEGER PRIMARY KEY, \"ID\" INTEGER, \"FIO\" TEXT,"
                                  " \"FIO_RFID\" TEXT, \"BirthDay\" TEXT, \"isMale\" INTEGER, \"Vacancy\" TEXT,"
                                  " \"SubDiv\" TEXT, \"Address\" TEXT, \"Telephone\" TEXT, \"Comment\" TEXT)")));
    QVERIFY(q.exec(QStringLiteral("INSERT INTO Cards (\"Index\", \"BirthDay\", \"isMale\") VALUES"
                                  " (1, '1980-01-01', 1), (2, '1980-01-02', 0), (3, NULL, NULL)")));
}

void TestFilterLanguage::cleanupTestCase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QString::fromLatin1(kConnection));
}

Rows TestFilterLanguage::run(const QString &table, const QString &filter, const QList<FilterField> &fields)
{
    const CompiledFilter c = compileFilter(filter, fields);
    QSqlQuery q(m_db);
    const QString sql = QStringLiteral("SELECT \"Index\" FROM %1%2 ORDER BY \"Index\"")
                            .arg(table, c.sqlWhere.isEmpty() ? QString() : QStringLiteral(" WHERE ") + c.sqlWhere);
    if (!q.prepare(sql))
        qFatal("prepare failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    for (const QVariant &p : c.params)
        q.addBindValue(p);
    if (!q.exec())
        qFatal("exec failed: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    Rows rows;
    while (q.next())
        rows << q.value(0).toInt();
    return rows;
}

void TestFilterLanguage::selects_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<Rows>("rows");
    const Rows all{1, 2, 3, 4, 5, 6, 7, 8};

    // What the program itself produces: only-new, the quick filters, the
    // stored filters after translation.
    QTest::newRow("only new") << "Index>5" << Rows{6, 7, 8};
    QTest::newRow("quick min and max") << "(Dose<=2) AND (Dose>=0.5)" << Rows{2, 3};
    QTest::newRow("quick min on text, case respected") << "Name>='A'" << Rows{1, 2, 3, 4, 7};
    QTest::newRow("date from midnight on") << "DateTime>='11.03.2024'" << Rows{2, 3, 7, 8};
    QTest::newRow("reader") << "TarnAddress=5" << Rows{1, 2, 4, 6, 7};
    QTest::newRow("dose and mark") << "Dose>1 AND Check" << Rows{4};
    QTest::newRow("dosimeter") << "ID=7" << Rows{1, 2};
    QTest::newRow("default threshold") << "Dose>1000" << Rows{4};

    // Names without regard to case, bracketed names.
    QTest::newRow("lower-case name and keywords") << "dose>1 and not check" << Rows{3, 5, 7};
    QTest::newRow("bracketed name") << "[Dose]>=[dose] AND [TarnAddress]=6" << Rows{3, 5, 8};

    // Texts: case respected, doubled quotes, the "*" prefix and its limits.
    QTest::newRow("exact case") << "Name='Иванов'" << Rows{1};
    QTest::newRow("other case matches nothing") << "Name='ИВАНОВ'" << Rows{};
    QTest::newRow("doubled quote") << "Name='O''Brien'" << Rows{3};
    QTest::newRow("prefix") << "Name='Ив*'" << Rows{1, 7};
    QTest::newRow("prefix, constant first") << "'Ив*'=Name" << Rows{1, 7};
    QTest::newRow("not prefix") << "Name<>'Ив*'" << Rows{2, 3, 4, 5, 8};
    QTest::newRow("prefix with a quote") << "Name='O''*'" << Rows{3};
    QTest::newRow("prefix is no LIKE pattern") << "Name='%*'" << Rows{8};
    QTest::newRow("underscore is a plain character") << "Name='_*'" << Rows{};
    QTest::newRow("single star is literal") << "Name='*'" << Rows{5};
    QTest::newRow("star inside is literal") << "Name='Ив*ан'" << Rows{7};
    QTest::newRow("prefix only for = and <>") << "Name>='Ив*'" << Rows{1, 2, 7};
    QTest::newRow("text field against text field") << "Name=FIO" << Rows{3};
    QTest::newRow("number written against a text") << "Name=2" << Rows{};
    QTest::newRow("text holding a number against a number") << "Dose>'1000'" << Rows{4};

    // NULL: blank fields; an empty text is as blank as a missing one.
    QTest::newRow("blank number") << "Dose=NULL" << Rows{6};
    QTest::newRow("filled number") << "Dose<>NULL" << Rows{1, 2, 3, 4, 5, 7, 8};
    QTest::newRow("NULL first") << "NULL=DateTime" << Rows{6};
    QTest::newRow("blank text") << "FIO=NULL" << Rows{4, 5};
    QTest::newRow("filled text") << "FIO<>null" << Rows{1, 2, 3, 6, 7, 8};
    QTest::newRow("blank mark") << "Check=NULL" << Rows{3};

    // The Boolean field as a condition; a blank mark counts as not set.
    QTest::newRow("mark alone") << "Check" << Rows{2, 4};
    QTest::newRow("not marked") << "NOT Check" << Rows{1, 3, 5, 6, 7, 8};
    QTest::newRow("mark under OR") << "Check OR Dose>5" << Rows{2, 4, 5};
    QTest::newRow("mark under NOT and AND") << "NOT Check AND NOT (Dose<5)" << Rows{5};
    QTest::newRow("mark compared") << "Check=TRUE" << Rows{2, 4};
    QTest::newRow("mark compared with 0") << "Check=0" << Rows{1, 3, 5, 6, 7, 8};
    QTest::newRow("mark compared with text") << "Check='false'" << Rows{1, 3, 5, 6, 7, 8};

    // Date and date-time constants against date-time fields.
    QTest::newRow("before a day") << "DateTime<'11.03.2024'" << Rows{1, 4, 5};
    QTest::newRow("a day means its midnight") << "DateTime='11.03.2024'" << Rows{2};
    QTest::newRow("date-time") << "DateTime>='13.03.2024 10:15:00'" << Rows{3};
    QTest::newRow("one second later") << "DateTime>='13.03.2024 10:15:01'" << Rows{};
    QTest::newRow("hours and minutes") << "DateTime<'12.03.2024 09:30'" << Rows{1, 2, 4, 5, 7};
    QTest::newRow("stored form") << "DateTime>='2024-03-12'" << Rows{3, 7, 8};
    QTest::newRow("one-digit day and month") << "DateTime<'1.3.2024'" << Rows{5};
    QTest::newRow("leap day") << "DateTime>='29.02.2024' AND DateTime<'01.03.2024'" << Rows{5};
    QTest::newRow("field against field") << "RecoveryTime>DateTime" << Rows{1, 2, 3, 4, 5, 7, 8};

    // Arithmetic, precedence and associativity.
    QTest::newRow("product before sum") << "Dose*2+1>4" << Rows{3, 4, 5, 7};
    QTest::newRow("parentheses") << "Dose*(2+1)>7" << Rows{4, 5, 7};
    QTest::newRow("unary minus") << "-Dose<-2" << Rows{4, 5, 7};
    QTest::newRow("negative constant") << "Dose>-1 AND Dose<0.45" << Rows{1};
    QTest::newRow("division is real") << "ID/2=3.5" << Rows{1, 2};
    QTest::newRow("real division later in a chain") << "ID*3/2=10.5" << Rows{1, 2};
    QTest::newRow("subtraction left to right") << "10-2-3=5" << all;
    QTest::newRow("division left to right") << "12/2/3=2" << all;
    QTest::newRow("grouped subtraction") << "10-(2-3)=11" << all;
    QTest::newRow("grouped division") << "12/(6/3)=6" << all;
    QTest::newRow("double minus is no comment") << "Dose--1>3" << Rows{4, 5, 7};
    QTest::newRow("division by zero selects nothing") << "Dose/0=1 OR Dose/(ID-ID)>0" << Rows{};
    QTest::newRow("decimal forms") << "Dose=.5 OR Dose=1500." << Rows{2, 4};
    QTest::newRow("big whole number") << "ID<99999999999999999999" << all;

    // AND binds tighter than OR, NOT tighter than AND.
    QTest::newRow("AND before OR") << "Check OR Dose<0.45 AND Dose>1" << Rows{2, 4};
    QTest::newRow("NOT before AND") << "NOT Check AND Dose>1" << Rows{3, 5, 7};
    QTest::newRow("grouped OR") << "(Check OR Dose<0.45) AND ID=7" << Rows{1, 2};
    QTest::newRow("NOT over a comparison") << "NOT Dose>1" << Rows{1, 2, 8};
    QTest::newRow("TRUE and FALSE") << "TRUE AND NOT FALSE AND ID=8" << Rows{3};

    // A quote, semicolon or comment inside a text is data.
    QTest::newRow("statement inside a text")
        << "Name='x''; DROP TABLE Measures; --' OR Name='/*'" << Rows{};
}

void TestFilterLanguage::selects()
{
    QFETCH(QString, filter);
    QFETCH(Rows, rows);
    try {
        QCOMPARE(run(QStringLiteral("Measures"), filter, measuresFilterFields()), rows);
    } catch (const EFilterError &e) {
        QFAIL(qPrintable(e.message()));
    }
}

void TestFilterLanguage::journalOpenRows()
{
    QCOMPARE(run(QStringLiteral("Notes"), QStringLiteral("TimeTo=NULL"), notesFilterFields()), (Rows{2, 3}));
    QCOMPARE(run(QStringLiteral("Notes"), QStringLiteral("TimeTo=NULL AND ID=7"), notesFilterFields()), Rows{2});
    QCOMPARE(run(QStringLiteral("Notes"), QStringLiteral("TimeTo<>NULL"), notesFilterFields()), Rows{1});
}

void TestFilterLanguage::cardDates()
{
    // A date field against a date, and against a date-time that is not midnight.
    const auto cards = cardsFilterFields();
    QCOMPARE(run(QStringLiteral("Cards"), QStringLiteral("BirthDay='01.01.1980'"), cards), Rows{1});
    QCOMPARE(run(QStringLiteral("Cards"), QStringLiteral("BirthDay>'01.01.1980 12:00:00'"), cards), Rows{2});
    QCOMPARE(run(QStringLiteral("Cards"), QStringLiteral("BirthDay<='01.01.1980 00:00:00'"), cards), Rows{1});
    QCOMPARE(run(QStringLiteral("Cards"), QStringLiteral("isMale"), cards), Rows{1});
    QCOMPARE(run(QStringLiteral("Cards"), QStringLiteral("NOT isMale"), cards), (Rows{2, 3}));
}

void TestFilterLanguage::rejects_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("position");

    QTest::newRow("unreplaced parameter") << "Dose>[1000]" << "Неизвестное поле \"[1000]\" в позиции 6" << 6;
    QTest::newRow("unknown field") << "Dosa>1" << "Неизвестное поле \"Dosa\" в позиции 1" << 1;
    QTest::newRow("untranslated label") << "Доза>1" << "Неизвестное поле \"Доза\" в позиции 1" << 1;
    QTest::newRow("lower-case и") << "Dose>1 и Check" << "Лишний текст \"и\" в позиции 8" << 8;
    QTest::newRow("unclosed parenthesis")
        << "(Dose>1 AND Check" << "Не закрыта скобка \"(\" из позиции 1: ожидалась \")\" в позиции 18" << 18;
    QTest::newRow("extra parenthesis") << "Dose>1)" << "Лишняя скобка \")\" в позиции 7" << 7;
    QTest::newRow("unclosed quote") << "Name='abc" << "Не закрыта кавычка в позиции 6" << 6;
    QTest::newRow("unclosed bracket") << "[Dose>1" << "Не закрыта скобка \"[\" в позиции 1" << 1;
    QTest::newRow("missing operand")
        << "Dose>" << "Неожиданный конец выражения: ожидалось значение в позиции 6" << 6;
    QTest::newRow("dangling AND")
        << "Dose>1 AND" << "Неожиданный конец выражения: ожидалось значение в позиции 11" << 11;
    QTest::newRow("doubled operator") << "Dose>>1" << "Ожидалось значение вместо \">\" в позиции 6" << 6;
    QTest::newRow("second statement") << "Name='x'; DROP TABLE Measures; --"
                                      << "Недопустимый символ \";\" в позиции 9" << 9;
    QTest::newRow("double quotes") << "\"Dose\">1" << "Недопустимый символ \"\"\" в позиции 1" << 1;
    QTest::newRow("control character") << QStringLiteral("Dose>1") + QChar(0) << "Недопустимый символ с кодом 0 в позиции 7"
                                       << 7;
    QTest::newRow("chained comparison") << "Dose<1<2" << "Лишний текст \"<\" в позиции 7" << 7;
    QTest::newRow("value is no condition") << "Dose" << "Ожидалось условие в позиции 1" << 1;
    QTest::newRow("condition is no value")
        << "(Dose>1)=(ID>1)" << "Ожидалось значение, а не условие в позиции 2" << 2;
    QTest::newRow("text against number") << "Dose>'abc'" << "Ожидалось число вместо 'abc' в позиции 6" << 6;
    QTest::newRow("date against number") << "DateTime>5" << "Несовместимые типы в сравнении в позиции 9" << 9;
    QTest::newRow("impossible date") << "DateTime>'31.02.2024'" << "Некорректная дата '31.02.2024' в позиции 10" << 10;
    QTest::newRow("two-digit year") << "DateTime>'01.03.24'" << "Некорректная дата '01.03.24' в позиции 10" << 10;
    QTest::newRow("text field against date field")
        << "Name=DateTime" << "Несовместимые типы в сравнении в позиции 5" << 5;
    QTest::newRow("arithmetic on text") << "Name+1=2" << "Ожидалось число в позиции 1" << 1;
    QTest::newRow("NULL with <") << "Dose<NULL" << "NULL сравнивается только знаками \"=\" и \"<>\" в позиции 5" << 5;
    QTest::newRow("bad number") << "Dose>1.2.3" << "Некорректное число \"1.2.3\" в позиции 6" << 6;
    QTest::newRow("keyword as value") << "Dose>AND" << "Ожидалось значение вместо \"AND\" в позиции 6" << 6;
    QTest::newRow("deep nesting") << QString(100, QLatin1Char('(')) + "Check" + QString(100, QLatin1Char(')'))
                                  << "Слишком глубокая вложенность в позиции 9" << 9;
    QTest::newRow("NOT chain") << QStringLiteral("NOT ").repeated(50) + "Check"
                               << "Слишком глубокая вложенность в позиции 33" << 33;
    QString longChain = QStringLiteral("Dose");
    for (int i = 0; i < 300; ++i)
        longChain += QStringLiteral("+1");
    QTest::newRow("too many operators") << longChain + ">0" << "Слишком длинное выражение в позиции 405" << 405;
}

void TestFilterLanguage::rejects()
{
    QFETCH(QString, filter);
    QFETCH(QString, message);
    QFETCH(int, position);
    try {
        const CompiledFilter c = compileFilter(filter, measuresFilterFields());
        QFAIL(qPrintable(QStringLiteral("compiled to ") + c.sqlWhere));
    } catch (const EFilterError &e) {
        QCOMPARE(e.message(), message);
        QCOMPARE(e.position(), position);
    }
}

void TestFilterLanguage::operatorTextNeverReachesSql()
{
    // Constants travel as parameters; names are the canonical ones, quoted.
    const CompiledFilter c = compileFilter(QStringLiteral("name='Robert'') OR 1=1; --' AND dose>7 AND [check]"),
                                           measuresFilterFields());
    QVERIFY(!c.sqlWhere.contains(QLatin1String("Robert")));
    QVERIFY(!c.sqlWhere.contains(QLatin1Char('7')));
    QVERIFY(c.sqlWhere.contains(QLatin1String("\"Name\"")));
    QVERIFY(c.sqlWhere.contains(QLatin1String("\"Dose\"")));
    QVERIFY(c.sqlWhere.contains(QLatin1String("\"Check\"")));
    QCOMPARE(c.params, (QVariantList{QStringLiteral("Robert') OR 1=1; --"), qlonglong(7)}));
    QCOMPARE(c.sqlWhere.count(QLatin1Char('?')), c.params.size());

    // A value quoted for a filter text comes back exactly.
    const QString quoted = quoteFilterText(QStringLiteral("O'Brien"));
    QCOMPARE(quoted, QStringLiteral("'O''Brien'"));
    QCOMPARE(run(QStringLiteral("Measures"), QStringLiteral("Name>=") + quoted + QStringLiteral(" AND Name<=") + quoted,
                 measuresFilterFields()),
             Rows{3});
}

void TestFilterLanguage::emptyTextIsNoRestriction()
{
    QCOMPARE(run(QStringLiteral("Measures"), QStringLiteral("  \t"), measuresFilterFields()).size(), 8);
    QVERIFY(compileFilter(QString(), measuresFilterFields()).sqlWhere.isEmpty());
}

QTEST_GUILESS_MAIN(TestFilterLanguage)
#include "tst_filter_language.moc"

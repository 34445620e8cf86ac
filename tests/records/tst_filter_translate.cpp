// The operator's stored filters: macros, word operators and display labels
// translated into the filter language, the parameters asked before a filter
// is applied, and the initial filter list applied end to end against a
// small Measures table in an in-memory SQLite database.

#include "records/TableSchema.h"
#include "records/FilterTranslation.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

using Rows = QList<int>;

class TestFilterTranslate : public QObject {
    Q_OBJECT
private slots:
    void translates_data();
    void translates();
    void nowMacro();
    void lowerCaseWordIsLeftAndRejected();
    void parameters();
    void parameterErrors();
    void cancelledParameterIsRejected();
    void defaultListEndToEnd();
};

namespace {
// Wednesday 13 March 2024, 14:05:09.
const QDateTime kWednesday(QDate(2024, 3, 13), QTime(14, 5, 9));

QString translate(const QString &formula, const QDateTime &now = kWednesday, quint32 address = 5)
{
    return translateFilter(formula, now, address, measuresFilterFields());
}
} // namespace

void TestFilterTranslate::translates_data()
{
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("expected");

    const QDateTime sunday(QDate(2024, 3, 17), QTime(23, 59, 59));
    const QDateTime monday(QDate(2024, 3, 11), QTime(0, 0, 1));
    QTest::newRow("reader macro") << "TARN Адрес={TARN Сейчас}" << kWednesday << "TarnAddress=5";
    QTest::newRow("week on Wednesday") << "DateTime>={Начало недели}" << kWednesday << "DateTime>='11.03.2024'";
    QTest::newRow("week on Sunday") << "DateTime>={Начало недели}" << sunday << "DateTime>='11.03.2024'";
    QTest::newRow("week on Monday") << "DateTime>={Начало недели}" << monday << "DateTime>='11.03.2024'";
    QTest::newRow("week across a year")
        << "DateTime>={Начало недели}" << QDateTime(QDate(2025, 1, 1), QTime(9, 0)) << "DateTime>='30.12.2024'";
    QTest::newRow("labels and И") << "Доза, мкЗв>1 И Пометка" << kWednesday << "Dose>1 AND Check";
    QTest::newRow("label in another case") << "доза, мкЗв>1 ИЛИ ДОЗА, МКЗВ<0" << kWednesday << "Dose>1 OR Dose<0";
    QTest::newRow("longer label first") << "№ Записи=3 И №=7" << kWednesday << "RecNumber=3 AND ID=7";
    QTest::newRow("today in lower case") << "Дата>={сегодня}" << kWednesday << "DateTime>='13.03.2024'";
    QTest::newRow("month and year")
        << "DateTime>={Начало месяца} AND DateTime<{НАЧАЛО ГОДА}" << kWednesday
        << "DateTime>='01.03.2024' AND DateTime<'01.01.2024'";
    QTest::newRow("every occurrence") << "{TARN Сейчас}={tarn сейчас}" << kWednesday << "5=5";
    QTest::newRow("ИЛИ needs its blanks") << "CheckИЛИ Check" << kWednesday << "CheckИЛИ Check";
    QTest::newRow("labels of the other fields")
        << "Индекс>1 И Время считывания>Дата И Идентификатор=ФИО" << kWednesday
        << "Index>1 AND RecoveryTime>DateTime AND Name=FIO";
    // Quoted constants keep what the operator wrote.
    QTest::newRow("quoted text untouched")
        << "Идентификатор='№ 5 И Дата' ИЛИ ФИО='O''Дата'" << kWednesday << "Name='№ 5 И Дата' OR FIO='O''Дата'";
}

void TestFilterTranslate::translates()
{
    QFETCH(QString, formula);
    QFETCH(QDateTime, now);
    QFETCH(QString, expected);
    QCOMPARE(translate(formula, now), expected);
}

void TestFilterTranslate::nowMacro()
{
    QCOMPARE(translate(QStringLiteral("DateTime<{Сейчас}")), QStringLiteral("DateTime<'13.03.2024 14:05:09'"));
    // The time is left out at exactly midnight, and the result still compiles.
    const QString midnight = translate(QStringLiteral("DateTime<{сейчас}"), QDateTime(QDate(2024, 3, 1), QTime(0, 0)));
    QCOMPARE(midnight, QStringLiteral("DateTime<'01.03.2024'"));
    QCOMPARE(compileFilter(midnight, measuresFilterFields()).params, QVariantList{QStringLiteral("2024-03-01 00:00:00.000")});
    QCOMPARE(compileFilter(translate(QStringLiteral("DateTime<{Сейчас}")), measuresFilterFields()).params,
             QVariantList{QStringLiteral("2024-03-13 14:05:09.000")});
    // The address of a reader that never answered, and the largest one.
    QCOMPARE(translate(QStringLiteral("TARN Адрес={TARN Сейчас}"), kWednesday, 0), QStringLiteral("TarnAddress=0"));
    QCOMPARE(translate(QStringLiteral("{TARN Сейчас}"), kWednesday, 0xFFFFFF), QStringLiteral("16777215"));
}

void TestFilterTranslate::lowerCaseWordIsLeftAndRejected()
{
    const QString text = translate(QStringLiteral("Доза, мкЗв>1 и Пометка"));
    QCOMPARE(text, QStringLiteral("Dose>1 и Check"));
    try {
        compileFilter(text, measuresFilterFields());
        QFAIL("a lower-case и was accepted");
    } catch (const EFilterError &e) {
        QCOMPARE(e.message(), QStringLiteral("Лишний текст \"и\" в позиции 8"));
    }
}

void TestFilterTranslate::parameters()
{
    QString rest = QStringLiteral("unset");
    QList<FilterParameter> params = parseFilterParameters(QStringLiteral("Dose>[1000]"), &rest);
    QCOMPARE(params.size(), 1);
    QCOMPARE(params.at(0).prompt, QStringLiteral("Dose>"));
    QCOMPARE(params.at(0).defaultValue, QStringLiteral("1000"));
    QCOMPARE(rest, QString());
    QCOMPARE(buildParameterResult(params, {QStringLiteral("25")}, rest), QStringLiteral("Dose>25"));
    QCOMPARE(buildParameterResult(params, {params.at(0).defaultValue}, rest), QStringLiteral("Dose>1000"));

    // Two parameters; text after the last one is kept on acceptance.
    params = parseFilterParameters(QStringLiteral("Dose>=[0.5] AND Dose<=[2] AND Check"), &rest);
    QCOMPARE(params.size(), 2);
    QCOMPARE(params.at(1).prompt, QStringLiteral(" AND Dose<="));
    QCOMPARE(params.at(1).defaultValue, QStringLiteral("2"));
    QCOMPARE(rest, QStringLiteral(" AND Check"));
    QCOMPARE(buildParameterResult(params, {QStringLiteral("1"), QStringLiteral("3")}, rest),
             QStringLiteral("Dose>=1 AND Dose<=3 AND Check"));
    QCOMPARE(buildParameterResult(params, {QStringLiteral("1")}, rest), QStringLiteral("Dose>=1 AND Dose<= AND Check"));

    // A quoted date-time default, and no parameter at all.
    params = parseFilterParameters(QStringLiteral("DateTime>=['01.01.1980 01:00:00']"), &rest);
    QCOMPARE(params.at(0).defaultValue, QStringLiteral("'01.01.1980 01:00:00'"));
    QVERIFY(parseFilterParameters(QStringLiteral("Check"), &rest).isEmpty());
    QCOMPARE(rest, QStringLiteral("Check"));
}

void TestFilterTranslate::parameterErrors()
{
    for (const char *formula : {"Dose>[1000", "Dose>]1000[", "Dose>[1] AND ID=]2[", "]["}) {
        try {
            parseFilterParameters(QString::fromLatin1(formula));
            QFAIL(formula);
        } catch (const EFilterError &e) {
            QCOMPARE(e.message(), QStringLiteral("Некорректное выражение фильтра"));
        }
    }
}

void TestFilterTranslate::cancelledParameterIsRejected()
{
    // Cancelling the parameter window leaves the text after the last "]",
    // empty here, so the stored formula itself is translated and rejected.
    QString rest;
    parseFilterParameters(QStringLiteral("Dose>[1000]"), &rest);
    QVERIFY(rest.isEmpty());
    const QString text = translate(QStringLiteral("Dose>[1000]"));
    QCOMPARE(text, QStringLiteral("Dose>[1000]"));
    try {
        compileFilter(text, measuresFilterFields());
        QFAIL("an unreplaced parameter was accepted");
    } catch (const EFilterError &e) {
        QCOMPARE(e.message(), QStringLiteral("Неизвестное поле \"[1000]\" в позиции 6"));
    }
}

void TestFilterTranslate::defaultListEndToEnd()
{
    const QStringList list = defaultFilterList();
    QCOMPARE(list.size(), 5);
    QCOMPARE(filterEntryName(list.at(3)), QStringLiteral("Только подключенный ТРЕМ"));
    QCOMPARE(filterEntryFormula(list.at(3)), QStringLiteral("TARN Адрес={TARN Сейчас}"));
    QCOMPARE(filterEntryFormula(QStringLiteral("a=b=c")), QStringLiteral("b=c"));

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("filter_translate"));
    {
        db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral(
            "CREATE TABLE Measures (\"Index\" INTEGER PRIMARY KEY, \"TarnAddress\" INTEGER, \"RecNumber\" INTEGER,"
            " \"DateTime\" TEXT, \"ID\" INTEGER, \"Name\" TEXT, \"Dose\" REAL, \"RecoveryTime\" TEXT, \"FIO\" TEXT,"
            " \"Check\" INTEGER)")));
        QVERIFY(q.exec(QStringLiteral(
            "INSERT INTO Measures (\"Index\", \"TarnAddress\", \"DateTime\", \"Dose\", \"Check\") VALUES"
            " (1, 5, '2024-02-29 23:59:59.999', 2000, 1),"
            " (2, 5, '2024-03-01 00:00:00.000', 10, 0),"
            " (3, 6, '2024-03-13 12:00:00.000', 10.5, 0),"
            " (4, 6, '2024-03-13 12:30:00.000', 0.1, 1)")));

        auto apply = [&](const QString &entry) {
            QString formula = filterEntryFormula(entry);
            if (formula.contains(QLatin1Char('['))) {
                QString rest;
                const QList<FilterParameter> params = parseFilterParameters(formula, &rest);
                QStringList defaults;
                for (const FilterParameter &p : params)
                    defaults << p.defaultValue;
                formula = buildParameterResult(params, defaults, rest);
            }
            const CompiledFilter c = compileFilter(translate(formula), measuresFilterFields());
            QSqlQuery s(db);
            s.prepare(QStringLiteral("SELECT \"Index\" FROM Measures WHERE ") + c.sqlWhere
                      + QStringLiteral(" ORDER BY \"Index\""));
            for (const QVariant &p : c.params)
                s.addBindValue(p);
            if (!s.exec())
                qFatal("%s", qPrintable(s.lastError().text()));
            Rows rows;
            while (s.next())
                rows << s.value(0).toInt();
            return rows;
        };
        QCOMPARE(apply(list.at(0)), (Rows{2, 3, 4}));  // from midnight of day 1 on
        QCOMPARE(apply(list.at(1)), (Rows{1, 3}));
        QCOMPARE(apply(list.at(2)), (Rows{1}));        // the default 1000 accepted
        QCOMPARE(apply(list.at(3)), (Rows{1, 2}));
        QCOMPARE(apply(list.at(4)), (Rows{1, 4}));
    }
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("filter_translate"));
}

QTEST_GUILESS_MAIN(TestFilterTranslate)
#include "tst_filter_translate.moc"

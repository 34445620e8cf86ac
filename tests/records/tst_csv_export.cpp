// The CSV export on real tables: what the file holds, the rows of a filter
// and order across many pages, cancelling and failing without leaving a file.

#include "StoreFixture.h"
#include "ScriptedPrompt.h"

#include "records/CsvExport.h"
#include "records/DataModule.h"

#include <QFile>
#include <QSet>
#include <QtTest>

namespace {

QStringList fileLines(const QString &path, QByteArray *raw = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    if (raw)
        *raw = bytes;
    QString text = QString::fromUtf8(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestCsvExport : public QObject {
    Q_OBJECT
private slots:
    void contentAndQuoting();
    void formulaCellsStayTextInEitherFormat();
    void filterAndOrderAcrossPages();
    void cancelAndFailureLeaveNoFile();
};

void TestCsvExport::contentAndQuoting()
{
    ScriptedPrompt prompt;
    storeDir dir;
    auto dm = dir.start();
    DataTable &t = dm->measures();
    const auto add = [&t](const QDateTime &time, int id, const QVariant &name, double dose) {
        t.append();
        t.setFieldValue(QStringLiteral("DateTime"), time);
        t.setFieldValue(QStringLiteral("ID"), id);
        t.setFieldValue(QStringLiteral("Name"), name);
        t.setFieldValue(QStringLiteral("Dose"), dose);
        t.post();
    };
    add(QDateTime(QDate(2026, 12, 8), QTime(14, 30, 5)), 7, QStringLiteral("ИВАНОВ, ИВАН"), 12.5);
    add(QDateTime(QDate(2026, 12, 9), QTime(0, 0)), 8, QStringLiteral("Кличка \"Ёж\"\nвторая строка"), 0.1);
    add(QDateTime(QDate(2026, 12, 10), QTime(8, 0)), 9, QVariant(), 1e-5);

    const QString path = dir.programDir() + QStringLiteral("out.csv");
    const CsvResult r = exportTableToCsv(
        t, {{QStringLiteral("DateTime"), QStringLiteral("Дата")}, {QStringLiteral("ID"), QStringLiteral("№")},
            {QStringLiteral("Name"), QStringLiteral("Идентификатор")}, {QStringLiteral("Dose"), QStringLiteral("Доза, мкЗв")}},
        path);
    QVERIFY2(r.ok(), qPrintable(r.errorText()));
    QCOMPARE(r.value, qint64(3));
    QByteArray raw;
    const QStringList lines = fileLines(path, &raw);
    QVERIFY(raw.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(lines.value(0), QStringLiteral("Дата,№,Идентификатор,\"Доза, мкЗв\""));
    QCOMPARE(lines.value(1), QStringLiteral("08.12.2026 14:30:05,7,\"ИВАНОВ, ИВАН\",12.5"));
    // A line break inside a quoted cell is the text's own (LF), not a line end.
    QCOMPARE(lines.value(2), QStringLiteral("09.12.2026 00:00:00,8,\"Кличка \"\"Ёж\"\"\nвторая строка\",0.1"));
    QCOMPARE(lines.value(3), QStringLiteral("10.12.2026 08:00:00,9,,1e-05"));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(CsvWriter::line({QStringLiteral(" a"), QStringLiteral("b;c")}, QLatin1Char(';')),
             QStringLiteral("\" a\";\"b;c\""));
}

void TestCsvExport::formulaCellsStayTextInEitherFormat()
{
    // Cells a spreadsheet would evaluate get an apostrophe (inside the quotes
    // when quoted); negative numbers stay numbers, with either decimal mark.
    QCOMPARE(CsvWriter::line({QStringLiteral("=1+2"), QStringLiteral("+7"), QStringLiteral("@SUM(A1)"),
                              QStringLiteral("-1+2"), QStringLiteral("\tx"), QStringLiteral("\r=1"),
                              QStringLiteral("-12.5"), QStringLiteral("-3,5"), QStringLiteral("-1e-05"),
                              QStringLiteral("-"), QStringLiteral("a=b")},
                             QLatin1Char(';')),
             QStringLiteral("'=1+2;'+7;'@SUM(A1);'-1+2;\"'\tx\";\"'\r=1\";-12.5;-3,5;-1e-05;'-;a=b"));
    QCOMPARE(CsvWriter::cell(QStringLiteral("=1,2")), QStringLiteral("\"'=1,2\""));

    // The semicolon format of a table export: decimal commas, the guard on
    // stored texts. A stored text is cut by whole characters: 39 letters
    // and an emoji are 40 characters in a 40-character field, not 40 units
    // ending in half of the emoji.
    ScriptedPrompt prompt;
    storeDir dir;
    auto dm = dir.start();
    DataTable &t = dm->measures();
    t.append();
    t.setFieldValue(QStringLiteral("ID"), 5);
    t.setFieldValue(QStringLiteral("Name"), QStringLiteral("=1+2"));
    t.setFieldValue(QStringLiteral("FIO"), QString(39, QChar(u'Ж')) + QStringLiteral("😀"));
    t.setFieldValue(QStringLiteral("Dose"), -12.5);
    t.post();
    const QString path = dir.programDir() + QStringLiteral("out.csv");
    QVERIFY(exportTableToCsv(t,
                             {{QStringLiteral("ID"), QStringLiteral("№")},
                              {QStringLiteral("Name"), QStringLiteral("Имя")},
                              {QStringLiteral("FIO"), QStringLiteral("ФИО")},
                              {QStringLiteral("Dose"), QStringLiteral("Доза, мкЗв")}},
                             path, {}, CsvFormat::forLocale(QLocale(QLocale::Russian)))
                .ok());
    QCOMPARE(fileLines(path), QStringList({QStringLiteral("№;Имя;ФИО;Доза, мкЗв"),
                                           QStringLiteral("5;'=1+2;") + QString(39, QChar(u'Ж')) + QStringLiteral("😀;-12,5")}));
    QCOMPARE(CsvFormat::forLocale(QLocale(QLocale::English)).decimal, QLatin1Char('.'));
}

void TestCsvExport::filterAndOrderAcrossPages()
{
    // Sorted by a field with many equal values and filtered: every row the
    // table shows comes once, in the table's order, however many pages.
    ScriptedPrompt prompt;
    storeDir dir;
    auto dm = dir.start();
    fillMeasures(*dm, 20000);
    DataTable &t = dm->measures();
    t.setIndexFieldNames(QStringLiteral("ID"));
    t.setFilter(QStringLiteral("Dose>50"));
    t.setFiltered(true);
    t.first();
    const QVariant current = t.getBookmark();

    const QString path = dir.programDir() + QStringLiteral("filtered.csv");
    QList<qint64> ticks;
    const CsvResult r = exportTableToCsv(
        t, {{QStringLiteral("Index"), QStringLiteral("Индекс")}, {QStringLiteral("ID"), QStringLiteral("№")}}, path,
        [&ticks](qint64 done, qint64) {
            ticks << done;
            return true;
        });
    QVERIFY2(r.ok(), qPrintable(r.errorText()));
    QCOMPARE(r.value, qint64(t.recordCount()));
    QVERIFY(ticks.size() >= 3);
    QCOMPARE(ticks.last(), r.value);
    QCOMPARE(t.getBookmark(), current);

    const QStringList lines = fileLines(path);
    QCOMPARE(lines.size(), t.recordCount() + 1);
    QSet<int> keys;
    int lastId = -1, lastKey = -1;
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList cells = lines[i].split(QLatin1Char(','));
        const int key = cells.value(0).toInt(), id = cells.value(1).toInt();
        QVERIFY(!keys.contains(key));
        keys.insert(key);
        QVERIFY2(id > lastId || (id == lastId && key > lastKey), qPrintable(lines[i]));
        lastId = id;
        lastKey = key;
    }
}

void TestCsvExport::cancelAndFailureLeaveNoFile()
{
    ScriptedPrompt prompt;
    storeDir dir;
    auto dm = dir.start();
    fillMeasures(*dm, 10000);
    const QString path = dir.programDir() + QStringLiteral("old.csv");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier export\r\n");
    }
    int calls = 0;
    const CsvResult r = exportTableToCsv(dm->measures(), {{QStringLiteral("Name"), QStringLiteral("Идентификатор")}},
                                         path, [&calls](qint64 done, qint64) {
                                             ++calls;
                                             return done == 0;  // cancelled at the first tick after the start
                                         });
    QCOMPARE(r.kind(), ErrorKind::Cancelled);
    QCOMPARE(calls, 2);
    QCOMPARE(fileBytes(path), QByteArray("earlier export\r\n"));
    QCOMPARE(QDir(dir.programDir()).entryList({QStringLiteral("*.csv*")}, QDir::Files), QStringList{"old.csv"});

    const CsvResult bad = exportTableToCsv(dm->measures(), {{QStringLiteral("Name"), QStringLiteral("x")}},
                                           dir.programDir() + QStringLiteral("no/such/dir/out.csv"));
    QCOMPARE(bad.kind(), ErrorKind::Failed);
    QVERIFY(!bad.errorText().isEmpty());
    const CsvResult unknown = exportTableToCsv(dm->measures(), {{QStringLiteral("Nope"), QStringLiteral("x")}},
                                               dir.programDir() + QStringLiteral("x.csv"));
    QCOMPARE(unknown.kind(), ErrorKind::Failed);
    QVERIFY(!QFile::exists(dir.programDir() + QStringLiteral("x.csv")));
}

QTEST_GUILESS_MAIN(TestCsvExport)
#include "tst_csv_export.moc"

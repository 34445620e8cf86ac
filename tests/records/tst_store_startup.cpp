// Start-up and shut-down of the database module on real files: the messages,
// their order, what is created and what is left alone.

#include "core/Prompt.h"
#include "StoreFixture.h"
#include "ScriptedPrompt.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "records/DataModule.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <tuple>

namespace {

const char *const kFiles[] = {"Measures.DB", "Notes.DB", "Devices.db", "Cards.DB"};

QString missingTableText(const storeDir &dir, const QString &file)
{
    return QStringLiteral("Не обнаружена таблица \r") + dir.programDir() + QStringLiteral("Data/") + file
           + QStringLiteral("\rбудет произведена попытка создания новой таблицы");
}

QStringList indexNames(DataModule &dm, const QString &table)
{
    QSqlQuery q(dm.database());
    q.exec(QStringLiteral("SELECT name FROM \"%1\".sqlite_master WHERE type='index' AND sql IS NOT NULL ORDER BY name")
               .arg(table));
    QStringList names;
    while (q.next())
        names << q.value(0).toString();
    return names;
}

QStringList expectedIndexNames(const DataTable &t)
{
    QStringList names;
    for (const FieldDef &f : t.fields())
        names << QStringLiteral("i") + f.name;
    if (t.tableName() == QLatin1String("Measures"))
        names << QStringLiteral("iArchiveRecord")   // the duplicate check's own index
              << QStringLiteral("iDosimeterTime");  // dose control's sums per dosimeter and time
    for (const FieldDef &f : t.fields()) {
        if (f.type == FieldType::Text) {
            names << QStringLiteral("iSortKeys");  // the rows whose sort keys are to be filled
            break;
        }
    }
    names.sort();
    return names;
}

void addRow(DataTable &t, const QString &field, const QVariant &value)
{
    t.append();
    t.setFieldValue(field, value);
    t.post();
}

// A second connection on one table file, as another program would hold it.
class OtherConnection {
public:
    explicit OtherConnection(const QString &path) : m_name(QStringLiteral("other-%1").arg(quintptr(this)))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~OtherConnection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString &sql)
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        const bool ok = q.exec(sql);
        if (!ok)
            qWarning() << sql << q.lastError().text();
        return ok;
    }

private:
    QString m_name;
};

} // namespace

class TestStoreStartup : public QObject {
    Q_OBJECT
private slots:
    void firstStartInEmptyDirectory();
    void deletedTableRecreatedAloneOthersKeepRows();
    void missingAndAlteredIndexesRebuiltSilently();
    void damagedTableReportedAndLeftUntouched();
    void oldFilesConvertAndTakeStockWrites();
    void lockedTableReportedOthersGoOn();
    void directoryThatCannotBeCreated();
    void destroyClosesEverything();
};

void TestStoreStartup::firstStartInEmptyDirectory()
{
    storeDir dir;
    QVERIFY(dir.isValid());
    ScriptedPrompt prompt;
    auto dm = dir.start();

    QStringList expected;
    expected << QStringLiteral("Не обнаружен каталог \r") + dir.programDir() + QStringLiteral("Data\r")
                    + QStringLiteral("произведено его пересеоздание");
    for (const char *f : kFiles)
        expected << missingTableText(dir, QString::fromLatin1(f));
    QCOMPARE(prompt.texts(), expected);
    for (const auto &a : prompt.asked) {
        QCOMPARE(int(a.kind), int(MsgKind::Error));
        QCOMPARE(a.buttons, PromptButtons(PromptButton::Ok));
    }
    QVERIFY(!dm->terminateRequested());

    for (const char *f : kFiles)
        QVERIFY(QFile::exists(dir.tablePath(QString::fromLatin1(f))));
    for (DataTable *t : {&dm->measures(), &dm->notes(), &dm->devices(), &dm->cards(), &dm->cardsFind()}) {
        QVERIFY2(t->active(), qPrintable(t->tableName()));
        QVERIFY(t->isEmpty());
        QCOMPARE(t->indexFieldNames(), QString());
        QCOMPARE(t->filter(), QString());
        QVERIFY(!t->filtered());
        QVERIFY(!t->exclusive());
        QCOMPARE(indexNames(*dm, t->tableName()), expectedIndexNames(*t));
    }

    // A second start finds everything in place and says nothing.
    dm.reset();
    prompt.asked.clear();
    dm = dir.start();
    QCOMPARE(prompt.texts(), QStringList());
    QVERIFY(dm->measures().active());
}

void TestStoreStartup::deletedTableRecreatedAloneOthersKeepRows()
{
    storeDir dir;
    ScriptedPrompt prompt;
    {
        auto dm = dir.start();
        addRow(dm->measures(), QStringLiteral("Name"), QStringLiteral("Первая"));
        addRow(dm->notes(), QStringLiteral("FIO"), QStringLiteral("Иванов"));
        addRow(dm->devices(), QStringLiteral("TarnAddress"), 5);
        addRow(dm->cards(), QStringLiteral("FIO"), QStringLiteral("Петров"));
        dm->dataModuleDestroy();
    }
    QVERIFY(QFile::remove(dir.tablePath(QStringLiteral("Notes.DB"))));
    prompt.asked.clear();
    auto dm = dir.start();
    QCOMPARE(prompt.texts(), QStringList{missingTableText(dir, QStringLiteral("Notes.DB"))});
    QCOMPARE(dm->notes().recordCount(), 0);
    QCOMPARE(indexNames(*dm, QStringLiteral("Notes")), expectedIndexNames(dm->notes()));
    QCOMPARE(dm->measures().recordCount(), 1);
    QCOMPARE(dm->measures().fieldValue(QStringLiteral("Name")).toString(), QStringLiteral("Первая"));
    QCOMPARE(dm->devices().recordCount(), 1);
    QCOMPARE(dm->cards().recordCount(), 1);
    QCOMPARE(dm->cardsFind().recordCount(), 1);
}

void TestStoreStartup::missingAndAlteredIndexesRebuiltSilently()
{
    storeDir dir;
    ScriptedPrompt prompt;
    {
        auto dm = dir.start();
        fillMeasures(*dm, 3000);
        dm->dataModuleDestroy();
    }
    {
        // Another tool drops one index and redefines another (without the
        // case-insensitive order, on a different column).
        OtherConnection other(dir.tablePath(QStringLiteral("Measures.DB")));
        QVERIFY(other.exec(QStringLiteral("DROP INDEX \"iDose\"")));
        QVERIFY(other.exec(QStringLiteral("DROP INDEX \"iName\"")));
        QVERIFY(other.exec(QStringLiteral("CREATE INDEX \"iName\" ON \"Measures\"(\"FIO\")")));
        QVERIFY(other.exec(QStringLiteral("CREATE INDEX \"stray\" ON \"Measures\"(\"ID\")")));
    }
    prompt.asked.clear();
    auto dm = dir.start();
    QCOMPARE(prompt.texts(), QStringList());
    QCOMPARE(indexNames(*dm, QStringLiteral("Measures")), expectedIndexNames(dm->measures()));
    QSqlQuery q(dm->database());
    QVERIFY(q.exec(QStringLiteral("SELECT sql FROM \"Measures\".sqlite_master WHERE name='iName'")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("CREATE INDEX \"iName\" ON \"Measures\"(\"Name_key\")"));
    q.finish();
    // The rebuilt index serves a case-insensitive look-up.
    QVERIFY(dm->measures().locate(QStringLiteral("Name"), QStringLiteral("метка5"), LocateOption::CaseInsensitive));
    QCOMPARE(dm->measures().recordCount(), 3000);
}

// SQL run by the stock SQLite shell on a table file: its output, and
// whether it succeeded.
QPair<bool, QString> stockSqlite(const QString &path, const QString &sql)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), QStringLiteral("-cmd"), QStringLiteral(".timeout 5000"),
                                        path, sql});
    const bool finished = p.waitForFinished(20000);
    return {finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
            QString::fromUtf8(p.readAll())};
}

// The rows of a table in the grid's order by a text field (texts and keys).
QList<QPair<QString, qint64>> gridOrder(DataTable &t, const QString &field)
{
    t.setIndexFieldNames(field);
    QList<QPair<QString, qint64>> rows;
    for (t.first(); !t.eof(); t.next())
        rows.append({t.fieldValue(field).toString(), t.fieldValue(t.keyField()).toLongLong()});
    return rows;
}

// The same rows as the order should be: blanks first, then the texts without
// regard to letter case, ties by key.
QList<QPair<QString, qint64>> expectedOrder(QList<QPair<QString, qint64>> rows)
{
    std::sort(rows.begin(), rows.end(), [](const auto &a, const auto &b) {
        const int c = a.first.compare(b.first, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.second < b.second;
    });
    return rows;
}

void TestStoreStartup::oldFilesConvertAndTakeStockWrites()
{
    if (testOnServer())
        QSKIP("the table files only");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty(), "sqlite3 (scripts/setup) is missing");
    storeDir dir;
    ScriptedPrompt prompt;
    const QStringList fios{QStringLiteral("Борисов"), QStringLiteral("алексеев"), QStringLiteral("Ёлкин"),
                           QStringLiteral("вова"), QStringLiteral("Алексеев"), QStringLiteral("ЕЛИН"), QString()};
    {
        auto dm = dir.start();
        for (const QString &fio : fios) {
            dm->measures().append();
            dm->measures().setFieldValue(QStringLiteral("FIO"), fio.isEmpty() ? QVariant() : QVariant(fio));
            dm->measures().setFieldValue(QStringLiteral("Name"), fio.toUpper() + QStringLiteral("-м"));
            dm->measures().post();
            addRow(dm->cards(), QStringLiteral("FIO"), fio.isEmpty() ? QVariant() : QVariant(fio));
        }
        dm->dataModuleDestroy();
    }
    // The files as an older program left them: the text indexes in its own
    // collation, no sort keys.
    for (const auto &[file, table, schema] : {std::make_tuple(QStringLiteral("Measures.DB"), QStringLiteral("Measures"), measuresSchema()),
                                              std::make_tuple(QStringLiteral("Cards.DB"), QStringLiteral("Cards"), cardsSchema())}) {
        const QString name = QStringLiteral("old-") + table;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(dir.tablePath(file));
            QVERIFY(db.open());
            registerRecordsSqlFunctions(db);
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("DROP INDEX \"iSortKeys\"")));
            for (const FieldDef &f : schema) {
                if (f.type != FieldType::Text)
                    continue;
                for (const QString &sql : {QStringLiteral("DROP TRIGGER \"%1_key_clear\""), QStringLiteral("DROP INDEX \"i%1\""),
                                           QStringLiteral("ALTER TABLE \"%2\" DROP COLUMN \"%1_key\""),
                                           QStringLiteral("CREATE INDEX \"i%1\" ON \"%2\"(\"%1\" COLLATE RUNOCASE)")})
                    QVERIFY2(q.exec(QString(sql).replace(QStringLiteral("%1"), f.name).replace(QStringLiteral("%2"), table)),
                             qPrintable(q.lastError().text()));
            }
        }
        QSqlDatabase::removeDatabase(name);
    }
    const QString measuresPath = dir.tablePath(QStringLiteral("Measures.DB"));
    const QString cardsPath = dir.tablePath(QStringLiteral("Cards.DB"));
    QVERIFY(stockSqlite(cardsPath, QStringLiteral("INSERT INTO Cards (FIO) VALUES ('x');")).second.contains(QStringLiteral("RUNOCASE")));

    prompt.asked.clear();
    auto dm = dir.start();
    QCOMPARE(prompt.texts(), QStringList());
    QCOMPARE(dm->measures().recordCount(), int(fios.size()));
    QCOMPARE(dm->cards().recordCount(), int(fios.size()));
    // Every table file the program writes takes a stock insert and update.
    for (DataTable *t : {&dm->measures(), &dm->notes(), &dm->devices(), &dm->cards(), &dm->doseLevels(),
                         &dm->dosePersons(), &dm->doseAlerts(), &dm->audit()}) {
        QString text;
        for (const FieldDef &f : t->fields())
            text = text.isEmpty() && f.type == FieldType::Text ? f.name : text;
        const QString update = text.isEmpty() ? QString()
            : QStringLiteral("UPDATE \"%1\" SET \"%2\" = 'Тест' WHERE rowid = last_insert_rowid();").arg(t->tableName(), text);
        const auto run = stockSqlite(t->filePath(), QStringLiteral("BEGIN; INSERT INTO \"%1\" DEFAULT VALUES; %2 ROLLBACK;")
                                                          .arg(t->tableName(), update));
        QVERIFY2(run.first, qPrintable(t->fileName() + QStringLiteral(": ") + run.second));
    }
    // Rows written with the stock shell while the program has the files open.
    for (const auto &[path, sql] : {qMakePair(measuresPath, QStringLiteral(
                                        "INSERT INTO Measures (ID, Name, FIO, Dose) VALUES (7, 'ёжик', 'Ёжиков Пётр', 1.5);"
                                        "UPDATE Measures SET FIO = 'аБрамов' WHERE FIO = 'вова';")),
                                    qMakePair(cardsPath, QStringLiteral(
                                        "INSERT INTO Cards (ID, FIO) VALUES (900, 'яшин Лев'), (901, 'ёлкин');"
                                        "UPDATE Cards SET FIO = 'АНДРЕЕВ' WHERE FIO = 'Борисов';"))}) {
        const auto run = stockSqlite(path, sql);
        QVERIFY2(run.first, qPrintable(run.second));
    }
    auto check = [&] {
        for (DataTable *t : {&dm->measures(), &dm->cards()}) {
            t->refresh();
            const auto rows = gridOrder(*t, QStringLiteral("FIO"));
            QCOMPARE(rows.size(), t == &dm->cards() ? 9 : 8);
            QCOMPARE(rows, expectedOrder(rows));
        }
        QVERIFY(dm->measures().locate(QStringLiteral("FIO"), QStringLiteral("ЁЖИКОВ пётр"), LocateOption::CaseInsensitive));
        QCOMPARE(dm->measures().fieldValue(QStringLiteral("Name")).toString(), QStringLiteral("ёжик"));
        QVERIFY(dm->measures().locate(QStringLiteral("FIO"), QStringLiteral("абр"),
                                      LocateOptions(LocateOption::CaseInsensitive) | LocateOption::PartialKey));
        QCOMPARE(dm->measures().fieldValue(QStringLiteral("FIO")).toString(), QStringLiteral("аБрамов"));
        QVERIFY(!dm->measures().locate(QStringLiteral("FIO"), QStringLiteral("вова"), LocateOption::CaseInsensitive));
        QVERIFY(dm->cards().locate(QStringLiteral("FIO"), QStringLiteral("ЯШИН ЛЕВ"), LocateOption::CaseInsensitive));
        QVERIFY(dm->cards().locate(QStringLiteral("FIO"), QStringLiteral("андреев"), LocateOption::CaseInsensitive));
        // The order by a name is walked along its index, not sorted whole.
        QSqlQuery plan(dm->database());
        QVERIFY(plan.exec(QStringLiteral("EXPLAIN QUERY PLAN SELECT * FROM \"Measures\".\"Measures\" ")
                          + dm->measures().orderByClause()));
        QString steps;
        while (plan.next())
            steps += plan.value(3).toString() + QLatin1Char(';');
        QVERIFY2(steps.contains(QStringLiteral("iFIO")) && !steps.contains(QStringLiteral("TEMP B-TREE")), qPrintable(steps));
    };
    check();
    if (QTest::currentTestFailed())
        return;
    // Started again: nothing left to convert, the keys as they were.
    auto keys = [&] {
        QSqlQuery q(dm->database());
        q.exec(QStringLiteral("SELECT group_concat(hex(\"FIO_key\") || hex(\"Name_key\")) FROM \"Measures\".\"Measures\""));
        return q.next() ? q.value(0).toString() : QString();
    };
    const QString before = keys();
    dm->dataModuleDestroy();
    dm = dir.start();
    QCOMPARE(keys(), before);
    check();
}

void TestStoreStartup::damagedTableReportedAndLeftUntouched()
{
    storeDir dir;
    ScriptedPrompt prompt;
    {
        auto dm = dir.start();
        addRow(dm->measures(), QStringLiteral("Name"), QStringLiteral("Сохранить"));
        dm->dataModuleDestroy();
    }
    // Devices: no database at all; Cards: a database file whose table is gone.
    const QString devices = dir.tablePath(QStringLiteral("Devices.db"));
    const QString cards = dir.tablePath(QStringLiteral("Cards.DB"));
    {
        QFile f(devices);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QByteArray junk;
        for (int i = 0; i < 5000; ++i)
            junk.append(char((i * 7919) % 251));
        f.write(junk);
    }
    QVERIFY(QFile::resize(cards, 0));
    const QByteArray devicesBefore = fileBytes(devices);

    prompt.asked.clear();
    auto dm = dir.start();
    const QStringList expected{
        QStringLiteral("DM: Ошибка при открытии таблицы устройств ТРЕМ\r") + devices + QStringLiteral("\r"),
        QStringLiteral("DM: Ошибка при открытии таблицы картотеки\r") + cards + QStringLiteral("\r"),
        QStringLiteral("DM: Ошибка при открытии дубля таблицы картотеки\r") + cards + QStringLiteral("\r"),
    };
    QCOMPARE(prompt.texts(), expected);
    QCOMPARE(fileBytes(devices), devicesBefore);
    QCOMPARE(QFileInfo(cards).size(), qint64(0));
    QVERIFY(!dm->devices().active());
    QVERIFY(!dm->cards().active());
    // The other tables work, and the damaged one fails on use, not silently.
    QCOMPARE(dm->measures().fieldValue(QStringLiteral("Name")).toString(), QStringLiteral("Сохранить"));
    QVERIFY(dm->notes().active());
    QVERIFY_THROWS_EXCEPTION(EGeneralError, dm->devices().append());
    QVERIFY_THROWS_EXCEPTION(EGeneralError, dm->rebuildIndexes(dm->devices()));
    dm.reset();
    QCOMPARE(fileBytes(devices), devicesBefore);
}

void TestStoreStartup::lockedTableReportedOthersGoOn()
{
    storeDir dir;
    ScriptedPrompt prompt;
    {
        auto dm = dir.start();
        addRow(dm->notes(), QStringLiteral("FIO"), QStringLiteral("Иванов"));
        dm->dataModuleDestroy();
    }
    const QString notes = dir.tablePath(QStringLiteral("Notes.DB"));
    auto other = std::make_unique<OtherConnection>(notes);
    QVERIFY(other->exec(QStringLiteral("BEGIN IMMEDIATE")));
    QVERIFY(other->exec(QStringLiteral("UPDATE \"Notes\" SET \"Dose\" = 1")));

    prompt.asked.clear();
    auto dm = dir.start();
    QCOMPARE(prompt.texts(), QStringList{QStringLiteral("DM: Ошибка при открытии таблицы журнала\r") + notes
                                         + QStringLiteral("\r")});
    for (DataTable *t : {&dm->measures(), &dm->devices(), &dm->cards(), &dm->cardsFind()})
        QVERIFY2(t->active(), qPrintable(t->tableName()));
    // The table itself is still open for reading, after the failed rebuild.
    QVERIFY(dm->notes().active());
    QCOMPARE(dm->notes().fieldValue(QStringLiteral("FIO")).toString(), QStringLiteral("Иванов"));

    // Once the other program lets go, the rebuild goes through.
    QVERIFY(other->exec(QStringLiteral("ROLLBACK")));
    other.reset();
    dm->rebuildIndexes(dm->notes());
    QVERIFY(dm->notes().active());
    QCOMPARE(indexNames(*dm, QStringLiteral("Notes")), expectedIndexNames(dm->notes()));
}

void TestStoreStartup::directoryThatCannotBeCreated()
{
    storeDir dir;
    ScriptedPrompt prompt;
    // The program directory is a plain file: nothing can be created below it.
    QFile blocker(dir.programDir() + QStringLiteral("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    appState().programDir = blocker.fileName() + QLatin1Char('/');
    DataModule dm;
    const Result<> created = dm.dataModuleCreate(toldBy(activePrompt()));
    QVERIFY(!created);
    QVERIFY(isStoreKind(created.kind()));
    QVERIFY(!created.errorText().isEmpty());
    const QString data = blocker.fileName() + QStringLiteral("/Data");
    QCOMPARE(prompt.texts(),
             (QStringList{QStringLiteral("Не обнаружен каталог \r") + data + QStringLiteral("\r")
                              + QStringLiteral("автоматическое пересеоздание невозможно"),
                          QStringLiteral("DM: Ошибка при открытии базы данных"),
                          QStringLiteral("Не обнаружена таблица \r") + data + QStringLiteral("/Measures.DB\r")
                              + QStringLiteral("будет произведена попытка создания новой таблицы")}));
    QVERIFY(!dm.terminateRequested());
    QVERIFY(!dm.measures().active());
}

void TestStoreStartup::destroyClosesEverything()
{
    storeDir dir;
    ScriptedPrompt prompt;
    auto dm = dir.start();
    addRow(dm->measures(), QStringLiteral("Name"), QStringLiteral("X"));
    dm->dataModuleDestroy();
    for (DataTable *t : {&dm->measures(), &dm->notes(), &dm->devices(), &dm->cards(), &dm->cardsFind()})
        QVERIFY(!t->active());
    QVERIFY(!dm->connected());
    // Closed files are complete databases on their own (no log left beside them).
    QVERIFY(!QFile::exists(dir.tablePath(QStringLiteral("Measures.DB-wal"))));
    OtherConnection other(dir.tablePath(QStringLiteral("Measures.DB")));
    QVERIFY(other.exec(QStringLiteral("SELECT \"Name\" FROM \"Measures\"")));
    dm->dataModuleDestroy();  // a second time is harmless
}

QTEST_GUILESS_MAIN(TestStoreStartup)
#include "tst_store_startup.moc"

// Start-up and shut-down of the database module on real files: the messages,
// their order, what is created and what is left alone.

#include "core/Prompt.h"
#include "StoreFixture.h"
#include "ScriptedPrompt.h"

#include "core/AppState.h"
#include "core/Errors.h"
#include "records/DataModule.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

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
    QCOMPARE(q.value(0).toString(), QStringLiteral("CREATE INDEX \"iName\" ON \"Measures\"(\"Name\" COLLATE RUNOCASE)"));
    q.finish();
    // The rebuilt index serves a case-insensitive look-up.
    QVERIFY(dm->measures().locate(QStringLiteral("Name"), QStringLiteral("метка5"), LocateOption::CaseInsensitive));
    QCOMPARE(dm->measures().recordCount(), 3000);
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

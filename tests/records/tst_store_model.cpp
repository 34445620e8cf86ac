// The lazy grid model over a large table: rows at the start, middle and end
// without reading the rest, pages that join up whichever way they were
// fetched, and a model that follows the table's changes and current row.

#include "StoreFixture.h"
#include "ScriptedPrompt.h"

#include "records/DataTableModel.h"
#include "records/DataModule.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

constexpr int kRows = 60000;
const QStringList kGridColumns{QStringLiteral("DateTime"), QStringLiteral("ID"), QStringLiteral("Name"),
                               QStringLiteral("FIO"), QStringLiteral("Dose")};

QString cell(const DataTableModel &m, int row, int column, int role = Qt::DisplayRole)
{
    return m.data(m.index(row, column), role).toString();
}

} // namespace

class TestStoreModel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void rowsAtStartMiddleAndEndWithoutReadingTheRest();
    void pagesJoinUpWhicheverWayTheyAreFetched();
    void followsFilterAppendEditDelete();
    void currentRowMovesWithTheTable();
    void headersAndRoles();
    void countsManyRowsInSteps();  // last: it changes the rows

private:
    std::unique_ptr<storeDir> m_dir;
    std::unique_ptr<ScriptedPrompt> m_prompt;
    std::unique_ptr<DataModule> m_dm;
};

void TestStoreModel::initTestCase()
{
    m_dir = std::make_unique<storeDir>();
    m_prompt = std::make_unique<ScriptedPrompt>();
    m_dm = m_dir->start();
    fillMeasures(*m_dm, kRows);
}

void TestStoreModel::cleanupTestCase()
{
    m_dm.reset();
    m_prompt.reset();
    m_dir.reset();
}

void TestStoreModel::init()
{
    DataTable &t = m_dm->measures();
    t.setFiltered(false);
    t.setFilter(QString());
    t.setIndexFieldNames(QString());
}

void TestStoreModel::rowsAtStartMiddleAndEndWithoutReadingTheRest()
{
    DataTableModel model(&m_dm->measures(), kGridColumns);
    model.setCountStep(0);  // counted at once (the stepped count: countsManyRowsInSteps)
    QCOMPARE(model.rowCount(), kRows);
    QCOMPARE(model.columnCount(), 5);
    for (int row : {0, 1, kRows / 2, kRows / 2 + 1, kRows - 2, kRows - 1}) {
        QCOMPARE(cell(model, row, 0), generatedTime(row).toString(QStringLiteral("dd.MM.yy HH:mm")));
        QCOMPARE(cell(model, row, 1), QString::number(row % 50));
        QCOMPARE(cell(model, row, 2).toLower(), QStringLiteral("метка%1").arg(row % 97));
        QCOMPARE(cell(model, row, 4), QString::number((row % 1000) / 10.0, 'f', 3));
        QCOMPARE(model.keyOfRow(row).toInt(), row + 1);
    }
    // One page each for the start, the middle and the end.
    QCOMPARE(model.pagesFetched(), 3);
    QVERIFY(model.cachedPages() * model.pageSize() < kRows / 50);
    QVERIFY(!model.data(model.index(kRows, 0)).isValid());
}

void TestStoreModel::pagesJoinUpWhicheverWayTheyAreFetched()
{
    // Sorted by a text with duplicates in mixed letter case and by a number,
    // one model walks forwards page after page, another backwards from the
    // end, a third jumps straight into the middle: all three agree row for
    // row, and the order holds across every page boundary. The filter lets
    // through a large share of the rows (the order's index is walked) or a
    // small one (the selected rows are sorted).
    const QStringList filters{QStringLiteral("ID<20"), QStringLiteral("(ID=3) AND (RecNumber<1200)")};
    for (const QString &filter : filters)
    for (const QString &sort : {QStringLiteral("Name"), QStringLiteral("Dose"), QStringLiteral("DateTime")}) {
        m_dm->measures().setIndexFieldNames(sort);
        m_dm->measures().setFilter(filter);
        m_dm->measures().setFiltered(true);
        DataTableModel forward(&m_dm->measures(), {sort});
        DataTableModel backward(&m_dm->measures(), {sort});
        DataTableModel jump(&m_dm->measures(), {sort});
        for (DataTableModel *m : {&forward, &backward, &jump})
            m->setPageSize(97);
        const int n = forward.rowCount();
        QCOMPARE(n, filter == filters[0] ? kRows / 50 * 20 : 720);
        const int from = n / 2 - 150;
        const int to = n / 2 + 150;
        QVector<QVariant> keysForward(n);
        for (int r = 0; r < to; ++r)
            keysForward[r] = forward.keyOfRow(r);
        for (int r = n - 1; r >= from; --r) {
            const QVariant key = backward.keyOfRow(r);
            QVERIFY(!key.isNull());
            if (r < to)
                QCOMPARE(key, keysForward[r]);
        }
        for (int r = from; r < to; ++r) {
            QCOMPARE(jump.keyOfRow(r), keysForward[r]);
            QCOMPARE(backward.keyOfRow(r), keysForward[r]);
        }
        for (int r = 1; r < to; ++r) {
            const QVariant a = forward.data(forward.index(r - 1, 0), Qt::EditRole);
            const QVariant b = forward.data(forward.index(r, 0), Qt::EditRole);
            bool ordered = false;
            if (sort == QLatin1String("Name")) {
                const int c = QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive);
                ordered = c < 0 || (c == 0 && keysForward[r - 1].toInt() < keysForward[r].toInt());
            } else if (sort == QLatin1String("Dose")) {
                ordered = a.toDouble() < b.toDouble()
                          || (a.toDouble() == b.toDouble() && keysForward[r - 1].toInt() < keysForward[r].toInt());
            } else {
                ordered = a.toDateTime() < b.toDateTime();
            }
            QVERIFY2(ordered, qPrintable(QStringLiteral("%1 / %2: rows %3 and %4").arg(filter, sort).arg(r - 1).arg(r)));
        }
        // The smallest and largest values are those of the first and last rows.
        const auto extremes = m_dm->measures().firstAndLastValue(sort);
        QCOMPARE(extremes.first, forward.data(forward.index(0, 0), Qt::EditRole));
        QCOMPARE(extremes.second, backward.data(backward.index(n - 1, 0), Qt::EditRole));
        // The table's own walk agrees with the grid, and so do positions.
        DataTable &t = m_dm->measures();
        t.first();
        for (int r = 0; r < 300; ++r, t.next())
            QCOMPARE(t.getBookmark(), keysForward[r]);
        QCOMPARE(t.positionOfKey(keysForward[from]), from);
        QCOMPARE(t.positionOfKey(keysForward[to - 1]), to - 1);
        // The middle cost one counted jump and then key ranges.
        QVERIFY(jump.pagesFetched() <= 5);
    }
}

void TestStoreModel::followsFilterAppendEditDelete()
{
    DataTable &t = m_dm->measures();
    DataTableModel model(&t, kGridColumns);
    model.setCountStep(0);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QCOMPARE(model.rowCount(), kRows);

    t.setFilter(QStringLiteral("Dose>50"));
    t.setFiltered(true);
    QVERIFY(resets.count() >= 1);
    QCOMPARE(model.rowCount(), kRows / 1000 * 499);
    QCOMPARE(cell(model, 0, 4), QStringLiteral("50.100"));

    // A new row that passes the filter adds a row; one that does not, none.
    t.append();
    t.setFieldValue(QStringLiteral("Dose"), 77.0);
    t.setFieldValue(QStringLiteral("Name"), QStringLiteral("новая"));
    t.post();
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model.rowCount(), kRows / 1000 * 499 + 1);
    QCOMPARE(cell(model, model.rowCount() - 1, 2), QStringLiteral("новая"));
    t.append();
    t.setFieldValue(QStringLiteral("Dose"), 1.0);
    t.post();
    QCOMPARE(model.rowCount(), kRows / 1000 * 499 + 1);

    // An edit that takes a row out of the filter removes a row.
    QVERIFY(t.locate(QStringLiteral("Name"), QStringLiteral("новая")));
    t.edit();
    t.setFieldValue(QStringLiteral("Dose"), 2.0);
    t.post();
    QCOMPARE(removed.count(), 1);
    QCOMPARE(model.rowCount(), kRows / 1000 * 499);
    t.edit();
    t.setFieldValue(QStringLiteral("Dose"), 99.0);
    t.post();
    QCOMPARE(model.rowCount(), kRows / 1000 * 499 + 1);
    QCOMPARE(cell(model, model.rowCount() - 1, 4), QStringLiteral("99.000"));

    t.remove();
    QCOMPARE(model.rowCount(), kRows / 1000 * 499);
    t.setFiltered(false);
    QCOMPARE(model.rowCount(), kRows + 1);
    t.last();
    t.remove();
    QCOMPARE(model.rowCount(), kRows);
}

void TestStoreModel::currentRowMovesWithTheTable()
{
    DataTable &t = m_dm->measures();
    t.setIndexFieldNames(QStringLiteral("Name"));
    DataTableModel model(&t, kGridColumns);
    QSignalSpy moved(&model, &DataTableModel::currentRowChanged);

    // The grid moves the table.
    const int row = kRows / 3;
    model.setCurrentRow(row);
    QCOMPARE(t.getBookmark(), model.keyOfRow(row));
    QCOMPARE(cell(model, row, 2), t.asString(QStringLiteral("Name")));
    QCOMPARE(model.rowOfCurrent(), row);

    // The table moves the grid: many moves in a row are told once, after the
    // loop, with the row found even where no page was read.
    t.first();
    for (int i = 0; i < 10; ++i)
        t.next();
    t.last();
    QVERIFY(moved.wait(2000));
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.first().first().toInt(), kRows - 1);
    QVERIFY(t.locate(QStringLiteral("Index"), kRows / 2));
    QVERIFY(moved.wait(2000));
    const int at = moved.last().first().toInt();
    QCOMPARE(model.keyOfRow(at).toInt(), kRows / 2);

    // A row the filter hides has no place in the grid.
    t.setFilter(QStringLiteral("ID=1"));
    t.setFiltered(true);
    QVERIFY(t.findKey(3));
    QCOMPARE(model.rowOfCurrent(), -1);
}

void TestStoreModel::headersAndRoles()
{
    DataTableModel model(&m_dm->measures(), kGridColumns);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Дата"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("№"));
    QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Доза, мкЗв"));
    model.setColumnTitle(3, QStringLiteral("ФИО (по журналу)"));
    QCOMPARE(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("ФИО (по журналу)"));
    QCOMPARE(model.columnOfField(QStringLiteral("dose")), 4);
    QCOMPARE(model.data(model.index(5, 0), Qt::EditRole).toDateTime(), generatedTime(5));
    QCOMPARE(model.data(model.index(5, 4), Qt::EditRole).toDouble(), 0.5);
    QCOMPARE(model.data(model.index(5, 0), DataTableModel::KeyRole).toInt(), 6);
    QVERIFY_THROWS_EXCEPTION(EGeneralError, DataTableModel(&m_dm->measures(), {QStringLiteral("Nope")}));

    DataTableModel cards(&m_dm->cards());
    QCOMPARE(cards.columnCount(), 11);
    QCOMPARE(cards.headerData(3, Qt::Horizontal).toString(), QStringLiteral("Метка"));
    QCOMPARE(cards.rowCount(), 0);
    m_dm->cards().append();
    m_dm->cards().setFieldValue(QStringLiteral("isMale"), true);
    m_dm->cards().post();
    QCOMPARE(cards.rowCount(), 1);
    QCOMPARE(cell(cards, 0, 5), QStringLiteral("М"));
}

QTEST_GUILESS_MAIN(TestStoreModel)
#include "tst_store_model.moc"

void TestStoreModel::countsManyRowsInSteps()
{
    // Dose>10 shows 899 rows of each thousand: the n-th shown row is the
    // reading 1000 * (n / 899) + 101 + n % 899, its key one more.
    auto keyOfShown = [](int n) { return 1000 * (n / 899) + 102 + n % 899; };
    const int shown = kRows / 1000 * 899;
    DataTable &t = m_dm->measures();
    t.setFilter(QStringLiteral("Dose>10"));
    t.setFiltered(true);
    DataTableModel model(&t, kGridColumns);
    model.setCountStep(7000);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    // The first step: the rows counted so far, each in its true place, the
    // one nearest the end read from the start rather than from an end not
    // known yet.
    QCOMPARE(model.rowCount(), 7000);
    QVERIFY(!model.countComplete());
    QVERIFY(model.canFetchMore(QModelIndex()));
    QCOMPARE(model.keyOfRow(6999).toInt(), keyOfShown(6999));
    model.fetchMore(QModelIndex());
    model.fetchMore(QModelIndex());
    QCOMPARE(model.rowCount(), 14000);
    QCOMPARE(model.keyOfRow(13999).toInt(), keyOfShown(13999));

    // Changes while counting: a counted row deleted, a row appended past
    // those counted, one not counted yet taken out of the filter.
    QVERIFY(t.findKey(keyOfShown(0)));
    t.remove();
    QCOMPARE(model.rowCount(), 13999);
    t.append();
    t.setFieldValue(QStringLiteral("Dose"), 77.0);
    t.post();
    const int appended = t.getBookmark().toInt();
    QVERIFY(t.findKey(keyOfShown(30000)));
    t.edit();
    t.setFieldValue(QStringLiteral("Dose"), 1.0);
    t.post();
    QVERIFY(model.rowCount() <= shown - 1);

    // The event loop counts the rest; never more rows than there are.
    QTRY_VERIFY_WITH_TIMEOUT(model.countComplete(), 20000);
    QCOMPARE(model.rowCount(), shown - 1);
    QVERIFY(!model.canFetchMore(QModelIndex()));
    for (const QList<QVariant> &args : std::as_const(inserted))
        QVERIFY(args.at(2).toInt() < shown - 1);
    QCOMPARE(model.keyOfRow(shown - 2).toInt(), appended);
    QCOMPARE(model.keyOfRow(0).toInt(), keyOfShown(1));

    // A current row past the rows counted so far: the count is finished at
    // once, so that the row has its place.
    DataTableModel other(&t, kGridColumns);
    other.setCountStep(7000);
    QCOMPARE(other.rowCount(), 7000);
    t.last();
    QCOMPARE(other.rowOfCurrent(), shown - 2);
    QVERIFY(other.countComplete());
    QCOMPARE(other.rowCount(), shown - 1);
}

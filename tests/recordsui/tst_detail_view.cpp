// The detail view of one reading on a real Measures file: it follows the
// table's current row, steps in the grid's order, and writes the mark at once.

#include "core/Prompt.h"
#include "RecordsFixture.h"
#include "core/AppState.h"
#include "records/AuditLog.h"
#include "records/DataModule.h"
#include "records/DataTableModel.h"
#include "records/ui/DetailMeasureRecord.h"

#include <QCheckBox>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <memory>

class TestDetailView : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void followsTheGridAndSteps();
    void markIsWrittenAtOnce();
    void nothingToMarkWithoutARow();

private:
    void addReading(int id, const QString &name, double dose, int minute);
    QVariant storedCheck(const QVariant &key) const;

    RecordsFixture m_f;
};

void TestDetailView::init()
{
    QVERIFY(m_f.open());
}

void TestDetailView::cleanup()
{
    m_f.close();
}

void TestDetailView::addReading(int id, const QString &name, double dose, int minute)
{
    DataTable &m = m_f.dm->measures();
    m.append();
    m.setFieldValue(QStringLiteral("TarnAddress"), 0x010203);
    m.setFieldValue(QStringLiteral("RecNumber"), minute);
    m.setFieldValue(QStringLiteral("DateTime"), QDateTime(QDate(2026, 12, 8), QTime(14, minute)));
    m.setFieldValue(QStringLiteral("ID"), id);
    m.setFieldValue(QStringLiteral("Name"), name);
    m.setFieldValue(QStringLiteral("Dose"), dose);
    m.setFieldValue(QStringLiteral("RecoveryTime"), QDateTime(QDate(2026, 12, 8), QTime(14, minute, 5)));
    m.post();
}

QVariant TestDetailView::storedCheck(const QVariant &key) const
{
    QSqlQuery q = m_f.dm->measures().exec(
        QStringLiteral("SELECT \"Check\" FROM %1 WHERE \"Index\" = ?").arg(m_f.dm->measures().sqlName()), {key});
    return q.next() ? q.value(0) : QVariant();
}

void TestDetailView::followsTheGridAndSteps()
{
    addReading(17, QStringLiteral("ИВАНОВ ИВАН"), 12.5, 30);
    addReading(23, QStringLiteral("ПЕТРОВ ПЁТР"), 0.25, 31);
    addReading(5, QStringLiteral("СИДОРОВА АННА"), 3, 32);
    DataTable &m = m_f.dm->measures();
    DataTableModel model(&m);  // what the records grid shows
    m.setIndexFieldNames(QStringLiteral("ID"));
    DetailMeasureRecord view(m);
    view.showView();

    model.setCurrentRow(1);  // a click on the grid's second row (ID order)
    QCOMPARE(view.valueText(QStringLiteral("ID")), QStringLiteral("17"));
    QCOMPARE(view.valueText(QStringLiteral("Name")), QStringLiteral("ИВАНОВ ИВАН"));
    QCOMPARE(view.valueText(QStringLiteral("DateTime")), QStringLiteral("08.12.26 14:30"));
    QCOMPARE(view.valueText(QStringLiteral("Dose")), QStringLiteral("12.500"));
    QCOMPARE(view.valueText(QStringLiteral("RecoveryTime")), QStringLiteral("08.12.2026 14:30:05"));
    QCOMPARE(view.valueText(QStringLiteral("TarnAddress")), QStringLiteral("66051"));

    // The buttons step in the grid's order, and stop at either end.
    auto *next = view.findChild<QToolButton *>(QStringLiteral("NextRecord"));
    auto *prior = view.findChild<QToolButton *>(QStringLiteral("PriorRecord"));
    QVERIFY(next && prior);
    next->click();
    QCOMPARE(view.valueText(QStringLiteral("ID")), QStringLiteral("23"));
    next->click();
    QCOMPARE(view.valueText(QStringLiteral("ID")), QStringLiteral("23"));
    prior->click();
    prior->click();
    prior->click();
    QCOMPARE(view.valueText(QStringLiteral("ID")), QStringLiteral("5"));
    QTRY_COMPARE(model.rowOfCurrent(), 0);
}

void TestDetailView::markIsWrittenAtOnce()
{
    addReading(17, QStringLiteral("ИВАНОВ ИВАН"), 12.5, 30);
    addReading(23, QStringLiteral("ПЕТРОВ ПЁТР"), 0.25, 31);
    DataTable &m = m_f.dm->measures();
    m.first();
    const QVariant firstKey = m.getBookmark();
    DetailMeasureRecord view(m);
    view.showView();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    auto *check = view.findChild<QCheckBox *>();
    QVERIFY(check && check->isEnabled());

    // A click on the caption flips the mark, and it is in the file at once.
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(40, check->height() / 2));
    QVERIFY(view.markShown());
    QCOMPARE(m.state(), TableState::Browse);
    QCOMPARE(storedCheck(firstKey).toInt(), 1);
    m.refresh();  // the grid re-read: the mark stays
    QVERIFY(view.markShown());

    // Marked, then the next record: the mark stays stored, the next one is shown.
    view.findChild<QToolButton *>(QStringLiteral("NextRecord"))->click();
    QCOMPARE(view.valueText(QStringLiteral("ID")), QStringLiteral("23"));
    QVERIFY(!view.markShown());
    view.toggleMark();
    view.toggleMark();
    QCOMPARE(storedCheck(m.getBookmark()).toInt(), 0);
    // Marked on another monitor meanwhile, then here: the mark stands and
    // the audit row says it was marked already.
    m.exec(QStringLiteral("UPDATE %1 SET \"Check\" = 1 WHERE \"Index\" = ?").arg(m.sqlName()), {m.getBookmark()});
    QVERIFY(!view.markShown());
    view.toggleMark();
    QCOMPARE(storedCheck(m.getBookmark()).toInt(), 1);
    const QList<AuditRecord> audit = AuditLog(*m_f.dm).query({}, {}, QString()).value;
    QCOMPARE(audit.size(), 4);
    QCOMPARE(audit.last().entry.before, AuditLog::valuesText({{QStringLiteral("Check"), true}}));

    // The program closed and started again: the mark is there.
    m_f.dm->dataModuleDestroy();
    m_f.dm = std::make_unique<DataModule>();
    m_f.dm->dataModuleCreate(toldBy(activePrompt()));
    QCOMPARE(storedCheck(firstKey).toInt(), 1);
}

void TestDetailView::nothingToMarkWithoutARow()
{
    DataTable &m = m_f.dm->measures();
    DetailMeasureRecord view(m);
    view.showView();
    auto *check = view.findChild<QCheckBox *>();
    QVERIFY(!check->isEnabled());
    view.setMark(true);
    view.findChild<QToolButton *>(QStringLiteral("NextRecord"))->click();
    QCOMPARE(m.totalRows(), qint64(0));  // no blank reading was posted
    QVERIFY(!view.markShown());
    QCOMPARE(view.valueText(QStringLiteral("Index")), QString());

    // Every row filtered out: the same.
    addReading(17, QStringLiteral("ИВАНОВ ИВАН"), 12.5, 30);
    m.setFilter(QStringLiteral("ID=999"));
    m.setFiltered(true);
    QVERIFY(!check->isEnabled());
    view.setMark(true);
    QCOMPARE(m.totalRows(), qint64(1));
    QCOMPARE(view.valueText(QStringLiteral("ID")), QString());
    m.setFiltered(false);
    QVERIFY(storedCheck(m.getBookmark()).isNull());
}

QTEST_MAIN(TestDetailView)
#include "tst_detail_view.moc"

// The issue journal: real SQLite files in a
// temporary program directory, real widgets offscreen, scripted answers.

#include "RecordsFixture.h"

#include "core/AppState.h"
#include "core/Prompt.h"
#include "core/TextCode.h"
#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/Journal.h"
#include "records/ui/AuditWindow.h"
#include "records/ui/Cards.h"
#include "records/ui/JournalTotals.h"
#include "records/ui/DateBox.h"
#include "records/ui/NoteBind.h"
#include "records/ui/NoteBook.h"
#include "records/ui/NoteUnBind.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>
#include <memory>

namespace {

const QDateTime Now(QDate(2026, 12, 9), QTime(14, 30, 15));

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

private:
    RecordsFixture m_f;
    bool m_flag = false;

    DataTable &notes() { return m_f.dm->notes(); }

    JournalContext context()
    {
        JournalContext c;
        c.dm = m_f.dm.get();
        c.prompt = &activePrompt();
        c.namesOutOfStep = [this] { return m_flag; };
        c.markNamesOutOfStep = [this] { m_flag = true; };
        c.now = [] { return Now; };
        return c;
    }

    QVariant addRow(int id, const QString &fio, const QDateTime &from, const QDateTime &to = QDateTime())
    {
        return m_f.addNote(id, fio, from, to);
    }

    int rowCount() { return int(notes().totalRows()); }

private slots:
    void init()
    {
        QVERIFY(m_f.open());
        m_flag = false;
    }

    void cleanup()
    {
        m_f.close();
    }

    // The bind dialog: today and now prefilled also on an empty journal, an
    // emptied date refused with the dialog open, numbers checked.
    void bindDialog()
    {
        Journal journal(*m_f.dm, [this] { m_flag = true; });
        {
            NoteBind dialog(activePrompt(), journal, {}, Now);
            QCOMPARE(dialog.dateBox()->value(), Now.date());
            QCOMPARE(dialog.timePicker()->time(), Now.time());
            QVERIFY(dialog.numberBox()->text().isEmpty());
            dialog.numberBox()->setText(QStringLiteral("5"));
            // Whole characters only, and only what the code page holds.
            dialog.nameBox()->insert(QString(39, QChar(u'Ж')) + QStringLiteral("😀"));  // as a paste does
            QCOMPARE(dialog.nameBox()->text(), QString(39, QChar(u'Ж')));
            dialog.nameBox()->setText(QStringLiteral("Łukasz 😀"));
            dialog.accept();
            QCOMPARE(m_f.prompt->texts().last(), refusedCharactersText(QStringLiteral("Ф.И.О."), QStringLiteral("Ł😀")));
            QCOMPARE(rowCount(), 0);
            dialog.nameBox()->setText(QStringLiteral("Петров Пётр Петрович"));
            dialog.dateBox()->clear();
            QVERIFY(dialog.dateBox()->text().trimmed().isEmpty());
            dialog.accept();
            QCOMPARE(m_f.prompt->texts().last(), Journal::NoDateText);
            QVERIFY(dialog.result() != QDialog::Accepted);
            QCOMPARE(rowCount(), 0);
            QVERIFY(!m_flag);
            dialog.dateBox()->setDate(Now.date());
            dialog.accept();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(rowCount(), 1);
        QVERIFY(m_flag);
        QCOMPARE(notes().asDateTime(QStringLiteral("TimeFrom")), Now);

        // A typed date shows as it is typed and is taken as typed (2000 is a
        // leap year); an impossible one, or one before 31.12.1899, is refused
        // with one message for Enter and stays in the box unchanged.
        {
            NoteBind dialog(activePrompt(), journal, {}, Now);
            DateBox *box = dialog.dateBox();
            dialog.numberBox()->setText(QStringLiteral("8"));
            box->selectAll();
            QTest::keyClicks(box, QStringLiteral("2902"));
            QCOMPARE(box->text(), QStringLiteral("29.02"));
            QTest::keyClicks(box, QStringLiteral("2000"));
            QCOMPARE(box->value(), QDate(2000, 2, 29));
            for (const QString &typed : {QStringLiteral("31.02.2000"), QStringLiteral("01.01.0001")}) {
                box->selectAll();
                QTest::keyClicks(box, QString(typed).remove(QLatin1Char('.')));
                const int told = m_f.prompt->texts().size();
                QTest::keyClick(box, Qt::Key_Return);
                QCOMPARE(m_f.prompt->texts().size(), told + 1);
                QCOMPARE(m_f.prompt->texts().last(), DateBox::refusedText(typed));
                QCOMPARE(box->text(), typed);
                QCOMPARE(box->value(), QDate(2000, 2, 29));
                dialog.accept();
                QVERIFY(dialog.result() != QDialog::Accepted);
                QCOMPARE(rowCount(), 1);
            }
        }

        // Issued: refused with the holder's name; the conflicting row is current.
        const QDateTime t = Now.addDays(-1);
        const QVariant other = addRow(6, QStringLiteral("Сидоров"), t);
        const Result<> issued = journal.bind(QStringLiteral("5"), QStringLiteral("Иванов"), t.date(), t.time());
        QCOMPARE(issued.kind(), ErrorKind::Conflict);
        QCOMPARE(issued.errorText(), Journal::issuedText(QStringLiteral("Петров Пётр Петрович")));
        QCOMPARE(notes().asString(QStringLiteral("FIO")), QStringLiteral("Петров Пётр Петрович"));
        QVERIFY(notes().getBookmark() != other);

        // A dosimeter number is a whole number 0..16777215, blanks around it dropped.
        for (const QString &bad : {QString(), QStringLiteral("abc"), QStringLiteral("-1"), QStringLiteral("+7"),
                                   QStringLiteral("16777216"), QStringLiteral("1.5"), QStringLiteral("99999999999")}) {
            const Result<> refused = journal.bind(bad, QStringLiteral("Иванов"), t.date(), t.time());
            QCOMPARE(refused.kind(), ErrorKind::Failed);
            QCOMPARE(refused.errorText(), Journal::AddFailedText);
        }
        QCOMPARE(rowCount(), 2);
        QVERIFY(journal.bind(QStringLiteral(" 16777215 "), QString(), t.date(), t.time()).ok());
        QCOMPARE(notes().asInteger(QStringLiteral("ID")), 16777215);

        // A released row proposes its dosimeter and person again; an open one nothing.
        addRow(7, QStringLiteral("Кузнецова"), t.addDays(-3), t.addDays(-2));
        {
            NoteBind dialog(activePrompt(), journal, {}, Now);
            QCOMPARE(dialog.numberBox()->text(), QStringLiteral("7"));
            QCOMPARE(dialog.nameBox()->text(), QStringLiteral("Кузнецова"));
            QCOMPARE(dialog.dateBox()->value(), Now.date());
        }
        notes().findKey(other);
        NoteBind open(activePrompt(), journal, {}, Now);
        QVERIFY(open.numberBox()->text().isEmpty());
        QCOMPARE(open.dateBox()->value(), Now.date());
    }

    // A store failure while binding comes back with its cause and the
    // operator's text; no row is half written, the names stay in step, and
    // the dialog shows it as an error and stays open.
    void bindStoreFailure()
    {
        Journal journal(*m_f.dm, [this] { m_flag = true; });
        notes().exec(QStringLiteral("CREATE TEMP TRIGGER refuse BEFORE INSERT ON %1 BEGIN SELECT RAISE(ABORT, 'refused'); END")
                         .arg(notes().sqlName()));
        const Result<> bound = journal.bind(QStringLiteral("5"), QStringLiteral("Иванов"), Now.date(), Now.time());
        QCOMPARE(bound.kind(), ErrorKind::Store);
        QCOMPARE(bound.errorText(), Journal::AddFailedText);
        QCOMPARE(rowCount(), 0);
        QVERIFY(!m_flag);
        {
            NoteBind dialog(activePrompt(), journal, {}, Now);
            dialog.numberBox()->setText(QStringLiteral("5"));
            dialog.accept();
            QVERIFY(dialog.result() != QDialog::Accepted);
            QCOMPARE(m_f.prompt->asked.last().kind, MsgKind::Error);
            QCOMPARE(m_f.prompt->asked.last().text, Journal::AddFailedText);
        }
        notes().exec(QStringLiteral("DROP TRIGGER temp.refuse"));
        QVERIFY(journal.bind(QStringLiteral("5"), QStringLiteral("Иванов"), Now.date(), Now.time()).ok());
        QCOMPARE(rowCount(), 1);
        QVERIFY(m_flag);
    }

    // Release: compared with the stored TimeFrom (milliseconds included),
    // released rows and rows without a TimeFrom refused before the dialog.
    void release()
    {
        Journal journal(*m_f.dm, [this] { m_flag = true; });
        QCOMPARE(journal.checkRelease().kind(), ErrorKind::Conflict);
        QCOMPARE(journal.checkRelease().errorText(), Journal::NotReleasableText);

        const QDateTime from(QDate(2026, 12, 1), QTime(9, 15, 30, 640));
        const QVariant key = addRow(3, QStringLiteral("Смирнов"), from);
        QVERIFY(journal.checkRelease().ok());
        const Result<> early = journal.release(key, from.addSecs(-1));
        QCOMPARE(early.kind(), ErrorKind::Invalid);
        QCOMPARE(early.errorText(), Journal::TooEarlyText);
        QVERIFY(journal.row(key)->to.isNull());
        QVERIFY(!m_flag);

        // The dialog shows the bind second; releasing at it ends at TimeFrom.
        notes().findKey(key);
        {
            NoteUnBind dialog(activePrompt(), journal, Now);
            dialog.releaseDate()->setDate(from.date());
            dialog.releaseTime()->setTime(QTime(9, 15, 30));
            dialog.accept();
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(journal.row(key)->to, from);
        QVERIFY(m_flag);

        notes().findKey(key);
        m_f.prompt->dialogsShown.clear();
        const Result<> released = journal.checkRelease();
        QCOMPARE(released.kind(), ErrorKind::Conflict);
        QCOMPARE(released.errorText(), Journal::releasedAlreadyText(from));
        QVERIFY(released.errorText().endsWith(QStringLiteral("освобождён 01.12.2026 09:15:30")));
        const QVariant midnight = addRow(4, QStringLiteral("Орлова"), from, QDateTime(QDate(2026, 12, 2), QTime(0, 0)));
        notes().findKey(midnight);
        NoteBook book(context());
        book.releaseDosimeter();
        QVERIFY(m_f.prompt->texts().last().endsWith(QStringLiteral("освобождён 02.12.2026")));
        QVERIFY(m_f.prompt->dialogsShown.isEmpty());
    }

    // The window: Ctrl+Delete asks and marks the names out of step, the
    // only-issued toggle, the sort marker and the cell colours.
    void window()
    {
        const QVariant closed = addRow(1, QStringLiteral("Белова"), Now.addDays(-9), Now.addDays(-8));
        const QVariant open = addRow(2, QStringLiteral("Андреев"), Now.addDays(-7));
        NoteBook book(context());
        book.show();
        book.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&book));
        QVERIFY(!book.findChild<QToolButton *>(QStringLiteral("ExtSynchro"))->isVisible());
        // All five columns lie inside the grid, even at the smallest size.
        QHeaderView *titles = book.grid()->horizontalHeader();
        for (const QSize size : {book.size(), book.minimumSize()}) {
            book.resize(size);
            QTRY_COMPARE(book.grid()->viewport()->width(), titles->length());
            for (int c = 0; c < 5; ++c)
                QVERIFY(titles->sectionSize(c) >= titles->sectionSizeHint(c));
        }

        QAbstractItemModel *model = book.grid()->model();
        QCOMPARE(model->headerData(4, Qt::Horizontal).toString(), QStringLiteral("Доза"));
        QCOMPARE(model->index(1, 1).data(Qt::BackgroundRole).value<QColor>(), QColor(0xFF, 0xFF, 0xA0));
        QCOMPARE(model->index(0, 1).data(Qt::BackgroundRole), QVariant());
        QCOMPARE(model->index(0, 0).data(Qt::BackgroundRole).value<QColor>(), QColor(0xA0, 0xFF, 0xFF));
        book.sortByTitle(3);
        book.sortByTitle(3);
        QCOMPARE(book.grid()->horizontalHeader()->sortIndicatorSection(), 3);
        QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("Андреев"));
        QCOMPARE(model->index(0, 3).data(Qt::BackgroundRole).value<QColor>(), QColor(0xA0, 0xFF, 0xFF));
        QCOMPARE(model->index(0, 3).data(Qt::FontRole).value<QFont>().bold(), true);

        book.showOnlyIssued(true);
        QCOMPARE(model->rowCount(), 1);
        book.showOnlyIssued(false);
        QCOMPARE(model->rowCount(), 2);

        notes().findKey(closed);
        m_f.prompt->answers = {PromptButton::Cancel};
        book.deleteEntry();
        QCOMPARE(rowCount(), 2);
        QVERIFY(!m_flag);
        QCOMPARE(m_f.prompt->asked.last().text, Journal::DeleteQuestion);
        QCOMPARE(m_f.prompt->asked.last().unattended, PromptButton::Cancel);
        notes().findKey(closed);
        book.grid()->setFocus();
        QTest::keyClick(book.grid(), Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(rowCount(), 1);
        QVERIFY(m_flag);
        QVERIFY(journalHas(open));
        book.updateSynchro();
        QVERIFY(book.findChild<QToolButton *>(QStringLiteral("ExtSynchro"))->isVisible());
    }

    // A user who may not change the journal or the cards (an auditor): both
    // windows open, every changing command disabled and doing nothing.
    void readOnlyWindows()
    {
        const QVariant open = addRow(2, QStringLiteral("Андреев"), Now.addDays(-7));
        m_flag = true;
        NoteBook book(context());
        book.setReadOnly(true);
        book.show();
        QVERIFY(!book.findChild<QPushButton *>(QStringLiteral("BtnPlus"))->isEnabled());
        QVERIFY(!book.findChild<QPushButton *>(QStringLiteral("BtnEdit"))->isEnabled());
        QVERIFY(book.findChild<QPushButton *>(QStringLiteral("BtnTotals"))->isEnabled());
        QVERIFY(!book.findChild<QToolButton *>(QStringLiteral("ExtSynchro"))->isVisible());
        notes().findKey(open);
        m_f.prompt->answers = {PromptButton::Ok, PromptButton::Ok};
        book.deleteEntry();
        book.releaseDosimeter();
        book.bindDosimeter();
        QVERIFY(journalHas(open));
        QVERIFY(Journal(*m_f.dm, {}).row(open)->to.isNull());
        QVERIFY(m_f.prompt->asked.isEmpty() && m_f.prompt->dialogsShown.isEmpty());

        CardData card;
        card.fio = QStringLiteral("Белова");
        QVERIFY(CardIndex(*m_f.dm).createCard(card));
        int maxCardsIndex = 0;
        Cards list(*m_f.dm, maxCardsIndex);
        list.setReadOnly(true);
        for (const char *name : {"BtnPlus", "BtnMinus", "BtnEdit"})
            QVERIFY2(!list.findChild<QToolButton *>(QLatin1String(name))->isEnabled(), name);
        QVERIFY(list.findChild<QPushButton *>(QStringLiteral("BtnDoseCard"))->isEnabled());
        list.deleteCard();
        list.deleteCardFromGrid();
        list.addCard();
        list.editCard();
        QCOMPARE(m_f.dm->cards().totalRows(), qint64(1));
        QVERIFY(m_f.prompt->asked.isEmpty() && m_f.prompt->dialogsShown.isEmpty());
    }

    // Dose per person over a period, from the readings: the bounds of the
    // entries, overlapping entries (the later TimeFrom wins), unnamed and
    // unattributed readings apart, a period without readings, a reversed
    // period refused, the period in the CSV and the printout.
    void totals()
    {
        auto entry = [this](int id, const QString &fio, const QDateTime &from, const QDateTime &to) {
            const QVariant key = addRow(id, fio, from, to);
            notes().findKey(key);
            notes().edit();
            notes().setFieldValue(QStringLiteral("Dose"), 100.0);  // a stale entry total, never counted
            notes().post();
        };
        DataTable &measures = m_f.dm->measures();
        auto reading = [&measures](int id, const QDateTime &at, double dose) {
            measures.append();
            measures.setFieldValue(QStringLiteral("ID"), id);
            measures.setFieldValue(QStringLiteral("DateTime"), at);
            measures.setFieldValue(QStringLiteral("Dose"), dose);
            measures.post();
        };
        const QDateTime d(QDate(2026, 11, 10), QTime(8, 0));
        entry(1, QStringLiteral("Иванов И.И."), d, d.addDays(5));
        entry(1, QStringLiteral(" Петров П.П. "), d.addDays(5), QDateTime());  // bound in the second of the release
        entry(2, QStringLiteral("Яковлева А.А."), d.addDays(-1), QDateTime());
        entry(2, QStringLiteral("Иванов И.И."), d.addDays(1), d.addDays(2));  // inside Яковлева's
        entry(3, QString(), d, QDateTime());
        entry(4, QStringLiteral("Борисов"), d.addDays(-40), d.addDays(-30));  // before the period
        reading(1, d.addSecs(-1), 32);     // before any entry of dosimeter 1
        reading(1, d, 1);                  // Иванов from his TimeFrom on
        reading(1, d.addDays(5), 2);       // Петров: the later TimeFrom
        reading(1, d.addDays(5).addSecs(3600), 4);
        reading(2, d.addDays(1).addSecs(3600), 0.5);  // Иванов: the later TimeFrom
        reading(2, d.addDays(2), 0.125);   // Иванов up to his TimeTo
        reading(2, d.addDays(3), 0.25);    // Яковлева again
        reading(3, d.addSecs(3600), 8);    // the entry without a name
        reading(9, d, 16);                 // no entry
        reading(1, d.addDays(-60), 64);    // outside the period

        Journal journal(*m_f.dm, {});
        JournalTotals totals(activePrompt(), journal, Now);
        totals.setPeriod(QDate(2026, 11, 1), QDate(2026, 11, 30));
        const QList<QStringList> rows{{QStringLiteral("Иванов И.И."), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("1.625")},
                                      {QStringLiteral("Петров П.П."), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("6.000")},
                                      {QStringLiteral("Яковлева А.А."), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("0.250")}};
        QCOMPARE(totals.rows(), rows);
        QCOMPARE(totals.summary(),
                 (QList<QStringList>{{QStringLiteral("Записи журнала без ФИО"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("8.000")},
                                     {QStringLiteral("Показания вне записей журнала"), QString(), QStringLiteral("2"), QStringLiteral("48.000")},
                                     {QStringLiteral("Всего за период"), QStringLiteral("5"), QStringLiteral("9"), QStringLiteral("63.875")}}));

        // The same sums written independently in SQL: each reading of the
        // period with the entry holding it that no later-starting one beats.
        QSqlQuery q(m_f.dm->database());
        QVERIFY(q.exec(QStringLiteral(
            "SELECT trim(n.\"FIO\"), count(*), total(m.\"Dose\") FROM \"Measures\".\"Measures\" m "
            "JOIN \"Notes\".\"Notes\" n ON n.\"ID\" = m.\"ID\" AND n.\"TimeFrom\" <= m.\"DateTime\" "
            "AND (n.\"TimeTo\" IS NULL OR n.\"TimeTo\" >= m.\"DateTime\") "
            "WHERE m.\"DateTime\" BETWEEN '2026-11-01' AND '2026-11-30 23:59:59.999' AND n.\"FIO\" IS NOT NULL "
            "AND NOT EXISTS (SELECT 1 FROM \"Notes\".\"Notes\" l WHERE l.\"ID\" = m.\"ID\" AND l.\"TimeFrom\" <= m.\"DateTime\" "
            "AND (l.\"TimeTo\" IS NULL OR l.\"TimeTo\" >= m.\"DateTime\") AND l.\"TimeFrom\" > n.\"TimeFrom\") "
            "GROUP BY 1 ORDER BY 1")));
        QList<QStringList> bySql;
        while (q.next())
            bySql.append({q.value(0).toString(), q.value(1).toString(), QString::number(q.value(2).toDouble(), 'f', 3)});
        QList<QStringList> shown;
        for (const QStringList &row : rows)
            shown.append({row[0], row[2], row[3]});
        QCOMPARE(bySql, shown);

        // The period's end shows each digit as it is typed and counts once whole.
        auto *to = totals.findChild<QLineEdit *>(QStringLiteral("DateEdit_To"));
        QVERIFY(to);
        to->selectAll();
        QTest::keyClicks(to, QStringLiteral("1511"));
        QCOMPARE(to->text(), QStringLiteral("15.11"));
        QCOMPARE(totals.periodEnd().date(), QDate(2026, 11, 30));
        QTest::keyClicks(to, QStringLiteral("2026"));
        QCOMPARE(totals.periodEnd().date(), QDate(2026, 11, 15));
        totals.setPeriod(QDate(2026, 11, 1), QDate(2026, 11, 30));

        // A period without readings: nothing, whatever the entries' totals.
        totals.setPeriod(QDate(2026, 12, 1), QDate(2026, 12, 9));
        QCOMPARE(totals.totals().dose, 0.0);
        QCOMPARE(totals.rows().size(), 2);  // Петров and Яковлева still hold their dosimeters
        QCOMPARE(totals.rows()[0].last(), QStringLiteral("0.000"));

        // A reversed period is refused; the figures and their period stay.
        totals.setPeriod(QDate(2026, 11, 1), QDate(2026, 11, 30));
        totals.setPeriod(QDate(2026, 11, 30), QDate(2026, 11, 1));
        QVERIFY(m_f.prompt->texts().contains(Journal::ReversedPeriodText));
        QCOMPARE(totals.rows(), rows);
        QCOMPARE(totals.periodText(), QStringLiteral("Период с 01.11.2026 по 30.11.2026"));
        QCOMPARE(totals.findChild<DateBox *>(QStringLiteral("DateEdit_From"))->date(), QDate(2026, 11, 1));

        // The CSV and the printout begin with the period.
        const QString path = m_f.dir->filePath(QStringLiteral("totals.csv"));
        QVERIFY(totals.exportTo(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY(text.startsWith(QStringLiteral("Период с,01.11.2026,по,30.11.2026\r\n"
                                               "ФИО,Записей в журнале,Показаний,\"Доза, мкЗв\"\r\nИванов И.И.,2,3,1.625\r\n")));
        QVERIFY(text.endsWith(QStringLiteral("\r\nВсего за период,5,9,63.875\r\n")));
        // With the separator of a Russian spreadsheet the dose takes a decimal comma.
        QVERIFY(totals.exportTo(path, CsvFormat::withSeparator(QLatin1Char(';'))));
        f.close();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(f.readAll()).contains(QStringLiteral("\r\nИванов И.И.;2;3;1,625\r\n")));
        const QString page = totals.html();
        QVERIFY(page.indexOf(totals.periodText()) >= 0 && page.indexOf(totals.periodText()) < page.indexOf(QStringLiteral("<table")));

        // The first moment of a period holds a reading taken then, by an
        // entry that ends at that very moment.
        const QDateTime december(QDate(2026, 12, 1), QTime(0, 0));
        entry(5, QStringLiteral("Сидоров С.С."), d, december);
        reading(5, december, 1);
        totals.setPeriod(QDate(2026, 12, 1), QDate(2026, 12, 9));
        QVERIFY(totals.rows().contains({QStringLiteral("Сидоров С.С."), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1.000")}));
    }

    // The audit window: the journal's changes over the period, one table or
    // all, and the CSV export of what it shows.
    void auditWindow()
    {
        Journal journal(*m_f.dm, {});
        QVERIFY(journal.bind(QStringLiteral("5"), QStringLiteral("Петров П.П."), QDate(2026, 12, 1), QTime(8, 0)));
        const QVariant key = notes().fieldValue(notes().keyField());
        QVERIFY(journal.release(key, QDateTime(QDate(2026, 12, 2), QTime(17, 0))));
        QVERIFY(journal.remove(*journal.row(key)));
        QVERIFY(AuditLog(*m_f.dm).append({AuditLog::DosimeterTable, QStringLiteral("5"), AuditLog::WriteAction,
                                          QStringLiteral("Dose=1.000E+01"), QStringLiteral("Dose=0.000E+00")}));

        const QDate today = QDate::currentDate();
        AuditWindow window(activePrompt(), *m_f.dm, QDateTime::currentDateTime());
        QCOMPARE(window.rows().size(), 4);
        auto *tables = window.findChild<QComboBox *>(QStringLiteral("CbTable"));
        QCOMPARE(tables->count(), 3);  // every table, Dosimeter, Notes
        window.setTable(QStringLiteral("Notes"));
        const QList<QStringList> rows = window.rows();
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[1][7], QStringLiteral("изменение"));
        QVERIFY(rows[1][8].contains(QStringLiteral("TimeTo=;")));
        QVERIFY(rows[1][9].contains(QStringLiteral("TimeTo=2026-12-02 17:00:00.000")));
        QCOMPARE(rows[2][7], QStringLiteral("удаление"));
        QVERIFY(rows[2][8].contains(QStringLiteral("FIO=Петров П.П.")));
        if (qEnvironmentVariableIsSet("RUVO_AUDIT_SHOT")) {
            window.setTable(QString());
            window.resize(1000, 300);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.grab().save(qEnvironmentVariable("RUVO_AUDIT_SHOT"));
            window.setTable(QStringLiteral("Notes"));
        }

        const QString path = m_f.dir->filePath(QStringLiteral("audit.csv"));
        QVERIFY(window.exportTo(path));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].startsWith(QStringLiteral("Время,Время UTC,Пользователь БД")));
        QVERIFY(lines[3].contains(QStringLiteral(",Notes,%1,удаление,").arg(key.toString())));

        // A period before the changes shows none of them.
        window.setPeriod(today.addDays(-10), today.addDays(-1));
        QVERIFY(window.rows().isEmpty());
    }

private:
    bool journalHas(const QVariant &key) { return Journal(*m_f.dm, {}).row(key).has_value(); }
};

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"

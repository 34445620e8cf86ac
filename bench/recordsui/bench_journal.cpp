// The journal window over a Notes table of many rows (100 000 by default)
// and three readings per row in Measures: how long opening it takes (window
// built, shown, first screen painted), sorting by a column, the only-issued
// toggle and the totals per person.

#include "core/AppState.h"
#include "core/Platform.h"
#include "core/Prompt.h"
#include "records/AuditLog.h"
#include "records/DataModule.h"
#include "records/Journal.h"
#include "records/StoredDateTime.h"
#include "records/ui/AuditWindow.h"
#include "records/ui/NoteBook.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVariantList>

namespace {

const QStringList Surnames = {QStringLiteral("Иванов"), QStringLiteral("Петров"), QStringLiteral("Сидоров"),
                              QStringLiteral("Кузнецов"), QStringLiteral("Смирнов"), QStringLiteral("Попов"),
                              QStringLiteral("Васильев"), QStringLiteral("Соколов"), QStringLiteral("Михайлов"),
                              QStringLiteral("Новиков")};

void fill(DataModule &dm, int rows)
{
    DataTable &notes = dm.notes();
    Transaction tr(dm);
    QSqlQuery q(dm.database());
    q.prepare(QStringLiteral("INSERT INTO %1 (\"ID\", \"TimeFrom\", \"TimeTo\", \"FIO\", \"Dose\") VALUES (?, ?, ?, ?, ?)")
                  .arg(notes.sqlName()));
    const QDateTime base(QDate(2015, 1, 1), QTime(8, 0));
    for (int i = 0; i < rows; ++i) {
        const QDateTime from = base.addSecs(qint64(i) * 3000);
        const bool open = i >= rows - 500;
        q.addBindValue(i % 3000 + 1);
        q.addBindValue(dateTimeToStored(from));
        q.addBindValue(open ? QVariant() : QVariant(dateTimeToStored(from.addSecs(2900))));
        q.addBindValue(Surnames[i % Surnames.size()] + QStringLiteral(" ") + QString::number(i % 997));
        q.addBindValue((i % 500) / 10.0);
        q.exec();
    }
    // Three readings per entry: one at its TimeFrom, one inside it and one
    // of a dosimeter that no entry names.
    QSqlQuery m(dm.database());
    m.prepare(QStringLiteral("INSERT INTO %1 (\"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Dose\") "
                             "VALUES (?, ?, ?, ?, ?)")
                  .arg(dm.measures().sqlName()));
    for (int i = 0; i < rows; ++i) {
        const QDateTime from = base.addSecs(qint64(i) * 3000);
        const int ids[3] = {i % 3000 + 1, i % 3000 + 1, 5000 + i % 7};
        const qint64 offsets[3] = {0, 1450, 700};
        for (int k = 0; k < 3; ++k) {
            m.addBindValue(1);
            m.addBindValue(i * 3 + k);
            m.addBindValue(dateTimeToStored(from.addSecs(offsets[k])));
            m.addBindValue(ids[k]);
            m.addBindValue((i % 50) / 100.0 + k);
            m.exec();
        }
    }
    tr.commit();
    notes.refresh();
    dm.measures().refresh();
}

double ms(QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    keepLocalTimeZone();  // as the program does
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTemporaryDir dir;
    appState().programDir = dir.path() + QLatin1Char('/');
    DataModule dm;
    dm.dataModuleCreate(toldBy(activePrompt()));
    fill(dm, rows);
    QTextStream out(stdout);
    out << "Notes rows: " << dm.notes().totalRows() << ", Measures rows: " << dm.measures().totalRows() << Qt::endl;

    bool flag = false;
    JournalContext context;
    context.dm = &dm;
    context.prompt = &activePrompt();
    context.namesOutOfStep = [&flag] { return flag; };
    context.markNamesOutOfStep = [&flag] { flag = true; };

    QElapsedTimer t;
    t.start();
    NoteBook book(context);
    book.show();
    book.grid()->viewport()->repaint();
    app.processEvents();
    out << "open the journal (build, show, first screen): " << QString::number(ms(t), 'f', 1) << " ms" << Qt::endl;

    t.restart();
    book.sortByTitle(3);
    book.grid()->viewport()->repaint();
    out << "sort by FIO, first screen: " << QString::number(ms(t), 'f', 1) << " ms" << Qt::endl;

    t.restart();
    book.grid()->scrollToBottom();
    book.grid()->viewport()->repaint();
    out << "jump to the end: " << QString::number(ms(t), 'f', 1) << " ms" << Qt::endl;

    t.restart();
    book.showOnlyIssued(true);
    book.grid()->viewport()->repaint();
    out << "only the issued ones, first screen: " << QString::number(ms(t), 'f', 1) << " ms" << Qt::endl;
    book.showOnlyIssued(false);

    // The best of five, the machine being shared.
    double best = 0;
    Result<DoseAttribution> totals;
    for (int run = 0; run < 5; ++run) {
        t.restart();
        totals = book.journal().totals(QDateTime(QDate(2016, 1, 1), QTime(0, 0)),
                                       QDateTime(QDate(2016, 12, 31), QTime(23, 59, 59, 999)));
        best = run == 0 ? ms(t) : qMin(best, ms(t));
    }
    out << "totals per person over a year (" << totals.value.persons.size() << " people, " << totals.value.readings
        << " readings; best of 5): " << QString::number(best, 'f', 1) << " ms" << Qt::endl;

    t.restart();
    book.journal().bind(QStringLiteral("99999"), QStringLiteral("Тестов Т.Т."), QDate::currentDate(), QTime::currentTime());
    book.grid()->viewport()->repaint();
    out << "bind one dosimeter (check, append, repaint): " << QString::number(ms(t), 'f', 1) << " ms" << Qt::endl;

    // The audit window over a month in which 50 000 readings were stored,
    // each with its audit row.
    {
        Transaction tr(dm);
        QSqlQuery a(dm.database());
        a.prepare(QStringLiteral("INSERT INTO %1 (\"TimeUtc\", \"TimeLocal\", \"OsUser\", \"Monitor\", \"TableName\", "
                                 "\"RowKey\", \"Action\", \"After\") VALUES (?, ?, 'operator', 'pc1', 'Measures', ?, ?, ?)")
                      .arg(dm.audit().sqlName()));
        const QDateTime monthStart(QDate(QDate::currentDate().year(), QDate::currentDate().month(), 1), QTime(0, 0));
        for (int i = 0; i < 50000; ++i) {
            const QDateTime at = monthStart.addSecs(i % 3600);
            a.addBindValue(at.toUTC().toString(Qt::ISODateWithMs));
            a.addBindValue(dateTimeToStored(at));
            a.addBindValue(QString::number(i + 1));
            a.addBindValue(AuditLog::InsertAction);
            a.addBindValue(QStringLiteral("Index=%1; TarnAddress=1; RecNumber=%2; DateTime=%3; ID=%4; Dose=1.5")
                               .arg(i + 1)
                               .arg(i % 2000 + 1)
                               .arg(dateTimeToStored(at))
                               .arg(i % 3000));
            a.exec();
        }
        tr.commit();
    }
    t.restart();
    const int auditRows = int(AuditLog(dm).query({}, {}, QString()).value.size());
    out << "read " << auditRows << " audit rows: " << QString::number(ms(t), 'f', 1) << " ms" << Qt::endl;
    t.restart();
    {
        AuditWindow audit(activePrompt(), dm, QDateTime::currentDateTime());
        audit.show();
        audit.repaint();
        out << "open the audit window over a month of 50 000 rows (build, read, show): "
            << QString::number(ms(t), 'f', 1) << " ms" << Qt::endl;
    }
    dm.dataModuleDestroy();
    return 0;
}

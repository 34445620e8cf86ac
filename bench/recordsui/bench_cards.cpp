// The card list over a Cards table of many rows (100 000 by default): how
// long opening it takes (window built, shown, first screen painted), the
// name and number search per keystroke (the card found and the grid on it),
// opening the editor on a new card and the label proposal per keystroke
// (checked against every stored label), and one label look-up as the label binding
// makes it.

#include "BenchFigures.h"
#include "core/AppState.h"
#include "core/Prompt.h"
#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/StoredDateTime.h"
#include "records/ui/CardEdit.h"
#include "records/ui/Cards.h"

#include <QApplication>
#include <QLineEdit>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>

namespace {

const QStringList Surnames = {
    QStringLiteral("Иванов"),   QStringLiteral("Петров"),   QStringLiteral("Сидоров"),  QStringLiteral("Кузнецов"),
    QStringLiteral("Смирнов"),  QStringLiteral("Попов"),    QStringLiteral("Васильев"), QStringLiteral("Соколов"),
    QStringLiteral("Михайлов"), QStringLiteral("Новиков"),  QStringLiteral("Фёдоров"),  QStringLiteral("Морозов"),
    QStringLiteral("Волков"),   QStringLiteral("Алексеев"), QStringLiteral("Лебедев"),  QStringLiteral("Семёнов"),
    QStringLiteral("Егоров"),   QStringLiteral("Павлов"),   QStringLiteral("Козлов"),   QStringLiteral("Степанов")};
const QStringList Names = {QStringLiteral("Иван"),   QStringLiteral("Пётр"),   QStringLiteral("Сергей"),
                           QStringLiteral("Анна"),   QStringLiteral("Ольга"),  QStringLiteral("Михаил"),
                           QStringLiteral("Елена"),  QStringLiteral("Андрей"), QStringLiteral("Наталья"),
                           QStringLiteral("Дмитрий")};
const QStringList Patronymics = {QStringLiteral("Иванович"), QStringLiteral("Петрович"), QStringLiteral("Сергеевич"),
                                 QStringLiteral("Алексеевич"), QStringLiteral("Николаевич"),
                                 QStringLiteral("Владимирович"), QStringLiteral("Юрьевич")};

void fill(DataModule &dm, int rows)
{
    DataTable &cards = dm.cards();
    Transaction tr(dm);
    QSqlQuery q(dm.database());
    q.prepare(QStringLiteral("INSERT INTO %1 (\"ID\", \"FIO\", \"FIO_RFID\", \"BirthDay\", \"isMale\", \"Vacancy\", "
                             "\"SubDiv\") VALUES (?, ?, ?, ?, ?, ?, ?)")
                  .arg(cards.sqlName()));
    for (int i = 0; i < rows; ++i) {
        const QString fio = Surnames[i % Surnames.size()] + QString::number(i / 1000) + QLatin1Char(' ')
            + Names[(i / 20) % Names.size()] + QLatin1Char(' ') + Patronymics[(i / 200) % Patronymics.size()];
        q.addBindValue(i + 1);
        q.addBindValue(fio);
        q.addBindValue(CardIndex::labelFromName(fio).left(CardIndex::LabelSize - 1) + QString::number(i % 10));
        q.addBindValue(QDate(1960, 1, 1).addDays(i % 15000).toString(Qt::ISODate));
        q.addBindValue(i % 2);
        q.addBindValue(QStringLiteral("инженер"));
        q.addBindValue(QStringLiteral("цех %1").arg(i % 40));
        q.exec();
    }
    tr.commit();
    cards.refresh();
}

// The slowest of the keystrokes typing `text` into the box, each timed up to
// the grid being on the card found.
double slowestKeystroke(Cards &list, const char *box, const QString &text)
{
    auto *edit = list.findChild<QLineEdit *>(QString::fromLatin1(box));
    edit->clear();
    QApplication::processEvents();
    double worst = 0;
    for (int i = 1; i <= text.size(); ++i) {
        worst = std::max(worst, ms([&] {
                             edit->setText(text.left(i));
                             QApplication::processEvents();
                         }));
    }
    return worst;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTemporaryDir dir;
    appState().programDir = dir.path() + QLatin1Char('/');
    DataModule dm;
    dm.dataModuleCreate(toldBy(activePrompt()));
    line(QStringLiteral("filling Cards with %1 rows").arg(rows), ms([&] { fill(dm, rows); }));
    // The table as after a start: indexes in place and their statistics known.
    dm.rebuildIndexes(dm.cards());

    int maxCardsIndex = 0;
    double open = 0;
    {
        std::unique_ptr<Cards> list;
        open = ms([&] {
            list = std::make_unique<Cards>(dm, maxCardsIndex);
            list->show();
            QApplication::processEvents();
            list->findChild<QTableView *>()->viewport()->repaint();
        });
        line(QStringLiteral("card list opened (built, shown, first screen)"), open);
        line(QStringLiteral("name search, slowest keystroke of \"Степанов42 А\""),
             slowestKeystroke(*list, "Edit_FindFIO", QStringLiteral("Степанов42 А")));
        line(QStringLiteral("name search, slowest keystroke of \"ива\""),
             slowestKeystroke(*list, "Edit_FindFIO", QStringLiteral("ива")));
        line(QStringLiteral("name search, slowest keystroke, no card found (\"Щукин\")"),
             slowestKeystroke(*list, "Edit_FindFIO", QStringLiteral("Щукин")));
        line(QStringLiteral("number search, slowest keystroke of \"%1\"").arg(rows - 7),
             slowestKeystroke(*list, "Edit_FindID", QString::number(rows - 7)));
    }
    line(QStringLiteral("card list opened again"), ms([&] {
             Cards list(dm, maxCardsIndex);
             list.show();
             QApplication::processEvents();
         }));

    CardIndex index(dm);
    {
        std::unique_ptr<CardEdit> editor;
        line(QStringLiteral("editor on a new card"), ms([&] {
                 editor = std::make_unique<CardEdit>(index, maxCardsIndex);
                 editor->startNew(index.nextNumber(maxCardsIndex).value);
             }));
        auto *fio = editor->findChild<QLineEdit *>(QStringLiteral("FIO"));
        editor->show();
        fio->setFocus();
        QApplication::processEvents();
        const QString name = QStringLiteral("Степанов4 Иван Петрович");
        double worst = 0;
        for (int i = 1; i <= name.size(); ++i)
            worst = std::max(worst, ms([&] { fio->setText(name.left(i)); }));
        line(QStringLiteral("label proposal, slowest keystroke"), worst);
    }
    line(QStringLiteral("label look-up as the dosimeter holds it (found)"),
         ms([&] { index.findCardByLabel(QStringLiteral("Степанов4ИП9")); }));
    line(QStringLiteral("label look-up as the dosimeter holds it (none)"),
         ms([&] { index.findCardByLabel(QStringLiteral("ЩукинАА")); }));
    dm.dataModuleDestroy();
    return open < 100 ? 0 : 1;
}

// The card index: label proposal and label look-ups, numbers and age on a
// real Cards file; the card list and the editor as real widgets with
// scripted answers.

#include "RecordsFixture.h"
#include "core/Errors.h"
#include "core/AppState.h"
#include "core/TextCode.h"
#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/ui/CardEdit.h"
#include "records/ui/Cards.h"
#include "records/ui/DateBox.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

CardData person(const QString &fio, const QString &label, int id = 1)
{
    CardData c;
    c.fio = fio;
    c.label = label;
    c.id = id;
    return c;
}

template <typename T>
T *child(QObject *dialog, const char *name)
{
    T *w = dialog->findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

// Types a text key by key, as a keyboard with Cyrillic letters does.
void typeText(QWidget *w, const QString &text)
{
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

// Types a name into the editor's name box the way an operator does (a click
// into the box first) and returns the label box's text.
QString typeName(QObject *editor, const QString &name)
{
    auto *fio = child<QLineEdit>(editor, "FIO");
    QTest::mouseClick(fio, Qt::LeftButton);
    fio->selectAll();
    typeText(fio, name);
    return child<QLineEdit>(editor, "FIO_RFID")->text();
}

} // namespace

class TestCards : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void labelProposal();
    void labelsComparedAsTheDosimeterHoldsThem();
    void numbersAndAge();
    void newCardThroughTheList();
    void editingSearchAndDeleting();

private:
    RecordsFixture m_f;
};

void TestCards::init()
{
    QVERIFY(m_f.open());
}

void TestCards::cleanup()
{
    m_f.close();
}

void TestCards::labelProposal()
{
    CardIndex index(*m_f.dm);
    QCOMPARE(CardIndex::labelFromName(QStringLiteral("Петров Иван Сергеевич")), QStringLiteral("ПетровИС"));
    QCOMPARE(CardIndex::labelFromName(QStringLiteral("Петров")), QStringLiteral("Петров"));
    QCOMPARE(CardIndex::labelFromName(QStringLiteral("Петров Иван")), QStringLiteral("ПетровИ"));
    QCOMPARE(CardIndex::labelFromName(QStringLiteral("Абвгдежзийклмнопрсту")), QStringLiteral("Абвгдежзийклмн"));
    // Initials are whole characters the dosimeter holds, never half of an emoji.
    QCOMPARE(CardIndex::labelFromName(QStringLiteral("Петров 😀ван Łukasz")), QStringLiteral("Петроввu"));
    // Leading and repeated blanks do not make an empty surname or lose an initial.
    QCOMPARE(index.proposeLabel(QStringLiteral("  Петров   Иван  Сергеевич ")), QStringLiteral("ПетровИС"));

    index.createCard(person(QStringLiteral("Петров Иван Сергеевич"), QStringLiteral("ПетровИС")));
    QCOMPARE(index.proposeLabel(QStringLiteral("Петров Игорь Семёнович")), QStringLiteral("ПетровИС0"));
    index.createCard(person(QStringLiteral("Петров Игорь Семёнович"), QStringLiteral("ПетровИС0")));
    QCOMPARE(index.proposeLabel(QStringLiteral("Петров Илья Савельевич")), QStringLiteral("ПетровИС1"));

    // Checked also without both initials.
    index.createCard(person(QStringLiteral("Сидоров"), QStringLiteral("Сидоров")));
    QCOMPARE(index.proposeLabel(QStringLiteral("Сидоров")), QStringLiteral("Сидоров0"));

    // Checked on the 16 characters the field keeps: a long surname whose cut
    // label is taken gets a digit within the 16 characters.
    const QString longName = QStringLiteral("Константинопольский Иван Сергеевич");
    const QString first = index.proposeLabel(longName);
    QCOMPARE(first, QStringLiteral("Константинопольс"));
    index.createCard(person(longName, first));
    const QString second = index.proposeLabel(longName);
    QCOMPARE(second, QStringLiteral("Константинополь0"));
    QVERIFY(second.size() <= CardIndex::LabelSize);
}

void TestCards::labelsComparedAsTheDosimeterHoldsThem()
{
    CardIndex index(*m_f.dm);
    // "ПетровИC" ends in a Latin C, which the dosimeter holds as it holds С.
    const QVariant latin = index.createCard(person(QStringLiteral("Петров Иван Сергеевич"), QStringLiteral("ПетровИC"))).value;
    index.createCard(person(QStringLiteral("Коваль Олег"), QStringLiteral("КовалЬО")));

    QCOMPARE(index.proposeLabel(QStringLiteral("Петров Иван Сергеевич")), QStringLiteral("ПетровИС0"));
    QCOMPARE(index.proposeLabel(QStringLiteral("Коваль Остап")), QStringLiteral("КовальО0"));
    QVERIFY(index.labelTaken(QStringLiteral("ПетровИС")));
    QVERIFY(!index.labelTaken(QStringLiteral("ПетровИС"), latin));
    QVERIFY(!index.labelTaken(QStringLiteral("   ")));

    // A label read back from a dosimeter: padded with blanks to 16.
    const std::optional<CardData> found = index.findCardByLabel(QStringLiteral("ПетровИС        "));
    QVERIFY(found);
    QCOMPARE(found->key, latin);
    QCOMPARE(found->fio, QStringLiteral("Петров Иван Сергеевич"));
    QVERIFY(!index.findCardByLabel(QStringLiteral("Иванов")));
    QVERIFY(!index.findCardByLabel(QString()));
}

void TestCards::numbersAndAge()
{
    CardIndex index(*m_f.dm);
    QCOMPARE(index.nextNumber(0).value, 1);
    index.createCard(person(QStringLiteral("Иванов"), QString(), 70));
    // The settings file lost or older than the table: the table's number counts.
    QCOMPARE(index.nextNumber(0).value, 71);
    QCOMPARE(index.nextNumber(100).value, 101);
    // Nine digits at most: the last number is offered, none after it, and a
    // card numbered past it is not stored.
    QCOMPARE(index.nextNumber(CardIndex::LargestNumber - 1).value, CardIndex::LargestNumber);
    QCOMPARE(index.nextNumber(CardIndex::LargestNumber).kind(), ErrorKind::Conflict);
    QVERIFY(!index.nextNumber(CardIndex::LargestNumber).errorText().isEmpty());
    const Result<QVariant> outOfRange = index.createCard(person(QStringLiteral("Петров"), QString(), 1000000000));
    QCOMPARE(outOfRange.kind(), ErrorKind::Invalid);
    QVERIFY(outOfRange.errorText().contains(QStringLiteral("1000000000")));
    QCOMPARE(index.largestNumber(), 70);
    index.createCard(person(QStringLiteral("Яковлев"), QString(), CardIndex::LargestNumber));
    {
        int maxCardsIndex = 0;
        Cards list(*m_f.dm, maxCardsIndex);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        auto *grid = child<QTableView>(&list, "RxDBGrid");
        const int shown = grid->columnWidth(0);
        grid->resizeColumnToContents(0);
        QVERIFY(grid->columnWidth(0) <= shown);  // the largest number shows whole
    }

    const QDate birth(2000, 3, 10);
    // On the birthday itself the new year counts (days / 365.25 would say 25).
    QCOMPARE(CardIndex::fullYears(birth, QDate(2026, 3, 10)), std::optional<int>(26));
    QCOMPARE(CardIndex::fullYears(birth, QDate(2026, 3, 9)), std::optional<int>(25));
    QCOMPARE(CardIndex::fullYears(QDate(2004, 2, 29), QDate(2025, 2, 28)), std::optional<int>(20));
    QCOMPARE(CardIndex::fullYears(QDate(2004, 2, 29), QDate(2025, 3, 1)), std::optional<int>(21));
    QCOMPARE(CardIndex::ageText(birth, QDate(2026, 3, 10)), QStringLiteral("(Число полных лет - 26 )"));
    QCOMPARE(CardIndex::ageText(QDate(), QDate(2026, 3, 10)), QStringLiteral("(Число полных лет - ? )"));
    QCOMPARE(CardIndex::ageText(CardIndex::missingDate(), QDate(2026, 3, 10)),
             QStringLiteral("(Число полных лет - ? )"));
}

void TestCards::newCardThroughTheList()
{
    int maxCardsIndex = 0;
    Cards list(*m_f.dm, maxCardsIndex);
    QString proposed, numberShown, handLabel, ageShown;
    m_f.prompt->dialogs[QStringLiteral("TCardEdit")] = [&](QObject *d) -> int {
        auto *editor = static_cast<CardEdit *>(d);
        numberShown = QString::number(child<QSpinBox>(d, "ID")->value());
        ageShown = child<QLabel>(d, "Label_FullAge")->text();
        proposed = typeName(d, QStringLiteral("Петров Иван Сергеевич"));
        // A label typed by hand stays until the name box is entered again.
        auto *label = child<QLineEdit>(d, "FIO_RFID");
        QTest::mouseClick(label, Qt::LeftButton);
        label->setText(QStringLiteral("ПИС"));
        typeText(label, QStringLiteral("Ł😀"));  // never enters the label box
        typeText(child<QLineEdit>(d, "FIO"), QStringLiteral("а"));
        handLabel = label->text();
        typeName(d, QStringLiteral("Петров Иван Сергеевич"));
        child<QSpinBox>(d, "ID")->setValue(50);
        editor->accept();
        return editor->result();
    };
    list.addCard();
    QCOMPARE(numberShown, QStringLiteral("1"));
    QCOMPARE(ageShown, QStringLiteral("(Число полных лет - )"));
    QCOMPARE(proposed, QStringLiteral("ПетровИС"));
    QCOMPARE(handLabel, QStringLiteral("ПИС"));
    QVERIFY(m_f.prompt->beeps > 0);
    QCOMPARE(maxCardsIndex, 50);
    std::optional<CardData> saved = list.currentCard();
    QVERIFY(saved);
    QCOMPARE(saved->label, QStringLiteral("ПетровИС"));
    QVERIFY(!saved->isMale);  // a sex never chosen stays blank
    QVERIFY(m_f.dm->cards().isNull(QStringLiteral("isMale")));
    QVERIFY(saved->birthDay.isNull());

    // The next card: number 51, the second Петров И. С. gets a digit; a
    // smaller number saved does not lower the remembered one.
    m_f.prompt->dialogs[QStringLiteral("TCardEdit")] = [&](QObject *d) -> int {
        auto *editor = static_cast<CardEdit *>(d);
        numberShown = QString::number(child<QSpinBox>(d, "ID")->value());
        proposed = typeName(d, QStringLiteral("Петров Игорь Семёнович"));
        d->findChildren<QRadioButton *>().at(1)->setChecked(true);  // "Женский"
        child<DateBox>(d, "DateEdit")->setValue(QDate(1990, 5, 17));
        child<QSpinBox>(d, "ID")->setValue(7);
        editor->accept();
        return editor->result();
    };
    list.addCard();
    QCOMPARE(numberShown, QStringLiteral("51"));
    QCOMPARE(proposed, QStringLiteral("ПетровИС0"));
    QCOMPARE(maxCardsIndex, 50);
    saved = list.currentCard();
    QCOMPARE(saved->isMale, std::optional<bool>(false));
    QCOMPARE(saved->birthDay, QDate(1990, 5, 17));

    // Cancel stores nothing; nor does a name the code page cannot hold.
    m_f.prompt->dialogs[QStringLiteral("TCardEdit")] = [&](QObject *d) -> int {
        typeName(d, QStringLiteral("Сидоров"));
        return 0;
    };
    list.addCard();
    QCOMPARE(m_f.dm->cards().recordCount(), 2);
    m_f.prompt->dialogs[QStringLiteral("TCardEdit")] = [&](QObject *d) -> int {
        typeName(d, QStringLiteral("Сидоров Łukasz"));
        static_cast<CardEdit *>(d)->accept();
        return static_cast<CardEdit *>(d)->result();
    };
    list.addCard();
    QCOMPARE(m_f.prompt->texts().last(), refusedCharactersText(QStringLiteral("ФИО"), QStringLiteral("Ł")));
    QCOMPARE(m_f.dm->cards().recordCount(), 2);
}

void TestCards::editingSearchAndDeleting()
{
    int maxCardsIndex = 0;
    {
        // Edit on an empty table: an empty editor whose saving creates a card.
        Cards list(*m_f.dm, maxCardsIndex);
        m_f.prompt->dialogs[QStringLiteral("TCardEdit")] = [&](QObject *d) -> int {
            auto *editor = static_cast<CardEdit *>(d);
            if (!child<QLineEdit>(d, "FIO")->text().isEmpty() || !editor->card().key.isNull())
                return 0;
            typeName(d, QStringLiteral("Иванов Пётр Ильич"));
            child<QLineEdit>(d, "FIO_RFID")->setText(QStringLiteral("ИвановПИ"));
            editor->accept();
            return editor->result();
        };
        list.editCard();
        QCOMPARE(m_f.dm->cards().recordCount(), 1);
    }
    CardIndex index(*m_f.dm);
    index.createCard(person(QStringLiteral("Смирнова Анна"), QStringLiteral("СмирноваА"), 7));

    Cards list(*m_f.dm, maxCardsIndex);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    auto *grid = child<QTableView>(&list, "RxDBGrid");
    QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Таб. номер"));

    // Quick search: a case-insensitive prefix of the name, the exact number.
    typeText(child<QLineEdit>(&list, "Edit_FindFIO"), QStringLiteral("ива"));
    QCOMPARE(list.currentCard()->fio, QStringLiteral("Иванов Пётр Ильич"));
    QTRY_COMPARE(grid->currentIndex().row(), 0);
    QTest::keyClicks(child<QLineEdit>(&list, "Edit_FindID"), QStringLiteral("7"));
    QCOMPARE(list.currentCard()->fio, QStringLiteral("Смирнова Анна"));
    QTRY_COMPARE(grid->currentIndex().row(), 1);
    QTest::keyClicks(child<QLineEdit>(&list, "Edit_FindID"), QStringLiteral("x"));
    QCOMPARE(list.currentCard()->fio, QStringLiteral("Смирнова Анна"));

    // Editing a card and retyping its name keeps its label; an empty date box
    // comes back empty.
    bool dateEmpty = false;
    m_f.prompt->dialogs[QStringLiteral("TCardEdit")] = [&](QObject *d) -> int {
        auto *editor = static_cast<CardEdit *>(d);
        dateEmpty = child<DateBox>(d, "DateEdit")->isEmpty();
        typeName(d, QStringLiteral("Смирнова Анна Петровна"));
        editor->accept();
        return editor->result();
    };
    list.editCard();
    QVERIFY(dateEmpty);
    QCOMPARE(list.currentCard()->fio, QStringLiteral("Смирнова Анна Петровна"));
    QCOMPARE(list.currentCard()->label, QStringLiteral("СмирноваА"));
    QCOMPARE(m_f.dm->cards().recordCount(), 2);

    // Deleting asks with the name; Cancel keeps the card, OK deletes it.
    m_f.prompt->answers = {PromptButton::Cancel};
    list.deleteCard();
    QCOMPARE(m_f.prompt->asked.last().text,
             QStringLiteral("Выбрано удаление карточки Смирнова Анна Петровна\rПроизвести удаление?"));
    QCOMPARE(m_f.dm->cards().recordCount(), 2);
    m_f.prompt->answers = {PromptButton::Ok};
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(m_f.prompt->asked.last().text, QStringLiteral("Delete record?"));
    QCOMPARE(m_f.dm->cards().recordCount(), 1);

    // Esc closes the list with OK.
    QTest::keyClick(&list, Qt::Key_Escape);
    QCOMPARE(list.result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestCards)
#include "tst_cards.moc"

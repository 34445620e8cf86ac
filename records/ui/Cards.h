#pragma once
// The card list "Картотека" (TCards): the table Cards in a read-only grid
// with a quick search by personnel number and by name, and the commands to
// add, edit and delete a card. Created when opened, shown modally, destroyed
// after; the card current when it closes with "ОК" is what its callers take.
// "ОК", Esc and Enter close it with OK; closing it by its frame cancels.

#include "records/CardIndex.h"
#include "records/ui/PlacementStore.h"

#include <QDialog>
#include <optional>

class DataModule;
class DataTableModel;
class QLineEdit;
class QTableView;

class Cards : public QDialog {
    Q_OBJECT
public:
    // maxCardsIndex: the largest personnel number given so far (kept with
    // the main window's settings); new cards are numbered from it.
    Cards(DataModule &dm, int &maxCardsIndex, const QString &settingsPath = QString(), QWidget *parent = nullptr);
    ~Cards() override;

    static const QString SectionName;  // "TCards"

    // Shows the list modally through the prompt interface.
    int run();

    // The commands; they work also on a list that is not shown.
    void addCard();      // "Добавить запись": the editor on a new card
    void editCard();     // "Редактировать запись" and the grid's double click
    void deleteCard();   // "Удалить запись": asks with the card's name
    // Ctrl+Delete in the grid: asks "Delete record?".
    void deleteCardFromGrid();
    // "Карточка доз": the personal dose card of the current card's person.
    void showDoseCard();

    // A user who may not change the cards (an auditor) sees the list, can
    // search it and open dose cards; adding, editing and deleting are
    // disabled and do nothing.
    void setReadOnly(bool readOnly);
    bool readOnly() const { return m_readOnly; }

    // The current card of the list (nothing on an empty table).
    std::optional<CardData> currentCard() const;
    CardIndex &cardIndex() { return m_index; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void followTableRow(int row);
    void runEditor(bool newCard);

    DataModule &m_dm;
    CardIndex m_index;
    int &m_maxCardsIndex;
    QString m_settingsPath;
    PlacementStore m_placement;
    DataTableModel *m_model = nullptr;
    QTableView *m_grid = nullptr;
    QLineEdit *m_findId = nullptr;
    QLineEdit *m_findFio = nullptr;
    bool m_syncing = false;
    bool m_readOnly = false;
    QList<QObject *> m_editing;  // the buttons and the grid's delete action
};

#pragma once
// The card editor "Карточка" (TCardEdit): one card's fields, the label
// proposal for a new card and the person's age. Created per use and shown
// modally; "Принять" writes the card and raises the remembered largest
// personnel number, "Отменить" (and Esc) leaves everything as it was.
//
// The label proposal runs while the editor is open for a new card and the
// name box is the active one: entering or clicking the name box switches it
// on, a click into the label box switches it off (a label typed there stays
// until the name changes again after the name box was entered anew).

#include "records/CardIndex.h"
#include "records/ui/PlacementStore.h"

#include <QDialog>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class DateBox;

class CardEdit : public QDialog {
    Q_OBJECT
public:
    // maxCardsIndex: the largest personnel number given so far (kept with the
    // main window's settings); a saved card raises it to its own number.
    CardEdit(CardIndex &index, int &maxCardsIndex, const QString &settingsPath = QString(),
             QWidget *parent = nullptr);

    static const QString SectionName;  // "TCardEdit"

    // A new card: the number box gets `number`, the label is proposed.
    void startNew(int number);
    // An existing card (card.key set), or an empty editor whose saving
    // creates a card (no key); no label is proposed.
    void startEdit(const CardData &card);

    bool newCardMode() const { return m_newCardMode; }
    bool nameBoxActive() const { return m_nameBoxActive; }
    // The card as the boxes hold it.
    CardData card() const;
    // The key of the card written by the last "Принять" (null before).
    QVariant savedKey() const { return m_savedKey; }

    // Shows the editor modally through the prompt interface.
    int run();

    void accept() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void nameChanged();
    void dateChanged();

    CardIndex &m_index;
    int &m_maxCardsIndex;
    PlacementStore m_placement;
    QVariant m_key;
    CardData m_read;  // the card as startEdit was given it
    QVariant m_savedKey;
    bool m_newCardMode = false;
    bool m_nameBoxActive = false;

    QSpinBox *m_number;
    QLineEdit *m_fio;
    QLineEdit *m_label;
    DateBox *m_birthDay;
    QLabel *m_age;
    QButtonGroup *m_sex;
    QRadioButton *m_male;
    QRadioButton *m_female;
    QLineEdit *m_vacancy;
    QLineEdit *m_subDiv;
    QLineEdit *m_address;
    QLineEdit *m_telephone;
    QLineEdit *m_remark;
};

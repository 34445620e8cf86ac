#pragma once
// The bind dialog "Запись в журнале" (object name "TNoteBind"): binds a
// dosimeter to a person, opening a journal row. Created for one use.
//
// It opens with today's date and the current time; on a released row of the
// journal it also proposes that row's dosimeter and person. "Привязать"
// hands the values to Journal::bind, which refuses an issued dosimeter (the
// dialog then closes), and a bad number or a missing date (the dialog stays
// open).

#include <QDateEdit>
#include <QDialog>
#include <functional>
#include <optional>

class Journal;
class QLineEdit;
class QTimeEdit;
class QToolButton;

// A date box that can be empty: the lowest date (30.12.1899, the day a
// blank date stands for) shows as nothing; Delete or Backspace over the
// whole text empties it.
class OptionalDateEdit : public QDateEdit {
    Q_OBJECT
public:
    explicit OptionalDateEdit(QWidget *parent = nullptr);
    bool isEmpty() const { return date() == minimumDate(); }
    void clearDate() { setDate(minimumDate()); }
    QDate optionalDate() const { return isEmpty() ? QDate() : date(); }
    void setOptionalDate(const QDate &d) { d.isValid() ? setDate(d) : clearDate(); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

class NoteBind : public QDialog {
    Q_OBJECT
public:
    // pickCardLabel: the card index, modal; the chosen card's label, or
    // nothing when it was not closed with OK. now: the clock (tests).
    NoteBind(Journal &journal, std::function<std::optional<QString>(QWidget *)> pickCardLabel,
             const QDateTime &now, QWidget *parent = nullptr);

    QLineEdit *numberBox() const { return m_number; }
    QLineEdit *nameBox() const { return m_name; }
    OptionalDateEdit *dateBox() const { return m_date; }
    QTimeEdit *timePicker() const { return m_time; }

    void accept() override;  // "Привязать"

private:
    void pickCard();

    Journal &m_journal;
    std::function<std::optional<QString>(QWidget *)> m_pickCardLabel;
    QLineEdit *m_number = nullptr;
    OptionalDateEdit *m_date = nullptr;
    QTimeEdit *m_time = nullptr;
    QLineEdit *m_name = nullptr;
    QToolButton *m_cards = nullptr;
};

#pragma once
// The bind dialog "Запись в журнале" (object name "TNoteBind"): binds a
// dosimeter to a person, opening a journal row. Created for one use.
//
// It opens with today's date and the current time; on a released row of the
// journal it also proposes that row's dosimeter and person. "Привязать"
// hands the values to Journal::bind, which refuses an issued dosimeter (the
// dialog then closes), and a bad number or a missing date (the dialog stays
// open).

#include <QDialog>
#include <functional>
#include <optional>

class DateBox;
class IPrompt;
class Journal;
class QLineEdit;
class QTimeEdit;
class QToolButton;

class NoteBind : public QDialog {
    Q_OBJECT
public:
    // pickCardLabel: the card index, modal; the chosen card's label, or
    // nothing when it was not closed with OK. now: the clock (tests).
    NoteBind(IPrompt &prompt, Journal &journal, std::function<std::optional<QString>(QWidget *)> pickCardLabel,
             const QDateTime &now, QWidget *parent = nullptr);

    QLineEdit *numberBox() const { return m_number; }
    QLineEdit *nameBox() const { return m_name; }
    DateBox *dateBox() const { return m_date; }
    QTimeEdit *timePicker() const { return m_time; }

    void accept() override;  // "Привязать"

private:
    void pickCard();

    IPrompt &m_prompt;
    Journal &m_journal;
    std::function<std::optional<QString>(QWidget *)> m_pickCardLabel;
    QLineEdit *m_number = nullptr;
    DateBox *m_date = nullptr;
    QTimeEdit *m_time = nullptr;
    QLineEdit *m_name = nullptr;
    QToolButton *m_cards = nullptr;
};

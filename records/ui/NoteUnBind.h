#pragma once
// The release dialog "Запись в журнале" (object name "TNoteUnBind"):
// releases the journal row that was current when it opened, closing the
// binding at the date and time chosen. Created for one use.

#include <QDialog>
#include <QVariant>

class IPrompt;
class Journal;
class DateBox;
class QDateEdit;
class QLineEdit;
class QTimeEdit;

class NoteUnBind : public QDialog {
    Q_OBJECT
public:
    NoteUnBind(IPrompt &prompt, Journal &journal, const QDateTime &now, QWidget *parent = nullptr);

    DateBox *releaseDate() const { return m_dateTo; }
    QTimeEdit *releaseTime() const { return m_timeTo; }

    void accept() override;  // "Освободить"

private:
    IPrompt &m_prompt;
    Journal &m_journal;
    QVariant m_key;
    QLineEdit *m_number = nullptr;
    QLineEdit *m_name = nullptr;
    QDateEdit *m_dateFrom = nullptr;
    QTimeEdit *m_timeFrom = nullptr;
    DateBox *m_dateTo = nullptr;
    QTimeEdit *m_timeTo = nullptr;
};

#pragma once
// A date box that can be empty: a line in the fixed format dd.MM.yyyy
// (whatever the locale) with a calendar button. What is typed shows as it is
// typed and is taken as typed: a whole date from 31.12.1899 to 31.12.9999
// becomes the box's value at once; any other text is refused with a message
// when the operator leaves the box or presses Enter (acceptTyped), and never
// changed into some other date. The dots come by themselves after the day
// and the month. Delete empties the box, and so does Backspace when the
// whole text is selected; the calendar of an empty box opens on the current
// month.

#include <QDate>
#include <QLineEdit>

class QCalendarWidget;

class DateBox : public QLineEdit {
    Q_OBJECT
public:
    explicit DateBox(QWidget *parent = nullptr);

    // The last date taken; a null QDate when the box is empty.
    QDate value() const { return m_value; }
    // A null or invalid date, or a date up to the day-0 date 30.12.1899,
    // empties the box.
    void setValue(const QDate &date);
    // The same under the names of a date editor.
    QDate date() const { return value(); }
    void setDate(const QDate &date) { setValue(date); }
    bool isEmpty() const { return m_value.isNull(); }
    void clear();
    // A box that must hold a date: Delete does not empty it, and an emptied
    // text is refused like a wrong date (the last date stays in force).
    void setEmptyAllowed(bool allowed) { m_emptyAllowed = allowed; }

    // True when the text is empty or a date the box takes. Otherwise the
    // operator is told (once for one Enter or leave) and the box keeps the
    // text; callers that are about to use the value refuse to go on.
    bool acceptTyped();

    // The date a text stands for; null when it is no date the box takes.
    static QDate parse(const QString &text);
    static QString refusedText(const QString &text);

    void showCalendar();

signals:
    // Every change of the value, also to empty (a null QDate).
    void valueChanged(const QDate &date);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void typed(const QString &text);
    void take(const QDate &date);

    QDate m_value;
    QCalendarWidget *m_calendar = nullptr;
    bool m_justTold = false;
    bool m_emptyAllowed = true;
};

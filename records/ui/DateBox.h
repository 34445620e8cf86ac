#pragma once
// A date box that can be empty: a QDateEdit in the fixed format dd.MM.yyyy
// (whatever the locale) with a calendar, whose lowest date stands for "no
// date" and shows as an empty box. Delete empties it, and so does Backspace
// when the whole text is selected; typing a digit into an empty box starts
// from today's date; the calendar of an empty box opens on the current month.

#include <QDate>
#include <QDateEdit>

class DateBox : public QDateEdit {
    Q_OBJECT
public:
    explicit DateBox(QWidget *parent = nullptr);

    // The date shown; a null QDate when the box is empty.
    QDate value() const;
    // A null or invalid date, or the day-0 date 30.12.1899, empties the box.
    void setValue(const QDate &date);
    bool isEmpty() const;
    void clear() override;

signals:
    // Every change of the value, also to empty (a null QDate).
    void valueChanged(const QDate &date);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static QDate emptyMark();
};

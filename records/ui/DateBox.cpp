#include "records/ui/DateBox.h"

#include <QCalendarWidget>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>

QDate DateBox::emptyMark()
{
    return QDate(1899, 12, 30);
}

DateBox::DateBox(QWidget *parent) : QDateEdit(parent)
{
    setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    setMinimumDate(emptyMark());
    setMaximumDate(QDate(9999, 12, 31));
    // The special text replaces the text of the lowest date: a blank box.
    setSpecialValueText(QStringLiteral(" "));
    setCalendarPopup(true);
    setDate(emptyMark());
    if (QCalendarWidget *cal = calendarWidget())
        cal->installEventFilter(this);
    connect(this, &QDateEdit::dateChanged, this, [this](const QDate &) { emit valueChanged(value()); });
}

QDate DateBox::value() const
{
    return isEmpty() ? QDate() : date();
}

void DateBox::setValue(const QDate &d)
{
    if (!d.isValid() || d <= emptyMark())
        setDate(emptyMark());
    else
        setDate(d);
}

bool DateBox::isEmpty() const
{
    return date() <= emptyMark();
}

void DateBox::clear()
{
    setDate(emptyMark());
}

void DateBox::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Delete
        || (key == Qt::Key_Backspace && lineEdit()->selectedText().size() == lineEdit()->text().size())) {
        clear();
        event->accept();
        return;
    }
    if (isEmpty() && key >= Qt::Key_0 && key <= Qt::Key_9) {
        setDate(QDate::currentDate());
        setSelectedSection(QDateTimeEdit::DaySection);
    }
    QDateEdit::keyPressEvent(event);
}

bool DateBox::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show && isEmpty()) {
        if (auto *cal = qobject_cast<QCalendarWidget *>(watched)) {
            const QDate today = QDate::currentDate();
            cal->setCurrentPage(today.year(), today.month());
        }
    }
    return QDateEdit::eventFilter(watched, event);
}

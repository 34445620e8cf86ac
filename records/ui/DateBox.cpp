#include "records/ui/DateBox.h"

#include "core/Prompt.h"

#include <QAction>
#include <QCalendarWidget>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QTimer>

namespace {

const QString Format = QStringLiteral("dd.MM.yyyy");

// The day-0 date stands for "no date": the first date taken is the day after.
QDate emptyMark()
{
    return QDate(1899, 12, 30);
}

QDate lastDate()
{
    return QDate(9999, 12, 31);
}

} // namespace

DateBox::DateBox(QWidget *parent) : QLineEdit(parent)
{
    setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,2}(\\.[0-9]{0,2}(\\.[0-9]{0,4})?)?")), this));
    setPlaceholderText(QStringLiteral("дд.мм.гггг"));
    QAction *calendar = addAction(style()->standardIcon(QStyle::SP_ArrowDown), QLineEdit::TrailingPosition);
    calendar->setObjectName(QStringLiteral("calendarButton"));
    calendar->setToolTip(QStringLiteral("Календарь"));
    connect(calendar, &QAction::triggered, this, &DateBox::showCalendar);
    connect(this, &QLineEdit::textChanged, this, &DateBox::typed);
    connect(this, &QLineEdit::editingFinished, this, [this] { acceptTyped(); });
    setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00.00.00000")) + 40);
}

QDate DateBox::parse(const QString &text)
{
    static const QRegularExpression whole(QStringLiteral("^([0-9]{1,2})\\.([0-9]{1,2})\\.([0-9]{4})$"));
    const QRegularExpressionMatch m = whole.match(text.trimmed());
    if (!m.hasMatch())
        return QDate();
    const QDate d(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    if (!d.isValid() || d <= emptyMark() || d > lastDate())
        return QDate();
    return d;
}

QString DateBox::refusedText(const QString &text)
{
    return QStringLiteral("Неверная дата: %1\rДата вводится как ДД.ММ.ГГГГ, с %2 по %3.")
        .arg(text.trimmed(), emptyMark().addDays(1).toString(Format), lastDate().toString(Format));
}

void DateBox::setValue(const QDate &d)
{
    const QDate shown = (!d.isValid() || d <= emptyMark() || d > lastDate()) ? QDate() : d;
    setText(shown.isNull() ? QString() : shown.toString(Format));  // takes it through typed()
    take(shown);
}

void DateBox::clear()
{
    setValue(QDate());
}

void DateBox::take(const QDate &d)
{
    if (d == m_value)
        return;
    m_value = d;
    emit valueChanged(m_value);
}

void DateBox::typed(const QString &text)
{
    // A whole date is taken as soon as it is typed; a text on its way to one
    // leaves the last date in force until the box is left.
    m_justTold = false;
    if (text.trimmed().isEmpty()) {
        if (m_emptyAllowed)
            take(QDate());
        return;
    }
    const QDate d = parse(text);
    if (d.isValid())
        take(d);
}

bool DateBox::acceptTyped()
{
    const QString text = this->text();
    if ((m_emptyAllowed && text.trimmed().isEmpty()) || parse(text).isValid())
        return true;
    // Enter both ends the editing and presses the dialog's default button:
    // one message for both.
    if (m_justTold)
        return false;
    m_justTold = true;
    QTimer::singleShot(0, this, [this] { m_justTold = false; });
    activePrompt().message(MsgKind::Warning, refusedText(text), PromptButton::Ok);
    return false;
}

void DateBox::showCalendar()
{
    if (!m_calendar) {
        m_calendar = new QCalendarWidget(this);
        m_calendar->setObjectName(QStringLiteral("calendar"));
        m_calendar->setWindowFlags(Qt::Popup);
        m_calendar->setMinimumDate(emptyMark().addDays(1));
        m_calendar->setMaximumDate(lastDate());
        m_calendar->setGridVisible(true);
        connect(m_calendar, &QCalendarWidget::clicked, this, [this](const QDate &d) {
            setValue(d);
            m_calendar->hide();
        });
        connect(m_calendar, &QCalendarWidget::activated, this, [this](const QDate &d) {
            setValue(d);
            m_calendar->hide();
        });
    }
    const QDate shown = m_value.isNull() ? QDate::currentDate() : m_value;
    m_calendar->setSelectedDate(shown);
    m_calendar->setCurrentPage(shown.year(), shown.month());
    m_calendar->adjustSize();
    m_calendar->move(mapToGlobal(QPoint(0, height())));
    m_calendar->show();
    m_calendar->setFocus();
}

void DateBox::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (m_emptyAllowed
        && (key == Qt::Key_Delete || (key == Qt::Key_Backspace && hasSelectedText() && selectedText() == text()))) {
        clear();
        event->accept();
        return;
    }
    if ((key == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)) || key == Qt::Key_F4) {
        showCalendar();
        event->accept();
        return;
    }
    // The dots after the day and the month come by themselves.
    static const QRegularExpression dayOrMonth(QStringLiteral("^[0-9]{2}(\\.[0-9]{2})?$"));
    if (key >= Qt::Key_0 && key <= Qt::Key_9 && !hasSelectedText() && cursorPosition() == text().size()
        && dayOrMonth.match(text()).hasMatch())
        insert(QStringLiteral("."));
    QLineEdit::keyPressEvent(event);
}

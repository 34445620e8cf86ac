#include "records/ui/NoteUnBind.h"

#include "core/Prompt.h"
#include "records/Journal.h"
#include "records/ui/DateBox.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

QDateEdit *dateBox(QWidget *parent, const char *name)
{
    auto *d = new QDateEdit(parent);
    d->setObjectName(QLatin1String(name));
    d->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
    d->setCalendarPopup(true);
    return d;
}

QTimeEdit *timeBox(QWidget *parent, const char *name)
{
    auto *t = new QTimeEdit(parent);
    t->setObjectName(QLatin1String(name));
    t->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return t;
}

} // namespace

NoteUnBind::NoteUnBind(IPrompt &prompt, Journal &journal, const QDateTime &now, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_journal(journal)
{
    setObjectName(QStringLiteral("TNoteUnBind"));
    setWindowTitle(QStringLiteral("Запись в журнале"));
    setMinimumWidth(400);

    m_number = new QLineEdit(this);
    m_number->setObjectName(QStringLiteral("LE_Dozimetr"));
    m_number->setReadOnly(true);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("LE_FIO"));
    m_name->setReadOnly(true);
    m_dateFrom = dateBox(this, "DateEdit_From");
    m_dateFrom->setReadOnly(true);
    m_dateFrom->setCalendarPopup(false);
    m_timeFrom = timeBox(this, "TimePicker_From");
    m_timeFrom->setEnabled(false);
    m_dateTo = new DateBox(this);
    m_dateTo->setObjectName(QStringLiteral("DateEdit_To"));
    m_timeTo = timeBox(this, "TimePicker_To");

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Номер дозиметра"), m_number);
    form->addRow(QStringLiteral("Ф.И.О."), m_name);
    form->addRow(QStringLiteral("Дата привязки"), m_dateFrom);
    form->addRow(QStringLiteral("Время привязки"), m_timeFrom);
    form->addRow(QStringLiteral("Дата освобождения"), m_dateTo);
    form->addRow(QStringLiteral("Время освобождения"), m_timeTo);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(QStringLiteral("&Освободить"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    QPushButton *cancel = buttons->addButton(QStringLiteral("&Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &NoteUnBind::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NoteUnBind::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    m_dateTo->setDate(now.date());
    m_timeTo->setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    try {
        if (const std::optional<Journal::Row> row = journal.currentRow()) {
            m_key = row->key;
            m_number->setText(row->id.isNull() ? QString() : QString::number(row->id.toLongLong()));
            m_name->setText(row->fio);
            m_dateFrom->setDate(row->from.date());
            m_timeFrom->setTime(row->from.time());
        }
    } catch (...) {
    }
}

void NoteUnBind::accept()
{
    if (!m_dateTo->acceptTyped()) {
        m_dateTo->setFocus();
        return;
    }
    const QDateTime to = Journal::moment(m_dateTo->date(), m_timeTo->time());
    const Result<> released = m_journal.release(m_key, to);
    if (released) {
        QDialog::accept();
        return;
    }
    tell(m_prompt, *released.error);
    // Too early: the row stays open; changed elsewhere: theirs stands.
    if (released.kind() == ErrorKind::Invalid || released.kind() == ErrorKind::Conflict)
        QDialog::reject();
}

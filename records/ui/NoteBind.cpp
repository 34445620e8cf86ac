#include "records/ui/NoteBind.h"

#include "core/Prompt.h"
#include "records/Journal.h"
#include "records/ui/DateBox.h"
#include "records/ui/TextBoxFit.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

NoteBind::NoteBind(IPrompt &prompt, Journal &journal, std::function<std::optional<QString>(QWidget *)> pickCardLabel,
                   const QDateTime &now, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_journal(journal), m_pickCardLabel(std::move(pickCardLabel))
{
    setObjectName(QStringLiteral("TNoteBind"));
    setWindowTitle(QStringLiteral("Запись в журнале"));
    setMinimumWidth(400);

    m_number = new QLineEdit(this);
    m_number->setObjectName(QStringLiteral("LE_Dozimetr"));
    m_date = new DateBox(this);
    m_date->setObjectName(QStringLiteral("DateEdit"));
    m_time = new QTimeEdit(this);
    m_time->setObjectName(QStringLiteral("TimePicker_From"));
    m_time->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("LE_FIO"));
    m_name->setMaxLength(40);
    keepWholeCharacters(m_name);
    m_cards = new QToolButton(this);
    m_cards->setObjectName(QStringLiteral("RunCardsEdit"));
    m_cards->setText(QStringLiteral("..."));
    m_cards->setToolTip(QStringLiteral("Работа со списком людей"));
    connect(m_cards, &QToolButton::clicked, this, &NoteBind::pickCard);

    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(m_name, 1);
    nameRow->addWidget(m_cards);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Номер дозиметра"), m_number);
    form->addRow(QStringLiteral("Дата привязки"), m_date);
    form->addRow(QStringLiteral("Время привязки"), m_time);
    form->addRow(QStringLiteral("Ф.И.О."), nameRow);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *ok = buttons->addButton(QStringLiteral("&Привязать"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    QPushButton *cancel = buttons->addButton(QStringLiteral("&Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &NoteBind::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &NoteBind::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    // Today and now, always: an empty date would bind from 30.12.1899 and
    // give the person every earlier reading of the dosimeter. A released row
    // proposes its dosimeter and person again.
    m_date->setValue(now.date());
    m_time->setTime(QTime(now.time().hour(), now.time().minute(), now.time().second()));
    try {
        if (const std::optional<Journal::Row> row = journal.currentRow()) {
            if (!row->to.isNull()) {
                m_number->setText(row->id.isNull() ? QString() : QString::number(row->id.toLongLong()));
                m_name->setText(row->fio);
            }
        }
    } catch (...) {
    }
}

void NoteBind::pickCard()
{
    if (!m_pickCardLabel)
        return;
    if (const std::optional<QString> label = m_pickCardLabel(this))
        m_name->setText(*label);
}

void NoteBind::accept()
{
    if (!boxTextFits(m_name, QStringLiteral("Ф.И.О.")))
        return;
    if (!m_date->acceptTyped()) {
        m_date->setFocus();
        return;
    }
    const Result<> bound = m_journal.bind(m_number->text(), m_name->text(), m_date->value(), m_time->time());
    if (bound) {
        QDialog::accept();
        return;
    }
    tell(m_prompt, *bound.error);
    switch (bound.kind()) {
    case ErrorKind::Conflict:  // the dosimeter is issued: the dialog closes
        QDialog::reject();
        break;
    case ErrorKind::Failed:    // not a dosimeter number
        m_number->setFocus();
        break;
    case ErrorKind::Invalid:   // no date of the binding
        m_date->setFocus();
        break;
    default:                   // the store failed: nothing added, the dialog stays
        break;
    }
}

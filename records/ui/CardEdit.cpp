#include "records/ui/CardEdit.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "core/DeviceText.h"
#include "core/SettingsKeys.h"
#include "records/TableSchema.h"
#include "records/ui/DateBox.h"
#include "records/ui/TextBoxFit.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

const QString CardEdit::SectionName = SettingsKeys::TCardEdit::Section;

namespace {

QLineEdit *textBox(QWidget *parent, const QString &name, int size)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setMaxLength(size);
    keepWholeCharacters(e);
    return e;
}

// The text box of a card field: named after the field unless given a name,
// as long as the field holds.
QLineEdit *fieldBox(QWidget *parent, CardsField field, const QString &name = QString())
{
    static const QList<FieldDef> fields = cardsSchema();
    return textBox(parent, name.isEmpty() ? fieldName(field) : name, fields.at(int(field)).size);
}

} // namespace

CardEdit::CardEdit(CardIndex &index, int &maxCardsIndex, const QString &settingsPath, QWidget *parent)
    : QDialog(parent), m_index(index), m_maxCardsIndex(maxCardsIndex), m_placement(this, SectionName, false)
{
    setObjectName(SectionName);
    setWindowTitle(QStringLiteral("Карточка"));
    m_placement.setFile(settingsPath);

    m_number = new QSpinBox(this);
    m_number->setObjectName(fieldName(CardsField::ID));
    m_number->setRange(CardIndex::SmallestNumber, CardIndex::LargestNumber);
    m_number->setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    m_fio = fieldBox(this, CardsField::FIO);
    m_label = fieldBox(this, CardsField::Label);
    keepWholeCharacters(m_label, deviceTextHolds);  // the label goes into dosimeters
    m_birthDay = new DateBox(this);
    m_birthDay->setObjectName(QStringLiteral("DateEdit"));
    m_age = new QLabel(QStringLiteral("(Число полных лет - )"), this);
    m_age->setObjectName(QStringLiteral("Label_FullAge"));
    m_vacancy = fieldBox(this, CardsField::Vacancy);
    m_subDiv = fieldBox(this, CardsField::SubDiv);
    m_address = fieldBox(this, CardsField::Address);
    m_telephone = fieldBox(this, CardsField::Telephone, QStringLiteral("Telefon"));
    m_remark = fieldBox(this, CardsField::Comment, QStringLiteral("Remark"));

    auto *sexBox = new QGroupBox(QStringLiteral("Пол"), this);
    sexBox->setObjectName(QStringLiteral("RG_sex"));
    m_male = new QRadioButton(QStringLiteral("Мужской"), sexBox);
    m_female = new QRadioButton(QStringLiteral("Женский"), sexBox);
    m_sex = new QButtonGroup(this);
    m_sex->setExclusive(true);
    m_sex->addButton(m_male, 0);
    m_sex->addButton(m_female, 1);
    auto *sexLayout = new QHBoxLayout(sexBox);
    sexLayout->addWidget(m_male);
    sexLayout->addWidget(m_female);
    sexLayout->addStretch(1);

    auto *grid = new QGridLayout;
    int row = 0;
    auto caption = [&](const QString &text, QWidget *box, int column = 0, int span = 1) {
        auto *l = new QLabel(text, this);
        l->setBuddy(box);
        grid->addWidget(l, row, column, 1, span);
        grid->addWidget(box, row + 1, column, 1, span);
    };
    caption(QStringLiteral("Табельный номер"), m_number);
    caption(QStringLiteral("Метка (в дозиметре)"), m_label, 1);
    row += 2;
    caption(QStringLiteral("ФИО"), m_fio, 0, 2);
    row += 2;
    caption(QStringLiteral("Дата рождения"), m_birthDay);
    grid->addWidget(m_age, row + 1, 1);
    row += 2;
    grid->addWidget(sexBox, row, 0, 1, 2);
    row += 1;
    caption(QStringLiteral("Должность"), m_vacancy);
    caption(QStringLiteral("Подразделение"), m_subDiv, 1);
    row += 2;
    caption(QStringLiteral("Адрес"), m_address, 0, 2);
    row += 2;
    caption(QStringLiteral("Телефон"), m_telephone);
    row += 2;
    caption(QStringLiteral("Коментарий"), m_remark, 0, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);

    auto *ok = new QPushButton(QStringLiteral("&Принять"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("&Отменить"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    connect(ok, &QPushButton::clicked, this, &CardEdit::accept);
    connect(cancel, &QPushButton::clicked, this, &CardEdit::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);
    layout->addLayout(buttons);

    m_fio->installEventFilter(this);
    m_label->installEventFilter(this);
    connect(m_fio, &QLineEdit::textChanged, this, &CardEdit::nameChanged);
    connect(m_birthDay, &DateBox::valueChanged, this, &CardEdit::dateChanged);
    resize(480, sizeHint().height());
}

void CardEdit::startNew(int number)
{
    m_key = QVariant();
    m_newCardMode = true;
    m_number->setValue(number);
}

void CardEdit::startEdit(const CardData &c)
{
    m_key = c.key;
    m_read = c;
    m_newCardMode = false;
    if (!c.id.isNull())
        m_number->setValue(c.id.toInt());
    m_fio->setText(c.fio);
    m_label->setText(c.label);
    m_vacancy->setText(c.vacancy);
    m_subDiv->setText(c.subDiv);
    m_telephone->setText(c.telephone);
    m_address->setText(c.address);
    m_remark->setText(c.comment);
    if (c.isMale)
        (*c.isMale ? m_male : m_female)->setChecked(true);
    m_birthDay->setValue(c.birthDay);
    dateChanged();
}

CardData CardEdit::card() const
{
    CardData c;
    c.key = m_key;
    c.id = m_number->value();
    c.fio = m_fio->text();
    c.label = m_label->text();
    c.vacancy = m_vacancy->text();
    c.subDiv = m_subDiv->text();
    c.telephone = m_telephone->text();
    c.address = m_address->text();
    c.comment = m_remark->text();
    if (m_male->isChecked())
        c.isMale = true;
    else if (m_female->isChecked())
        c.isMale = false;
    c.birthDay = m_birthDay->value();
    return c;
}

int CardEdit::run()
{
    return activePrompt().runModal(this, [this] { return exec(); });
}

void CardEdit::accept()
{
    const QList<std::pair<QLineEdit *, QString>> boxes{
        {m_fio, QStringLiteral("ФИО")},           {m_vacancy, QStringLiteral("Должность")},
        {m_subDiv, QStringLiteral("Подразделение")}, {m_address, QStringLiteral("Адрес")},
        {m_telephone, QStringLiteral("Телефон")},  {m_remark, QStringLiteral("Коментарий")}};
    for (const auto &[box, title] : boxes)
        if (!boxTextFits(box, title))
            return;
    if (!boxTextFits(m_label, QStringLiteral("Метка (в дозиметре)"), true))
        return;
    if (!m_birthDay->acceptTyped()) {
        m_birthDay->setFocus();
        return;
    }
    const CardData c = card();
    const Result<QVariant> saved = m_newCardMode ? m_index.createCard(c) : m_index.updateCard(c, m_read);
    if (saved.kind() == ErrorKind::Conflict) {
        // Changed on another monitor since the editor opened: their card
        // stands and the list shows it; the editor closes on it.
        tell(activePrompt(), *saved.error);
        QDialog::reject();
        return;
    }
    if (!saved) {
        // The card is not stored: say why and keep the editor open with what
        // was typed.
        activePrompt().message(MsgKind::Error, saved.errorText(), PromptButton::Ok);
        return;
    }
    m_savedKey = saved.value;
    m_maxCardsIndex = qMax(m_maxCardsIndex, c.id.toInt());
    QDialog::accept();
}

void CardEdit::done(int result)
{
    m_placement.save();
    QDialog::done(result);
}

void CardEdit::showEvent(QShowEvent *event)
{
    m_placement.restore();
    QDialog::showEvent(event);
    m_fio->setFocus();
}

bool CardEdit::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type t = event->type();
    if (watched == m_fio && (t == QEvent::FocusIn || t == QEvent::MouseButtonPress))
        m_nameBoxActive = true;
    else if (watched == m_label && t == QEvent::MouseButtonPress)
        m_nameBoxActive = false;
    return QDialog::eventFilter(watched, event);
}

void CardEdit::nameChanged()
{
    if (!m_newCardMode || !m_nameBoxActive)
        return;
    QString label;
    try {
        label = m_index.proposeLabel(m_fio->text());
    } catch (const ERuvoError &) {
        // The store cannot be asked: the label as built from the name.
        label = CardIndex::labelFromName(m_fio->text()).left(CardIndex::LabelSize);
    }
    m_label->setText(label);
}

void CardEdit::dateChanged()
{
    m_age->setText(CardIndex::ageText(m_birthDay->value(), QDate::currentDate()));
}

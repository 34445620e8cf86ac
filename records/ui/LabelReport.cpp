#include "records/ui/LabelReport.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "core/TextCode.h"
#include "core/IniFile.h"
#include "core/SettingsKeys.h"
#include "core/WindowPlacements.h"
#include "core/Settings.h"
#include "records/DataModule.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString KeyChoice = SettingsKeys::TRFLabelSaveReport::Choice;
const QString KeyRecord2Note = SettingsKeys::TRFLabelSaveReport::Record2Note;

QLineEdit *cardField(QWidget *parent, const char *name, const QString &hint)
{
    auto *e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setReadOnly(true);
    e->setToolTip(hint);
    return e;
}

} // namespace

const QString LabelReport::SectionName = SettingsKeys::TRFLabelSaveReport::Section;

int LabelReport::run(QWidget *parent, const LabelWriteOutcome &outcome, const LabelReportContext &context)
{
    LabelReport report(outcome, context, parent);
    return activePrompt().runModal(&report, [&report] { return report.exec(); });
}

LabelReport::LabelReport(const LabelWriteOutcome &outcome, const LabelReportContext &context, QWidget *parent)
    : QDialog(parent), m_outcome(outcome), m_context(context)
{
    setObjectName(SectionName);
    setWindowTitle(QStringLiteral("Отчёт о записи метки дозиметра"));
    m_binding = std::make_unique<LabelBinding>(*context.dm, context.hooks);
    try {
        m_cardKnown = m_binding->findCard(outcome.label).has_value();
    } catch (const ERuvoError &) {
        m_cardKnown = false;
    }
    buildLayout();
    restoreSettings();
    showCard();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

LabelReport::~LabelReport() = default;

void LabelReport::buildLayout()
{
    m_number = new QLabel(m_outcome.number, this);
    m_number->setObjectName(QStringLiteral("RFNumber"));
    m_number->setToolTip(QStringLiteral("Номер дозиметра"));
    m_number->setAlignment(Qt::AlignCenter);
    m_number->setStyleSheet(QStringLiteral("QLabel { background: #c0c0c0; font-size: 20pt; font-weight: bold; padding: 4px; }"));
    m_label = new QLabel(LabelBinding::labelText(m_outcome.label), this);
    m_label->setObjectName(QStringLiteral("RFLabel"));
    m_label->setToolTip(QStringLiteral("Идентификатор дозиметра"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setStyleSheet(QStringLiteral("QLabel { color: #008000; font-size: 20pt; font-weight: bold; padding: 4px; }"));
    m_info = new QLabel(m_outcome.info, this);
    m_info->setObjectName(QStringLiteral("LabelInfo"));
    m_info->setAlignment(Qt::AlignCenter);
    m_info->setWordWrap(true);

    m_cardGroup = new QGroupBox(QStringLiteral("Метка соответствует карточке"), this);
    m_cardGroup->setObjectName(QStringLiteral("GroupCard"));
    m_cardId = cardField(m_cardGroup, "DBEditID", QStringLiteral("Табельный номер"));
    m_cardFio = cardField(m_cardGroup, "DBEditFIO", QStringLiteral("ФИО"));
    m_cardBirthDay = cardField(m_cardGroup, "DBEditBirthDay", QStringLiteral("Дата рождения"));
    m_cardAddress = cardField(m_cardGroup, "DBEditAddress", QStringLiteral("Адрес"));
    m_cardSex = cardField(m_cardGroup, "DBEditIsMale", QString());
    m_cardComment = cardField(m_cardGroup, "DBEditComment", QStringLiteral("Коментарий"));
    auto *edit = new QToolButton(m_cardGroup);
    edit->setObjectName(QStringLiteral("BtnEditCard"));
    edit->setText(QStringLiteral("..."));
    edit->setToolTip(QStringLiteral("Редактировать запись"));
    connect(edit, &QToolButton::clicked, this, [this] {
        if (m_context.hooks.editCurrentCard) {
            m_context.hooks.editCurrentCard();
            showCard();
        }
    });
    auto *top = new QHBoxLayout;
    top->addWidget(m_cardId);
    top->addWidget(m_cardFio, 1);
    top->addWidget(edit);
    auto *second = new QHBoxLayout;
    second->addWidget(m_cardBirthDay);
    second->addWidget(m_cardSex);
    auto *cardLayout = new QVBoxLayout(m_cardGroup);
    cardLayout->addLayout(top);
    cardLayout->addLayout(second);
    cardLayout->addWidget(m_cardAddress);
    cardLayout->addWidget(m_cardComment);

    m_choiceGroup = new QGroupBox(QStringLiteral("Метка не соответствует ни одной карточке в картотеке"), this);
    m_choiceGroup->setObjectName(QStringLiteral("RG"));
    m_choices = new QButtonGroup(this);
    auto *choiceLayout = new QVBoxLayout(m_choiceGroup);
    const QStringList texts = {QStringLiteral("Ничего не делать"), QStringLiteral("Создать карточку"),
                               QStringLiteral("Создать карточку и открыть её для редактирования"),
                               QStringLiteral("Создать карточку и открыть её в списке")};
    for (int k = 0; k < texts.size(); ++k) {
        auto *b = new QRadioButton(texts[k], m_choiceGroup);
        b->setObjectName(QStringLiteral("RG_%1").arg(k));
        m_choices->addButton(b, k);
        choiceLayout->addWidget(b);
    }
    m_choices->button(0)->setChecked(true);

    // The choice lies over the card view: one of the two shows.
    auto *stack = new QStackedWidget(this);
    stack->addWidget(m_cardGroup);
    stack->addWidget(m_choiceGroup);
    stack->setCurrentWidget(m_cardKnown ? static_cast<QWidget *>(m_cardGroup) : m_choiceGroup);

    auto *journal = new QGroupBox(QStringLiteral("Журнал"), this);
    m_record2Note = new QCheckBox(QStringLiteral("Автоматическая запись в журнале"), journal);
    m_record2Note->setObjectName(QStringLiteral("CB_Record2Note"));
    m_record2Note->setChecked(true);
    auto *journalLayout = new QVBoxLayout(journal);
    journalLayout->addWidget(m_record2Note);

    auto *ok = new QPushButton(QStringLiteral("&Принять"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &LabelReport::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(this);
    auto *heads = new QHBoxLayout;
    heads->addWidget(m_number, 1);
    heads->addWidget(m_label, 2);
    layout->addLayout(heads);
    layout->addWidget(m_info);
    layout->addWidget(stack);
    layout->addWidget(journal);
    layout->addLayout(buttons);
    setMinimumWidth(460);
}

void LabelReport::showCard()
{
    if (!m_cardKnown)
        return;
    try {
        DataTable &cards = m_context.dm->cards();
        m_cardId->setText(cards.asString(fieldName(CardsField::ID)));
        m_cardFio->setText(cards.asString(fieldName(CardsField::FIO)));
        const QDate birth = cards.fieldValue(fieldName(CardsField::BirthDay)).toDate();
        m_cardBirthDay->setText(birth.isValid() ? birth.toString(QStringLiteral("dd.MM.yyyy")) : QString());
        m_cardAddress->setText(cards.asString(fieldName(CardsField::Address)));
        m_cardSex->setText(cards.isNull(fieldName(CardsField::IsMale))
                               ? QString()
                               : (cards.asBoolean(fieldName(CardsField::IsMale)) ? QStringLiteral("М") : QStringLiteral("Ж")));
        m_cardComment->setText(cards.asString(fieldName(CardsField::Comment)));
    } catch (const ERuvoError &) {
    }
}

LabelCardChoice LabelReport::choice() const
{
    return LabelCardChoice(qMax(0, m_choices->checkedId()));
}

void LabelReport::setChoice(LabelCardChoice choice)
{
    if (QAbstractButton *b = m_choices->button(int(choice)))
        b->setChecked(true);
}

bool LabelReport::record2Note() const
{
    return m_record2Note->isChecked();
}

void LabelReport::setRecord2Note(bool on)
{
    m_record2Note->setChecked(on);
}

bool LabelReport::choiceShown() const
{
    return !m_cardKnown;
}

void LabelReport::restoreSettings()
{
    if (m_context.settingsPath.isEmpty())
        return;
    IniFile ini(m_context.settingsPath);
    FormPlacement p;
    if (WindowPlacements::forFile(ini.path()).readAt(ini, SectionName, logicalDpiY(), p))
        move(p.normPos[0], p.normPos[1]);
    if (!m_outcome.verified) {
        // A label that did not read back as written binds nobody.
        setChoice(LabelCardChoice::Nothing);
        m_record2Note->setChecked(false);
        m_record2Note->setEnabled(false);
        return;
    }
    const int k = ini.readInteger(SectionName, KeyChoice, 0);
    setChoice(LabelCardChoice(k >= 0 && k <= 3 ? k : 0));
    m_record2Note->setChecked(ini.readBool(SectionName, KeyRecord2Note, true));
}

void LabelReport::saveSettings()
{
    if (m_context.settingsPath.isEmpty())
        return;
    IniFile ini(m_context.settingsPath);
    WindowPlacements::forFile(ini.path()).write(ini, SectionName, placementOf(geometry(), logicalDpiY()));
    if (m_outcome.verified) {
        ini.writeInteger(SectionName, KeyChoice, int(choice()));
        ini.writeBool(SectionName, KeyRecord2Note, record2Note());
    }
    ini.save();
}

void LabelReport::accept()
{
    if (!m_outcome.verified)
        m_record2Note->setChecked(false);
    const LabelCardChoice k = choice();
    const Result<> result =
        m_binding->accept(m_outcome, k, m_cardKnown, record2Note(), [this](const QString &proposed) { return askName(proposed); });
    if (result.kind() == ErrorKind::Cancelled)
        return;  // nothing changed; the report stays open
    if (!result)
        tell(activePrompt(), *result.error);
    QDialog::accept();
}

std::optional<QString> LabelReport::askName(const QString &proposed)
{
    // A name the stored code page cannot hold is refused and asked again.
    QString name = proposed;
    for (;;) {
        if (!activePrompt().input(QStringLiteral("Привязка дозиметра"), QStringLiteral("Введите ФИО"), name))
            return std::nullopt;
        const QString missing = charactersNotHeld(name, cp1251Holds);
        if (missing.isEmpty())
            return name;
        activePrompt().message(MsgKind::Warning, refusedCharactersText(QStringLiteral("ФИО"), missing), PromptButton::Ok);
    }
}

void LabelReport::done(int r)
{
    saveSettings();  // at every close, whatever closed it
    QDialog::done(r);
}

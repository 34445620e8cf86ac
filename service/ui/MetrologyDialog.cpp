#include "service/ui/MetrologyDialog.h"

#include "core/Prompt.h"
#include "link/ValueCodec.h"
#include "records/AuditLog.h"
#include "records/DataModule.h"
#include "service/core/ServiceSession.h"
#include "service/ui/InsertionPrompt.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

const QString MetrologyDialog::ObjectName = QStringLiteral("TPencilMetrology");

namespace {

QLineEdit *labelledEdit(QWidget *parent, QGridLayout *grid, int row, const QString &name, const QString &caption,
                        const QString &note)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    auto *label = new QLabel(caption, parent);
    label->setBuddy(edit);
    auto *hint = new QLabel(note, parent);
    QFont small = hint->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    hint->setFont(small);
    hint->setStyleSheet(QStringLiteral("color: gray"));
    grid->addWidget(label, row * 3, 0);
    grid->addWidget(edit, row * 3 + 1, 0);
    grid->addWidget(hint, row * 3 + 2, 0);
    return edit;
}

// A read at opening that failed: Abort ends the flow, Ignore goes on without it.
bool ignoreReadFailure(IPrompt &prompt, const QString &text)
{
    return prompt.ask(MsgKind::Error, text, PromptButton::Abort | PromptButton::Ignore, PromptButton::Abort) ==
           PromptButton::Ignore;
}

}  // namespace

MetrologyDialog::MetrologyDialog(ServiceSession &session, IPrompt &prompt, QWidget *parent)
    : QDialog(parent), m_session(session), m_prompt(prompt)
{
    setObjectName(ObjectName);
    setWindowTitle(QStringLiteral("Метрологическая настройка дозиметра"));

    auto *grid = new QGridLayout;
    m_editA = labelledEdit(this, grid, 0, QStringLiteral("LE_A"), QStringLiteral("Коэффициент A"),
                           QStringLiteral("вещественное число"));
    m_editB = labelledEdit(this, grid, 1, QStringLiteral("LE_B"), QStringLiteral("Коэффициент B"),
                           QStringLiteral("целое число"));
    m_editNumber = labelledEdit(this, grid, 2, QStringLiteral("LE_Number"), QStringLiteral("Номер дозиметра"),
                                QStringLiteral("целое беззнаковое число"));
    m_accMode = new QCheckBox(QStringLiteral("Накопительный режим"), this);
    m_accMode->setObjectName(QStringLiteral("CB_AccMode"));
    m_accMode->setVisible(false);

    auto *ok = new QPushButton(QStringLiteral("&Записать"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setToolTip(QStringLiteral("Принять изменения"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("&Отменить"), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    cancel->setToolTip(QStringLiteral("Отменить и выйти"));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &MetrologyDialog::write);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_accMode);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    // Wide enough for the whole caption in a title bar (its font is often
    // bold; the icon and the title bar's buttons take about 160 px more).
    QFont captionFont = font();
    captionFont.setBold(true);
    setMinimumWidth(qMax(340, QFontMetrics(captionFont).horizontalAdvance(windowTitle()) + 160));

    // Both coefficient edits share one flag; setting a text counts too, until
    // the first showing clears the flags.
    connect(m_editA, &QLineEdit::textChanged, this, [this] { m_coefficientsChanged = true; });
    connect(m_editB, &QLineEdit::textChanged, this, [this] { m_coefficientsChanged = true; });
    connect(m_editNumber, &QLineEdit::textChanged, this, [this] { m_numberChanged = true; });
}

void MetrologyDialog::setReading(const MetrologyReading &reading)
{
    m_reading = reading;
    if (reading.aWord) {
        m_aTextShown = formatCoefficientA(decodeDecimalWord(*reading.aWord));
        m_editA->setText(m_aTextShown);
        m_editB->setText(formatCoefficientB(reading.b));
    } else {
        m_aTextShown.clear();
        m_editA->setText(QString());
        m_editB->setText(QString());
    }
    m_editNumber->setText(reading.number ? QString::number(*reading.number) : QString());
    m_accMode->setChecked(reading.number && reading.accumulation);
}

void MetrologyDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The first showing only: the dialog shown again after a message box keeps
    // what the operator edited.
    if (m_shown)
        return;
    m_shown = true;
    m_coefficientsChanged = false;
    m_numberChanged = false;
}

void MetrologyDialog::write()
{
    MetrologyInput input;
    input.aText = m_editA->text();
    input.bText = m_editB->text();
    input.numberText = m_editNumber->text();
    input.aTextShown = m_aTextShown;
    input.coefficientsChanged = m_coefficientsChanged;
    input.numberChanged = m_numberChanged;
    input.accumulation = m_accMode->isChecked();

    // Every field is checked before anything is written; on an error the
    // dialog stays open.
    MetrologyPlan plan;
    switch (planMetrologyWrite(input, m_reading, plan)) {
    case MetrologyInputCheck::BadB:
        m_prompt.message(MsgKind::Error, MetrologyBadBText, PromptButton::Ok);
        return;
    case MetrologyInputCheck::BadValue:
        m_prompt.message(MsgKind::Error, MetrologyWriteErrorText, PromptButton::Ok);
        return;
    case MetrologyInputCheck::Ok:
        break;
    }
    if (!plan.writeCoefficients && !plan.writeNumber) {
        accept();
        return;
    }

    MetrologyWriteOutcome outcome;
    const bool modeSwitching = m_session.modeSwitching();
    setEnabled(false);
    try {
        outcome = m_session.call(
            [&](SerialLink *link) { return runMetrologyWrite(link, plan, input, modeSwitching); });
    } catch (...) {
        setEnabled(true);
        m_prompt.message(MsgKind::Error, MetrologyWriteErrorText, PromptButton::Ok);
        return;
    }
    setEnabled(true);
    if (dataModule()) {
        const Result<> audited = auditMetrologyWrite(*dataModule(), m_reading, plan, outcome);
        if (!audited)
            m_prompt.message(MsgKind::Error, AuditLog::FailedText + audited.error->text, PromptButton::Ok);
    }
    for (int i = 0; i < outcome.failures; ++i)
        m_prompt.beep();
    m_prompt.message(outcome.failed ? MsgKind::Error : MsgKind::Information, outcome.message, PromptButton::Ok);
    if (!outcome.failed)
        accept();
}

void MetrologyDialog::runService(ILinkCycle &cycle, IPrompt &prompt, QWidget *parent)
{
    ServiceSession session(cycle);
    session.begin(100);
    if (session.serviceModeEntered() && !InsertionPrompt::waitForDosimeter(session, prompt, parent))
        return;  // the session switches the reader back

    MetrologyReading reading;
    auto read = [&session, &reading](bool (*step)(SerialLink *, MetrologyReading &)) {
        try {
            return session.call([&](SerialLink *link) { return step(link, reading); });
        } catch (...) {
            return false;
        }
    };
    if (!read(readMetrologyCoefficientWords) && !ignoreReadFailure(prompt, MetrologyReadCoefficientsFailedText))
        return;
    if (!read(readMetrologyNumber) && !ignoreReadFailure(prompt, MetrologyReadNumberFailedText))
        return;

    MetrologyDialog dialog(session, prompt, parent);
    dialog.setReading(reading);
    prompt.runModal(&dialog, [&dialog] { return dialog.exec(); });
    session.end();
}

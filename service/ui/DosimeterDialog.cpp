#include "service/ui/DosimeterDialog.h"

#include "core/LogFiles.h"
#include "core/Prompt.h"
#include "core/SettingsKeys.h"
#include "core/WindowPlacements.h"
#include "core/Settings.h"
#include "link/LinkCycle.h"
#include "records/AuditLog.h"
#include "records/DataModule.h"
#include "service/core/DosimeterOptions.h"
#include "service/core/LabelText.h"
#include "service/core/ServiceSession.h"
#include "service/ui/InsertionPrompt.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cmath>

const QString DosimeterDialog::ObjectName = SettingsKeys::TPencilOptions::Section;

namespace {

constexpr int ProgressSteps = 8;

// A read at opening in the session: its value, or none when it failed or raised.
template <typename T>
std::optional<T> readQuietly(ServiceSession &session, CommandResult<T> (*command)(SerialLink *))
{
    try {
        auto result = session.call([command](SerialLink *link) { return command(link); });
        if (result.ok())
            return result.value;
    } catch (...) {
    }
    return std::nullopt;
}

} // namespace

// ---------------------------------------------------------------- the flow

void DosimeterDialog::run(ILinkCycle &cycle, IPrompt &prompt, QWidget *parent, const DosimeterDialogContext &context)
{
    ServiceSession session(cycle);
    session.begin(100);
    if (session.serviceModeEntered() && !InsertionPrompt::waitForDosimeter(session, prompt, parent)) {
        session.end();  // mode 0, twice at most; the status label stays as it was
        return;
    }
    // From here the reader goes back to mode 0 and the status label is
    // cleared at the end, whatever happens.
    struct Finally {
        ServiceSession &session;
        ILinkCycle &cycle;
        ~Finally()
        {
            session.end();
            cycle.showStatusText(QString());
        }
    } finally{session, cycle};

    cycle.showStatusText(LabelAccessText);
    cycle.setState(SyncState::Offline);
    cycle.showState();

    auto *dialog = new DosimeterDialog(session, prompt, context, parent);
    std::unique_ptr<DosimeterDialog> owner(dialog);

    const auto label = readQuietly<DosimeterLabelData>(session, &readDosimeterLabel);
    if (label) {
        dialog->setOpeningLabel(label->text, label->code);
    } else {
        if (prompt.ask(MsgKind::Error, LabelReadFailedText, PromptButton::Abort | PromptButton::Ignore,
                               PromptButton::Abort)
            != PromptButton::Ignore)
            return;
        dialog->setOpeningLabel(QString(), QByteArray());
    }
    const auto number = readQuietly<DosimeterNumberData>(session, &readDosimeterNumber);
    if (!number
        && prompt.ask(MsgKind::Error, NumberReadFailedText, PromptButton::Abort | PromptButton::Ignore,
                              PromptButton::Abort)
            != PromptButton::Ignore)
        return;
    dialog->setOpeningNumber(number);

    prompt.runModal(dialog, [dialog] { return dialog->exec(); });
}

// ---------------------------------------------------------------- the dialog

DosimeterDialog::DosimeterDialog(ServiceSession &session, IPrompt &prompt, const DosimeterDialogContext &context,
                                 QWidget *parent)
    : QDialog(parent), m_session(session), m_prompt(prompt), m_context(context)
{
    setObjectName(ObjectName);
    setWindowTitle(QStringLiteral("Настройка дозиметра"));
    buildLayout();
    restorePlacement();
    connect(&m_session, &ServiceSession::progress, this,
            [this](int) { m_progress->setValue(qMin(m_progress->value() + 1, m_progress->maximum())); });
}

DosimeterDialog::~DosimeterDialog() = default;

void DosimeterDialog::buildLayout()
{
    m_number = new QLabel(this);
    m_number->setObjectName(QStringLiteral("Label_RFNumber"));
    m_number->setToolTip(QStringLiteral("Номер дозиметра"));
    QFont big = m_number->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    m_number->setFont(big);
    auto *numberCaption = new QLabel(QStringLiteral("Номер дозиметра"), this);
    numberCaption->setObjectName(QStringLiteral("Label1"));

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("PC"));

    auto *labelTab = new QWidget;
    labelTab->setObjectName(QStringLiteral("TabSheet1"));
    m_labString = new QLineEdit(labelTab);
    m_labString->setObjectName(QStringLiteral("LabString"));
    m_labHex = new QLineEdit(labelTab);
    m_labHex->setObjectName(QStringLiteral("LabHex"));
    m_cards = new QPushButton(QStringLiteral("..."), labelTab);
    m_cards->setObjectName(QStringLiteral("RunCardsEdit"));
    m_cards->setToolTip(QStringLiteral("Работа со списком людей"));
    m_cards->setEnabled(bool(m_context.pickCardLabel));
    m_cards->setAutoDefault(false);
    m_progress = new QProgressBar(labelTab);
    m_progress->setObjectName(QStringLiteral("ProgressBar"));
    m_progress->setRange(0, ProgressSteps);
    m_progress->setValue(0);
    // Shown only while a write is under way, saying so from its start (the
    // first group may take a whole window and its repeats).
    m_progress->setFormat(QStringLiteral("Запись в дозиметр: %p%"));
    m_progress->setTextVisible(true);
    QSizePolicy keepPlace = m_progress->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    m_progress->setSizePolicy(keepPlace);
    m_progress->hide();
    auto *labelGrid = new QGridLayout(labelTab);
    labelGrid->addWidget(m_labString, 0, 0);
    labelGrid->addWidget(m_cards, 0, 1);
    labelGrid->addWidget(m_labHex, 1, 0, 1, 2);
    labelGrid->addWidget(m_progress, 2, 0, 1, 2);
    labelGrid->setRowStretch(3, 1);
    m_tabs->addTab(labelTab, QStringLiteral("  Идентификатор  "));

    auto *doseTab = new QWidget;
    doseTab->setObjectName(QStringLiteral("TabSheet2"));
    m_sumDose = new QLabel(doseTab);
    m_sumDose->setObjectName(QStringLiteral("Label_SumDoseReaded"));
    QFont doseFont = m_sumDose->font();
    doseFont.setBold(true);
    m_sumDose->setFont(doseFont);
    m_info = new QLabel(doseTab);
    m_info->setObjectName(QStringLiteral("Label_Info"));
    m_accMode = new QCheckBox(QStringLiteral("Накопительный режим"), doseTab);
    m_accMode->setObjectName(QStringLiteral("CB_AccMode"));
    m_doseClear = new QPushButton(QStringLiteral("&Очистить накопленую дозу"), doseTab);
    m_doseClear->setObjectName(QStringLiteral("BtnDoseClear"));
    m_doseClear->setAutoDefault(false);
    auto *doseBox = new QVBoxLayout(doseTab);
    doseBox->addWidget(m_sumDose);
    doseBox->addWidget(m_info);
    doseBox->addWidget(m_accMode);
    auto *clearRow = new QHBoxLayout;
    clearRow->addWidget(m_doseClear);
    clearRow->addStretch();
    doseBox->addLayout(clearRow);
    doseBox->addStretch();
    m_tabs->addTab(doseTab, QStringLiteral(" Накопленая доза "));
    m_tabs->setCurrentIndex(0);

    m_ok = new QPushButton(QStringLiteral("&Записать"), this);
    m_ok->setObjectName(QStringLiteral("btnOk"));
    m_ok->setToolTip(QStringLiteral("Принять изменения"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("&Отменить"), this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->setToolTip(QStringLiteral("Отменить и выйти"));
    m_cancel->setAutoDefault(false);

    auto *top = new QHBoxLayout;
    top->addWidget(m_number);
    top->addWidget(numberCaption);
    top->addStretch();
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);
    resize(460, 260);

    connect(m_labString, &QLineEdit::textChanged, this, &DosimeterDialog::labStringChanged);
    connect(m_labHex, &QLineEdit::textChanged, this, &DosimeterDialog::labHexChanged);
    connect(m_accMode, &QCheckBox::toggled, this, &DosimeterDialog::noteAccumulationChange);
    connect(m_tabs, &QTabWidget::currentChanged, this, &DosimeterDialog::tabChanged);
    connect(m_doseClear, &QPushButton::clicked, this, &DosimeterDialog::clearDose);
    connect(m_cards, &QPushButton::clicked, this, &DosimeterDialog::pickCard);
    connect(m_ok, &QPushButton::clicked, this, &DosimeterDialog::writeToDosimeter);
    connect(m_cancel, &QPushButton::clicked, this, &DosimeterDialog::reject);
}

void DosimeterDialog::setOpeningLabel(const QString &text, const QByteArray &code)
{
    m_labelEditGuard = true;
    m_labString->clear();
    m_labHex->clear();
    m_labelEditGuard = false;
    m_openingText = text;
    m_labString->setText(text);
    m_openingText = m_labString->text();
    m_openingCode = code;
    m_known = KnownLabel::fromCode(code);
}

void DosimeterDialog::setOpeningNumber(const std::optional<DosimeterNumberData> &number)
{
    m_openingNumber = number;
    m_number->setText(number ? QString::number(number->number) : QString());
    m_accMode->setChecked(number && number->accumulation);
}

void DosimeterDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The first showing only: a message box or child window closing later
    // activates the dialog again and must not reset the change flag.
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    m_formCreating = false;
    m_accModeChanged = false;
}

void DosimeterDialog::noteAccumulationChange()
{
    if (!m_formCreating)
        m_accModeChanged = true;
}

// ---------------------------------------------------------------- the label editors

void DosimeterDialog::labStringChanged(const QString &text)
{
    if (m_labelEditGuard)
        return;
    m_labelEditGuard = true;
    bool beep = false;
    // The label as read is shown as it is; typed or pasted characters the
    // device's table lacks never enter the box.
    const QString fitted = fitLabelText(text, &beep, text == m_openingText);
    if (fitted != text)
        m_labString->setText(fitted);
    if (beep)
        m_prompt.beep();
    m_labHex->setText(labelHexView(fitted));
    m_labelEditGuard = false;
}

void DosimeterDialog::labHexChanged(const QString &text)
{
    if (m_labelEditGuard)
        return;
    int beeps = 0;
    const QString label = parseLabelHex(text, &beeps);
    for (int i = 0; i < beeps; ++i)
        m_prompt.beep();
    m_labelEditGuard = true;
    m_labString->setText(label);
    m_labelEditGuard = false;
}

void DosimeterDialog::pickCard()
{
    if (!m_context.pickCardLabel)
        return;
    if (const auto label = m_context.pickCardLabel(this))
        m_labString->setText(*label);
}

// ---------------------------------------------------------------- the dose tab

void DosimeterDialog::tabChanged(int index)
{
    if (index != 1 || !m_sumDoseUnread)
        return;
    readSumDose();
    m_sumDoseUnread = false;
}

void DosimeterDialog::readSumDose()
{
    m_sumDose->clear();
    CommandResult<float> dose;
    try {
        dose = m_session.call([](SerialLink *link) { return readTotalDose(link); });
    } catch (...) {
        return;
    }
    if (!dose.ok())
        return;
    const QString value = formatTotalDose(dose.value);
    m_info->setText(totalDoseInfo(value, QDateTime::currentDateTime()));
    m_sumDose->setText(totalDoseDisplay(dose.value));
}

void DosimeterDialog::clearDose()
{
    if (m_busy)
        return;
    const QString number = m_number->text();
    if (m_prompt.ask(MsgKind::Question,
                           QStringLiteral("Очистить накопленую дозу дозиметра %1?").arg(number),
                           PromptButton::Ok | PromptButton::Cancel, PromptButton::Cancel)
        != PromptButton::Ok)
        return;
    m_busy = true;
    struct Clear {
        DosimeterCheck check;
        std::optional<float> before;
        CommandResult<float> after;
        bool sent = false;
    } clear;
    std::optional<quint32> shown;
    if (m_openingNumber)
        shown = m_openingNumber->number;
    try {
        clear = m_session.call([shown, number](SerialLink *link) {
            Clear c;
            c.check = checkDosimeter(link, shown);
            if (!c.check.same())
                return c;
            const CommandResult<float> before = readTotalDose(link);
            logEvent(QStringLiteral("Очистка накопленой дозы дозиметра %1, доза до очистки: %2")
                         .arg(number, before.ok() ? formatTotalDose(before.value) : QStringLiteral("не считана")));
            // Read back also after a lost acknowledgement: the dose may have
            // been cleared all the same.
            if (before.ok())
                c.before = before.value;
            c.sent = true;
            clearDosimeterDose(link);
            c.after = readTotalDose(link);
            return c;
        });
    } catch (...) {
        clear.after = CommandResult<float>();
    }
    m_busy = false;
    if (clear.sent && dataModule()) {
        const Result<> audited = auditDoseClear(*dataModule(), number, clear.before,
                                                clear.after.ok() ? std::optional<float>(clear.after.value) : std::nullopt);
        if (!audited)
            m_prompt.message(MsgKind::Error, AuditLog::FailedText + audited.error->text, PromptButton::Ok);
    }
    if (!clear.check.same()) {
        m_prompt.beep();
        m_prompt.message(MsgKind::Error, dosimeterCheckText(clear.check), PromptButton::Ok);
        return;
    }
    const CommandResult<float> &after = clear.after;
    if (after.ok()) {
        m_info->setText(totalDoseInfo(formatTotalDose(after.value), QDateTime::currentDateTime()));
        m_sumDose->setText(totalDoseDisplay(after.value));
    }
    // The clear counts when the dose reads back as zero.
    if (after.ok() && after.value == 0.0f) {
        m_prompt.message(MsgKind::Information,
                               QStringLiteral("Суммарная доза: ") + QStringLiteral("0") + QStringLiteral("\r\n")
                                   + QStringLiteral("успешно записана в дозиметр"),
                               PromptButton::Ok);
        return;
    }
    m_prompt.beep();
    m_prompt.message(MsgKind::Error, QStringLiteral("Не удалось записать суммарную дозу в дозиметр"),
                           PromptButton::Ok);
}

// ---------------------------------------------------------------- writing

QString DosimeterDialog::numberAndModeWrite(bool &failed)
{
    failed = true;
    const bool accumulation = m_accMode->isChecked();
    if (!m_openingNumber)
        return ModeWriteFailedMessage;  // the number was not read: nothing to write it back with
    const quint32 number = m_openingNumber->number;
    struct Write {
        DosimeterCheck check;
        CommandResult<DosimeterNumberData> readBack;
    };
    Write w;
    try {
        w = m_session.call([number, accumulation](SerialLink *link) {
            Write r;
            // The dosimeter in the reader must still be the one read at opening.
            r.check = checkDosimeter(link, number);
            if (!r.check.same())
                return r;
            writeDosimeterNumber(link, number, accumulation);
            // What the register holds decides, also after a lost acknowledgement.
            r.readBack = readDosimeterNumber(link);
            return r;
        });
    } catch (...) {
        return ModeWriteFailedMessage;
    }
    if (w.check.outcome == DosimeterCheck::Other)
        return otherDosimeterMessage(w.check.number);
    if (!w.check.same() || !w.readBack.ok() || w.readBack.value.number != number
        || w.readBack.value.accumulation != accumulation)
        return ModeWriteFailedMessage;
    failed = false;
    return modeWrittenMessage(w.readBack.value.accumulation);
}

void DosimeterDialog::writeToDosimeter()
{
    if (m_busy)
        return;
    m_progress->setValue(0);
    m_progress->show();
    QString modeMessage;
    const QString text = m_labString->text().left(64);
    m_tabs->setCurrentIndex(0);
    m_cancel->setEnabled(false);
    m_busy = true;

    // A label the operator left alone goes back as the bytes read: its text
    // need not map back onto them.
    const QByteArray target =
        (text == m_openingText && m_openingCode.size() == LabelLength) ? m_openingCode : labelTargetCode(text);
    LabelWriteResult result;
    DosimeterCheck check;
    std::exception_ptr error;
    bool modeFailed = false;
    const KnownLabel known = m_known;
    try {
        ServiceSession *session = &m_session;
        std::optional<quint32> shown;
        if (m_openingNumber)
            shown = m_openingNumber->number;
        result = m_session.call([target, known, session, shown, &check](SerialLink *link) {
            // Nothing is written to a dosimeter other than the one shown.
            check = checkDosimeter(link, shown);
            if (!check.same())
                return LabelWriteResult();
            return writeDosimeterLabel(link, target, known, [session] { session->reportProgress(1); });
        });
        if (!check.same()) {
            m_progress->hide();
            m_cancel->setEnabled(true);
            m_busy = false;
            m_prompt.beep();
            m_prompt.message(MsgKind::Error, dosimeterCheckText(check), PromptButton::Ok);
            return;
        }
        m_known = result.known;
        if (result.completed && m_accModeChanged) {
            modeMessage = numberAndModeWrite(modeFailed);
            if (modeFailed)
                m_prompt.beep();
        }
    } catch (...) {
        error = std::current_exception();
    }

    m_progress->setValue(m_progress->maximum());
    m_progress->hide();
    m_cancel->setEnabled(true);
    m_busy = false;
    if (result.completed) {
        if (m_context.labelReport) {
            LabelWriteOutcome outcome;
            outcome.number = m_number->text();
            outcome.label = result.readBackText;
            outcome.labelCode = result.readBackCode;
            outcome.verified = result.verified;
            outcome.info = labelWrittenInfo(result.verified, text, result.readBackText, modeMessage);
            m_context.labelReport(this, outcome);
        }
        if (!modeFailed)
            accept();
        return;
    }
    m_prompt.message(MsgKind::Error,
                           labelWriteFailedText(text, result.written, changedLabelGroups(target, known), modeMessage),
                           PromptButton::Abort);
    if (error)
        m_prompt.message(MsgKind::Error, serviceErrorText(error), PromptButton::Ok);
}

void DosimeterDialog::restorePlacement()
{
    if (m_context.settingsPath.isEmpty())
        return;
    FormPlacement p;
    if (WindowPlacements::forFile(m_context.settingsPath).readAt(ObjectName, logicalDpiY(), p))
        move(p.normPos[0], p.normPos[1]);
}

void DosimeterDialog::savePlacement()
{
    if (m_context.settingsPath.isEmpty())
        return;
    WindowPlacements::forFile(m_context.settingsPath).write(ObjectName, placementOf(geometry(), logicalDpiY()));
}

void DosimeterDialog::done(int result)
{
    savePlacement();
    QDialog::done(result);
}

void DosimeterDialog::reject()
{
    // A write under way is not left half-way by the close box.
    if (m_busy)
        return;
    QDialog::reject();
}

void DosimeterDialog::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

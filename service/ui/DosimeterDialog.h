#pragma once
// The options dialog "Настройка дозиметра" (object name and settings section
// "TPencilOptions") and the flow of the main window's "Дозиметр" command that
// opens it. The flow runs in a service session: synchronisation paused, the
// reader in service mode where it needs it, the insertion prompt, the label
// and the number read, then the dialog; every write happens inside the
// dialog's handlers, each exchange in the session's link thread while the
// window repaints.
//
// Every write (the label, the number and mode, the dose clear) begins, in
// the same session step, with the number read again (checkDosimeter): a
// dosimeter other than the one shown gets nothing, and the operator is told
// so without a label report. The label the operator did not edit is written
// back as the bytes read, so nothing is sent for it. After every label write
// the label the dialog compares against follows what the groups read back.
// The number and mode, and the cleared dose, are reported as read back.
// Clearing the total dose asks first and logs the value it replaces. The
// progress bar shows only while a label write is under way.

#include "link/DeviceCommands.h"
#include "records/LabelBinding.h"
#include "service/core/LabelWrite.h"

#include <QDialog>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class ILinkCycle;
class IPrompt;
class ServiceSession;

// What the program gives the options flow besides the cycle and the prompt.
struct DosimeterDialogContext {
    // Shows the label report for a completed label write (modal).
    std::function<void(QWidget *parent, const LabelWriteOutcome &outcome)> labelReport;
    // Opens the card index; the chosen card's FIO_RFID, none when cancelled.
    // Without it the card button is disabled.
    std::function<std::optional<QString>(QWidget *parent)> pickCardLabel;
    // The settings file that keeps the dialog's position; empty: not kept.
    QString settingsPath;
};

class DosimeterDialog : public QDialog {
    Q_OBJECT
public:
    static const QString ObjectName;  // "TPencilOptions"

    // The "Дозиметр" command, on the reader of `cycle`; the operator is asked
    // and told through `prompt`.
    static void run(ILinkCycle &cycle, IPrompt &prompt, QWidget *parent, const DosimeterDialogContext &context);

    DosimeterDialog(ServiceSession &session, IPrompt &prompt, const DosimeterDialogContext &context,
                    QWidget *parent = nullptr);
    ~DosimeterDialog() override;

    // The opening reads: the label (empty code: not read) and the number (none: not read).
    void setOpeningLabel(const QString &text, const QByteArray &code);
    void setOpeningNumber(const std::optional<DosimeterNumberData> &number);

    // The label the dialog compares against (CurrentLabelCode): 16 bytes when
    // every group is known.
    QByteArray currentLabelCode() const { return m_known.code(); }
    bool accModeChanged() const { return m_accModeChanged; }
    bool sumDoseUnread() const { return m_sumDoseUnread; }
    bool busy() const { return m_busy; }

    // The handlers of the buttons (also reached by clicking).
    void writeToDosimeter();      // "&Записать"
    void clearDose();  // "&Очистить накопленую дозу"

    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildLayout();
    void restorePlacement();
    void savePlacement();
    void labStringChanged(const QString &text);
    void labHexChanged(const QString &text);
    void noteAccumulationChange();
    void tabChanged(int index);
    void readSumDose();
    void pickCard();
    QString numberAndModeWrite(bool &failed);

    ServiceSession &m_session;
    IPrompt &m_prompt;
    DosimeterDialogContext m_context;
    QLabel *m_number = nullptr;
    QTabWidget *m_tabs = nullptr;
    QLineEdit *m_labString = nullptr;
    QLineEdit *m_labHex = nullptr;
    QPushButton *m_cards = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_sumDose = nullptr;
    QLabel *m_info = nullptr;
    QCheckBox *m_accMode = nullptr;
    QPushButton *m_doseClear = nullptr;
    QPushButton *m_ok = nullptr;
    QPushButton *m_cancel = nullptr;

    QString m_openingText;      // the label text as set at opening
    QByteArray m_openingCode;   // the label bytes read at opening
    KnownLabel m_known;         // what the dosimeter is known to hold
    std::optional<DosimeterNumberData> m_openingNumber;
    bool m_labelEditGuard = false;
    bool m_formCreating = true;
    bool m_shownOnce = false;
    bool m_accModeChanged = false;
    bool m_sumDoseUnread = true;
    bool m_busy = false;
};

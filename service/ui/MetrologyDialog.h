#pragma once
// The metrology dialog "Метрологическая настройка дозиметра" (object name
// "TPencilMetrology"): coefficients A and B and the number of the inserted
// dosimeter. runService() is the whole flow the main window's "Метрология"
// starts: synchronisation paused and the reader in service mode for its whole
// length (ServiceSession), the insertion prompt where the reader switches
// modes, the current values read, the dialog shown, the reader switched back.
// "Записать" writes only what was edited since the dialog was first shown,
// and only when every field holds a value the dosimeter can take.

#include "service/core/MetrologyWrite.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;
class ILinkCycle;
class IPrompt;
class ServiceSession;

class MetrologyDialog : public QDialog {
    Q_OBJECT
public:
    static const QString ObjectName;  // "TPencilMetrology"

    MetrologyDialog(ServiceSession &session, IPrompt &prompt, QWidget *parent = nullptr);

    // The flow of the "Метрология" command, on the reader of `cycle`; the
    // operator is asked and told through `prompt`.
    static void runService(ILinkCycle &cycle, IPrompt &prompt, QWidget *parent);

    // The values the opening read found, put into the fields (they do not
    // count as edits: the flags are cleared when the dialog is first shown).
    void setReading(const MetrologyReading &reading);

    bool coefficientsChanged() const { return m_coefficientsChanged; }
    bool numberChanged() const { return m_numberChanged; }

    // The handler of "Записать".
    void write();

protected:
    void showEvent(QShowEvent *event) override;

private:
    ServiceSession &m_session;
    IPrompt &m_prompt;
    MetrologyReading m_reading;
    QString m_aTextShown;
    bool m_coefficientsChanged = false;
    bool m_numberChanged = false;
    bool m_shown = false;
    QLineEdit *m_editA = nullptr;
    QLineEdit *m_editB = nullptr;
    QLineEdit *m_editNumber = nullptr;
    QCheckBox *m_accMode = nullptr;
};

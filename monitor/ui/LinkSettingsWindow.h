#pragma once
// The link settings window LinkSettingsWindow ("Настройки соединения"): the COM port and
// whether the reader is polled from the separate request thread. It is a
// thin editor of the link's settings of the run (LinkSettings), which the
// program entry reads and the link follows, and tells the synchronisation
// engine about the thread choice.
//
// The port selection goes to the settings at once, so it takes effect at the
// next command whichever button closes the window. The thread choice takes
// effect only through "&Принять": closing the window any other way puts the
// check box back as it was, so the control timer and the request thread
// never poll the reader at the same time.

#include "core/LinkSettings.h"

#include <QDialog>

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QGroupBox;
class QPushButton;
class SyncEngine;

class LinkSettingsWindow : public QDialog {
    Q_OBJECT
public:
    explicit LinkSettingsWindow(LinkSettings &settings, QWidget *parent = nullptr);
    ~LinkSettingsWindow() override;

    LinkSettings &settings() { return *m_settings; }
    // The engine told about the thread choice (not owned; none: nobody is told).
    void setEngine(SyncEngine *engine) { m_engine = engine; }

    // Shows the window modally (through the prompt) and returns its result:
    // QDialog::Accepted when closed by "&Принять", QDialog::Rejected otherwise.
    int showModal();

    // "&Принять": starts or stops the request thread through the engine.
    void applyThreadChoice();

    // The window's placement; the controls show the settings object's
    // values, and the engine takes the stored thread choice.
    void restoreSettings(const IniFile &ini);
    // The placement and the port choice (section "TRS232").
    void saveSettings(IniFile &ini) const;

    // Every way of closing the window ends here; anything but "&Принять"
    // puts the thread check box back as it was when the window opened.
    void done(int result) override;

private:
    // The controls; their object names are the design's ("CB_ComPort",
    // "CB_UseThread", "btnOk", "btnCancel", "GroupBox1", "N2"), which the
    // settings file uses for the active control.
    QComboBox *m_portCombo = nullptr;
    QCheckBox *m_useThreadCheck = nullptr;
    QPushButton *m_okButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QGroupBox *m_portGroup = nullptr;
    QAction *m_exitAction = nullptr;

    void selectPort(int index);
    void showValues();  // the controls from the settings object

    LinkSettings *m_settings;
    SyncEngine *m_engine = nullptr;
    bool m_checkedAtOpen = false;
    bool m_placed = false;  // a stored placement was applied, or the window has been shown

protected:
    void showEvent(QShowEvent *event) override;
};

#pragma once
// "Оповещения о дозах" (object name "TDoseAlerts"): the stored dose alerts,
// newest first: the person, the level, the period, the dose, the reading
// that crossed the level, when, and its state (new, acknowledged by whom and
// when with the comment, withdrawn with the reason). An operator acknowledges
// the current alert in the dialog "Квитирование оповещения" (object name
// "TDoseAlertAck": their name and a comment). Alerts are never removed here;
// the list only reads them and hands the acknowledgement to DoseAlerts.

#include "records/DoseAlerts.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class IPrompt;
class QCheckBox;
class QPushButton;
class QTableWidget;

class DoseAlertList : public QDialog {
    Q_OBJECT
public:
    static const QString Caption;  // "Оповещения о дозах"

    DoseAlertList(IPrompt &prompt, DataModule &dm, QWidget *parent = nullptr);

    static QStringList titles();
    // The state column's text: "новое", "квитировано: ...", "снято: ...".
    static QString stateText(const DoseAlert &alert);
    const QList<DoseAlert> &shown() const { return m_alerts; }
    QTableWidget *table() const { return m_table; }

    // Re-reads the alerts (all, or only the open ones when the box is ticked).
    void refresh();
    // "Квитировать...": asks the name and comment for the current alert and
    // acknowledges it; a refusal is told and changes nothing.
    void acknowledgeCurrent();

private:
    void updateButtons();

    IPrompt &m_prompt;
    DataModule &m_dm;
    QCheckBox *m_onlyOpen = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_ack = nullptr;
    QList<DoseAlert> m_alerts;
};

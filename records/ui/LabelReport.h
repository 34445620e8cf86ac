#pragma once
// The label report "Отчёт о записи метки дозиметра" (object name and
// settings section "TRFLabelSaveReport"): shown modally after a label has
// been written into a dosimeter and read back. It tells which dosimeter now
// carries which label and whether a card has it; "Принять" can create a card
// for an unknown label and record in the journal that the dosimeter is
// issued to the label's owner (LabelBinding does the work). The close box
// closes it without any action.
//
// The last choice and "Автоматическая запись в журнале" are kept in the
// settings file ("RG_ItemIndex", "CB_Record2Note_Checked"). When the label
// did not read back as written, the choice starts at "Ничего не делать" and
// the journal is left alone.

#include "records/LabelBinding.h"

#include <QDialog>
#include <QString>
#include <memory>

class DataModule;
class QCheckBox;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;

// What the program gives the report: the tables, the settings file and the
// hooks of the binding (the names flag, the card numbers, the card windows).
struct LabelReportContext {
    DataModule *dm = nullptr;
    QString settingsPath;  // the settings file; empty: nothing is kept
    LabelBindingHooks hooks;
};

class LabelReport : public QDialog {
    Q_OBJECT
public:
    static const QString SectionName;  // "TRFLabelSaveReport"

    // The one entry point: shows the report for a finished label write
    // modally (through the prompt interface) and returns its result.
    static int run(QWidget *parent, const LabelWriteOutcome &outcome, const LabelReportContext &context);

    LabelReport(const LabelWriteOutcome &outcome, const LabelReportContext &context, QWidget *parent = nullptr);
    ~LabelReport() override;

    LabelCardChoice choice() const;
    void setChoice(LabelCardChoice choice);
    bool record2Note() const;
    void setRecord2Note(bool on);
    bool choiceShown() const;  // no card holds the label
    void accept() override;    // "Принять"
    void done(int r) override;

private:
    void buildLayout();
    void showCard();
    void restoreSettings();
    void saveSettings();
    std::optional<QString> askName(const QString &proposed);

    LabelWriteOutcome m_outcome;
    LabelReportContext m_context;
    std::unique_ptr<LabelBinding> m_binding;
    bool m_cardKnown = false;
    QLabel *m_number = nullptr;
    QLabel *m_label = nullptr;
    QLabel *m_info = nullptr;
    QGroupBox *m_cardGroup = nullptr;
    QGroupBox *m_choiceGroup = nullptr;
    QButtonGroup *m_choices = nullptr;
    QCheckBox *m_record2Note = nullptr;
    QLineEdit *m_cardId = nullptr;
    QLineEdit *m_cardFio = nullptr;
    QLineEdit *m_cardBirthDay = nullptr;
    QLineEdit *m_cardAddress = nullptr;
    QLineEdit *m_cardSex = nullptr;
    QLineEdit *m_cardComment = nullptr;
};

#pragma once
// The journal window "Журнал выдачи дозиметров" (object name and settings
// section "TNoteBook"): the table Notes in a grid, binding and releasing
// dosimeters, deleting a row (Ctrl+Delete), showing only the dosimeters
// issued now, the name synchronisation, and the dose totals per person over
// a period. Created once and kept; shown modally by the main window. Its
// filter toggle, sort order and current row live in the shared Notes table.

#include <QDateTime>
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

class DataModule;
class DataTableModel;
class IPrompt;
class Journal;
class JournalGridModel;
class QHeaderView;
class QPushButton;
class QTableView;
class QToolButton;

// What the program gives the journal besides the tables.
struct JournalContext {
    DataModule *dm = nullptr;
    IPrompt *prompt = nullptr;                   // the operator's prompt (required)
    std::function<bool()> namesOutOfStep;        // the engine's namesOutOfStep
    std::function<void()> markNamesOutOfStep;    // the engine's namesOutOfStep := true
    std::function<void()> syncNames;             // the name synchronisation
    // The card index, modal: the chosen card's label, or nothing.
    std::function<std::optional<QString>(QWidget *)> pickCardLabel;
    std::function<void(QWidget *)> showAbout;    // the about box
    std::function<QDateTime()> now;              // the clock (tests set it)
    QString settingsPath;                        // RUVO.INI: the CSV separator chosen last
};

class NoteBook : public QDialog {
    Q_OBJECT
public:
    static const QString SectionName;  // "TNoteBook"

    explicit NoteBook(const JournalContext &context, QWidget *parent = nullptr);
    ~NoteBook() override;

    Journal &journal() const { return *m_journal; }
    QTableView *grid() const { return m_grid; }
    int sortFieldIndex() const { return m_sortFieldIndex; }

    // The window's commands (buttons, toggle, title click, Ctrl+Delete).
    void bindDosimeter();
    void releaseDosimeter();
    void showOnlyIssued(bool down);
    void synchroniseNames();
    void sortByTitle(int column);
    void deleteEntry();
    void showTotals();
    // "Карточка доз": the personal dose card of the current row's person.
    void showDoseCard();

    // The synchronise button follows the engine's namesOutOfStep.
    void updateSynchro();

    // A user who may not change the journal (an auditor) sees it, its totals
    // and dose cards; binding, releasing, deleting and the synchronisation
    // are disabled and do nothing.
    void setReadOnly(bool readOnly);
    bool readOnly() const { return m_readOnly; }

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    QDateTime now() const;
    void buildLayout();
    void followCurrent();

    JournalContext m_context;
    std::unique_ptr<Journal> m_journal;
    DataTableModel *m_model = nullptr;
    JournalGridModel *m_view = nullptr;
    QTableView *m_grid = nullptr;
    QToolButton *m_onlyBusy = nullptr;
    QToolButton *m_synchro = nullptr;
    QPushButton *m_bind = nullptr;
    QPushButton *m_release = nullptr;
    QPushButton *m_totals = nullptr;
    QPushButton *m_doseCard = nullptr;
    QPushButton *m_close = nullptr;
    int m_sortFieldIndex = 1;  // position in the Notes field list of the sorted column
    bool m_readOnly = false;
};

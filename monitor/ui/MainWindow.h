#pragma once
// The main window MainWindow ("RUVO - Монитор"): the state indicator and status
// label on top, the records grid with its label rows and mode panel in the
// centre, the command buttons below, the menus and the status bar. It is the
// view of the synchronisation engine and forwards its commands to the engine
// and to the records view logic (RecordsView).
//
// Its code is split by what it holds: MainWindow.cpp the construction, the
// engine's view and the window events; MainWindowLayout.cpp the menus and
// controls; MainWindowLabels.cpp the grid's columns and the label rows;
// MainWindowCommands.cpp the command handlers; MainWindowSettings.cpp the stored values.

#include "monitor/core/RecordsView.h"
#include "core/Settings.h"
#include "monitor/core/StateIndicator.h"
#include "monitor/core/SyncView.h"
#include "records/StoreRights.h"

#include <QList>
#include <QMainWindow>
#include <functional>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QToolButton;
class FilterList;
class NoteBook;
class IPrompt;
class SyncEngine;
class LinkSettingsWindow;
class RecordsGrid;
class DataTable;
class StateSquare;
class ClickLabel;
class DetailMeasureRecord;
class BackupRunner;
class QTimer;
struct BackupResult;
struct BackupSettings;

class MainWindow : public QMainWindow, public ISyncView {
    Q_OBJECT
public:
    // statusNote: the start-up note of status panel 1 (the log words).
    explicit MainWindow(const QString &statusNote = QString(), QWidget *parent = nullptr);
    ~MainWindow() override;

    // The link settings window (created after this one; not owned).
    // Also given the engine.
    void setLinkSettingsWindow(LinkSettingsWindow *rs232);
    LinkSettingsWindow *linkSettingsWindow() const { return m_rs232; }

    // The synchronisation engine whose view this window is and to which it
    // forwards the commands (not owned; none: the commands do nothing).
    void setEngine(SyncEngine *engine);
    SyncEngine *engine() const { return m_engine; }

    // The prompt the window, its records view and the service flows it
    // starts ask and tell the operator through. Not owned; without one the
    // program's prompt in force (activePrompt()).
    void setPrompt(IPrompt *prompt);
    IPrompt &prompt() const;

    // The settings file; empty: no settings are read or written.
    void setSettingsPath(const QString &path) { m_settingsPath = path; }
    QString settingsPath() const { return m_settingsPath; }

    // Binds the records grid and the view logic to Measures (after the
    // database module has been created).
    void bindMeasures(DataTable *measures);
    // What the store's user may do (after the module has been created): the
    // journal, the card index and the dosimeter's service commands the user
    // may not use are disabled, their tips saying why.
    void setStoreRights(const StoreRights &rights);
    const StoreRights &storeRightsInForce() const { return m_rights; }

    // ---- ISyncView
    void setStatusText(const QString &text) override;
    void setProgress(int index, int total) override;
    void updateStateIndicator() override;
    void pulseHeartbeat() override;

    // ---- settings
    void restoreSettings();  // the first showing
    void saveSettings();     // the close
    // The main window's own stored values (link values included).
    FaceStoredValues &storedValues() { return m_storedValues; }

    // ---- window events
    void activateFirstTime();
    void rebuildColumnLabels();
    void relayoutColumnLabels();

    // ---- commands
    void toggleStoredFilter();
    // "Экспорт в CSV...": the rows the grid shows into a CSV file.
    void exportRecordsCsv();
    void toggleOnlyNew();
    void toggleJournalNames();
    void sortByColumn(int logicalColumn);
    void setQuickMinFilter(int column);
    void setQuickMaxFilter(int column);
    void clearQuickFilters();
    void showLinkSettings();
    void rewindPosition(int records);  // the "Тест" commands
    void toggleModePanel();
    void toggleCommandPanel();
    // "Журнал": the issue journal (made at its first use, kept for the run);
    // the records grid re-reads Measures after it closes.
    void openJournal();
    // "Дозиметр": the dosimeter options flow (label, accumulation mode, total dose).
    void runDosimeterOptions();
    // "Метрология" (button RunService, menu item NMetrology): the metrology
    // coefficients flow; the status label is cleared at its end.
    void runMetrology();
    // "Считать и показать спектр АЦП": the spectrum view, synchronisation
    // paused while it is open.
    void showSpectrum();
    // "О программе".
    void showAboutBox();
    // "Резервная копия...": the backup window (BackupWindow).
    void openBackup();
    // "Журнал аудита...": the audit trail, read only (AuditWindow).
    void openAudit();
    // The daily backup: started off this thread when one is due
    // (dailyBackupDue) and none is under way; a failed one is tried again an
    // hour later at the earliest. The window checks every BackupCheckMs from
    // its first activation.
    void checkDailyBackup();
    static constexpr int BackupCheckMs = 5 * 60 * 1000;
    BackupRunner &backupRunner() const { return *m_backup; }

    // ---- dose control (MainWindowDose.cpp)
    // "Контрольные уровни...", "Оповещения о дозах..." (also the click on the
    // alert mark), "Контроль данных...": their windows, modal, over the
    // program's data module.
    void openDoseLevels();
    void openDoseAlerts();
    void openDataChecks();
    // The alert mark of the top strip ("LabelDoseAlerts"): red with the count
    // of standing unacknowledged alerts, hidden when there are none. Counted
    // again after alerts change through the module (queued, once per burst),
    // when the list closes and on the backup check's tick.
    void refreshAlertCount();
    qint64 alertCount() const { return m_alertCount; }

    RecordsView &view() { return m_view; }
    int lastCheckedIndex() const { return m_view.lastCheckedIndex; }

    // "Картотека" (button RunCardsEdit, menu item NCards): the card list,
    // modal; it numbers new cards from the stored maxCardsIndex.
    void openCards();
    // The card list opened to choose a card (the journal's bind dialog, the
    // dosimeter options): the label of the card current when it closes with
    // OK; nothing when it was cancelled or no card is current.
    std::optional<QString> pickCardLabel(QWidget *parent);
    // "Годовая сводка доз..." (menu item actAnnualSummary): the annual dose
    // summary of the current year, modal.
    void openAnnualSummary();
    // "Детали", "Отобразить детальную информацию по выбранной записи" and the
    // grid's double click: the detail view of the current reading, shown
    // without waiting (made at its first use, kept for the run).
    void showRecordDetail();

    // Called after the settings are saved and before the database module
    // closes its tables at the end (the demo counts the stored readings there).
    void setBeforeDatabaseClose(std::function<void()> hook) { m_beforeDatabaseClose = std::move(hook); }

    // ---- the controls tests and tools look at; the others by object name
    RecordsGrid *recordsGrid() const { return m_grid; }
    const QList<ClickLabel *> &minLabels() const { return m_minLabels; }
    const QList<ClickLabel *> &maxLabels() const { return m_maxLabels; }

    static constexpr int PanelWidth = 62;
    static constexpr int NameColumnMinWidth = 80;   // what the name column keeps when space is short
    static constexpr int MinLabelWidth = 12;        // a label cut back narrower than this is hidden

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();
    void buildLayout(const QString &statusNote);
    void applyViewState();       // mirrors the view logic in the widgets
    void syncColumnsFromGrid();  // grid order and widths into the view logic
    void applyColumnsToGrid();
    void setModeColour(QToolButton *button, bool down);
    void setServiceEnabled(bool on);
    void togglePanel(int index, QAction *item);
    void onSplitterMoved();
    void closeDown();
    RecordsView::AskFunction quickFilterAsk();
    void refreshLabelsAfterReadings();
    bool startBackup(const BackupSettings &settings, bool automatic);
    void backupFinished(const BackupResult &result);
    void buildDoseCommands(QMenu *service, QAction *before);
    QWidget *buildAlertMark(QWidget *parent);
    void watchDoseAlerts();

    // ---- controls (object names as in the program's design)
    StateSquare *m_stateSquare = nullptr;
    ClickLabel *m_connectionStatus = nullptr;
    QWidget *m_progressPanel = nullptr;
    QWidget *m_progressBar = nullptr;
    QLabel *m_statusLabel = nullptr;
    QWidget *m_minPanel = nullptr;
    QWidget *m_maxPanel = nullptr;
    QLabel *m_minCaption = nullptr;
    ClickLabel *m_maxCaption = nullptr;
    QPushButton *m_clearMinButton = nullptr;
    QPushButton *m_clearMaxButton = nullptr;
    QWidget *m_modePanel = nullptr;
    QWidget *m_commandPanel = nullptr;
    QSplitter *m_splitter = nullptr;  // holds m_modePanel, the grid and m_commandPanel
    QToolButton *m_filterButton = nullptr;
    QToolButton *m_onlyNewButton = nullptr;
    QToolButton *m_namesButton = nullptr;
    QToolButton *m_detailButton = nullptr;
    RecordsGrid *m_grid = nullptr;
    QPushButton *m_journalButton = nullptr;
    QPushButton *m_cardsButton = nullptr;
    QPushButton *m_dosimeterButton = nullptr;
    QPushButton *m_metrologyButton = nullptr;
    QLabel *m_statusFilter = nullptr;
    QLabel *m_statusNote = nullptr;
    QLabel *m_statusHeartbeat = nullptr;
    QList<ClickLabel *> m_minLabels;
    QList<ClickLabel *> m_maxLabels;

    QAction *m_exitAction = nullptr;
    QAction *m_backupAction = nullptr;
    QAction *m_auditAction = nullptr;
    QAction *m_exportCsvAction = nullptr;
    QAction *m_linkSettingsAction = nullptr;
    QAction *m_fullArchiveAction = nullptr;
    QAction *m_syncNamesAction = nullptr;
    QAction *m_stopSynchroAction = nullptr;
    QAction *m_spectrumAction = nullptr;
    QAction *m_journalAction = nullptr;
    QAction *m_cardsAction = nullptr;
    QAction *m_annualSummaryAction = nullptr;
    QAction *m_dosimeterAction = nullptr;
    QAction *m_metrologyAction = nullptr;
    QMenu *m_testMenu = nullptr;
    QAction *m_rewindOneAction = nullptr;
    QAction *m_rewindTenAction = nullptr;
    QAction *m_modePanelAction = nullptr;
    QAction *m_commandPanelAction = nullptr;
    QAction *m_setFilterAction = nullptr;
    QAction *m_onlyNewAction = nullptr;
    QAction *m_namesAction = nullptr;
    QAction *m_detailAction = nullptr;
    QAction *m_aboutAction = nullptr;
    QMenu *m_gridMenu = nullptr;
    QAction *m_doseLevelsAction = nullptr;
    QAction *m_doseAlertsAction = nullptr;
    QAction *m_dataChecksAction = nullptr;
    ClickLabel *m_alertMark = nullptr;
    qint64 m_alertCount = 0;
    bool m_alertCountQueued = false;
    QMetaObject::Connection m_alertWatch;

    RecordsView m_view;
    StoreRights m_rights;
    NoteBook *m_noteBook = nullptr;
    FilterList *m_filterList = nullptr;  // the stored filters' list, made at its first use
    FaceStoredValues m_storedValues;
    std::function<void()> m_beforeDatabaseClose;
    DataTable *m_measures = nullptr;
    DetailMeasureRecord *m_detailView = nullptr;
    BackupRunner *m_backup = nullptr;
    QTimer *m_backupTimer = nullptr;
    bool m_backupAutomatic = false;     // the backup under way is the daily one
    QDateTime m_dailyBackupFailedAt;    // the last daily backup that failed
    LinkSettingsWindow *m_rs232 = nullptr;
    SyncEngine *m_engine = nullptr;
    IPrompt *m_prompt = nullptr;
    // Until the first activation and from the close on: no table work, no
    // label layout (the engine is told).
    bool m_faceNotReady = true;
    SyncState m_detachedState = SyncState::Offline;  // the state shown without an engine (Offline or Suspended)
    void setFaceNotReady(bool notReady);
    SyncState syncState() const;
    QString m_settingsPath;
    StateColourTracker m_colourTracker;
    int m_namePreferred = 0;  // the name column's width as the operator left it
    bool m_layingOut = false;
    int m_labelsIndex = 0;  // the engine's lastStoredIndex when the labels were last built
    bool m_restored = false;
    bool m_closing = false;
    bool m_commandsCollapsedBySplitter = false;
    QList<int> m_lastSizes;
};

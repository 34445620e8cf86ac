#include "MainWindow.h"

#include "BackupWindow.h"
#include "LinkSettingsWindow.h"
#include "RecordsGrid.h"

#include "core/LogFiles.h"
#include "core/Prompt.h"
#include "monitor/core/SyncEngine.h"
#include "records/DataBackup.h"
#include "records/DataTable.h"
#include "records/DataModule.h"
#include "records/ui/AuditWindow.h"
#include "records/ui/AnnualSummaryWindow.h"
#include "records/ui/Cards.h"
#include "records/ui/DetailMeasureRecord.h"
#include "records/ui/NoteBook.h"
#include "records/ui/LabelReport.h"
#include "records/ui/FilterList.h"
#include "monitor/ui/RecordsCsvExport.h"
#include "monitor/ui/StoredFilterSwitch.h"
#include "service/ui/AboutBox.h"
#include "service/ui/MetrologyDialog.h"
#include "service/ui/SpectrumDialog.h"
#include "service/ui/DosimeterDialog.h"

#include <QAction>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>

// The main window's command handlers: the mode switches, the title click,
// the quick filters, the commands of later windows, the link settings, the
// hidden "Тест" commands and the side panels.

// ---------------------------------------------------------------- modes and filters

void MainWindow::toggleStoredFilter()
{
    const bool down = m_filterButton->isChecked();
    syncColumnsFromGrid();
    if (down && !m_filterList) {
        m_filterList = new FilterList(this);
        m_filterList->setSettingsFile(m_settingsPath);
    }
    if (down)
        runStoredFilterSwitch(true, *m_filterList, m_view, m_engine ? m_engine->responderAddress() : 0);
    else {
        m_view.extFiltrDown = false;
        m_view.extFiltrUp();
    }
    m_grid->setFocus();
    applyViewState();
}

void MainWindow::exportRecordsCsv()
{
    syncColumnsFromGrid();
    exportRecordsToCsv(this, m_view, m_settingsPath);
}

void MainWindow::toggleOnlyNew()
{
    m_view.extOnlyNewDown = m_onlyNewButton->isChecked();
    syncColumnsFromGrid();
    m_view.onlyNewToggled();
    m_grid->setFocus();
    applyViewState();
}

void MainWindow::toggleJournalNames()
{
    m_view.extNotesDown = m_namesButton->isChecked();
    syncColumnsFromGrid();
    m_view.notesToggled();
    m_grid->setFocus();
    applyColumnsToGrid();
    applyViewState();
}

void MainWindow::sortByColumn(int logicalColumn)
{
    if (!m_measures)
        return;
    const QString field = m_grid->fieldOfColumn(logicalColumn);
    const int fieldIndex = m_measures->fieldIndex(field);
    if (fieldIndex < 0)
        return;
    m_view.sortByTitle(fieldIndex);
    m_grid->followTableOrder();  // a failed sort leaves the key order
}

RecordsView::AskFunction MainWindow::quickFilterAsk()
{
    // The modes dropped before the question show as dropped while it is open.
    return [this](const QString &caption, const QString &label, QString &value) {
        applyViewState();
        return prompt().input(caption, label, value);
    };
}

void MainWindow::setQuickMinFilter(int column)
{
    syncColumnsFromGrid();
    m_view.setQuickMinFilter(column, quickFilterAsk());
    applyViewState();
}

void MainWindow::setQuickMaxFilter(int column)
{
    syncColumnsFromGrid();
    m_view.setQuickMaxFilter(column, quickFilterAsk());
    applyViewState();
}

void MainWindow::clearQuickFilters()
{
    m_view.clearQuickFilters();
    applyViewState();
}

// ---------------------------------------------------------------- commands

void MainWindow::setPrompt(IPrompt *prompt)
{
    m_prompt = prompt;
    m_view.setPrompt(prompt);
}

IPrompt &MainWindow::prompt() const
{
    return m_prompt ? *m_prompt : activePrompt();
}

void MainWindow::runDosimeterOptions()
{
    if (!m_engine)
        return;
    DosimeterDialogContext context;
    context.settingsPath = m_settingsPath;
    context.pickCardLabel = [this](QWidget *parent) { return pickCardLabel(parent); };
    context.labelReport = [this](QWidget *parent, const LabelWriteOutcome &outcome) {
        LabelReportContext report;
        report.dm = dataModule();
        report.settingsPath = m_settingsPath;
        report.hooks.namesOutOfStep = [this] {
            if (m_engine)
                m_engine->markNamesOutOfStep();
        };
        report.hooks.maxCardsIndex = [this] { return m_storedValues.maxCardsIndex; };
        report.hooks.setMaxCardsIndex = [this](int index) { m_storedValues.maxCardsIndex = index; };
        // The card editor, or the card list, on the card just created.
        report.hooks.editCurrentCard = [this, parent] {
            Cards list(*dataModule(), m_storedValues.maxCardsIndex, m_settingsPath, parent);
            list.editCard();
        };
        report.hooks.showCardList = [this, parent] {
            Cards list(*dataModule(), m_storedValues.maxCardsIndex, m_settingsPath, parent);
            list.run();
        };
        LabelReport::run(parent, outcome, report);
    };
    DosimeterDialog::run(*m_engine, prompt(), this, context);
    updateStateIndicator();
}

void MainWindow::runMetrology()
{
    if (!m_engine)
        return;
    MetrologyDialog::runService(*m_engine, prompt(), this);
    setStatusText(QString());
    updateStateIndicator();
}

void MainWindow::showSpectrum()
{
    if (!m_engine)
        return;
    SpectrumDialog view(*m_engine, prompt(), m_settingsPath, this);
    prompt().runModal(&view, [&view] { return view.exec(); });
}

void MainWindow::showAboutBox()
{
    AboutBox box(this);
    prompt().runModal(&box, [&box] { return box.exec(); });
}

void MainWindow::openJournal()
{
    DataModule *dm = dataModule();
    if (!dm)
        return;
    if (!m_noteBook) {
        JournalContext context;
        context.dm = dm;
        context.prompt = &activePrompt();
        context.namesOutOfStep = [this] { return m_engine && m_engine->snapshot().namesOutOfStep; };
        context.markNamesOutOfStep = [this] {
            if (m_engine)
                m_engine->markNamesOutOfStep();
        };
        context.syncNames = [this] {
            if (m_engine)
                m_engine->syncNamesFromJournal();
        };
        context.pickCardLabel = [this](QWidget *parent) { return pickCardLabel(parent); };
        context.showAbout = [this](QWidget *) { showAboutBox(); };
        context.settingsPath = m_settingsPath;
        m_noteBook = new NoteBook(context, this);
    }
    m_noteBook->setReadOnly(!m_rights.journal);
    prompt().runModal(m_noteBook, [this] { return m_noteBook->exec(); });
    // The journal's changes reach the records grid.
    if (m_measures)
        m_measures->refresh();
}

void MainWindow::openCards()
{
    pickCardLabel(this);
}

std::optional<QString> MainWindow::pickCardLabel(QWidget *parent)
{
    DataModule *dm = dataModule();
    if (!dm)
        return std::nullopt;
    Cards list(*dm, m_storedValues.maxCardsIndex, m_settingsPath, parent ? parent : this);
    list.setReadOnly(!m_rights.cards);
    if (list.run() != QDialog::Accepted)
        return std::nullopt;
    const std::optional<CardData> card = list.currentCard();
    if (!card)
        return std::nullopt;
    return card->label;
}

void MainWindow::openAnnualSummary()
{
    DataModule *dm = dataModule();
    if (!dm)
        return;
    AnnualSummaryWindow window(prompt(), *dm, QDate::currentDate().year(), this);
    window.setSettingsPath(m_settingsPath);
    prompt().runModal(&window, [&window] { return window.exec(); });
}

void MainWindow::showRecordDetail()
{
    m_grid->setFocus();
    if (!m_measures)
        return;
    if (!m_detailView)
        m_detailView = new DetailMeasureRecord(*m_measures, m_settingsPath, this);
    m_detailView->setMarksAllowed(m_rights.marks);
    m_detailView->showView();
}

void MainWindow::showLinkSettings()
{
    if (m_rs232)
        m_rs232->showModal();
}

void MainWindow::rewindPosition(int records)
{
    DataModule *dm = dataModule();
    SyncEngine *engine = m_engine;
    if (!dm || !engine)
        return;
    try {
        ReaderPosition position = engine->position();
        int &number = position.recNumber;
        QDateTime &time = position.time;
        const QString problem = rewindReaderPosition(dm->devices(), dm->measures(), records, number, time);
        if (!problem.isEmpty()) {
            prompt().message(MsgKind::Information, problem, PromptButton::Ok);
            return;
        }
        engine->setPosition(position);
    } catch (const ERuvoError &e) {
        prompt().message(MsgKind::Error, e.message(), PromptButton::Ok);
    }
}

void MainWindow::togglePanel(int index, QAction *item)
{
    // A side panel of the splitter (0 the mode panel, 2 the command panel)
    // goes between its full width and one pixel; the grid takes up the rest.
    QList<int> sizes = m_splitter->sizes();
    const bool shown = sizes[index] >= PanelWidth;
    const int delta = shown ? sizes[index] - 1 : PanelWidth - sizes[index];
    sizes[index] = shown ? 1 : PanelWidth;
    sizes[1] += shown ? delta : -delta;
    m_splitter->setSizes(sizes);
    item->setChecked(!shown);
    m_lastSizes = m_splitter->sizes();
    relayoutColumnLabels();
}

void MainWindow::toggleModePanel()
{
    togglePanel(0, m_modePanelAction);
}

void MainWindow::toggleCommandPanel()
{
    togglePanel(2, m_commandPanelAction);
}

void MainWindow::onSplitterMoved()
{
    // A panel is either shown at its full width or collapsed to one pixel.
    QList<int> sizes = m_splitter->sizes();
    const QList<int> before = m_lastSizes.size() == 3 ? m_lastSizes : QList<int>{PanelWidth, 0, PanelWidth};
    for (int i : {0, 2}) {
        if (sizes[i] != 1 && sizes[i] != PanelWidth) {
            sizes[1] += sizes[i] - PanelWidth;
            sizes[i] = PanelWidth;
        }
    }
    m_splitter->setSizes(sizes);
    sizes = m_splitter->sizes();
    m_modePanelAction->setChecked(sizes[0] > 1);
    m_commandPanelAction->setChecked(sizes[2] > 1);
    // The clear buttons shrink while the splitter keeps the command panel collapsed.
    if (before[2] > 1 && sizes[2] <= 1) {
        for (QPushButton *b : {m_clearMinButton, m_clearMaxButton}) {
            b->setText(QStringLiteral("x"));
            b->setFixedSize(20, 25);
        }
    } else if (before[2] <= 1 && sizes[2] > 1) {
        for (QPushButton *b : {m_clearMinButton, m_clearMaxButton}) {
            b->setText(QStringLiteral("Очистка"));
            b->setFixedSize(71, 25);
        }
    }
    m_lastSizes = sizes;
    relayoutColumnLabels();
}

// ---------------------------------------------------------------- backups

void MainWindow::openBackup()
{
    BackupWindow window(this, m_settingsPath, *m_backup,
                        [this](const BackupSettings &s) { return startBackup(s, false); });
    activePrompt().runModal(&window, [&window] { return window.exec(); });
}

void MainWindow::openAudit()
{
    DataModule *dm = dataModule();
    if (!dm || !dm->connected())
        return;
    AuditWindow window(activePrompt(), *dm, QDateTime::currentDateTime(), this);
    window.setSettingsPath(m_settingsPath);
    activePrompt().runModal(&window, [&window] { return window.exec(); });
}

bool MainWindow::startBackup(const BackupSettings &settings, bool automatic)
{
    DataModule *dm = dataModule();
    if (!dm || !dm->connected() || m_closing)
        return false;
    BackupRequest request;
    request.dataDir = dm->dataDir();
    request.tables = backupTablesOf(*dm);
    request.targetDir = settings.folder;
    request.keep = settings.keep;
    if (!m_backup->start(request))
        return false;
    m_backupAutomatic = automatic;
    return true;
}

void MainWindow::checkDailyBackup()
{
    if (m_closing || m_backup->running())
        return;
    const QDateTime now = QDateTime::currentDateTime();
    if (m_dailyBackupFailedAt.isValid() && m_dailyBackupFailedAt.secsTo(now) < 3600
        && m_dailyBackupFailedAt <= now)
        return;
    const BackupSettings s = readBackupSettings(m_settingsPath);
    if (dailyBackupDue(s, now))
        startBackup(s, true);
}

void MainWindow::backupFinished(const BackupResult &result)
{
    if (result.ok)
        writeLastBackupTime(m_settingsPath, QDateTime::currentDateTime());
    if (m_backupAutomatic)
        m_dailyBackupFailedAt = result.ok ? QDateTime() : QDateTime::currentDateTime();
    QString line = result.text;
    line.replace(QLatin1Char('\n'), QStringLiteral("; "));
    logEvent((m_backupAutomatic ? QStringLiteral("Ежедневная копия. ") : QString()) + line);
}

#include "MainWindow.h"

#include "records/ui/DetailMeasureRecord.h"

#include "ClickLabel.h"
#include "StateSquare.h"
#include "LinkSettingsWindow.h"
#include "RecordsGrid.h"

#include "core/WindowPlacements.h"
#include "monitor/core/SyncEngine.h"
#include "records/DataTable.h"
#include "records/DataModule.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "records/DataBackup.h"

// The main window's construction and its life: the binding to the engine,
// the engine's view (status texts, progress, indicator), the first showing,
// activation, resizing and the close.

namespace {

QColor systemFace()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

} // namespace

MainWindow::MainWindow(const QString &statusNote, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Face"));
    setWindowTitle(QStringLiteral("RUVO - Монитор"));
    resize(800, 580);
    setMinimumSize(586, 406);

    m_view.sortFieldIndex = int(MeasuresField::DateTime);
    m_view.statusText = statusNote;

    buildMenus();
    buildLayout(statusNote);
    applyViewState();

    m_backup = new BackupRunner(this);
    connect(m_backup, &BackupRunner::finished, this, &MainWindow::backupFinished);
    m_backupTimer = new QTimer(this);
    m_backupTimer->setInterval(BackupCheckMs);
    connect(m_backupTimer, &QTimer::timeout, this, &MainWindow::checkDailyBackup);

    m_view.rebuildIndexes = [this]() {
        if (dataModule() && m_measures) {
            try {
                dataModule()->rebuildIndexes(*m_measures);
            } catch (const ERuvoError &) {
            }
        }
    };
    m_view.askNameSync = [this](bool extNotesDown) {
        if (m_engine)
            m_engine->askNameSync(extNotesDown);
    };
}

MainWindow::~MainWindow()
{
    if (m_engine && &m_engine->view() == static_cast<ISyncView *>(this))
        m_engine->setView(nullptr);
}

void MainWindow::setEngine(SyncEngine *engine)
{
    if (m_engine)
        disconnect(m_engine, nullptr, this, nullptr);
    m_engine = engine;
    if (m_rs232)
        m_rs232->setEngine(engine);
    if (!engine)
        return;
    engine->setFaceNotReady(m_faceNotReady);
    // The menu item follows the suspension whoever changed it.
    connect(engine, &SyncEngine::stopSynchroChanged, this, [this](bool checked) {
        QSignalBlocker block(m_stopSynchroAction);
        m_stopSynchroAction->setChecked(checked);
    });
    // The names in the grid change when the name synchronisation ran.
    connect(engine, &SyncEngine::namesSynchronised, this, [this] {
        if (m_measures && m_measures->active())
            m_measures->refresh();
    });
}

void MainWindow::setLinkSettingsWindow(LinkSettingsWindow *rs232)
{
    m_rs232 = rs232;
    if (m_rs232)
        m_rs232->setEngine(m_engine);
}

void MainWindow::setFaceNotReady(bool notReady)
{
    m_faceNotReady = notReady;
    if (m_engine)
        m_engine->setFaceNotReady(notReady);
}

SyncState MainWindow::syncState() const
{
    return m_engine ? m_engine->snapshot().state : m_detachedState;
}

// ---------------------------------------------------------------- ISyncView

void MainWindow::setStatusText(const QString &text)
{
    // A long message (a port's name and the system's reason) takes a second
    // line; one that does not fit even so ends in "…" and is shown whole as
    // the label's tooltip.
    const QRect room = m_statusLabel->contentsRect();
    const QFontMetrics metrics(m_statusLabel->font());
    const QRect wrapped = metrics.boundingRect(QRect(0, 0, room.width(), 1 << 20),
                                               Qt::AlignCenter | Qt::TextWordWrap, text);
    const bool whole = wrapped.height() <= room.height() && wrapped.width() <= room.width();
    m_statusLabel->setWordWrap(whole);
    m_statusLabel->setText(whole ? text : metrics.elidedText(text, Qt::ElideRight, room.width()));
    m_statusLabel->setToolTip(whole ? QString() : text);
}

void MainWindow::setProgress(int index, int total)
{
    m_progressBar->setFixedWidth(progressWidth(index, total, m_progressPanel->width()));
    m_progressBar->setFixedHeight(m_progressPanel->height());
}

void MainWindow::pulseHeartbeat()
{
    m_statusHeartbeat->setText(nextHeartbeatText(m_statusHeartbeat->text()));
}

void MainWindow::setStoreRights(const StoreRights &rights)
{
    m_rights = rights;
    // The journal and the cards open for everyone: a user who may not change
    // them gets them read-only (openJournal, pickCardLabel).
    if (!rights.service) {
        const QString refused = QStringLiteral("Недоступно пользователю базы данных ") + rights.user;
        setServiceEnabled(false);
        m_dosimeterButton->setToolTip(refused);
        m_metrologyButton->setToolTip(refused);
    }
}

void MainWindow::setServiceEnabled(bool on)
{
    // The state of the link enables them; the store's user's rights may not.
    on = on && m_rights.service;
    m_dosimeterButton->setEnabled(on);
    m_metrologyButton->setEnabled(on);
    m_dosimeterAction->setEnabled(on);
    m_metrologyAction->setEnabled(on);
}

void MainWindow::updateStateIndicator()
{
    const SyncSnapshot cycle = m_engine ? m_engine->snapshot() : SyncSnapshot{};
    const SyncState state = m_engine ? cycle.state : m_detachedState;
    const StateLook look = computeStateLook(state, cycle.readerBusy, cycle.readerNormalMode, cycle.readerModeSwitching,
                                            cycle.tickCount);
    if (m_colourTracker.changed(int(state))) {
        const QColor colour = look.systemFace ? systemFace() : QColor::fromRgb(look.rgb);
        m_stateSquare->setColour(colour);
        QPalette pal = m_connectionStatus->palette();
        pal.setColor(QPalette::Window, colour);
        m_connectionStatus->setPalette(pal);
    }
    if (look.picture >= 0)
        m_stateSquare->setPicture(look.picture);
    if (!look.statusText.isEmpty())
        m_connectionStatus->setText(look.statusText);
    if (!look.infoText.isEmpty())
        m_statusLabel->setText(look.infoText);
    if (look.service == ServiceCommands::Enable)
        setServiceEnabled(true);
    else if (look.service == ServiceCommands::Disable)
        setServiceEnabled(false);
    if (state != SyncState::Exchanging)
        refreshLabelsAfterReadings();
}

void MainWindow::refreshLabelsAfterReadings()
{
    // A pass that stored readings ends with the indicator painted: the
    // labels then show the smallest and largest values again (a few MIN/MAX
    // queries), and the first readings of a new database build them.
    SyncEngine *engine = m_engine;
    if (!engine || m_faceNotReady || m_closing || !m_measures)
        return;
    const int newest = engine->snapshot().lastStoredIndex;
    if (newest == m_labelsIndex)
        return;
    m_labelsIndex = newest;
    syncColumnsFromGrid();
    if (m_view.refreshColumnLabels())
        applyViewState();
}

// ---------------------------------------------------------------- window events

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_restored)
        return;
    m_restored = true;
    // The stored placement applies only at the screen resolution it was saved with.
    FormPlacement p;
    bool placed = false;
    if (!m_settingsPath.isEmpty() && WindowPlacements::forFile(m_settingsPath).readAt(SectionFace, logicalDpiY(), p)) {
        setGeometry(p.normPos[0], p.normPos[1], qMax(p.width(), 586), qMax(p.height(), 406));
        placed = true;
        if (p.maximised())
            QTimer::singleShot(0, this, &QWidget::showMaximized);
    }
    if (!placed) {
        if (QScreen *s = screen())
            move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    restoreSettings();
    // Some platforms never activate a window nobody clicked (a display
    // without a window manager): the first activation then happens here.
    QTimer::singleShot(250, this, [this] {
        if (m_faceNotReady && !m_closing)
            activateFirstTime();
    });
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        activateFirstTime();
}

void MainWindow::activateFirstTime()
{
    if (!m_faceNotReady || m_closing)
        return;
    rebuildColumnLabels();
    setFaceNotReady(false);
    relayoutColumnLabels();
    m_backupTimer->start();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    relayoutColumnLabels();
    m_statusNote->setFixedWidth(qMax(50, width() - 100));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The close is never refused.
    if (!m_closing)
        closeDown();
    event->accept();
}

void MainWindow::closeDown()
{
    m_closing = true;
    setFaceNotReady(true);  // record storing and label layout stop at once
    m_backupTimer->stop();
    m_backup->cancelAndWait();  // an unfinished backup leaves nothing behind
    if (SyncEngine *engine = m_engine) {
        engine->shutDown();
        if (engine->timerControl())
            engine->timerControl()->stop();
    }
    try {
        saveSettings();
    } catch (...) {
    }
    if (m_beforeDatabaseClose) {
        try {
            m_beforeDatabaseClose();
        } catch (...) {
        }
    }
    if (m_detailView)
        m_detailView->close();  // its placement is saved as at any close
    m_grid->bind(nullptr);
    m_view.setTable(nullptr);
    m_measures = nullptr;
    if (DataModule *dm = dataModule())
        dm->dataModuleDestroy();
}

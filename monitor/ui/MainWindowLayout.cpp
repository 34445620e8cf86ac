#include "MainWindow.h"

#include "ClickLabel.h"
#include "StateSquare.h"
#include "RecordsGrid.h"

#include "monitor/core/SyncEngine.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

// The main window's controls: the menus and their commands, the top strip,
// the label rows, the mode panel, the grid and the command panel, the
// command buttons and the status bar.

namespace {

QToolButton *modeButton(QWidget *parent, const QString &name, const QString &text, const QString &hint)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    b->setCheckable(true);
    b->setAutoRaise(false);
    b->setFixedSize(54, 48);
    return b;
}

QPushButton *commandButton(QWidget *parent, const QString &name, const QString &text, const QString &hint)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setToolTip(hint);
    b->setMinimumSize(110, 44);
    return b;
}

QAction *MenuAction(QObject *parent, const QString &name, const QString &caption, const QString &key = QString())
{
    auto *a = new QAction(caption, parent);
    a->setObjectName(name);
    if (!key.isEmpty())
        a->setShortcut(QKeySequence(key));
    return a;
}

} // namespace

void MainWindow::buildMenus()
{
    QMenuBar *bar = menuBar();

    QMenu *file = bar->addMenu(QStringLiteral("&Файл"));
    m_exportCsvAction = MenuAction(this, QStringLiteral("actExportCsv"), QStringLiteral("&Экспорт в CSV..."),
                                   QStringLiteral("Ctrl+E"));
    file->addAction(m_exportCsvAction);
    file->addSeparator();
    connect(m_exportCsvAction, &QAction::triggered, this, &MainWindow::exportRecordsCsv);
    m_backupAction = MenuAction(this, QStringLiteral("actBackup"), QStringLiteral("&Резервная копия..."));
    file->insertAction(file->actions().constLast(), m_backupAction);
    connect(m_backupAction, &QAction::triggered, this, &MainWindow::openBackup);
    m_exitAction = MenuAction(this, QStringLiteral("N4"), QStringLiteral("В&ыход"), QStringLiteral("Ctrl+X"));
    file->addAction(m_exitAction);
    connect(m_exitAction, &QAction::triggered, this, &QWidget::close);

    QMenu *service = bar->addMenu(QStringLiteral("&Сервис"));
    m_linkSettingsAction = MenuAction(this, QStringLiteral("N5"), QStringLiteral("Настройка свя&зи"), QStringLiteral("Ctrl+O"));
    m_fullArchiveAction = MenuAction(this, QStringLiteral("actGetFullArchive"), QStringLiteral("Считать весь архив ТРЕМ-01"));
    m_syncNamesAction = MenuAction(this, QStringLiteral("actSyncFIO"),
                            QStringLiteral("&Синхронизировать ФИО по дозиметрам с записями в журнале"),
                            QStringLiteral("Ctrl+H"));
    m_stopSynchroAction = MenuAction(this, QStringLiteral("NStopSynchro"), QStringLiteral("Приостановить синхронизацию"),
                              QStringLiteral("Ctrl+P"));
    m_stopSynchroAction->setCheckable(true);
    m_spectrumAction = MenuAction(this, QStringLiteral("actShowSpectrum"), QStringLiteral("Считать и показать спектр АЦП"));
    m_journalAction = MenuAction(this, QStringLiteral("NNotes"), QStringLiteral("Журнал"));
    m_cardsAction = MenuAction(this, QStringLiteral("NCards"), QStringLiteral("Картотека"));
    m_cardsAction->setToolTip(QStringLiteral("Работа со списком людей"));
    m_annualSummaryAction = MenuAction(this, QStringLiteral("actAnnualSummary"), QStringLiteral("Годовая сводка доз..."));
    m_dosimeterAction = MenuAction(this, QStringLiteral("NDosimetr"), QStringLiteral("Дозиметр"));
    m_dosimeterAction->setEnabled(false);
    m_metrologyAction = MenuAction(this, QStringLiteral("NMetrology"), QStringLiteral("Метрология"));
    m_metrologyAction->setEnabled(false);
    service->addAction(m_linkSettingsAction);
    service->addSeparator();
    service->addAction(m_fullArchiveAction);
    service->addAction(m_syncNamesAction);
    service->addAction(m_stopSynchroAction);
    service->addSeparator();
    service->addAction(m_spectrumAction);
    service->addSeparator();
    service->addAction(m_journalAction);
    service->addAction(m_cardsAction);
    m_auditAction = MenuAction(this, QStringLiteral("actAudit"), QStringLiteral("Журнал &аудита..."));
    service->addAction(m_auditAction);
    connect(m_auditAction, &QAction::triggered, this, &MainWindow::openAudit);
    service->addAction(m_annualSummaryAction);
    service->addAction(m_dosimeterAction);
    service->addAction(m_metrologyAction);
    m_testMenu = new QMenu(QStringLiteral("Тест"), this);
    m_testMenu->setObjectName(QStringLiteral("NTest"));
    m_rewindOneAction = MenuAction(this, QStringLiteral("N21"), QStringLiteral("Эмулировать введение дозиметра"));
    m_rewindTenAction = MenuAction(this, QStringLiteral("N101"), QStringLiteral("Эмулировать подключение считывателя с 10 записями"));
    m_testMenu->addAction(m_rewindOneAction);
    m_testMenu->addAction(m_rewindTenAction);
    QAction *testMenu = service->addMenu(m_testMenu);
    testMenu->setVisible(false);  // the test submenu is hidden
    buildDoseCommands(service, testMenu);

    QMenu *view = bar->addMenu(QStringLiteral("&Вид"));
    m_modePanelAction = MenuAction(this, QStringLiteral("nViewPanelModes"), QStringLiteral("Отображать панель &режимов"));
    m_modePanelAction->setCheckable(true);
    m_modePanelAction->setChecked(true);
    m_commandPanelAction = MenuAction(this, QStringLiteral("nViewPanelCommands"), QStringLiteral("Отображать панель &действий"));
    m_commandPanelAction->setCheckable(true);
    m_commandPanelAction->setChecked(true);
    m_setFilterAction = MenuAction(this, QStringLiteral("actSetFilter"), QStringLiteral("Установить / Снять  &фильтр"),
                              QStringLiteral("Ctrl+S"));
    m_setFilterAction->setCheckable(true);
    m_onlyNewAction = MenuAction(this, QStringLiteral("actOnlyNew"),
                            QStringLiteral("Включить / выключить режим отображения только новых"), QStringLiteral("Ctrl+N"));
    m_onlyNewAction->setCheckable(true);
    m_namesAction = MenuAction(this, QStringLiteral("actExtNotes"),
                             QStringLiteral("Отобразить / скрыть поля из записей в журнале"), QStringLiteral("Ctrl+J"));
    m_namesAction->setCheckable(true);
    m_detailAction = MenuAction(this, QStringLiteral("actDetailRecord"),
                                 QStringLiteral("Отобразить детальную информацию по выбранной записи"),
                                 QStringLiteral("Ctrl+I"));
    view->addAction(m_modePanelAction);
    view->addAction(m_commandPanelAction);
    view->addSeparator();
    view->addAction(m_setFilterAction);
    view->addAction(m_onlyNewAction);
    view->addAction(m_namesAction);
    view->addSeparator();
    view->addAction(m_detailAction);

    QMenu *help = bar->addMenu(QStringLiteral("&Помощь"));
    m_aboutAction = MenuAction(this, QStringLiteral("N3"), QStringLiteral("&О программе"));
    help->addAction(m_aboutAction);

    m_gridMenu = new QMenu(this);
    m_gridMenu->setObjectName(QStringLiteral("GridMenu"));
    m_gridMenu->addAction(m_setFilterAction);
    m_gridMenu->addAction(m_onlyNewAction);
    m_gridMenu->addAction(m_namesAction);
    m_gridMenu->addSeparator();
    m_gridMenu->addAction(m_detailAction);
    m_gridMenu->addSeparator();
    m_gridMenu->addAction(m_exportCsvAction);

    // Every action answers its shortcut wherever the focus is in the window.
    for (QAction *a : findChildren<QAction *>())
        if (!a->shortcut().isEmpty())
            addAction(a);

    connect(m_linkSettingsAction, &QAction::triggered, this, &MainWindow::showLinkSettings);
    connect(m_fullArchiveAction, &QAction::triggered, this, [this] {
        if (m_engine)
            m_engine->readFullArchive();
    });
    connect(m_syncNamesAction, &QAction::triggered, this, [this] {
        if (m_engine)
            m_engine->syncNamesFromJournal();
    });
    connect(m_stopSynchroAction, &QAction::toggled, this, [this](bool checked) {
        if (m_engine)
            m_engine->setStopSynchro(checked);
        else
            m_detachedState = checked ? SyncState::Suspended : SyncState::Offline;
        updateStateIndicator();
    });
    connect(m_spectrumAction, &QAction::triggered, this, &MainWindow::showSpectrum);
    connect(m_metrologyAction, &QAction::triggered, this, &MainWindow::runMetrology);
    connect(m_aboutAction, &QAction::triggered, this, &MainWindow::showAboutBox);
    connect(m_dosimeterAction, &QAction::triggered, this, &MainWindow::runDosimeterOptions);
    connect(m_journalAction, &QAction::triggered, this, &MainWindow::openJournal);
    connect(m_cardsAction, &QAction::triggered, this, &MainWindow::openCards);
    connect(m_annualSummaryAction, &QAction::triggered, this, &MainWindow::openAnnualSummary);
    connect(m_detailAction, &QAction::triggered, this, &MainWindow::showRecordDetail);
    connect(m_rewindOneAction, &QAction::triggered, this, [this] { rewindPosition(1); });
    connect(m_rewindTenAction, &QAction::triggered, this, [this] { rewindPosition(10); });
    connect(m_modePanelAction, &QAction::triggered, this, &MainWindow::toggleModePanel);
    connect(m_commandPanelAction, &QAction::triggered, this, &MainWindow::toggleCommandPanel);
    connect(m_setFilterAction, &QAction::triggered, this, [this] {
        m_filterButton->setChecked(!m_filterButton->isChecked());
        toggleStoredFilter();
    });
    connect(m_onlyNewAction, &QAction::triggered, this, [this] {
        m_onlyNewButton->setChecked(!m_onlyNewButton->isChecked());
        toggleOnlyNew();
    });
    connect(m_namesAction, &QAction::triggered, this, [this] {
        m_namesButton->setChecked(!m_namesButton->isChecked());
        toggleJournalNames();
    });
}

void MainWindow::buildLayout(const QString &statusNote)
{
    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("CentralPanel"));
    auto *main = new QVBoxLayout(central);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);

    // ---- top strip: state square, status panel, status label over the progress picture
    auto *top = new QWidget(central);
    top->setObjectName(QStringLiteral("PanelTop"));
    top->setFixedHeight(37);
    auto *topLayout = new QHBoxLayout(top);
    topLayout->setContentsMargins(2, 2, 2, 2);
    topLayout->setSpacing(2);
    m_stateSquare = new StateSquare(top);
    m_stateSquare->setObjectName(QStringLiteral("PaintBox_ShowState"));
    m_connectionStatus = new ClickLabel(QStringLiteral("Статус соединения"), top);
    m_connectionStatus->setObjectName(QStringLiteral("PanelInfoStatus"));
    QFont bold = m_connectionStatus->font();
    bold.setBold(true);
    m_connectionStatus->setFont(bold);
    m_connectionStatus->setAlignment(Qt::AlignCenter);
    m_connectionStatus->setFrameShape(QFrame::Panel);
    m_connectionStatus->setFrameShadow(QFrame::Sunken);
    m_connectionStatus->setAutoFillBackground(true);
    {
        QPalette pal = m_connectionStatus->palette();
        pal.setColor(QPalette::Window, QColor(0xF0, 0xFB, 0xFF));
        m_connectionStatus->setPalette(pal);
    }
    m_connectionStatus->setCursor(Qt::PointingHandCursor);
    m_progressPanel = new QWidget(top);
    m_progressPanel->setObjectName(QStringLiteral("PanelInfoLastDid"));
    m_progressPanel->setFixedWidth(289);
    m_progressBar = new QWidget(m_progressPanel);
    m_progressBar->setObjectName(QStringLiteral("ImageProgress"));
    m_progressBar->setAutoFillBackground(true);
    {
        QPalette pal = m_progressBar->palette();
        pal.setColor(QPalette::Window, QColor(0x80, 0xC0, 0xFF));
        m_progressBar->setPalette(pal);
    }
    m_progressBar->setGeometry(0, 0, 0, 33);
    m_statusLabel = new QLabel(m_progressPanel);
    m_statusLabel->setObjectName(QStringLiteral("LabelInfoLastDoIt"));
    m_statusLabel->setAlignment(Qt::AlignCenter);
    m_statusLabel->setGeometry(0, 0, 289, 33);
    topLayout->addWidget(m_stateSquare);
    topLayout->addWidget(m_connectionStatus, 1);
    topLayout->addWidget(buildAlertMark(top));
    topLayout->addWidget(m_progressPanel);
    main->addWidget(top);
    connect(m_stateSquare, &StateSquare::clicked, this, &MainWindow::showLinkSettings);
    connect(m_connectionStatus, &ClickLabel::clicked, this, &MainWindow::showLinkSettings);

    // ---- label rows
    auto makeLabelPanel = [&](const QString &name, const QString &caption, QPushButton *&clear,
                              const QString &clearName) -> QWidget * {
        auto *panel = new QWidget(central);
        panel->setObjectName(name);
        panel->setFixedHeight(35);
        panel->setAutoFillBackground(true);
        QPalette pal = panel->palette();
        pal.setColor(QPalette::Window, QColor(0xE0, 0xFF, 0xE0));
        panel->setPalette(pal);
        auto *label = new ClickLabel(caption, panel);
        label->setObjectName(name == QLatin1String("PanelMin") ? QStringLiteral("PanelLabelMin")
                                                               : QStringLiteral("PanelLabelMax"));
        // The caption keeps in front of the first column (mode panel, splitter,
        // row indicator): where one line is too wide it takes two.
        label->setGeometry(4, 0, 74, 35);
        label->setWordWrap(true);
        if (name == QLatin1String("PanelMin"))
            m_minCaption = label;
        else
            m_maxCaption = label;
        clear = new QPushButton(QStringLiteral("Очистка"), panel);
        clear->setObjectName(clearName);
        clear->setFixedSize(71, 25);
        clear->hide();
        connect(clear, &QPushButton::clicked, this, &MainWindow::clearQuickFilters);
        return panel;
    };
    m_minPanel = makeLabelPanel(QStringLiteral("PanelMin"), QStringLiteral("фильтр min:"), m_clearMinButton,
                              QStringLiteral("BtnClearFilterMin"));
    m_maxPanel = makeLabelPanel(QStringLiteral("PanelMax"), QStringLiteral("фильтр max:"), m_clearMaxButton,
                              QStringLiteral("BtnClearFilterMax"));
    connect(m_maxCaption, &ClickLabel::clicked, this, &MainWindow::clearQuickFilters);

    // ---- centre: mode panel | grid | command panel
    m_splitter = new QSplitter(Qt::Horizontal, central);
    m_splitter->setObjectName(QStringLiteral("SplitterModes"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(4);
    m_modePanel = new QWidget(m_splitter);
    m_modePanel->setObjectName(QStringLiteral("PanelLeft"));
    m_modePanel->setMinimumWidth(1);
    auto *leftLayout = new QVBoxLayout(m_modePanel);
    leftLayout->setContentsMargins(4, 4, 4, 4);
    m_filterButton = modeButton(m_modePanel, QStringLiteral("ExtFiltr"), QStringLiteral("Фильтр"),
                          QStringLiteral("Настройка фильтра отображения записей"));
    m_onlyNewButton = modeButton(m_modePanel, QStringLiteral("ExtOnlyNew"), QStringLiteral("Новые"),
                            QStringLiteral("Выделение только новых записей"));
    m_namesButton = modeButton(m_modePanel, QStringLiteral("ExtNotes"), QStringLiteral("Имена"),
                          QStringLiteral("Отображение записей\r\nо данных пользователей дозиметров\r\nиз журнала"));
    leftLayout->addWidget(m_filterButton);
    leftLayout->addWidget(m_onlyNewButton);
    leftLayout->addWidget(m_namesButton);
    leftLayout->addStretch();
    connect(m_filterButton, &QToolButton::clicked, this, &MainWindow::toggleStoredFilter);
    connect(m_onlyNewButton, &QToolButton::clicked, this, &MainWindow::toggleOnlyNew);
    connect(m_namesButton, &QToolButton::clicked, this, &MainWindow::toggleJournalNames);

    m_grid = new RecordsGrid(m_splitter);
    m_grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_grid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { m_gridMenu->popup(m_grid->viewport()->mapToGlobal(pos)); });
    connect(m_grid, &QAbstractItemView::doubleClicked, this, &MainWindow::showRecordDetail);
    connect(m_grid, &RecordsGrid::titleClicked, this, &MainWindow::sortByColumn);
    QHeaderView *titles = m_grid->horizontalHeader();
    connect(titles, &QHeaderView::sectionMoved, this, [this] {
        syncColumnsFromGrid();
        rebuildColumnLabels();
    });
    connect(titles, &QHeaderView::sectionResized, this, [this](int logical, int, int newSize) {
        if (m_layingOut)
            return;
        const RecordsColumn *column = recordsColumnOfField(m_grid->fieldOfColumn(logical));
        if (column && column->nameColumn)
            m_namePreferred = newSize;
        if (!m_closing)
            QTimer::singleShot(0, this, &MainWindow::relayoutColumnLabels);
    });
    m_grid->horizontalScrollBar()->setEnabled(true);
    connect(m_grid->horizontalScrollBar(), &QScrollBar::valueChanged, this, &MainWindow::relayoutColumnLabels);

    m_commandPanel = new QWidget(m_splitter);
    m_commandPanel->setObjectName(QStringLiteral("PanelRight"));
    m_commandPanel->setMinimumWidth(1);
    auto *rightLayout = new QVBoxLayout(m_commandPanel);
    rightLayout->setContentsMargins(4, 4, 4, 4);
    m_detailButton = modeButton(m_commandPanel, QStringLiteral("BtnShowDetail"), QStringLiteral("Детали"),
                               m_detailAction->text());
    m_detailButton->setCheckable(false);
    rightLayout->addWidget(m_detailButton);
    rightLayout->addStretch();
    connect(m_detailButton, &QToolButton::clicked, this, &MainWindow::showRecordDetail);

    m_splitter->addWidget(m_modePanel);
    m_splitter->addWidget(m_grid);
    m_splitter->addWidget(m_commandPanel);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setStretchFactor(2, 0);
    m_splitter->setSizes({PanelWidth, 800 - 2 * PanelWidth, PanelWidth});
    connect(m_splitter, &QSplitter::splitterMoved, this, &MainWindow::onSplitterMoved);

    main->addWidget(m_minPanel);
    main->addWidget(m_splitter, 1);
    main->addWidget(m_maxPanel);

    // ---- bottom strip
    auto *bottom = new QWidget(central);
    bottom->setObjectName(QStringLiteral("PanelBottom"));
    bottom->setFixedHeight(70);
    bottom->setAutoFillBackground(true);
    {
        QPalette pal = bottom->palette();
        pal.setColor(QPalette::Window, Qt::white);
        bottom->setPalette(pal);
    }
    auto *bottomLayout = new QHBoxLayout(bottom);
    m_journalButton = commandButton(bottom, QStringLiteral("RunNotes"), QStringLiteral("Журнал"), QString());
    m_cardsButton = commandButton(bottom, QStringLiteral("RunCardsEdit"), QStringLiteral("Картотека"),
                                 QStringLiteral("Работа со списком людей"));
    m_dosimeterButton = commandButton(bottom, QStringLiteral("RunPencilOptions"), QStringLiteral("Дозиметр"),
                                     QStringLiteral("Настройка работы дозиметра"));
    m_metrologyButton = commandButton(bottom, QStringLiteral("RunService"), QStringLiteral("Метрология"),
                               QStringLiteral("Настройка коэфициентов дозиметра"));
    m_dosimeterButton->setEnabled(false);
    m_metrologyButton->setEnabled(false);
    for (QPushButton *b : {m_journalButton, m_cardsButton, m_dosimeterButton, m_metrologyButton})
        bottomLayout->addWidget(b);
    connect(m_cardsButton, &QPushButton::clicked, this, &MainWindow::openCards);
    connect(m_journalButton, &QPushButton::clicked, this, &MainWindow::openJournal);
    connect(m_metrologyButton, &QPushButton::clicked, this, &MainWindow::runMetrology);
    connect(m_dosimeterButton, &QPushButton::clicked, this, &MainWindow::runDosimeterOptions);
    bottomLayout->addStretch();
    main->addWidget(bottom);
    setCentralWidget(central);

    // ---- status bar: "Фильтр", the mode or filter text, the heartbeat
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(true);
    m_statusFilter = new QLabel(QStringLiteral("Фильтр"), bar);
    m_statusFilter->setObjectName(QStringLiteral("StatusPanel0"));
    // 50 pixels at design; never narrower than its word in the font in use.
    m_statusFilter->setFixedWidth(qMax(50, m_statusFilter->fontMetrics().horizontalAdvance(m_statusFilter->text()) + 12));
    m_statusNote = new QLabel(statusNote, bar);
    m_statusNote->setObjectName(QStringLiteral("StatusPanel1"));
    m_statusNote->setFixedWidth(700);
    m_statusHeartbeat = new QLabel(bar);
    m_statusHeartbeat->setObjectName(QStringLiteral("StatusPanel2"));
    m_statusHeartbeat->setFixedWidth(50);
    for (QLabel *l : {m_statusFilter, m_statusNote, m_statusHeartbeat}) {
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        bar->addWidget(l);
    }

    m_minPanel->installEventFilter(this);
    m_maxPanel->installEventFilter(this);
    m_grid->viewport()->installEventFilter(this);
}

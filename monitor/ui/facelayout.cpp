#include "UFace.h"

#include "FaceWidgets.h"
#include "RecordsGrid.h"

#include "core/AppState.h"
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

QToolButton *ModeButton(QWidget *parent, const QString &name, const QString &text, const QString &hint)
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

QPushButton *CommandButton(QWidget *parent, const QString &name, const QString &text, const QString &hint)
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

void TFace::buildMenus()
{
    QMenuBar *bar = menuBar();

    QMenu *file = bar->addMenu(QStringLiteral("&Файл"));
    N4 = MenuAction(this, QStringLiteral("N4"), QStringLiteral("В&ыход"), QStringLiteral("Ctrl+X"));
    file->addAction(N4);
    connect(N4, &QAction::triggered, this, &QWidget::close);

    QMenu *service = bar->addMenu(QStringLiteral("&Сервис"));
    N5 = MenuAction(this, QStringLiteral("N5"), QStringLiteral("Настройка свя&зи"), QStringLiteral("Ctrl+O"));
    actGetFullArchive = MenuAction(this, QStringLiteral("actGetFullArchive"), QStringLiteral("Считать весь архив ТРЕМ-01"));
    actSyncFIO = MenuAction(this, QStringLiteral("actSyncFIO"),
                            QStringLiteral("&Синхронизировать ФИО по дозиметрам с записями в журнале"),
                            QStringLiteral("Ctrl+H"));
    NStopSynchro = MenuAction(this, QStringLiteral("NStopSynchro"), QStringLiteral("Приостановить синхронизацию"),
                              QStringLiteral("Ctrl+P"));
    NStopSynchro->setCheckable(true);
    actShowSpectrum = MenuAction(this, QStringLiteral("actShowSpectrum"), QStringLiteral("Считать и показать спектр АЦП"));
    NNotes = MenuAction(this, QStringLiteral("NNotes"), QStringLiteral("Журнал"));
    NCards = MenuAction(this, QStringLiteral("NCards"), QStringLiteral("Картотека"));
    NCards->setToolTip(QStringLiteral("Работа со списком людей"));
    NDosimetr = MenuAction(this, QStringLiteral("NDosimetr"), QStringLiteral("Дозиметр"));
    NDosimetr->setEnabled(false);
    NMetrology = MenuAction(this, QStringLiteral("NMetrology"), QStringLiteral("Метрология"));
    NMetrology->setEnabled(false);
    service->addAction(N5);
    service->addSeparator();
    service->addAction(actGetFullArchive);
    service->addAction(actSyncFIO);
    service->addAction(NStopSynchro);
    service->addSeparator();
    service->addAction(actShowSpectrum);
    service->addSeparator();
    service->addAction(NNotes);
    service->addAction(NCards);
    service->addAction(NDosimetr);
    service->addAction(NMetrology);
    NTest = new QMenu(QStringLiteral("Тест"), this);
    NTest->setObjectName(QStringLiteral("NTest"));
    N21 = MenuAction(this, QStringLiteral("N21"), QStringLiteral("Эмулировать введение дозиметра"));
    N101 = MenuAction(this, QStringLiteral("N101"), QStringLiteral("Эмулировать подключение считывателя с 10 записями"));
    NTest->addAction(N21);
    NTest->addAction(N101);
    QAction *testMenu = service->addMenu(NTest);
    testMenu->setVisible(false);  // the test submenu is hidden

    QMenu *view = bar->addMenu(QStringLiteral("&Вид"));
    nViewPanelModes = MenuAction(this, QStringLiteral("nViewPanelModes"), QStringLiteral("Отображать панель &режимов"));
    nViewPanelModes->setCheckable(true);
    nViewPanelModes->setChecked(true);
    nViewPanelCommands = MenuAction(this, QStringLiteral("nViewPanelCommands"), QStringLiteral("Отображать панель &действий"));
    nViewPanelCommands->setCheckable(true);
    nViewPanelCommands->setChecked(true);
    actSetFilter = MenuAction(this, QStringLiteral("actSetFilter"), QStringLiteral("Установить / Снять  &фильтр"),
                              QStringLiteral("Ctrl+S"));
    actSetFilter->setCheckable(true);
    actSetFilter->setEnabled(false);  // the stored filters come with their dialogs
    actOnlyNew = MenuAction(this, QStringLiteral("actOnlyNew"),
                            QStringLiteral("Включить / выключить режим отображения только новых"), QStringLiteral("Ctrl+N"));
    actOnlyNew->setCheckable(true);
    actExtNotes = MenuAction(this, QStringLiteral("actExtNotes"),
                             QStringLiteral("Отобразить / скрыть поля из записей в журнале"), QStringLiteral("Ctrl+J"));
    actExtNotes->setCheckable(true);
    actDetailRecord = MenuAction(this, QStringLiteral("actDetailRecord"),
                                 QStringLiteral("Отобразить детальную информацию по выбранной записи"),
                                 QStringLiteral("Ctrl+I"));
    view->addAction(nViewPanelModes);
    view->addAction(nViewPanelCommands);
    view->addSeparator();
    view->addAction(actSetFilter);
    view->addAction(actOnlyNew);
    view->addAction(actExtNotes);
    view->addSeparator();
    view->addAction(actDetailRecord);

    QMenu *help = bar->addMenu(QStringLiteral("&Помощь"));
    N3 = MenuAction(this, QStringLiteral("N3"), QStringLiteral("&О программе"));
    help->addAction(N3);

    GridMenu = new QMenu(this);
    GridMenu->setObjectName(QStringLiteral("GridMenu"));
    GridMenu->addAction(actSetFilter);
    GridMenu->addAction(actOnlyNew);
    GridMenu->addAction(actExtNotes);
    GridMenu->addSeparator();
    GridMenu->addAction(actDetailRecord);

    // Every action answers its shortcut wherever the focus is in the window.
    for (QAction *a : findChildren<QAction *>())
        if (!a->shortcut().isEmpty())
            addAction(a);

    connect(N5, &QAction::triggered, this, &TFace::ShowLinkSettings);
    connect(actGetFullArchive, &QAction::triggered, this, [] {
        if (SyncEngine *engine = Engine())
            engine->ReadFullArchive();
    });
    connect(actSyncFIO, &QAction::triggered, this, [] {
        if (SyncEngine *engine = Engine())
            engine->SyncNamesFromJournal();
    });
    connect(NStopSynchro, &QAction::toggled, this, [this](bool checked) {
        if (SyncEngine *engine = Engine())
            engine->SetStopSynchro(checked);
        else
            App().SyncState = checked ? SyncSuspended : SyncOffline;
        UpdateStateIndicator();
    });
    for (QAction *a : {actShowSpectrum, NNotes, NCards, NDosimetr, NMetrology, actDetailRecord, N3})
        connect(a, &QAction::triggered, this, &TFace::NotYetAvailable);
    connect(N21, &QAction::triggered, this, [this] { RewindPosition(1); });
    connect(N101, &QAction::triggered, this, [this] { RewindPosition(10); });
    connect(nViewPanelModes, &QAction::triggered, this, &TFace::nViewPanelModesClick);
    connect(nViewPanelCommands, &QAction::triggered, this, &TFace::nViewPanelCommandsClick);
    connect(actSetFilter, &QAction::triggered, this, [this] {
        ExtFiltr->setChecked(!ExtFiltr->isChecked());
        ExtFiltrClick();
    });
    connect(actOnlyNew, &QAction::triggered, this, [this] {
        ExtOnlyNew->setChecked(!ExtOnlyNew->isChecked());
        ExtOnlyNewClick();
    });
    connect(actExtNotes, &QAction::triggered, this, [this] {
        ExtNotes->setChecked(!ExtNotes->isChecked());
        ExtNotesClick();
    });
}

void TFace::buildLayout(const QString &statusNote)
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
    PaintBox_ShowState = new TStateSquare(top);
    PaintBox_ShowState->setObjectName(QStringLiteral("PaintBox_ShowState"));
    PanelInfoStatus = new TClickLabel(QStringLiteral("Статус соединения"), top);
    PanelInfoStatus->setObjectName(QStringLiteral("PanelInfoStatus"));
    QFont bold = PanelInfoStatus->font();
    bold.setBold(true);
    PanelInfoStatus->setFont(bold);
    PanelInfoStatus->setAlignment(Qt::AlignCenter);
    PanelInfoStatus->setFrameShape(QFrame::Panel);
    PanelInfoStatus->setFrameShadow(QFrame::Sunken);
    PanelInfoStatus->setAutoFillBackground(true);
    {
        QPalette pal = PanelInfoStatus->palette();
        pal.setColor(QPalette::Window, QColor(0xF0, 0xFB, 0xFF));
        PanelInfoStatus->setPalette(pal);
    }
    PanelInfoStatus->setCursor(Qt::PointingHandCursor);
    PanelInfoLastDid = new QWidget(top);
    PanelInfoLastDid->setObjectName(QStringLiteral("PanelInfoLastDid"));
    PanelInfoLastDid->setFixedWidth(289);
    ImageProgress = new QWidget(PanelInfoLastDid);
    ImageProgress->setObjectName(QStringLiteral("ImageProgress"));
    ImageProgress->setAutoFillBackground(true);
    {
        QPalette pal = ImageProgress->palette();
        pal.setColor(QPalette::Window, QColor(0x80, 0xC0, 0xFF));
        ImageProgress->setPalette(pal);
    }
    ImageProgress->setGeometry(0, 0, 0, 33);
    LabelInfoLastDoIt = new QLabel(PanelInfoLastDid);
    LabelInfoLastDoIt->setObjectName(QStringLiteral("LabelInfoLastDoIt"));
    LabelInfoLastDoIt->setAlignment(Qt::AlignCenter);
    LabelInfoLastDoIt->setGeometry(0, 0, 289, 33);
    topLayout->addWidget(PaintBox_ShowState);
    topLayout->addWidget(PanelInfoStatus, 1);
    topLayout->addWidget(PanelInfoLastDid);
    main->addWidget(top);
    connect(PaintBox_ShowState, &TStateSquare::clicked, this, &TFace::ShowLinkSettings);
    connect(PanelInfoStatus, &TClickLabel::clicked, this, &TFace::ShowLinkSettings);

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
        auto *label = new TClickLabel(caption, panel);
        label->setObjectName(name == QLatin1String("PanelMin") ? QStringLiteral("PanelLabelMin")
                                                               : QStringLiteral("PanelLabelMax"));
        // The caption keeps in front of the first column (mode panel, splitter,
        // row indicator): where one line is too wide it takes two.
        label->setGeometry(4, 0, 74, 35);
        label->setWordWrap(true);
        if (name == QLatin1String("PanelMin"))
            PanelLabelMin = label;
        else
            PanelLabelMax = label;
        clear = new QPushButton(QStringLiteral("Очистка"), panel);
        clear->setObjectName(clearName);
        clear->setFixedSize(71, 25);
        clear->hide();
        connect(clear, &QPushButton::clicked, this, &TFace::ClearQuickFilters);
        return panel;
    };
    PanelMin = makeLabelPanel(QStringLiteral("PanelMin"), QStringLiteral("фильтр min:"), BtnClearFilterMin,
                              QStringLiteral("BtnClearFilterMin"));
    PanelMax = makeLabelPanel(QStringLiteral("PanelMax"), QStringLiteral("фильтр max:"), BtnClearFilterMax,
                              QStringLiteral("BtnClearFilterMax"));
    connect(PanelLabelMax, &TClickLabel::clicked, this, &TFace::ClearQuickFilters);

    // ---- centre: mode panel | grid | command panel
    Splitter = new QSplitter(Qt::Horizontal, central);
    Splitter->setObjectName(QStringLiteral("SplitterModes"));
    Splitter->setChildrenCollapsible(false);
    Splitter->setHandleWidth(4);
    PanelLeft = new QWidget(Splitter);
    PanelLeft->setObjectName(QStringLiteral("PanelLeft"));
    PanelLeft->setMinimumWidth(1);
    auto *leftLayout = new QVBoxLayout(PanelLeft);
    leftLayout->setContentsMargins(4, 4, 4, 4);
    ExtFiltr = ModeButton(PanelLeft, QStringLiteral("ExtFiltr"), QStringLiteral("Фильтр"),
                          QStringLiteral("Настройка фильтра отображения записей"));
    ExtFiltr->setEnabled(false);  // the stored filters come with their dialogs
    ExtOnlyNew = ModeButton(PanelLeft, QStringLiteral("ExtOnlyNew"), QStringLiteral("Новые"),
                            QStringLiteral("Выделение только новых записей"));
    ExtNotes = ModeButton(PanelLeft, QStringLiteral("ExtNotes"), QStringLiteral("Имена"),
                          QStringLiteral("Отображение записей\r\nо данных пользователей дозиметров\r\nиз журнала"));
    leftLayout->addWidget(ExtFiltr);
    leftLayout->addWidget(ExtOnlyNew);
    leftLayout->addWidget(ExtNotes);
    leftLayout->addStretch();
    connect(ExtFiltr, &QToolButton::clicked, this, &TFace::ExtFiltrClick);
    connect(ExtOnlyNew, &QToolButton::clicked, this, &TFace::ExtOnlyNewClick);
    connect(ExtNotes, &QToolButton::clicked, this, &TFace::ExtNotesClick);

    RxDBGrid = new TRecordsGrid(Splitter);
    RxDBGrid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(RxDBGrid, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { GridMenu->popup(RxDBGrid->viewport()->mapToGlobal(pos)); });
    connect(RxDBGrid, &QAbstractItemView::doubleClicked, this, &TFace::NotYetAvailable);
    connect(RxDBGrid, &TRecordsGrid::TitleClicked, this, &TFace::RxDBGridTitleClick);
    QHeaderView *titles = RxDBGrid->horizontalHeader();
    connect(titles, &QHeaderView::sectionMoved, this, [this] {
        syncColumnsFromGrid();
        RebuildColumnLabels();
    });
    connect(titles, &QHeaderView::sectionResized, this, [this](int logical, int, int newSize) {
        if (m_layingOut)
            return;
        const QString field = RxDBGrid->FieldOfColumn(logical);
        if (field == QLatin1String("Name") || field == QLatin1String("FIO"))
            m_namePreferred = newSize;
        if (!m_closing)
            QTimer::singleShot(0, this, &TFace::RelayoutColumnLabels);
    });
    RxDBGrid->horizontalScrollBar()->setEnabled(true);
    connect(RxDBGrid->horizontalScrollBar(), &QScrollBar::valueChanged, this, &TFace::RelayoutColumnLabels);

    PanelRight = new QWidget(Splitter);
    PanelRight->setObjectName(QStringLiteral("PanelRight"));
    PanelRight->setMinimumWidth(1);
    auto *rightLayout = new QVBoxLayout(PanelRight);
    rightLayout->setContentsMargins(4, 4, 4, 4);
    BtnShowDetail = ModeButton(PanelRight, QStringLiteral("BtnShowDetail"), QStringLiteral("Детали"),
                               actDetailRecord->text());
    BtnShowDetail->setCheckable(false);
    rightLayout->addWidget(BtnShowDetail);
    rightLayout->addStretch();
    connect(BtnShowDetail, &QToolButton::clicked, this, [this] {
        RxDBGrid->setFocus();
        NotYetAvailable();
    });

    Splitter->addWidget(PanelLeft);
    Splitter->addWidget(RxDBGrid);
    Splitter->addWidget(PanelRight);
    Splitter->setStretchFactor(0, 0);
    Splitter->setStretchFactor(1, 1);
    Splitter->setStretchFactor(2, 0);
    Splitter->setSizes({PanelWidth, 800 - 2 * PanelWidth, PanelWidth});
    connect(Splitter, &QSplitter::splitterMoved, this, &TFace::onSplitterMoved);

    main->addWidget(PanelMin);
    main->addWidget(Splitter, 1);
    main->addWidget(PanelMax);

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
    RunNotes = CommandButton(bottom, QStringLiteral("RunNotes"), QStringLiteral("Журнал"), QString());
    RunCardsEdit = CommandButton(bottom, QStringLiteral("RunCardsEdit"), QStringLiteral("Картотека"),
                                 QStringLiteral("Работа со списком людей"));
    RunPencilOptions = CommandButton(bottom, QStringLiteral("RunPencilOptions"), QStringLiteral("Дозиметр"),
                                     QStringLiteral("Настройка работы дозиметра"));
    RunService = CommandButton(bottom, QStringLiteral("RunService"), QStringLiteral("Метрология"),
                               QStringLiteral("Настройка коэфициентов дозиметра"));
    RunPencilOptions->setEnabled(false);
    RunService->setEnabled(false);
    for (QPushButton *b : {RunNotes, RunCardsEdit, RunPencilOptions, RunService}) {
        bottomLayout->addWidget(b);
        connect(b, &QPushButton::clicked, this, &TFace::NotYetAvailable);
    }
    bottomLayout->addStretch();
    main->addWidget(bottom);
    setCentralWidget(central);

    // ---- status bar: "Фильтр", the mode or filter text, the heartbeat
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(true);
    StatusPanel0 = new QLabel(QStringLiteral("Фильтр"), bar);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    // 50 pixels at design; never narrower than its word in the font in use.
    StatusPanel0->setFixedWidth(qMax(50, StatusPanel0->fontMetrics().horizontalAdvance(StatusPanel0->text()) + 12));
    StatusPanel1 = new QLabel(statusNote, bar);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setFixedWidth(700);
    StatusPanel2 = new QLabel(bar);
    StatusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    StatusPanel2->setFixedWidth(50);
    for (QLabel *l : {StatusPanel0, StatusPanel1, StatusPanel2}) {
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        bar->addWidget(l);
    }

    PanelMin->installEventFilter(this);
    PanelMax->installEventFilter(this);
    RxDBGrid->viewport()->installEventFilter(this);
}

#include "UFace.h"

#include "FaceWidgets.h"
#include "RS232Window.h"
#include "RecordsGrid.h"

#include "core/AppState.h"
#include "core/Prompt.h"
#include "link/URS232.h"
#include "monitor/core/SyncEngine.h"
#include "records/TTable.h"
#include "records/TTableModel.h"
#include "records/UDM.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QColor ModeDownColour(0xA6, 0xCA, 0xF0);
const QColor LabelIdle(0x00, 0x00, 0x4F);
const QColor LabelActive(0xFF, 0x00, 0xFF);

QColor SystemFace()
{
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

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

TFace::TFace(const QString &statusNote, QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Face"));
    setWindowTitle(QStringLiteral("RUVO - Монитор"));
    resize(800, 580);
    setMinimumSize(586, 406);

    App().SyncState = SyncOffline;
    m_view.SortFieldIndex = mfDateTime;
    m_view.StatusText = statusNote;

    buildMenus();
    buildLayout(statusNote);
    applyViewState();

    m_view.RebuildIndexes = [this]() {
        if (DM() && m_measures) {
            try {
                DM()->RebuildIndexes(*m_measures);
            } catch (const ERuvoError &) {
            }
        }
    };
    if (SyncEngine *engine = Engine()) {
        // The menu item follows the suspension whoever changed it.
        connect(engine, &SyncEngine::StopSynchroChanged, this, [this](bool checked) {
            QSignalBlocker block(NStopSynchro);
            NStopSynchro->setChecked(checked);
        });
        // The names in the grid change when the name synchronisation ran.
        connect(engine, &SyncEngine::NamesSynchronised, this, [this] {
            if (m_measures && m_measures->Active())
                m_measures->Refresh();
        });
    }
    m_view.AskNameSync = [](bool extNotesDown) {
        if (SyncEngine *engine = Engine())
            engine->AskNameSync(extNotesDown);
    };
}

TFace::~TFace()
{
    if (SyncEngine *engine = Engine())
        if (&engine->View() == static_cast<ISyncView *>(this))
            engine->SetView(nullptr);
}

// ---------------------------------------------------------------- layout

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

// ---------------------------------------------------------------- binding

void TFace::BindMeasures(TTable *measures)
{
    m_measures = measures;
    m_view.SetTable(measures);
    RxDBGrid->Bind(measures);
    if (!measures)
        return;
    QHeaderView *titles = RxDBGrid->horizontalHeader();
    titles->setSectionResizeMode(QHeaderView::Interactive);
    applyColumnsToGrid();
    if (m_view.SortFieldIndex >= 0 && m_view.SortFieldIndex < measures->FieldCount())
        RxDBGrid->SetSortField(measures->Fields().at(m_view.SortFieldIndex).name);
}

void TFace::applyColumnsToGrid()
{
    if (!RxDBGrid->model())
        return;
    QHeaderView *titles = RxDBGrid->horizontalHeader();
    QSignalBlocker block(titles);
    for (int visual = 0; visual < m_view.Columns.size(); ++visual) {
        const RecordsColumn &c = m_view.Columns[visual];
        const int logical = RxDBGrid->ColumnOfField(c.field);
        if (logical < 0)
            continue;
        const int from = titles->visualIndex(logical);
        if (from != visual)
            titles->moveSection(from, visual);
        titles->setSectionHidden(logical, !c.visible);
        if (c.visible)
            titles->resizeSection(logical, c.width);
    }
}

void TFace::syncColumnsFromGrid()
{
    if (!RxDBGrid->model())
        return;
    QHeaderView *titles = RxDBGrid->horizontalHeader();
    QList<RecordsColumn> ordered;
    for (int visual = 0; visual < titles->count(); ++visual) {
        const int logical = titles->logicalIndex(visual);
        const QString field = RxDBGrid->FieldOfColumn(logical);
        for (const RecordsColumn &c : m_view.Columns) {
            if (c.field != field)
                continue;
            RecordsColumn copy = c;
            copy.visible = !titles->isSectionHidden(logical);
            if (copy.visible)
                copy.width = titles->sectionSize(logical);
            ordered.append(copy);
        }
    }
    if (ordered.size() == m_view.Columns.size())
        m_view.Columns = ordered;
}

// ---------------------------------------------------------------- view state

void TFace::setModeColour(QToolButton *button, bool down)
{
    if (down)
        button->setStyleSheet(QStringLiteral("QToolButton { background-color: #A6CAF0; border: 1px inset gray; }"));
    else
        button->setStyleSheet(QString());
}

void TFace::applyViewState()
{
    {
        QSignalBlocker b1(ExtFiltr), b2(ExtOnlyNew), b3(ExtNotes);
        ExtFiltr->setChecked(m_view.ExtFiltrDown);
        ExtOnlyNew->setChecked(m_view.ExtOnlyNewDown);
        ExtNotes->setChecked(m_view.ExtNotesDown);
    }
    setModeColour(ExtFiltr, m_view.ExtFiltrDown);
    setModeColour(ExtOnlyNew, m_view.ExtOnlyNewDown);
    setModeColour(ExtNotes, m_view.ExtNotesDown);
    {
        QSignalBlocker b1(actSetFilter), b2(actOnlyNew), b3(actExtNotes);
        actSetFilter->setChecked(m_view.ExtFiltrDown);
        actOnlyNew->setChecked(m_view.ExtOnlyNewDown);
        actExtNotes->setChecked(m_view.ExtNotesDown);
    }
    StatusPanel1->setText(m_view.StatusText);

    // The label widgets follow the view logic's label lists.
    auto syncLabels = [this](QList<TClickLabel *> &widgets, const QList<ColumnLabel> &labels, QWidget *panel,
                             bool minimum) {
        if (widgets.size() != labels.size() || !m_view.LabelsBuilt) {
            for (TClickLabel *w : widgets) {
                w->hide();
                w->deleteLater();
            }
            widgets.clear();
            if (!m_view.LabelsBuilt)
                return;
            for (int i = 0; i < labels.size(); ++i) {
                auto *w = new TClickLabel(panel);
                w->setObjectName((minimum ? QStringLiteral("MinLabel") : QStringLiteral("MaxLabel")) + QString::number(i));
                QFont f = w->font();
                f.setPointSize(9);
                f.setBold(true);
                f.setUnderline(true);
                w->setFont(f);
                w->setAlignment(Qt::AlignCenter);
                w->setCursor(Qt::PointingHandCursor);
                connect(w, &TClickLabel::clicked, this, [this, i, minimum] {
                    if (minimum)
                        SetQuickMinFilter(i);
                    else
                        SetQuickMaxFilter(i);
                });
                widgets.append(w);
            }
        }
        for (int i = 0; i < labels.size(); ++i) {
            TClickLabel *w = widgets[i];
            w->setText(labels[i].text);
            QPalette pal = w->palette();
            pal.setColor(QPalette::WindowText, labels[i].active ? LabelActive : LabelIdle);
            w->setPalette(pal);
            w->setVisible(labels[i].visible);
        }
    };
    syncLabels(MinLabels, m_view.MinLabels, PanelMin, true);
    syncLabels(MaxLabels, m_view.MaxLabels, PanelMax, false);
    BtnClearFilterMin->setVisible(m_view.ClearMinVisible);
    BtnClearFilterMax->setVisible(m_view.ClearMaxVisible);
    RelayoutColumnLabels();
}

void TFace::RebuildColumnLabels()
{
    syncColumnsFromGrid();
    if (SyncEngine *engine = Engine())
        m_labelsIndex = engine->LastReadedIndex;
    m_view.RebuildColumnLabels();
    applyViewState();
}

void TFace::RelayoutColumnLabels()
{
    if (App().FaceNotReady || m_closing || !RxDBGrid->model())
        return;
    // Clear buttons keep to the right edge of their panels.
    const bool small = BtnClearFilterMin->text() == QLatin1String("x");
    for (QPushButton *b : {BtnClearFilterMin, BtnClearFilterMax})
        b->move(b->parentWidget()->width() - (small ? 20 : 71) - 4, 5);
    if (MinLabels.isEmpty())
        return;

    syncColumnsFromGrid();
    QHeaderView *titles = RxDBGrid->horizontalHeader();
    const int indicator = RxDBGrid->verticalHeader()->width();
    const int client = indicator + RxDBGrid->viewport()->width();
    QList<RecordsColumn> columns = m_view.Columns;
    // The visible columns fill the grid: the last one takes up the
    // difference; when they are wider than the grid, the name column gives
    // up width so the dose column stays on screen.
    ColumnFit fit;
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].visible && (columns[i].fieldIndex == mfName || columns[i].fieldIndex == mfFIO))
            fit.flexible = i;
    if (fit.flexible >= 0) {
        if (m_namePreferred <= 0)
            m_namePreferred = columns[fit.flexible].width;
        fit.preferred = m_namePreferred;
        fit.flexibleMin = NameColumnMinWidth;
    }
    QString lastField;
    for (const RecordsColumn &v : columns)
        if (v.visible)
            lastField = v.field;
    for (const RecordsColumn &c : DefaultRecordsColumns())
        if (c.field == lastField)
            fit.lastMin = c.width;  // the design width of the last visible column
    const QList<LabelPlace> places = LayoutColumnLabels(columns, client, indicator, 0, fit);
    for (int i = 0; i < columns.size(); ++i) {
        if (!columns[i].visible || columns[i].width == m_view.Columns[i].width)
            continue;
        const int logical = RxDBGrid->ColumnOfField(columns[i].field);
        // The grid hears of the new width (its body follows its titles); the
        // window's own handler knows the layout did it.
        m_layingOut = true;
        titles->resizeSection(logical, columns[i].width);
        m_layingOut = false;
        m_view.Columns[i].width = columns[i].width;
    }

    // The labels keep to the strip between the caption ("фильтр min:",
    // "фильтр max:") and a shown clear button: a label reaching past either
    // end is cut back to the strip, so its text stays readable beside them.
    const int gridLeft = RxDBGrid->mapTo(this, QPoint(0, 0)).x() + RxDBGrid->frameWidth()
                         - PanelMin->mapTo(this, QPoint(0, 0)).x() - RxDBGrid->horizontalScrollBar()->value();
    auto place = [](TClickLabel *label, int x, int top, int width, int stripLeft, int stripRight, bool shown) {
        const int left = qMax(x, stripLeft);
        const int right = qMin(x + width, stripRight);
        label->setGeometry(left, top, qMax(0, right - left), 18);
        label->setVisible(shown && right - left >= MinLabelWidth);
    };
    const int minStart = PanelLabelMin->geometry().right() + 3;
    const int maxStart = PanelLabelMax->geometry().right() + 3;
    const int minEnd = !BtnClearFilterMin->isHidden() ? BtnClearFilterMin->x() - 3 : PanelMin->width() - 2;
    const int maxEnd = !BtnClearFilterMax->isHidden() ? BtnClearFilterMax->x() - 3 : PanelMax->width() - 2;
    for (int i = 0; i < columns.size() && i < MinLabels.size() && i < MaxLabels.size(); ++i) {
        const LabelPlace &p = places[i];
        Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
        if (columns[i].field == QLatin1String("ID"))
            align = Qt::AlignCenter;
        else if (columns[i].field == QLatin1String("Dose"))
            align = Qt::AlignRight | Qt::AlignVCenter;
        MinLabels[i]->setAlignment(align);
        MaxLabels[i]->setAlignment(align);
        place(MinLabels[i], gridLeft + p.x, 6, p.width, minStart, minEnd, p.placed && m_view.MinLabels.value(i).visible);
        place(MaxLabels[i], gridLeft + p.x, 14, p.width, maxStart, maxEnd, p.placed && m_view.MaxLabels.value(i).visible);
    }
}

bool TFace::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == PanelMin || watched == PanelMax || watched == RxDBGrid->viewport())
        && event->type() == QEvent::Resize)
        RelayoutColumnLabels();
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- modes and filters

void TFace::ExtFiltrClick()
{
    m_view.ExtFiltrDown = ExtFiltr->isChecked();
    if (m_view.ExtFiltrDown) {
        // The stored filters and their dialogs come in a later version.
        m_view.ExtFiltrDown = false;
        NotYetAvailable();
    } else {
        m_view.ExtFiltrUp();
    }
    RxDBGrid->setFocus();
    applyViewState();
}

void TFace::ExtOnlyNewClick()
{
    m_view.ExtOnlyNewDown = ExtOnlyNew->isChecked();
    syncColumnsFromGrid();
    m_view.ExtOnlyNewClick();
    RxDBGrid->setFocus();
    applyViewState();
}

void TFace::ExtNotesClick()
{
    m_view.ExtNotesDown = ExtNotes->isChecked();
    syncColumnsFromGrid();
    m_view.ExtNotesClick();
    RxDBGrid->setFocus();
    applyColumnsToGrid();
    applyViewState();
}

void TFace::RxDBGridTitleClick(int logicalColumn)
{
    if (!m_measures)
        return;
    const QString field = RxDBGrid->FieldOfColumn(logicalColumn);
    const int fieldIndex = m_measures->FieldIndex(field);
    if (fieldIndex < 0)
        return;
    m_view.TitleClick(fieldIndex);
    RxDBGrid->SetSortField(field);
}

TRecordsView::AskFunction TFace::quickFilterAsk()
{
    // The modes dropped before the question show as dropped while it is open.
    return [this](const QString &caption, const QString &prompt, QString &value) {
        applyViewState();
        return Prompt().input(caption, prompt, value);
    };
}

void TFace::SetQuickMinFilter(int column)
{
    syncColumnsFromGrid();
    m_view.SetQuickMinFilter(column, quickFilterAsk());
    applyViewState();
}

void TFace::SetQuickMaxFilter(int column)
{
    syncColumnsFromGrid();
    m_view.SetQuickMaxFilter(column, quickFilterAsk());
    applyViewState();
}

void TFace::ClearQuickFilters()
{
    m_view.ClearQuickFilters();
    applyViewState();
}

// ---------------------------------------------------------------- commands

void TFace::NotYetAvailable()
{
    Prompt().message(MsgKind::Information, QStringLiteral("Функция будет доступна в следующей версии программы"),
                     BtnOk);
}

void TFace::ShowLinkSettings()
{
    if (m_rs232)
        m_rs232->ShowModal();
}

void TFace::RewindPosition(int records)
{
    TDM *dm = DM();
    SyncEngine *engine = Engine();
    if (!dm || !engine)
        return;
    try {
        int number = engine->LastRecNumber;
        QDateTime time = engine->LastRecTime;
        const QString problem = RewindReaderPosition(dm->Devices, dm->Measures, records, number, time);
        if (!problem.isEmpty()) {
            Prompt().message(MsgKind::Information, problem, BtnOk);
            return;
        }
        engine->LastRecNumber = number;
        engine->LastRecTime = time;
    } catch (const ERuvoError &e) {
        Prompt().message(MsgKind::Error, e.message(), BtnOk);
    }
}

void TFace::nViewPanelModesClick()
{
    QList<int> sizes = Splitter->sizes();
    const bool shown = sizes[0] >= PanelWidth;
    const int delta = shown ? sizes[0] - 1 : PanelWidth - sizes[0];
    sizes[0] = shown ? 1 : PanelWidth;
    sizes[1] += shown ? delta : -delta;
    Splitter->setSizes(sizes);
    nViewPanelModes->setChecked(!shown);
    m_lastSizes = Splitter->sizes();
    RelayoutColumnLabels();
}

void TFace::nViewPanelCommandsClick()
{
    QList<int> sizes = Splitter->sizes();
    const bool shown = sizes[2] >= PanelWidth;
    const int delta = shown ? sizes[2] - 1 : PanelWidth - sizes[2];
    sizes[2] = shown ? 1 : PanelWidth;
    sizes[1] += shown ? delta : -delta;
    Splitter->setSizes(sizes);
    nViewPanelCommands->setChecked(!shown);
    m_lastSizes = Splitter->sizes();
    RelayoutColumnLabels();
}

void TFace::onSplitterMoved()
{
    // A panel is either shown at its full width or collapsed to one pixel.
    QList<int> sizes = Splitter->sizes();
    const QList<int> before = m_lastSizes.size() == 3 ? m_lastSizes : QList<int>{PanelWidth, 0, PanelWidth};
    for (int i : {0, 2}) {
        if (sizes[i] != 1 && sizes[i] != PanelWidth) {
            sizes[1] += sizes[i] - PanelWidth;
            sizes[i] = PanelWidth;
        }
    }
    Splitter->setSizes(sizes);
    sizes = Splitter->sizes();
    nViewPanelModes->setChecked(sizes[0] > 1);
    nViewPanelCommands->setChecked(sizes[2] > 1);
    // The clear buttons shrink while the splitter keeps the command panel collapsed.
    if (before[2] > 1 && sizes[2] <= 1) {
        for (QPushButton *b : {BtnClearFilterMin, BtnClearFilterMax}) {
            b->setText(QStringLiteral("x"));
            b->setFixedSize(20, 25);
        }
    } else if (before[2] <= 1 && sizes[2] > 1) {
        for (QPushButton *b : {BtnClearFilterMin, BtnClearFilterMax}) {
            b->setText(QStringLiteral("Очистка"));
            b->setFixedSize(71, 25);
        }
    }
    m_lastSizes = sizes;
    RelayoutColumnLabels();
}

// ---------------------------------------------------------------- ISyncView

void TFace::SetStatusText(const QString &text)
{
    LabelInfoLastDoIt->setText(text);
}

void TFace::SetProgress(int index, int total)
{
    ImageProgress->setFixedWidth(ProgressWidth(index, total, PanelInfoLastDid->width()));
    ImageProgress->setFixedHeight(PanelInfoLastDid->height());
}

void TFace::PulseHeartbeat()
{
    StatusPanel2->setText(NextHeartbeatText(StatusPanel2->text()));
}

void TFace::setServiceEnabled(bool on)
{
    RunPencilOptions->setEnabled(on);
    RunService->setEnabled(on);
    NDosimetr->setEnabled(on);
    NMetrology->setEnabled(on);
}

void TFace::UpdateStateIndicator()
{
    AppState &app = App();
    const int state = app.SyncState;
    const StateLook look = ComputeStateLook(state, app.ReaderBusy, app.ReaderNormalMode, app.ReaderModeSwitching,
                                            app.SyncTickCounter);
    if (m_colourTracker.changed(state)) {
        const QColor colour = look.systemFace ? SystemFace() : QColor::fromRgb(look.rgb);
        PaintBox_ShowState->SetColour(colour);
        QPalette pal = PanelInfoStatus->palette();
        pal.setColor(QPalette::Window, colour);
        PanelInfoStatus->setPalette(pal);
    }
    if (look.picture >= 0)
        PaintBox_ShowState->SetPicture(look.picture);
    if (!look.statusText.isEmpty())
        PanelInfoStatus->setText(look.statusText);
    if (!look.infoText.isEmpty())
        LabelInfoLastDoIt->setText(look.infoText);
    if (look.service == ServiceCommands::Enable)
        setServiceEnabled(true);
    else if (look.service == ServiceCommands::Disable)
        setServiceEnabled(false);
    if (state != SyncExchanging)
        refreshLabelsAfterReadings();
}

void TFace::refreshLabelsAfterReadings()
{
    // A pass that stored readings ends with the indicator painted: the
    // labels then show the smallest and largest values again (a few MIN/MAX
    // queries), and the first readings of a new database build them.
    SyncEngine *engine = Engine();
    if (!engine || App().FaceNotReady || m_closing || !m_measures)
        return;
    const int newest = engine->LastReadedIndex;
    if (newest == m_labelsIndex)
        return;
    m_labelsIndex = newest;
    syncColumnsFromGrid();
    if (m_view.RefreshColumnLabels())
        applyViewState();
}

// ---------------------------------------------------------------- settings

void TFace::FormStorage1RestorePlacement()
{
    SyncEngine *engine = Engine();
    if (engine)
        engine->StartControlTimer();

    TIniFile ini(m_settingsPath);
    ReadFaceValues(ini, StoredValues);
    App().MaxCardsIndex = StoredValues.MaxCardsIndex;
    App().INeedSynhroFIO = StoredValues.INeedSynhroFIO;
    if (TRS232Link *link = RS232Link()) {
        link->PingDelayMS = StoredValues.PingDelayMS;
        link->SendDelayMS = StoredValues.SendDelayMS;
        link->BaseRequestCount = StoredValues.BaseRequestCount;
        link->FixedReceiveWindow = StoredValues.FixedReceiveWindow;
    }
    if (engine)
        engine->LastReadedIndex = StoredValues.LastReadedIndex;

    // Records copied today stay new across a restart on the same day; on the
    // first start of a new day everything read so far becomes old.
    TTable *measures = m_measures;
    m_view.LastCheckedIndex = SettleOnlyNewBoundary(
        StoredValues.LastCheckedIndex, StoredValues.LastReadedIndex,
        [measures](int index) -> std::optional<QDateTime> {
            if (!measures || !measures->Active())
                return std::nullopt;
            if (!measures->Locate(QStringLiteral("Index"), index))
                return std::nullopt;
            return measures->AsDateTime(QStringLiteral("RecoveryTime"));
        },
        QDate::currentDate());

    if (m_rs232)
        m_rs232->Restore(ini);
    UpdateStateIndicator();
}

void TFace::FormStorage1SavePlacement()
{
    if (m_settingsPath.isEmpty())
        return;
    TIniFile ini(m_settingsPath);  // the other windows' sections stay as they are

    FormPlacement p;
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    p.NormPos[0] = normal.left();
    p.NormPos[1] = normal.top();
    p.NormPos[2] = normal.left() + normal.width();
    p.NormPos[3] = normal.top() + normal.height();
    p.ShowCmd = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    p.PixelsPerInch = logicalDpiY();
    p.Visible = 0;
    WritePlacement(ini, SectionFace, p);

    FaceStoredValues v = StoredValues;  // the link values are written back as they were read
    if (SyncEngine *engine = Engine())
        v.LastReadedIndex = engine->LastReadedIndex;
    v.LastCheckedIndex = m_view.LastCheckedIndex;
    v.MaxCardsIndex = App().MaxCardsIndex;
    v.INeedSynhroFIO = App().INeedSynhroFIO;
    WriteFaceValues(ini, v);
    if (m_rs232)
        m_rs232->Save(ini);
    ini.save();
}

// ---------------------------------------------------------------- window events

void TFace::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_restored)
        return;
    m_restored = true;
    // The stored placement applies only at the screen resolution it was saved with.
    TIniFile ini(m_settingsPath);
    FormPlacement p;
    bool placed = false;
    if (!m_settingsPath.isEmpty() && ReadPlacement(ini, SectionFace, p) && p.PixelsPerInch == logicalDpiY()) {
        setGeometry(p.NormPos[0], p.NormPos[1], qMax(p.width(), 586), qMax(p.height(), 406));
        placed = true;
        if (p.maximised())
            QTimer::singleShot(0, this, &QWidget::showMaximized);
    }
    if (!placed) {
        if (QScreen *s = screen())
            move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    FormStorage1RestorePlacement();
    // Some platforms never activate a window nobody clicked (a display
    // without a window manager): the first activation then happens here.
    QTimer::singleShot(250, this, [this] {
        if (App().FaceNotReady && !m_closing)
            FormActivate();
    });
}

void TFace::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TFace::FormActivate()
{
    if (!App().FaceNotReady || m_closing)
        return;
    RebuildColumnLabels();
    App().FaceNotReady = false;
    RelayoutColumnLabels();
}

void TFace::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    RelayoutColumnLabels();
    StatusPanel1->setFixedWidth(qMax(50, width() - 100));
}

void TFace::closeEvent(QCloseEvent *event)
{
    // The close is never refused.
    if (!m_closing)
        FormCloseQuery();
    event->accept();
}

void TFace::FormCloseQuery()
{
    m_closing = true;
    App().FaceNotReady = true;  // record storing and label layout stop at once
    if (SyncEngine *engine = Engine()) {
        engine->ShutDown();
        if (engine->TimerControl())
            engine->TimerControl()->stop();
    }
    try {
        FormStorage1SavePlacement();
    } catch (...) {
    }
    if (BeforeDatabaseClose) {
        try {
            BeforeDatabaseClose();
        } catch (...) {
        }
    }
    RxDBGrid->Bind(nullptr);
    m_view.SetTable(nullptr);
    m_measures = nullptr;
    if (TDM *dm = DM())
        dm->DataModuleDestroy();
}

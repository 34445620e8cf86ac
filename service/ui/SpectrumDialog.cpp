#include "service/ui/SpectrumDialog.h"

#include "core/LogFiles.h"
#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/SettingsKeys.h"
#include "core/WindowPlacements.h"
#include "link/LinkCycle.h"
#include "service/core/SpectrumReader.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>

const QString SpectrumDialog::SectionName = SettingsKeys::TSpectrumADC::Section;

namespace {

const QColor BarColour(0x00, 0x00, 0xA0);   // dark blue
const QColor BarOutline(0x00, 0x00, 0x80);  // navy
constexpr int FreeSpaceAbovePx = 20;

QLineEdit *summaryField(QWidget *panel, QFormLayout *form, const QString &name, const QString &label)
{
    auto *edit = new QLineEdit(panel);
    edit->setObjectName(name);
    edit->setReadOnly(true);
    edit->setMinimumWidth(90);
    form->addRow(label, edit);
    return edit;
}

}  // namespace

SpectrumDialog::SpectrumDialog(ILinkCycle &cycle, IPrompt &prompt, const QString &settingsPath, QWidget *parent)
    : QDialog(parent), m_cycle(cycle), m_prompt(prompt), m_settingsPath(settingsPath),
      m_reader(new SpectrumReader(cycle, this))
{
    // Synchronisation stays paused for as long as the view is open.
    m_wasPaused = m_cycle.setPaused(true);
    setObjectName(SectionName);
    setWindowTitle(QStringLiteral("Спектр АЦП"));
    setMinimumWidth(790);
    resize(900, 600);
    buildLayout();
    connect(m_reader, &SpectrumReader::headerRead, this, &SpectrumDialog::onHeader);
    connect(m_reader, &SpectrumReader::blockRead, this, &SpectrumDialog::onBlock);
    connect(m_reader, &SpectrumReader::finished, this, &SpectrumDialog::onFinished);
}

SpectrumDialog::~SpectrumDialog()
{
    // The reader stops after its block under way and nothing it still sends
    // reaches this view; only then does synchronisation resume.
    m_reader->cancel();
    delete m_reader;
    m_reader = nullptr;
    m_cycle.setPaused(m_wasPaused);
}

void SpectrumDialog::buildLayout()
{
    auto *menuBar = new QMenuBar(this);
    QMenu *file = menuBar->addMenu(QStringLiteral("Файл"));
    QAction *exit = file->addAction(QStringLiteral("Выход"));
    exit->setObjectName(QStringLiteral("N2"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(exit, &QAction::triggered, this, &QDialog::accept);

    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->setTitle(QString());
    m_chart->setAnimationOptions(QChart::NoAnimation);
    m_chart->setBackgroundRoundness(0);
    m_upper = new QLineSeries(m_chart);
    m_bars = new QAreaSeries(m_upper);
    m_bars->setName(QStringLiteral("График АЦП"));
    m_bars->setBrush(BarColour);
    m_bars->setPen(QPen(BarOutline, 1));
    m_bars->setPointLabelsVisible(false);
    m_chart->addSeries(m_bars);
    m_axisX = new QValueAxis(m_chart);
    m_axisX->setLabelFormat(QStringLiteral("%i"));
    m_axisY = new QValueAxis(m_chart);
    m_axisY->setLabelFormat(QStringLiteral("%i"));
    m_axisY->setTitleText(QString());
    m_chart->addAxis(m_axisX, Qt::AlignBottom);
    m_chart->addAxis(m_axisY, Qt::AlignLeft);
    m_bars->attachAxis(m_axisX);
    m_bars->attachAxis(m_axisY);
    m_pageText = new QGraphicsSimpleTextItem(m_chart);
    m_pageText->setZValue(10);
    connect(m_chart, &QChart::plotAreaChanged, this, [this] {
        placePageText();
        updateAxes();
    });

    m_chartView = new QChartView(m_chart, this);
    m_chartView->setObjectName(QStringLiteral("Chart"));
    m_chartView->setRenderHint(QPainter::Antialiasing, false);
    m_chartView->setMinimumHeight(250);
    m_chartView->viewport()->installEventFilter(this);

    m_panelInfo = new QWidget(this);
    m_panelInfo->setObjectName(QStringLiteral("PanelExtendedInfo"));
    auto *infoRow = new QHBoxLayout(m_panelInfo);
    infoRow->setContentsMargins(0, 0, 0, 0);
    auto *formLeft = new QFormLayout;
    auto *formMid = new QFormLayout;
    auto *formRight = new QFormLayout;
    m_editDose = summaryField(m_panelInfo, formLeft, QStringLiteral("Edit_Dose"), QStringLiteral("Доза, Зв"));
    m_editDoseInt =
        summaryField(m_panelInfo, formLeft, QStringLiteral("Edit_DoseInt"), QStringLiteral("Доза в дискретах"));
    m_editDelta = summaryField(m_panelInfo, formMid, QStringLiteral("Edit_Delta"), QStringLiteral("Дельта"));
    m_editMax = summaryField(m_panelInfo, formMid, QStringLiteral("Edit_iMax"), QStringLiteral("Канал максимума"));
    m_editComparator =
        summaryField(m_panelInfo, formRight, QStringLiteral("Edit_iComparator"), QStringLiteral("Канал компаратора"));
    infoRow->addLayout(formLeft);
    infoRow->addLayout(formMid);
    infoRow->addLayout(formRight);
    infoRow->addStretch(1);
    m_panelInfo->hide();

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar"));
    m_progress->setRange(0, SpectrumData::Blocks);
    m_progress->setFormat(QStringLiteral("%v / %m"));
    m_progress->hide();

    m_readButton = new QPushButton(QStringLiteral("С&читать спектр"), this);
    m_readButton->setObjectName(QStringLiteral("BtnReadSpectrum"));
    m_readButton->setAutoDefault(false);
    connect(m_readButton, &QPushButton::clicked, this, &SpectrumDialog::readSpectrum);

    auto arrow = [this](const QString &name, QStyle::StandardPixmap pixmap, void (SpectrumDialog::*slot)()) {
        auto *b = new QPushButton(this);
        b->setObjectName(name);
        b->setIcon(style()->standardIcon(pixmap));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    QPushButton *up = arrow(QStringLiteral("BtnUp"), QStyle::SP_ArrowUp, &SpectrumDialog::pageUp);
    QPushButton *down = arrow(QStringLiteral("BtnDown"), QStyle::SP_ArrowDown, &SpectrumDialog::pageDown);
    QPushButton *left = arrow(QStringLiteral("BtnLeft"), QStyle::SP_ArrowLeft, &SpectrumDialog::pageLeft);
    QPushButton *right = arrow(QStringLiteral("BtnRight"), QStyle::SP_ArrowRight, &SpectrumDialog::pageRight);

    auto *ok = new QPushButton(QStringLiteral("&Закрыть"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_readButton);
    buttons->addSpacing(12);
    buttons->addWidget(left);
    buttons->addWidget(up);
    buttons->addWidget(down);
    buttons->addWidget(right);
    buttons->addSpacing(12);
    buttons->addWidget(m_progress, 1);
    buttons->addStretch(0);
    buttons->addWidget(ok);

    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addWidget(m_chartView, 1);
    layout->addWidget(m_panelInfo);
    layout->addLayout(buttons);
    redrawSeries();
}

bool SpectrumDialog::reading() const
{
    return m_reader->running();
}

void SpectrumDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    // The first showing only: a window shown again after a message box
    // neither reads again nor moves.
    m_shown = true;
    restorePlacement();
    QTimer::singleShot(0, this, &SpectrumDialog::readSpectrum);
}

void SpectrumDialog::readSpectrum()
{
    if (m_reader->running() || m_closeRequested)
        return;
    m_data.begin();
    redrawSeries();
    m_progress->setValue(0);
    m_progress->show();
    m_readButton->setEnabled(false);
    m_reader->start(m_cycle.readerSwitchesModes());
}

void SpectrumDialog::onHeader(const SpectrumHeaderData &header)
{
    m_editDose->setText(formatSpectrumDose(header.dose));
    m_editDoseInt->setText(QString::number(header.doseCounts));
    m_editDelta->setText(QString::number(header.delta));
    m_editMax->setText(QString::number(header.maxChannel));
    m_editComparator->setText(QString::number(header.comparatorChannel));
    m_panelInfo->show();
}

void SpectrumDialog::onBlock(int block, const QVector<quint16> &counts)
{
    m_data.addBlock(counts);
    m_progress->setValue(block + 1);
    redrawSeries();
}

void SpectrumDialog::onFinished(bool ok, bool cancelled, const QString &error)
{
    m_readButton->setEnabled(true);
    if (ok)
        m_progress->hide();
    if (m_closeRequested) {
        QDialog::done(m_closeResult);
        savePlacement();
        return;
    }
    if (!ok && !cancelled) {
        if (!error.isEmpty())
            logEvent(error);
        m_prompt.message(MsgKind::Error, QStringLiteral("При чтении спектрометрической информации произошла ошибка"),
                               PromptButton::Ok | PromptButton::Cancel);
    }
}

void SpectrumDialog::done(int result)
{
    if (m_reader->running()) {
        m_closeRequested = true;
        m_closeResult = result;
        m_reader->cancel();
        return;
    }
    QDialog::done(result);
    savePlacement();
}

bool SpectrumDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (m_chartView && watched == m_chartView->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        editChart();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void SpectrumDialog::editChart()
{
    QDialog editor(this);
    editor.setObjectName(QStringLiteral("ChartEditor"));
    editor.setWindowTitle(QStringLiteral("Настройка графика"));
    QColor fill = m_bars->brush().color();
    QColor outline = m_bars->pen().color();
    auto pickColour = [this, &editor](QColor &colour) {
        QColorDialog dialog(colour, &editor);
        if (m_prompt.runModal(&dialog, [&dialog] { return dialog.exec(); }) == QDialog::Accepted)
            colour = dialog.selectedColor();
    };
    auto *fillButton = new QPushButton(QStringLiteral("Цвет столбцов..."), &editor);
    fillButton->setObjectName(QStringLiteral("BtnBarColour"));
    connect(fillButton, &QPushButton::clicked, &editor, [&] { pickColour(fill); });
    auto *outlineButton = new QPushButton(QStringLiteral("Цвет контура..."), &editor);
    outlineButton->setObjectName(QStringLiteral("BtnOutlineColour"));
    connect(outlineButton, &QPushButton::clicked, &editor, [&] { pickColour(outline); });
    auto *grid = new QCheckBox(QStringLiteral("Линии сетки"), &editor);
    grid->setObjectName(QStringLiteral("CB_Grid"));
    grid->setChecked(m_axisY->isGridLineVisible());
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &editor);
    connect(buttons, &QDialogButtonBox::accepted, &editor, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &editor, &QDialog::reject);
    auto *layout = new QVBoxLayout(&editor);
    layout->addWidget(fillButton);
    layout->addWidget(outlineButton);
    layout->addWidget(grid);
    layout->addWidget(buttons);
    if (m_prompt.runModal(&editor, [&editor] { return editor.exec(); }) != QDialog::Accepted)
        return;
    m_bars->setBrush(fill);
    m_bars->setPen(QPen(outline, 1));
    m_axisX->setGridLineVisible(grid->isChecked());
    m_axisY->setGridLineVisible(grid->isChecked());
}

void SpectrumDialog::pageUp()
{
    m_paging.up(m_data);
    updateAxes();
}

void SpectrumDialog::pageDown()
{
    m_paging.down();
    updateAxes();
}

void SpectrumDialog::pageLeft()
{
    m_paging.left(m_data.pointCount());
    updateAxes();
}

void SpectrumDialog::pageRight()
{
    m_paging.right(m_data.pointCount());
    updateAxes();
}

void SpectrumDialog::redrawSeries()
{
    // Each count is a bar one unit wide centred on its channel; the bars touch,
    // so the outline is one stepped line over all of them.
    const QVector<quint16> &counts = m_data.counts();
    QList<QPointF> points;
    points.reserve(2 * counts.size() + 2);
    points.append(QPointF(-0.5, 0));
    for (int i = 0; i < counts.size(); ++i) {
        points.append(QPointF(i - 0.5, counts[i]));
        points.append(QPointF(i + 0.5, counts[i]));
    }
    points.append(QPointF(counts.size() - 0.5, 0));
    m_upper->replace(points);
    updateAxes();
}

void SpectrumDialog::updateAxes()
{
    double from = 0, to = SpectrumData::Channels;
    m_paging.xRange(m_data, from, to);
    m_axisX->setRange(from, to);
    const double floor = m_paging.axisMinimum();
    double top = std::max<double>(m_data.maximum(), floor + 1);
    // Free space of 20 pixels above the highest bar.
    const double plotHeight = m_chart->plotArea().height();
    if (plotHeight > 2 * FreeSpaceAbovePx)
        top += (top - floor) * FreeSpaceAbovePx / (plotHeight - FreeSpaceAbovePx);
    else
        top += (top - floor) * 0.05;
    m_axisY->setRange(floor, top);
    m_pageText->setText(pageText());
    m_pageText->setVisible(m_paging.paged());
    placePageText();
}

void SpectrumDialog::placePageText()
{
    const QRectF area = m_chart->plotArea();
    const QRectF text = m_pageText->boundingRect();
    m_pageText->setPos(area.right() - text.width() - 6, area.top() + 4);
}

void SpectrumDialog::shownRange(double &xFrom, double &xTo, double &yFrom, double &yTo) const
{
    xFrom = m_axisX->min();
    xTo = m_axisX->max();
    yFrom = m_axisY->min();
    yTo = m_axisY->max();
}

QString SpectrumDialog::pageText() const
{
    return m_paging.pageText(m_data.pointCount());
}

void SpectrumDialog::restorePlacement()
{
    if (m_settingsPath.isEmpty())
        return;
    FormPlacement p;
    if (WindowPlacements::forFile(m_settingsPath).readAt(SectionName, logicalDpiY(), p))
        setGeometry(p.normPos[0], p.normPos[1], std::max(p.width(), minimumWidth()), p.height());
}

void SpectrumDialog::savePlacement()
{
    if (m_settingsPath.isEmpty())
        return;
    WindowPlacements::forFile(m_settingsPath).write(SectionName, placementOf(geometry(), logicalDpiY()));
}

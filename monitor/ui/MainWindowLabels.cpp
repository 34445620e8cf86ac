#include "MainWindow.h"

#include "ClickLabel.h"
#include "StateSquare.h"
#include "RecordsGrid.h"

#include "monitor/core/SyncEngine.h"
#include "records/DataTable.h"

#include <QAction>
#include <QEvent>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>

// The grid's columns and the label rows above and below it: the binding to
// Measures, the column order and widths between the grid and the view
// logic, the mode buttons and labels mirroring the view logic, and the
// label layout.

namespace {

const QColor labelIdle(0x00, 0x00, 0x4F);
const QColor labelActive(0xFF, 0x00, 0xFF);

} // namespace

// ---------------------------------------------------------------- binding

void MainWindow::bindMeasures(DataTable *measures)
{
    m_measures = measures;
    m_view.setTable(measures);
    m_grid->bind(measures);
    watchDoseAlerts();
    if (!measures)
        return;
    QHeaderView *titles = m_grid->horizontalHeader();
    titles->setSectionResizeMode(QHeaderView::Interactive);
    applyColumnsToGrid();
}

void MainWindow::applyColumnsToGrid()
{
    if (!m_grid->model())
        return;
    QHeaderView *titles = m_grid->horizontalHeader();
    QSignalBlocker block(titles);
    for (int visual = 0; visual < m_view.columns.size(); ++visual) {
        const RecordsColumn &c = m_view.columns[visual];
        const int logical = m_grid->columnOfField(c.field);
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

void MainWindow::syncColumnsFromGrid()
{
    if (!m_grid->model())
        return;
    QHeaderView *titles = m_grid->horizontalHeader();
    QList<RecordsColumn> ordered;
    for (int visual = 0; visual < titles->count(); ++visual) {
        const int logical = titles->logicalIndex(visual);
        const QString field = m_grid->fieldOfColumn(logical);
        for (const RecordsColumn &c : m_view.columns) {
            if (c.field != field)
                continue;
            RecordsColumn copy = c;
            copy.visible = !titles->isSectionHidden(logical);
            if (copy.visible)
                copy.width = titles->sectionSize(logical);
            ordered.append(copy);
        }
    }
    if (ordered.size() == m_view.columns.size())
        m_view.columns = ordered;
}

// ---------------------------------------------------------------- view state

void MainWindow::setModeColour(QToolButton *button, bool down)
{
    if (down)
        button->setStyleSheet(QStringLiteral("QToolButton { background-color: #A6CAF0; border: 1px inset gray; }"));
    else
        button->setStyleSheet(QString());
}

void MainWindow::applyViewState()
{
    {
        QSignalBlocker b1(m_filterButton), b2(m_onlyNewButton), b3(m_namesButton);
        m_filterButton->setChecked(m_view.extFiltrDown);
        m_onlyNewButton->setChecked(m_view.extOnlyNewDown);
        m_namesButton->setChecked(m_view.extNotesDown);
    }
    setModeColour(m_filterButton, m_view.extFiltrDown);
    setModeColour(m_onlyNewButton, m_view.extOnlyNewDown);
    setModeColour(m_namesButton, m_view.extNotesDown);
    {
        QSignalBlocker b1(m_setFilterAction), b2(m_onlyNewAction), b3(m_namesAction);
        m_setFilterAction->setChecked(m_view.extFiltrDown);
        m_onlyNewAction->setChecked(m_view.extOnlyNewDown);
        m_namesAction->setChecked(m_view.extNotesDown);
    }
    m_statusNote->setText(m_view.statusText);

    // The label widgets follow the view logic's label lists.
    auto syncLabels = [this](QList<ClickLabel *> &widgets, const QList<ColumnLabel> &labels, QWidget *panel,
                             bool minimum) {
        if (widgets.size() != labels.size() || !m_view.labelsBuilt) {
            for (ClickLabel *w : widgets) {
                w->hide();
                w->deleteLater();
            }
            widgets.clear();
            if (!m_view.labelsBuilt)
                return;
            for (int i = 0; i < labels.size(); ++i) {
                auto *w = new ClickLabel(panel);
                w->setObjectName((minimum ? QStringLiteral("MinLabel") : QStringLiteral("MaxLabel")) + QString::number(i));
                QFont f = w->font();
                f.setPointSize(9);
                f.setBold(true);
                f.setUnderline(true);
                w->setFont(f);
                w->setAlignment(Qt::AlignCenter);
                w->setCursor(Qt::PointingHandCursor);
                connect(w, &ClickLabel::clicked, this, [this, i, minimum] {
                    if (minimum)
                        setQuickMinFilter(i);
                    else
                        setQuickMaxFilter(i);
                });
                widgets.append(w);
            }
        }
        for (int i = 0; i < labels.size(); ++i) {
            ClickLabel *w = widgets[i];
            w->setText(labels[i].text);
            QPalette pal = w->palette();
            pal.setColor(QPalette::WindowText, labels[i].active ? labelActive : labelIdle);
            w->setPalette(pal);
            w->setVisible(labels[i].visible);
        }
    };
    syncLabels(m_minLabels, m_view.minLabels, m_minPanel, true);
    syncLabels(m_maxLabels, m_view.maxLabels, m_maxPanel, false);
    m_clearMinButton->setVisible(m_view.clearMinVisible);
    m_clearMaxButton->setVisible(m_view.clearMaxVisible);
    relayoutColumnLabels();
}

void MainWindow::rebuildColumnLabels()
{
    syncColumnsFromGrid();
    if (m_engine)
        m_labelsIndex = m_engine->snapshot().lastStoredIndex;
    m_view.rebuildColumnLabels();
    applyViewState();
}

void MainWindow::relayoutColumnLabels()
{
    if (m_faceNotReady || m_closing || !m_grid->model())
        return;
    // Clear buttons keep to the right edge of their panels.
    const bool small = m_clearMinButton->text() == QLatin1String("x");
    for (QPushButton *b : {m_clearMinButton, m_clearMaxButton})
        b->move(b->parentWidget()->width() - (small ? 20 : 71) - 4, 5);
    if (m_minLabels.isEmpty())
        return;

    syncColumnsFromGrid();
    QHeaderView *titles = m_grid->horizontalHeader();
    const int indicator = m_grid->verticalHeader()->width();
    const int client = indicator + m_grid->viewport()->width();
    QList<RecordsColumn> columns = m_view.columns;
    // The visible columns fill the grid: the last one takes up the
    // difference; when they are wider than the grid, the name column gives
    // up width so the dose column stays on screen.
    ColumnFit fit;
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].visible && columns[i].nameColumn)
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
    for (const RecordsColumn &c : defaultRecordsColumns())
        if (c.field == lastField)
            fit.lastMin = c.width;  // the design width of the last visible column
    const QList<LabelPlace> places = layoutColumnLabels(columns, client, indicator, 0, fit);
    for (int i = 0; i < columns.size(); ++i) {
        if (!columns[i].visible || columns[i].width == m_view.columns[i].width)
            continue;
        const int logical = m_grid->columnOfField(columns[i].field);
        // The grid hears of the new width (its body follows its titles); the
        // window's own handler knows the layout did it.
        m_layingOut = true;
        titles->resizeSection(logical, columns[i].width);
        m_layingOut = false;
        m_view.columns[i].width = columns[i].width;
    }

    // The labels keep to the strip between the caption ("фильтр min:",
    // "фильтр max:") and a shown clear button: a label reaching past either
    // end is cut back to the strip, so its text stays readable beside them.
    const int gridLeft = m_grid->mapTo(this, QPoint(0, 0)).x() + m_grid->frameWidth()
                         - m_minPanel->mapTo(this, QPoint(0, 0)).x() - m_grid->horizontalScrollBar()->value();
    auto place = [](ClickLabel *label, int x, int top, int width, int stripLeft, int stripRight, bool shown) {
        const int left = qMax(x, stripLeft);
        const int right = qMin(x + width, stripRight);
        label->setGeometry(left, top, qMax(0, right - left), 18);
        label->setVisible(shown && right - left >= MinLabelWidth);
    };
    const int minStart = m_minCaption->geometry().right() + 3;
    const int maxStart = m_maxCaption->geometry().right() + 3;
    const int minEnd = !m_clearMinButton->isHidden() ? m_clearMinButton->x() - 3 : m_minPanel->width() - 2;
    const int maxEnd = !m_clearMaxButton->isHidden() ? m_clearMaxButton->x() - 3 : m_maxPanel->width() - 2;
    for (int i = 0; i < columns.size() && i < m_minLabels.size() && i < m_maxLabels.size(); ++i) {
        const LabelPlace &p = places[i];
        const Qt::Alignment align = columns[i].alignment;
        m_minLabels[i]->setAlignment(align);
        m_maxLabels[i]->setAlignment(align);
        place(m_minLabels[i], gridLeft + p.x, 6, p.width, minStart, minEnd, p.placed && m_view.minLabels.value(i).visible);
        place(m_maxLabels[i], gridLeft + p.x, 14, p.width, maxStart, maxEnd, p.placed && m_view.maxLabels.value(i).visible);
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_minPanel || watched == m_maxPanel || watched == m_grid->viewport())
        && event->type() == QEvent::Resize)
        relayoutColumnLabels();
    return QMainWindow::eventFilter(watched, event);
}

#include "UFace.h"

#include "FaceWidgets.h"
#include "RecordsGrid.h"

#include "core/AppState.h"
#include "monitor/core/SyncEngine.h"
#include "records/TTable.h"

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

const QColor LabelIdle(0x00, 0x00, 0x4F);
const QColor LabelActive(0xFF, 0x00, 0xFF);

} // namespace

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

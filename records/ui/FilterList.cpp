#include "records/ui/FilterList.h"

#include "core/Prompt.h"
#include "records/ui/FilterParameters.h"
#include "records/ui/FilterEditor.h"
#include "records/ui/PlacementStore.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Rows are moved by dragging them between others, never dropped into one.
constexpr Qt::ItemFlags kRowFlags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsDragEnabled
    | Qt::ItemNeverHasChildren;

} // namespace

FilterList::FilterList(QWidget *parent) : QDialog(parent)
{
    setObjectName(SectionMeasureFiltr);
    setWindowTitle(QStringLiteral("Настройка фильтра измерений"));
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    setMinimumSize(350, 300);
    resize(560, 340);
    m_placement = new PlacementStore(this, SectionMeasureFiltr, true);

    auto *outer = new QHBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("VLE_Filters"));
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({QStringLiteral("Фильтр"), QStringLiteral("Формула")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setDefaultDropAction(Qt::MoveAction);
    m_list->header()->setSectionsMovable(false);
    m_list->header()->resizeSection(0, 220);
    m_list->header()->setStretchLastSection(true);
    m_list->invisibleRootItem()->setFlags(Qt::ItemIsEnabled | Qt::ItemIsDropEnabled);
    m_list->installEventFilter(this);
    outer->addWidget(m_list, 1);

    auto *side = new QVBoxLayout;
    const auto button = [this, side](const char *name, const QString &text, void (FilterList::*slot)()) {
        auto *b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(text);
        b->setAutoDefault(false);
        side->addWidget(b);
        if (slot)
            connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    button("BtnPlus", QStringLiteral("Добавить новый фильтр"), &FilterList::addFilter);
    button("BtnEdit", QStringLiteral("Изменить фильтр"), &FilterList::editFilter);
    button("BtnMinus", QStringLiteral("Удалить фильтр"), &FilterList::deleteFilter);
    side->addStretch(1);
    QPushButton *ok = button("btnOk", QStringLiteral("&Принять"), nullptr);
    QPushButton *cancel = button("btnCancel", QStringLiteral("&Отменить"), nullptr);
    ok->setToolTip(QString());
    cancel->setToolTip(QString());
    outer->addLayout(side);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects as well
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { accept(); });

    m_editor = new FilterEditor(this);
    setEntries(defaultFilterList());
}

FilterList::~FilterList()
{
    delete m_placement;
}

void FilterList::setSettingsFile(const QString &path)
{
    m_settingsPath = path;
    m_placement->setFile(path);
    m_editor->setSettingsFile(path);
    loadList();
}

QTreeWidgetItem *FilterList::makeItem(const QString &entry) const
{
    auto *item = new QTreeWidgetItem({filterEntryName(entry), filterEntryFormula(entry)});
    item->setFlags(kRowFlags);
    return item;
}

bool FilterList::isEmptyRow(const QTreeWidgetItem *item)
{
    return !item || (item->text(0).isEmpty() && item->text(1).isEmpty());
}

QStringList FilterList::entries() const
{
    QStringList out;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_list->topLevelItem(i);
        if (!isEmptyRow(item))
            out << filterEntry(item->text(0), item->text(1));
    }
    return out;
}

void FilterList::setEntries(const QStringList &entries)
{
    m_list->clear();
    for (const QString &e : entries)
        m_list->addTopLevelItem(makeItem(e));
    selectRow(entries.isEmpty() ? -1 : 0);
}

int FilterList::selectedRow() const
{
    const QList<QTreeWidgetItem *> sel = m_list->selectedItems();
    return sel.isEmpty() ? -1 : m_list->indexOfTopLevelItem(sel.first());
}

void FilterList::selectRow(int row)
{
    m_list->clearSelection();
    if (QTreeWidgetItem *item = m_list->topLevelItem(row)) {
        m_list->setCurrentItem(item);
        item->setSelected(true);
    }
}

QString FilterList::selectedEntry() const
{
    const QTreeWidgetItem *item = m_list->topLevelItem(selectedRow());
    return isEmptyRow(item) ? QString() : filterEntry(item->text(0), item->text(1));
}

void FilterList::loadList()
{
    if (m_settingsPath.isEmpty())
        return;
    const int row = selectedRow();
    setEntries(readFilterList(IniFile(m_settingsPath)));
    if (row >= 0 && row < m_list->topLevelItemCount())
        selectRow(row);
}

void FilterList::saveList()
{
    if (m_settingsPath.isEmpty())
        return;
    IniFile ini(m_settingsPath);
    writeFilterList(ini, entries());
    ini.save();
}

void FilterList::addFilter()
{
    QString name = QStringLiteral("Новый фильтр");
    QString formula;
    if (!m_editor->edit(QStringLiteral("Добавление фильтра"), name, formula))
        return;
    const int row = selectedRow();
    QTreeWidgetItem *at = m_list->topLevelItem(row);
    if (at && isEmptyRow(at)) {
        at->setText(0, name);
        at->setText(1, formula);
    } else {
        m_list->insertTopLevelItem(row < 0 ? m_list->topLevelItemCount() : row, makeItem(filterEntry(name, formula)));
        selectRow(row < 0 ? m_list->topLevelItemCount() - 1 : row);
    }
}

void FilterList::editFilter()
{
    QTreeWidgetItem *item = m_list->topLevelItem(selectedRow());
    if (isEmptyRow(item))
        return;
    QString name = item->text(0);
    QString formula = item->text(1);
    if (!m_editor->edit(QStringLiteral("Редактирование фильтра"), name, formula))
        return;
    item->setText(0, name);
    item->setText(1, formula);
}

void FilterList::deleteFilter()
{
    const int row = selectedRow();
    QTreeWidgetItem *item = m_list->topLevelItem(row);
    if (isEmptyRow(item))
        return;
    const QString text = QStringLiteral("Вы уверены что хотите удалить фильтр\r\n\"") + item->text(0)
        + QLatin1Char('"');
    if (activePrompt().ask(MsgKind::Warning, text, PromptButton::Ok | PromptButton::Cancel, PromptButton::Cancel)
        != PromptButton::Ok)
        return;
    deleteSelectedRow();
}

void FilterList::deleteSelectedRow()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    delete m_list->takeTopLevelItem(row);
    selectRow(qMin(row, m_list->topLevelItemCount() - 1));
}

void FilterList::insertEmptyRow(bool atEnd)
{
    const int row = selectedRow();
    QTreeWidgetItem *item = m_list->topLevelItem(row);
    if (item && item->text(0).isEmpty())
        return;  // only behind a named row
    const int at = atEnd || row < 0 ? m_list->topLevelItemCount() : row;
    m_list->insertTopLevelItem(at, makeItem(QString()));
    selectRow(at);
}

bool FilterList::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const int row = selectedRow();
        if (key->key() == Qt::Key_Insert && key->modifiers() == Qt::NoModifier) {
            insertEmptyRow(false);
            return true;
        }
        if (key->key() == Qt::Key_Down && key->modifiers() == Qt::NoModifier && row >= 0
            && row == m_list->topLevelItemCount() - 1) {
            insertEmptyRow(true);
            return true;
        }
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::ControlModifier) {
            deleteSelectedRow();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FilterList::showEvent(QShowEvent *event)
{
    m_placement->restore();
    QDialog::showEvent(event);
    m_list->setFocus();
}

void FilterList::done(int result)
{
    m_placement->save();
    saveList();
    QDialog::done(result);
}

StoredFilterChoice FilterList::choose(const QDateTime &now, quint32 lastResponderAddress,
                                        const QList<FilterField> &fields)
{
    loadList();
    const int result = activePrompt().runModal(this, [this] { return exec(); });
    if (result != QDialog::Accepted)
        return StoredFilterChoice();
    const FilterParameterAsker ask = [this](const QList<FilterParameter> &params, QStringList &values) {
        return FilterParameters::ask(params, values, parentWidget() ? parentWidget() : this);
    };
    return prepareStoredFilter(selectedEntry(), ask, now, lastResponderAddress, fields);
}

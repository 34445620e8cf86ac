#include "records/ui/NoteBook.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "core/SettingsKeys.h"
#include "records/DataModule.h"
#include "records/DataTableModel.h"
#include "records/Journal.h"
#include "records/ui/DoseCardWindow.h"
#include "records/ui/JournalTotals.h"
#include "records/ui/NoteBind.h"
#include "records/ui/NoteUnBind.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QStringList GridFields =
    fieldNames({NotesField::ID, NotesField::TimeFrom, NotesField::TimeTo, NotesField::FIO, NotesField::Dose});

} // namespace

// The journal grid's colours: open rows pale yellow with grey bold text, the
// sorted column pale cyan.
class JournalGridModel : public QIdentityProxyModel {
public:
    JournalGridModel(DataTableModel *source, const int *sortFieldIndex, QObject *parent)
        : QIdentityProxyModel(parent), m_source(source), m_sortFieldIndex(sortFieldIndex)
    {
        setSourceModel(source);
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::BackgroundRole && role != Qt::ForegroundRole && role != Qt::FontRole)
            return QIdentityProxyModel::data(index, role);
        const QString sortField = m_source->table()->fields().value(*m_sortFieldIndex).name;
        if (role == Qt::BackgroundRole && m_source->fieldOfColumn(index.column()) == sortField)
            return QColor(0xA0, 0xFF, 0xFF);
        const int toColumn = m_source->columnOfField(fieldName(NotesField::TimeTo));
        const bool open = m_source->index(index.row(), toColumn).data(Qt::EditRole).isNull()
            && !m_source->keyOfRow(index.row()).isNull();
        if (!open)
            return {};
        if (role == Qt::BackgroundRole)
            return QColor(0xFF, 0xFF, 0xA0);
        if (role == Qt::ForegroundRole)
            return QColor(0x80, 0x80, 0x80);
        QFont bold;
        bold.setBold(true);
        return bold;
    }

private:
    DataTableModel *m_source;
    const int *m_sortFieldIndex;
};

const QString NoteBook::SectionName = SettingsKeys::TNoteBook::Section;

NoteBook::NoteBook(const JournalContext &context, QWidget *parent) : QDialog(parent), m_context(context)
{
    setObjectName(SectionName);
    setWindowTitle(QStringLiteral("Журнал выдачи дозиметров"));
    m_journal = std::make_unique<Journal>(*context.dm, context.markNamesOutOfStep);
    buildLayout();
    resize(QSize(640, 420).expandedTo(minimumSize()));
    updateSynchro();
}

NoteBook::~NoteBook() = default;

QDateTime NoteBook::now() const
{
    return m_context.now ? m_context.now() : QDateTime::currentDateTime();
}

void NoteBook::buildLayout()
{
    auto *menu = new QMenuBar(this);
    QMenu *file = menu->addMenu(QStringLiteral("&Файл"));
    QAction *exit = file->addAction(QStringLiteral("В&ыход"));
    connect(exit, &QAction::triggered, this, &QDialog::reject);
    QMenu *help = menu->addMenu(QStringLiteral("&Помощь"));
    QAction *about = help->addAction(QStringLiteral("&О программе"));
    connect(about, &QAction::triggered, this, [this] {
        if (m_context.showAbout)
            m_context.showAbout(this);
    });

    m_onlyBusy = new QToolButton(this);
    m_onlyBusy->setObjectName(QStringLiteral("ExtOnlyBusy"));
    m_onlyBusy->setCheckable(true);
    m_onlyBusy->setText(QStringLiteral("Выданные"));
    m_onlyBusy->setToolTip(QStringLiteral("Отображение записей с дозиметрами\r\nприписанными на данный момент"));
    m_onlyBusy->setAutoFillBackground(true);
    m_onlyBusy->setFixedWidth(90);
    connect(m_onlyBusy, &QToolButton::clicked, this, &NoteBook::showOnlyIssued);
    m_synchro = new QToolButton(this);
    m_synchro->setObjectName(QStringLiteral("ExtSynchro"));
    m_synchro->setText(QStringLiteral("Синхр."));
    m_synchro->setToolTip(QStringLiteral("Синхронизировать измеренных данных с записями в журнале"));
    m_synchro->setFixedWidth(90);
    connect(m_synchro, &QToolButton::clicked, this, &NoteBook::synchroniseNames);
    auto *left = new QVBoxLayout;
    left->addWidget(m_onlyBusy);
    left->addWidget(m_synchro);
    left->addStretch();

    DataTable &notes = m_context.dm->notes();
    m_model = new DataTableModel(&notes, GridFields, this);
    m_model->setColumnTitle(m_model->columnOfField(fieldName(NotesField::Dose)), QStringLiteral("Доза"));
    m_view = new JournalGridModel(m_model, &m_sortFieldIndex, this);
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("RxDBGridNotes"));
    m_grid->setModel(m_view);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    m_grid->verticalHeader()->hide();
    QHeaderView *titles = m_grid->horizontalHeader();
    titles->setStretchLastSection(false);
    titles->setSectionsClickable(true);
    titles->setSortIndicatorShown(true);
    connect(titles, &QHeaderView::sectionClicked, this, &NoteBook::sortByTitle);
    // The number, the dates and the dose are as wide as their title (with
    // room for the sort marker) or their longest text; the name column takes
    // what is left, so that all five stay in the grid at any window size.
    const int mark = style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, titles);
    const auto fit = [&](int column, const QString &longest) {
        titles->setSectionResizeMode(column, QHeaderView::Interactive);
        m_grid->setColumnWidth(column, qMax(titles->sectionSizeHint(column) + mark,
                                            m_grid->fontMetrics().horizontalAdvance(longest) + 16));
    };
    fit(0, QStringLiteral("16777215"));
    fit(1, QStringLiteral("00.00.00"));
    fit(2, QStringLiteral("00.00.00"));
    fit(4, QStringLiteral("00000.000"));
    titles->setSectionResizeMode(3, QHeaderView::Stretch);
    int fixedColumns = 0;
    for (int c : {0, 1, 2, 4})
        fixedColumns += m_grid->columnWidth(c);
    const int nameMin = qMax(titles->sectionSizeHint(3) + mark, m_grid->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 16);
    m_grid->setMinimumWidth(fixedColumns + nameMin + 2 * m_grid->frameWidth()
                            + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_grid));
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current, const QModelIndex &) {
                if (!current.isValid() || current.row() == m_model->rowOfCurrent())
                    return;
                try {
                    m_model->setCurrentRow(current.row());
                } catch (const ERuvoError &) {
                }
            });
    connect(m_model, &DataTableModel::currentRowChanged, this, &NoteBook::followCurrent);
    auto *del = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete), m_grid);
    del->setContext(Qt::WidgetWithChildrenShortcut);
    connect(del, &QShortcut::activated, this, &NoteBook::deleteEntry);

    m_bind = new QPushButton(QStringLiteral("&Приписать дозиметр человеку"), this);
    m_bind->setObjectName(QStringLiteral("BtnPlus"));
    m_bind->setAutoDefault(false);
    connect(m_bind, &QPushButton::clicked, this, &NoteBook::bindDosimeter);
    m_release = new QPushButton(QStringLiteral("&Освободить дозиметр"), this);
    m_release->setObjectName(QStringLiteral("BtnEdit"));
    m_release->setAutoDefault(false);
    connect(m_release, &QPushButton::clicked, this, &NoteBook::releaseDosimeter);
    m_totals = new QPushButton(JournalTotals::Caption, this);
    m_totals->setObjectName(QStringLiteral("BtnTotals"));
    m_totals->setAutoDefault(false);
    connect(m_totals, &QPushButton::clicked, this, &NoteBook::showTotals);
    m_doseCard = new QPushButton(QStringLiteral("Карточка доз"), this);
    m_doseCard->setObjectName(QStringLiteral("BtnDoseCard"));
    m_doseCard->setToolTip(DoseCardWindow::Caption);
    m_doseCard->setAutoDefault(false);
    connect(m_doseCard, &QPushButton::clicked, this, &NoteBook::showDoseCard);
    m_close = new QPushButton(QStringLiteral("&Закрыть"), this);
    m_close->setObjectName(QStringLiteral("btnOk"));
    m_close->setDefault(true);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_bind);
    bottom->addWidget(m_release);
    bottom->addWidget(m_totals);
    bottom->addWidget(m_doseCard);
    bottom->addStretch();
    bottom->addWidget(m_close);

    auto *middle = new QHBoxLayout;
    middle->addLayout(left);
    middle->addWidget(m_grid, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(menu);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);
    titles->setSortIndicator(-1, Qt::DescendingOrder);
    // At least 400 x 300, and never so small that the grid or the buttons
    // would be cut.
    setMinimumSize(layout->totalMinimumSize().expandedTo(QSize(400, 300)));
}

void NoteBook::followCurrent()
{
    const int row = m_model->rowOfCurrent();
    if (row < 0)
        return;
    const QModelIndex idx = m_view->index(row, qMax(0, m_grid->currentIndex().column()));
    if (idx != m_grid->currentIndex())
        m_grid->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void NoteBook::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    updateSynchro();
    followCurrent();
}

bool NoteBook::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate)
        updateSynchro();
    return QDialog::event(event);
}

void NoteBook::updateSynchro()
{
    m_synchro->setVisible(!m_readOnly && m_context.namesOutOfStep && m_context.namesOutOfStep());
}

void NoteBook::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    m_bind->setEnabled(!readOnly);
    m_release->setEnabled(!readOnly);
    setWindowTitle(readOnly ? QStringLiteral("Журнал выдачи дозиметров (только просмотр)")
                            : QStringLiteral("Журнал выдачи дозиметров"));
    updateSynchro();
}

void NoteBook::bindDosimeter()
{
    if (m_readOnly)
        return;
    NoteBind dialog(*m_context.prompt, *m_journal, m_context.pickCardLabel, now(), this);
    m_context.prompt->runModal(&dialog, [&dialog] { return dialog.exec(); });
    updateSynchro();
}

void NoteBook::releaseDosimeter()
{
    if (m_readOnly)
        return;
    if (const Result<> releasable = m_journal->checkRelease(); !releasable) {
        tell(*m_context.prompt, *releasable.error);
        return;
    }
    NoteUnBind dialog(*m_context.prompt, *m_journal, now(), this);
    m_context.prompt->runModal(&dialog, [&dialog] { return dialog.exec(); });
    updateSynchro();
}

void NoteBook::showOnlyIssued(bool down)
{
    m_grid->setFocus();
    DataTable &notes = m_context.dm->notes();
    QPalette pal = m_onlyBusy->palette();
    pal.setColor(QPalette::Button, down ? QColor(0xA6, 0xCA, 0xF0) : palette().color(QPalette::Button));
    m_onlyBusy->setPalette(pal);
    m_onlyBusy->setChecked(down);
    try {
        if (down) {
            notes.setFilter(fieldName(NotesField::TimeTo) + QStringLiteral("=NULL"));
            notes.setFiltered(true);
        } else {
            const QVariant mark = notes.getBookmark();
            notes.setFiltered(false);
            if (!mark.isNull())
                notes.gotoBookmark(mark);
        }
    } catch (const ERuvoError &e) {
        m_context.prompt->message(MsgKind::Error, e.message(), PromptButton::Ok);
    }
    followCurrent();
}

void NoteBook::synchroniseNames()
{
    if (m_readOnly)
        return;
    if (m_context.syncNames)
        m_context.syncNames();
    updateSynchro();
}

void NoteBook::sortByTitle(int column)
{
    DataTable &notes = m_context.dm->notes();
    const QString field = m_model->fieldOfColumn(column);
    const int position = notes.fieldIndex(field);
    if (position < 0)
        return;
    m_sortFieldIndex = position;
    try {
        notes.setIndexFieldNames(field);
    } catch (const ERuvoError &) {
        try {
            notes.setIndexFieldNames(QString());
            m_context.dm->rebuildIndexes(notes);
        } catch (const ERuvoError &e) {
            m_context.prompt->message(MsgKind::Error, e.message(), PromptButton::Ok);
        }
    }
    m_grid->horizontalHeader()->setSortIndicator(column, Qt::DescendingOrder);
    m_grid->viewport()->update();
    followCurrent();
}

void NoteBook::deleteEntry()
{
    if (m_readOnly)
        return;
    std::optional<Journal::Row> row;
    try {
        row = m_journal->currentRow();
    } catch (const ERuvoError &) {
    }
    if (row
        && m_context.prompt->ask(MsgKind::Question, Journal::DeleteQuestion, PromptButton::Ok | PromptButton::Cancel,
                                 PromptButton::Cancel)
            == PromptButton::Ok) {
        if (const Result<> removed = m_journal->remove(*row); !removed)
            tell(*m_context.prompt, *removed.error);
    }
    updateSynchro();
}

void NoteBook::showTotals()
{
    JournalTotals dialog(*m_context.prompt, *m_journal, now(), this);
    dialog.setSettingsPath(m_context.settingsPath);
    m_context.prompt->runModal(&dialog, [&dialog] { return dialog.exec(); });
}

void NoteBook::showDoseCard()
{
    std::optional<Journal::Row> row;
    try {
        row = m_journal->currentRow();
    } catch (const ERuvoError &) {
    }
    if (!row)
        return;
    DoseCardWindow::open(*m_context.prompt, *m_context.dm, DoseCardWindow::personOfName(*m_context.dm, row->fio),
                         now().date(), this, m_context.settingsPath);
}

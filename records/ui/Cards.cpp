#include "records/ui/Cards.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "core/SettingsKeys.h"
#include "records/DataModule.h"
#include "records/DataTable.h"
#include "records/DataTableModel.h"
#include "records/ui/CardEdit.h"
#include "records/ui/DoseCardWindow.h"

#include <QAction>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

const QString Cards::SectionName = SettingsKeys::TCards::Section;

namespace {

// The day-0 birth date stands for a missing one: the grid shows it empty.
class CardsProxy : public QIdentityProxyModel {
public:
    CardsProxy(DataTableModel *model, QObject *parent) : QIdentityProxyModel(parent), m_model(model)
    {
        setSourceModel(model);
        m_birthColumn = model->columnOfField(fieldName(CardsField::BirthDay));
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::DisplayRole && index.column() == m_birthColumn) {
            const QVariant v = QIdentityProxyModel::data(index, Qt::EditRole);
            if (v.isNull() || CardIndex::isMissingDate(v.toDate()))
                return QString();
        }
        return QIdentityProxyModel::data(index, role);
    }

private:
    DataTableModel *m_model;
    int m_birthColumn = -1;
};

QToolButton *commandButton(QWidget *parent, const QString &name, const QString &text, const QString &hint)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    b->setAutoRaise(false);
    b->setMinimumSize(32, 28);
    QFont f = b->font();
    f.setBold(true);
    f.setPointSize(f.pointSize() + 3);
    b->setFont(f);
    return b;
}

} // namespace

Cards::Cards(DataModule &dm, int &maxCardsIndex, const QString &settingsPath, QWidget *parent)
    : QDialog(parent), m_dm(dm), m_index(dm), m_maxCardsIndex(maxCardsIndex), m_settingsPath(settingsPath),
      m_placement(this, SectionName, true)
{
    setObjectName(SectionName);
    setWindowTitle(QStringLiteral("Картотека"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    m_placement.setFile(settingsPath);

    // ---- quick search
    auto *search = new QGroupBox(QStringLiteral("Быстрый поиск записи"), this);
    search->setObjectName(QStringLiteral("GroupBox1"));
    m_findId = new QLineEdit(search);
    m_findId->setObjectName(QStringLiteral("Edit_FindID"));
    m_findFio = new QLineEdit(search);
    m_findFio->setObjectName(QStringLiteral("Edit_FindFIO"));
    auto *searchLayout = new QHBoxLayout(search);
    auto *idLabel = new QLabel(QStringLiteral("По таб. номеру"), search);
    idLabel->setBuddy(m_findId);
    auto *fioLabel = new QLabel(QStringLiteral("По ФИО"), search);
    fioLabel->setBuddy(m_findFio);
    searchLayout->addWidget(idLabel);
    searchLayout->addWidget(m_findId, 1);
    searchLayout->addSpacing(12);
    searchLayout->addWidget(fioLabel);
    searchLayout->addWidget(m_findFio, 3);
    connect(m_findId, &QLineEdit::textChanged, this, [this](const QString &text) { m_index.locateNumber(text); });
    connect(m_findFio, &QLineEdit::textChanged, this, [this](const QString &text) { m_index.locateName(text); });

    // ---- the grid
    m_model = new DataTableModel(&dm.cards(),
                                 fieldNames({CardsField::ID, CardsField::FIO, CardsField::Label, CardsField::BirthDay,
                                             CardsField::IsMale, CardsField::Vacancy, CardsField::Address,
                                             CardsField::Telephone, CardsField::Comment}),
                                 this);
    m_model->setColumnTitle(0, QStringLiteral("Таб. номер"));
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("RxDBGrid"));
    m_grid->setModel(new CardsProxy(m_model, this));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setWordWrap(false);
    m_grid->setCornerButtonEnabled(false);
    QPalette pal = m_grid->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, pal.color(QPalette::Active, QPalette::HighlightedText));
    m_grid->setPalette(pal);
    QHeaderView *rows = m_grid->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    rows->setFixedWidth(14);
    QHeaderView *titles = m_grid->horizontalHeader();
    titles->setStretchLastSection(true);
    titles->setHighlightSections(false);
    // Each column at least as wide as its title; the last one fills the grid.
    const int widths[] = {80, 200, 100, 95, 40, 140, 215, 125};
    for (int c = 0; c < int(std::size(widths)); ++c)
        m_grid->setColumnWidth(c, qMax(widths[c], titles->sectionSizeHint(c)));
    // The number column shows the largest personnel number whole.
    const int numberWidth = m_grid->fontMetrics().horizontalAdvance(QString::number(CardIndex::LargestNumber))
        + 2 * m_grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, m_grid) + 8;
    m_grid->setColumnWidth(0, qMax(m_grid->columnWidth(0), numberWidth));
    connect(m_grid, &QAbstractItemView::doubleClicked, this, [this] { editCard(); });
    connect(m_model, &DataTableModel::currentRowChanged, this, &Cards::followTableRow);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current, const QModelIndex &) {
                if (!current.isValid() || m_syncing)
                    return;
                m_syncing = true;
                try {
                    m_model->setCurrentRow(current.row());
                } catch (const ERuvoError &) {
                }
                m_syncing = false;
            });
    auto *del = new QAction(m_grid);
    del->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));
    del->setShortcutContext(Qt::WidgetShortcut);
    connect(del, &QAction::triggered, this, &Cards::deleteCardFromGrid);
    m_grid->addAction(del);

    // ---- the commands
    auto *plus = commandButton(this, QStringLiteral("BtnPlus"), QStringLiteral("+"), QStringLiteral("Добавить запись"));
    auto *minus = commandButton(this, QStringLiteral("BtnMinus"), QStringLiteral("−"), QStringLiteral("Удалить запись"));
    auto *edit = commandButton(this, QStringLiteral("BtnEdit"), QString(), QStringLiteral("Редактировать запись"));
    edit->setIcon(style()->standardIcon(QStyle::SP_FileDialogDetailedView));
    connect(plus, &QToolButton::clicked, this, &Cards::addCard);
    connect(minus, &QToolButton::clicked, this, &Cards::deleteCard);
    connect(edit, &QToolButton::clicked, this, &Cards::editCard);
    m_editing = {plus, minus, edit, del};
    auto *doseCard = new QPushButton(QStringLiteral("Карточка доз"), this);
    doseCard->setObjectName(QStringLiteral("BtnDoseCard"));
    doseCard->setToolTip(DoseCardWindow::Caption);
    doseCard->setAutoDefault(false);
    connect(doseCard, &QPushButton::clicked, this, &Cards::showDoseCard);
    auto *ok = new QPushButton(QStringLiteral("&ОК"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &Cards::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(plus);
    buttons->addWidget(minus);
    buttons->addWidget(edit);
    buttons->addSpacing(12);
    buttons->addWidget(doseCard);
    buttons->addStretch(1);
    buttons->addWidget(ok);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(search);
    layout->addWidget(m_grid, 1);
    layout->addLayout(buttons);
    resize(1200, 480);

    // The list opens on the card that is current, or on the first one.
    DataTable &cards = m_dm.cards();
    try {
        if (cards.active() && !cards.hasCurrent())
            cards.first();
    } catch (const ERuvoError &) {
    }
    followTableRow(m_model->rowOfCurrent());
}

Cards::~Cards() = default;

int Cards::run()
{
    return activePrompt().runModal(this, [this] { return exec(); });
}

void Cards::followTableRow(int row)
{
    if (m_syncing || row < 0)
        return;
    m_syncing = true;
    const QModelIndex idx = m_grid->model()->index(row, 0);
    if (idx.isValid()) {
        m_grid->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_grid->scrollTo(idx);
    }
    m_syncing = false;
}

std::optional<CardData> Cards::currentCard() const
{
    try {
        return m_index.currentCard();
    } catch (const ERuvoError &) {
        return std::nullopt;
    }
}

void Cards::runEditor(bool newCard)
{
    if (m_readOnly)
        return;
    CardEdit editor(m_index, m_maxCardsIndex, m_settingsPath, isVisible() ? this : parentWidget());
    try {
        if (newCard) {
            const Result<int> number = m_index.nextNumber(m_maxCardsIndex);
            if (!number) {
                activePrompt().message(MsgKind::Error, number.errorText(), PromptButton::Ok);
                return;
            }
            editor.startNew(number.value);
        } else {
            const std::optional<CardData> current = currentCard();
            // On an empty table the editor starts empty and saving creates a card.
            editor.startEdit(current ? *current : CardData());
        }
    } catch (const ERuvoError &e) {
        activePrompt().message(MsgKind::Error, e.message(), PromptButton::Ok);
        return;
    }
    editor.run();
}

void Cards::setReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    for (QObject *control : std::as_const(m_editing)) {
        if (auto *w = qobject_cast<QWidget *>(control))
            w->setEnabled(!readOnly);
        else if (auto *a = qobject_cast<QAction *>(control))
            a->setEnabled(!readOnly);
    }
    setWindowTitle(readOnly ? QStringLiteral("Картотека (только просмотр)") : QStringLiteral("Картотека"));
}

void Cards::addCard()
{
    runEditor(true);
}

void Cards::editCard()
{
    runEditor(false);
}

void Cards::deleteCard()
{
    const std::optional<CardData> current = currentCard();
    if (!current || m_readOnly)
        return;
    const PromptButton answer = activePrompt().ask(
        MsgKind::Warning, QStringLiteral("Выбрано удаление карточки ") + current->fio + QStringLiteral("\rПроизвести удаление?"),
        PromptButton::Ok | PromptButton::Cancel, PromptButton::Cancel);
    if (answer != PromptButton::Ok)
        return;
    if (const Result<> deleted = m_index.deleteCard(*current); !deleted)
        tell(activePrompt(), *deleted.error);
}

void Cards::deleteCardFromGrid()
{
    const std::optional<CardData> current = currentCard();
    if (!current || m_readOnly)
        return;
    if (activePrompt().ask(MsgKind::Question, QStringLiteral("Delete record?"), PromptButton::Ok | PromptButton::Cancel,
                           PromptButton::Cancel)
        != PromptButton::Ok)
        return;
    if (const Result<> deleted = m_index.deleteCard(*current); !deleted)
        tell(activePrompt(), *deleted.error);
}

void Cards::showDoseCard()
{
    const std::optional<CardData> current = currentCard();
    if (!current)
        return;
    DoseCardWindow::open(activePrompt(), m_dm, PersonDirectory::cardPersonKey(current->key), QDate::currentDate(),
                         isVisible() ? this : parentWidget(), m_settingsPath);
}

void Cards::done(int result)
{
    m_placement.save();
    QDialog::done(result);
}

void Cards::showEvent(QShowEvent *event)
{
    m_placement.restore();
    QDialog::showEvent(event);
    m_grid->setFocus();
}

void Cards::keyPressEvent(QKeyEvent *event)
{
    // Esc closes the list with OK, like the button.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

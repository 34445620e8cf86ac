#include "records/ui/DoseLevelsWindow.h"

#include "core/Prompt.h"
#include "records/StoreError.h"
#include "records/ui/DateBox.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

namespace {

QString whereFrom(const AppliedLevel &l)
{
    if (l.fromDefault)
        return QStringLiteral("по умолчанию");
    switch (l.scope) {
    case LevelScope::Person: return QStringLiteral("для лица");
    case LevelScope::SubDiv: return QStringLiteral("для подразделения");
    case LevelScope::All: break;
    }
    return QStringLiteral("для всех");
}

} // namespace

const QString DoseLevelsWindow::Caption = QStringLiteral("Контрольные уровни");
const QList<DosePeriod> DoseLevelsWindow::Periods{DosePeriod::Reading, DosePeriod::Month,     DosePeriod::Quarter,
                                                  DosePeriod::Year,    DosePeriod::FiveYears, DosePeriod::Pregnancy};

DoseLevelsWindow::DoseLevelsWindow(IPrompt &prompt, DataModule &dm, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_dm(dm)
{
    setObjectName(QStringLiteral("TDoseLevels"));
    setWindowTitle(Caption);
    resize(760, 420);

    m_scope = new QComboBox(this);
    m_scope->setObjectName(QStringLiteral("CB_Scope"));
    m_scope->addItems({QStringLiteral("Для всех"), QStringLiteral("Для подразделения"), QStringLiteral("Для лица")});
    m_target = new QComboBox(this);
    m_target->setObjectName(QStringLiteral("CB_Target"));
    m_target->setMinimumWidth(240);
    m_group = new QComboBox(this);
    m_group->setObjectName(QStringLiteral("CB_Group"));
    m_group->addItems({QStringLiteral("любая"), QStringLiteral("А"), QStringLiteral("Б")});
    auto *who = new QHBoxLayout;
    who->addWidget(m_scope);
    who->addWidget(m_target, 1);
    who->addWidget(new QLabel(QStringLiteral("Группа:"), this));
    who->addWidget(m_group);
    connect(m_scope, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] {
        fillTargets();
        reload();
    });
    connect(m_target, qOverload<int>(&QComboBox::currentIndexChanged), this, &DoseLevelsWindow::reload);
    connect(m_group, qOverload<int>(&QComboBox::currentIndexChanged), this, &DoseLevelsWindow::reload);

    m_table = new QTableWidget(Periods.size(), 4, this);
    m_table->setObjectName(QStringLiteral("GridLevels"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Период"), QStringLiteral("Предел, мкЗв"),
                                        QStringLiteral("Уровень расследования, мкЗв"), QStringLiteral("Действует")});
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                             | QAbstractItemView::AnyKeyPressed);
    connect(m_table, &QTableWidget::cellChanged, this, &DoseLevelsWindow::cellEdited);
    auto *hint = new QLabel(QStringLiteral("Пустая ячейка: действует уровень, заданный шире (для подразделения, "
                                           "для всех или по умолчанию)."),
                            this);
    hint->setWordWrap(true);

    m_personBox = new QGroupBox(QStringLiteral("Лицо"), this);
    m_personBox->setObjectName(QStringLiteral("GroupPerson"));
    m_personGroup = new QComboBox(m_personBox);
    m_personGroup->setObjectName(QStringLiteral("CB_PersonGroup"));
    m_personGroup->addItems({QStringLiteral("А"), QStringLiteral("Б")});
    m_pregnantFrom = new DateBox(m_personBox);
    m_pregnantFrom->setObjectName(QStringLiteral("DateEdit_PregnantFrom"));
    m_pregnantFrom->setEmptyAllowed(true);
    m_pregnantTo = new DateBox(m_personBox);
    m_pregnantTo->setObjectName(QStringLiteral("DateEdit_PregnantTo"));
    m_pregnantTo->setEmptyAllowed(true);
    auto *savePerson = new QPushButton(QStringLiteral("&Сохранить"), m_personBox);
    savePerson->setObjectName(QStringLiteral("BtnSavePerson"));
    connect(savePerson, &QPushButton::clicked, this, &DoseLevelsWindow::savePerson);
    auto *personRow = new QHBoxLayout(m_personBox);
    personRow->addWidget(new QLabel(QStringLiteral("Группа:"), m_personBox));
    personRow->addWidget(m_personGroup);
    personRow->addWidget(new QLabel(QStringLiteral("Беременность объявлена с"), m_personBox));
    personRow->addWidget(m_pregnantFrom);
    personRow->addWidget(new QLabel(QStringLiteral("по"), m_personBox));
    personRow->addWidget(m_pregnantTo);
    personRow->addStretch();
    personRow->addWidget(savePerson);

    m_operator = new QLineEdit(this);
    m_operator->setObjectName(QStringLiteral("EditOperator"));
    m_operator->setText(qEnvironmentVariable("USERNAME", qEnvironmentVariable("USER")));
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(QStringLiteral("Изменения вносит:"), this));
    bottom->addWidget(m_operator);
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnOk"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    bottom->addWidget(buttons, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(who);
    layout->addWidget(m_table, 1);
    layout->addWidget(hint);
    layout->addWidget(m_personBox);
    layout->addLayout(bottom);
    fillTargets();
    reload();
}

LevelScope DoseLevelsWindow::scope() const
{
    return LevelScope(m_scope->currentIndex());
}

QString DoseLevelsWindow::target() const
{
    return scope() == LevelScope::All ? QString() : m_target->currentData().toString();
}

std::optional<WorkerGroup> DoseLevelsWindow::group() const
{
    switch (m_group->currentIndex()) {
    case 1: return WorkerGroup::A;
    case 2: return WorkerGroup::B;
    default: return std::nullopt;
    }
}

void DoseLevelsWindow::fillTargets()
{
    const QSignalBlocker block(m_target);
    m_target->clear();
    m_target->setEnabled(scope() != LevelScope::All);
    if (scope() == LevelScope::All)
        return;
    try {
        PersonDirectory &dir = PersonDirectory::of(m_dm);
        dir.refresh();
        const QList<DosePerson> persons = dir.persons();
        if (scope() == LevelScope::Person) {
            for (const DosePerson &p : persons)
                m_target->addItem(p.subDiv.isEmpty() ? p.fio : QStringLiteral("%1 (%2)").arg(p.fio, p.subDiv), p.key);
            return;
        }
        QStringList subDivs;
        for (const DosePerson &p : persons)
            subDivs.append(p.subDiv);
        for (const StoredLevel &l : DoseLevels(m_dm).stored()) {
            if (l.key.scope == LevelScope::SubDiv)
                subDivs.append(l.key.target);
        }
        subDivs.removeAll(QString());
        subDivs.removeDuplicates();
        subDivs.sort(Qt::CaseInsensitive);
        for (const QString &s : subDivs)
            m_target->addItem(s, s);
    } catch (const std::exception &e) {
        tell(m_prompt, storeError(e));
    }
}

void DoseLevelsWindow::showFor(LevelScope scope, const QString &target, std::optional<WorkerGroup> group)
{
    m_scope->setCurrentIndex(int(scope));
    m_group->setCurrentIndex(group ? (*group == WorkerGroup::A ? 1 : 2) : 0);
    const int at = m_target->findData(target);
    if (at >= 0)
        m_target->setCurrentIndex(at);
    reload();
}

LevelKey DoseLevelsWindow::keyOf(int row, LevelKind kind) const
{
    return LevelKey{scope(), target(), group(), Periods.value(row), kind};
}

QString DoseLevelsWindow::amountText(double value)
{
    return QString::number(value, 'f', 3).remove(QRegularExpression(QStringLiteral("\\.?0+$")));
}

std::optional<double> DoseLevelsWindow::parseAmount(const QString &text)
{
    QString t = text;
    t.remove(QLatin1Char(' ')).remove(QChar(0x00A0)).replace(QLatin1Char(','), QLatin1Char('.'));
    if (t.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    // What is not a number goes to the check as such, which refuses it.
    return ok ? v : std::numeric_limits<double>::quiet_NaN();
}

void DoseLevelsWindow::reload()
{
    m_filling = true;
    const QSignalBlocker block(m_table);
    const bool forPerson = scope() == LevelScope::Person;
    m_personBox->setVisible(forPerson);
    const bool noTarget = scope() != LevelScope::All && target().isEmpty();
    try {
        DoseLevels levels(m_dm);
        const QList<StoredLevel> stored = levels.stored();
        // What applies here: the person's levels, or those of a person of
        // the chosen group in this subdivision (or anywhere).
        PersonSettings who;
        QString subDiv;
        if (forPerson && !noTarget) {
            who = levels.person(target());
            PersonDirectory &dir = PersonDirectory::of(m_dm);
            if (const auto p = dir.person(target()))
                subDiv = p->subDiv;
        } else {
            who.group = group().value_or(WorkerGroup::A);
            subDiv = scope() == LevelScope::SubDiv ? target() : QString();
        }
        PersonSettings shown = who;
        if (shown.pregnantFrom.isNull())
            shown.pregnantFrom = QDate::currentDate();  // so the pregnancy line shows its level
        const QList<AppliedLevel> applying = noTarget ? QList<AppliedLevel>() : levels.applying(shown, subDiv);

        for (int r = 0; r < Periods.size(); ++r) {
            auto *period = new QTableWidgetItem(DosePeriods::title(Periods[r]));
            period->setFlags(Qt::ItemIsEnabled);
            m_table->setItem(r, 0, period);
            for (LevelKind kind : {LevelKind::Limit, LevelKind::Investigation}) {
                const LevelKey key = keyOf(r, kind);
                QString text;
                for (const StoredLevel &l : stored) {
                    if (l.key.scope == key.scope && l.key.target == key.target && l.key.group == key.group
                        && l.key.period == key.period && l.key.kind == key.kind)
                        text = amountText(l.value);
                }
                auto *item = new QTableWidgetItem(text);
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                const bool editable = !noTarget && !(Periods[r] == DosePeriod::Pregnancy && key.scope == LevelScope::SubDiv);
                item->setFlags(editable ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable
                                        : Qt::ItemIsEnabled);
                m_table->setItem(r, columnOf(kind), item);
            }
            QStringList now;
            for (const AppliedLevel &l : applying) {
                if (l.period == Periods[r])
                    now.append(QStringLiteral("%1 %2 (%3)").arg(DoseLevels::kindTitle(l.kind), amountText(l.value),
                                                                whereFrom(l)));
            }
            auto *applies = new QTableWidgetItem(now.isEmpty() ? QStringLiteral("—") : now.join(QStringLiteral("; ")));
            applies->setFlags(Qt::ItemIsEnabled);
            applies->setForeground(QColor(0x50, 0x50, 0x50));
            m_table->setItem(r, 3, applies);
        }
        if (forPerson) {
            m_personGroup->setCurrentIndex(who.group == WorkerGroup::A ? 0 : 1);
            m_pregnantFrom->setValue(who.pregnantFrom);
            m_pregnantTo->setValue(who.pregnantTo);
            m_personBox->setEnabled(!noTarget);
        }
    } catch (const std::exception &e) {
        tell(m_prompt, storeError(e));
    }
    m_filling = false;
}

bool DoseLevelsWindow::enter(DosePeriod period, LevelKind kind, const QString &text)
{
    const int row = Periods.indexOf(period);
    if (row < 0)
        return false;
    Result<> done;
    try {
        done = DoseLevels(m_dm).setLevel(keyOf(row, kind), parseAmount(text), m_operator->text());
    } catch (const std::exception &e) {
        done = storeError(e);
    }
    if (!done)
        tell(m_prompt, *done.error);
    reload();  // the stored values again: a refused change leaves them as they were
    return done.ok();
}

void DoseLevelsWindow::cellEdited(int row, int column)
{
    if (m_filling || (column != 1 && column != 2))
        return;
    const QString text = m_table->item(row, column) ? m_table->item(row, column)->text() : QString();
    // Called from the item's own change: store and re-fill once it is over.
    QMetaObject::invokeMethod(
        this,
        [this, row, column, text] {
            enter(Periods.value(row), column == 1 ? LevelKind::Limit : LevelKind::Investigation, text);
        },
        Qt::QueuedConnection);
}

bool DoseLevelsWindow::savePerson()
{
    if (scope() != LevelScope::Person || target().isEmpty())
        return false;
    PersonSettings s;
    s.personKey = target();
    s.group = m_personGroup->currentIndex() == 1 ? WorkerGroup::B : WorkerGroup::A;
    s.pregnantFrom = m_pregnantFrom->value();
    s.pregnantTo = m_pregnantTo->value();
    Result<> done;
    try {
        done = DoseLevels(m_dm).setPerson(s, m_operator->text());
    } catch (const std::exception &e) {
        done = storeError(e);
    }
    if (!done)
        tell(m_prompt, *done.error);
    reload();
    return done.ok();
}

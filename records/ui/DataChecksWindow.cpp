#include "records/ui/DataChecksWindow.h"

#include "core/Prompt.h"
#include "records/DataChecks.h"
#include "records/ui/CsvExportFile.h"
#include "records/ui/DateBox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QString();
}

} // namespace

const QString DataChecksWindow::Caption = QStringLiteral("Контроль данных");

DataChecksWindow::DataChecksWindow(IPrompt &prompt, DataModule &dm, const QDateTime &now, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_dm(dm), m_now(now)
{
    setObjectName(QStringLiteral("TDataChecks"));
    setWindowTitle(Caption);
    resize(820, 460);

    m_from = new DateBox(this);
    m_from->setObjectName(QStringLiteral("DateEdit_From"));
    m_from->setEmptyAllowed(false);
    m_to = new DateBox(this);
    m_to->setObjectName(QStringLiteral("DateEdit_To"));
    m_to->setEmptyAllowed(false);
    m_days = new QSpinBox(this);
    m_days->setObjectName(QStringLiteral("SpinDays"));
    m_days->setRange(0, 3650);
    m_days->setValue(DataChecks::DefaultUnreadDays);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Период с"), this));
    top->addWidget(m_from);
    top->addWidget(new QLabel(QStringLiteral("по"), this));
    top->addWidget(m_to);
    top->addSpacing(20);
    top->addWidget(new QLabel(QStringLiteral("Не считаны более, дней:"), this));
    top->addWidget(m_days);
    top->addStretch();

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("TabsChecks"));
    const QStringList tabNames{QStringLiteral("Выданы и не считаны"), QStringLiteral("Показания без записи в журнале"),
                               QStringLiteral("Превышения без квитирования")};
    const char *const tableNames[] = {"GridUnread", "GridUnattributed", "GridUnacknowledged"};
    for (int t = 0; t < TabCount; ++t) {
        auto *table = new QTableWidget(0, titles(Tab(t)).size(), m_tabs);
        table->setObjectName(QLatin1String(tableNames[t]));
        table->setHorizontalHeaderLabels(titles(Tab(t)));
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->verticalHeader()->hide();
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        table->horizontalHeader()->setStretchLastSection(true);
        table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
        m_tables[t] = table;
        m_tabs->addTab(table, tabNames[t]);
    }

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *update = buttons->addButton(QStringLiteral("&Обновить"), QDialogButtonBox::ActionRole);
    update->setObjectName(QStringLiteral("BtnRefresh"));
    connect(update, &QPushButton::clicked, this, &DataChecksWindow::refresh);
    QPushButton *csv = buttons->addButton(QStringLiteral("&Экспорт в CSV"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("BtnExport"));
    connect(csv, &QPushButton::clicked, this, &DataChecksWindow::exportCsv);
    QPushButton *close = buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnOk"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(buttons);

    // The current year by default.
    setPeriod(QDate(now.date().year(), 1, 1), now.date());
    connect(m_from, &DateBox::valueChanged, this, &DataChecksWindow::refresh);
    connect(m_to, &DateBox::valueChanged, this, &DataChecksWindow::refresh);
    connect(m_days, qOverload<int>(&QSpinBox::valueChanged), this, [this] { fill(Unread); });
}

QStringList DataChecksWindow::titles(Tab tab)
{
    switch (tab) {
    case Unread:
        return {QStringLiteral("Дозиметр"), QStringLiteral("ФИО"), QStringLiteral("Выдан"),
                QStringLiteral("Последнее показание"), QStringLiteral("Дней")};
    case Unattributed:
        return {QStringLiteral("Дозиметр"), QStringLiteral("Дата и время"), QStringLiteral("Доза, мкЗв"),
                QStringLiteral("Запись")};
    case Unacknowledged:
    default:
        return {QStringLiteral("ФИО"), QStringLiteral("Подразделение"), QStringLiteral("Уровень"),
                QStringLiteral("Период"), QStringLiteral("Доза, мкЗв"), QStringLiteral("Когда")};
    }
}

void DataChecksWindow::setPeriod(const QDate &from, const QDate &to)
{
    const QSignalBlocker a(m_from), b(m_to);
    m_from->setDate(from);
    m_to->setDate(to);
    refresh();
}

void DataChecksWindow::setDays(int days)
{
    m_days->setValue(days);
    fill(Unread);
}

void DataChecksWindow::showTab(Tab tab)
{
    m_tabs->setCurrentIndex(tab);
}

void DataChecksWindow::refresh()
{
    if (m_from->date().isValid() && m_to->date().isValid() && m_to->date() < m_from->date()) {
        tell(m_prompt, Error{ErrorKind::Invalid, QStringLiteral("Период задан неверно: конец раньше начала")});
        const QSignalBlocker a(m_from), b(m_to);
        m_from->setDate(m_shownFrom);
        m_to->setDate(m_shownTo);
        return;
    }
    m_shownFrom = m_from->date();
    m_shownTo = m_to->date();
    for (int t = 0; t < TabCount; ++t)
        fill(Tab(t));
}

void DataChecksWindow::fill(Tab tab)
{
    const QDateTime from(m_shownFrom, QTime(0, 0));
    const QDateTime to(m_shownTo, QTime(23, 59, 59, 999));
    QList<QStringList> rows;
    std::optional<Error> failed;
    if (tab == Unread) {
        const auto found = DataChecks::unreadDosimeters(m_dm, m_days->value(), m_now);
        failed = found.error;
        for (const UnreadDosimeter &u : found.value)
            rows.append({QString::number(u.id), u.fio, timeText(u.issued),
                         u.lastRead.isValid() ? timeText(u.lastRead) : QStringLiteral("нет"),
                         u.issued.isValid() || u.lastRead.isValid() ? QString::number(u.days) : QString()});
    } else if (tab == Unattributed) {
        const auto found = DataChecks::unattributedReadings(m_dm, from, to);
        failed = found.error;
        for (const UnattributedReading &r : found.value)
            rows.append({QString::number(r.id), timeText(r.time), csvNumberText(r.dose), QString::number(r.index)});
    } else {
        const auto found = DataChecks::unacknowledgedOver(m_dm, from, to);
        failed = found.error;
        for (const DoseAlert &a : found.value)
            rows.append({a.fio, a.subDiv, QStringLiteral("%1 %2").arg(DoseLevels::kindTitle(a.kind), csvNumberText(a.level)),
                         QStringLiteral("%1: %2").arg(DosePeriods::title(a.period.kind), DosePeriods::describe(a.period)),
                         csvNumberText(a.dose), timeText(a.raised)});
    }
    if (failed)
        tell(m_prompt, *failed);
    m_rows[tab] = rows;
    QTableWidget *table = m_tables[tab];
    table->setRowCount(rows.size());
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c)
            table->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    }
    static const QStringList names{QStringLiteral("Выданы и не считаны"), QStringLiteral("Показания без записи в журнале"),
                                   QStringLiteral("Превышения без квитирования")};
    m_tabs->setTabText(tab, QStringLiteral("%1 (%2)").arg(names[tab]).arg(rows.size()));
}

bool DataChecksWindow::exportTo(Tab tab, const QString &path, const CsvFormat &format)
{
    QList<QStringList> rows = m_rows[tab];
    if (format.decimal != QLatin1Char('.')) {
        // The numbers were made with the point.
        const QList<int> numeric = tab == Unattributed ? QList<int>{2} : tab == Unacknowledged ? QList<int>{4} : QList<int>{};
        for (QStringList &row : rows) {
            for (int c : numeric)
                row[c].replace(QLatin1Char('.'), format.decimal);
        }
    }
    const CsvResult written = exportRowsToCsv(titles(tab), rows, path, {}, format);
    if (!written)
        tell(m_prompt, *written.error);
    return written.ok();
}

void DataChecksWindow::exportCsv()
{
    const Tab tab = Tab(m_tabs->currentIndex());
    CsvFormat format;
    const QString path = askCsvExportFile(this, m_tabs->tabText(tab).section(QLatin1String(" ("), 0, 0) + QStringLiteral(".csv"),
                                          m_settingsPath, format);
    if (!path.isEmpty())
        exportTo(tab, path, format);
}

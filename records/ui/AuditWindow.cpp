#include "records/ui/AuditWindow.h"

#include "core/Prompt.h"
#include "records/ui/CsvExportFile.h"
#include "records/ui/DateBox.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QAbstractTableModel>
#include <QTableView>
#include <QVBoxLayout>
#include <functional>

namespace {

// The words of the actions as the operator reads them.
QString actionText(const QString &action)
{
    if (action == AuditLog::InsertAction)
        return QStringLiteral("добавление");
    if (action == AuditLog::UpdateAction)
        return QStringLiteral("изменение");
    if (action == AuditLog::DeleteAction)
        return QStringLiteral("удаление");
    if (action == AuditLog::SyncAction)
        return QStringLiteral("синхронизация");
    if (action == AuditLog::WriteAction)
        return QStringLiteral("запись в дозиметр");
    return action;
}

// One row of the trail as shown and exported.
QStringList cells(const AuditRecord &r)
{
    return {r.timeLocal.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")), r.timeUtc, r.dbUser, r.osUser,
            r.monitor, r.entry.table, r.entry.rowKey, actionText(r.entry.action), r.entry.before, r.entry.after};
}

} // namespace

// The rows read, formatted only as the view shows them: a month of a busy
// site's stored readings is tens of thousands of rows.
class AuditRowsModel : public QAbstractTableModel {
public:
    AuditRowsModel(const QList<AuditRecord> &records, QObject *parent)
        : QAbstractTableModel(parent), m_records(records), m_titles(AuditWindow::titles())
    {
    }
    void reset(const std::function<void()> &change)
    {
        beginResetModel();
        change();
        endResetModel();
    }
    int rowCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : int(m_records.size()); }
    int columnCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : int(m_titles.size()); }
    QVariant data(const QModelIndex &index, int role) const override
    {
        const bool longText = index.column() >= 8;
        if (role != Qt::DisplayRole && !(role == Qt::ToolTipRole && longText))
            return {};
        return cells(m_records.at(index.row())).value(index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return m_titles.value(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    const QList<AuditRecord> &m_records;
    const QStringList m_titles;
};

const QString AuditWindow::Caption = QStringLiteral("Журнал аудита");

AuditWindow::AuditWindow(IPrompt &prompt, DataModule &dm, const QDateTime &now, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_log(dm)
{
    setObjectName(QStringLiteral("TAuditWindow"));
    setWindowTitle(Caption);
    resize(900, 480);

    auto dateBox = [this](const char *name) {
        auto *d = new DateBox(this);
        d->setObjectName(QLatin1String(name));
        d->setEmptyAllowed(false);
        connect(d, &DateBox::valueChanged, this, &AuditWindow::refresh);
        return d;
    };
    m_from = dateBox("DateEdit_From");
    m_to = dateBox("DateEdit_To");
    m_tableBox = new QComboBox(this);
    m_tableBox->setObjectName(QStringLiteral("CbTable"));
    m_tableBox->setMinimumContentsLength(16);
    auto *filter = new QHBoxLayout;
    filter->addWidget(new QLabel(QStringLiteral("Период с"), this));
    filter->addWidget(m_from);
    filter->addWidget(new QLabel(QStringLiteral("по"), this));
    filter->addWidget(m_to);
    filter->addSpacing(16);
    filter->addWidget(new QLabel(QStringLiteral("Таблица"), this));
    filter->addWidget(m_tableBox);
    filter->addStretch();

    m_model = new AuditRowsModel(m_records, this);
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("GridAudit"));
    m_table->setModel(m_model);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    // The values before and after are long: a fixed width each, the whole
    // text in the tool tip and the export.
    m_table->horizontalHeader()->setSectionResizeMode(8, QHeaderView::Interactive);
    m_table->setColumnWidth(8, 260);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_count = new QLabel(this);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *csv = buttons->addButton(QStringLiteral("&Экспорт в CSV"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("BtnExport"));
    connect(csv, &QPushButton::clicked, this, &AuditWindow::exportCsv);
    QPushButton *close = buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnOk"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filter);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_count);
    layout->addWidget(buttons);

    fillTables();
    connect(m_tableBox, &QComboBox::currentIndexChanged, this, &AuditWindow::refresh);
    // The current month by default.
    setPeriod(QDate(now.date().year(), now.date().month(), 1), now.date());
}

QStringList AuditWindow::titles()
{
    return {QStringLiteral("Время"), QStringLiteral("Время UTC"), QStringLiteral("Пользователь БД"),
            QStringLiteral("Пользователь ОС"), QStringLiteral("Монитор"), QStringLiteral("Таблица"),
            QStringLiteral("Запись"), QStringLiteral("Действие"), QStringLiteral("Было"), QStringLiteral("Стало")};
}

void AuditWindow::fillTables()
{
    m_tableBox->blockSignals(true);
    m_tableBox->clear();
    m_tableBox->addItem(QStringLiteral("Все"), QString());
    const Result<QStringList> tables = m_log.tables();
    if (tables) {
        for (const QString &t : tables.value)
            m_tableBox->addItem(t, t);
    }
    m_tableBox->blockSignals(false);
}

void AuditWindow::setPeriod(const QDate &from, const QDate &to)
{
    m_from->blockSignals(true);
    m_to->blockSignals(true);
    m_from->setDate(from);
    m_to->setDate(to);
    m_from->blockSignals(false);
    m_to->blockSignals(false);
    refresh();
}

void AuditWindow::setTable(const QString &table)
{
    const int i = m_tableBox->findData(table);
    m_tableBox->setCurrentIndex(i < 0 ? 0 : i);
    refresh();
}

void AuditWindow::refresh()
{
    const QDate from = m_from->date();
    const QDate to = m_to->date();
    if (from.isValid() && to.isValid() && from > to) {
        m_prompt.message(MsgKind::Error, QStringLiteral("Начало периода позже его конца"), PromptButton::Ok);
        return;
    }
    const Result<QList<AuditRecord>> found =
        m_log.query(from.isValid() ? QDateTime(from, QTime(0, 0)) : QDateTime(),
                    to.isValid() ? QDateTime(to, QTime(23, 59, 59, 999)) : QDateTime(),
                    m_tableBox->currentData().toString());
    if (!found) {
        m_prompt.message(MsgKind::Error, QStringLiteral("Не удалось прочитать журнал аудита\r\n") + found.error->text,
                         PromptButton::Ok);
        return;
    }
    m_model->reset([&] { m_records = found.value; });
    m_count->setText(QStringLiteral("Записей: %1").arg(m_records.size()));
}

QList<QStringList> AuditWindow::rows() const
{
    QList<QStringList> list;
    list.reserve(m_records.size());
    for (const AuditRecord &r : m_records)
        list.append(cells(r));
    return list;
}

bool AuditWindow::exportTo(const QString &path, const CsvFormat &format)
{
    const CsvResult written = exportRowsToCsv(titles(), rows(), path, {}, format);
    if (!written) {
        m_prompt.message(MsgKind::Error,
                         QStringLiteral("Не удалось записать файл ") + path + QStringLiteral("\r\n") + written.error->text,
                         PromptButton::Ok);
        return false;
    }
    return true;
}

void AuditWindow::exportCsv()
{
    CsvFormat format;
    const QString file = askCsvExportFile(this, QStringLiteral("Журнал аудита.csv"), m_settingsPath, format);
    if (!file.isEmpty())
        exportTo(file, format);
}

#include "records/ui/JournalTotals.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "records/CsvExport.h"
#include "records/ui/DateBox.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#if __has_include(<QPrinter>)
#include <QPrintDialog>
#include <QPrinter>
#define RUVO_PRINTING 1
#endif
#include <QPushButton>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

QString doseText(double dose)
{
    return QString::number(dose, 'f', 3);
}

} // namespace

const QString JournalTotals::Caption = QStringLiteral("Дозы по людям");

JournalTotals::JournalTotals(Journal &journal, const QDateTime &now, QWidget *parent)
    : QDialog(parent), m_journal(journal)
{
    setObjectName(QStringLiteral("TJournalTotals"));
    setWindowTitle(Caption);
    resize(520, 420);

    // Typed dates show as they are typed; the table follows each whole date.
    auto dateBox = [this](const char *name) {
        auto *d = new DateBox(this);
        d->setObjectName(QLatin1String(name));
        d->setEmptyAllowed(false);
        connect(d, &DateBox::valueChanged, this, &JournalTotals::refresh);
        return d;
    };
    m_from = dateBox("DateEdit_From");
    m_to = dateBox("DateEdit_To");
    auto *period = new QHBoxLayout;
    period->addWidget(new QLabel(QStringLiteral("Период с"), this));
    period->addWidget(m_from);
    period->addWidget(new QLabel(QStringLiteral("по"), this));
    period->addWidget(m_to);
    period->addStretch();

    m_table = new QTableWidget(0, 3, this);
    m_table->setObjectName(QStringLiteral("GridTotals"));
    m_table->setHorizontalHeaderLabels(titles());
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_sum = new QLabel(this);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *print = buttons->addButton(QStringLiteral("&Печать"), QDialogButtonBox::ActionRole);
    print->setObjectName(QStringLiteral("BtnPrint"));
    connect(print, &QPushButton::clicked, this, &JournalTotals::printClick);
    QPushButton *csv = buttons->addButton(QStringLiteral("&Экспорт в CSV"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("BtnExport"));
    connect(csv, &QPushButton::clicked, this, &JournalTotals::exportClick);
    QPushButton *close = buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnOk"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(period);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_sum);
    layout->addWidget(buttons);

    // The current month by default.
    setPeriod(QDate(now.date().year(), now.date().month(), 1), now.date());
}

QStringList JournalTotals::titles()
{
    return {QStringLiteral("ФИО"), QStringLiteral("Записей в журнале"), QStringLiteral("Доза, мкЗв")};
}

void JournalTotals::setPeriod(const QDate &from, const QDate &to)
{
    m_from->blockSignals(true);
    m_to->blockSignals(true);
    m_from->setDate(from);
    m_to->setDate(to);
    m_from->blockSignals(false);
    m_to->blockSignals(false);
    refresh();
}

QDateTime JournalTotals::periodStart() const
{
    return QDateTime(m_from->date(), QTime(0, 0));
}

QDateTime JournalTotals::periodEnd() const
{
    return QDateTime(m_to->date(), QTime(23, 59, 59, 999));
}

QList<QStringList> JournalTotals::rows() const
{
    QList<QStringList> lines;
    for (const Journal::PersonTotal &t : m_totals)
        lines.append({t.fio, QString::number(t.entries), doseText(t.dose)});
    return lines;
}

void JournalTotals::refresh()
{
    try {
        m_totals = m_journal.totalsByPerson(periodStart(), periodEnd());
    } catch (const ERuvoError &e) {
        m_totals.clear();
        activePrompt().message(MsgKind::Error, e.message(), PromptButton::Ok);
    }
    const QList<QStringList> lines = rows();
    m_table->setRowCount(lines.size());
    double sum = 0;
    for (int r = 0; r < lines.size(); ++r) {
        for (int c = 0; c < 3; ++c) {
            auto *item = new QTableWidgetItem(lines[r][c]);
            if (c > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(r, c, item);
        }
        sum += m_totals[r].dose;
    }
    m_sum->setText(QStringLiteral("Всего: ") + doseText(sum) + QStringLiteral(" мкЗв"));
}

QString JournalTotals::html() const
{
    QString h = QStringLiteral("<h3>") + Caption.toHtmlEscaped() + QStringLiteral(" с ")
        + m_from->date().toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral(" по ")
        + m_to->date().toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral("</h3>");
    h += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\"><tr>");
    for (const QString &t : titles())
        h += QStringLiteral("<th>") + t.toHtmlEscaped() + QStringLiteral("</th>");
    h += QStringLiteral("</tr>");
    for (const QStringList &line : rows()) {
        h += QStringLiteral("<tr><td>") + line[0].toHtmlEscaped() + QStringLiteral("</td><td align=\"right\">")
            + line[1] + QStringLiteral("</td><td align=\"right\">") + line[2] + QStringLiteral("</td></tr>");
    }
    h += QStringLiteral("</table><p>") + m_sum->text().toHtmlEscaped() + QStringLiteral("</p>");
    return h;
}

void JournalTotals::printTo(QPagedPaintDevice *device) const
{
    QTextDocument doc;
    doc.setHtml(html());
    doc.print(device);
}

bool JournalTotals::exportTo(const QString &path)
{
    const CsvResult r = exportRowsToCsv(titles(), rows(), path);
    if (!r.ok()) {
        activePrompt().message(MsgKind::Error, QStringLiteral("Не удалось записать файл ") + path + QStringLiteral("\r\n") + r.error,
                               PromptButton::Ok);
        return false;
    }
    return true;
}

void JournalTotals::exportClick()
{
    QFileDialog dialog(this, QStringLiteral("Экспорт в CSV"), QString(), QStringLiteral("CSV (*.csv)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("csv"));
    dialog.selectFile(QStringLiteral("Дозы по людям.csv"));
    if (activePrompt().runModal(&dialog, [&dialog] { return dialog.exec(); }) != QDialog::Accepted)
        return;
    const QStringList files = dialog.selectedFiles();
    if (!files.isEmpty())
        exportTo(files.first());
}

void JournalTotals::printClick()
{
#ifdef RUVO_PRINTING
    QPrinter printer;
    QPrintDialog dialog(&printer, this);
    if (activePrompt().runModal(&dialog, [&dialog] { return dialog.exec(); }) != QDialog::Accepted)
        return;
    printTo(&printer);
#endif
}

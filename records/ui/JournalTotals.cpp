#include "records/ui/JournalTotals.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "records/CsvExport.h"
#include "records/ui/DateBox.h"
#include "records/ui/CsvExportFile.h"
#include "records/ui/DoseCardWindow.h"

#include <QDialogButtonBox>
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

QString dayText(const QDate &day)
{
    return day.toString(QStringLiteral("dd.MM.yyyy"));
}

QDateTime dayStart(const QDate &day)
{
    return QDateTime(day, QTime(0, 0));
}

QDateTime dayEnd(const QDate &day)
{
    return QDateTime(day, QTime(23, 59, 59, 999));
}

} // namespace

const QString JournalTotals::Caption = QStringLiteral("Дозы по людям");

JournalTotals::JournalTotals(IPrompt &prompt, Journal &journal, const QDateTime &now, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_journal(journal)
{
    setObjectName(QStringLiteral("TJournalTotals"));
    setWindowTitle(Caption);
    resize(600, 440);

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

    m_table = new QTableWidget(0, titles().size(), this);
    m_table->setObjectName(QStringLiteral("GridTotals"));
    m_table->setHorizontalHeaderLabels(titles());
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < titles().size(); ++c)
        m_table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_sum = new QLabel(this);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *print = buttons->addButton(QStringLiteral("&Печать"), QDialogButtonBox::ActionRole);
    print->setObjectName(QStringLiteral("BtnPrint"));
    connect(print, &QPushButton::clicked, this, &JournalTotals::printTotals);
    QPushButton *csv = buttons->addButton(QStringLiteral("&Экспорт в CSV"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("BtnExport"));
    connect(csv, &QPushButton::clicked, this, &JournalTotals::exportCsv);
    QPushButton *card = buttons->addButton(QStringLiteral("&Карточка доз"), QDialogButtonBox::ActionRole);
    card->setObjectName(QStringLiteral("BtnDoseCard"));
    card->setToolTip(DoseCardWindow::Caption);
    connect(card, &QPushButton::clicked, this, &JournalTotals::showDoseCard);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &JournalTotals::showDoseCard);
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
    return {QStringLiteral("ФИО"), QStringLiteral("Записей в журнале"), QStringLiteral("Показаний"),
            QStringLiteral("Доза, мкЗв")};
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
    return dayStart(m_shownFrom);
}

QDateTime JournalTotals::periodEnd() const
{
    return dayEnd(m_shownTo);
}

QString JournalTotals::periodText() const
{
    return QStringLiteral("Период с ") + dayText(m_shownFrom) + QStringLiteral(" по ") + dayText(m_shownTo);
}

QList<QStringList> JournalTotals::rows() const
{
    QList<QStringList> lines;
    for (const PersonDose &p : m_totals.persons)
        lines.append({p.fio, QString::number(p.entries), QString::number(p.readings), doseText(p.dose)});
    return lines;
}

QList<QStringList> JournalTotals::summary() const
{
    int entries = m_totals.unnamed.entries;
    for (const PersonDose &p : m_totals.persons)
        entries += p.entries;
    return {
        {QStringLiteral("Записи журнала без ФИО"), QString::number(m_totals.unnamed.entries),
         QString::number(m_totals.unnamed.readings), doseText(m_totals.unnamed.dose)},
        {QStringLiteral("Показания вне записей журнала"), QString(), QString::number(m_totals.unboundReadings),
         doseText(m_totals.unboundDose)},
        {QStringLiteral("Всего за период"), QString::number(entries), QString::number(m_totals.readings),
         doseText(m_totals.dose)},
    };
}

void JournalTotals::refresh()
{
    Result<DoseAttribution> totals = m_journal.totals(dayStart(m_from->date()), dayEnd(m_to->date()));
    if (!totals)
        tell(m_prompt, *totals.error);
    if (totals.kind() == ErrorKind::Invalid) {
        // Refused: the dates go back to the figures shown.
        m_from->blockSignals(true);
        m_to->blockSignals(true);
        m_from->setDate(m_shownFrom);
        m_to->setDate(m_shownTo);
        m_from->blockSignals(false);
        m_to->blockSignals(false);
        return;
    }
    m_totals = totals.value;  // empty figures when the store failed
    m_shownFrom = m_from->date();
    m_shownTo = m_to->date();
    const QList<QStringList> lines = rows();
    m_table->setRowCount(lines.size());
    for (int r = 0; r < lines.size(); ++r) {
        for (int c = 0; c < lines[r].size(); ++c) {
            auto *item = new QTableWidgetItem(lines[r][c]);
            if (c > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(r, c, item);
        }
    }
    QStringList text;
    for (const QStringList &line : summary())
        text.append(line[0] + QStringLiteral(": показаний ") + line[2] + QStringLiteral(", доза ") + line[3]
                    + QStringLiteral(" мкЗв"));
    m_sum->setText(text.join(QLatin1Char('\n')));
}

QString JournalTotals::html() const
{
    QString h = QStringLiteral("<h3>") + Caption.toHtmlEscaped() + QStringLiteral("</h3><p>") + periodText().toHtmlEscaped()
        + QStringLiteral("</p>");
    h += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"4\"><tr>");
    for (const QString &t : titles())
        h += QStringLiteral("<th>") + t.toHtmlEscaped() + QStringLiteral("</th>");
    h += QStringLiteral("</tr>");
    const auto addRow = [&h](const QStringList &line, bool bold) {
        h += QStringLiteral("<tr>");
        for (int c = 0; c < line.size(); ++c) {
            h += c == 0 ? QStringLiteral("<td>") : QStringLiteral("<td align=\"right\">");
            h += bold ? QStringLiteral("<b>") + line[c].toHtmlEscaped() + QStringLiteral("</b>") : line[c].toHtmlEscaped();
            h += QStringLiteral("</td>");
        }
        h += QStringLiteral("</tr>");
    };
    for (const QStringList &line : rows())
        addRow(line, false);
    for (const QStringList &line : summary())
        addRow(line, true);
    h += QStringLiteral("</table>");
    return h;
}

void JournalTotals::printTo(QPagedPaintDevice *device) const
{
    QTextDocument doc;
    doc.setHtml(html());
    doc.print(device);
}

bool JournalTotals::exportTo(const QString &path, const CsvFormat &format)
{
    // The period first, then the people under their titles, then the
    // labelled lines after an empty one. The dose, the last cell, takes the
    // format's decimal mark.
    const auto withDecimal = [&format](QStringList line) {
        if (!line.isEmpty() && format.decimal != QLatin1Char('.'))
            line.last().replace(QLatin1Char('.'), format.decimal);
        return line;
    };
    CsvWriter writer(path, format);
    bool written = writer.open();
    if (written) {
        writer.writeRow({QStringLiteral("Период с"), dayText(m_shownFrom), QStringLiteral("по"), dayText(m_shownTo)});
        writer.writeRow(titles());
        for (const QStringList &line : rows())
            writer.writeRow(withDecimal(line));
        writer.writeRow({});
        for (const QStringList &line : summary())
            writer.writeRow(withDecimal(line));
        written = writer.commit();
    }
    if (!written) {
        m_prompt.message(MsgKind::Error,
                         QStringLiteral("Не удалось записать файл ") + path + QStringLiteral("\r\n") + writer.errorString(),
                         PromptButton::Ok);
        return false;
    }
    return true;
}

void JournalTotals::exportCsv()
{
    CsvFormat format;
    const QString file = askCsvExportFile(this, QStringLiteral("Дозы по людям.csv"), m_settingsPath, format);
    if (!file.isEmpty())
        exportTo(file, format);
}

void JournalTotals::printTotals()
{
#ifdef RUVO_PRINTING
    QPrinter printer;
    QPrintDialog dialog(&printer, this);
    if (m_prompt.runModal(&dialog, [&dialog] { return dialog.exec(); }) != QDialog::Accepted)
        return;
    printTo(&printer);
#endif
}

void JournalTotals::showDoseCard()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= m_totals.persons.size())
        return;
    DataModule &dm = m_journal.dataModule();
    DoseCardWindow::open(m_prompt, dm, DoseCardWindow::personOfName(dm, m_totals.persons[row].fio), m_shownTo, this,
                         m_settingsPath);
}

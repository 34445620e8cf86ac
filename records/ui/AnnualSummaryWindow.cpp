#include "records/ui/AnnualSummaryWindow.h"

#include "core/Prompt.h"
#include "records/ui/CsvExportFile.h"
#include "records/ui/DoseReport.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBrowser>
#include <QVBoxLayout>

const QString AnnualSummaryWindow::Caption = QStringLiteral("Годовая сводка доз");

AnnualSummaryWindow::AnnualSummaryWindow(IPrompt &prompt, DataModule &dm, int year, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_dm(dm)
{
    setObjectName(QStringLiteral("TAnnualSummary"));
    setWindowTitle(Caption);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    resize(900, 640);

    m_year = new QSpinBox(this);
    m_year->setObjectName(QStringLiteral("SummaryYear"));
    m_year->setRange(1990, 9999);
    m_year->setValue(year);
    m_year->setKeyboardTracking(false);
    connect(m_year, &QSpinBox::valueChanged, this, &AnnualSummaryWindow::refresh);
    auto *top = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("&Год:"), this);
    label->setBuddy(m_year);
    top->addWidget(label);
    top->addWidget(m_year);
    top->addStretch();

    m_text = new QTextBrowser(this);
    m_text->setObjectName(QStringLiteral("SummaryText"));

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *print = buttons->addButton(QStringLiteral("&Печать"), QDialogButtonBox::ActionRole);
    print->setObjectName(QStringLiteral("BtnPrint"));
    connect(print, &QPushButton::clicked, this, &AnnualSummaryWindow::printSummary);
    QPushButton *pdf = buttons->addButton(QStringLiteral("Сохранить в P&DF"), QDialogButtonBox::ActionRole);
    pdf->setObjectName(QStringLiteral("BtnPdf"));
    connect(pdf, &QPushButton::clicked, this, &AnnualSummaryWindow::askPdf);
    QPushButton *csv = buttons->addButton(QStringLiteral("&Экспорт в CSV"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("BtnExport"));
    connect(csv, &QPushButton::clicked, this, &AnnualSummaryWindow::askCsv);
    QPushButton *close = buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnOk"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_text, 1);
    layout->addWidget(buttons);
    refresh();
}

void AnnualSummaryWindow::setYear(int year)
{
    if (m_year->value() == year)
        refresh();
    else
        m_year->setValue(year);
}

void AnnualSummaryWindow::refresh()
{
    Result<AnnualSummary> s = AnnualSummary::compute(m_dm, m_year->value());
    if (!s) {
        tell(m_prompt, *s.error);
        return;
    }
    m_summary = std::move(s.value);
    m_text->setHtml(html());
}

QString AnnualSummaryWindow::html() const
{
    return DoseReport::summaryHtml(m_summary);
}

Result<> AnnualSummaryWindow::savePdf(const QString &path) const
{
    return DoseReport::savePdf(path, Caption + QStringLiteral(" ") + QString::number(m_summary.year), html());
}

Result<> AnnualSummaryWindow::exportCsv(const QString &path, const CsvFormat &format) const
{
    return m_summary.exportCsv(path, format);
}

void AnnualSummaryWindow::printSummary()
{
    DoseReport::printWithDialog(this, html());
}

void AnnualSummaryWindow::askPdf()
{
    const QString file = DoseReport::askPdfFile(this, Caption + QStringLiteral(" ") + QString::number(m_summary.year) + QStringLiteral(".pdf"));
    if (file.isEmpty())
        return;
    if (const Result<> saved = savePdf(file); !saved)
        tell(m_prompt, *saved.error);
}

void AnnualSummaryWindow::askCsv()
{
    CsvFormat format;
    const QString file = askCsvExportFile(this, Caption + QStringLiteral(" ") + QString::number(m_summary.year) + QStringLiteral(".csv"),
                                          m_settingsPath, format);
    if (file.isEmpty())
        return;
    if (const Result<> written = exportCsv(file, format); !written)
        tell(m_prompt, *written.error);
}

#include "records/ui/DoseCardWindow.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "records/DataModule.h"
#include "records/ui/CsvExportFile.h"
#include "records/ui/DoseReport.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

const QSize PrintedChart(640, 360);

} // namespace

const QString DoseCardWindow::Caption = QStringLiteral("Карточка индивидуальных доз");

DoseCardWindow::DoseCardWindow(IPrompt &prompt, DoseCard card, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_card(std::move(card))
{
    setObjectName(QStringLiteral("TDoseCard"));
    setWindowTitle(Caption + QStringLiteral(" — ") + m_card.person.fio);
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    resize(900, 760);

    m_text = new QTextBrowser(this);
    m_text->setObjectName(QStringLiteral("CardText"));

    m_year = new QComboBox(this);
    m_year->setObjectName(QStringLiteral("ChartYear"));
    for (int y = m_card.lastYear; y >= m_card.firstYear; --y)
        m_year->addItem(QString::number(y), y);
    m_chart = new QChartView(this);
    m_chart->setObjectName(QStringLiteral("DoseChart"));
    m_chart->setRenderHint(QPainter::Antialiasing);
    m_chart->setMinimumHeight(260);
    auto *chartBox = new QWidget(this);
    auto *yearLine = new QHBoxLayout;
    auto *yearLabel = new QLabel(QStringLiteral("&Год графика:"), chartBox);
    yearLabel->setBuddy(m_year);
    yearLine->addWidget(yearLabel);
    yearLine->addWidget(m_year);
    yearLine->addStretch();
    auto *chartLayout = new QVBoxLayout(chartBox);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->addLayout(yearLine);
    chartLayout->addWidget(m_chart, 1);
    connect(m_year, &QComboBox::currentIndexChanged, this, [this] { setChartYear(chartYear()); });

    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_text);
    split->addWidget(chartBox);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto *buttons = new QDialogButtonBox(this);
    QPushButton *print = buttons->addButton(QStringLiteral("&Печать"), QDialogButtonBox::ActionRole);
    print->setObjectName(QStringLiteral("BtnPrint"));
    connect(print, &QPushButton::clicked, this, &DoseCardWindow::printCard);
    QPushButton *pdf = buttons->addButton(QStringLiteral("Сохранить в P&DF"), QDialogButtonBox::ActionRole);
    pdf->setObjectName(QStringLiteral("BtnPdf"));
    connect(pdf, &QPushButton::clicked, this, &DoseCardWindow::askPdf);
    QPushButton *csv = buttons->addButton(QStringLiteral("&Экспорт в CSV"), QDialogButtonBox::ActionRole);
    csv->setObjectName(QStringLiteral("BtnExport"));
    connect(csv, &QPushButton::clicked, this, &DoseCardWindow::askCsv);
    QPushButton *close = buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnOk"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(split, 1);
    layout->addWidget(buttons);

    // On screen the document shows without its chart: the chart is below.
    QString screen = DoseReport::cardHtml(m_card);
    screen.replace(QRegularExpression(QStringLiteral("<p align=\"center\"><img [^>]*></p>")), QString());
    m_text->setHtml(screen);
    setChartYear(m_card.lastYear);
}

void DoseCardWindow::open(IPrompt &prompt, DataModule &dm, const QString &personKey, const QDate &asOf, QWidget *parent,
                          const QString &settingsPath)
{
    if (personKey.isEmpty()) {
        prompt.message(MsgKind::Information, QStringLiteral("Не выбран человек"), PromptButton::Ok);
        return;
    }
    Result<DoseCard> card = DoseCard::compute(dm, personKey, asOf);
    if (!card) {
        tell(prompt, *card.error);
        return;
    }
    DoseCardWindow window(prompt, std::move(card.value), parent);
    window.setSettingsPath(settingsPath);
    prompt.runModal(&window, [&window] { return window.exec(); });
}

QString DoseCardWindow::personOfName(DataModule &dm, const QString &journalName)
{
    try {
        PersonDirectory &dir = PersonDirectory::of(dm);
        dir.refresh();
        return dir.personOf(journalName);
    } catch (const ERuvoError &) {
        return QString();
    }
}

int DoseCardWindow::chartYear() const
{
    return m_year->currentData().isValid() ? m_year->currentData().toInt() : m_card.lastYear;
}

void DoseCardWindow::setChartYear(int year)
{
    const int at = m_year->findData(year);
    if (at >= 0 && at != m_year->currentIndex()) {
        m_year->setCurrentIndex(at);  // comes back here
        return;
    }
    QChart *old = m_chart->chart();
    m_chart->setChart(DoseReport::cardChart(m_card, year));
    delete old;
}

QString DoseCardWindow::html() const
{
    return DoseReport::cardHtml(m_card);
}

QImage DoseCardWindow::chartImage() const
{
    return DoseReport::chartImage(m_card, chartYear(), PrintedChart);
}

Result<> DoseCardWindow::savePdf(const QString &path) const
{
    return DoseReport::savePdf(path, Caption + QStringLiteral(": ") + m_card.person.fio, html(), chartImage());
}

Result<> DoseCardWindow::exportCsv(const QString &path, const CsvFormat &format) const
{
    return m_card.exportCsv(path, format);
}

QString DoseCardWindow::fileStem() const
{
    QString name = m_card.person.fio;
    name.replace(QRegularExpression(QStringLiteral("[\\\\/:*?\"<>|]")), QStringLiteral("_"));
    return QStringLiteral("Карточка доз ") + name;
}

void DoseCardWindow::printCard()
{
    DoseReport::printWithDialog(this, html(), chartImage());
}

void DoseCardWindow::askPdf()
{
    const QString file = DoseReport::askPdfFile(this, fileStem() + QStringLiteral(".pdf"));
    if (file.isEmpty())
        return;
    if (const Result<> saved = savePdf(file); !saved)
        tell(m_prompt, *saved.error);
}

void DoseCardWindow::askCsv()
{
    CsvFormat format;
    const QString file = askCsvExportFile(this, fileStem() + QStringLiteral(".csv"), m_settingsPath, format);
    if (file.isEmpty())
        return;
    if (const Result<> written = exportCsv(file, format); !written)
        tell(m_prompt, *written.error);
}

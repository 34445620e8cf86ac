#include "records/ui/DoseReport.h"

#include "core/Prompt.h"
#include "records/AnnualSummary.h"
#include "records/DoseCard.h"
#include "records/DoseText.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QFileDialog>
#include <QLineSeries>
#include <QPageSize>
#include <QPainter>
#include <QPen>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>
#include <QValueAxis>
#if __has_include(<QPrinter>)
#include <QPrintDialog>
#include <QPrinter>
#define RUVO_PRINTING 1
#endif
#include <algorithm>

namespace {

const QString ChartName = QStringLiteral("chart.png");
const char *const MonthTitles[] = {"январь", "февраль", "март", "апрель", "май", "июнь", "июль", "август",
                                   "сентябрь", "октябрь", "ноябрь", "декабрь"};
const char *const MonthShort[] = {"янв", "фев", "мар", "апр", "май", "июн", "июл", "авг", "сен", "окт", "ноя", "дек"};
const char *const Quarters[] = {"I", "II", "III", "IV"};

QString esc(const QString &s)
{
    return s.toHtmlEscaped();
}

QString sum(double v)
{
    return esc(DoseText::format(v));
}

QString optionalSum(const std::optional<double> &v)
{
    return v ? sum(*v) : QStringLiteral("—");
}

// A dose cell, red when over the limit, bold when over the investigation level.
QString doseCell(double v, const std::optional<double> &limit, const std::optional<double> &investigation)
{
    QString text = sum(v);
    if (limit && v > *limit)
        text = QStringLiteral("<font color=\"#c00000\"><b>") + text + QStringLiteral("</b></font>");
    else if (investigation && v > *investigation)
        text = QStringLiteral("<font color=\"#b06000\"><b>") + text + QStringLiteral("</b></font>");
    return QStringLiteral("<td align=\"right\">") + text + QStringLiteral("</td>");
}

QString cell(const QString &text, bool right = false)
{
    return (right ? QStringLiteral("<td align=\"right\">") : QStringLiteral("<td>")) + esc(text) + QStringLiteral("</td>");
}

QString header(const QStringList &titles)
{
    QString h = QStringLiteral("<tr>");
    for (const QString &t : titles)
        h += QStringLiteral("<th bgcolor=\"#e8e8e8\">") + esc(t) + QStringLiteral("</th>");
    return h + QStringLiteral("</tr>");
}

const QString TableStart = QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\">");

QString timeText(const QDateTime &t)
{
    return t.isNull() ? QString() : t.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

QString levelSource(const AppliedLevel &l)
{
    if (l.fromDefault)
        return QStringLiteral("по умолчанию");
    switch (l.scope) {
    case LevelScope::All: return QStringLiteral("для всех");
    case LevelScope::SubDiv: return QStringLiteral("для подразделения");
    case LevelScope::Person: return QStringLiteral("личный");
    }
    return {};
}

QString checkRow(const QString &what, const DoseCardCheck &c)
{
    QString state = QStringLiteral("в пределах уровней");
    if (c.overLimit())
        state = QStringLiteral("превышен предел");
    else if (c.overInvestigation())
        state = QStringLiteral("превышен уровень расследования");
    return QStringLiteral("<tr>") + cell(what) + cell(DosePeriods::describe(c.period)) + doseCell(c.dose, c.limit, c.investigation)
        + QStringLiteral("<td align=\"right\">") + optionalSum(c.limit) + QStringLiteral("</td><td align=\"right\">")
        + optionalSum(c.investigation) + QStringLiteral("</td>") + cell(state) + QStringLiteral("</tr>");
}

} // namespace

namespace DoseReport {

QChart *cardChart(const DoseCard &card, int year)
{
    const QList<DoseCardMonth> months = card.monthsOf(year);
    auto *chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setTitle(QStringLiteral("Дозы по месяцам за %1 год, мЗв").arg(year));
    auto *bars = new QBarSet(QStringLiteral("за месяц"));
    bars->setColor(QColor(0x4f, 0x81, 0xbd));
    auto *running = new QLineSeries;
    running->setName(QStringLiteral("с начала года"));
    running->setPen(QPen(QColor(0x20, 0x20, 0x20), 2));
    double top = 0;
    double sinceJanuary = 0;
    for (int m = 0; m < 12; ++m) {
        const double dose = m < months.size() ? months[m].dose / 1000.0 : 0;
        sinceJanuary += dose;
        bars->append(dose);
        running->append(m, sinceJanuary);
        top = std::max(top, sinceJanuary);
    }
    auto *series = new QBarSeries;
    series->append(bars);
    chart->addSeries(series);
    chart->addSeries(running);

    // The year's levels: the lower one always shows, the other when the
    // doses come near it.
    struct Level {
        std::optional<double> value;
        QString name;
        QColor color;
    };
    const Level levels[] = {
        {card.level(DosePeriod::Year, LevelKind::Investigation), QStringLiteral("уровень расследования за год"),
         QColor(0xd0, 0x80, 0x00)},
        {card.level(DosePeriod::Year, LevelKind::Limit), QStringLiteral("предел за год"), QColor(0xc0, 0x00, 0x00)},
    };
    double lowest = 0;
    for (const Level &l : levels) {
        if (l.value && (lowest == 0 || *l.value / 1000.0 < lowest))
            lowest = *l.value / 1000.0;
    }
    const double axisTop = std::max({top, lowest, 0.001}) * 1.15;
    QList<QLineSeries *> levelLines;
    for (const Level &l : levels) {
        if (!l.value || *l.value / 1000.0 > axisTop)
            continue;
        auto *line = new QLineSeries;
        line->setName(l.name + QStringLiteral(" (") + DoseText::format(*l.value) + QStringLiteral(")"));
        line->setPen(QPen(l.color, 2, Qt::DashLine));
        line->append(-0.5, *l.value / 1000.0);
        line->append(11.5, *l.value / 1000.0);
        chart->addSeries(line);
        levelLines.append(line);
    }

    auto *x = new QBarCategoryAxis;
    for (const char *m : MonthShort)
        x->append(QString::fromUtf8(m));
    auto *y = new QValueAxis;
    y->setRange(0, axisTop);
    y->setLabelFormat(QStringLiteral("%.2f"));
    y->setTitleText(DoseText::milliUnit());
    y->applyNiceNumbers();
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    running->attachAxis(x);
    running->attachAxis(y);
    for (QLineSeries *line : levelLines) {
        line->attachAxis(x);
        line->attachAxis(y);
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}

QImage chartImage(const DoseCard &card, int year, const QSize &size)
{
    // Drawn at twice the resolution, so the printed page stays sharp.
    QChartView view(cardChart(card, year));
    view.setRenderHint(QPainter::Antialiasing);
    view.resize(size);
    QImage image(size * 2, QImage::Format_ARGB32);
    image.setDevicePixelRatio(2);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    view.chart()->setGeometry(QRectF(QPointF(0, 0), size));
    view.scene()->setSceneRect(QRectF(QPointF(0, 0), size));
    view.scene()->render(&painter, QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size));
    return image;
}

QString cardHtml(const DoseCard &c)
{
    QString h = QStringLiteral("<h2>Карточка индивидуальных доз</h2>");
    h += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\">");
    const auto field = [&h](const QString &name, const QString &value) {
        h += QStringLiteral("<tr><td>") + esc(name) + QStringLiteral(":</td><td><b>") + esc(value) + QStringLiteral("</b></td></tr>");
    };
    field(QStringLiteral("ФИО"), c.person.fio);
    if (c.card) {
        field(QStringLiteral("Таб. номер"), c.card->id.toString());
        field(QStringLiteral("Метка"), c.card->label);
        if (!c.card->birthDay.isNull() && !CardIndex::isMissingDate(c.card->birthDay))
            field(QStringLiteral("Дата рождения"), c.card->birthDay.toString(QStringLiteral("dd.MM.yyyy")));
        field(QStringLiteral("Должность"), c.card->vacancy);
        field(QStringLiteral("Подразделение"), c.card->subDiv);
    } else {
        field(QStringLiteral("Карточка"), QStringLiteral("нет (человек известен по журналу)"));
    }
    field(QStringLiteral("Группа"), DoseCard::groupTitle(c.settings.group));
    if (!c.settings.pregnantFrom.isNull())
        field(QStringLiteral("Объявленная беременность"),
              QStringLiteral("с ") + c.settings.pregnantFrom.toString(QStringLiteral("dd.MM.yyyy"))
                  + (c.settings.pregnantTo.isNull() ? QString()
                                                    : QStringLiteral(" по ") + c.settings.pregnantTo.toString(QStringLiteral("dd.MM.yyyy"))));
    field(QStringLiteral("По состоянию на"), c.asOf.toString(QStringLiteral("dd.MM.yyyy")));
    field(QStringLiteral("Всего с %1 года").arg(c.firstYear),
          DoseText::format(c.total) + QStringLiteral(", показаний: ") + QString::number(c.readings));
    h += QStringLiteral("</table>");

    // Against the levels.
    h += QStringLiteral("<h3>Дозы и контрольные уровни</h3>") + TableStart
        + header({QStringLiteral("Период"), QString(), QStringLiteral("Доза"), QStringLiteral("Предел"),
                  QStringLiteral("Уровень расследования"), QStringLiteral("Состояние")});
    h += checkRow(QStringLiteral("Год"), c.yearCheck(c.lastYear));
    h += checkRow(QStringLiteral("Пять лет подряд"), c.fiveYears);
    if (c.pregnancy)
        h += checkRow(QStringLiteral("Беременность"), *c.pregnancy);
    h += QStringLiteral("</table>");
    h += QStringLiteral("<p>Действующие уровни: ");
    QStringList levels;
    for (const AppliedLevel &l : c.levels)
        levels.append(DosePeriods::title(l.period) + QStringLiteral(", ") + DoseLevels::kindTitle(l.kind) + QStringLiteral(" ")
                      + DoseText::format(l.value, l.period == DosePeriod::Reading ? DoseShown::Reading : DoseShown::Sum)
                      + QStringLiteral(" (") + levelSource(l) + QStringLiteral(")"));
    h += esc(levels.join(QStringLiteral("; "))) + QStringLiteral(".</p>");

    // The chart of the year shown.
    h += QStringLiteral("<p align=\"center\"><img src=\"%1\" width=\"480\"></p>").arg(ChartName);

    // Months, quarters, years.
    const std::optional<double> monthLimit = c.level(DosePeriod::Month, LevelKind::Limit);
    const std::optional<double> monthInvestigation = c.level(DosePeriod::Month, LevelKind::Investigation);
    const std::optional<double> quarterLimit = c.level(DosePeriod::Quarter, LevelKind::Limit);
    const std::optional<double> quarterInvestigation = c.level(DosePeriod::Quarter, LevelKind::Investigation);
    const std::optional<double> yearLimit = c.level(DosePeriod::Year, LevelKind::Limit);
    const std::optional<double> yearInvestigation = c.level(DosePeriod::Year, LevelKind::Investigation);
    h += QStringLiteral("<h3>Дозы по месяцам</h3>") + TableStart
        + header({QStringLiteral("Период"), QStringLiteral("Показаний"), QStringLiteral("Доза"),
                  QStringLiteral("Нарастающим итогом")});
    for (const DoseCardYear &y : c.years) {
        const QList<DoseCardMonth> months = c.monthsOf(y.year);
        for (int m = 0; m < months.size(); ++m) {
            const DoseCardMonth &month = months[m];
            h += QStringLiteral("<tr>") + cell(QString::fromUtf8(MonthTitles[m]) + QStringLiteral(" ") + QString::number(y.year))
                + cell(QString::number(month.readings), true) + doseCell(month.dose, monthLimit, monthInvestigation)
                + cell(DoseText::format(month.running), true) + QStringLiteral("</tr>");
            if (m % 3 == 2) {
                h += QStringLiteral("<tr bgcolor=\"#f2f2f2\"><td><i>%1 квартал %2</i></td><td></td>")
                         .arg(QLatin1String(Quarters[m / 3]))
                         .arg(y.year)
                    + doseCell(y.quarters[m / 3], quarterLimit, quarterInvestigation) + QStringLiteral("<td></td></tr>");
            }
        }
        h += QStringLiteral("<tr bgcolor=\"#e0e0e0\"><td><b>%1 год</b></td>").arg(y.year) + cell(QString::number(y.readings), true)
            + doseCell(y.dose, yearLimit, yearInvestigation) + cell(DoseText::format(y.running), true) + QStringLiteral("</tr>");
    }
    h += QStringLiteral("</table>");

    h += QStringLiteral("<h3>Дозиметры</h3>") + TableStart
        + header({QStringLiteral("Дозиметр"), QStringLiteral("Выдан"), QStringLiteral("Сдан")});
    for (const DoseCardDosimeter &d : c.dosimeters)
        h += QStringLiteral("<tr>") + cell(QString::number(d.id), true) + cell(timeText(d.from))
            + cell(d.open ? QStringLiteral("не сдан") : timeText(d.to)) + QStringLiteral("</tr>");
    h += QStringLiteral("</table>");

    h += QStringLiteral("<h3>Оповещения</h3>");
    if (c.alerts.isEmpty()) {
        h += QStringLiteral("<p>Нет.</p>");
    } else {
        h += TableStart + header({QStringLiteral("Время"), QStringLiteral("Оповещение"), QStringLiteral("Состояние")});
        for (const DoseAlert &a : c.alerts) {
            QString state = QStringLiteral("не принято");
            if (!a.standing())
                state = QStringLiteral("снято ") + timeText(a.withdrawn) + QStringLiteral(": ") + a.withdrawReason;
            else if (a.acknowledged())
                state = QStringLiteral("принято ") + timeText(a.ackTime) + QStringLiteral(", ") + a.ackBy
                    + (a.ackComment.isEmpty() ? QString() : QStringLiteral(": ") + a.ackComment);
            h += QStringLiteral("<tr>") + cell(timeText(a.raised)) + cell(a.text()) + cell(state) + QStringLiteral("</tr>");
        }
        h += QStringLiteral("</table>");
    }
    return h;
}

QString summaryHtml(const AnnualSummary &s)
{
    QString h = QStringLiteral("<h2>Годовая сводка доз за %1 год</h2>").arg(s.year);
    QStringList bandTitles{QStringLiteral("Человек")};
    for (int b = 0; b < AnnualSummary::BandCount; ++b)
        bandTitles.append(AnnualSummary::bandTitle(b));
    bandTitles << QStringLiteral("Средняя доза") << QStringLiteral("Наибольшая доза");
    const auto bandRow = [](const QString &title, const AnnualSummary::Section &sec) {
        QString r = QStringLiteral("<tr>") + cell(title) + cell(QString::number(sec.persons.size()), true);
        for (int b = 0; b < AnnualSummary::BandCount; ++b)
            r += cell(QString::number(sec.bands[b]), true);
        r += cell(DoseText::format(sec.mean), true)
            + cell(DoseText::format(sec.largest) + (sec.largestFio.isEmpty() ? QString() : QStringLiteral(" (") + sec.largestFio + QStringLiteral(")")), true);
        return r + QStringLiteral("</tr>");
    };
    h += QStringLiteral("<h3>Распределение по дозам</h3>") + TableStart + header(QStringList{QStringLiteral("Подразделение, группа")} + bandTitles);
    for (const AnnualSummary::Section &sec : s.sections)
        h += bandRow(AnnualSummary::sectionTitle(sec), sec);
    h += bandRow(QStringLiteral("Всего"), s.everyone).replace(QStringLiteral("<tr>"), QStringLiteral("<tr bgcolor=\"#e0e0e0\">"));
    h += QStringLiteral("</table>");
    h += QStringLiteral("<p>Границы интервалов включены в нижний из них: доза ровно 5 мЗв относится к интервалу 1–5 мЗв.</p>");

    for (const AnnualSummary::Section &sec : s.sections) {
        h += QStringLiteral("<h3>") + esc(AnnualSummary::sectionTitle(sec)) + QStringLiteral("</h3>") + TableStart
            + header({QStringLiteral("ФИО"), QStringLiteral("Показаний"), QStringLiteral("Доза за год")});
        for (const AnnualSummary::Person &p : sec.persons)
            h += QStringLiteral("<tr>") + cell(p.person.fio) + cell(QString::number(p.readings), true)
                + cell(DoseText::format(p.dose), true) + QStringLiteral("</tr>");
        h += QStringLiteral("</table>");
    }
    return h;
}

void print(QPagedPaintDevice *device, const QString &html, const QImage &chart)
{
    QTextDocument doc;
    doc.setDefaultStyleSheet(QStringLiteral("body { font-size: 9pt; } th { font-weight: bold; }"));
    if (!chart.isNull())
        doc.addResource(QTextDocument::ImageResource, QUrl(ChartName), chart);
    doc.setHtml(html);
    doc.print(device);
}

Result<> savePdf(const QString &path, const QString &title, const QString &html, const QImage &chart)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Error{ErrorKind::Io, QStringLiteral("Не удалось записать файл ") + path + QStringLiteral("\r\n") + file.errorString()};
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("RUVO - Монитор"));
        print(&writer, html, chart);
    }
    if (file.size() == 0 || !file.commit())
        return Error{ErrorKind::Io, QStringLiteral("Не удалось записать файл ") + path + QStringLiteral("\r\n") + file.errorString()};
    return {};
}

bool printWithDialog(QWidget *parent, const QString &html, const QImage &chart)
{
#ifdef RUVO_PRINTING
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, parent);
    if (activePrompt().runModal(&dialog, [&dialog] { return dialog.exec(); }) != QDialog::Accepted)
        return false;
    print(&printer, html, chart);
    return true;
#else
    Q_UNUSED(parent);
    Q_UNUSED(html);
    Q_UNUSED(chart);
    return false;
#endif
}

QString askPdfFile(QWidget *parent, const QString &suggestedName)
{
    QFileDialog files(parent, QStringLiteral("Сохранить в PDF"), QString(), QStringLiteral("Файлы PDF (*.pdf);;Все файлы (*)"));
    files.setObjectName(QStringLiteral("PdfFile"));
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setFileMode(QFileDialog::AnyFile);
    files.setDefaultSuffix(QStringLiteral("pdf"));
    files.setOption(QFileDialog::DontUseNativeDialog);
    files.selectFile(suggestedName);
    if (activePrompt().runModal(&files, [&files] { return files.exec(); }) != QDialog::Accepted
        || files.selectedFiles().isEmpty())
        return QString();
    return files.selectedFiles().first();
}

} // namespace DoseReport

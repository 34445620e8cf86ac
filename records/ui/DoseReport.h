#pragma once
// The printed form of the dose card and the annual summary: one document,
// built from the headless data as HTML with the card's chart as an image,
// laid out on whatever paged device it goes to, so the printer and the PDF
// file get the same pages. Also the card's chart (Qt Charts) and the file
// dialog of a PDF.

#include "core/Result.h"

#include <QImage>
#include <QString>

struct AnnualSummary;
struct DoseCard;
class QChart;
class QPagedPaintDevice;
class QWidget;

namespace DoseReport {

// The chart of a year's monthly doses (bars), their sum since January (a
// line) and the year's levels (flat lines), in mSv. The caller owns it.
QChart *cardChart(const DoseCard &card, int year);
// The chart drawn on an image of the given size (for the document), at
// twice its resolution.
QImage chartImage(const DoseCard &card, int year, const QSize &size);

// The documents; the card's shows `chart` (empty: no chart) under the
// month table.
QString cardHtml(const DoseCard &card);
QString summaryHtml(const AnnualSummary &summary);

// Lays the document out on the device's pages and paints it.
void print(QPagedPaintDevice *device, const QString &html, const QImage &chart = QImage());
// The same pages in a PDF file (A4), written whole or not at all.
Result<> savePdf(const QString &path, const QString &title, const QString &html, const QImage &chart = QImage());
// The print dialog (through the prompt) and the pages; false when nothing
// was printed (cancelled, or no printing on this platform).
bool printWithDialog(QWidget *parent, const QString &html, const QImage &chart = QImage());
// The file dialog of a PDF (object name "PdfFile", through the prompt):
// the chosen file or empty.
QString askPdfFile(QWidget *parent, const QString &suggestedName);

} // namespace DoseReport

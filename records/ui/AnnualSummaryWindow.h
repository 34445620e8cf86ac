#pragma once
// "Годовая сводка доз" (TAnnualSummary): for a chosen year, per subdivision
// and group, each person's dose, the number of people in the dose bands and
// the mean and largest dose (records/AnnualSummary.h); printed, saved as PDF
// and exported as CSV. A year the store cannot sum is told and the figures
// shown stay.

#include "records/AnnualSummary.h"

#include <QDialog>

class DataModule;
class IPrompt;
class QSpinBox;
class QTextBrowser;

class AnnualSummaryWindow : public QDialog {
    Q_OBJECT
public:
    static const QString Caption;  // "Годовая сводка доз"

    AnnualSummaryWindow(IPrompt &prompt, DataModule &dm, int year, QWidget *parent = nullptr);

    void setYear(int year);
    const AnnualSummary &summary() const { return m_summary; }
    QString html() const;
    Result<> savePdf(const QString &path) const;
    Result<> exportCsv(const QString &path, const CsvFormat &format = {}) const;
    void setSettingsPath(const QString &path) { m_settingsPath = path; }

private:
    void refresh();
    void printSummary();
    void askPdf();
    void askCsv();

    IPrompt &m_prompt;
    DataModule &m_dm;
    QString m_settingsPath;
    QSpinBox *m_year = nullptr;
    QTextBrowser *m_text = nullptr;
    AnnualSummary m_summary;
};

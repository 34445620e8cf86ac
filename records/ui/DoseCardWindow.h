#pragma once
// "Карточка индивидуальных доз" (TDoseCard): the personal dose card of one
// person (records/DoseCard.h) as a document, with the chart of one year's
// monthly doses against the year's levels; printed, saved as PDF and
// exported as CSV. Opened from the card index, the journal and "Дозы по
// людям" through open(), which tells the operator when there is no card to
// show.

#include "records/DoseCard.h"

#include <QDate>
#include <QDialog>

class DataModule;
class IPrompt;
class QChartView;
class QComboBox;
class QTextBrowser;

class DoseCardWindow : public QDialog {
    Q_OBJECT
public:
    static const QString Caption;  // "Карточка индивидуальных доз"

    DoseCardWindow(IPrompt &prompt, DoseCard card, QWidget *parent = nullptr);

    // Computes the person's card as of the day and shows it modally; an
    // unknown person or a failed store is told and nothing opens.
    // settingsPath: where the CSV separator chosen last is kept.
    static void open(IPrompt &prompt, DataModule &dm, const QString &personKey, const QDate &asOf, QWidget *parent,
                     const QString &settingsPath = QString());
    // The person of a journal name (an empty key for a blank name).
    static QString personOfName(DataModule &dm, const QString &journalName);

    const DoseCard &card() const { return m_card; }
    int chartYear() const;
    void setChartYear(int year);
    QChartView *chartView() const { return m_chart; }

    // The printed document (the chart of chartYear() in it).
    QString html() const;
    QImage chartImage() const;
    Result<> savePdf(const QString &path) const;
    Result<> exportCsv(const QString &path, const CsvFormat &format = {}) const;
    void setSettingsPath(const QString &path) { m_settingsPath = path; }

private:
    void printCard();
    void askPdf();
    void askCsv();
    QString fileStem() const;

    IPrompt &m_prompt;
    DoseCard m_card;
    QString m_settingsPath;
    QTextBrowser *m_text = nullptr;
    QComboBox *m_year = nullptr;
    QChartView *m_chart = nullptr;
};

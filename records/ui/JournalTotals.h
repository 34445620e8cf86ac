#pragma once
// "Дозы по людям": the dose per person over a chosen period, summed from the
// readings (Journal::totals), shown in a table with the readings of entries
// without a name and of no entry on lines of their own, printable and
// exportable as CSV (UTF-8); the printout and the file begin with the period.
// A period that ends before it begins is refused and the figures shown stay.

#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QStringList>

#include "records/CsvExport.h"
#include "records/Journal.h"

class DateBox;
class IPrompt;
class QLabel;
class QPagedPaintDevice;
class QTableWidget;

class JournalTotals : public QDialog {
    Q_OBJECT
public:
    static const QString Caption;  // "Дозы по людям"

    JournalTotals(IPrompt &prompt, Journal &journal, const QDateTime &now, QWidget *parent = nullptr);

    // Sets both dates; a reversed period is refused (told, nothing changes).
    void setPeriod(const QDate &from, const QDate &to);
    // The period of the figures shown: its first day's start, its last day's end.
    QDateTime periodStart() const;
    QDateTime periodEnd() const;
    const DoseAttribution &totals() const { return m_totals; }

    static QStringList titles();
    QString periodText() const;        // "Период с dd.MM.yyyy по dd.MM.yyyy"
    QList<QStringList> rows() const;   // the people, as shown and exported
    QList<QStringList> summary() const;  // the labelled lines under them
    QString html() const;              // the printed page
    // The file in the given format (separator and decimal mark); false:
    // told the operator why.
    bool exportTo(const QString &path, const CsvFormat &format = {});
    // Where the separator chosen for exports is kept (empty: not kept).
    void setSettingsPath(const QString &path) { m_settingsPath = path; }
    void printTo(QPagedPaintDevice *device) const;
    // "Карточка доз": the personal dose card of the selected person, as of
    // the period's last day.
    void showDoseCard();

private:
    void refresh();
    void exportCsv();
    void printTotals();

    IPrompt &m_prompt;
    Journal &m_journal;
    DateBox *m_from = nullptr;
    DateBox *m_to = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_sum = nullptr;
    QDate m_shownFrom;
    QDate m_shownTo;
    DoseAttribution m_totals;
    QString m_settingsPath;
};

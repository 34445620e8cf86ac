#pragma once
// "Дозы по людям": the total dose per person over a chosen period, summed
// from the journal entries' totals (Journal::totalsByPerson), shown in a
// table, printable and exportable as CSV (UTF-8, with the column titles).

#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QStringList>

#include "records/Journal.h"

class DateBox;
class QLabel;
class QPagedPaintDevice;
class QTableWidget;

class JournalTotals : public QDialog {
    Q_OBJECT
public:
    static const QString Caption;  // "Дозы по людям"

    JournalTotals(Journal &journal, const QDateTime &now, QWidget *parent = nullptr);

    void setPeriod(const QDate &from, const QDate &to);
    // The period's first and last day, whole days.
    QDateTime periodStart() const;
    QDateTime periodEnd() const;
    const QList<Journal::PersonTotal> &totals() const { return m_totals; }

    static QStringList titles();
    QList<QStringList> rows() const;  // the lines as shown and exported
    QString html() const;             // the printed page
    bool exportTo(const QString &path);  // false: told the operator why
    void printTo(QPagedPaintDevice *device) const;

private:
    void refresh();
    void exportClick();
    void printClick();

    Journal &m_journal;
    DateBox *m_from = nullptr;
    DateBox *m_to = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_sum = nullptr;
    QList<Journal::PersonTotal> m_totals;
};

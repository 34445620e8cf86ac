#pragma once
// "Контроль данных" (object name "TDataChecks"): three lists on tabs, each
// exportable as CSV: dosimeters issued and not read for more than N days
// (31 by default), readings of the period that no journal entry holds, and
// persons over a level in the period whose alert nobody has acknowledged
// (DataChecks). A period that ends before it begins is refused and the lists
// shown stay.

#include "records/CsvExport.h"

#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QStringList>

class DataModule;
class DateBox;
class IPrompt;
class QSpinBox;
class QTabWidget;
class QTableWidget;

class DataChecksWindow : public QDialog {
    Q_OBJECT
public:
    static const QString Caption;  // "Контроль данных"
    enum Tab { Unread, Unattributed, Unacknowledged, TabCount };

    DataChecksWindow(IPrompt &prompt, DataModule &dm, const QDateTime &now, QWidget *parent = nullptr);

    void setPeriod(const QDate &from, const QDate &to);
    void setDays(int days);
    void showTab(Tab tab);
    static QStringList titles(Tab tab);
    const QList<QStringList> &rows(Tab tab) const { return m_rows[tab]; }
    QTableWidget *table(Tab tab) const { return m_tables[tab]; }
    // The lines of the tab shown into the file; false: told the operator why.
    bool exportTo(Tab tab, const QString &path, const CsvFormat &format = {});
    void setSettingsPath(const QString &path) { m_settingsPath = path; }

private:
    void refresh();
    void fill(Tab tab);
    void exportCsv();

    IPrompt &m_prompt;
    DataModule &m_dm;
    QDateTime m_now;
    QSpinBox *m_days = nullptr;
    DateBox *m_from = nullptr;
    DateBox *m_to = nullptr;
    QTabWidget *m_tabs = nullptr;
    QTableWidget *m_tables[TabCount] = {};
    QList<QStringList> m_rows[TabCount];
    QDate m_shownFrom;
    QDate m_shownTo;
    QString m_settingsPath;
};

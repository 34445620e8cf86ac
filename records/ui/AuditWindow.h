#pragma once
// "Журнал аудита": the audit trail, read only, over a chosen period (the
// local time of the change, both days whole) and of one table or all,
// oldest first, exportable as CSV. Nothing here changes a row.

#include "records/AuditLog.h"
#include "records/CsvExport.h"

#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QList>
#include <QStringList>

class DataModule;
class DateBox;
class IPrompt;
class QComboBox;
class QLabel;
class QTableView;
class AuditRowsModel;

class AuditWindow : public QDialog {
    Q_OBJECT
public:
    static const QString Caption;  // "Журнал аудита"

    AuditWindow(IPrompt &prompt, DataModule &dm, const QDateTime &now, QWidget *parent = nullptr);

    // Sets both dates (a reversed period is refused: told, nothing changes)
    // and the table ("" for every table).
    void setPeriod(const QDate &from, const QDate &to);
    void setTable(const QString &table);

    static QStringList titles();
    QList<QStringList> rows() const;  // as shown and exported
    // The file in the given format; false: told the operator why.
    bool exportTo(const QString &path, const CsvFormat &format = {});
    void setSettingsPath(const QString &path) { m_settingsPath = path; }

private:
    void refresh();
    void fillTables();
    void exportCsv();

    IPrompt &m_prompt;
    AuditLog m_log;
    DateBox *m_from = nullptr;
    DateBox *m_to = nullptr;
    QComboBox *m_tableBox = nullptr;
    QTableView *m_table = nullptr;
    AuditRowsModel *m_model = nullptr;
    QLabel *m_count = nullptr;
    QList<AuditRecord> m_records;
    QString m_settingsPath;
};

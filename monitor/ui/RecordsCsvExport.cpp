#include "monitor/ui/RecordsCsvExport.h"

#include "core/Prompt.h"
#include "monitor/core/RecordsView.h"
#include "records/DataTable.h"
#include "records/ui/CsvExportFile.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QProgressDialog>
#include <QStandardPaths>

QList<CsvColumn> recordsExportColumns(const RecordsView &view)
{
    QList<CsvColumn> columns;
    for (const RecordsColumn &c : view.columns)
        if (c.visible)
            columns.append({c.field, c.title});
    return columns;
}

QString recordsExportFileName(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("Измерения ") + QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))
                                 + QStringLiteral(".csv"));
}

CsvResult exportRecordsToCsv(QWidget *parent, const RecordsView &view, const QString &settingsPath)
{
    CsvResult result = Error{ErrorKind::Cancelled, QString()};
    const DataTable *table = view.table();
    if (!table || !table->active())
        return result;

    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    CsvFormat format;
    const QString path = askCsvExportFile(parent, recordsExportFileName(folder), settingsPath, format);
    if (path.isEmpty())
        return result;

    QProgressDialog progress(QStringLiteral("Экспорт записей в файл\n") + QDir::toNativeSeparators(path),
                             QStringLiteral("&Отменить"), 0, 100, parent);
    progress.setObjectName(QStringLiteral("CsvExportProgress"));
    progress.setWindowTitle(QStringLiteral("Экспорт в CSV"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setValue(0);
    result = exportTableToCsv(
        *table, recordsExportColumns(view), path,
        [&](qint64 done, qint64 total) {
        if (total > 0)
            progress.setValue(int(done * 100 / total));
        QApplication::processEvents();
        // Closing the program meanwhile closes the tables: the export stops.
        return !progress.wasCanceled() && table->active();
        },
        format);
    progress.close();

    if (result) {
        activePrompt().message(MsgKind::Information,
                               QStringLiteral("Записей выгружено: %1\r\nФайл: %2")
                                   .arg(result.value)
                                   .arg(QDir::toNativeSeparators(path)),
                               PromptButton::Ok);
    } else if (result.kind() != ErrorKind::Cancelled) {
        activePrompt().message(MsgKind::Error,
                               QStringLiteral("Не удалось записать файл %1:\r\n%2")
                                   .arg(QDir::toNativeSeparators(path), result.errorText()),
                               PromptButton::Ok);
    }
    return result;
}

#include "records/ui/RecordsCsvExport.h"

#include "core/Prompt.h"
#include "monitor/core/IniFile.h"
#include "monitor/core/RecordsView.h"
#include "records/DataTable.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>
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

const QString CsvExportSection = QStringLiteral("CsvExport");

namespace {

const QString KeySeparator = QStringLiteral("Separator");

} // namespace

CsvFormat storedCsvFormat(const QString &settingsPath)
{
    if (!settingsPath.isEmpty()) {
        const QString stored = IniFile(settingsPath).readString(CsvExportSection, KeySeparator).trimmed();
        if (stored == QStringLiteral(";") || stored == QStringLiteral(","))
            return CsvFormat::withSeparator(stored.at(0));
    }
    return CsvFormat::forLocale(QLocale::system());
}

void storeCsvFormat(const QString &settingsPath, const CsvFormat &format)
{
    if (settingsPath.isEmpty())
        return;
    IniFile ini(settingsPath);
    ini.writeString(CsvExportSection, KeySeparator, QString(format.separator));
    ini.save();
}

QString askCsvExportFile(QWidget *parent, const QString &suggestedPath, const QString &settingsPath,
                         CsvFormat &format)
{
    QFileDialog files(parent, QStringLiteral("Экспорт в CSV"), QFileInfo(suggestedPath).path(),
                      QStringLiteral("Файлы CSV (*.csv);;Все файлы (*)"));
    files.setObjectName(QStringLiteral("CsvExportFile"));
    files.setAcceptMode(QFileDialog::AcceptSave);
    files.setFileMode(QFileDialog::AnyFile);
    files.setDefaultSuffix(QStringLiteral("csv"));
    // The program's own file dialog: the separator choice goes under its list.
    files.setOption(QFileDialog::DontUseNativeDialog);
    auto *separator = new QComboBox(&files);
    separator->setObjectName(QStringLiteral("CsvSeparator"));
    separator->addItem(QStringLiteral("; (десятичная запятая)"), QChar(QLatin1Char(';')));
    separator->addItem(QStringLiteral(", (десятичная точка)"), QChar(QLatin1Char(',')));
    separator->setCurrentIndex(storedCsvFormat(settingsPath).separator == QLatin1Char(';') ? 0 : 1);
    if (auto *grid = qobject_cast<QGridLayout *>(files.layout())) {
        const int row = grid->rowCount();
        auto *caption = new QLabel(QStringLiteral("Разделитель:"), &files);
        caption->setBuddy(separator);
        grid->addWidget(caption, row, 0);
        grid->addWidget(separator, row, 1);
    }
    files.selectFile(suggestedPath);
    if (activePrompt().runModal(&files, [&files] { return files.exec(); }) != QDialog::Accepted
        || files.selectedFiles().isEmpty())
        return QString();
    format = CsvFormat::withSeparator(separator->currentData().toChar());
    storeCsvFormat(settingsPath, format);
    return files.selectedFiles().first();
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

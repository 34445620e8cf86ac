#include "records/ui/CsvExportFile.h"

#include "core/IniFile.h"
#include "core/Prompt.h"
#include "core/SettingsKeys.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLocale>

const QString CsvExportSection = SettingsKeys::CsvExport::Section;

namespace {

const QString KeySeparator = SettingsKeys::CsvExport::Separator;

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

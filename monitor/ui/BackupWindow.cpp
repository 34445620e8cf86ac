#include "BackupWindow.h"

#include "core/LogFiles.h"
#include "core/Prompt.h"
#include "records/DataBackup.h"

#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

BackupWindow::BackupWindow(QWidget *parent, const QString &settingsPath, BackupRunner &runner,
                           std::function<bool(const BackupSettings &)> start)
    : QDialog(parent), m_settingsPath(settingsPath), m_runner(runner), m_start(std::move(start))
{
    setObjectName(QStringLiteral("BackupWindow"));
    setWindowTitle(QStringLiteral("Резервная копия"));
    const BackupSettings stored = readBackupSettings(settingsPath);

    m_folder = new QLineEdit(stored.folder, this);
    m_folder->setObjectName(QStringLiteral("BackupFolder"));
    auto *browse = new QPushButton(QStringLiteral("Обзор..."), this);
    browse->setObjectName(QStringLiteral("BackupBrowse"));
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    m_keep = new QSpinBox(this);
    m_keep->setObjectName(QStringLiteral("BackupKeep"));
    m_keep->setRange(1, BackupSettings::MaxKeep);
    m_keep->setValue(stored.keep);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Папка для копий:"), folderRow);
    form->addRow(QStringLiteral("Хранить последних копий:"), m_keep);

    auto *note = new QLabel(QStringLiteral("Пока папка задана, копия таблиц создаётся автоматически раз в сутки."), this);
    note->setWordWrap(true);
    m_lastCopy = new QLabel(this);
    m_lastCopy->setObjectName(QStringLiteral("BackupLastCopy"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("BackupProgress"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("BackupStatus"));
    m_report = new QPlainTextEdit(this);
    m_report->setObjectName(QStringLiteral("BackupReport"));
    m_report->setReadOnly(true);
    m_report->setMinimumHeight(120);

    m_startButton = new QPushButton(QStringLiteral("Создать копию"), this);
    m_startButton->setObjectName(QStringLiteral("BackupStart"));
    auto *save = new QPushButton(QStringLiteral("Сохранить"), this);
    save->setObjectName(QStringLiteral("BackupSave"));
    auto *close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setObjectName(QStringLiteral("BackupClose"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_startButton);
    buttons->addWidget(save);
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(m_lastCopy);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addWidget(m_report, 1);
    layout->addLayout(buttons);
    resize(520, 340);

    connect(browse, &QPushButton::clicked, this, &BackupWindow::chooseFolder);
    connect(m_startButton, &QPushButton::clicked, this, &BackupWindow::startBackup);
    connect(save, &QPushButton::clicked, this, &BackupWindow::saveChoices);
    // Closing never waits for a backup under way: it goes on, and the main
    // window logs its end.
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(&m_runner, &BackupRunner::progress, this, &BackupWindow::showProgress);
    connect(&m_runner, &BackupRunner::finished, this, &BackupWindow::showResult);
    m_startButton->setEnabled(!m_runner.running());
    if (m_runner.running())
        m_status->setText(QStringLiteral("Создаётся копия..."));
    showLastCopy();
}

BackupSettings BackupWindow::choices() const
{
    BackupSettings s = readBackupSettings(m_settingsPath);
    s.folder = m_folder->text().trimmed();
    s.keep = m_keep->value();
    return s;
}

void BackupWindow::showLastCopy()
{
    const QDateTime last = readBackupSettings(m_settingsPath).lastCopy;
    m_lastCopy->setText(QStringLiteral("Последняя копия: ")
                        + (last.isValid() ? logTimeStamp(last) : QStringLiteral("не создавалась")));
}

void BackupWindow::saveChoices()
{
    writeBackupSettings(m_settingsPath, choices());
    m_status->setText(m_folder->text().trimmed().isEmpty()
                          ? QStringLiteral("Папка не задана: автоматические копии не создаются")
                          : QStringLiteral("Сохранено"));
}

void BackupWindow::chooseFolder()
{
    QFileDialog dialog(this, QStringLiteral("Папка для копий"), m_folder->text());
    dialog.setObjectName(QStringLiteral("BackupFolderDialog"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (activePrompt().runModal(&dialog, [&dialog] { return dialog.exec(); }) == QDialog::Accepted
        && !dialog.selectedFiles().isEmpty())
        m_folder->setText(QDir::toNativeSeparators(dialog.selectedFiles().first()));
}

void BackupWindow::startBackup()
{
    const BackupSettings s = choices();
    if (s.folder.isEmpty()) {
        m_status->setText(QStringLiteral("Не задана папка для копий"));
        return;
    }
    writeBackupSettings(m_settingsPath, s);
    m_report->clear();
    if (!m_start(s)) {
        m_status->setText(QStringLiteral("Копия уже создаётся"));
        return;
    }
    m_startButton->setEnabled(false);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status->setText(QStringLiteral("Создаётся копия..."));
}

void BackupWindow::showProgress(int step, int steps, const QString &text)
{
    m_progress->setRange(0, qMax(1, steps));
    m_progress->setValue(step);
    m_status->setText(text);
}

void BackupWindow::showResult(const BackupResult &result)
{
    m_startButton->setEnabled(true);
    m_progress->setValue(result.ok ? m_progress->maximum() : 0);
    m_status->setText(result.ok ? QStringLiteral("Копия создана и проверена") : QStringLiteral("Ошибка"));
    m_report->setPlainText(result.text);
    showLastCopy();
}

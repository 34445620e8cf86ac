#pragma once
// "Резервная копия": the folder the backups go to (typed or chosen with
// "Обзор..."), how many are kept, and the command that makes one now; the
// copy runs in its own thread while this window shows how far it is, then
// its report (the files and their rows, or what failed). "Сохранить" keeps
// the folder and the number without copying; an empty folder turns the
// daily backup off.

#include "core/BackupSettings.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class BackupRunner;
struct BackupResult;

class BackupWindow : public QDialog {
    Q_OBJECT
public:
    // start: begins a backup with the given choices; false when one is
    // already under way.
    BackupWindow(QWidget *parent, const QString &settingsPath, BackupRunner &runner,
                 std::function<bool(const BackupSettings &)> start);

    void startBackup();  // "Создать копию"
    void saveChoices();  // "Сохранить"
    void chooseFolder(); // "Обзор..."

private:
    BackupSettings choices() const;
    void showProgress(int step, int steps, const QString &text);
    void showResult(const BackupResult &result);
    void showLastCopy();

    QString m_settingsPath;
    BackupRunner &m_runner;
    std::function<bool(const BackupSettings &)> m_start;
    QLineEdit *m_folder = nullptr;
    QSpinBox *m_keep = nullptr;
    QLabel *m_lastCopy = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_status = nullptr;
    QPlainTextEdit *m_report = nullptr;
    QPushButton *m_startButton = nullptr;
};

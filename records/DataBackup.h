#pragma once
// Backups of every table file while the program runs (the reading buffer
// Buffer.db aside: it is used only while the tables are on a server).
//
// A backup is one folder "RUVO-yyyyMMdd-HHmmss" inside a folder the operator
// chose, holding a copy of each table file under its own name. Each file is
// copied with SQLite's VACUUM INTO on a connection of its own, opened read
// only on the data directory's file: a copy is one consistent state of its
// file however the program's own connection writes meanwhile (the files
// keep a write-ahead log, so neither side waits for the other). Devices is
// copied before Measures and right after the dose alerts, so a copy never
// holds a reader position ahead of the readings it stands for, nor an alert
// for a reading it lacks; the audit trail is copied last.
//
// Every copy is checked with PRAGMA integrity_check and its rows counted
// before the folder takes its final name; until then it is named
// "<name>.part". A copy that fails or is not sound removes the unfinished
// folder and reports the file and the reason. Afterwards only the newest
// `keep` backup folders stay: older folders of that name pattern lose the
// table files the program wrote there and are removed when nothing else is
// left in them; nothing else in the chosen folder is touched.
//
// makeBackup() does the whole job in the calling thread and may run in any
// thread (its connections are its own). BackupRunner runs it in a thread of
// its own for the windows, which never wait for it.
//
// Restoring: with the program stopped, the files of a backup folder replace
// those of the data directory (docs/backup.md).

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

class DataModule;
class QThread;

// One table file: the table's name (also its name inside the file) and
// the file's name in the data directory.
struct BackupTable {
    QString table;
    QString fileName;
};

// The tables of a module in the order they are copied (DoseLevels,
// DosePersons, DoseAlerts, Devices, Measures, Notes, Cards, Audit).
QList<BackupTable> backupTablesOf(DataModule &dm);

struct BackupRequest {
    QString dataDir;              // where the table files are
    QList<BackupTable> tables;    // backupTablesOf()
    QString targetDir;            // the chosen folder (made when missing)
    int keep = 10;                // the backup folders kept, at least 1
    QDateTime now;                // names the folder (the current time when invalid)
    // Tests: called with each copied file before it is checked.
    std::function<void(const QString &copyPath)> afterCopy;
};

struct BackupFileResult {
    QString fileName;
    qint64 rows = -1;   // rows of the table in the checked copy
    qint64 bytes = 0;   // size of the copy
};

// What a backup did. text is the report for the operator and the events
// log (one line per file on success, the failure and its file otherwise).
struct BackupResult {
    bool ok = false;
    QString text;
    QString folder;                    // the backup folder made (empty on failure)
    QList<BackupFileResult> files;     // the files copied and checked
    QStringList removed;               // older backup folders removed
};

// The folder names the program gives its backups, newest last, found in dir.
QStringList backupFolders(const QString &dir);

// Checks one copied table file: PRAGMA integrity_check answers "ok" and the
// table can be counted. On failure returns false with the reason in error.
bool checkBackupFile(const QString &path, const QString &table, qint64 &rows, QString &error);

// Progress: the step done so far (0..steps) and what is being done.
using BackupProgress = std::function<void(int step, int steps, const QString &text)>;

// Makes one backup (see above). cancel, when given and set, stops the copy
// under way; the unfinished folder is removed.
BackupResult makeBackup(const BackupRequest &request, const BackupProgress &progress = {},
                        const std::atomic<bool> *cancel = nullptr);

// Keeps the newest `keep` backup folders of dir; returns the names removed.
QStringList pruneBackups(const QString &dir, const QList<BackupTable> &tables, int keep);

// Runs makeBackup in a thread of its own, one at a time. The signals come
// in the thread the runner lives in.
class BackupRunner : public QObject {
    Q_OBJECT
public:
    explicit BackupRunner(QObject *parent = nullptr);
    ~BackupRunner() override;  // cancels a backup under way and waits for it

    // False (and nothing starts) while a backup is under way.
    bool start(const BackupRequest &request);
    bool running() const { return m_thread != nullptr; }
    // Stops a backup under way and waits for its end (finished is then not
    // emitted).
    void cancelAndWait();

signals:
    void progress(int step, int steps, const QString &text);
    void finished(const BackupResult &result);

private:
    QThread *m_thread = nullptr;
    std::atomic<bool> m_cancel{false};
};

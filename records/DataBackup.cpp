// Backups of the table files: the copy with VACUUM INTO on private read-only
// connections, the check of each copy, the folder's final name and the
// removal of the oldest backups; and the runner that does it off the
// windows' thread.

#include "records/DataBackup.h"

#include "core/Errors.h"
#include "records/DataModule.h"
#include "records/SqlQuote.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <sqlite3.h>

using RecordsSql::quoted;

namespace {

const QString kPrefix = QStringLiteral("RUVO-");
const QString kPartSuffix = QStringLiteral(".part");

QRegularExpression backupNamePattern()
{
    static const QRegularExpression re(QStringLiteral("^RUVO-\\d{8}-\\d{6}(-\\d{1,3})?$"));
    return re;
}

std::atomic<int> g_connections{0};

// A connection of this thread to one file, removed again at the end.
class FileConnection {
public:
    FileConnection(const QString &path, bool readOnly)
        : m_name(QStringLiteral("RUVO-backup-%1").arg(++g_connections))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        // A file that is being checkpointed or recovered is waited for a while.
        db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                      : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            m_error = db.lastError().text();
            return;
        }
        try {
            registerRecordsSqlFunctions(db);  // the collation of older files
        } catch (const ERuvoError &e) {
            m_error = e.message();
        }
    }
    ~FileConnection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            if (db.isOpen()) {
                if (sqlite3 *h = handle())
                    sqlite3_progress_handler(h, 0, nullptr, nullptr);
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    FileConnection(const FileConnection &) = delete;
    FileConnection &operator=(const FileConnection &) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }
    sqlite3 *handle() const
    {
        const QSqlDatabase d = db();
        const QVariant h = d.driver() ? d.driver()->handle() : QVariant();
        if (h.isValid() && qstrcmp(h.typeName(), "sqlite3*") == 0)
            return *static_cast<sqlite3 *const *>(h.constData());
        return nullptr;
    }

private:
    QString m_name;
    QString m_error;
};

int stopWhenCancelled(void *flag)
{
    return static_cast<const std::atomic<bool> *>(flag)->load() ? 1 : 0;
}

// Copies one file into copyPath; false with the reason in error.
bool copyFile(const QString &source, const QString &copyPath, const std::atomic<bool> *cancel, QString &error)
{
    if (!QFileInfo(source).isFile()) {
        error = QStringLiteral("файл не найден");
        return false;
    }
    FileConnection c(source, true);
    if (!c.ok()) {
        error = c.error();
        return false;
    }
    if (cancel) {
        if (sqlite3 *h = c.handle())
            sqlite3_progress_handler(h, 1000, stopWhenCancelled, const_cast<std::atomic<bool> *>(cancel));
    }
    QSqlQuery q(c.db());
    // The copy is written with full flushes, as the source's own commits.
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));
    q.prepare(QStringLiteral("VACUUM INTO ?"));
    q.addBindValue(copyPath);
    if (!q.exec()) {
        error = q.lastError().text();
        return false;
    }
    return true;
}

// Removes the table files the program wrote into a backup folder and the
// folder when nothing else is in it; true when the folder is gone.
bool removeBackupFolder(const QString &path, const QList<BackupTable> &tables)
{
    QDir dir(path);
    for (const BackupTable &t : tables)
        for (const QString &suffix : {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")})
            dir.remove(t.fileName + suffix);
    return QDir().rmdir(path);
}

QString folderName(const QDateTime &now)
{
    return kPrefix + now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
}

} // namespace

QList<BackupTable> backupTablesOf(DataModule &dm)
{
    QList<BackupTable> out;
    // The alerts go before the readings, so each alert of a copy refers to a
    // reading the copy holds; one raised meanwhile is raised again when the
    // reader reads its reading once more after a restore. The audit trail
    // goes last, so it holds every change the copy holds.
    for (DataTable *t : {&dm.doseLevels(), &dm.dosePersons(), &dm.doseAlerts(), &dm.devices(), &dm.measures(),
                         &dm.notes(), &dm.cards(), &dm.audit()})
        out.append({t->tableName(), t->fileName()});
    return out;
}

QStringList backupFolders(const QString &dir)
{
    QStringList out;
    const QRegularExpression re = backupNamePattern();
    for (const QString &name : QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        if (re.match(name).hasMatch())
            out.append(name);
    // The name holds the time; a suffix (a second backup in the same second)
    // sorts after the plain name.
    std::sort(out.begin(), out.end());
    return out;
}

bool checkBackupFile(const QString &path, const QString &table, qint64 &rows, QString &error)
{
    rows = -1;
    FileConnection c(path, true);
    if (!c.ok()) {
        error = c.error();
        return false;
    }
    QSqlQuery q(c.db());
    if (!q.exec(QStringLiteral("PRAGMA integrity_check"))) {
        error = q.lastError().text();
        return false;
    }
    QStringList problems;
    while (q.next())
        problems.append(q.value(0).toString());
    q.finish();
    if (problems != QStringList{QStringLiteral("ok")}) {
        error = QStringLiteral("проверка целостности: ") + problems.mid(0, 3).join(QStringLiteral("; "));
        return false;
    }
    if (!q.exec(QStringLiteral("SELECT count(*) FROM ") + quoted(table)) || !q.next()) {
        error = q.lastError().text();
        return false;
    }
    rows = q.value(0).toLongLong();
    return true;
}

QStringList pruneBackups(const QString &dir, const QList<BackupTable> &tables, int keep)
{
    QStringList removed;
    const QStringList folders = backupFolders(dir);
    const int surplus = int(folders.size()) - qMax(1, keep);
    for (int i = 0; i < surplus; ++i) {
        if (removeBackupFolder(QDir(dir).filePath(folders[i]), tables))
            removed.append(folders[i]);
    }
    return removed;
}

BackupResult makeBackup(const BackupRequest &request, const BackupProgress &progress, const std::atomic<bool> *cancel)
{
    BackupResult r;
    auto fail = [&r](const QString &why) {
        r.ok = false;
        r.folder.clear();
        r.files.clear();
        r.text = QStringLiteral("Резервная копия не создана: ") + why;
        return r;
    };
    auto report = [&progress](int step, int steps, const QString &text) {
        if (progress)
            progress(step, steps, text);
    };
    if (request.targetDir.trimmed().isEmpty())
        return fail(QStringLiteral("не задана папка для копий"));
    const QString target = QDir::cleanPath(request.targetDir);
    const QString data = QDir::cleanPath(request.dataDir);
    if (QFileInfo(target).absoluteFilePath() == QFileInfo(data).absoluteFilePath())
        return fail(QStringLiteral("папка для копий совпадает с каталогом данных"));
    if (!QDir().mkpath(target))
        return fail(QStringLiteral("папка недоступна: ") + QDir::toNativeSeparators(target));

    const QDateTime now = request.now.isValid() ? request.now : QDateTime::currentDateTime();
    QString name = folderName(now);
    for (int n = 2; QFileInfo::exists(QDir(target).filePath(name)) && n < 1000; ++n)
        name = folderName(now) + QStringLiteral("-%1").arg(n);
    const QString finalPath = QDir(target).filePath(name);
    const QString partPath = finalPath + kPartSuffix;
    if (QFileInfo::exists(finalPath) || QFileInfo::exists(partPath) || !QDir().mkdir(partPath))
        return fail(QStringLiteral("не удалось создать папку ") + QDir::toNativeSeparators(partPath));

    const int steps = int(request.tables.size()) * 2;
    int step = 0;
    for (const BackupTable &t : request.tables) {
        const QString source = QDir(data).filePath(t.fileName);
        const QString copy = QDir(partPath).filePath(t.fileName);
        QString error;
        report(step, steps, QStringLiteral("Копируется ") + t.fileName);
        bool ok = copyFile(source, copy, cancel, error);
        if (cancel && cancel->load()) {
            removeBackupFolder(partPath, request.tables);
            return fail(QStringLiteral("прервано"));
        }
        ++step;
        if (ok && request.afterCopy)
            request.afterCopy(copy);
        BackupFileResult f;
        f.fileName = t.fileName;
        if (ok) {
            report(step, steps, QStringLiteral("Проверяется ") + t.fileName);
            ok = checkBackupFile(copy, t.table, f.rows, error);
        }
        ++step;
        if (!ok) {
            removeBackupFolder(partPath, request.tables);
            return fail(t.fileName + QStringLiteral(": ") + error);
        }
        f.bytes = QFileInfo(copy).size();
        r.files.append(f);
    }
    if (!QDir().rename(partPath, finalPath)) {
        removeBackupFolder(partPath, request.tables);
        return fail(QStringLiteral("не удалось переименовать ") + QDir::toNativeSeparators(partPath));
    }
    r.ok = true;
    r.folder = finalPath;
    r.removed = pruneBackups(target, request.tables, request.keep);
    QStringList lines{QStringLiteral("Резервная копия создана: ") + QDir::toNativeSeparators(finalPath)};
    for (const BackupFileResult &f : std::as_const(r.files))
        lines.append(QStringLiteral("%1: записей %2, %3 КБ").arg(f.fileName).arg(f.rows).arg((f.bytes + 1023) / 1024));
    if (!r.removed.isEmpty())
        lines.append(QStringLiteral("Удалены старые копии: ") + r.removed.join(QStringLiteral(", ")));
    r.text = lines.join(QLatin1Char('\n'));
    report(steps, steps, QStringLiteral("Готово"));
    return r;
}

// ---------------------------------------------------------------- runner

BackupRunner::BackupRunner(QObject *parent) : QObject(parent) {}

BackupRunner::~BackupRunner()
{
    cancelAndWait();
}

bool BackupRunner::start(const BackupRequest &request)
{
    if (m_thread)
        return false;
    m_cancel = false;
    QThread *thread = QThread::create([this, request] {
        const BackupResult result = makeBackup(
            request,
            [this](int step, int steps, const QString &text) {
                QMetaObject::invokeMethod(this, [this, step, steps, text] { emit progress(step, steps, text); },
                                          Qt::QueuedConnection);
            },
            &m_cancel);
        QThread *me = QThread::currentThread();
        QMetaObject::invokeMethod(
            this,
            [this, me, result] {
                if (m_thread != me)
                    return;  // cancelled and waited for
                m_thread->wait();
                m_thread->deleteLater();
                m_thread = nullptr;
                emit finished(result);
            },
            Qt::QueuedConnection);
    });
    thread->setObjectName(QStringLiteral("RUVO backup"));
    m_thread = thread;
    thread->start(QThread::LowPriority);
    return true;
}

void BackupRunner::cancelAndWait()
{
    if (!m_thread)
        return;
    m_cancel = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

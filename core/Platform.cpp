#include "Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryFile>
#include <QStandardPaths>
#include <QVector>

#ifdef Q_OS_UNIX
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <ctime>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

QString osLastErrorText()
{
    // qt_error_string(-1) reads errno on Unix and GetLastError() on Windows.
    return qt_error_string(-1);
}

DeviceLockResult lockDeviceExclusively(qintptr handle)
{
#ifdef Q_OS_UNIX
    const int fd = int(handle);
    if (fd < 0)
        return DeviceLockResult::Failed;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0)
        return DeviceLockResult::Locked;
    return errno == EWOULDBLOCK ? DeviceLockResult::InUse : DeviceLockResult::Failed;
#else
    Q_UNUSED(handle);
    return DeviceLockResult::Locked;
#endif
}

#ifdef Q_OS_UNIX
namespace {

// The signal handler only writes one byte into a socket pair; the main
// thread's notifier on the other end does the work.
int g_signalSockets[2] = {-1, -1};

void signalToSocket(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalSockets[0], &byte, 1);
    errno = saved;
}

} // namespace
#endif

void onTerminationSignal(std::function<void()> onSignal)
{
#ifdef Q_OS_UNIX
    if (g_signalSockets[0] >= 0 || !QCoreApplication::instance())
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalSockets) != 0)
        return;
    for (const int fd : g_signalSockets) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    auto *notifier = new QSocketNotifier(qintptr(g_signalSockets[1]), QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal = std::move(onSignal)] {
        char buffer[16];
        while (::read(g_signalSockets[1], buffer, sizeof buffer) > 0) {
        }
        if (onSignal)
            onSignal();
    });
    struct sigaction action = {};
    action.sa_handler = signalToSocket;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
#else
    Q_UNUSED(onSignal);
#endif
}

SingleInstanceLock::SingleInstanceLock(const QString &name)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    QDir().mkpath(dir);
    m_lock = std::make_unique<QLockFile>(dir + QLatin1Char('/') + name + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);  // only a dead owner makes the lock stale
}

SingleInstanceLock::~SingleInstanceLock() = default;

bool SingleInstanceLock::acquire()
{
    return m_lock->tryLock(0);
}

bool programDirectoryHoldsData(const QString &dir)
{
    const QString path = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
#ifdef Q_OS_UNIX
    if (path == QLatin1String("/usr") || path.startsWith(QLatin1String("/usr/")))
        return false;
#endif
    // Permission bits do not tell (an administrator writes anywhere, a
    // read-only mount refuses everyone): a file is tried.
    QTemporaryFile probe(path + QStringLiteral("/.ruvo-write-check-XXXXXX"));
    return probe.open();
}

QString userDataDirectory()
{
    QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::fromNativeSeparators(home) + QStringLiteral("/RUVO/");
}

DeviceGroupAccess missingDeviceGroup(const QString &devicePath)
{
    DeviceGroupAccess access;
#ifdef Q_OS_UNIX
    struct stat st = {};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0)
        return access;
    const uid_t uid = ::geteuid();
    if (uid == 0 || st.st_uid == uid)
        return access;  // the owner's or the administrator's own problem, not a group's
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return access;  // the group could not open it either
    if (::getegid() == st.st_gid)
        return access;
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        QVector<gid_t> groups(count);
        const int n = ::getgroups(count, groups.data());
        for (int i = 0; i < n; ++i)
            if (groups.at(i) == st.st_gid)
                return access;  // a member: something else refused the open
    }
    if (const struct group *g = ::getgrgid(st.st_gid))
        access.group = QString::fromLocal8Bit(g->gr_name);
    else
        access.group = QString::number(st.st_gid);
    if (const struct passwd *pw = ::getpwuid(uid))
        access.user = QString::fromLocal8Bit(pw->pw_name);
    else
        access.user = QString::number(uid);
#else
    Q_UNUSED(devicePath);
#endif
    return access;
}

void keepLocalTimeZone()
{
#ifdef Q_OS_UNIX
    if (qEnvironmentVariableIsSet("TZ") || !QFileInfo::exists(QStringLiteral("/etc/localtime")))
        return;
    qputenv("TZ", ":/etc/localtime");
    tzset();
#endif
}

QString osUserName()
{
#ifdef Q_OS_UNIX
    if (const passwd *pw = getpwuid(geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

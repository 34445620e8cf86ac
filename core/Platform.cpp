#include "Platform.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
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

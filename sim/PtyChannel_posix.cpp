// The simulator's platform layer on POSIX systems.

#include "sim/PtyChannel.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString errnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

void makeRaw(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(fd, TCSANOW, &t);
}

} // namespace

PtyChannel::~PtyChannel()
{
    close();
}

bool PtyChannel::open(QString *error)
{
    close();
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        if (error)
            *error = errnoText("posix_openpt");
        return false;
    }
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        if (error)
            *error = errnoText("grantpt/unlockpt");
        ::close(master);
        return false;
    }
    const char *name = ::ptsname(master);
    if (!name) {
        if (error)
            *error = errnoText("ptsname");
        ::close(master);
        return false;
    }
    const QString path = QString::fromLocal8Bit(name);
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        if (error)
            *error = errnoText("open terminal");
        ::close(master);
        return false;
    }
    makeRaw(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_master = master;
    m_slave = slave;
    m_path = path;
    return true;
}

void PtyChannel::close()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
    m_path.clear();
}

bool PtyChannel::waitReadable(int timeoutMs)
{
    if (m_master < 0)
        return false;
    pollfd p{m_master, POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN);
}

QByteArray PtyChannel::readAvailable()
{
    QByteArray out;
    if (m_master < 0)
        return out;
    char buf[512];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            out.append(buf, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: nothing more; EIO: no terminal side (cannot happen while m_slave is open)
    }
    return out;
}

bool PtyChannel::writeAll(const QByteArray &bytes)
{
    if (m_master < 0)
        return false;
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(m_master, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // The terminal's input queue is full: wait for its reader, but
            // give up after a second rather than block the server.
            pollfd pf{m_master, POLLOUT, 0};
            if (::poll(&pf, 1, 1000) <= 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

int PtyChannel::unreadByTerminal() const
{
    if (m_slave < 0)
        return 0;
    int n = 0;
    if (::ioctl(m_slave, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void PtyChannel::discardUnreadByTerminal()
{
    if (m_slave >= 0)
        ::tcflush(m_slave, TCIFLUSH);
}

// ---------------------------------------------------------------- reader-sim

namespace {
std::atomic<bool> g_terminate{false};
int g_signalPipe[2] = {-1, -1};
QByteArray g_inputBuffer;
bool g_inputEnded = false;

extern "C" void onTerminationSignal(int)
{
    g_terminate.store(true);
    if (g_signalPipe[1] >= 0) {
        const char c = 1;
        const ssize_t ignored = ::write(g_signalPipe[1], &c, 1);
        (void)ignored;
    }
}

bool takeLine(QByteArray &line)
{
    const int nl = g_inputBuffer.indexOf('\n');
    if (nl < 0)
        return false;
    line = g_inputBuffer.left(nl);
    g_inputBuffer.remove(0, nl + 1);
    if (line.endsWith('\r'))
        line.chop(1);
    return true;
}
} // namespace

void installTerminationSignals()
{
    if (g_signalPipe[0] < 0 && ::pipe(g_signalPipe) == 0) {
        for (int fd : g_signalPipe) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction sa{};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    // A reader of our standard output that goes away must not kill us.
    ::signal(SIGPIPE, SIG_IGN);
}

bool terminationRequested()
{
    return g_terminate.load();
}

ConsoleEvent waitConsole(QByteArray &line, bool watchInput)
{
    for (;;) {
        if (g_terminate.load())
            return ConsoleEvent::Terminated;
        if (watchInput && takeLine(line))
            return ConsoleEvent::Line;
        if (watchInput && g_inputEnded) {
            if (!g_inputBuffer.isEmpty()) { // a last line without its line end
                line = g_inputBuffer;
                g_inputBuffer.clear();
                return ConsoleEvent::Line;
            }
            return ConsoleEvent::EndOfInput;
        }
        pollfd p[2] = {{g_signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int count = (watchInput && !g_inputEnded) ? 2 : 1;
        const int r = ::poll(p, nfds_t(count), -1);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return ConsoleEvent::Terminated;
        }
        if (p[0].revents & POLLIN) {
            char c;
            while (::read(g_signalPipe[0], &c, 1) > 0) {
            }
        }
        if (count == 2 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[512];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n > 0)
                g_inputBuffer.append(buf, int(n));
            else if (n == 0 || (errno != EINTR && errno != EAGAIN))
                g_inputEnded = true;
        }
    }
}

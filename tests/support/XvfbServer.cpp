#include "XvfbServer.h"

#include "ChildProcess.h"

#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport
{

namespace
{
constexpr int ReadyTimeoutMs = 30000;
constexpr int SkipExitCode = 77; // ctest's SKIP_RETURN_CODE for these tests
constexpr int StopTimeoutMs = 5000;
constexpr int DisplayFd = 3; // where Xvfb writes its display number when it is ready

// The whole content of a file from its start; empty for an invalid descriptor.
QString readAll(int fd)
{
    QByteArray text;
    char buffer[4096];
    ssize_t n;
    while (fd >= 0 && (n = pread(fd, buffer, sizeof buffer, text.size())) > 0)
        text.append(buffer, n);
    return QString::fromLocal8Bit(text);
}
} // namespace

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start()
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("pipe failed");
        return false;
    }
    // Xvfb's output goes to a file without a name: it is read only when the server fails to start,
    // and it vanishes with its last descriptor whatever becomes of the test.
    const int logFd = memfd_create("mailvane-xvfb-log", MFD_CLOEXEC);

    // Everything the child needs is made before the fork: after it, only async-signal-safe calls.
    const pid_t parent = getpid();
    const QByteArray fdArg = QByteArray::number(DisplayFd);
    char *const argv[] = {const_cast<char *>("Xvfb"),
                          const_cast<char *>("-displayfd"),
                          const_cast<char *>(fdArg.constData()),
                          const_cast<char *>("-nolisten"),
                          const_cast<char *>("tcp"),
                          const_cast<char *>("-noreset"),
                          const_cast<char *>("-screen"),
                          const_cast<char *>("0"),
                          const_cast<char *>("1024x768x24"),
                          nullptr};
    m_pid = fork();
    if (m_pid == 0) {
        terminateWithParent(parent);
        if (logFd >= 0) {
            dup2(logFd, STDOUT_FILENO);
            dup2(logFd, STDERR_FILENO);
        }
        // dup2 onto itself would keep the close-on-exec flag.
        if (fds[1] == DisplayFd)
            fcntl(DisplayFd, F_SETFD, 0);
        else
            dup2(fds[1], DisplayFd);
        execvp("Xvfb", argv);
        static constexpr char message[] = "cannot run Xvfb (Debian package xvfb)\n";
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
        _exit(127);
    }
    close(fds[1]);
    if (m_pid < 0) {
        close(fds[0]);
        if (logFd >= 0)
            close(logFd);
        m_error = QStringLiteral("fork failed: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }

    // The number arrives once the server accepts connections; end of file means it died.
    QByteArray number;
    pollfd pfd{fds[0], POLLIN, 0};
    while (!number.endsWith('\n')) {
        const int ready = poll(&pfd, 1, ReadyTimeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        char buffer[16];
        const ssize_t n = ready > 0 ? read(fds[0], buffer, sizeof buffer) : 0;
        if (n <= 0)
            break;
        number.append(buffer, n);
    }
    close(fds[0]);
    const bool started = number.endsWith('\n');
    if (!started) {
        stop();
        m_error = QStringLiteral("Xvfb did not start:\n") + readAll(logFd);
    }
    if (logFd >= 0)
        close(logFd);
    if (!started)
        return false;
    m_display = ':' + number.trimmed();
    return true;
}

int XvfbServer::startForTest()
{
    if (!start()) {
        std::fprintf(stderr, "%s\n", qPrintable(m_error));
        if (runningInCi())
            return EXIT_FAILURE;
        std::fprintf(stderr, "SKIP: this test needs Xvfb (Debian package xvfb)\n");
        return SkipExitCode;
    }
    qputenv("DISPLAY", m_display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    // On a Wayland desktop the controls would refuse the X server's keyboard otherwise.
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");
    // Keep Qt off the desktop's session bus: its tray would take the icons otherwise.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/mailvane-test-bus");
    return 0;
}

void XvfbServer::stop()
{
    if (m_pid <= 0)
        return;
    // Xvfb removes its socket and lock file on SIGTERM; SIGKILL is for a server that hangs.
    const int processFd = int(syscall(SYS_pidfd_open, m_pid, 0)); // readable once it has ended
    kill(m_pid, SIGTERM);
    int ended = 0;
    if (processFd >= 0) {
        pollfd pfd{processFd, POLLIN, 0};
        do {
            ended = poll(&pfd, 1, StopTimeoutMs);
        } while (ended < 0 && errno == EINTR);
        close(processFd);
    }
    if (ended <= 0)
        kill(m_pid, SIGKILL);
    while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
}

} // namespace testsupport

#include "XvfbServer.h"

#include <QFile>
#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testsupport
{

namespace
{
constexpr int ReadyTimeoutMs = 30000;
constexpr int SkipExitCode = 77; // ctest's SKIP_RETURN_CODE for these tests
constexpr int DisplayFd = 3;     // where Xvfb writes its display number when it is ready
} // namespace

bool runningInCi()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

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
    char logPath[] = "/tmp/mailvane-xvfb-XXXXXX";
    const int logFd = mkstemp(logPath);
    m_logPath = logPath;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], DisplayFd);
    if (logFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, logFd, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, logFd, STDERR_FILENO);
    }
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
    const int rc = posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (logFd >= 0)
        close(logFd);
    if (rc != 0) {
        m_pid = -1;
        close(fds[0]);
        m_error = QStringLiteral("cannot run Xvfb: %1").arg(QString::fromLocal8Bit(strerror(rc)));
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
    if (!number.endsWith('\n')) {
        QFile log(QString::fromLocal8Bit(m_logPath));
        log.open(QIODevice::ReadOnly);
        m_error = QStringLiteral("Xvfb did not start:\n") + QString::fromLocal8Bit(log.readAll());
        stop();
        return false;
    }
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
    qunsetenv("WAYLAND_DISPLAY");
    // Keep Qt off the desktop's session bus: its tray would take the icons otherwise.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/mailvane-test-bus");
    return 0;
}

void XvfbServer::stop()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }
    if (!m_logPath.isEmpty()) {
        unlink(m_logPath.constData());
        m_logPath.clear();
    }
}

} // namespace testsupport

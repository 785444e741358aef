// mailvane-test-mailbox: a throwaway Dovecot POP3 mailbox for the demo and the benchmark.
//
// Prints "port <N>" when the server is ready (with --tls then also "tls-port <N>", "fingerprint
// <SHA-256>" and "certificate <path>") and runs until its standard input ends or it gets SIGTERM,
// SIGINT or SIGHUP; then it stops Dovecot and removes its files.
#include "DelayingProxy.h"
#include "DovecotFixture.h"
#include "MailboxContent.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSocketNotifier>
#include <QSslCertificate>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

using namespace testsupport;

namespace
{

// The write end of the pipe on which a signal handler reports its signal; a handler may do no more
// than write() (see "Calling Qt Functions From Unix Signal Handlers" in Qt's documentation).
int signalWriteFd = -1;

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalWriteFd, &byte, 1);
    errno = saved;
}

// Ends the event loop when standard input reaches its end or a stop signal arrives.
class StopWatch : public QObject
{
public:
    StopWatch()
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, m_signalPipe.data()) == 0) {
            signalWriteFd = m_signalPipe[0];
            m_signals = std::make_unique<QSocketNotifier>(m_signalPipe[1], QSocketNotifier::Read);
            connect(m_signals.get(), &QSocketNotifier::activated, this, &StopWatch::stop);
            struct sigaction action = {};
            action.sa_handler = onSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            for (const int signal : {SIGTERM, SIGINT, SIGHUP})
                ::sigaction(signal, &action, nullptr);
        }
        m_input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        connect(m_input.get(), &QSocketNotifier::activated, this, &StopWatch::drainInput);
    }

    ~StopWatch() override
    {
        for (const int signal : {SIGTERM, SIGINT, SIGHUP})
            ::signal(signal, SIG_DFL);
        m_signals.reset();
        for (const int fd : m_signalPipe) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    // Also true when the request came while the server was starting, before the event loop ran.
    bool stopped() const { return m_stopped; }

private:
    void drainInput()
    {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            m_input->setEnabled(false);
            stop();
        }
    }

    void stop()
    {
        m_stopped = true;
        QCoreApplication::quit();
    }

    std::array<int, 2> m_signalPipe{-1, -1};
    std::unique_ptr<QSocketNotifier> m_signals;
    std::unique_ptr<QSocketNotifier> m_input;
    bool m_stopped = false;
};

int fail(const QString &text)
{
    std::fprintf(stderr, "mailvane-test-mailbox: %s\n", qPrintable(text));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("mailvane-test-mailbox");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Starts a throwaway Dovecot POP3 server on a free loopback port with one mailbox, prints "
        "\"port <N>\" when it is ready, and runs until standard input ends or it is sent SIGTERM or "
        "SIGINT. Needs root.");
    parser.addHelpOption();
    const QCommandLineOption user("user", "The mailbox's user name.", "name", "demo");
    const QCommandLineOption password("password", "The mailbox's password.", "password", "demo");
    const QCommandLineOption demo("demo", "Fill the mailbox with the demo's messages.");
    const QCommandLineOption generate("generate", "Fill the mailbox with <count> generated messages.",
                                      "count");
    const QCommandLineOption seed("seed", "Seed of the generated messages.", "number", "1");
    const QCommandLineOption delay("delay-ms",
                                   "Serve through a proxy that holds back each chunk the server sends by "
                                   "<ms> milliseconds; the port printed is the proxy's.",
                                   "ms");
    const QCommandLineOption tls("tls",
                                 "Also serve POP3 over TLS (and STLS on the plain port) with a self-signed "
                                 "certificate for 127.0.0.1, whose port, SHA-256 fingerprint and file are "
                                 "printed after the port.");
    parser.addOptions({user, password, demo, generate, seed, delay, tls});
    parser.process(app);

    const QString userName = parser.value(user);
    DovecotFixture server(DovecotFixture::Users{{userName, parser.value(password)}});
    QList<QByteArray> messages;
    if (parser.isSet(demo))
        messages += MailboxContent::demoMessages();
    if (parser.isSet(generate)) {
        bool countOk = false;
        bool seedOk = false;
        const int count = parser.value(generate).toInt(&countOk);
        const quint32 seedValue = parser.value(seed).toUInt(&seedOk);
        if (!countOk || count < 0 || !seedOk)
            return fail("--generate takes a count of 0 or more and --seed a number");
        messages += MailboxContent::generatedMessages(count, seedValue);
    }
    for (const QByteArray &message : std::as_const(messages)) {
        if (server.deliver(userName, message).isEmpty())
            return fail("cannot put the messages into the mailbox");
    }

    int delayMs = 0;
    if (parser.isSet(delay)) {
        bool ok = false;
        delayMs = parser.value(delay).toInt(&ok);
        if (!ok || delayMs < 0)
            return fail("--delay-ms takes a number of milliseconds");
    }

    // Watched from before the start, so that a stop request during it is not lost.
    StopWatch stopWatch;
    QString error;
    if (parser.isSet(tls) && !server.setCertificate(DovecotFixture::Certificate::SelfSigned, &error))
        return fail(error);
    if (!server.start(&error))
        return fail(error);
    quint16 port = server.port();
    std::unique_ptr<DelayingProxy> proxy;
    if (delayMs > 0) {
        proxy = std::make_unique<DelayingProxy>(server.host(), port, delayMs);
        if (!proxy->listen())
            return fail("the proxy cannot listen: " + proxy->errorString());
        port = proxy->port();
    }

    std::printf("port %u\n", unsigned(port));
    if (parser.isSet(tls)) {
        const QSslCertificate certificate =
            QSslCertificate::fromPath(server.serverCertificatePath()).value(0);
        std::printf("tls-port %u\nfingerprint %s\ncertificate %s\n", unsigned(server.tlsPort()),
                    certificate.digest(QCryptographicHash::Sha256).toHex().constData(),
                    qPrintable(server.serverCertificatePath()));
    }
    std::fflush(stdout);
    if (!stopWatch.stopped())
        app.exec();

    proxy.reset();
    server.stop();
    return 0;
}

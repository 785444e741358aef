#include "DovecotFixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QSslCertificate>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <functional>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

namespace testsupport
{

namespace
{

constexpr int pollMs = 50;
constexpr int startTimeoutMs = 10000;
constexpr int stopTimeoutMs = 10000;
constexpr int portAttempts = 5;

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Re-tests the condition every pollMs until it holds or the time is up.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        pause(pollMs);
    }
    return true;
}

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The fields of /proc/<pid>/stat after the command name, which may itself hold spaces.
QList<QByteArray> statFields(qint64 pid)
{
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype end = stat.lastIndexOf(')');
    if (end < 0)
        return {};
    return stat.mid(end + 1).simplified().split(' ');
}

// A zombie counts as gone: the daemon is not our child, and nobody may reap it here.
bool processAlive(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    return !fields.isEmpty() && fields.first() != "Z";
}

QList<qint64> descendantsOf(qint64 root)
{
    QList<qint64> found{root};
    // Dovecot's children are started by the master only, so one level below it would do; walking
    // the whole tree keeps this right if that changes.
    for (qsizetype i = 0; i < found.size(); ++i) {
        const QStringList entries =
            QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &entry : entries) {
            bool isPid = false;
            const qint64 pid = entry.toLongLong(&isPid);
            if (!isPid || found.contains(pid))
                continue;
            const QList<QByteArray> fields = statFields(pid);
            if (fields.size() > 1 && fields.at(1).toLongLong() == found.at(i))
                found.append(pid);
        }
    }
    found.removeFirst();
    return found;
}

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

bool makeDir(const QString &path)
{
    return QDir().mkpath(path);
}

} // namespace

DovecotFixture::DovecotFixture() : m_dir(QDir::tempPath() + QStringLiteral("/dovecot-XXXXXX"))
{
    const passwd *nobody = getpwnam("nobody");
    const group *nogroup = getgrnam("nogroup");
    m_mailUid = nobody ? nobody->pw_uid : 65534;
    m_mailGid = nogroup ? nogroup->gr_gid : 65534;
    if (!m_dir.isValid())
        return;
    // The mail sessions run as nobody and must reach the maildirs below this folder.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                            QFile::ExeOther);
    makeDir(path(QStringLiteral("run")));
    makeDir(path(QStringLiteral("state")));
    makeDir(path(QStringLiteral("mail")));
    makeOwned(path(QStringLiteral("mail")));
    writePasswd();
}

DovecotFixture::DovecotFixture(const Users &users) : DovecotFixture()
{
    for (const auto &[user, password] : users)
        addUser(user, password);
}

DovecotFixture::~DovecotFixture()
{
    stop();
}

QString DovecotFixture::binaryPath()
{
    return QStringLiteral("/usr/sbin/dovecot");
}

bool DovecotFixture::isInstalled()
{
    return QFileInfo(binaryPath()).isExecutable();
}

void DovecotFixture::addUser(const QString &user, const QString &password)
{
    m_users.append({user, password});
    const QString home = maildir(user);
    makeDir(home);
    makeOwned(home);
    for (const char *sub : {"new", "cur", "tmp"}) {
        makeDir(home + QLatin1Char('/') + QLatin1String(sub));
        makeOwned(home + QLatin1Char('/') + QLatin1String(sub));
    }
    // Dovecot notices the changed file by itself, so users can be added while it runs.
    writePasswd();
}

bool DovecotFixture::start(QString *error)
{
    QString reason;
    if (m_running) {
        return true;
    } else if (geteuid() != 0) {
        reason =
            QStringLiteral("The Dovecot fixture must run as root (Dovecot switches to nobody for the mail "
                           "sessions); this process runs as uid %1.")
                .arg(geteuid());
    } else if (!isInstalled()) {
        reason = QStringLiteral("Dovecot is not installed: %1 is missing (Debian package dovecot-pop3d).")
                     .arg(binaryPath());
    } else if (!m_dir.isValid()) {
        reason = QStringLiteral("Cannot create a temporary folder for Dovecot: %1").arg(m_dir.errorString());
    } else {
        // Another process may take the chosen port between our probe and Dovecot's bind.
        for (int attempt = 0; attempt < portAttempts; ++attempt) {
            bool portTaken = false;
            if (startOnce(&reason, &portTaken)) {
                m_running = true;
                return true;
            }
            if (!portTaken)
                break;
        }
    }
    if (error)
        *error = reason;
    return false;
}

QString DovecotFixture::opensslPath()
{
    return QStringLiteral("/usr/bin/openssl");
}

bool DovecotFixture::openssl(const QStringList &arguments, QString *error) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(path(QStringLiteral("tls")));
    process.start(opensslPath(), arguments);
    if (process.waitForFinished(startTimeoutMs) && process.exitStatus() == QProcess::NormalExit &&
        process.exitCode() == 0)
        return true;
    process.kill();
    process.waitForFinished(startTimeoutMs);
    if (error)
        *error = QStringLiteral("openssl %1 failed: %2\n%3")
                     .arg(arguments.join(QLatin1Char(' ')), process.errorString(),
                          QString::fromLocal8Bit(process.readAll()));
    return false;
}

bool DovecotFixture::makeAuthority(QString *error)
{
    if (QFileInfo::exists(caCertificatePath()))
        return true;
    // Elliptic-curve keys: made in milliseconds, where RSA keys would slow every test down.
    return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                    QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                    QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                    QStringLiteral("ca.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                    QStringLiteral("-subj"), QStringLiteral("/O=Mailvane tests/CN=Mailvane Test Authority"),
                    QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:TRUE"),
                    QStringLiteral("-addext"), QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")},
                   error);
}

bool DovecotFixture::setCertificate(Certificate kind, QString *error)
{
    QString reason;
    const auto failed = [&] {
        if (error)
            *error = reason;
        return false;
    };
    if (kind == Certificate::None) {
        m_certificate = kind;
        return true;
    }
    if (!QFileInfo(opensslPath()).isExecutable()) {
        reason = QStringLiteral("openssl is not installed: %1 is missing (Debian package openssl).")
                     .arg(opensslPath());
        return failed();
    }
    if (!makeDir(path(QStringLiteral("tls"))) || !makeAuthority(&reason))
        return failed();

    const bool forUs = kind != Certificate::OtherHost;
    const QString names =
        forUs ? QStringLiteral("IP:127.0.0.1,DNS:localhost") : QStringLiteral("DNS:mail.example.org");
    const QString subject = forUs ? QStringLiteral("/O=Mailvane tests/CN=127.0.0.1")
                                  : QStringLiteral("/O=Mailvane tests/CN=mail.example.org");
    const QStringList newKey = {QStringLiteral("-newkey"),
                                QStringLiteral("ec"),
                                QStringLiteral("-pkeyopt"),
                                QStringLiteral("ec_paramgen_curve:prime256v1"),
                                QStringLiteral("-nodes"),
                                QStringLiteral("-keyout"),
                                QStringLiteral("server.key"),
                                QStringLiteral("-subj"),
                                subject};
    if (kind == Certificate::SelfSigned) {
        if (!openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + newKey +
                         QStringList{QStringLiteral("-out"), QStringLiteral("server.crt"),
                                     QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-addext"),
                                     QStringLiteral("subjectAltName=") + names},
                     &reason))
            return failed();
    } else {
        QFile extensions(path(QStringLiteral("tls/server.ext")));
        if (!extensions.open(QIODevice::WriteOnly) ||
            extensions.write(QStringLiteral("subjectAltName=%1\nbasicConstraints=CA:FALSE\n"
                                            "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n")
                                 .arg(names)
                                 .toLatin1()) < 0) {
            reason = QStringLiteral("Cannot write %1").arg(extensions.fileName());
            return failed();
        }
        extensions.close();
        if (!openssl(QStringList{QStringLiteral("req"), QStringLiteral("-new")} + newKey +
                         QStringList{QStringLiteral("-out"), QStringLiteral("server.csr")},
                     &reason) ||
            !openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                      QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                      QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-set_serial"),
                      QString::number(++m_serial), QStringLiteral("-days"), QStringLiteral("2"),
                      QStringLiteral("-extfile"), QStringLiteral("server.ext"), QStringLiteral("-out"),
                      QStringLiteral("server.crt")},
                     &reason))
            return failed();
    }
    m_certificate = kind;
    return true;
}

bool DovecotFixture::startOnce(QString *error, bool *portTaken)
{
    m_port = freeLoopbackPort();
    m_tlsPort = 0;
    for (int attempt = 0; m_certificate != Certificate::None && attempt < portAttempts; ++attempt) {
        if (const quint16 port = freeLoopbackPort(); port != m_port) {
            m_tlsPort = port;
            break;
        }
    }
    if (m_port == 0 || (m_certificate != Certificate::None && m_tlsPort == 0)) {
        *error = QStringLiteral("No free loopback port for Dovecot.");
        return false;
    }
    writeConfig();

    // The master binds its listeners before it detaches, so a taken port shows in its exit code.
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(binaryPath(), {QStringLiteral("-c"), path(QStringLiteral("dovecot.conf"))});
    const bool finished = process.waitForFinished(startTimeoutMs);
    m_startOutput = QString::fromLocal8Bit(process.readAll());
    if (!finished) {
        process.kill();
        process.waitForFinished(startTimeoutMs);
        *error =
            QStringLiteral("Dovecot did not detach within %1 ms.\n%2").arg(startTimeoutMs).arg(logText());
        stop();
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *portTaken = m_startOutput.contains(QLatin1String("Address already in use"));
        *error = QStringLiteral("Dovecot failed to start (exit code %1).\n%2")
                     .arg(process.exitCode())
                     .arg(logText());
        return false;
    }
    if (!waitForGreeting(startTimeoutMs)) {
        *error = QStringLiteral("Dovecot started but did not greet on %1:%2 within %3 ms.\n%4")
                     .arg(host())
                     .arg(m_port)
                     .arg(startTimeoutMs)
                     .arg(logText());
        stop();
        return false;
    }
    return true;
}

bool DovecotFixture::waitForGreeting(int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    do {
        QTcpSocket socket;
        socket.connectToHost(host(), m_port);
        if (socket.waitForConnected(int(deadline.remainingTime()))) {
            QByteArray greeting;
            while (!greeting.contains('\n') && socket.waitForReadyRead(int(deadline.remainingTime())))
                greeting += socket.readAll();
            return greeting.startsWith("+OK");
        }
        pause(pollMs);
    } while (!deadline.hasExpired());
    return false;
}

void DovecotFixture::stop()
{
    const qint64 pid = masterPid();
    m_running = false;
    // Only a live Dovecot master: the pid file may be stale and the number taken by another process.
    if (pid <= 0 || !processAlive(pid) ||
        readSmallFile(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed() != "dovecot")
        return;
    QList<qint64> processes = descendantsOf(pid);
    processes.prepend(pid);
    const auto allGone = [&processes] {
        return std::none_of(processes.cbegin(), processes.cend(), processAlive);
    };
    // The whole tree at once: the master alone lets a session with an open client connection
    // outlive it, and waits a second for its log process.
    const auto signalAll = [&processes](int signal) {
        for (qint64 p : std::as_const(processes)) {
            if (processAlive(p))
                ::kill(pid_t(p), signal);
        }
    };
    signalAll(SIGTERM);
    if (waitUntil(allGone, stopTimeoutMs))
        return;
    signalAll(SIGKILL);
    if (!waitUntil(allGone, stopTimeoutMs))
        qWarning("Dovecot processes below pid %lld did not end", pid);
}

bool DovecotFixture::isRunning() const
{
    return m_running && processAlive(masterPid());
}

QString DovecotFixture::deliver(const QString &user, const QByteArray &rfc822)
{
    const QString home = maildir(user);
    if (!QFileInfo(home + QStringLiteral("/new")).isDir()) {
        qWarning("DovecotFixture::deliver: no mailbox for user %s", qPrintable(user));
        return {};
    }
    // Dovecot orders new messages by the time stamp and then the M field of their names.
    ++m_delivered;
    const QString name = QStringLiteral("%1.M%2P%3.mailvane")
                             .arg(1700000000 + m_delivered)
                             .arg(m_delivered, 6, 10, QLatin1Char('0'))
                             .arg(QCoreApplication::applicationPid());
    // Written in tmp/ and moved into new/, so a running server never sees half a message.
    const QString temporary = home + QStringLiteral("/tmp/") + name;
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly) || file.write(rfc822) != rfc822.size()) {
        qWarning("DovecotFixture::deliver: cannot write %s", qPrintable(temporary));
        return {};
    }
    file.close();
    makeOwned(temporary);
    if (!QFile::rename(temporary, home + QStringLiteral("/new/") + name)) {
        qWarning("DovecotFixture::deliver: cannot move %s into new/", qPrintable(temporary));
        return {};
    }
    return name;
}

QStringList DovecotFixture::messageFiles(const QString &user) const
{
    QStringList names;
    for (const char *sub : {"new", "cur"}) {
        const QStringList entries =
            QDir(maildir(user) + QLatin1Char('/') + QLatin1String(sub)).entryList(QDir::Files);
        for (const QString &entry : entries)
            names.append(entry.section(QLatin1Char(':'), 0, 0));
    }
    names.sort();
    return names;
}

QString DovecotFixture::maildir(const QString &user) const
{
    return path(QStringLiteral("mail/") + user);
}

QString DovecotFixture::logText() const
{
    QString text = QString::fromLocal8Bit(readSmallFile(path(QStringLiteral("dovecot.log"))));
    if (!m_startOutput.isEmpty())
        text += QStringLiteral("\n--- dovecot start output ---\n") + m_startOutput;
    return text;
}

void DovecotFixture::writeConfig() const
{
    const QString dir = m_dir.path();
    // With ssl = yes the plain listener offers STLS and still takes plain-text log-ins.
    const QString tls =
        m_certificate == Certificate::None
            ? QStringLiteral("ssl = no")
            : QStringLiteral("ssl = yes\nssl_cert = <%1\nssl_key = <%2\nssl_min_protocol = TLSv1.2")
                  .arg(serverCertificatePath(), path(QStringLiteral("tls/server.key")));
    const QString config = QStringLiteral(R"(protocols = pop3
listen = 127.0.0.1
base_dir = %1/run
state_dir = %1/state
log_path = %1/dovecot.log
%5
disable_plaintext_auth = no
auth_mechanisms = %7
auth_verbose = yes
auth_failure_delay = 0
default_login_user = nobody
default_internal_user = root
first_valid_uid = 1
mail_location = maildir:%1/mail/%u
%8passdb {
  driver = passwd-file
  args = %1/passwd
}
userdb {
  driver = static
  args = uid=%3 gid=%4 home=%1/mail/%u
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = %2
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = %6
  }
}
service anvil {
  chroot =
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
)")
                               .arg(dir)
                               .arg(m_port)
                               .arg(m_mailUid)
                               .arg(m_mailGid)
                               .arg(tls)
                               .arg(tlsPort())
                               .arg(m_introspectionUrl.isEmpty() ? QStringLiteral("plain")
                                                                 : QStringLiteral("plain xoauth2 oauthbearer"))
                               .arg(m_introspectionUrl.isEmpty()
                                        ? QString()
                                        : QStringLiteral("passdb {\n  driver = oauth2\n  mechanisms = xoauth2 "
                                                         "oauthbearer\n  args = %1/oauth2.conf\n}\n")
                                              .arg(dir));
    if (!m_introspectionUrl.isEmpty()) {
        QFile oauth2(path(QStringLiteral("oauth2.conf")));
        const QByteArray settings = "introspection_mode = post\nintrospection_url = " + m_introspectionUrl.toUtf8() +
                                    "\nusername_attribute = username\nactive_attribute = active\n"
                                    "active_value = true\n";
        if (!oauth2.open(QIODevice::WriteOnly) || oauth2.write(settings) < 0)
            qWarning("DovecotFixture: cannot write %s", qPrintable(oauth2.fileName()));
    }
    QFile file(path(QStringLiteral("dovecot.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        qWarning("DovecotFixture: cannot write %s", qPrintable(file.fileName()));
}

void DovecotFixture::writePasswd() const
{
    QByteArray lines;
    for (const auto &[user, password] : m_users)
        lines += user.toUtf8() + ":{PLAIN}" + password.toUtf8() + '\n';
    QFile file(path(QStringLiteral("passwd")));
    if (!file.open(QIODevice::WriteOnly) || file.write(lines) < 0)
        qWarning("DovecotFixture: cannot write %s", qPrintable(file.fileName()));
}

void DovecotFixture::makeOwned(const QString &target) const
{
    if (::chown(QFile::encodeName(target).constData(), m_mailUid, m_mailGid) != 0 && geteuid() == 0)
        qWarning("DovecotFixture: cannot give %s to the mail user", qPrintable(target));
}

qint64 DovecotFixture::masterPid() const
{
    return readSmallFile(path(QStringLiteral("run/master.pid"))).trimmed().toLongLong();
}

QString DovecotFixture::path(const QString &relative) const
{
    return m_dir.filePath(relative);
}

QByteArray DovecotFixture::makeMessage(const std::optional<QString> &from,
                                       const std::optional<QString> &subject, int bodyBytes,
                                       const QList<QByteArray> &extraHeaders, bool crlf)
{
    const QByteArray eol = crlf ? "\r\n" : "\n";
    const auto line = [](const QByteArray &name, const QByteArray &value) {
        return value.isEmpty() ? name + ':' : name + ": " + value;
    };
    QList<QByteArray> headers;
    if (from)
        headers.append(line("From", from->toUtf8()));
    headers.append(line("To", "Recipient <recipient@example.org>"));
    if (subject)
        headers.append(line("Subject", subject->toUtf8()));
    headers.append(line("Date", "Mon, 15 Jan 2024 09:30:00 +0000"));
    headers.append(
        line("Message-ID", '<' + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@example.org>"));
    headers.append(line("MIME-Version", "1.0"));
    headers.append(line("Content-Type", "text/plain; charset=us-ascii"));
    headers.append(line("Content-Transfer-Encoding", "7bit"));
    const auto nameOf = [](const QByteArray &header) {
        return header.left(header.indexOf(':')).trimmed().toLower();
    };
    for (const QByteArray &extra : extraHeaders) {
        const auto same = std::find_if(headers.begin(), headers.end(),
                                       [&](const QByteArray &h) { return nameOf(h) == nameOf(extra); });
        if (same != headers.end())
            *same = extra;
        else
            headers.append(extra);
    }

    QByteArray message = headers.join(eol) + eol + eol;
    constexpr QByteArrayView filler = "The quick brown fox jumps over the lazy dog. ";
    constexpr int lineWidth = 72;
    qsizetype remaining = qMax(bodyBytes, 0);
    while (remaining > 0) {
        // Full lines with their line end; a tail shorter than a line end becomes text.
        const qsizetype width =
            remaining < eol.size() ? remaining : qMin<qsizetype>(lineWidth, remaining - eol.size());
        for (qsizetype i = 0; i < width; ++i)
            message += filler.at(i % filler.size());
        remaining -= width;
        if (remaining >= eol.size()) {
            message += eol;
            remaining -= eol.size();
        }
    }
    return message;
}

QByteArray DovecotFixture::withCrlf(const QByteArray &message)
{
    QByteArray result;
    result.reserve(message.size() + message.count('\n'));
    for (qsizetype i = 0; i < message.size(); ++i) {
        if (message.at(i) == '\n' && (i == 0 || message.at(i - 1) != '\r'))
            result += '\r';
        result += message.at(i);
    }
    return result;
}

TrustedTestAuthority::TrustedTestAuthority(const QString &caCertificatePath)
    : m_previous(QSslConfiguration::defaultConfiguration())
{
    const QList<QSslCertificate> authority = QSslCertificate::fromPath(caCertificatePath);
    m_valid = authority.size() == 1;
    if (!m_valid)
        return;
    QSslConfiguration configuration = m_previous;
    configuration.addCaCertificates(authority);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

TrustedTestAuthority::~TrustedTestAuthority()
{
    QSslConfiguration::setDefaultConfiguration(m_previous);
}

} // namespace testsupport

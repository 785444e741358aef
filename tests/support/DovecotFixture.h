#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslConfiguration>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>
#include <sys/types.h>

namespace testsupport
{

// A throwaway Dovecot POP3 server on a free loopback port, with its configuration, users and
// maildirs under a temporary folder. Needs root (Dovecot drops to nobody for the mail sessions).
// The server is stopped, and the folder removed, when the fixture goes.
//
// With a certificate chosen (setCertificate, before start) the server also speaks TLS: STLS on
// the plain port and POP3 over TLS on tlsPort(). The certificates are made with openssl under the
// temporary folder, signed by a certificate authority of the fixture's own (caCertificatePath)
// that nothing trusts until a test says so (TrustedTestAuthority).
class DovecotFixture
{
public:
    using Users = QList<QPair<QString, QString>>; // user name, password

    enum class Certificate {
        None,       // plain POP3 only
        Valid,      // for 127.0.0.1 and localhost, signed by the fixture's authority
        OtherHost,  // for mail.example.org, signed by the fixture's authority
        SelfSigned, // for 127.0.0.1 and localhost, signed by itself
    };

    DovecotFixture();
    explicit DovecotFixture(const Users &users);
    ~DovecotFixture();
    DovecotFixture(const DovecotFixture &) = delete;
    DovecotFixture &operator=(const DovecotFixture &) = delete;

    static QString binaryPath();
    static bool isInstalled();

    // Adds a mailbox with an empty maildir; works before and after start().
    void addUser(const QString &user, const QString &password);

    // Makes a fresh server certificate of that kind (a new key each time, so a new fingerprint)
    // for the next start(). False, with openssl's output in *error, when openssl fails.
    bool setCertificate(Certificate kind, QString *error = nullptr);
    Certificate certificate() const { return m_certificate; }
    static QString opensslPath();
    // The PEM files of the fixture's authority and of the certificate the server presents.
    QString caCertificatePath() const { return path(QStringLiteral("tls/ca.crt")); }
    QString serverCertificatePath() const { return path(QStringLiteral("tls/server.crt")); }

    // Lets the server also take OAuth 2.0 bearer tokens (SASL XOAUTH2 and OAUTHBEARER) through its
    // oauth2 passdb, which asks this RFC 7662 introspection endpoint (POST) of every token; the
    // endpoint's "username" must be the user logging in. For the next start().
    void setOAuth2Introspection(const QString &url) { m_introspectionUrl = url; }

    // Starts the server and waits until it greets. On failure returns false with the reason
    // (and the log) in *error.
    bool start(QString *error = nullptr);
    // Stops the server and waits until its processes are gone. Safe to call more than once.
    void stop();
    bool isRunning() const;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }
    // The POP3-over-TLS port; 0 without a certificate.
    quint16 tlsPort() const { return m_certificate == Certificate::None ? 0 : m_tlsPort; }

    // Puts a message into the user's maildir new/ as it stands (LF or CRLF line ends) and returns
    // its file name. Names sort in delivery order, so POP3 message numbers follow delivery order.
    QString deliver(const QString &user, const QByteArray &rfc822);
    // File names of the user's messages in new/ and cur/, without the ":2,..." flag suffix that
    // Dovecot adds when it moves a message to cur/, so they compare with deliver()'s result.
    QStringList messageFiles(const QString &user) const;
    QString maildir(const QString &user) const;

    // The server's log and the output of the last start attempt, for failure messages.
    QString logText() const;

    // A plain-text message with From, To, Subject, Date, Message-ID, MIME-Version, Content-Type
    // and Content-Transfer-Encoding headers and a body of exactly bodyBytes bytes (line ends
    // included). A from or subject of std::nullopt leaves that header out; an empty one gives
    // the header with an empty value. An extra header line ("Name: value") replaces the default
    // header of the same name, or is added after them.
    static QByteArray makeMessage(const std::optional<QString> &from, const std::optional<QString> &subject,
                                  int bodyBytes, const QList<QByteArray> &extraHeaders = {},
                                  bool crlf = true);
    // The message with every line end as CR LF: its size is the size a POP3 server reports.
    static QByteArray withCrlf(const QByteArray &message);

private:
    bool startOnce(QString *error, bool *portTaken);
    bool makeAuthority(QString *error);
    bool openssl(const QStringList &arguments, QString *error) const;
    bool waitForGreeting(int timeoutMs) const;
    void writeConfig() const;
    void writePasswd() const;
    void makeOwned(const QString &path) const;
    qint64 masterPid() const;
    QString path(const QString &relative) const;

    QTemporaryDir m_dir;
    Users m_users;
    quint16 m_port = 0;
    quint16 m_tlsPort = 0;
    Certificate m_certificate = Certificate::None;
    int m_serial = 1;
    bool m_running = false;
    int m_delivered = 0;
    QString m_startOutput;
    QString m_introspectionUrl;
    uid_t m_mailUid = 0;
    gid_t m_mailGid = 0;
};

// Makes Qt's TLS connections trust a fixture's certificate authority (besides the system's ones)
// while it lives: it adds the authority to the process's default TLS configuration, from which
// every socket made or connected meanwhile takes its own, and restores the previous default.
class TrustedTestAuthority
{
public:
    explicit TrustedTestAuthority(const QString &caCertificatePath);
    ~TrustedTestAuthority();
    TrustedTestAuthority(const TrustedTestAuthority &) = delete;
    TrustedTestAuthority &operator=(const TrustedTestAuthority &) = delete;
    bool isValid() const { return m_valid; }

private:
    QSslConfiguration m_previous;
    bool m_valid = false;
};

} // namespace testsupport

// In a test's initTestCase: without Dovecot, fail on CI and skip elsewhere.
#define MAILVANE_REQUIRE_DOVECOT()                                                                           \
    do {                                                                                                     \
        if (!testsupport::DovecotFixture::isInstalled()) {                                                   \
            const QString reason = QStringLiteral("Dovecot is not installed (%1)")                           \
                                       .arg(testsupport::DovecotFixture::binaryPath());                      \
            if (testsupport::runningInCi())                                                                  \
                QFAIL(qPrintable(reason));                                                                   \
            QSKIP(qPrintable(reason));                                                                       \
        }                                                                                                    \
    } while (false)

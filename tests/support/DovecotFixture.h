#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QList>
#include <QPair>
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
class DovecotFixture
{
public:
    using Users = QList<QPair<QString, QString>>; // user name, password

    DovecotFixture();
    explicit DovecotFixture(const Users &users);
    ~DovecotFixture();
    DovecotFixture(const DovecotFixture &) = delete;
    DovecotFixture &operator=(const DovecotFixture &) = delete;

    static QString binaryPath();
    static bool isInstalled();

    // Adds a mailbox with an empty maildir; works before and after start().
    void addUser(const QString &user, const QString &password);

    // Starts the server and waits until it greets. On failure returns false with the reason
    // (and the log) in *error.
    bool start(QString *error = nullptr);
    // Stops the server and waits until its processes are gone. Safe to call more than once.
    void stop();
    bool isRunning() const;

    QString host() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }

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
    bool waitForGreeting(int timeoutMs) const;
    void writeConfig() const;
    void writePasswd() const;
    void makeOwned(const QString &path) const;
    qint64 masterPid() const;
    QString path(const QString &relative) const;

    QTemporaryDir m_dir;
    Users m_users;
    quint16 m_port = 0;
    bool m_running = false;
    int m_delivered = 0;
    QString m_startOutput;
    uid_t m_mailUid = 0;
    gid_t m_mailGid = 0;
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

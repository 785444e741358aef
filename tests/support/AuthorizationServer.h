#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QUrl>

namespace testsupport {

// The stand-in OAuth 2.0 authorization server (oauth/authorization_server.py) on a loopback port,
// started by the test and ended with it. It signs in the one client id and user it is started
// with, checking PKCE S256, the state and the redirect address, and can expire and revoke tokens.
class AuthorizationServer
{
public:
    explicit AuthorizationServer(const QString &clientId = QStringLiteral("mailvane-test"),
                                 const QString &user = QStringLiteral("alice"));
    ~AuthorizationServer();

    bool isRunning() const { return m_port != 0; }
    QString error() const { return m_error; }
    QUrl url(const QString &path) const;
    // POSTs settings to /control: expires_in (seconds), refuse, wrong_state, expire_access,
    // revoke_refresh.
    bool control(const QJsonObject &settings);
    // What it was asked: authorize, code_grants, refresh_grants, refused_grants,
    // introspections, active_introspections, and problems (what it found wrong).
    QJsonObject log();

    // The stand-in browser (follows the redirects at once), for $BROWSER.
    static QString browserScript();

private:
    QProcess m_process;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace testsupport

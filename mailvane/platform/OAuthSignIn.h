#pragma once

#include "platform/AccessTokens.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>

#include <QEventLoop>

// One sign-in with the authorization-code flow for native apps (RFC 8252): a listener on a free
// loopback port takes the browser's redirect, the request carries a PKCE S256 challenge and a
// random state, and the code is exchanged for the tokens. The first redirect ends the wait,
// whatever it carries: a wrong state or an error (the user refused) fails at once, without a
// code exchange. The wait for the browser is bounded and can be cancelled.
//
// Who opens the browser is the caller's choice: it connects to authorizationUrl (the program
// opens the system browser; the command line prints the address as well).
class OAuthSignIn : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::minutes DefaultBrowserWait{5};
    // The page the browser shows after the redirect.
    static inline const QString PageText = QStringLiteral("Signed in. You can close this page.");

    explicit OAuthSignIn(QObject *parent = nullptr);
    ~OAuthSignIn() override;

    void setBrowserWait(std::chrono::milliseconds wait) { m_browserWait = wait; }
    // Runs the flow for the account and returns when it is over; the event loop keeps running.
    TokenResult run(const TokenAccount &account);
    bool running() const { return m_wait != nullptr; }

public slots:
    void cancel();

signals:
    // The provider's page the user must visit; emitted once per run.
    void authorizationUrl(const QUrl &url);

private:
    std::chrono::milliseconds m_browserWait = DefaultBrowserWait;
    QPointer<QEventLoop> m_wait;
    TokenEndpoint m_endpoint;
};

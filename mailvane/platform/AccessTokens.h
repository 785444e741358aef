#pragma once

#include "settings/Account.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

#include <QEventLoop>
class QNetworkAccessManager;

// What a token source needs of an account.
struct TokenAccount {
    QString name;
    QString userName;
    OAuthAccount oauth;
    QString refreshToken;    // empty when the account was never signed in
    int timeoutSeconds = 30; // bound of a token request
};

// The outcome of asking for an access token. error is what the user sees after "<account>: ".
struct TokenResult {
    enum class Status { Ok, NotSignedIn, Expired, Failed, Cancelled };
    Status status = Status::Failed;
    QString accessToken;
    QString refreshToken; // a new refresh token the provider issued, to keep in place of the old one
    qint64 expiresIn = 0; // seconds; 0 when the provider did not say
    QString error;

    bool ok() const { return status == Status::Ok; }
    static TokenResult failed(Status status, const QString &error) { return {status, {}, {}, 0, error}; }
};

// The texts of the failures.
namespace TokenErrors
{
inline const QString NotSignedIn = QStringLiteral("Not Signed In");
inline const QString SignInExpired = QStringLiteral("Sign-in Expired");
inline const QString TokenCommandFailed = QStringLiteral("Token Command Failed: ");
inline const QString TokenRequestFailed = QStringLiteral("Token Request Failed: ");
inline const QString EndpointNotSecure = QStringLiteral("Sign-in Address Not Secure: ");
inline const QString SignInFailed = QStringLiteral("Sign-in Failed: ");
} // namespace TokenErrors

// Why an authorization or token endpoint must not be used, or empty when it may: it must be
// https, or http on a loopback address (127.0.0.1, ::1, localhost).
QString endpointProblem(const QUrl &url);

// Yields the access token for a log-in. A token that the source holds is reused while it is good
// for more than a minute; otherwise it runs the account's token command (which, when set, takes
// precedence over the endpoints) or renews the token with the refresh token. It never asks the
// user: an account that needs a new sign-in gets Expired or NotSignedIn. Every call returns within
// a bound and keeps the caller's event loop running; cancel() ends the wait in progress.
class TokenSource
{
public:
    virtual ~TokenSource() = default;
    virtual TokenResult accessToken(const TokenAccount &account) = 0;
    // Holds a token obtained elsewhere (by a sign-in) for the account.
    virtual void remember(const QString &account, const QString &accessToken, qint64 expiresIn) = 0;
    virtual void forget(const QString &account) = 0;
    virtual void cancel() = 0;
};

// Runs a token command: its standard output's first line is the access token. Bounded by
// timeout (30 s for the programs).
TokenResult runTokenCommand(const QString &command, std::chrono::milliseconds timeout);

// Posts a form to a token endpoint and reads its JSON answer, within timeoutSeconds; the caller's
// event loop keeps running. A refused refresh (invalid_grant) is Expired.
class TokenEndpoint : public QObject
{
    Q_OBJECT
public:
    explicit TokenEndpoint(QObject *parent = nullptr);
    ~TokenEndpoint() override;
    TokenResult post(const QUrl &url, const QList<std::pair<QString, QString>> &form, int timeoutSeconds);
    void cancel();

private:
    QNetworkAccessManager *network();
    std::unique_ptr<QNetworkAccessManager> m_network;
    QPointer<QEventLoop> m_wait;
};

// The real token source: token commands and refresh grants over HTTPS.
class OAuthTokenSource : public TokenSource
{
public:
    // How long a token must still be good for to be used for a log-in.
    static constexpr qint64 RenewWithinSeconds = 60;
    static constexpr std::chrono::seconds TokenCommandBound{30};

    TokenResult accessToken(const TokenAccount &account) override;
    void remember(const QString &account, const QString &accessToken, qint64 expiresIn) override;
    void forget(const QString &account) override { m_held.remove(account); }
    void cancel() override { m_endpoint.cancel(); }

    // The refresh grant alone.
    TokenResult refresh(const TokenAccount &account);
    // The time against which held tokens expire; the system clock unless a test moves it.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

private:
    std::function<QDateTime()> m_clock = [] { return QDateTime::currentDateTimeUtc(); };
    struct Held {
        QString token;
        QDateTime expires;
    };
    QHash<QString, Held> m_held;
    TokenEndpoint m_endpoint;
};

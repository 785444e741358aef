#include "platform/OAuthSignIn.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QHostAddress>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>
#include <QTimer>

namespace
{

// Random URL-safe text of n bytes' entropy (PKCE verifier, state).
QString randomText(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(raw.data()), bytes / 4);
    return QString::fromLatin1(raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

OAuthSignIn::OAuthSignIn(QObject *parent) : QObject(parent) {}
OAuthSignIn::~OAuthSignIn() = default;

void OAuthSignIn::cancel()
{
    if (m_wait)
        m_wait->exit(1);
    m_endpoint.cancel();
}

TokenResult OAuthSignIn::run(const TokenAccount &account)
{
    using Status = TokenResult::Status;
    const OAuthAccount &oauth = account.oauth;
    for (const QString &address : {oauth.authorizeUrl, oauth.tokenUrl}) {
        if (const QString problem = endpointProblem(QUrl(address)); !problem.isEmpty())
            return TokenResult::failed(Status::Failed, TokenErrors::EndpointNotSecure + problem);
    }
    if (oauth.clientId.isEmpty())
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::SignInFailed + QStringLiteral("no client id"));

    QOAuthHttpServerReplyHandler listener(QHostAddress::LocalHost, 0);
    if (!listener.isListening())
        return TokenResult::failed(Status::Failed, TokenErrors::SignInFailed +
                                                       QStringLiteral("cannot listen on a loopback port"));
    listener.setCallbackText(PageText);
    // The code exchange names the same redirect address as the request; after close() the
    // listener would report port 0.
    const QString redirectUri = listener.callback();

    const QString verifier = randomText(48);
    const QString challenge =
        QString::fromLatin1(QCryptographicHash::hash(verifier.toLatin1(), QCryptographicHash::Sha256)
                                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    const QString state = randomText(24);

    QOAuth2AuthorizationCodeFlow flow;
    flow.setAuthorizationUrl(QUrl(oauth.authorizeUrl));
    flow.setAccessTokenUrl(QUrl(oauth.tokenUrl));
    flow.setClientIdentifier(oauth.clientId);
    flow.setScope(oauth.scope);
    flow.setState(state);
    flow.setReplyHandler(&listener);
    const bool google = oauth.provider == QLatin1String("google");
    flow.setModifyParametersFunction(
        [&](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant> *parameters) {
            if (stage != QAbstractOAuth::Stage::RequestingAuthorization)
                return;
            parameters->insert(QStringLiteral("code_challenge"), challenge);
            parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            if (!account.userName.isEmpty())
                parameters->insert(QStringLiteral("login_hint"), account.userName);
            if (google)
                parameters->insert(QStringLiteral("access_type"), QStringLiteral("offline"));
        });
    connect(&flow, &QAbstractOAuth::authorizeWithBrowser, this, &OAuthSignIn::authorizationUrl);

    QVariantMap redirect;
    bool redirected = false;
    QEventLoop wait;
    m_wait = &wait;
    connect(&listener, &QAbstractOAuthReplyHandler::callbackReceived, &wait, [&](const QVariantMap &values) {
        if (std::exchange(redirected, true))
            return;
        redirect = values;
        wait.exit(0);
    });
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, &wait, [&] { wait.exit(2); });
    bound.start(m_browserWait);
    flow.grant();
    // The redirect is handled here, not by the flow, which in Qt 6.4 may only warn about a wrong
    // state and go on waiting (grant() has connected it to the listener).
    QObject::disconnect(&listener, nullptr, &flow, nullptr);
    const int outcome = wait.exec();
    m_wait = nullptr;
    listener.close();
    if (outcome == 1)
        return TokenResult::failed(Status::Cancelled,
                                   TokenErrors::SignInFailed + QStringLiteral("cancelled"));
    if (outcome == 2)
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::SignInFailed + QStringLiteral("no answer from the browser "
                                                                              "within %1 minutes")
                                                                   .arg(m_browserWait.count() / 60000));
    if (const QString error = redirect.value(QStringLiteral("error")).toString(); !error.isEmpty()) {
        const QString description = redirect.value(QStringLiteral("error_description")).toString();
        return TokenResult::failed(
            Status::Failed,
            TokenErrors::SignInFailed + QStringLiteral("the provider said ") + error +
                (description.isEmpty() ? QString() : QStringLiteral(" (") + description + QLatin1Char(')')));
    }
    if (redirect.value(QStringLiteral("state")).toString() != state)
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::SignInFailed +
                                       QStringLiteral("the answer does not belong to this sign-in"));
    const QString code = redirect.value(QStringLiteral("code")).toString();
    if (code.isEmpty())
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::SignInFailed + QStringLiteral("no authorization code"));

    QList<std::pair<QString, QString>> form{
        {QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
        {QStringLiteral("code"), code},
        {QStringLiteral("redirect_uri"), redirectUri},
        {QStringLiteral("client_id"), oauth.clientId},
        {QStringLiteral("code_verifier"), verifier}};
    if (!oauth.clientSecret.isEmpty())
        form.append({QStringLiteral("client_secret"), oauth.clientSecret});
    TokenResult result = m_endpoint.post(QUrl(oauth.tokenUrl), form, account.timeoutSeconds);
    // An exchange refused is no expired sign-in: the sign-in itself failed.
    if (result.status == Status::Expired)
        result = TokenResult::failed(Status::Failed,
                                     TokenErrors::SignInFailed + QStringLiteral("the code was refused"));
    if (result.ok() && result.refreshToken.isEmpty())
        result = TokenResult::failed(
            Status::Failed, TokenErrors::SignInFailed + QStringLiteral("the provider gave no refresh token"));
    return result;
}

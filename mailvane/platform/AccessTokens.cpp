#include "platform/AccessTokens.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>

QString endpointProblem(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return QStringLiteral("not an address: ") + url.toString();
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return {};
    const QString host = url.host().toLower();
    const bool loopback = host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
                          host == QLatin1String("::1");
    if (scheme == QLatin1String("http") && loopback)
        return {};
    return url.toString();
}

TokenResult runTokenCommand(const QString &command, std::chrono::milliseconds timeout)
{
    using Status = TokenResult::Status;
    const QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::TokenCommandFailed + QStringLiteral("no command"));
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    QEventLoop wait;
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, &wait, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &wait, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &wait, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            wait.quit();
    });
    process.start(words.first(), words.mid(1));
    bound.start(timeout);
    if (process.state() != QProcess::NotRunning || process.error() != QProcess::FailedToStart)
        wait.exec();
    if (process.error() == QProcess::FailedToStart)
        return TokenResult::failed(Status::Failed, TokenErrors::TokenCommandFailed +
                                                       QStringLiteral("cannot start ") + words.first());
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::TokenCommandFailed +
                                       QStringLiteral("no answer within %1 s")
                                           .arg(std::max<qint64>(1, (timeout.count() + 999) / 1000)));
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::TokenCommandFailed + QStringLiteral("it crashed"));
    if (process.exitCode() != 0)
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::TokenCommandFailed +
                                       QStringLiteral("exit status %1").arg(process.exitCode()));
    const QByteArray output = process.readAllStandardOutput();
    const QString token = QString::fromUtf8(output.left(output.indexOf('\n'))).trimmed();
    if (token.isEmpty())
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::TokenCommandFailed + QStringLiteral("no token"));
    return {Status::Ok, token, {}, 0, {}};
}

TokenEndpoint::TokenEndpoint(QObject *parent) : QObject(parent) {}
TokenEndpoint::~TokenEndpoint() = default;

QNetworkAccessManager *TokenEndpoint::network()
{
    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();
    return m_network.get();
}

void TokenEndpoint::cancel()
{
    if (m_wait)
        m_wait->exit(1);
}

TokenResult TokenEndpoint::post(const QUrl &url, const QList<std::pair<QString, QString>> &form,
                                int timeoutSeconds)
{
    using Status = TokenResult::Status;
    if (const QString problem = endpointProblem(url); !problem.isEmpty())
        return TokenResult::failed(Status::Failed, TokenErrors::EndpointNotSecure + problem);
    // application/x-www-form-urlencoded, every reserved byte escaped ("+" included).
    QByteArray body;
    for (const auto &[name, value] : form)
        body += (body.isEmpty() ? "" : "&") + QUrl::toPercentEncoding(name) + '=' +
                QUrl::toPercentEncoding(value);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    // No redirect: the form holds secrets and goes only where it was meant to.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(std::max(1, timeoutSeconds) * 1000);
    std::unique_ptr<QNetworkReply> reply(network()->post(request, body));
    QEventLoop wait;
    m_wait = &wait;
    connect(reply.get(), &QNetworkReply::finished, &wait, &QEventLoop::quit);
    // The transfer time-out ends a silent server; this ends one that trickles.
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, &wait, [&wait] { wait.exit(2); });
    bound.start(std::max(1, timeoutSeconds) * 1000);
    const int code = reply->isFinished() ? 0 : wait.exec();
    m_wait = nullptr;
    if (code == 2) {
        reply->abort();
        return TokenResult::failed(Status::Failed,
                                   TokenErrors::TokenRequestFailed +
                                       QStringLiteral("no answer within %1 s").arg(timeoutSeconds));
    }
    if (code != 0) {
        reply->abort();
        return TokenResult::failed(Status::Cancelled,
                                   TokenErrors::TokenRequestFailed + QStringLiteral("cancelled"));
    }
    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    const QString error = answer.value(QStringLiteral("error")).toString();
    if (error == QLatin1String("invalid_grant"))
        return TokenResult::failed(Status::Expired, TokenErrors::SignInExpired);
    const QString accessToken = answer.value(QStringLiteral("access_token")).toString();
    if (!error.isEmpty() || accessToken.isEmpty()) {
        QString why = error;
        if (why.isEmpty() && reply->error() == QNetworkReply::OperationCanceledError)
            why = QStringLiteral("no answer within %1 s").arg(timeoutSeconds);
        else if (why.isEmpty())
            why = reply->error() != QNetworkReply::NoError ? reply->errorString()
                                                           : QStringLiteral("no access token");
        return TokenResult::failed(Status::Failed, TokenErrors::TokenRequestFailed + why);
    }
    const QJsonValue expires = answer.value(QStringLiteral("expires_in"));
    const qint64 expiresIn =
        expires.isString() ? expires.toString().toLongLong() : qint64(expires.toDouble());
    return {Status::Ok,
            accessToken,
            answer.value(QStringLiteral("refresh_token")).toString(),
            std::max<qint64>(0, expiresIn),
            {}};
}

TokenResult OAuthTokenSource::accessToken(const TokenAccount &account)
{
    using Status = TokenResult::Status;
    // A token command keeps its own tokens: it is asked every time.
    if (!account.oauth.tokenCommand.trimmed().isEmpty())
        return runTokenCommand(account.oauth.tokenCommand, TokenCommandBound);
    const auto held = m_held.constFind(account.name);
    if (held != m_held.cend() && m_clock().secsTo(held->expires) > RenewWithinSeconds)
        return {Status::Ok, held->token, {}, m_clock().secsTo(held->expires), {}};
    m_held.remove(account.name);
    if (account.refreshToken.isEmpty())
        return TokenResult::failed(Status::NotSignedIn, TokenErrors::NotSignedIn);
    TokenResult result = refresh(account);
    if (result.ok())
        remember(account.name, result.accessToken, result.expiresIn);
    return result;
}

TokenResult OAuthTokenSource::refresh(const TokenAccount &account)
{
    QList<std::pair<QString, QString>> form{{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                                            {QStringLiteral("refresh_token"), account.refreshToken},
                                            {QStringLiteral("client_id"), account.oauth.clientId}};
    if (!account.oauth.clientSecret.isEmpty())
        form.append({QStringLiteral("client_secret"), account.oauth.clientSecret});
    if (!account.oauth.scope.isEmpty())
        form.append({QStringLiteral("scope"), account.oauth.scope});
    return m_endpoint.post(QUrl(account.oauth.tokenUrl), form, account.timeoutSeconds);
}

void OAuthTokenSource::remember(const QString &account, const QString &accessToken, qint64 expiresIn)
{
    // A token whose lifetime the provider did not give is used for this log-in only.
    if (expiresIn > 0)
        m_held.insert(account, {accessToken, m_clock().addSecs(expiresIn)});
    else
        m_held.remove(account);
}

// Access tokens: the token command, the sign-in with the authorization-code flow and the refresh
// grant, against the stand-in authorization server.
#include "AuthorizationServer.h"
#include "platform/AccessTokens.h"
#include "platform/OAuthSignIn.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

using testsupport::AuthorizationServer;
using Status = TokenResult::Status;

class TestAccessTokens : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void endpoints_data();
    void endpoints();
    void tokenCommand_data();
    void tokenCommand();
    void signIn();
    void signInEndsAtTheFirstRedirect_data();
    void signInEndsAtTheFirstRedirect();
    void browserWaitIsBoundedAndCancellable();
    void renewal();
    void insecureEndpointIsNotAsked();

private:
    TokenAccount account() const;
    // Follows the sign-in page's redirects, as a browser of a user who agrees at once.
    void followInBrowser(OAuthSignIn &flow);
    TokenResult signInNow();

    std::unique_ptr<AuthorizationServer> server;
    QNetworkAccessManager browser;
};

void TestAccessTokens::initTestCase()
{
    browser.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

void TestAccessTokens::init()
{
    server = std::make_unique<AuthorizationServer>();
    QVERIFY2(server->isRunning(), qPrintable(server->error()));
}

TokenAccount TestAccessTokens::account() const
{
    OAuthAccount oauth;
    oauth.authentication = 1;
    oauth.provider = QStringLiteral("other");
    oauth.clientId = QStringLiteral("mailvane-test");
    oauth.authorizeUrl = server->url(QStringLiteral("/authorize")).toString();
    oauth.tokenUrl = server->url(QStringLiteral("/token")).toString();
    oauth.scope = QStringLiteral("mail offline_access");
    return {QStringLiteral("Mail"), QStringLiteral("alice"), oauth, {}, 10};
}

void TestAccessTokens::followInBrowser(OAuthSignIn &flow)
{
    connect(&flow, &OAuthSignIn::authorizationUrl, this, [this](const QUrl &url) {
        QNetworkReply *reply = browser.get(QNetworkRequest(url));
        connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    });
}

TokenResult TestAccessTokens::signInNow()
{
    OAuthSignIn flow;
    followInBrowser(flow);
    return flow.run(account());
}

void TestAccessTokens::endpoints_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("https") << "https://login.microsoftonline.com/common/oauth2/v2.0/token" << true;
    QTest::newRow("http elsewhere") << "http://login.example.com/token" << false;
    QTest::newRow("http on 127.0.0.1") << "http://127.0.0.1:8080/token" << true;
    QTest::newRow("http on ::1") << "http://[::1]:8080/token" << true;
    QTest::newRow("http on localhost") << "http://LOCALHOST/token" << true;
    QTest::newRow("loopback look-alike") << "http://localhost.example.com/token" << false;
    QTest::newRow("other scheme") << "ftp://127.0.0.1/token" << false;
    QTest::newRow("empty") << "" << false;
}

void TestAccessTokens::endpoints()
{
    QFETCH(QString, url);
    QFETCH(bool, allowed);
    QCOMPARE(endpointProblem(QUrl(url)).isEmpty(), allowed);
}

void TestAccessTokens::tokenCommand_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("token");
    QTest::addColumn<QString>("error");
    QTest::newRow("first line") << R"(sh -c "printf ' tok-1 \nsecond line\n'")" << "tok-1" << "";
    QTest::newRow("exit status") << R"(sh -c "echo tok; exit 3")" << ""
                                 << "Token Command Failed: exit status 3";
    QTest::newRow("prints nothing") << "true"
                                    << "" << "Token Command Failed: no token";
    QTest::newRow("blank first line") << R"(sh -c "echo; echo tok")" << ""
                                      << "Token Command Failed: no token";
    QTest::newRow("no such program") << "/nonexistent/get-token" << ""
                                     << "Token Command Failed: cannot start /nonexistent/get-token";
    QTest::newRow("no answer") << "sleep 30" << ""
                               << "Token Command Failed: no answer within 1 s";
}

void TestAccessTokens::tokenCommand()
{
    QFETCH(QString, command);
    QFETCH(QString, token);
    QFETCH(QString, error);
    QElapsedTimer clock;
    clock.start();
    const TokenResult result = runTokenCommand(command, std::chrono::milliseconds(500));
    QCOMPARE(result.accessToken, token);
    QCOMPARE(result.error, error);
    QCOMPARE(result.ok(), error.isEmpty());
    QVERIFY(clock.elapsed() < 10000);
}

void TestAccessTokens::signIn()
{
    const TokenResult result = signInNow();
    QVERIFY2(result.ok(), qPrintable(result.error + u' ' + QJsonDocument(server->log()).toJson()));
    QVERIFY(result.accessToken.startsWith("at-"));
    QVERIFY(result.refreshToken.startsWith("rt-"));
    QCOMPARE(result.expiresIn, 3600);
    const QJsonObject log = server->log();
    QCOMPARE(log.value("problems").toArray(), QJsonArray()); // PKCE, state, redirect address all right
    QCOMPARE(log.value("code_grants").toInt(), 1);
}

void TestAccessTokens::signInEndsAtTheFirstRedirect_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("error");
    QTest::newRow("the user refused") << "refuse" << "Sign-in Failed: the provider said access_denied";
    QTest::newRow("a wrong state") << "wrong_state" << "Sign-in Failed: the answer does not belong to this sign-in";
}

void TestAccessTokens::signInEndsAtTheFirstRedirect()
{
    QFETCH(QString, setting);
    QFETCH(QString, error);
    QVERIFY(server->control({{setting, true}}));
    QElapsedTimer clock;
    clock.start();
    const TokenResult result = signInNow();
    QCOMPARE(result.status, Status::Failed);
    QCOMPARE(result.error, error);
    QVERIFY(clock.elapsed() < 30000);
    // No code was exchanged.
    QCOMPARE(server->log().value("code_grants").toInt(), 0);
    QCOMPARE(server->log().value("authorize").toInt(), 1);
}

void TestAccessTokens::browserWaitIsBoundedAndCancellable()
{
    OAuthSignIn flow;
    QUrl page;
    connect(&flow, &OAuthSignIn::authorizationUrl, this, [&](const QUrl &url) { page = url; });
    flow.setBrowserWait(std::chrono::milliseconds(300));
    TokenResult result = flow.run(account());
    QCOMPARE(result.status, Status::Failed);
    QVERIFY2(result.error.startsWith("Sign-in Failed: no answer from the browser"), qPrintable(result.error));
    // The page asks for the code with a S256 challenge, the state and the loopback redirect.
    const QUrlQuery query(page);
    QCOMPARE(query.queryItemValue("code_challenge_method"), QString("S256"));
    QCOMPARE(query.queryItemValue("code_challenge").size(), 43);
    QVERIFY(!query.queryItemValue("state").isEmpty());
    QVERIFY(query.queryItemValue("redirect_uri", QUrl::FullyDecoded).startsWith("http://127.0.0.1:"));
    QCOMPARE(query.queryItemValue("client_id"), QString("mailvane-test"));

    flow.setBrowserWait(std::chrono::minutes(5));
    QTimer::singleShot(100, &flow, &OAuthSignIn::cancel);
    result = flow.run(account());
    QCOMPARE(result.status, Status::Cancelled);
}

void TestAccessTokens::renewal()
{
    OAuthTokenSource tokens;
    TokenAccount mail = account();
    QCOMPARE(tokens.accessToken(mail).status, Status::NotSignedIn);
    QCOMPARE(tokens.accessToken(mail).error, QString("Not Signed In"));

    const TokenResult signedIn = signInNow();
    QVERIFY2(signedIn.ok(), qPrintable(signedIn.error));
    mail.refreshToken = signedIn.refreshToken;
    tokens.remember(mail.name, signedIn.accessToken, signedIn.expiresIn);
    // Held while it is good for more than a minute: no grant.
    QCOMPARE(tokens.accessToken(mail).accessToken, signedIn.accessToken);
    QCOMPARE(server->log().value("refresh_grants").toInt(), 0);

    // Tokens that expire within the minute are renewed before each log-in.
    QVERIFY(server->control({{"expires_in", 30}}));
    tokens.forget(mail.name);
    TokenResult renewed = tokens.accessToken(mail);
    QVERIFY2(renewed.ok(), qPrintable(renewed.error));
    QVERIFY(renewed.accessToken != signedIn.accessToken);
    QCOMPARE(tokens.accessToken(mail).status, Status::Ok);
    QCOMPARE(server->log().value("refresh_grants").toInt(), 2);

    // A refresh token the provider revoked: the sign-in has expired.
    QVERIFY(server->control({{"revoke_refresh", true}}));
    renewed = tokens.accessToken(mail);
    QCOMPARE(renewed.status, Status::Expired);
    QCOMPARE(renewed.error, QString("Sign-in Expired"));

    // A token command takes precedence: no endpoint is asked.
    mail.oauth.tokenCommand = QStringLiteral("echo from-command");
    QCOMPARE(tokens.accessToken(mail).accessToken, QString("from-command"));
    QCOMPARE(server->log().value("refused_grants").toInt(), 1);
}

void TestAccessTokens::insecureEndpointIsNotAsked()
{
    OAuthTokenSource tokens;
    TokenAccount mail = account();
    mail.refreshToken = QStringLiteral("rt-1");
    mail.oauth.tokenUrl = QStringLiteral("http://login.example.com/token");
    const TokenResult result = tokens.accessToken(mail);
    QCOMPARE(result.status, Status::Failed);
    QCOMPARE(result.error, QString("Sign-in Address Not Secure: http://login.example.com/token"));
    OAuthSignIn flow;
    QCOMPARE(flow.run(mail).error, QString("Sign-in Address Not Secure: http://login.example.com/token"));
}

QTEST_GUILESS_MAIN(TestAccessTokens)
#include "tst_accesstokens.moc"

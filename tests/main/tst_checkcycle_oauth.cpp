// The check cycle with OAuth accounts, against a scripted POP3 server over TLS and a scripted
// token source: the token reaches the log-in in place of the password, and an account without a
// usable sign-in fails before any connection.
#include "CertificateFingerprint.h"
#include "CheckHarness.h"
#include "ScriptedPop3Server.h"

#include <QtTest>

using namespace testsupport;
using Status = TokenResult::Status;

class TestCheckCycleOAuth : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void tokenLogsIn();
    void noTokenNoConnection_data();
    void noTokenNoConnection();
    void rotatedRefreshTokenIsKept();

private:
    // An OAuth account on the scripted server, TLS trusted by fingerprint.
    void addOAuthAccount(CheckHarness &harness, ScriptedPop3Server &server, const QString &refreshToken);
    QSslConfiguration tls;
};

void TestCheckCycleOAuth::initTestCase()
{
    tls = ScriptedPop3Server::selfSignedTls();
    if (tls.isNull())
        QSKIP("openssl could not make a certificate");
}

void TestCheckCycleOAuth::addOAuthAccount(CheckHarness &harness, ScriptedPop3Server &server,
                                          const QString &refreshToken)
{
    server.useTls(tls);
    harness.addAccount("Mail", "alice@example.com", "", server.port());
    POPConfig setup(harness.temp.services());
    setup.setSecurity(0, 2);
    setup.setTrustedCertificate(0, wrenkit::certificateFingerprint(tls.localCertificate()));
    OAuthAccount oauth;
    oauth.authentication = 1;
    oauth.provider = "microsoft";
    oauth.clientId = "client-1";
    setup.setOAuth(0, oauth);
    if (!refreshToken.isEmpty())
        setup.setRefreshToken(0, refreshToken);
}

void TestCheckCycleOAuth::tokenLogsIn()
{
    CheckHarness harness(50);
    ScriptedPop3Server server;
    addOAuthAccount(harness, server, "rt-1");
    const QByteArray response =
        QByteArray("user=alice@example.com\x01" "auth=Bearer scripted-token\x01\x01").toBase64();
    server.send("+OK ready\r\n")
        .expect("CAPA")
        .send("+OK\r\nSASL XOAUTH2\r\n.\r\n")
        .expect("AUTH XOAUTH2 " + response)
        .send("+OK\r\n")
        .expect("STAT")
        .send("+OK 0 0\r\n")
        .expect("LIST")
        .send("+OK\r\n.\r\n")
        .expect("QUIT")
        .send("+OK\r\n");
    harness.loadConfig();
    harness.cycle.CheckMail();
    QCOMPARE(harness.errors, QStringList());
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected().constData());
    QVERIFY(server.finished());
    // The provider's endpoints came from its preset, the refresh token from the store.
    QCOMPARE(harness.tokens.asked.size(), 1);
    QCOMPARE(harness.tokens.asked.first().refreshToken, QString("rt-1"));
    QCOMPARE(harness.tokens.asked.first().oauth.tokenUrl,
             QString("https://login.microsoftonline.com/common/oauth2/v2.0/token"));
}

void TestCheckCycleOAuth::noTokenNoConnection_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("signInNeeded");
    QTest::newRow("not signed in") << int(Status::NotSignedIn) << "Not Signed In" << true;
    QTest::newRow("sign-in expired") << int(Status::Expired) << "Sign-in Expired" << true;
    QTest::newRow("token command failed") << int(Status::Failed) << "Token Command Failed: exit status 2" << false;
}

void TestCheckCycleOAuth::noTokenNoConnection()
{
    QFETCH(int, status);
    QFETCH(QString, error);
    QFETCH(bool, signInNeeded);
    CheckHarness harness(50);
    ScriptedPop3Server server;
    addOAuthAccount(harness, server, "rt-1");
    harness.tokens.answer = TokenResult::failed(Status(status), error);
    QStringList needed;
    connect(&harness.cycle, &CheckCycle::signInNeeded, this, [&](const QString &account) { needed << account; });
    harness.loadConfig();
    harness.cycle.CheckMail();
    QCOMPARE(harness.errors, QStringList{"Mail: " + error});
    QCOMPARE(needed, signInNeeded ? QStringList{"Mail"} : QStringList());
    QCOMPARE(server.connectionCount(), 0);
}

void TestCheckCycleOAuth::rotatedRefreshTokenIsKept()
{
    CheckHarness harness(50);
    ScriptedPop3Server server;
    addOAuthAccount(harness, server, "rt-1");
    harness.tokens.answer.refreshToken = "rt-2";
    const QByteArray response =
        QByteArray("user=alice@example.com\x01" "auth=Bearer scripted-token\x01\x01").toBase64();
    server.send("+OK ready\r\n")
        .expect("CAPA")
        .send("+OK\r\nSASL XOAUTH2\r\n.\r\n")
        .expect("AUTH XOAUTH2 " + response)
        .send("-ERR no\r\n");
    harness.loadConfig();
    harness.cycle.CheckMail();
    QCOMPARE(harness.errors, QStringList{"Mail: Sign-in Refused"});
    QCOMPARE(POPConfig(harness.temp.services()).LookUpRefreshToken(0).password, QString("rt-2"));
}

QTEST_MAIN(TestCheckCycleOAuth)
#include "tst_checkcycle_oauth.moc"

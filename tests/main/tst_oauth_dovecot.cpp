// OAuth 2.0 end to end: a real Dovecot whose oauth2 passdb asks the stand-in authorization
// server about every token, the sign-in of mailvane-settings with a stand-in browser, checks
// that renew the token silently, and a revoked sign-in that stops the check before any log-in.
#include "AuthorizationServer.h"
#include "CertificateFingerprint.h"
#include "CheckHarness.h"
#include "DovecotFixture.h"

#include <QProcess>
#include <QtTest>

using namespace testsupport;

class TestOAuthDovecot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void signInCheckRenewAndRevoke();

private:
    struct Run {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env);
};

void TestOAuthDovecot::initTestCase()
{
    MAILVANE_REQUIRE_DOVECOT();
    if (QStandardPaths::findExecutable("xdg-open").isEmpty())
        QSKIP("xdg-open (xdg-utils) is not installed");
}

TestOAuthDovecot::Run TestOAuthDovecot::run(const QString &program, const QStringList &arguments,
                                            const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    // The event loop runs meanwhile: the stand-in server is another process, but Dovecot's
    // answers are read here.
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(program, arguments);
    if (!finished.wait(120000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

void TestOAuthDovecot::signInCheckRenewAndRevoke()
{
    AuthorizationServer authority(QStringLiteral("mailvane-test"), QStringLiteral("alice"));
    QVERIFY2(authority.isRunning(), qPrintable(authority.error()));
    DovecotFixture server(DovecotFixture::Users{{"alice", "not-used"}});
    QString error;
    QVERIFY2(server.setCertificate(DovecotFixture::Certificate::Valid, &error), qPrintable(error));
    server.setOAuth2Introspection(authority.url("/introspect").toString());
    QVERIFY2(server.start(&error), qPrintable(error));
    const QStringList files{server.deliver("alice", DovecotFixture::makeMessage("Ann <ann@example.org>", "First", 300)),
                            server.deliver("alice", DovecotFixture::makeMessage("Ben <ben@example.org>", "", 200))};

    CheckHarness harness(1000);
    harness.addAccount("Mail", "alice", "", server.tlsPort());
    {
        POPConfig setup(harness.temp.services());
        setup.setSecurity(0, 2);
        setup.setTrustedCertificate(
            0, wrenkit::certificateFingerprint(QSslCertificate::fromPath(server.serverCertificatePath()).value(0)));
        OAuthAccount oauth;
        oauth.authentication = 1;
        oauth.provider = "other";
        oauth.clientId = "mailvane-test";
        oauth.authorizeUrl = authority.url("/authorize").toString();
        oauth.tokenUrl = authority.url("/token").toString();
        oauth.scope = "mail offline_access";
        QVERIFY(setup.setOAuth(0, oauth));
    }
    harness.temp.close();

    // Sign-in on the command line: the address is printed, and xdg-open hands it to $BROWSER.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MAILVANE_REGISTRY", harness.temp.path());
    env.insert("BROWSER", "/usr/bin/python3 " + AuthorizationServer::browserScript());
    env.insert("DISPLAY", ":mailvane-test");
    env.remove("WAYLAND_DISPLAY");
    env.remove("DBUS_SESSION_BUS_ADDRESS"); // no keyring: the refresh token goes to the store
    env.remove("XDG_CURRENT_DESKTOP");
    const Run signIn = run(QStringLiteral(SETTINGS_TOOL), {"sign-in", "Mail"}, env);
    QVERIFY2(signIn.exitCode == 0, signIn.err.constData());
    QVERIFY(signIn.out.contains(authority.url("/authorize").toEncoded()));
    QVERIFY(signIn.out.endsWith("Signed in\n"));
    QJsonObject log = authority.log();
    QCOMPARE(log.value("problems").toArray(), QJsonArray()); // PKCE S256, state, redirect address
    QCOMPARE(log.value("code_grants").toInt(), 1);

    // A check in the program: the stored refresh token gets an access token, XOAUTH2 over TLS.
    OAuthTokenSource tokens;
    QDateTime now = QDateTime::currentDateTimeUtc();
    tokens.setClock([&now] { return now; });
    harness.tokens.forward = &tokens;
    harness.loadConfig();
    harness.cycle.CheckMail();
    QCOMPARE(harness.errors, QStringList());
    QCOMPARE(harness.list.messages().size(), 2);
    QCOMPARE(authority.log().value("refresh_grants").toInt(), 1);

    // An hour later the access token has expired: the next check renews it, no browser.
    now = now.addSecs(3600);
    QVERIFY(authority.control({{"expire_access", true}}));
    harness.list.clear();
    harness.cycle.CheckMail();
    QCOMPARE(harness.errors, QStringList());
    QCOMPARE(harness.list.messages().size(), 2);
    log = authority.log();
    QCOMPARE(log.value("refresh_grants").toInt(), 2);
    QCOMPARE(log.value("authorize").toInt(), 1);
    QCOMPARE(log.value("active_introspections").toInt(), 2);

    // The provider revokes the sign-in. mailvane-check, with a filter that would delete the
    // message without a subject, stops before logging in and opens no browser.
    QVERIFY(authority.control({{"revoke_refresh", true}, {"expire_access", true}}));
    harness.config->BlockBlankSubject = true;
    harness.config->SaveConfig();
    harness.config.reset();
    harness.temp.close();
    const Run check = run(QStringLiteral(MAILVANE_CHECK_BINARY), {}, env);
    QCOMPARE(check.exitCode, 1);
    QVERIFY2(check.out.contains("Mail: Sign-in Expired") || check.err.contains("Mail: Sign-in Expired"),
             (check.out + check.err).constData());
    log = authority.log();
    QCOMPARE(log.value("refused_grants").toInt(), 1);
    QCOMPARE(log.value("introspections").toInt(), 2); // no log-in attempt reached Dovecot
    QCOMPARE(log.value("authorize").toInt(), 1);
    QCOMPARE(server.messageFiles("alice"), files);
}

QTEST_GUILESS_MAIN(TestOAuthDovecot)
#include "tst_oauth_dovecot.moc"

// BasicPOP's OAuth log-in against a scripted server speaking TLS: the SASL AUTH exchange as the
// server sees it, and USER and PASS never sent.
#include "BasicPOP.h"
#include "CertificateFingerprint.h"
#include "ScriptedPop3Server.h"

#include <QtTest>

using testsupport::ScriptedPop3Server;
using wrenkit::BasicPOP;

namespace {

const QByteArray user = "alice@example.com";

QByteArray b64(const QByteArray &bytes)
{
    return bytes.toBase64();
}

QByteArray xoauth2(const QByteArray &token)
{
    return b64("user=" + user + "\x01" "auth=Bearer " + token + "\x01\x01");
}

QByteArray oauthbearer(const QByteArray &token, quint16 port)
{
    return b64("n,a=" + user + ",\x01" "host=127.0.0.1\x01" "port=" + QByteArray::number(port) +
               "\x01" "auth=Bearer " + token + "\x01\x01");
}

} // namespace

class TestBasicPOPSasl : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void logIn_data();
    void logIn();
    void plainConnectionRefusedBeforeConnecting();

private:
    QSslConfiguration tls;
    std::unique_ptr<ScriptedPop3Server> server;
    std::unique_ptr<BasicPOP> pop;
    QStringList events;
};

void TestBasicPOPSasl::initTestCase()
{
    tls = ScriptedPop3Server::selfSignedTls();
    if (tls.isNull())
        QSKIP("openssl could not make a certificate");
}

void TestBasicPOPSasl::init()
{
    server = std::make_unique<ScriptedPop3Server>();
    server->useTls(tls);
    pop = std::make_unique<BasicPOP>();
    pop->setTickInterval(50);
    pop->setHost("127.0.0.1");
    pop->setPort(server->port());
    pop->setTimeOut(2);
    pop->setSecurity(BasicPOP::ImplicitTls);
    pop->setTrustedCertificate(wrenkit::certificateFingerprint(tls.localCertificate()));
    pop->setUserName(QString::fromLatin1(user));
    pop->setPassword("secret");
    pop->setProperty("Authentication", 1);
    events.clear();
    connect(pop.get(), &BasicPOP::Connected, this, [this] { events << "Connected"; });
    connect(pop.get(), &BasicPOP::Error, this, [this](const QString &text) { events << "Error:" + text; });
}

void TestBasicPOPSasl::logIn_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("capa");
    // After CAPA: "C:line" the client sends, "S:bytes" the server answers.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("expected");

    const QByteArray shortToken = "ya29.short";
    // Real tokens run to a kilobyte or more: the AUTH line would pass 255 octets.
    const QByteArray longToken = "EwB" + QByteArray(400, 'x');
    const QStringList stat{"C:STAT", "S:+OK 0 0\r\n", "C:LIST", "S:+OK\r\n.\r\n"};
    const QByteArray googleError = b64(R"({"status":"401","schemes":"bearer","scope":"https://mail.google.com/"})");
    const QByteArray bearerError = b64(R"({"status":"invalid_token","scope":"mail"})");

    QTest::newRow("XOAUTH2, response on the AUTH line")
        << shortToken << QByteArray("SASL XOAUTH2")
        << QStringList{"C:AUTH XOAUTH2 " + xoauth2(shortToken), "S:+OK Welcome\r\n"} + stat
        << QStringList{"Connected"};
    QTest::newRow("XOAUTH2, long token after the continuation")
        << longToken << QByteArray("SASL PLAIN XOAUTH2")
        << QStringList{"C:AUTH XOAUTH2", "S:+ \r\n", "C:" + xoauth2(longToken), "S:+OK\r\n"} + stat
        << QStringList{"Connected"};
    QTest::newRow("XOAUTH2 chosen when both are offered")
        << shortToken << QByteArray("SASL OAUTHBEARER XOAUTH2")
        << QStringList{"C:AUTH XOAUTH2 " + xoauth2(shortToken), "S:+OK\r\n"} + stat << QStringList{"Connected"};
    QTest::newRow("OAUTHBEARER")
        << shortToken << QByteArray("SASL PLAIN oauthbearer")
        << QStringList{"C:AUTH OAUTHBEARER " + oauthbearer(shortToken, 0), "S:+OK\r\n"} + stat
        << QStringList{"Connected"};
    QTest::newRow("OAUTHBEARER, long token after the continuation")
        << longToken << QByteArray("SASL OAUTHBEARER")
        << QStringList{"C:AUTH OAUTHBEARER", "S:+\r\n", "C:" + oauthbearer(longToken, 0), "S:+OK\r\n"} + stat
        << QStringList{"Connected"};
    QTest::newRow("XOAUTH2 refused with an error report: empty answer")
        << shortToken << QByteArray("SASL XOAUTH2")
        << QStringList{"C:AUTH XOAUTH2 " + xoauth2(shortToken), "S:+ " + googleError + "\r\n", "C:",
                       "S:-ERR Authentication failed\r\n"}
        << QStringList{"Error:Sign-in Refused: status 401"};
    QTest::newRow("OAUTHBEARER refused with an error report: ^A answer")
        << longToken << QByteArray("SASL OAUTHBEARER")
        << QStringList{"C:AUTH OAUTHBEARER", "S:+ \r\n", "C:" + oauthbearer(longToken, 0),
                       "S:+ " + bearerError + "\r\n", "C:AQ==", "S:-ERR [AUTH] Authentication failed.\r\n"}
        << QStringList{"Error:Sign-in Refused: status invalid_token"};
    QTest::newRow("refused without a report")
        << shortToken << QByteArray("SASL XOAUTH2")
        << QStringList{"C:AUTH XOAUTH2 " + xoauth2(shortToken), "S:-ERR Authentication failed\r\n"}
        << QStringList{"Error:Sign-in Refused"};
    QTest::newRow("a server that keeps challenging is cancelled")
        << shortToken << QByteArray("SASL XOAUTH2")
        << QStringList{"C:AUTH XOAUTH2 " + xoauth2(shortToken), "S:+ " + googleError + "\r\n", "C:",
                       "S:+ " + googleError + "\r\n", "C:*", "S:-ERR cancelled\r\n"}
        << QStringList{"Error:Sign-in Refused: status 401"};
    QTest::newRow("no OAuth mechanism offered") << shortToken << QByteArray("SASL PLAIN LOGIN") << QStringList{}
                                                << QStringList{"Error:" + BasicPOP::OAuthNotOffered};
    QTest::newRow("no SASL line") << shortToken << QByteArray("USER") << QStringList{}
                                  << QStringList{"Error:" + BasicPOP::OAuthNotOffered};
}

void TestBasicPOPSasl::logIn()
{
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, capa);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    server->send("+OK POP3 ready\r\n").expect("CAPA").send("+OK\r\nTOP\r\nUIDL\r\n" + capa + "\r\n.\r\n");
    for (const QString &step : steps) {
        QByteArray bytes = step.mid(2).toLatin1();
        // The OAUTHBEARER rows were built for port 0: rebuild them for the real one.
        if (bytes == oauthbearer(token, 0))
            bytes = oauthbearer(token, server->port());
        else if (bytes == "AUTH OAUTHBEARER " + oauthbearer(token, 0))
            bytes = "AUTH OAUTHBEARER " + oauthbearer(token, server->port());
        if (step.startsWith("C:"))
            server->expect(bytes);
        else
            server->send(bytes);
    }
    pop->setProperty("AccessToken", QString::fromLatin1(token));
    pop->Connect();

    QCOMPARE(events, expected);
    QVERIFY2(server->unexpected().isEmpty(), server->unexpected().constData());
    QVERIFY(server->finished());
    for (const QByteArray &line : server->received()) {
        QVERIFY2(!line.startsWith("USER") && !line.startsWith("PASS"), line.constData());
        // RFC 5034's limit on a command line, CR LF included.
        QVERIFY(!line.startsWith("AUTH") || line.size() + 2 <= 255);
    }
    QCOMPARE(pop->Status(), expected == QStringList{"Connected"} ? 1 : 0);
}

void TestBasicPOPSasl::plainConnectionRefusedBeforeConnecting()
{
    pop->setSecurity(BasicPOP::PlainPop3);
    pop->setAccessToken("ya29.short");
    pop->Connect();
    QCOMPARE(events, QStringList{"Error:" + BasicPOP::OAuthNeedsSecureConnection});
    QCOMPARE(server->connectionCount(), 0);
}

QTEST_GUILESS_MAIN(TestBasicPOPSasl)
#include "tst_basicpop_sasl.moc"

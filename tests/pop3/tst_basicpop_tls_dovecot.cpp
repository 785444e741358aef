// BasicPOP over TLS and STLS against a real Dovecot server with throwaway certificates.
#include "BasicPOP.h"
#include "CertificateFingerprint.h"
#include "DovecotFixture.h"

#include <QSslCertificate>
#include <QtTest>

using testsupport::DovecotFixture;
using testsupport::TrustedTestAuthority;
using wrenkit::BasicPOP;

namespace
{
const QString notTrusted = QStringLiteral("Certificate Not Trusted: ");

QString presentedFingerprint(const DovecotFixture &server)
{
    return wrenkit::certificateFingerprint(
        QSslCertificate::fromPath(server.serverCertificatePath()).value(0));
}

// Dovecot logs a session that ended before any log-in attempt as "no auth attempts".
bool loggedInNobody(const DovecotFixture &server)
{
    const QString log = server.logText();
    return log.contains(QLatin1String("no auth attempts")) && !log.contains(QLatin1String("Login: user=<"));
}
} // namespace

class TestBasicPOPTlsDovecot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup() { pop.reset(); }
    void listsAndDeletesLikePlain_data();
    void listsAndDeletesLikePlain();
    void certificateForAnotherHostIsRefusedBeforeUser_data();
    void certificateForAnotherHostIsRefusedBeforeUser();
    void selfSignedIsAcceptedOnlyWithItsFingerprint();
    void storedFingerprintRefusesEveryOtherCertificate();

private:
    std::unique_ptr<BasicPOP> pop;
    QStringList errors;

    void logIn(const DovecotFixture &server, int security, const QString &user = QStringLiteral("alice"))
    {
        pop->setHost(server.host());
        pop->setPort(security == 2 ? server.tlsPort() : server.port());
        pop->setSecurity(security);
        pop->setUserName(user);
        pop->setPassword(QStringLiteral("wonderland"));
        pop->setTimeOut(10);
        pop->Connect();
    }

    static bool start(DovecotFixture &server, DovecotFixture::Certificate certificate, QString *error)
    {
        server.addUser(QStringLiteral("alice"), QStringLiteral("wonderland"));
        return server.setCertificate(certificate, error) && server.start(error);
    }
};

void TestBasicPOPTlsDovecot::initTestCase()
{
    MAILVANE_REQUIRE_DOVECOT();
}

void TestBasicPOPTlsDovecot::init()
{
    pop = std::make_unique<BasicPOP>();
    errors.clear();
    connect(pop.get(), &BasicPOP::Error, this, [this](const QString &text) { errors << text; });
}

void TestBasicPOPTlsDovecot::listsAndDeletesLikePlain_data()
{
    QTest::addColumn<int>("security");
    QTest::newRow("plain") << 0;
    QTest::newRow("STLS") << 1;
    QTest::newRow("TLS") << 2;
}

void TestBasicPOPTlsDovecot::listsAndDeletesLikePlain()
{
    QFETCH(int, security);
    DovecotFixture server;
    server.addUser(QStringLiteral("alice"), QStringLiteral("wonderland"));
    const QList<QByteArray> messages = {
        DovecotFixture::makeMessage(QStringLiteral("Ann <ann@example.org>"), QStringLiteral("First"), 2000),
        DovecotFixture::makeMessage(QStringLiteral("Bob <bob@example.org>"), QStringLiteral("Second"), 300),
        DovecotFixture::makeMessage(std::nullopt, QStringLiteral("Third"), 10),
    };
    QStringList files;
    for (const QByteArray &message : messages)
        files << server.deliver(QStringLiteral("alice"), message);
    QString error;
    QVERIFY2(server.setCertificate(DovecotFixture::Certificate::Valid, &error) && server.start(&error),
             qPrintable(error));
    const TrustedTestAuthority trust(server.caCertificatePath());
    QVERIFY(trust.isValid());

    logIn(server, security);
    QCOMPARE(errors, QStringList());
    QCOMPARE(pop->Status(), 1);
    QCOMPARE(pop->NumberOfMessages(), 3);
    QCOMPARE(pop->PeerCertificate().isNull(), security == 0);
    for (int n = 1; n <= 3; ++n) {
        pop->GetMessageInfo(n);
        QCOMPARE(pop->MsgSize(), int(DovecotFixture::withCrlf(messages[n - 1]).size()));
    }
    QCOMPARE(pop->MsgFrom(), QStringLiteral("<NotFound>"));
    QCOMPARE(pop->MsgSubject(), QStringLiteral("Third"));
    pop->GetMessageInfo(2);
    QCOMPARE(pop->MsgFrom(), QStringLiteral("Bob <bob@example.org>"));
    pop->DeleteMessage(2);
    pop->Disconnect();
    QCOMPARE(errors, QStringList());
    QTRY_COMPARE(server.messageFiles(QStringLiteral("alice")), (QStringList{files[0], files[2]}));
}

void TestBasicPOPTlsDovecot::certificateForAnotherHostIsRefusedBeforeUser_data()
{
    QTest::addColumn<int>("security");
    QTest::newRow("STLS") << 1;
    QTest::newRow("TLS") << 2;
}

void TestBasicPOPTlsDovecot::certificateForAnotherHostIsRefusedBeforeUser()
{
    QFETCH(int, security);
    DovecotFixture server;
    QString error;
    QVERIFY2(start(server, DovecotFixture::Certificate::OtherHost, &error), qPrintable(error));
    const TrustedTestAuthority trust(server.caCertificatePath());

    logIn(server, security);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].startsWith(notTrusted), qPrintable(errors[0]));
    QVERIFY2(errors[0].contains(QLatin1String("host name")), qPrintable(errors[0]));
    QVERIFY2(errors[0].contains(presentedFingerprint(server)), qPrintable(errors[0]));
    QCOMPARE(pop->Status(), 0);
    QTRY_VERIFY2(loggedInNobody(server), qPrintable(server.logText()));
}

void TestBasicPOPTlsDovecot::selfSignedIsAcceptedOnlyWithItsFingerprint()
{
    DovecotFixture server;
    QString error;
    QVERIFY2(start(server, DovecotFixture::Certificate::SelfSigned, &error), qPrintable(error));
    const QString first = presentedFingerprint(server);

    logIn(server, 2);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].startsWith(notTrusted), qPrintable(errors[0]));
    QVERIFY2(errors[0].contains(first), qPrintable(errors[0]));
    QCOMPARE(wrenkit::certificateFingerprint(pop->PeerCertificate()), first);
    QCOMPARE(pop->Status(), 0);
    QTRY_VERIFY2(loggedInNobody(server), qPrintable(server.logText()));

    // Trusted as a user would paste it: in capitals, in pairs with colons.
    QString pasted;
    for (int i = 0; i < first.size(); i += 2)
        pasted += first.mid(i, 2).toUpper() + (i + 2 < first.size() ? QStringLiteral(":") : QString());
    pop->setTrustedCertificate(pasted);
    errors.clear();
    for (const int security : {2, 1}) {
        logIn(server, security);
        QCOMPARE(errors, QStringList());
        QCOMPARE(pop->Status(), 1);
        pop->Disconnect();
    }

    // The server presents another certificate: refused again, naming the new one.
    server.stop();
    QVERIFY2(server.setCertificate(DovecotFixture::Certificate::SelfSigned, &error) && server.start(&error),
             qPrintable(error));
    const QString second = presentedFingerprint(server);
    QVERIFY(second != first);
    logIn(server, 2);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].startsWith(notTrusted) && errors[0].contains(second), qPrintable(errors[0]));
    QCOMPARE(pop->Status(), 0);
}

void TestBasicPOPTlsDovecot::storedFingerprintRefusesEveryOtherCertificate()
{
    // Even a certificate that verifies: the account trusts exactly one.
    DovecotFixture server;
    QString error;
    QVERIFY2(start(server, DovecotFixture::Certificate::Valid, &error), qPrintable(error));
    const TrustedTestAuthority trust(server.caCertificatePath());
    pop->setTrustedCertificate(QStringLiteral("ab").repeated(32));
    logIn(server, 2);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].startsWith(notTrusted) && errors[0].contains(presentedFingerprint(server)),
             qPrintable(errors[0]));
    QCOMPARE(pop->Status(), 0);
    QTRY_VERIFY2(loggedInNobody(server), qPrintable(server.logText()));
}

QTEST_GUILESS_MAIN(TestBasicPOPTlsDovecot)
#include "tst_basicpop_tls_dovecot.moc"

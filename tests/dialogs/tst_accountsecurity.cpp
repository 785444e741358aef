// The Security choice and the Test button of the account dialogs.
#include "DialogHarness.h"
#include "DovecotFixture.h"
#include "ScriptedPop3Server.h"

#include "dialogs/frmAccEdit.h"
#include "dialogs/frmAddAcc.h"

#include "CertificateFingerprint.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSslCertificate>

using testsupport::child;
using testsupport::DialogHarness;
using testsupport::DovecotFixture;
using testsupport::ScriptedPop3Server;

namespace
{
void fill(QDialog &dialog, const QStringList &texts)
{
    const QStringList boxes{"txtAccName", "txtHost", "txtUserName", "txtPassword", "txtPort"};
    for (int i = 0; i < texts.size(); ++i)
        child<QLineEdit>(dialog, boxes.at(i))->setText(texts.at(i));
}

QList<RecordingPrompter::Call> questions(const DialogHarness &h)
{
    QList<RecordingPrompter::Call> found;
    for (const RecordingPrompter::Call &call : h.temp.prompter.calls) {
        if (call.kind == RecordingPrompter::Call::Question)
            found << call;
    }
    return found;
}
} // namespace

class TestAccountSecurity : public QObject
{
    Q_OBJECT

private slots:
    void securityIsStoredAndKeptByAnEdit();
    void testTellsTheCountOrTheError_data();
    void testTellsTheCountOrTheError();
    void testOffersToTrustAFailingCertificate_data();
    void testOffersToTrustAFailingCertificate();
};

void TestAccountSecurity::securityIsStoredAndKeptByAnEdit()
{
    DialogHarness h;
    frmAddAcc add(h.services());
    add.show();
    auto *security = child<QComboBox>(add, "cmbSecurity");
    auto *port = child<QLineEdit>(add, "txtPort");
    QCOMPARE(security->accessibleName(), QString("Security"));
    QCOMPARE(security->count(), 3);
    QCOMPARE(port->placeholderText(), QString("110"));
    security->setCurrentIndex(2);
    QCOMPARE(security->currentText(), QString("SSL/TLS"));
    QCOMPARE(port->placeholderText(), QString("995"));
    fill(add, {"Provider", "pop.example.com", "me", "pw", ""});
    child<QPushButton>(add, "cmdAdd")->click();
    QCOMPARE(add.result(), int(QDialog::Accepted));
    QCOMPARE(h.stored()->Security(0), 2);
    QCOMPARE(h.stored()->Port(0), 995);
    QCOMPARE(h.stored()->StoredPort(0), 0);

    // An edit of the host keeps the mode and a certificate trusted earlier.
    const QString fingerprint = QStringLiteral("ab").repeated(32);
    h.stored()->setTrustedCertificate(0, fingerprint);
    frmAccEdit edit(h.services());
    edit.setAccIndex(0);
    edit.show();
    QCOMPARE(child<QComboBox>(edit, "cmbSecurity")->currentIndex(), 2);
    QCOMPARE(child<QLineEdit>(edit, "txtPort")->placeholderText(), QString("995"));
    child<QLineEdit>(edit, "txtHost")->setText("pop3.example.com");
    child<QPushButton>(edit, "cmdDone")->click();
    QCOMPARE(edit.result(), int(QDialog::Accepted));
    const auto config = h.stored();
    QCOMPARE(config->Host(0), QString("pop3.example.com"));
    QCOMPARE(config->Security(0), 2);
    QCOMPARE(config->TrustedCertificate(0), fingerprint);
}

void TestAccountSecurity::testTellsTheCountOrTheError_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QString>("message");
    QTest::newRow("logged in") << QByteArray("secret") << "Test: Logged in: 2 message(s) waiting.";
    QTest::newRow("password refused")
        << QByteArray("wrong") << "Test: Server Not Responding To POP3 Commands";
}

void TestAccountSecurity::testTellsTheCountOrTheError()
{
    QFETCH(QByteArray, password);
    ScriptedPop3Server server;
    if (password == "secret") {
        server.login({100, 200}).expect("QUIT").send("+OK\r\n");
    } else {
        server.send("+OK ready\r\n").expect("CAPA").send("-ERR\r\n").expect("USER me").send("+OK\r\n");
        server.expect("PASS " + password).send("-ERR [AUTH] failed\r\n");
    }
    DialogHarness h;
    frmAddAcc add(h.services());
    add.show();
    // The account name is not needed for a test.
    fill(add, {"", "127.0.0.1", password == "secret" ? "user" : "me", QString::fromLatin1(password),
               QString::number(server.port())});
    child<QPushButton>(add, "cmdTest")->click();
    QTEST(h.messages().value(0), "message");
    QCOMPARE(h.messages().size(), 1);
    QVERIFY(child<QPushButton>(add, "cmdTest")->isEnabled());
    QCOMPARE(h.stored()->NumberOfAccounts(), 0); // a test stores nothing
}

void TestAccountSecurity::testOffersToTrustAFailingCertificate_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("not trusted") << false;
    QTest::newRow("trusted") << true;
}

void TestAccountSecurity::testOffersToTrustAFailingCertificate()
{
    QFETCH(bool, answer);
    MAILVANE_REQUIRE_DOVECOT();
    DovecotFixture server;
    server.addUser("alice", "wonderland");
    QString error;
    QVERIFY2(server.setCertificate(DovecotFixture::Certificate::SelfSigned, &error) && server.start(&error),
             qPrintable(error));
    const QString fingerprint =
        wrenkit::certificateFingerprint(QSslCertificate::fromPath(server.serverCertificatePath()).value(0));

    DialogHarness h;
    h.temp.prompter.questionAnswer = answer;
    frmAddAcc add(h.services());
    add.show();
    child<QComboBox>(add, "cmbSecurity")->setCurrentIndex(2);
    fill(add, {"Home server", server.host(), "alice", "wonderland", QString::number(server.tlsPort())});
    child<QPushButton>(add, "cmdTest")->click();

    const QList<RecordingPrompter::Call> asked = questions(h);
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked[0].title, QString("Certificate Not Trusted"));
    for (const QString &part :
         {QString("Certificate Not Trusted: "), QString("Subject: "), QString("Issuer: "),
          QString("Valid from "), QString("SHA-256 fingerprint: ") + fingerprint})
        QVERIFY2(asked[0].text.contains(part), qPrintable(asked[0].text));
    // Trusted, the test runs again and logs in.
    QCOMPARE(h.messages(), answer ? QStringList{"Test: Logged in: 0 message(s) waiting."} : QStringList{});

    child<QPushButton>(add, "cmdAdd")->click();
    QCOMPARE(add.result(), int(QDialog::Accepted));
    QCOMPARE(h.stored()->TrustedCertificate(0), answer ? fingerprint : QString());
}

QTEST_MAIN(TestAccountSecurity)
#include "tst_accountsecurity.moc"

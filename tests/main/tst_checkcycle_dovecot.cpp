// The road of one check, end to end, against a real Dovecot with several mailboxes.
#include "CheckHarness.h"
#include "DovecotFixture.h"

#include <QtTest>

using namespace testsupport;

namespace {

// A message whose size on the wire (CR LF line ends) is exactly the given number of bytes.
QByteArray messageOfSize(const QString &from, const QString &subject, int bytes)
{
    const int headers = int(DovecotFixture::withCrlf(DovecotFixture::makeMessage(from, subject, 0)).size());
    QByteArray message = DovecotFixture::withCrlf(DovecotFixture::makeMessage(from, subject, bytes - headers));
    return message;
}

void startOrFail(DovecotFixture &server)
{
    QString error;
    if (!server.start(&error))
        QFAIL(qPrintable(error));
}

} // namespace

class TestCheckCycleDovecot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void twoAccountsListEveryMessage();
    void everyFilterRejectsExactlyItsMessages_data();
    void everyFilterRejectsExactlyItsMessages();
    void wrongPasswordOnTheFirstAccount();
    void overTlsAndStlsLikePlain();
};

void TestCheckCycleDovecot::initTestCase()
{
    MAILVANE_REQUIRE_DOVECOT();
}

void TestCheckCycleDovecot::twoAccountsListEveryMessage()
{
    DovecotFixture server({{"alice", "wonderland"}, {"bob", "builder"}});
    server.deliver("alice", DovecotFixture::makeMessage("Ann <ann@example.org>", "First", 3000));
    server.deliver("alice", DovecotFixture::makeMessage("Ben <ben@example.org>", "Second", 1536 - 300));
    server.deliver("bob", DovecotFixture::makeMessage("Cy <cy@example.org>", "Third", 100));
    startOrFail(server);

    CheckHarness h;
    h.addAccount("A", "alice", "wonderland", server.port());
    h.addAccount("B", "bob", "builder", server.port());
    POPConfig &config = h.loadConfig();
    config.setBeep(1);
    config.setShowList(1);

    h.cycle.CheckMail();
    QCOMPARE(h.keys(), (QStringList{"A0 M1", "A0 M2", "A1 M1"}));
    const ListedMessage &first = h.list.messages()[0];
    QCOMPARE(first.from, QString("Ann <ann@example.org>"));
    QCOMPARE(first.subject, QString("First"));
    QCOMPARE(first.account, QString("A"));
    QCOMPARE(h.status.panel(3), QString("3 New Message(s)"));
    QCOMPARE(h.beeper.beeps, 1);
    QVERIFY(h.status.isWindowVisible());
    QCOMPARE(server.messageFiles("alice").size(), 2);
}

void TestCheckCycleDovecot::everyFilterRejectsExactlyItsMessages_data()
{
    // Dovecot advertises PIPELINING: the same check, with the header reads sent ahead or not.
    QTest::addColumn<bool>("pipelining");
    QTest::newRow("pipelined") << true;
    QTest::newRow("one command at a time") << false;
}

void TestCheckCycleDovecot::everyFilterRejectsExactlyItsMessages()
{
    QFETCH(bool, pipelining);
    DovecotFixture server({{"alice", "wonderland"}, {"carol", "singer"}, {"bob", "builder"}});
    const QList<QByteArray> alice{
        messageOfSize("Colleague <colleague@example.org>", "Minutes", 32768), // 1 kept: 32.0 k is not over 32
        messageOfSize("Newsletter <news@example.com>", "Big", 32769),         // 2 over the size limit
        QByteArray(),                                                         // 3 zero length
        DovecotFixture::makeMessage("Bulk Mailer <offers@junk.example>", "Offer", 100), // 4 blocked
        DovecotFixture::makeMessage("offers@junk.example", "Offer again", 100),         // 5 blocked by substring
        DovecotFixture::makeMessage(std::nullopt, "No sender", 100),                    // 6 blank From
        DovecotFixture::makeMessage("Friend <friend@example.org>", std::nullopt, 100),  // 7 blank Subject
        DovecotFixture::makeMessage("Friend <friend@example.org>", "Lunch", 100),       // 8 kept
    };
    QStringList aliceFiles;
    for (const QByteArray &message : alice)
        aliceFiles << server.deliver("alice", message);
    server.deliver("carol", DovecotFixture::makeMessage("x@example.org", "Never read", 100));
    server.deliver("bob", DovecotFixture::makeMessage("Mum <mum@example.org>", "Sunday", 100));
    startOrFail(server);

    CheckHarness h;
    h.addAccount("1 Work", "alice", "wonderland", server.port());
    h.addAccount("2 Old", "carol", "singer", server.port(), false);
    h.addAccount("3 Home", "bob", "builder", server.port());
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender("Bulk Mailer <offers@junk.example>");
    }
    h.bp1.setPipeliningAllowed(pipelining);
    POPConfig &config = h.loadConfig();
    QCOMPARE(config.AccountName(1), QString("2 Old")); // accounts come in name order
    config.BlockOverSize = true;
    config.setMaxMessageSize(32);
    config.BlockZeroLength = true;
    config.setBeep(1);

    // First with the blank filters off: the empty message reaches the zero-length filter, and
    // messages without a From or Subject are listed with the marker.
    h.cycle.CheckMail();
    QCOMPARE(h.errors, QStringList());
    // Keys name the numbers the server gives once the deletions of 2 to 5 are done.
    QCOMPARE(h.keys(), (QStringList{"A0 M1", "A0 M2", "A0 M3", "A0 M4", "A2 M1"}));
    QCOMPARE(h.list.messages()[0].size, QString(" 32  k"));
    QCOMPARE(h.list.messages()[1].from, QString("<NotFound>"));
    QCOMPARE(h.list.messages()[4].account, QString("3 Home"));
    QList<QPair<int, RejectReason>> rejected;
    for (const RejectedMessage &m : h.rejected) {
        QVERIFY(m.deleted);
        QCOMPARE(m.accountIndex, 0);
        rejected << qMakePair(m.number, m.reason);
    }
    QCOMPARE(rejected, (QList<QPair<int, RejectReason>>{{2, RejectReason::OverSize},
                                                        {3, RejectReason::ZeroLength},
                                                        {4, RejectReason::BlockedSender},
                                                        {5, RejectReason::BlockedSender}}));
    QCOMPARE(h.status.panel(3), QString("5 New Message(s)"));
    QVERIFY(h.status.panel(2).startsWith("Done - Checked at:"));
    QCOMPARE(h.beeper.beeps, 1);
    QTRY_COMPARE(server.messageFiles("alice"), (QStringList{aliceFiles[0], aliceFiles[5], aliceFiles[6], aliceFiles[7]}));
    QCOMPARE(server.messageFiles("carol").size(), 1);
    QCOMPARE(server.messageFiles("bob").size(), 1);

    // Then with the blank filters on: the server numbers what is left anew.
    config.BlockBlankFrom = true;
    config.BlockBlankSubject = true;
    h.rejected.clear();
    h.cycle.CheckMail();
    QCOMPARE(h.keys(), (QStringList{"A0 M1", "A0 M2", "A2 M1"}));
    QCOMPARE(h.rejected.size(), 2);
    QCOMPARE(h.rejected[0].reason, RejectReason::BlankFrom);
    QCOMPARE(h.rejected[1].reason, RejectReason::BlankSubject);
    QTRY_COMPARE(server.messageFiles("alice"), (QStringList{aliceFiles[0], aliceFiles[7]}));
    QCOMPARE(h.beeper.beeps, 2);
    QCOMPARE(h.bp1.pipelining(), pipelining);
}

void TestCheckCycleDovecot::wrongPasswordOnTheFirstAccount()
{
    DovecotFixture server({{"alice", "wonderland"}, {"bob", "builder"}});
    server.deliver("alice", DovecotFixture::makeMessage("a@example.org", "For alice", 100));
    server.deliver("bob", DovecotFixture::makeMessage("b@example.org", "For bob", 100));
    startOrFail(server);

    CheckHarness h;
    h.addAccount("A", "alice", "wrong", server.port());
    h.addAccount("B", "bob", "builder", server.port());
    h.loadConfig();
    QStringList panelsAtError;
    QObject::connect(&h.cycle, &CheckCycle::errorReported,
                     [&] { panelsAtError << h.status.panel(2) << h.status.panel(3); });

    h.cycle.CheckMail();
    QCOMPARE(h.errors, QStringList{"A: Server Not Responding To POP3 Commands"});
    QCOMPARE(panelsAtError, (QStringList{"Error on last attempt", "A: Server Not Responding To POP3 Commands"}));
    QCOMPARE(h.keys(), QStringList{"A1 M1"});
    QCOMPARE(h.status.panel(3), QString("1 New Message(s)"));
    QVERIFY(QRegularExpression("^Done - Checked at:\\S").match(h.status.panel(2)).hasMatch());
    QCOMPARE(h.finished, QList<bool>{true});
}

void TestCheckCycleDovecot::overTlsAndStlsLikePlain()
{
    // The same mailbox three times, one per security mode: each check lists and deletes alike.
    const QStringList users{"plain", "stls", "tls"};
    DovecotFixture server;
    QHash<QString, QStringList> files;
    for (const QString &user : users) {
        server.addUser(user, "pw");
        files[user] << server.deliver(user, DovecotFixture::makeMessage("Ann <ann@example.org>", "Kept", 500));
        files[user] << server.deliver(user, DovecotFixture::makeMessage("Bulk <bulk@junk.example>", "Offer", 300));
        files[user] << server.deliver(user, DovecotFixture::makeMessage("Ben <ben@example.org>", "Also kept", 200));
    }
    QString error;
    QVERIFY2(server.setCertificate(DovecotFixture::Certificate::Valid, &error), qPrintable(error));
    startOrFail(server);
    const TrustedTestAuthority trust(server.caCertificatePath());
    QVERIFY(trust.isValid());

    CheckHarness h;
    h.addAccount("1 Plain", "plain", "pw", server.port());
    h.addAccount("2 STLS", "stls", "pw", server.port());
    h.addAccount("3 TLS", "tls", "pw", server.tlsPort());
    {
        POPConfig setup(h.temp.services());
        setup.setSecurity(1, 1);
        setup.setSecurity(2, 2);
        setup.AddBlockedSender("Bulk <bulk@junk.example>");
    }
    h.loadConfig();

    h.cycle.CheckMail();
    QCOMPARE(h.errors, QStringList());
    QCOMPARE(h.keys(), (QStringList{"A0 M1", "A0 M2", "A1 M1", "A1 M2", "A2 M1", "A2 M2"}));
    QCOMPARE(h.list.messages()[5].subject, QString("Also kept"));
    QCOMPARE(h.rejected.size(), 3);
    for (const RejectedMessage &m : h.rejected) {
        QVERIFY(m.deleted);
        QCOMPARE(m.number, 2);
    }
    for (const QString &user : users)
        QTRY_COMPARE(server.messageFiles(user), (QStringList{files[user][0], files[user][2]}));
    // Dovecot marks the log-ins that came over TLS.
    const QString log = server.logText();
    for (const QString &user : {QString("stls"), QString("tls")})
        QVERIFY2(log.contains(QRegularExpression("Login: user=<" + user + ">, [^\n]*, TLS, ")), qPrintable(log));
}

QTEST_GUILESS_MAIN(TestCheckCycleDovecot)
#include "tst_checkcycle_dovecot.moc"

// BasicPOP against a real Dovecot POP3 server on loopback.
#include "BasicPOP.h"
#include "DovecotFixture.h"

#include <QtTest>

using testsupport::DovecotFixture;
using wrenkit::BasicPOP;

class TestBasicPOPDovecot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { server.stop(); }
    void init();
    void loginCountsSizesAndHeaders();
    void wrongPassword();
    void deleteThenQuitRemovesTheMessage();

private:
    DovecotFixture server;
    std::unique_ptr<BasicPOP> pop;
    QStringList errors;
    QList<QByteArray> messages;

    void logIn(const QString &user, const QString &password)
    {
        pop->setHost(server.host());
        pop->setPort(server.port());
        pop->setUserName(user);
        pop->setPassword(password);
        pop->setTimeOut(10);
        pop->Connect();
    }
};

void TestBasicPOPDovecot::initTestCase()
{
    MAILVANE_REQUIRE_DOVECOT();
    server.addUser("alice", "wonderland");
    server.addUser("bob", "builder");
    messages = {
        DovecotFixture::makeMessage("Alice Example <alice@example.org>", "Quarterly report", 2000,
                                    {"X-Priority: 1 (Highest)"}),
        DovecotFixture::makeMessage("news@example.com", "Re: lunch. Friday?", 150),
        DovecotFixture::makeMessage(std::nullopt, std::nullopt, 10),
    };
    for (const QByteArray &message : messages)
        QVERIFY(!server.deliver("alice", message).isEmpty());
    for (int i = 0; i < 3; ++i)
        QVERIFY(!server.deliver("bob", DovecotFixture::makeMessage("b@example.org", QString("bob %1").arg(i), 100)).isEmpty());
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
}

void TestBasicPOPDovecot::init()
{
    pop = std::make_unique<BasicPOP>();
    errors.clear();
    connect(pop.get(), &BasicPOP::Error, this, [this](const QString &text) { errors << text; });
}

void TestBasicPOPDovecot::loginCountsSizesAndHeaders()
{
    logIn("alice", "wonderland");
    QCOMPARE(errors, QStringList());
    QCOMPARE(pop->Status(), 1);
    QCOMPARE(pop->NumberOfMessages(), 3);
    const QStringList ids{pop->UniqueID(1), pop->UniqueID(2), pop->UniqueID(3)};
    for (const QString &id : ids)
        QVERIFY2(!id.isEmpty() && ids.count(id) == 1, qPrintable(ids.join(',')));
    QCOMPARE(pop->UniqueID(4), QString());

    pop->GetMessageInfo(1);
    QCOMPARE(pop->MsgFrom(), QString("Alice Example <alice@example.org>"));
    QCOMPARE(pop->MsgSubject(), QString("Quarterly report"));
    QCOMPARE(pop->MsgPriority(), 1);
    QCOMPARE(pop->MsgSize(), int(DovecotFixture::withCrlf(messages[0]).size()));

    pop->GetMessageInfo(2);
    QCOMPARE(pop->MsgFrom(), QString("news@example.com"));
    QCOMPARE(pop->MsgSubject(), QString("Re: lunch. Friday?"));
    QCOMPARE(pop->MsgSize(), int(DovecotFixture::withCrlf(messages[1]).size()));
    QVERIFY(pop->MsgContents().endsWith("\r\n.\r\n"));

    pop->GetMessageInfo(3);
    QCOMPARE(pop->MsgFrom(), QString("<NotFound>"));
    QCOMPARE(pop->MsgSubject(), QString("<NotFound>"));
    QCOMPARE(pop->MsgContentType(), QString("text/plain; charset=us-ascii"));
    QCOMPARE(pop->MsgSize(), int(DovecotFixture::withCrlf(messages[2]).size()));
    QCOMPARE(errors, QStringList());
    pop->Disconnect();
}

void TestBasicPOPDovecot::wrongPassword()
{
    logIn("alice", "looking-glass");
    QCOMPARE(errors, QStringList{"Server Not Responding To POP3 Commands"});
    QCOMPARE(pop->Status(), 0);
    pop->KillConn();
}

void TestBasicPOPDovecot::deleteThenQuitRemovesTheMessage()
{
    const QStringList before = server.messageFiles("bob");
    QCOMPARE(before.size(), 3);
    logIn("bob", "builder");
    QCOMPARE(pop->Status(), 1);
    pop->GetMessageInfo(2);
    QCOMPARE(pop->MsgSubject(), QString("bob 1"));
    pop->DeleteMessage(2);
    pop->Disconnect();
    QCOMPARE(errors, QStringList());
    QTRY_COMPARE(server.messageFiles("bob"), (QStringList{before[0], before[2]}));
}

QTEST_GUILESS_MAIN(TestBasicPOPDovecot)
#include "tst_basicpop_dovecot.moc"

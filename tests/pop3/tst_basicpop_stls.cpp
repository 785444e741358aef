// BasicPOP's secure modes against a scripted server: the log-in never sends the user name or the
// password unless the connection is encrypted.
#include "BasicPOP.h"
#include "ScriptedPop3Server.h"

#include <QtTest>

using testsupport::ScriptedPop3Server;
using wrenkit::BasicPOP;

class TestBasicPOPStls : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void noEncryptionNoLogIn_data();
    void noEncryptionNoLogIn();

private:
    std::unique_ptr<ScriptedPop3Server> server;
    std::unique_ptr<BasicPOP> pop;
    QStringList errors;
};

void TestBasicPOPStls::init()
{
    server = std::make_unique<ScriptedPop3Server>();
    pop = std::make_unique<BasicPOP>();
    pop->setTickInterval(50);
    pop->setHost("127.0.0.1");
    pop->setPort(server->port());
    pop->setUserName("user");
    pop->setPassword("secret");
    pop->setTimeOut(2);
    errors.clear();
    connect(pop.get(), &BasicPOP::Error, this, [this](const QString &text) { errors << text; });
}

void TestBasicPOPStls::noEncryptionNoLogIn_data()
{
    QTest::addColumn<int>("security");
    QTest::addColumn<QByteArrayList>("replies"); // to CAPA, then to STLS
    QTest::addColumn<QString>("error");          // empty: starts with the socket's TLS error

    QTest::newRow("STLS not in CAPA")
        << 1 << QByteArrayList{"+OK Capability list follows\r\nTOP\r\nUSER\r\nUIDL\r\n.\r\n"}
        << BasicPOP::StlsNotOffered;
    QTest::newRow("CAPA refused") << 1 << QByteArrayList{"-ERR unknown command\r\n"}
                                  << BasicPOP::StlsNotOffered;
    QTest::newRow("STLS refused") << 1
                                  << QByteArrayList{"+OK\r\nSTLS\r\nUSER\r\n.\r\n",
                                                    "-ERR TLS not available now\r\n"}
                                  << BasicPOP::StlsRefused;
    QTest::newRow("clear text after the reply to STLS")
        << 1 << QByteArrayList{"+OK\r\nSTLS\r\n.\r\n", "+OK Begin TLS negotiation\r\n+OK logged in\r\n"}
        << QStringLiteral("Server Out Of Step");
    QTest::newRow("STLS accepted, no handshake follows")
        << 1 << QByteArrayList{"+OK\r\nSTLS\r\n.\r\n", "+OK Begin TLS negotiation\r\n"}
        << BasicPOP::ConnectionTimedOut;
    QTest::newRow("TLS to a server that speaks plain text") << 2 << QByteArrayList{} << QString();
}

void TestBasicPOPStls::noEncryptionNoLogIn()
{
    QFETCH(int, security);
    QFETCH(QByteArrayList, replies);
    QFETCH(QString, error);
    server->send("+OK POP3 ready\r\n");
    if (!replies.isEmpty())
        server->expect("CAPA").send(replies.value(0));
    if (replies.size() > 1)
        server->expect("STLS").send(replies.value(1));
    pop->setSecurity(security);
    pop->Connect();

    QCOMPARE(errors.size(), 1);
    if (!error.isEmpty())
        QCOMPARE(errors.first(), error);
    QCOMPARE(pop->Status(), 0);
    for (const QByteArray &line : server->received())
        QVERIFY2(!line.startsWith("USER") && !line.startsWith("PASS"), line.constData());
    QTRY_VERIFY(server->clientClosed());
    // A TLS handshake is no command line; only the STLS scripts are followed line by line.
    if (security == 1)
        QVERIFY2(server->unexpected().isEmpty(), server->unexpected());
}

QTEST_GUILESS_MAIN(TestBasicPOPStls)
#include "tst_basicpop_stls.moc"

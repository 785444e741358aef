// BasicPOP against a scripted server: what the client sends, what the server answers, what the
// control reports.
#include "BasicPOP.h"
#include "ScriptedPop3Server.h"

#include <QtTest>
#include <ctime>

using testsupport::ScriptedPop3Server;
using wrenkit::BasicPOP;

namespace {

// Steps of a script: "S:bytes" the server sends, "C:line" the client must send, "D:ms" delays
// the next send, "X" the server closes, "A" waits for the client's next connection.
void play(ScriptedPop3Server &server, const QStringList &steps)
{
    int delay = 0;
    for (const QString &step : steps) {
        const QByteArray rest = step.mid(2).toLatin1();
        if (step.startsWith("S:")) {
            server.send(rest, delay);
            delay = 0;
        } else if (step.startsWith("C:")) {
            server.expect(rest);
        } else if (step.startsWith("D:")) {
            delay = rest.toInt();
        } else if (step == "X") {
            server.closeConnection();
        } else if (step == "A") {
            server.nextConnection();
        }
    }
}

// The greeting, and CAPA answered without PIPELINING.
const QStringList greeting{"S:+OK POP3 ready\r\n", "C:CAPA", "S:+OK\r\nTOP\r\n.\r\n"};
const QStringList loggedIn = greeting + QStringList{"C:USER user", "S:+OK\r\n", "C:PASS secret", "S:+OK\r\n"};

double processCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Records the control's events in order, with the Status seen by a Connected handler.
struct EventLog
{
    explicit EventLog(BasicPOP &pop)
    {
        QObject::connect(&pop, &BasicPOP::Connected, [this, &pop] {
            events << "Connected";
            statusInConnected = pop.Status();
        });
        QObject::connect(&pop, &BasicPOP::Error, [this](const QString &text) { events << "Error:" + text; });
        QObject::connect(&pop, &BasicPOP::Disconnected, [this] { events << "Disconnected"; });
    }
    QStringList events;
    int statusInConnected = -1;
};

} // namespace

class TestBasicPOP : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void loginAndListing();
    void uniqueIds_data();
    void uniqueIds();
    void connectOutcomes_data();
    void connectOutcomes();
    void killConnDuringWait_data();
    void killConnDuringWait();
    void commandLinesCannotBeInjected();
    void serverCloseDuringWait();
    void listingSizes_data();
    void listingSizes();
    void statCount_data();
    void statCount();
    void countBeyondListing();
    void extraBytesAfterAReply_data();
    void extraBytesAfterAReply();
    void quitConfirmsDeletions_data();
    void quitConfirmsDeletions();
    void messageInfo();
    void messageInfoFailures_data();
    void messageInfoFailures();
    void deleteMessage_data();
    void deleteMessage();
    void disconnect();
    void endlessReplyIsCut();
    void pipelinedReadsGoOutTogether();
    void topRefusedInARun_data();
    void topRefusedInARun();
    void serverClosesInARun_data();
    void serverClosesInARun();
    void killConnDropsWhatIsInFlight();
    void largeMailboxWithBoundedMemory();
    void silentWaitUsesNoCpu();

private:
    std::unique_ptr<ScriptedPop3Server> server;
    std::unique_ptr<BasicPOP> pop;
    std::unique_ptr<EventLog> log;

    void setUp(int timeOut = 2)
    {
        pop->setHost("127.0.0.1");
        pop->setPort(server->port());
        pop->setUserName("user");
        pop->setPassword("secret");
        pop->setTimeOut(timeOut);
    }
};

void TestBasicPOP::init()
{
    server = std::make_unique<ScriptedPop3Server>();
    pop = std::make_unique<BasicPOP>();
    pop->setTickInterval(50);
    log = std::make_unique<EventLog>(*pop);
}

void TestBasicPOP::loginAndListing()
{
    // The host binds to the control's members by name.
    server->login({120, 200});
    pop->setProperty("Host", "127.0.0.1");
    pop->setProperty("Port", server->port());
    pop->setProperty("UserName", "user");
    pop->setProperty("Password", "secret");
    pop->setProperty("TimeOut", 2);
    QVERIFY(QMetaObject::invokeMethod(pop.get(), "Connect"));
    QCOMPARE(log->events, QStringList{"Connected"});
    QCOMPARE(log->statusInConnected, 0);
    QCOMPARE(pop->property("Status").toInt(), 1);
    QCOMPARE(pop->property("NumberOfMessages").toInt(), 2);
    QCOMPARE(server->received(), (QByteArrayList{"CAPA", "USER user", "PASS secret", "STAT", "LIST", "UIDL"}));
    QCOMPARE(pop->MsgContents(), QString("+OK scan listing follows\r\n1 120\r\n2 200\r\n.\r\n"));
    QString id;
    QVERIFY(QMetaObject::invokeMethod(pop.get(), "UniqueID", Q_RETURN_ARG(QString, id), Q_ARG(int, 2)));
    QCOMPARE(id, QString("uid-2"));
}

void TestBasicPOP::uniqueIds_data()
{
    QTest::addColumn<QByteArray>("uidl");
    QTest::addColumn<QStringList>("ids"); // UniqueID of messages 1..3

    QTest::newRow("answered") << QByteArray("+OK\r\n1 whqtswO00WBw418f9t5JxYwZ\r\n2 b\r\n3 c\r\n.\r\n")
                              << QStringList{"whqtswO00WBw418f9t5JxYwZ", "b", "c"};
    QTest::newRow("refused") << QByteArray("-ERR unknown command\r\n") << QStringList{"", "", ""};
    QTest::newRow("by number, unreadable lines skipped")
        << QByteArray("+OK\r\n3 c\r\nx y\r\n1\r\n2 \x01" "bad\r\n.\r\n") << QStringList{"", "", "c"};
}

void TestBasicPOP::uniqueIds()
{
    QFETCH(QByteArray, uidl);
    play(*server, loggedIn + QStringList{"C:STAT", "S:+OK 3 30\r\n", "C:LIST", "S:+OK\r\n1 10\r\n2 10\r\n3 10\r\n.\r\n",
                                         "C:UIDL", "S:" + QString::fromLatin1(uidl), "C:TOP 1 1",
                                         "S:+OK\r\nFrom: a\r\n\r\n.\r\n"});
    setUp();
    pop->Connect();
    pop->GetMessageInfo(1); // nothing else changes: the session goes on
    QCOMPARE(log->events, QStringList{"Connected"});
    QCOMPARE(pop->Status(), 1);
    QCOMPARE(pop->MsgFrom(), QString("a"));
    QCOMPARE(pop->MsgSize(), 10);
    QFETCH(QStringList, ids);
    for (int n = 1; n <= 3; ++n)
        QCOMPARE(pop->UniqueID(n), ids[n - 1]);
    QCOMPARE(pop->UniqueID(4), QString());
    QVERIFY(server->finished());
}

void TestBasicPOP::connectOutcomes_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("port"); // -1: the server's; -2: one nobody listens on
    QTest::addColumn<int>("timeOut");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArrayList>("sent");
    QTest::addColumn<int>("status");

    const QByteArrayList none;
    QTest::newRow("port not set") << greeting << 0 << 2 << QStringList{"Error:Port Not Set"} << none << 0;
    QTest::newRow("connection refused") << greeting << -2 << 2 << QStringList{"Error:Connection refused"} << none << 0;
    QTest::newRow("time-out 0 connects nowhere") << greeting << -1 << 0 << QStringList{} << none << 0;
    QTest::newRow("server never greets") << QStringList{} << -1 << 1 << QStringList{"Error:Connection Timed Out"}
                                         << none << 0;
    QTest::newRow("negative greeting") << QStringList{"S:-ERR go away\r\n"} << -1 << 2
                                       << QStringList{"Error:Invalid User Name"} << none << 0;
    QTest::newRow("user refused") << greeting + QStringList{"C:USER user", "S:-ERR\r\n"} << -1 << 2
                                  << QStringList{"Error:Invalid UserName or Password"}
                                  << QByteArrayList{"CAPA", "USER user"} << 0;
    QTest::newRow("password refused")
        << greeting + QStringList{"C:USER user", "S:+OK\r\n", "C:PASS secret", "S:-ERR [AUTH] failed\r\n"} << -1 << 2
        << QStringList{"Error:Server Not Responding To POP3 Commands"}
        << QByteArrayList{"CAPA", "USER user", "PASS secret"} << 0;
    QTest::newRow("silent after USER") << greeting + QStringList{"C:USER user"} << -1 << 1
                                       << QStringList{"Error:Connection Timed Out"}
                                       << QByteArrayList{"CAPA", "USER user"} << 0;
    QTest::newRow("silent after STAT") << loggedIn + QStringList{"C:STAT"} << -1 << 1
                                       << QStringList{"Error:Connection Timed Out"}
                                       << QByteArrayList{"CAPA", "USER user", "PASS secret", "STAT"} << 0;
    QTest::newRow("listing never ends")
        << loggedIn + QStringList{"C:STAT", "S:+OK 1 10\r\n", "C:LIST", "S:+OK\r\n1 10\r\n"} << -1 << 1
        << QStringList{"Connected", "Error:Connection Timed Out"}
        << QByteArrayList{"CAPA", "USER user", "PASS secret", "STAT", "LIST"} << 1;
    QTest::newRow("negative STAT still lists")
        << loggedIn + QStringList{"C:STAT", "S:-ERR locked\r\n", "C:LIST", "S:-ERR locked\r\n"} << -1 << 2
        << QStringList{} << QByteArrayList{"CAPA", "USER user", "PASS secret", "STAT", "LIST"} << 0;
    QTest::newRow("replies split at every byte boundary we could pick")
        << QStringList{"S:+OK POP3 ready\r\n", "C:CAPA", "S:+OK\r\nPIPE", "D:20", "S:LINING\r", "D:20", "S:\n.\r\n",
                       "C:USER user", "S:+", "D:20", "S:OK\r", "D:20", "S:\n", "C:PASS secret",
                                  "S:+OK\r\n", "C:STAT", "S:+OK 1", "D:20", "S: 5\r\n", "C:LIST", "S:+OK\r\n1 5\r",
                                  "D:20", "S:\n.", "D:20", "S:\r\n", "C:UIDL", "S:+OK\r\n1 a\r", "D:20", "S:\n.\r\n"}
        << -1 << 2 << QStringList{"Connected"}
        << QByteArrayList{"CAPA", "USER user", "PASS secret", "STAT", "LIST", "UIDL"} << 1;
}

void TestBasicPOP::connectOutcomes()
{
    QFETCH(QStringList, script);
    QFETCH(int, port);
    QFETCH(int, timeOut);
    play(*server, script);
    setUp(timeOut);
    if (port >= 0)
        pop->setPort(port);
    if (port == -2)
        pop->setPort(testsupport::unusedPort());
    pop->Connect();
    QTEST(log->events, "events");
    QTEST(server->received(), "sent");
    QTEST(pop->Status(), "status");
    QVERIFY2(server->unexpected().isEmpty(), server->unexpected());
    if (log->events.contains("Error:Connection Timed Out"))
        QTRY_VERIFY(server->clientClosed());
}

void TestBasicPOP::killConnDuringWait_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QByteArray>("killOn"); // the command whose reply never comes; empty: the greeting
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("status");

    QTest::newRow("greeting") << QStringList{} << QByteArray() << QStringList{} << 0;
    QTest::newRow("USER") << greeting << QByteArray("USER user") << QStringList{} << 0;
    QTest::newRow("PASS") << greeting + QStringList{"C:USER user", "S:+OK\r\n"} << QByteArray("PASS secret")
                          << QStringList{} << 0;
    QTest::newRow("STAT") << loggedIn << QByteArray("STAT") << QStringList{} << 0;
    QTest::newRow("LIST") << loggedIn + QStringList{"C:STAT", "S:+OK 1 5\r\n"} << QByteArray("LIST")
                          << QStringList{"Connected"} << 1;
}

void TestBasicPOP::killConnDuringWait()
{
    // The cancel command arrives while the control waits for the server, as from a button.
    QFETCH(QStringList, script);
    QFETCH(QByteArray, killOn);
    play(*server, script);
    setUp(60);
    if (killOn.isEmpty())
        connect(server.get(), &ScriptedPop3Server::clientConnected, pop.get(), &BasicPOP::KillConn);
    connect(server.get(), &ScriptedPop3Server::commandReceived, pop.get(), [&](const QByteArray &line) {
        if (line == killOn)
            pop->KillConn();
    });
    pop->Connect();
    QTEST(log->events, "events");
    QTEST(pop->Status(), "status");
    QTRY_VERIFY(server->clientClosed());
}

void TestBasicPOP::commandLinesCannotBeInjected()
{
    server->login({10}, "user", "secret");
    setUp();
    pop->setPassword("secret\r\nDELE 1");
    pop->Connect();
    QCOMPARE(server->received(), (QByteArrayList{"CAPA", "USER user", "PASS secret", "STAT", "LIST", "UIDL"}));
}

void TestBasicPOP::serverCloseDuringWait()
{
    // The close is reported at once; the wait for the USER reply still runs to its time-out.
    play(*server, greeting + QStringList{"C:USER user", "X"});
    setUp(1);
    pop->Connect();
    QCOMPARE(log->events, (QStringList{"Disconnected", "Error:Connection Timed Out"}));
    QCOMPARE(pop->Status(), 0);
}

void TestBasicPOP::listingSizes_data()
{
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QList<int>>("sizes"); // MsgSize for messages 1..3

    QTest::newRow("in order") << QByteArray("+OK\r\n1 120\r\n2 200\r\n3 7\r\n.\r\n") << QList<int>{120, 200, 7};
    QTest::newRow("a number skipped") << QByteArray("+OK\r\n1 100\r\n3 300\r\n.\r\n") << QList<int>{100, -1, 300};
    QTest::newRow("out of order") << QByteArray("+OK\r\n3 30\r\n1 10\r\n.\r\n") << QList<int>{10, -1, 30};
    QTest::newRow("size beyond 32 bits and not a number")
        << QByteArray("+OK\r\n1 99999999999\r\n2 abc\r\n3 0\r\n.\r\n") << QList<int>{-1, -1, 0};
    QTest::newRow("listing refused") << QByteArray("-ERR not now\r\n") << QList<int>{-1, -1, -1};
    QTest::newRow("extra words and an empty line") << QByteArray("+OK 3 messages\r\n1 5 x\r\n\r\n3 6\r\n.\r\n")
                                                   << QList<int>{5, -1, 6};
}

void TestBasicPOP::listingSizes()
{
    QFETCH(QByteArray, listing);
    QFETCH(QList<int>, sizes);
    play(*server, loggedIn + QStringList{"C:STAT", "S:+OK 3 300\r\n", "C:LIST", "S:" + QString::fromLatin1(listing),
                                         "C:UIDL", "S:-ERR\r\n"});
    setUp();
    pop->Connect();
    QCOMPARE(pop->Status(), 1);
    for (int n = 1; n <= 3; ++n) {
        pop->GetMessageInfo(n); // fails on the silent server, but selects message n
        QCOMPARE(pop->MsgSize(), sizes[n - 1]);
    }
}

void TestBasicPOP::statCount_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("error"); // empty: the log-in completes

    QTest::newRow("two") << QByteArray("+OK 2 320") << 2 << "";
    QTest::newRow("zero") << QByteArray("+OK 0 0") << 0 << "";
    QTest::newRow("beyond 16 bits") << QByteArray("+OK 40000 1") << 40000 << "";
    QTest::newRow("beyond 32 bits") << QByteArray("+OK 99999999999 1") << 0 << "Invalid Message Count";
    QTest::newRow("no count") << QByteArray("+OK") << 0 << "Invalid Message Count";
    QTest::newRow("not a number") << QByteArray("+OK lots of mail") << 0 << "Invalid Message Count";
    QTest::newRow("negative") << QByteArray("+OK -3 0") << 0 << "Invalid Message Count";
}

void TestBasicPOP::statCount()
{
    // The count never carries over from an earlier session, which here counted 7 messages.
    QFETCH(QByteArray, stat);
    QFETCH(int, count);
    QFETCH(QString, error);
    server->login({1, 1, 1, 1, 1, 1, 1});
    QStringList second = QStringList{"A"} + loggedIn + QStringList{"C:STAT", "S:" + QString::fromLatin1(stat) + "\r\n"};
    if (error.isEmpty()) {
        QByteArray listing = "+OK\r\n";
        for (int n = 1; n <= count; ++n)
            listing += QByteArray::number(n) + " 1\r\n";
        second << "C:LIST" << "S:" + QString::fromLatin1(listing) + ".\r\n";
        if (count > 0)
            second << "C:UIDL" << "S:-ERR\r\n";
    }
    play(*server, second);
    setUp();
    pop->Connect();
    QCOMPARE(pop->NumberOfMessages(), 7);
    const qsizetype firstSession = server->received().size();
    pop->Connect();
    QVERIFY2(server->unexpected().isEmpty(), server->unexpected());
    QCOMPARE(pop->NumberOfMessages(), count);
    QCOMPARE(pop->Status(), error.isEmpty() ? 1 : 0);
    QCOMPARE(log->events, (QStringList{"Connected", error.isEmpty() ? "Connected" : "Error:" + error}));
    QCOMPARE(server->received().mid(firstSession).last(), error.isEmpty() ? QByteArray(count > 0 ? "UIDL" : "LIST")
                                                                           : QByteArray("STAT"));
}

void TestBasicPOP::countBeyondListing()
{
    // Only the listed messages are there to examine; the rest of the count is reported once.
    play(*server, loggedIn + QStringList{"C:STAT", "S:+OK 2147483647 1\r\n", "C:LIST",
                                         "S:+OK\r\n1 10\r\n2 20\r\n3 30\r\n.\r\n", "C:UIDL", "S:-ERR\r\n"});
    setUp();
    pop->Connect();
    QCOMPARE(log->events, (QStringList{"Connected", "Error:Message Count Beyond Listing"}));
    QCOMPARE(pop->Status(), 1);
    QCOMPARE(pop->NumberOfMessages(), 3);
    QVERIFY(server->finished());
}

void TestBasicPOP::messageInfo()
{
    server->login({300, 400, 500});
    play(*server,
         {"C:TOP 1 1",
          "S:+OK\r\nReturn-Path: <a@example.org>\r\nFrom: John Smith <js@example.org>\r\nTo: me@example.org\r\n"
          "Subject: part one\r\n part two\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\nX-Priority: 3 (Normal)\r\n"
          "Content-Type: text/plain\r\n\r\nFirst line ends here.\r\n",
          "D:50", "S:-- \r\nsignature\r\n.\r\n",
          // TOP refused: the whole message is fetched at once, without waiting for a time-out.
          "C:TOP 2 1", "S:-ERR TOP not supported\r\n", "C:RETR 2",
          "S:+OK\r\nsubject: hello\r\nFrom: b@example.org\r\nContent-Transfer-Encoding: 7bit\r\n\r\nbody\r\n.\r\n"});
    setUp();
    pop->Connect();
    pop->GetMessageInfo(1);
    QCOMPARE(pop->MsgFrom(), QString("John Smith <js@example.org>"));
    QCOMPARE(pop->MsgTo(), QString("me@example.org"));
    QCOMPARE(pop->MsgSubject(), QString("part one"));
    QCOMPARE(pop->MsgDate(), QString("Mon, 1 Jan 2024 10:00:00 +0000"));
    QCOMPARE(pop->MsgPriority(), 3);
    QCOMPARE(pop->MsgContentType(), QString("text/plain"));
    QCOMPARE(pop->MsgContentTranferEncoding(), QString("<NotFound>"));
    QCOMPARE(pop->MsgSize(), 300);
    QVERIFY(pop->MsgContents().endsWith("signature\r\n.\r\n"));
    QVERIFY(pop->InfoComplete());

    pop->GetMessageInfo(2);
    QCOMPARE(pop->MsgSubject(), QString("hello"));
    QCOMPARE(pop->MsgFrom(), QString("b@example.org"));
    QCOMPARE(pop->MsgTo(), QString("<NotFound>"));
    QCOMPARE(pop->MsgDate(), QString("<NotFound>"));
    QCOMPARE(pop->MsgPriority(), 3); // kept from the message before
    QCOMPARE(pop->MsgContentTranferEncoding(), QString("7bit"));
    QCOMPARE(pop->MsgSize(), 400);
    QCOMPARE(log->events, QStringList{"Connected"});
    QVERIFY(server->finished());
}

void TestBasicPOP::messageInfoFailures_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("killFirst");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QByteArrayList>("sentAfterLogin");
    QTest::addColumn<bool>("closed");

    const QByteArrayList none;
    QTest::newRow("number 0") << QStringList{} << false << 0 << "NumMsgs in Info" << none << false;
    QTest::newRow("number above the count") << QStringList{} << false << 3 << "NumMsgs in Info" << none << false;
    QTest::newRow("connection closed") << QStringList{} << true << 1 << "Connection Lost" << none << true;
    QTest::newRow("no reply") << QStringList{"C:TOP 1 1"} << false << 1
                              << "Server Not Responding or Zero-Length Message" << QByteArrayList{"TOP 1 1"} << true;
    QTest::newRow("reply ends in a full stop but never terminates")
        << QStringList{"C:TOP 1 1", "S:+OK\r\nSubject: x\r\n\r\nThe end.\r\n"} << false << 1
        << "Server Not Responding or Zero-Length Message" << QByteArrayList{"TOP 1 1"} << true;
    QTest::newRow("TOP and RETR refused") << QStringList{"C:TOP 1 1", "S:-ERR no\r\n", "C:RETR 1", "S:-ERR gone\r\n"}
                                          << false << 1 << "Server Refused Message"
                                          << QByteArrayList{"TOP 1 1", "RETR 1"} << false;
}

void TestBasicPOP::messageInfoFailures()
{
    QFETCH(QStringList, script);
    QFETCH(bool, killFirst);
    QFETCH(int, number);
    server->login({10, 20});
    // A first message sets the header properties, which no failure may change.
    play(*server, QStringList{"C:TOP 1 1", "S:+OK\r\nFrom: first@example.org\r\nSubject: first\r\n\r\n.\r\n"} + script);
    setUp(1);
    pop->Connect();
    pop->GetMessageInfo(1);
    const QByteArrayList loginAndFirst = server->received();
    if (killFirst)
        pop->KillConn();
    log->events.clear();

    QFETCH(QString, error);
    pop->GetMessageInfo(number);
    QCOMPARE(log->events, QStringList{"Error:" + error});
    QTEST(server->received().mid(loginAndFirst.size()), "sentAfterLogin");
    QCOMPARE(pop->MsgFrom(), QString("first@example.org"));
    QCOMPARE(pop->MsgSubject(), QString("first"));
    QVERIFY(!pop->InfoComplete());
    QFETCH(bool, closed);
    if (closed)
        QTRY_VERIFY(server->clientClosed());
    else
        QVERIFY(!server->clientClosed());
}

void TestBasicPOP::deleteMessage_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<bool>("killFirst");
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArrayList>("sentAfterLogin");

    QTest::newRow("deleted") << QStringList{"C:DELE 2", "S:+OK marked\r\n"} << false << 2 << QStringList{}
                             << QByteArrayList{"DELE 2"};
    QTest::newRow("refusal is reported") << QStringList{"C:DELE 2", "S:-ERR already deleted\r\n"} << false << 2
                                         << QStringList{"Error:Server Refused Deletion"} << QByteArrayList{"DELE 2"};
    QTest::newRow("number 0") << QStringList{} << false << 0 << QStringList{"Error:Invalid Message Number"}
                              << QByteArrayList{};
    QTest::newRow("number above the count") << QStringList{} << false << 3
                                            << QStringList{"Error:Invalid Message Number"} << QByteArrayList{};
    QTest::newRow("connection closed") << QStringList{} << true << 1 << QStringList{"Error:Not Conn Sock"}
                                       << QByteArrayList{};
    QTest::newRow("no reply") << QStringList{"C:DELE 1"} << false << 1 << QStringList{"Error:Server Timed Out"}
                              << QByteArrayList{"DELE 1"};
}

void TestBasicPOP::deleteMessage()
{
    QFETCH(QStringList, script);
    QFETCH(bool, killFirst);
    QFETCH(int, number);
    server->login({10, 20});
    play(*server, script);
    setUp(1);
    pop->Connect();
    const qsizetype loginLines = server->received().size();
    if (killFirst)
        pop->KillConn();
    pop->DeleteMessage(number);
    QTEST(log->events.mid(1), "events");
    QTRY_COMPARE(server->received().mid(loginLines), [] {
        QFETCH(QByteArrayList, sentAfterLogin);
        return sentAfterLogin;
    }());
    QCOMPARE(pop->NumberOfMessages(), 2);
}

void TestBasicPOP::disconnect()
{
    server->login({10}).expect("QUIT").send("+OK bye\r\n").closeConnection();
    setUp();
    pop->Disconnect(); // nothing open: nothing happens
    pop->Connect();
    pop->Disconnect();
    QCOMPARE(pop->Status(), 1);
    QVERIFY(server->finished());
    QTRY_VERIFY(server->clientClosed());
    pop->Disconnect();
    QCOMPARE(log->events, QStringList{"Connected"});
}

void TestBasicPOP::extraBytesAfterAReply_data()
{
    QTest::addColumn<QStringList>("afterTop1"); // what the server sends after TOP 1 1

    // Message 1 has no From; the bytes after its reply have one.
    const QString reply = "S:+OK\r\nSubject: one\r\n\r\n.\r\n";
    const QString extra = "From: Spammer <spam@junk.example>\r\n\r\n.\r\n";
    QTest::newRow("in the same chunk") << QStringList{reply + extra};
    QTest::newRow("written right after") << QStringList{reply, "S:" + extra};
    QTest::newRow("a second positive reply in the same chunk") << QStringList{reply + "+OK\r\n" + extra};
    QTest::newRow("after the next command went out") << QStringList{reply, "C:TOP 2 1", "S:" + extra};
}

void TestBasicPOP::extraBytesAfterAReply()
{
    // Reading messages 1 and 2: the unexpected bytes end the session with one error, wherever
    // they fall, and no header of either message comes from them.
    QFETCH(QStringList, afterTop1);
    server->login({10, 20});
    play(*server, QStringList{"C:TOP 1 1"} + afterTop1);
    setUp();
    pop->Connect();
    log->events.clear();
    QStringList froms;
    pop->GetMessageInfo(1);
    froms << pop->MsgFrom();
    if (log->events.isEmpty()) {
        QVERIFY(pop->InfoComplete());
        QCOMPARE(pop->MsgContents(), QString("+OK\r\nSubject: one\r\n\r\n.\r\n"));
    }
    pop->GetMessageInfo(2);
    froms << pop->MsgFrom();
    QVERIFY(!pop->InfoComplete());
    QVERIFY(!log->events.isEmpty());
    QCOMPARE(log->events.first(), QString("Error:Server Out Of Step"));
    for (const QString &later : log->events.mid(1))
        QCOMPARE(later, QString("Error:Connection Lost"));
    QVERIFY2(!froms.join(' ').contains("spam"), qPrintable(froms.join(' ')));
    QTRY_VERIFY(server->clientClosed());
}

void TestBasicPOP::quitConfirmsDeletions_data()
{
    QTest::addColumn<QStringList>("script"); // after the log-in
    QTest::addColumn<QStringList>("events"); // after the log-in
    QTest::addColumn<bool>("deleted");

    const QString dele = "C:DELE 1";
    // A strict server (Cyrus) answers "-ERR Syntax error" to "QUIT " with a blank and rolls the
    // deletions back; the script plays only on the exact line "QUIT".
    QTest::newRow("QUIT accepted") << QStringList{dele, "S:+OK\r\n", "C:QUIT", "S:+OK bye\r\n", "X"} << QStringList{}
                                   << true;
    QTest::newRow("QUIT accepted, then bytes past it")
        << QStringList{dele, "S:+OK\r\n", "C:QUIT", "S:+OK bye\r\nnoise"} << QStringList{} << true;
    QTest::newRow("QUIT refused") << QStringList{dele, "S:+OK\r\n", "C:QUIT", "S:-ERR Syntax error\r\n"}
                                  << QStringList{"Error:Deletions Not Confirmed"} << false;
    QTest::newRow("QUIT unanswered") << QStringList{dele, "S:+OK\r\n", "C:QUIT"}
                                     << QStringList{"Error:Deletions Not Confirmed"} << false;
    QTest::newRow("closed without an answer to QUIT") << QStringList{dele, "S:+OK\r\n", "C:QUIT", "X"}
                                                      << QStringList{"Error:Deletions Not Confirmed"} << false;
    QTest::newRow("DELE refused") << QStringList{dele, "S:-ERR locked\r\n", "C:QUIT", "S:+OK\r\n"}
                                  << QStringList{"Error:Server Refused Deletion"} << false;
    QTest::newRow("time-out after DELE") << QStringList{dele} << QStringList{"Error:Server Timed Out"} << false;
}

void TestBasicPOP::quitConfirmsDeletions()
{
    QFETCH(QStringList, script);
    server->login({10, 20});
    play(*server, script);
    setUp(1);
    pop->Connect();
    log->events.clear();
    pop->DeleteMessage(1);
    QVERIFY(!pop->MessageDeleted(1));
    pop->Disconnect();
    QTEST(log->events, "events");
    QTEST(pop->MessageDeleted(1), "deleted");
    QVERIFY(!pop->MessageDeleted(2));
    QCOMPARE(pop->Status(), 1);
    QVERIFY2(server->unexpected().isEmpty(), server->unexpected());
    if (script.contains("C:QUIT"))
        QCOMPARE(server->received().last(), QByteArray("QUIT"));
    QTRY_VERIFY(server->clientClosed());
    // The next session starts with none of them.
    pop->Connect();
    QVERIFY(!pop->MessageDeleted(1));
}

namespace {
QByteArray headers(int n)
{
    return "+OK\r\nFrom: sender" + QByteArray::number(n) + "@example.org\r\nSubject: s" + QByteArray::number(n) +
           "\r\n\r\n.\r\n";
}
} // namespace

void TestBasicPOP::pipelinedReadsGoOutTogether()
{
    // The server answers only once it has all five header reads: a client that waited for each
    // reply would time out. The replies come cut at awkward places.
    server->login({10, 20, 30, 40, 50}, "user", "secret", true, true);
    QByteArray replies;
    for (int n = 1; n <= 5; ++n) {
        server->expect("TOP " + QByteArray::number(n) + " 1");
        replies += headers(n);
    }
    const qsizetype cut1 = replies.indexOf("\r\n.\r\n") + 3; // inside the first terminator
    const qsizetype cut2 = replies.indexOf("+OK", cut1) + 1;    // inside the next status line
    server->send(replies.left(cut1)).send(replies.mid(cut1, cut2 - cut1), 20).send(replies.mid(cut2), 20);
    server->expect("QUIT").send("+OK\r\n");
    setUp(1);
    pop->Connect();
    QVERIFY(pop->pipelining());
    for (int n = 1; n <= 5; ++n) {
        pop->GetMessageInfo(n);
        QVERIFY(pop->InfoComplete());
        QCOMPARE(pop->MsgFrom(), QString("sender%1@example.org").arg(n));
        QCOMPARE(pop->MsgContents().toLatin1(), headers(n));
        QCOMPARE(pop->MsgSize(), n * 10);
    }
    pop->Disconnect();
    QCOMPARE(log->events, QStringList{"Connected"});
    QVERIFY(server->finished());
}

void TestBasicPOP::topRefusedInARun_data()
{
    QTest::addColumn<bool>("pipelining");
    QTest::newRow("sequential") << false;
    QTest::newRow("pipelined") << true;
}

void TestBasicPOP::topRefusedInARun()
{
    // TOP 2 is refused: RETR 2 follows for that message only, the others are read as usual.
    QFETCH(bool, pipelining);
    server->login({10, 20, 30, 40}, "user", "secret", true, pipelining);
    server->expect("TOP 1 1").send(headers(1));
    server->expect("TOP 2 1").send("-ERR TOP not here\r\n");
    // Pipelined, the reads ahead were on the wire before the refusal came, and DELE 3 follows them.
    if (pipelining)
        server->expect("TOP 3 1").send(headers(3)).expect("TOP 4 1").send(headers(4));
    server->expect("RETR 2").send("+OK\r\nFrom: whole@example.org\r\n\r\nbody\r\n.\r\n");
    if (!pipelining)
        server->expect("TOP 3 1").send(headers(3));
    server->expect("DELE 3").send("+OK\r\n");
    if (!pipelining)
        server->expect("TOP 4 1").send(headers(4));
    server->expect("QUIT").send("+OK\r\n");
    setUp(1);
    pop->Connect();
    QCOMPARE(pop->pipelining(), pipelining);
    const QStringList expected{"sender1@example.org", "whole@example.org", "sender3@example.org",
                               "sender4@example.org"};
    for (int n = 1; n <= 4; ++n) {
        pop->GetMessageInfo(n);
        QCOMPARE(pop->MsgFrom(), expected[n - 1]);
        if (n == 3)
            pop->DeleteMessage(3);
    }
    pop->Disconnect();
    QVERIFY(pop->MessageDeleted(3));
    QCOMPARE(log->events, QStringList{"Connected"});
    QVERIFY2(server->unexpected().isEmpty(), server->unexpected());
    QVERIFY(server->finished());
}

void TestBasicPOP::serverClosesInARun_data()
{
    QTest::addColumn<bool>("pipelining");
    QTest::newRow("sequential") << false;
    QTest::newRow("pipelined") << true;
}

void TestBasicPOP::serverClosesInARun()
{
    // The server goes away after the first reply: every later message is reported as not read,
    // once each, and its headers are never guessed.
    QFETCH(bool, pipelining);
    server->login({10, 20, 30, 40}, "user", "secret", true, pipelining);
    server->expect("TOP 1 1").send(headers(1)).expect("TOP 2 1").closeConnection();
    setUp(1);
    pop->Connect();
    log->events.clear();
    for (int n = 1; n <= 4; ++n) {
        pop->GetMessageInfo(n);
        QCOMPARE(pop->InfoComplete(), n == 1);
        QCOMPARE(pop->MsgFrom(), QString("sender1@example.org"));
    }
    QCOMPARE(log->events.count("Disconnected"), 1);
    log->events.removeAll("Disconnected");
    QCOMPARE(log->events.size(), 3);
    for (const QString &event : log->events)
        QVERIFY2(event == "Error:Connection Lost" || event == "Error:Server Not Responding or Zero-Length Message",
                 qPrintable(event));
    pop->Disconnect();
}

void TestBasicPOP::killConnDropsWhatIsInFlight()
{
    server->login({10, 20, 30}, "user", "secret", true, true);
    for (int n = 1; n <= 3; ++n)
        server->expect("TOP " + QByteArray::number(n) + " 1").send(headers(n));
    setUp(1);
    pop->Connect();
    pop->GetMessageInfo(1);
    QTRY_VERIFY(server->finished()); // the replies to the reads ahead have come
    pop->KillConn();
    pop->GetMessageInfo(2);
    QVERIFY(!pop->InfoComplete());
    QCOMPARE(pop->MsgFrom(), QString("sender1@example.org"));
    QCOMPARE(log->events, (QStringList{"Connected", "Error:Connection Lost"}));
}

void TestBasicPOP::largeMailboxWithBoundedMemory()
{
    constexpr int count = 20000;
    server->login(QList<int>(count, 100), "user", "secret", true, true);
    for (int n = 1; n <= count; ++n)
        server->expect("TOP " + QByteArray::number(n) + " 1").send(headers(n));
    server->expect("QUIT").send("+OK\r\n");
    setUp(5);
    QElapsedTimer timer;
    timer.start();
    pop->Connect();
    int read = 0;
    for (int n = 1; n <= count; ++n) {
        pop->GetMessageInfo(n);
        read += pop->InfoComplete() && pop->MsgFrom() == QString("sender%1@example.org").arg(n);
    }
    pop->Disconnect();
    qInfo("%d messages in %lld ms; at most %lld bytes held", count, timer.elapsed(), pop->peakHeldBytes());
    QCOMPARE(read, count);
    QCOMPARE(log->events, QStringList{"Connected"});
    // Everything but the listing and the ids, which name every message, is bounded.
    const qsizetype peak = pop->peakHeldBytes();
    QVERIFY2(peak < 2 * BasicPOP::MaxAheadBytes, qPrintable(QString::number(peak)));
    QVERIFY(server->finished());
}

void TestBasicPOP::endlessReplyIsCut()
{
    const QString line = QString(99, u'x') + "\r\n";
    QStringList endless{"C:TOP 1 1", "S:+OK\r\n"};
    for (int i = 0; i < 30; ++i)
        endless << "S:" + line;
    server->login({10});
    play(*server, endless);
    setUp();
    pop->setMaxReplyBytes(1024);
    pop->Connect();
    pop->GetMessageInfo(1);
    QCOMPARE(log->events, (QStringList{"Connected", "Error:Reply Too Large"}));
    QVERIFY(pop->MsgContents().size() <= 1024);
    QTRY_VERIFY(server->clientClosed());
}

void TestBasicPOP::silentWaitUsesNoCpu()
{
    pop->setTickInterval(1000); // real one-second ticks: TimeOut 1 waits two of them
    setUp(1);
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = processCpuSeconds();
    pop->Connect();
    const double cpu = processCpuSeconds() - cpuBefore;
    QCOMPARE(log->events, QStringList{"Error:Connection Timed Out"});
    QVERIFY2(wall.elapsed() >= 1900, qPrintable(QString::number(wall.elapsed())));
    QVERIFY2(cpu < 0.1, qPrintable(QString("CPU seconds: %1").arg(cpu)));
}

QTEST_GUILESS_MAIN(TestBasicPOP)
#include "tst_basicpop.moc"

// mailvane-test-mailbox as the demo and the benchmark use it: it reports its port, serves the
// mailbox, holds back replies behind its proxy, and takes its server down however it is stopped.
#include <QElapsedTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include <csignal>

namespace
{

constexpr int timeoutMs = 15000;

// One POP3 status line, or an empty array when none came in time.
QByteArray statusLine(QTcpSocket &socket)
{
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return {};
    }
    return socket.readLine().trimmed();
}

} // namespace

class TestTestMailbox : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void servesAndStops_data();
    void servesAndStops();
    void proxyHoldsBackReplies();

private:
    // Starts the tool and returns the port it reports, or 0.
    quint16 start(QProcess &tool, const QStringList &arguments)
    {
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tool.start(QStringLiteral(MAILBOX_BINARY), arguments);
        if (!tool.waitForStarted(timeoutMs))
            return 0;
        while (!tool.canReadLine()) {
            if (!tool.waitForReadyRead(timeoutMs))
                return 0;
        }
        const QList<QByteArray> words = tool.readLine().trimmed().split(' ');
        return words.size() == 2 && words[0] == "port" ? quint16(words[1].toUInt()) : 0;
    }

    static bool logIn(QTcpSocket &socket, quint16 port)
    {
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        if (!socket.waitForConnected(timeoutMs) || !statusLine(socket).startsWith("+OK"))
            return false;
        socket.write("USER tester\r\nPASS secret\r\n");
        return statusLine(socket).startsWith("+OK") && statusLine(socket).startsWith("+OK");
    }
};

void TestTestMailbox::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("mailvane-test-mailbox starts Dovecot, which needs root");
}

void TestTestMailbox::servesAndStops_data()
{
    QTest::addColumn<int>("stopSignal"); // 0: close standard input
    QTest::newRow("end of input") << 0;
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestTestMailbox::servesAndStops()
{
    QFETCH(int, stopSignal);
    QProcess tool;
    const quint16 port =
        start(tool, {"--user", "tester", "--password", "secret", "--generate", "3", "--demo"});
    QVERIFY(port != 0);
    QTcpSocket socket;
    QVERIFY(logIn(socket, port));
    socket.write("STAT\r\n");
    QVERIFY(statusLine(socket).startsWith("+OK 10 "));

    if (stopSignal == 0)
        tool.closeWriteChannel();
    else
        ::kill(pid_t(tool.processId()), stopSignal);
    QVERIFY(tool.waitForFinished(timeoutMs));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    // The server went with it, open session included.
    QTcpSocket again;
    again.connectToHost(QStringLiteral("127.0.0.1"), port);
    QVERIFY(!again.waitForConnected(timeoutMs));
    QCOMPARE(again.error(), QAbstractSocket::ConnectionRefusedError);
}

void TestTestMailbox::proxyHoldsBackReplies()
{
    constexpr int delayMs = 300;
    QProcess tool;
    const quint16 port = start(tool, {"--user", "tester", "--password", "secret", "--generate", "2",
                                      "--delay-ms", QString::number(delayMs)});
    QVERIFY(port != 0);
    QTcpSocket socket;
    QVERIFY(logIn(socket, port));

    QElapsedTimer timer;
    timer.start();
    socket.write("STAT\r\n");
    QVERIFY(statusLine(socket).startsWith("+OK 2 "));
    QVERIFY2(timer.elapsed() >= delayMs, qPrintable(QString::number(timer.elapsed())));
    // A multi-line reply arrives whole and in order, and the server's close reaches the client.
    socket.write("LIST\r\nQUIT\r\n");
    QCOMPARE(statusLine(socket).left(3), QByteArray("+OK"));
    QVERIFY(statusLine(socket).startsWith("1 "));
    QVERIFY(statusLine(socket).startsWith("2 "));
    QCOMPARE(statusLine(socket), QByteArray("."));
    QVERIFY(statusLine(socket).startsWith("+OK"));
    QVERIFY(socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(timeoutMs));

    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(timeoutMs));
    QCOMPARE(tool.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestTestMailbox)
#include "tst_testmailbox.moc"

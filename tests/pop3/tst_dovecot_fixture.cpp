// Checks the Dovecot fixture itself with a bare POP3 conversation.
#include "DovecotFixture.h"

#include <QDeadlineTimer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QtTest>

#include <optional>

using testsupport::DovecotFixture;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(DovecotFixture::Certificate)

namespace
{
// The first line the socket receives, read with a deadline.
QByteArray readLine(QIODevice &socket)
{
    constexpr int timeoutMs = 5000;
    const QDeadlineTimer deadline(timeoutMs);
    while (!socket.canReadLine() && socket.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return socket.readLine();
}

QList<QSslError::SslError> errorKinds(const QList<QSslError> &errors)
{
    QList<QSslError::SslError> kinds;
    for (const QSslError &error : errors)
        kinds.append(error.error());
    return kinds;
}
} // namespace

namespace
{

// Sends POP3 commands and returns whole replies: the status line, and for a multi-line "+OK"
// reply everything up to and including the terminating dot line.
class RawPop3
{
public:
    bool open(const DovecotFixture &server)
    {
        m_socket.connectToHost(server.host(), server.port());
        return m_socket.waitForConnected(timeoutMs) && reply(false).startsWith("+OK");
    }

    QByteArray command(const QByteArray &line, bool multiLine = false)
    {
        m_socket.write(line + "\r\n");
        return reply(multiLine);
    }

    bool logIn(const QString &user, const QString &password)
    {
        return command("USER " + user.toUtf8()).startsWith("+OK") &&
               command("PASS " + password.toUtf8()).startsWith("+OK");
    }

private:
    static constexpr int timeoutMs = 5000;

    QByteArray reply(bool multiLine)
    {
        const QDeadlineTimer deadline(timeoutMs);
        qsizetype end = -1;
        while ((end = replyEnd(multiLine)) < 0 && m_socket.waitForReadyRead(int(deadline.remainingTime())))
            m_buffer += m_socket.readAll();
        if (end < 0)
            return {};
        const QByteArray whole = m_buffer.left(end);
        m_buffer.remove(0, end);
        return whole;
    }

    qsizetype replyEnd(bool multiLine) const
    {
        const qsizetype lineEnd = m_buffer.indexOf("\r\n");
        if (lineEnd < 0 || !multiLine || !m_buffer.startsWith("+OK"))
            return lineEnd < 0 ? -1 : lineEnd + 2;
        const qsizetype dot = m_buffer.indexOf("\r\n.\r\n", lineEnd);
        return dot < 0 ? -1 : dot + 5;
    }

    QTcpSocket m_socket;
    QByteArray m_buffer;
};

} // namespace

class TestDovecotFixture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sessionListsMessagesInDeliveryOrderWithCrlfSizes();
    void passwordIsCheckedForUsersAddedBeforeAndAfterStart();
    void deletedMessageLeavesTheMaildir();
    void twoFixturesRunSideBySide();
    void tlsOnItsPortAndAfterStls_data();
    void tlsOnItsPortAndAfterStls();
    void makeMessageShapesHeadersAndBody_data();
    void makeMessageShapesHeadersAndBody();
};

#define START_OR_FAIL(server)                                                                                \
    do {                                                                                                     \
        QString error;                                                                                       \
        QVERIFY2((server).start(&error), qPrintable(error));                                                 \
    } while (false)

void TestDovecotFixture::initTestCase()
{
    MAILVANE_REQUIRE_DOVECOT();
}

void TestDovecotFixture::sessionListsMessagesInDeliveryOrderWithCrlfSizes()
{
    DovecotFixture server({{QStringLiteral("alice"), QStringLiteral("secret")}});
    // LF line ends before start, CR LF and an empty file after it.
    const QByteArray first = DovecotFixture::makeMessage(QStringLiteral("Ann <ann@example.org>"),
                                                         QStringLiteral("First"), 300, {}, false);
    QVERIFY(!server.deliver(QStringLiteral("alice"), first).isEmpty());
    START_OR_FAIL(server);
    const QByteArray second =
        DovecotFixture::makeMessage(QStringLiteral("Bob <bob@example.org>"), QStringLiteral("Second"), 1000);
    QVERIFY(!server.deliver(QStringLiteral("alice"), second).isEmpty());
    QVERIFY(!server.deliver(QStringLiteral("alice"), QByteArray()).isEmpty());

    RawPop3 pop;
    QVERIFY(pop.open(server));
    QVERIFY(pop.logIn(QStringLiteral("alice"), QStringLiteral("secret")));
    const qsizetype firstSize = DovecotFixture::withCrlf(first).size();
    QCOMPARE(pop.command("STAT"),
             QByteArray("+OK 3 " + QByteArray::number(firstSize + second.size()) + "\r\n"));
    const QByteArray list = pop.command("LIST", true);
    QVERIFY2(list.endsWith("\r\n1 " + QByteArray::number(firstSize) + "\r\n2 " +
                           QByteArray::number(second.size()) + "\r\n3 0\r\n.\r\n"),
             list.constData());
    QVERIFY(pop.command("TOP 1 0", true).contains("\r\nSubject: First\r\n"));
    QVERIFY(pop.command("TOP 2 0", true).contains("\r\nSubject: Second\r\n"));
    QVERIFY(pop.command("QUIT").startsWith("+OK"));
}

void TestDovecotFixture::passwordIsCheckedForUsersAddedBeforeAndAfterStart()
{
    DovecotFixture server({{QStringLiteral("alice"), QStringLiteral("secret")}});
    START_OR_FAIL(server);
    server.addUser(QStringLiteral("dave"), QStringLiteral("later"));
    RawPop3 refused;
    QVERIFY(refused.open(server));
    QVERIFY(refused.command("USER alice").startsWith("+OK"));
    QVERIFY(refused.command("PASS wrong").startsWith("-ERR"));
    RawPop3 accepted;
    QVERIFY(accepted.open(server));
    QVERIFY(accepted.logIn(QStringLiteral("dave"), QStringLiteral("later")));
}

void TestDovecotFixture::deletedMessageLeavesTheMaildir()
{
    DovecotFixture server({{QStringLiteral("bob"), QStringLiteral("pw")}});
    const QString doomed = server.deliver(QStringLiteral("bob"), DovecotFixture::makeMessage({}, {}, 10));
    const QString kept = server.deliver(QStringLiteral("bob"), DovecotFixture::makeMessage({}, {}, 20));
    QCOMPARE(server.messageFiles(QStringLiteral("bob")), QStringList({doomed, kept}));
    START_OR_FAIL(server);

    RawPop3 pop;
    QVERIFY(pop.open(server));
    QVERIFY(pop.logIn(QStringLiteral("bob"), QStringLiteral("pw")));
    QVERIFY(pop.command("DELE 1").startsWith("+OK"));
    QVERIFY(pop.command("QUIT").startsWith("+OK"));
    QTRY_COMPARE(server.messageFiles(QStringLiteral("bob")), QStringList{kept});
}

void TestDovecotFixture::twoFixturesRunSideBySide()
{
    DovecotFixture one({{QStringLiteral("carol"), QStringLiteral("pw")}});
    DovecotFixture two({{QStringLiteral("carol"), QStringLiteral("pw")}});
    two.deliver(QStringLiteral("carol"), DovecotFixture::makeMessage({}, {}, 10));
    START_OR_FAIL(one);
    START_OR_FAIL(two);
    QVERIFY(one.port() != two.port());

    RawPop3 popOne, popTwo;
    QVERIFY(popOne.open(one));
    QVERIFY(popTwo.open(two));
    QVERIFY(popOne.logIn(QStringLiteral("carol"), QStringLiteral("pw")));
    QVERIFY(popTwo.logIn(QStringLiteral("carol"), QStringLiteral("pw")));
    QVERIFY(popOne.command("STAT").startsWith("+OK 0 "));
    QVERIFY(popTwo.command("STAT").startsWith("+OK 1 "));

    one.stop();
    QVERIFY(!one.isRunning());
    QVERIFY(two.isRunning());
}

void TestDovecotFixture::tlsOnItsPortAndAfterStls_data()
{
    using Certificate = DovecotFixture::Certificate;
    QTest::addColumn<Certificate>("certificate");
    QTest::addColumn<bool>("trustAuthority");
    QTest::addColumn<QSslError::SslError>("error"); // NoError: verified
    QTest::newRow("valid, authority trusted") << Certificate::Valid << true << QSslError::NoError;
    QTest::newRow("valid, authority unknown")
        << Certificate::Valid << false << QSslError::UnableToGetLocalIssuerCertificate;
    QTest::newRow("other host") << Certificate::OtherHost << true << QSslError::HostNameMismatch;
    QTest::newRow("self-signed") << Certificate::SelfSigned << true << QSslError::SelfSignedCertificate;
}

void TestDovecotFixture::tlsOnItsPortAndAfterStls()
{
    QFETCH(DovecotFixture::Certificate, certificate);
    QFETCH(bool, trustAuthority);
    QFETCH(QSslError::SslError, error);
    DovecotFixture server({{QStringLiteral("erin"), QStringLiteral("pw")}});
    QString reason;
    QVERIFY2(server.setCertificate(certificate, &reason), qPrintable(reason));
    START_OR_FAIL(server);
    QVERIFY(server.tlsPort() != 0 && server.tlsPort() != server.port());
    std::optional<testsupport::TrustedTestAuthority> trust;
    if (trustAuthority)
        QVERIFY(trust.emplace(server.caCertificatePath()).isValid());
    const QSslCertificate presented = QSslCertificate::fromPath(server.serverCertificatePath()).value(0);
    QVERIFY(!presented.isNull());

    const auto handshake = [&](QSslSocket &socket) {
        if (error == QSslError::NoError)
            return socket.waitForEncrypted(5000);
        // The handshake stops at the error; the error itself is what counts here.
        socket.waitForEncrypted(5000);
        return errorKinds(socket.sslHandshakeErrors()).contains(error);
    };

    QSslSocket implicit;
    implicit.connectToHostEncrypted(server.host(), server.tlsPort());
    QVERIFY2(handshake(implicit), qPrintable(implicit.errorString()));
    if (error == QSslError::NoError)
        QVERIFY(readLine(implicit).startsWith("+OK"));
    QCOMPARE(implicit.peerCertificateChain().value(0), presented);

    QSslSocket upgraded;
    upgraded.connectToHost(server.host(), server.port());
    QVERIFY(readLine(upgraded).startsWith("+OK"));
    upgraded.write("CAPA\r\n");
    QByteArray capabilities;
    while (!capabilities.endsWith("\r\n.\r\n")) {
        const QByteArray line = readLine(upgraded);
        QVERIFY(!line.isEmpty());
        capabilities += line;
    }
    QVERIFY2(capabilities.contains("\r\nSTLS\r\n"), capabilities.constData());
    upgraded.write("STLS\r\n");
    QVERIFY(readLine(upgraded).startsWith("+OK"));
    upgraded.startClientEncryption();
    QVERIFY2(handshake(upgraded), qPrintable(upgraded.errorString()));
    QCOMPARE(upgraded.peerCertificateChain().value(0), presented);
    if (error == QSslError::NoError) {
        upgraded.write("USER erin\r\n");
        QVERIFY(readLine(upgraded).startsWith("+OK"));
        upgraded.write("PASS pw\r\n");
        QVERIFY(readLine(upgraded).startsWith("+OK"));
    }
}

void TestDovecotFixture::makeMessageShapesHeadersAndBody_data()
{
    QTest::addColumn<std::optional<QString>>("from");
    QTest::addColumn<std::optional<QString>>("subject");
    QTest::addColumn<int>("bodyBytes");
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<QByteArray>("expectedHeader");
    QTest::addColumn<QByteArray>("absentHeader");

    const std::optional<QString> ann = QStringLiteral("Ann <ann@example.org>");
    QTest::newRow("both headers, CR LF") << ann << std::optional<QString>(QStringLiteral("Hi")) << 1000
                                         << true << QByteArray("\nSubject: Hi\r\n") << QByteArray();
    QTest::newRow("no From, LF") << std::optional<QString>() << std::optional<QString>(QStringLiteral("Hi"))
                                 << 250 << false << QByteArray("\nSubject: Hi\n") << QByteArray("From:");
    QTest::newRow("no Subject") << ann << std::optional<QString>() << 0 << true << QByteArray("From: Ann")
                                << QByteArray("Subject:");
    QTest::newRow("empty Subject, body shorter than a line end")
        << ann << std::optional<QString>(QString()) << 1 << true << QByteArray("\nSubject:\r\n")
        << QByteArray();
}

void TestDovecotFixture::makeMessageShapesHeadersAndBody()
{
    QFETCH(std::optional<QString>, from);
    QFETCH(std::optional<QString>, subject);
    QFETCH(int, bodyBytes);
    QFETCH(bool, crlf);
    QFETCH(QByteArray, expectedHeader);
    QFETCH(QByteArray, absentHeader);

    const QByteArray message = DovecotFixture::makeMessage(
        from, subject, bodyBytes, {"Date: Tue, 2 Jan 2024 08:00:00 +0100", "X-Priority: 1"}, crlf);
    const QByteArray blankLine = crlf ? "\r\n\r\n" : "\n\n";
    const qsizetype headerEnd = message.indexOf(blankLine);
    QVERIFY(headerEnd > 0);
    const QByteArray header = message.left(headerEnd + blankLine.size() / 2);
    QCOMPARE(int(message.size() - headerEnd - blankLine.size()), bodyBytes);
    QVERIFY(header.contains(expectedHeader));
    if (!absentHeader.isEmpty())
        QVERIFY(!header.contains(absentHeader));
    // Extra headers replace a default one of the same name or are added.
    QCOMPARE(header.count("Date:"), 1);
    QVERIFY(header.contains("Date: Tue, 2 Jan 2024 08:00:00 +0100"));
    QVERIFY(header.contains("X-Priority: 1"));
    QCOMPARE(DovecotFixture::withCrlf(message) == message, crlf);
}

QTEST_GUILESS_MAIN(TestDovecotFixture)
#include "tst_dovecot_fixture.moc"

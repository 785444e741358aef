#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>

namespace testsupport {

// A POP3 server on a loopback port that plays one exact exchange, step by step: chunks it sends
// (optionally after a delay), command lines it expects from the client, and closing the
// connection. Replies can be cut into any chunks to exercise the client's framing. After the
// last step it stays silent with the connection open. A new connection continues the script.
class ScriptedPop3Server : public QObject
{
    Q_OBJECT
public:
    explicit ScriptedPop3Server(QObject *parent = nullptr);
    ~ScriptedPop3Server() override;

    quint16 port() const { return m_server.serverPort(); }
    // From the next connection on, the server speaks TLS from the first byte with this
    // configuration (its certificate and key).
    void useTls(const QSslConfiguration &tls) { m_server.tls = tls; }
    // A self-signed certificate for "localhost" and its key, made with openssl; a null
    // configuration when openssl is missing or fails.
    static QSslConfiguration selfSignedTls();

    // S: sends bytes as one chunk, delayMs after the previous step.
    ScriptedPop3Server &send(const QByteArray &bytes, int delayMs = 0);
    // C: waits for this command line (without CR LF) from the client.
    ScriptedPop3Server &expect(const QByteArray &line);
    // The server closes the connection.
    ScriptedPop3Server &closeConnection();
    // Waits for the client's next connection; the steps after it play there.
    ScriptedPop3Server &nextConnection();

    // The usual log-in: greeting, CAPA (with PIPELINING or without), USER, PASS, STAT with the
    // count, LIST with the sizes and, when there are messages, UIDL with the ids "uid-1",
    // "uid-2", ... (or refused).
    ScriptedPop3Server &login(const QList<int> &sizes, const QByteArray &user = "user",
                              const QByteArray &password = "secret", bool withUidl = true,
                              bool pipelining = false);
    // The CAPA answer of login().
    static QByteArray capabilities(bool pipelining);

    // Every command line the client sent, in order, without CR LF.
    const QList<QByteArray> &received() const { return m_received; }
    // True when every step has been played.
    bool finished() const { return m_steps.isEmpty(); }
    // The first line the client sent that the script did not expect, or empty.
    QByteArray unexpected() const { return m_unexpected; }
    int connectionCount() const { return m_connections; }
    // The client's socket has closed.
    bool clientClosed() const { return m_clientClosed; }

signals:
    void clientConnected();
    void commandReceived(const QByteArray &line);

private:
    struct Step
    {
        enum Kind { Send, Expect, Close, Accept } kind;
        QByteArray bytes;
        int delayMs = 0;
    };

    void onNewConnection();
    void onReadyRead();
    void advance();

    // Hands out QSslSocket connections: plain unless a TLS configuration is set.
    class Listener : public QTcpServer
    {
    public:
        using QTcpServer::QTcpServer;
        QSslConfiguration tls;

    protected:
        void incomingConnection(qintptr descriptor) override;
    };

    Listener m_server;
    QPointer<QTcpSocket> m_socket;
    QList<Step> m_steps;
    QList<QByteArray> m_pendingLines;
    QByteArray m_lineBuffer;
    QList<QByteArray> m_received;
    QByteArray m_unexpected;
    bool m_delayRunning = false;
    bool m_clientClosed = false;
    bool m_freshConnection = false; // a connection no Accept step has taken yet
    int m_connections = 0;
};

// A loopback port on which nothing listens.
quint16 unusedPort();

} // namespace testsupport

#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <deque>

namespace testsupport
{

// A TCP proxy on a free loopback port in front of a server, which holds back everything the
// server sends by a fixed time: a slow or distant server, for measuring what a client does while
// it waits. What the client sends goes through at once.
class DelayingProxy : public QObject
{
    Q_OBJECT

public:
    DelayingProxy(const QString &host, quint16 port, int delayMs, QObject *parent = nullptr);

    bool listen();
    quint16 port() const { return m_listener.serverPort(); }
    QString errorString() const { return m_listener.errorString(); }

private:
    void accept();

    QTcpServer m_listener;
    QString m_host;
    quint16 m_port;
    int m_delayMs;
};

// One client connection and its connection to the server.
class DelayedLink : public QObject
{
    Q_OBJECT

public:
    DelayedLink(QTcpSocket *client, const QString &host, quint16 port, int delayMs, QObject *parent);

private:
    void holdBack();
    void releaseDue();
    void clientGone();
    void serverGone();
    void finishIfBothClosed();

    struct Held {
        QDeadlineTimer due;
        QByteArray data;
    };

    QPointer<QTcpSocket> m_client; // a child of this link
    QTcpSocket m_server;
    QTimer m_release;
    std::deque<Held> m_held; // in the order the server sent them
    int m_delayMs;
    bool m_serverClosed = false;
};

} // namespace testsupport

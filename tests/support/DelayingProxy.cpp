#include "DelayingProxy.h"

namespace testsupport
{

DelayingProxy::DelayingProxy(const QString &host, quint16 port, int delayMs, QObject *parent)
    : QObject(parent), m_listener(this), m_host(host), m_port(port), m_delayMs(delayMs)
{
    connect(&m_listener, &QTcpServer::newConnection, this, &DelayingProxy::accept);
}

bool DelayingProxy::listen()
{
    return m_listener.listen(QHostAddress::LocalHost, 0);
}

void DelayingProxy::accept()
{
    while (QTcpSocket *client = m_listener.nextPendingConnection())
        new DelayedLink(client, m_host, m_port, m_delayMs, this); // deletes itself when both ends close
}

DelayedLink::DelayedLink(QTcpSocket *client, const QString &host, quint16 port, int delayMs, QObject *parent)
    : QObject(parent), m_client(client), m_server(this), m_release(this), m_delayMs(delayMs)
{
    client->setParent(this);
    m_release.setSingleShot(true);
    m_release.setTimerType(Qt::PreciseTimer);
    connect(&m_release, &QTimer::timeout, this, &DelayedLink::releaseDue);
    // Written before the server connection is up, the client's bytes wait in the socket's buffer.
    connect(client, &QTcpSocket::readyRead, this, [this] { m_server.write(m_client->readAll()); });
    connect(client, &QTcpSocket::disconnected, this, &DelayedLink::clientGone);
    connect(&m_server, &QTcpSocket::readyRead, this, &DelayedLink::holdBack);
    connect(&m_server, &QTcpSocket::disconnected, this, &DelayedLink::serverGone);
    connect(&m_server, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            serverGone();
    });
    // A distant server, not a slow network stack: nothing waits for acknowledgements.
    client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(&m_server, &QTcpSocket::connected, this,
            [this] { m_server.setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    m_server.connectToHost(host, port);
}

void DelayedLink::holdBack()
{
    m_held.push_back({QDeadlineTimer(m_delayMs, Qt::PreciseTimer), m_server.readAll()});
    if (!m_release.isActive())
        m_release.start(int(m_held.front().due.remainingTime()));
}

void DelayedLink::releaseDue()
{
    while (!m_held.empty() && m_held.front().due.hasExpired()) {
        if (m_client)
            m_client->write(m_held.front().data);
        m_held.pop_front();
    }
    if (!m_held.empty())
        m_release.start(int(m_held.front().due.remainingTime()));
    else if (m_serverClosed && m_client)
        m_client->disconnectFromHost();
    finishIfBothClosed();
}

void DelayedLink::clientGone()
{
    m_held.clear();
    m_server.disconnectFromHost(); // after what the client sent last has gone out
    finishIfBothClosed();
}

void DelayedLink::serverGone()
{
    m_serverClosed = true;
    // What the server sent before it closed still reaches the client, on time.
    if (m_held.empty())
        releaseDue();
}

void DelayedLink::finishIfBothClosed()
{
    const bool clientClosed = !m_client || m_client->state() == QAbstractSocket::UnconnectedState;
    if (clientClosed && m_server.state() == QAbstractSocket::UnconnectedState)
        deleteLater();
}

} // namespace testsupport

#include "ScriptedPop3Server.h"

#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTimer>

namespace testsupport {

ScriptedPop3Server::ScriptedPop3Server(QObject *parent) : QObject(parent), m_server(this)
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedPop3Server::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

ScriptedPop3Server::~ScriptedPop3Server()
{
    // The sockets die with m_server, after the members their handlers use.
    for (QTcpSocket *socket : m_server.findChildren<QTcpSocket *>())
        socket->disconnect(this);
}

void ScriptedPop3Server::Listener::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    if (!tls.isNull()) {
        socket->setSslConfiguration(tls);
        socket->startServerEncryption();
    }
    addPendingConnection(socket);
}

QSslConfiguration ScriptedPop3Server::selfSignedTls()
{
    QTemporaryDir dir;
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                   "-keyout", dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0)
        return {};
    QFile keyFile(dir.filePath("key.pem"));
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(dir.filePath("cert.pem"));
    if (certificates.isEmpty() || !keyFile.open(QIODevice::ReadOnly))
        return {};
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificates.first());
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    return tls;
}

ScriptedPop3Server &ScriptedPop3Server::send(const QByteArray &bytes, int delayMs)
{
    m_steps.append({Step::Send, bytes, delayMs});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::expect(const QByteArray &line)
{
    m_steps.append({Step::Expect, line, 0});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::closeConnection()
{
    m_steps.append({Step::Close, {}, 0});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::nextConnection()
{
    m_steps.append({Step::Accept, {}, 0});
    return *this;
}

ScriptedPop3Server &ScriptedPop3Server::login(const QList<int> &sizes, const QByteArray &user,
                                              const QByteArray &password, bool withUidl, bool pipelining)
{
    qint64 total = 0;
    QByteArray listing = "+OK scan listing follows\r\n";
    for (int i = 0; i < sizes.size(); ++i) {
        total += sizes[i];
        listing += QByteArray::number(i + 1) + ' ' + QByteArray::number(sizes[i]) + "\r\n";
    }
    listing += ".\r\n";
    send("+OK POP3 ready\r\n");
    expect("CAPA").send(capabilities(pipelining));
    expect("USER " + user).send("+OK\r\n");
    expect("PASS " + password).send("+OK logged in\r\n");
    expect("STAT").send("+OK " + QByteArray::number(sizes.size()) + ' ' + QByteArray::number(total) + "\r\n");
    expect("LIST").send(listing);
    if (sizes.isEmpty())
        return *this;
    QByteArray uidl = "+OK\r\n";
    for (int i = 0; i < sizes.size(); ++i)
        uidl += QByteArray::number(i + 1) + " uid-" + QByteArray::number(i + 1) + "\r\n";
    expect("UIDL").send(withUidl ? uidl + ".\r\n" : QByteArray("-ERR command not supported\r\n"));
    return *this;
}

void ScriptedPop3Server::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_connections;
        if (m_socket)
            m_socket->deleteLater();
        m_socket = socket;
        m_clientClosed = false;
        m_freshConnection = m_connections > 1;
        m_pendingLines.clear();
        m_lineBuffer.clear();
        connect(socket, &QTcpSocket::readyRead, this, &ScriptedPop3Server::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (socket == m_socket)
                m_clientClosed = true;
        });
        emit clientConnected();
    }
    advance();
}

void ScriptedPop3Server::onReadyRead()
{
    m_lineBuffer += m_socket->readAll();
    qsizetype end;
    while ((end = m_lineBuffer.indexOf("\r\n")) >= 0) {
        const QByteArray line = m_lineBuffer.left(end);
        m_lineBuffer.remove(0, end + 2);
        m_received.append(line);
        m_pendingLines.append(line);
        emit commandReceived(line);
    }
    advance();
}

void ScriptedPop3Server::advance()
{
    while (m_socket && !m_delayRunning && !m_steps.isEmpty()) {
        Step &step = m_steps.first();
        switch (step.kind) {
        case Step::Send:
            if (step.delayMs > 0) {
                m_delayRunning = true;
                QTimer::singleShot(step.delayMs, this, [this] {
                    m_delayRunning = false;
                    m_steps.first().delayMs = 0;
                    advance();
                });
                return;
            }
            m_socket->write(step.bytes);
            m_socket->flush();
            break;
        case Step::Expect:
            if (m_pendingLines.isEmpty())
                return;
            if (m_pendingLines.takeFirst() != step.bytes) {
                if (m_unexpected.isEmpty())
                    m_unexpected = m_received.last();
                m_steps.clear();
                return;
            }
            break;
        case Step::Close:
            m_socket->disconnectFromHost();
            break;
        case Step::Accept:
            if (!m_freshConnection)
                return;
            m_freshConnection = false;
            break;
        }
        m_steps.removeFirst();
    }
}

QByteArray ScriptedPop3Server::capabilities(bool pipelining)
{
    return QByteArray("+OK\r\nTOP\r\nUSER\r\nUIDL\r\n") + (pipelining ? "PIPELINING\r\n" : "") + ".\r\n";
}

quint16 unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace testsupport

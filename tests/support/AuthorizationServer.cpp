#include "AuthorizationServer.h"

#include "ChildProcess.h"
#include "TestSupport.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

namespace testsupport {

namespace {

QByteArray fetch(const QUrl &url, const QByteArray *body)
{
    QNetworkAccessManager network;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(10000);
    std::unique_ptr<QNetworkReply> reply(body ? network.post(request, *body) : network.get(request));
    QEventLoop wait;
    QObject::connect(reply.get(), &QNetworkReply::finished, &wait, &QEventLoop::quit);
    if (!reply->isFinished())
        wait.exec();
    return reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
}

} // namespace

AuthorizationServer::AuthorizationServer(const QString &clientId, const QString &user)
{
    const pid_t parent = getpid();
    m_process.setChildProcessModifier([parent] { terminateWithParent(parent); });
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral("/usr/bin/python3"),
                    {sourceDir() + QStringLiteral("/tests/support/oauth/authorization_server.py"), clientId, user});
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return;
    }
    while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
        m_error = QStringLiteral("the server did not start: ") + QString::fromLatin1(line);
        return;
    }
    m_port = quint16(line.mid(5).toUInt());
}

AuthorizationServer::~AuthorizationServer()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
}

QUrl AuthorizationServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
}

bool AuthorizationServer::control(const QJsonObject &settings)
{
    const QByteArray body = QJsonDocument(settings).toJson(QJsonDocument::Compact);
    return !fetch(url(QStringLiteral("/control")), &body).isNull();
}

QJsonObject AuthorizationServer::log()
{
    return QJsonDocument::fromJson(fetch(url(QStringLiteral("/log")), nullptr)).object();
}

QString AuthorizationServer::browserScript()
{
    return sourceDir() + QStringLiteral("/tests/support/oauth/follow_redirect.py");
}

} // namespace testsupport

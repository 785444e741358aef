#include "SaslMechanism.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace wrenkit::sasl
{

namespace
{

// A ^A inside a value would end its pair early and let the text add pairs of its own.
QByteArray pairValue(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\x01', QByteArray());
    return bytes;
}

} // namespace

void SaslMechanism::noteErrorReport(const QByteArray &challenge)
{
    const QJsonObject report = QJsonDocument::fromJson(challenge).object();
    const QJsonValue status = report.value(QStringLiteral("status"));
    m_errorStatus = status.isString()   ? status.toString()
                    : status.isDouble() ? QString::number(status.toInt())
                                        : QString();
}

QByteArray XOAuth2::initialResponse() const
{
    return "user=" + pairValue(m_user) +
           "\x01"
           "auth=Bearer " +
           pairValue(m_token) + "\x01\x01";
}

QByteArray XOAuth2::respond(const QByteArray &challenge)
{
    noteErrorReport(challenge);
    return {};
}

QByteArray OAuthBearer::initialResponse() const
{
    // In the GS2 header's authzid, "=" and "," are escaped (RFC 5801).
    QByteArray user = pairValue(m_user);
    user.replace('=', "=3D").replace(',', "=2C");
    QByteArray response = "n,a=" + user + ",\x01";
    if (!m_host.isEmpty())
        response += "host=" + pairValue(m_host) + "\x01";
    if (m_port > 0)
        response += "port=" + QByteArray::number(m_port) + "\x01";
    return response + "auth=Bearer " + pairValue(m_token) + "\x01\x01";
}

QByteArray OAuthBearer::respond(const QByteArray &challenge)
{
    noteErrorReport(challenge);
    return "\x01";
}

} // namespace wrenkit::sasl

#pragma once

#include <QByteArray>
#include <QString>

namespace wrenkit::sasl
{

// One SASL mechanism on the client side. It builds the initial response and answers the
// server's challenges; the protocol that carries them (POP3 AUTH, IMAP AUTHENTICATE) does the
// base64 and the lines. Responses and challenges are the decoded bytes.
class SaslMechanism
{
public:
    virtual ~SaslMechanism() = default;

    // The name as CAPA and AUTH spell it.
    virtual QByteArray name() const = 0;
    virtual QByteArray initialResponse() const = 0;
    // The answer to a challenge after the initial response. For the bearer-token mechanisms a
    // challenge there is always the server's error report, which must be answered before the
    // server sends its final refusal.
    virtual QByteArray respond(const QByteArray &challenge) = 0;
    // What the server said of the failure in its last challenge (its JSON "status"), or empty.
    QString errorStatus() const { return m_errorStatus; }

protected:
    // Reads the "status" of a JSON error report.
    void noteErrorReport(const QByteArray &challenge);

private:
    QString m_errorStatus;
};

// Google's and Microsoft's XOAUTH2: "user=" user ^A "auth=Bearer " token ^A ^A. The error
// report is answered with an empty response.
class XOAuth2 : public SaslMechanism
{
public:
    XOAuth2(const QString &user, const QString &token) : m_user(user), m_token(token) {}
    QByteArray name() const override { return "XOAUTH2"; }
    QByteArray initialResponse() const override;
    QByteArray respond(const QByteArray &challenge) override;

private:
    QString m_user;
    QString m_token;
};

// RFC 7628's OAUTHBEARER: a GS2 header naming the user, then host, port and the bearer token
// as ^A-separated pairs. The error report is answered with a lone ^A.
class OAuthBearer : public SaslMechanism
{
public:
    OAuthBearer(const QString &user, const QString &token, const QString &host = {}, int port = 0)
        : m_user(user), m_token(token), m_host(host), m_port(port)
    {
    }
    QByteArray name() const override { return "OAUTHBEARER"; }
    QByteArray initialResponse() const override;
    QByteArray respond(const QByteArray &challenge) override;

private:
    QString m_user;
    QString m_token;
    QString m_host;
    int m_port = 0;
};

} // namespace wrenkit::sasl

#include "AccountSecurity.h"

#include "AccountOAuth.h"

#include "CertificateFingerprint.h"
#include "platform/Prompter.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>
#include <QPushButton>
#include <QSslCertificate>

namespace
{
const QString kTestTitle = QStringLiteral("Test");

QString describe(const QSslCertificate &certificate)
{
    const auto date = [](const QDateTime &when) {
        return when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
    };
    return QStringLiteral("Subject: %1\nIssuer: %2\nValid from %3 to %4\nSHA-256 fingerprint: %5")
        .arg(certificate.subjectDisplayName(), certificate.issuerDisplayName(),
             date(certificate.effectiveDate()), date(certificate.expiryDate()),
             wrenkit::certificateFingerprint(certificate));
}
} // namespace

AccountSecurity::AccountSecurity(const AccountBoxes &boxes, QComboBox *security, QPushButton *test,
                                 Prompter &prompter, QObject *parent)
    : QObject(parent), m_boxes(boxes), m_security(security), m_test(test), m_prompter(prompter)
{
    // The item's index is the stored mode.
    m_security->addItems({QStringLiteral("None"), QStringLiteral("STLS"), QStringLiteral("SSL/TLS")});
    m_pop.setTimeOut(20);
    connect(m_security, &QComboBox::currentIndexChanged, this, &AccountSecurity::showDefaultPort);
    connect(m_test, &QPushButton::clicked, this, &AccountSecurity::test);
    connect(&m_pop, &wrenkit::BasicPOP::Error, this, [this](const QString &text) { m_errors << text; });
    showDefaultPort();
}

void AccountSecurity::fill(const POPConfig &config, int i)
{
    m_security->setCurrentIndex(config.Security(i));
    m_trusted = config.TrustedCertificate(i);
    showDefaultPort();
}

int AccountSecurity::security() const
{
    return qBound(0, m_security->currentIndex(), 2);
}

AccountFields AccountSecurity::fields() const
{
    AccountFields fields = m_boxes.fields();
    fields.security = security();
    fields.trustedCertificate = m_trusted;
    return fields;
}

void AccountSecurity::showDefaultPort()
{
    m_boxes.port->setPlaceholderText(security() == wrenkit::BasicPOP::ImplicitTls ? QStringLiteral("995")
                                                                                  : QStringLiteral("110"));
}

void AccountSecurity::cancel()
{
    if (!m_testing)
        return;
    m_cancelled = true;
    m_pop.KillConn();
}

void AccountSecurity::test()
{
    if (m_testing)
        return;
    const bool oauth = m_oauth && m_oauth->oauth();
    if (m_boxes.host->text().isEmpty() || m_boxes.userName->text().isEmpty() ||
        (!oauth && m_boxes.password->text().isEmpty())) {
        m_prompter.message(kTestTitle, oauth ? QStringLiteral("Fill in the host and the user name first.")
                                             : QStringLiteral("Fill in the host, the user name and the password first."));
        return;
    }
    const std::optional<int> port = m_boxes.portValue();
    if (!port) {
        m_prompter.message(QStringLiteral("Invalid value"),
                           QStringLiteral("Port must be 1 - 65535, or empty for the default port."));
        return;
    }

    QString token;
    if (oauth) {
        const TokenResult result = m_oauth->tokenForTest();
        if (!result.ok()) {
            if (!result.error.isEmpty())
                m_prompter.message(kTestTitle, result.error);
            return;
        }
        token = result.accessToken;
    }
    m_pop.setHost(m_boxes.host->text());
    m_pop.setUserName(m_boxes.userName->text());
    m_pop.setAuthentication(oauth ? 1 : 0);
    m_pop.setPassword(oauth ? QString() : m_boxes.password->text());
    m_pop.setAccessToken(token);
    m_pop.setPort(*port ? *port : m_boxes.port->placeholderText().toInt());
    m_pop.setSecurity(security());
    m_pop.setTrustedCertificate(m_trusted);
    m_errors.clear();
    m_testing = true;
    m_cancelled = false;
    m_test->setEnabled(false);
    m_pop.Connect(); // keeps the dialog live meanwhile; bounded by the time-out
    const bool loggedIn = m_pop.Status() == 1 && m_errors.isEmpty();
    const int count = m_pop.NumberOfMessages();
    if (m_pop.Status() == 1)
        m_pop.Disconnect();
    else
        m_pop.KillConn();
    m_testing = false;
    m_test->setEnabled(true);
    if (m_cancelled)
        return;

    if (loggedIn) {
        m_prompter.message(kTestTitle, QStringLiteral("Logged in: %1 message(s) waiting.").arg(count));
        return;
    }
    const QString error = m_errors.value(0, QStringLiteral("Login Failed"));
    if (error.startsWith(wrenkit::BasicPOP::CertificateNotTrusted) && !m_pop.PeerCertificate().isNull()) {
        if (offerTrust(error))
            test();
        return;
    }
    m_prompter.message(kTestTitle, m_errors.isEmpty() ? error : m_errors.join(QLatin1Char('\n')));
}

bool AccountSecurity::offerTrust(const QString &error)
{
    const QSslCertificate certificate = m_pop.PeerCertificate();
    const QString fingerprint = wrenkit::certificateFingerprint(certificate);
    if (fingerprint.isEmpty() || fingerprint == m_trusted)
        return false;
    const bool yes = m_prompter.question(
        QStringLiteral("Certificate Not Trusted"),
        error + QStringLiteral("\n\n") + describe(certificate) +
            QStringLiteral("\n\nTrust this certificate for this account? Answer Yes only if this is the "
                           "fingerprint of your server's certificate: from then on this account accepts "
                           "this certificate and no other."));
    if (yes)
        m_trusted = fingerprint;
    return yes;
}

#include "AccountOAuth.h"

#include "platform/Prompter.h"
#include "settings/OAuthProviders.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace
{
const QString kSignInTitle = QStringLiteral("Sign in");

QLabel *rowLabel(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

QLineEdit *lineEdit(const char *objectName, const QString &accessibleName)
{
    auto *edit = new QLineEdit;
    edit->setObjectName(QLatin1String(objectName));
    edit->setAccessibleName(accessibleName);
    return edit;
}
} // namespace

AccountOAuth::AccountOAuth(const AccountBoxes &boxes, QComboBox *security, QGridLayout *grid,
                           std::function<void(const QUrl &)> openBrowser, Prompter &prompter, QObject *parent)
    : QObject(parent), m_boxes(boxes), m_security(security), m_openBrowser(std::move(openBrowser)),
      m_prompter(prompter)
{
    m_authentication = new QComboBox;
    m_authentication->setObjectName(QStringLiteral("cmbAuthentication"));
    m_authentication->setAccessibleName(QStringLiteral("Authentication"));
    // The item's index is the stored value.
    m_authentication->addItems({QStringLiteral("Password"), QStringLiteral("OAuth 2.0")});
    m_provider = new QComboBox;
    m_provider->setObjectName(QStringLiteral("cmbProvider"));
    m_provider->setAccessibleName(QStringLiteral("Provider"));
    for (const OAuthProvider &provider : oauthProviders())
        m_provider->addItem(provider.name, provider.id);
    m_clientId = lineEdit("txtClientId", QStringLiteral("Client ID"));
    m_clientSecret = lineEdit("txtClientSecret", QStringLiteral("Client secret"));
    m_clientSecret->setAccessibleDescription(
        QStringLiteral("Only for providers that issue one to desktop apps"));
    m_authorizeUrl = lineEdit("txtAuthorizeUrl", QStringLiteral("Authorization address"));
    m_tokenUrl = lineEdit("txtTokenUrl", QStringLiteral("Token address"));
    m_scope = lineEdit("txtScope", QStringLiteral("Scope"));
    m_signIn = new QPushButton(QStringLiteral("Sign in…"));
    m_signIn->setObjectName(QStringLiteral("cmdSignIn"));
    m_signIn->setAutoDefault(false);
    m_state = new QLabel;
    m_state->setObjectName(QStringLiteral("lblSignInState"));
    m_signIn->setAccessibleDescription(QStringLiteral("Opens the provider's sign-in page in the browser"));

    int row = grid->rowCount();
    const auto addRow = [&](const QString &text, QWidget *field, QList<QWidget *> *group) {
        QLabel *label = rowLabel(text, field);
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1);
        ++row;
        if (group)
            *group << label << field;
    };
    addRow(QStringLiteral("&Authentication"), m_authentication, nullptr);
    addRow(QStringLiteral("Pro&vider"), m_provider, &m_oauthRows);
    addRow(QStringLiteral("Client &ID"), m_clientId, &m_oauthRows);
    addRow(QStringLiteral("Client secret"), m_clientSecret, &m_oauthRows);
    addRow(QStringLiteral("Authorization address"), m_authorizeUrl, &m_otherRows);
    addRow(QStringLiteral("Token address"), m_tokenUrl, &m_otherRows);
    addRow(QStringLiteral("Scope"), m_scope, &m_otherRows);
    grid->addWidget(m_signIn, row, 0);
    grid->addWidget(m_state, row, 1);
    m_oauthRows << m_signIn << m_state;
    QWidget::setTabOrder(m_security, m_authentication);
    QWidget *previous = m_authentication;
    for (QWidget *next : QList<QWidget *>{m_provider, m_clientId, m_clientSecret, m_authorizeUrl, m_tokenUrl,
                                          m_scope, m_signIn}) {
        QWidget::setTabOrder(previous, next);
        previous = next;
    }
    if (QWidget *label = grid->parentWidget()
                             ? grid->parentWidget()->findChild<QLabel *>(QStringLiteral("lblPassword"))
                             : nullptr)
        m_passwordRow << label;
    m_passwordRow << m_boxes.password;

    connect(m_authentication, &QComboBox::currentIndexChanged, this, [this] {
        applyPreset();
        showChoice();
    });
    connect(m_provider, &QComboBox::currentIndexChanged, this, [this] {
        applyPreset();
        showChoice();
    });
    connect(m_signIn, &QPushButton::clicked, this, &AccountOAuth::signIn);
    connect(m_boxes.userName, &QLineEdit::textChanged, this, &AccountOAuth::showState);
    connect(&m_flow, &OAuthSignIn::authorizationUrl, this, [this](const QUrl &url) {
        if (m_openBrowser)
            m_openBrowser(url);
    });
    showChoice();
}

void AccountOAuth::fill(const POPConfig &config, int i)
{
    const OAuthAccount stored = config.OAuth(i);
    const QSignalBlocker blockAuthentication(m_authentication);
    const QSignalBlocker blockProvider(m_provider);
    m_authentication->setCurrentIndex(stored.authentication == 1 ? 1 : 0);
    const int provider = m_provider->findData(oauthProvider(stored.provider).id);
    m_provider->setCurrentIndex(provider < 0 ? 0 : provider);
    m_clientId->setText(stored.clientId);
    m_clientSecret->setText(stored.clientSecret);
    m_authorizeUrl->setText(stored.authorizeUrl);
    m_tokenUrl->setText(stored.tokenUrl);
    m_scope->setText(stored.scope);
    m_tokenCommand = stored.tokenCommand;
    m_storedRefresh = config.LookUpRefreshToken(i).password;
    showChoice();
}

bool AccountOAuth::oauth() const
{
    return m_authentication->currentIndex() == 1;
}

OAuthAccount AccountOAuth::fields() const
{
    OAuthAccount oauth;
    oauth.authentication = this->oauth() ? 1 : 0;
    oauth.provider = m_provider->currentData().toString();
    oauth.clientId = m_clientId->text().trimmed();
    oauth.clientSecret = m_clientSecret->text().trimmed();
    // The presets' addresses are built in: only Other stores its own.
    const bool other = oauth.provider == QLatin1String("other");
    oauth.authorizeUrl = other ? m_authorizeUrl->text().trimmed() : QString();
    oauth.tokenUrl = other ? m_tokenUrl->text().trimmed() : QString();
    oauth.scope = other ? m_scope->text().trimmed() : QString();
    oauth.tokenCommand = m_tokenCommand;
    return oauth;
}

bool AccountOAuth::store(POPConfig &config, const QString &name) const
{
    for (int i = 0; i < config.NumberOfAccounts(); ++i) {
        if (config.AccountName(i) != name)
            continue;
        if (!config.setOAuth(i, fields()))
            return false;
        return m_newRefresh.isEmpty() || !config.setRefreshToken(i, m_newRefresh);
    }
    return false;
}

void AccountOAuth::showChoice()
{
    const bool on = oauth();
    const bool other = m_provider->currentData().toString() == QLatin1String("other");
    for (QWidget *widget : std::as_const(m_oauthRows))
        widget->setVisible(on);
    for (QWidget *widget : std::as_const(m_otherRows))
        widget->setVisible(on && other);
    for (QWidget *widget : std::as_const(m_passwordRow))
        widget->setVisible(!on);
    showState();
}

void AccountOAuth::applyPreset()
{
    if (!oauth())
        return;
    const OAuthProvider &provider = oauthProvider(m_provider->currentData().toString());
    if (provider.host.isEmpty())
        return;
    // Empty boxes take the preset, and so do boxes that still hold another provider's preset.
    const QString host = m_boxes.host->text().trimmed();
    if (host.isEmpty() || host == m_presetHost) {
        m_boxes.host->setText(provider.host);
        m_presetHost = provider.host;
    }
    if (m_security->currentIndex() == 0)
        m_security->setCurrentIndex(provider.security);
    const QString port = m_boxes.port->text().trimmed();
    if (port.isEmpty() || port == m_presetPort) {
        m_presetPort = QString::number(provider.port);
        m_boxes.port->setText(m_presetPort);
    }
}

void AccountOAuth::showState()
{
    const bool signedIn = !m_newRefresh.isEmpty() || !m_storedRefresh.isEmpty();
    const QString text = m_signingIn ? QStringLiteral("Waiting for the browser…")
                         : signedIn  ? QStringLiteral("Signed in as %1").arg(m_boxes.userName->text())
                                     : QStringLiteral("Not signed in");
    m_state->setText(text);
    m_state->setAccessibleName(QStringLiteral("Sign-in state: ") + text);
}

TokenAccount AccountOAuth::tokenAccount() const
{
    const QString refresh = m_newRefresh.isEmpty() ? m_storedRefresh : m_newRefresh;
    return {m_boxes.name->text(), m_boxes.userName->text(), withProviderDefaults(fields()), refresh,
            m_timeOut};
}

void AccountOAuth::signIn()
{
    if (m_signingIn)
        return;
    if (withProviderDefaults(fields()).clientId.isEmpty()) {
        m_prompter.message(kSignInTitle,
                           QStringLiteral("Enter the client id of your registration with the provider "
                                          "first (see Help)."));
        m_clientId->setFocus();
        return;
    }
    m_signingIn = true;
    m_signIn->setEnabled(false);
    showState();
    const TokenResult result = m_flow.run(tokenAccount());
    m_signingIn = false;
    m_signIn->setEnabled(true);
    if (result.ok()) {
        m_newRefresh = result.refreshToken;
        m_accessToken = result.accessToken;
    } else if (result.status != TokenResult::Status::Cancelled) {
        m_prompter.message(kSignInTitle, result.error);
    }
    showState();
}

TokenResult AccountOAuth::tokenForTest()
{
    if (!m_tokenCommand.trimmed().isEmpty())
        return m_tokens.accessToken(tokenAccount());
    if (!m_accessToken.isEmpty())
        return {TokenResult::Status::Ok, m_accessToken, {}, 0, {}};
    if (m_storedRefresh.isEmpty() && m_newRefresh.isEmpty()) {
        signIn();
        if (m_accessToken.isEmpty())
            return TokenResult::failed(TokenResult::Status::Cancelled, {});
        return {TokenResult::Status::Ok, m_accessToken, {}, 0, {}};
    }
    return m_tokens.accessToken(tokenAccount());
}

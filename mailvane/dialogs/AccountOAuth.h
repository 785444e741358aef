#pragma once

#include "AccountForm.h"

#include "platform/AccessTokens.h"
#include "platform/OAuthSignIn.h"
#include "settings/Account.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class Prompter;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The Authentication choice of both account dialogs: Password, or OAuth 2.0 with its provider,
// client id and "Sign in…". The rows go into the dialog's grid below Security. For OAuth the
// password row is hidden; picking a provider fills the host, port and security from its preset
// where they are empty (or plain). A sign-in is kept with the dialog until it stores the account.
class AccountOAuth : public QObject
{
    Q_OBJECT

public:
    AccountOAuth(const AccountBoxes &boxes, QComboBox *security, QGridLayout *grid,
                 std::function<void(const QUrl &)> openBrowser, Prompter &prompter,
                 QObject *parent = nullptr);

    void fill(const POPConfig &config, int i);
    void setTimeOut(int seconds) { m_timeOut = seconds; }
    bool oauth() const;
    // The choices as they would be stored.
    OAuthAccount fields() const;
    // Stores the choices, and the sign-in made in the dialog, with the account of that name.
    bool store(POPConfig &config, const QString &name) const;
    // An access token for the Test button: the sign-in's, a renewal of the stored one, or a new
    // sign-in when there is neither.
    TokenResult tokenForTest();
    // Ends a sign-in in progress (the dialog closes).
    void cancel() { m_flow.cancel(); }
    OAuthSignIn &flow() { return m_flow; }

public slots:
    void signIn();

private:
    void showChoice();
    void applyPreset();
    void showState();
    TokenAccount tokenAccount() const;

    AccountBoxes m_boxes;
    QComboBox *m_security;
    QComboBox *m_authentication;
    QComboBox *m_provider;
    QLineEdit *m_clientId;
    QLineEdit *m_clientSecret;
    QLineEdit *m_authorizeUrl;
    QLineEdit *m_tokenUrl;
    QLineEdit *m_scope;
    QPushButton *m_signIn;
    QLabel *m_state;
    QList<QWidget *> m_oauthRows;
    QList<QWidget *> m_otherRows;
    QList<QWidget *> m_passwordRow;
    std::function<void(const QUrl &)> m_openBrowser;
    Prompter &m_prompter;
    OAuthSignIn m_flow;
    OAuthTokenSource m_tokens;
    int m_timeOut = 20;
    QString m_tokenCommand;  // kept as stored; edited with mailvane-settings
    QString m_storedRefresh; // the account's sign-in when the dialog opened
    QString m_newRefresh;    // a sign-in made in the dialog, stored with the account
    QString m_accessToken;   // from that sign-in
    bool m_signingIn = false;
    QString m_presetHost; // what the last preset put into the boxes
    QString m_presetPort;
};

#pragma once

#include "AccountForm.h"

#include "BasicPOP.h"

#include <QObject>
#include <QString>
#include <QStringList>

class AccountOAuth;
class Prompter;
class QComboBox;
class QPushButton;

// The Security choice and the Test button of both account dialogs. While the port box is empty it
// shows the usual port of the chosen mode (110, or 995 for SSL/TLS). Test logs in with what the
// boxes hold and tells the result; when the server's certificate fails verification it shows the
// certificate and offers to trust it for the account. Only an explicit yes trusts it, and the
// dialog stores that with the account (Cancel stores nothing).
class AccountSecurity : public QObject
{
    Q_OBJECT

public:
    AccountSecurity(const AccountBoxes &boxes, QComboBox *security, QPushButton *test, Prompter &prompter,
                    QObject *parent = nullptr);

    void fill(const POPConfig &config, int i);
    // Seconds the test may wait for the server (the settings' time-out).
    void setTimeOut(int seconds) { m_pop.setTimeOut(seconds); }
    int security() const;
    QString trustedCertificate() const { return m_trusted; }
    // The boxes' fields with the mode and the trusted certificate.
    AccountFields fields() const;
    // Ends a test in progress without telling anything (the dialog closes).
    void cancel();
    // The control the tests log in with.
    wrenkit::BasicPOP &control() { return m_pop; }
    // With OAuth chosen there, Test logs in with a token (signing in first when needed).
    void setOAuth(AccountOAuth *oauth) { m_oauth = oauth; }

public slots:
    void test();

private:
    void showDefaultPort();
    // Asks whether to trust the certificate that just failed; true on an explicit yes.
    bool offerTrust(const QString &error);

    AccountBoxes m_boxes;
    QComboBox *m_security;
    QPushButton *m_test;
    Prompter &m_prompter;
    wrenkit::BasicPOP m_pop;
    QString m_trusted;
    QStringList m_errors;
    AccountOAuth *m_oauth = nullptr;
    bool m_testing = false;
    bool m_cancelled = false;
};

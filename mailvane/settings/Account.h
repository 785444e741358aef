#pragma once

#include <QString>

// How an account logs in with OAuth 2.0, as stored below its key (all texts; empty when not stored).
struct OAuthAccount {
    int authentication = 0; // 0 password (USER/PASS), 1 OAuth 2.0
    QString provider;       // "microsoft", "google", "other"
    QString clientId;
    QString clientSecret;
    QString authorizeUrl;
    QString tokenUrl;
    QString scope;
    QString tokenCommand; // a command whose first line of output is the access token
    friend bool operator==(const OAuthAccount &, const OAuthAccount &) = default;
};

// One POP3 account as stored below the Accounts key. Password holds the stored (scrambled) form.
struct Account {
    QString Name;
    QString Host;
    QString UserName;
    QString Password;
    bool Selected = false;
    qint64 Port = 0;            // the stored "Port" value, 0 when there is none
    qint16 Security = 0;        // 0 plain POP3, 1 STLS, 2 TLS from the first byte
    QString TrustedCertificate; // SHA-256 fingerprint as 64 lowercase hex digits, or empty
    bool PasswordInKeyring = false; // the password lives in the desktop keyring; Password is empty
    OAuthAccount OAuth;
    QString RefreshToken;              // scrambled, as Password
    bool RefreshTokenInKeyring = false; // the refresh token lives in the keyring; RefreshToken is empty
};

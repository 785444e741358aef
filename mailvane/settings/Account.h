#pragma once

#include <QString>

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
};

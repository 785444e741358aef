#pragma once

#include "settings/Account.h"

#include <QList>
#include <QString>

// The providers whose endpoints Mailvane knows. A client id (and secret) is the user's own
// registration, unless the build set one for the provider.
struct OAuthProvider {
    QString id;   // as stored in "OAuthProvider": "microsoft", "google", "other"
    QString name; // as the dialogs show it
    QString authorizeUrl;
    QString tokenUrl;
    QString scope;
    QString host; // the POP3 server, port and security of the provider's mailboxes
    int port = 0;
    int security = 0;
    QString clientId;     // set at build time, or empty
    QString clientSecret; // set at build time, or empty
};

// Microsoft, Google, Other (no endpoints), in that order.
const QList<OAuthProvider> &oauthProviders();
// The provider of that id; Other for an unknown id.
const OAuthProvider &oauthProvider(const QString &id);
// The account's settings with the empty endpoints, scope and client filled in from its provider.
OAuthAccount withProviderDefaults(const OAuthAccount &oauth);

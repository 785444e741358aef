#include "settings/OAuthProviders.h"

#ifndef MAILVANE_OAUTH_MICROSOFT_CLIENT_ID
#define MAILVANE_OAUTH_MICROSOFT_CLIENT_ID ""
#endif
#ifndef MAILVANE_OAUTH_GOOGLE_CLIENT_ID
#define MAILVANE_OAUTH_GOOGLE_CLIENT_ID ""
#endif
#ifndef MAILVANE_OAUTH_GOOGLE_CLIENT_SECRET
#define MAILVANE_OAUTH_GOOGLE_CLIENT_SECRET ""
#endif

const QList<OAuthProvider> &oauthProviders()
{
    static const QList<OAuthProvider> providers{
        {QStringLiteral("microsoft"),
         QStringLiteral("Microsoft (Outlook.com, Microsoft 365)"),
         QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/authorize"),
         QStringLiteral("https://login.microsoftonline.com/common/oauth2/v2.0/token"),
         QStringLiteral("https://outlook.office.com/POP.AccessAsUser.All offline_access"),
         QStringLiteral("outlook.office365.com"),
         995,
         2,
         QStringLiteral(MAILVANE_OAUTH_MICROSOFT_CLIENT_ID),
         {}},
        {QStringLiteral("google"), QStringLiteral("Google (Gmail, Google Workspace)"),
         QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth"),
         QStringLiteral("https://oauth2.googleapis.com/token"), QStringLiteral("https://mail.google.com/"),
         QStringLiteral("pop.gmail.com"), 995, 2, QStringLiteral(MAILVANE_OAUTH_GOOGLE_CLIENT_ID),
         QStringLiteral(MAILVANE_OAUTH_GOOGLE_CLIENT_SECRET)},
        {QStringLiteral("other"), QStringLiteral("Other"), {}, {}, {}, {}, 0, 0, {}, {}},
    };
    return providers;
}

const OAuthProvider &oauthProvider(const QString &id)
{
    const QList<OAuthProvider> &providers = oauthProviders();
    for (const OAuthProvider &provider : providers) {
        if (provider.id.compare(id, Qt::CaseInsensitive) == 0)
            return provider;
    }
    return providers.last();
}

OAuthAccount withProviderDefaults(const OAuthAccount &oauth)
{
    const OAuthProvider &provider = oauthProvider(oauth.provider);
    OAuthAccount filled = oauth;
    const auto fill = [](QString &field, const QString &preset) {
        if (field.trimmed().isEmpty())
            field = preset;
    };
    fill(filled.authorizeUrl, provider.authorizeUrl);
    fill(filled.tokenUrl, provider.tokenUrl);
    fill(filled.scope, provider.scope);
    // A build's client secret belongs to the build's client id only.
    if (filled.clientId.trimmed().isEmpty()) {
        filled.clientId = provider.clientId;
        filled.clientSecret = provider.clientSecret;
    }
    return filled;
}

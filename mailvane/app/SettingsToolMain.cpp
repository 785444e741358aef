// mailvane-settings: the settings store as REGEDIT4 text, for backup, restore and inspection.
#include "platform/AutostartEntry.h"
#include "platform/OAuthSignIn.h"
#include "platform/PasswordVault.h"
#include "platform/Prompter.h"
#include "platform/RegFile.h"
#include "platform/RegistryStore.h"
#include "settings/OAuthProviders.h"
#include "settings/POPConfig.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <cstdio>

namespace
{
const char *const kUsage = R"(Usage:
  mailvane-settings export [KEY]   print the settings store, or the key KEY and all below it,
                                   as REGEDIT4 text (UTF-8)
  mailvane-settings import FILE    apply a REGEDIT4 file ("-" reads standard input); a file with an
                                   error is refused whole and nothing is changed
  mailvane-settings sign-in ACCOUNT
                                   sign the OAuth 2.0 account ACCOUNT in: prints the address of the
                                   provider's sign-in page, opens it in the browser when a desktop
                                   session is there, and waits (5 minutes at most) for the browser
                                   to come back
  mailvane-settings --help         show this text

KEY is a full key path such as "HKEY_LOCAL_MACHINE\Software\Corvanta\Mailvane 1.0".
Besides [key] sections and "Name"="text", "Name"=dword:0000000a and @="text" values, an import
takes [-key] to remove a key and "Name"=- to remove a value. Keys go at most 512 levels deep
below their root key.

The store is $MAILVANE_REGISTRY when that is set, else
$XDG_CONFIG_HOME/mailvane/registry.sqlite3 (~/.config/mailvane/registry.sqlite3).
)";

// Comment lines naming the accounts whose passwords or sign-ins (OAuth refresh tokens) live in the
// desktop keyring, which an export cannot carry; empty when there are none.
QString keyringNote(RegistryStore &store)
{
    const RegistryKey accounts =
        store.open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0\\Accounts"));
    const auto inKeyring = [&](const QString &flag) {
        QStringList names;
        for (const QString &name : accounts.subKeyNames()) {
            const std::optional<RegValue> value = accounts.subKey(name).value(flag);
            if (value && value->data.toLongLong() != 0)
                names << name;
        }
        return names;
    };
    QString note;
    if (const QStringList names = inKeyring(QStringLiteral("PasswordInKeyring")); !names.isEmpty())
        note += QStringLiteral("; The passwords of these accounts live in the desktop keyring and are not exported: ") +
                names.join(QStringLiteral(", ")) + u'\n';
    if (const QStringList names = inKeyring(QStringLiteral("OAuthRefreshTokenInKeyring")); !names.isEmpty())
        note += QStringLiteral("; The sign-ins (OAuth refresh tokens) of these accounts live in the desktop keyring "
                               "and are not exported: ") +
                names.join(QStringLiteral(", ")) + u'\n';
    return note;
}

int fail(const QString &text)
{
    std::fprintf(stderr, "mailvane-settings: %s\n", qUtf8Printable(text));
    return 1;
}

// The authorization-code flow for one account; the new refresh token is kept as the program
// keeps it (the keyring when passwords live there).
int signIn(RegistryStore &store, Prompter &prompter, const QString &name)
{
    NoAutostartEntry autostart;
    KeychainVault vault;
    POPConfig config({store, prompter, autostart, &vault});
    int index = -1;
    for (int i = 0; i < config.NumberOfAccounts(); ++i) {
        if (config.AccountName(i).compare(name, Qt::CaseInsensitive) == 0)
            index = i;
    }
    if (index < 0)
        return fail(QStringLiteral("no account %1").arg(name));
    const OAuthAccount oauth = withProviderDefaults(config.OAuth(index));
    if (oauth.authentication != 1)
        return fail(QStringLiteral("%1 logs in with a password, not with OAuth 2.0").arg(name));
    if (!oauth.tokenCommand.trimmed().isEmpty())
        return fail(QStringLiteral("%1 takes its tokens from its token command; there is nothing to sign in").arg(name));

    OAuthSignIn flow;
    const bool desktop = !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    QObject::connect(&flow, &OAuthSignIn::authorizationUrl, [desktop](const QUrl &url) {
        const QByteArray address = url.toEncoded();
        std::fprintf(stdout, "Open this address in a browser to sign in:\n%s\n", address.constData());
        std::fflush(stdout);
        // xdg-open honours $BROWSER.
        if (desktop && !QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromLatin1(address)}))
            std::fputs("mailvane-settings: cannot start xdg-open; open the address by hand\n", stderr);
    });
    const TokenResult result =
        flow.run({config.AccountName(index), config.UserName(index), oauth, {}, config.Timeout()});
    if (!result.ok())
        return fail(QStringLiteral("%1: %2").arg(config.AccountName(index), result.error));
    if (const std::optional<QString> why = config.setRefreshToken(index, result.refreshToken))
        return fail(QStringLiteral("%1: signed in, but the sign-in cannot be kept: %2").arg(config.AccountName(index), *why));
    std::fprintf(stdout, "Signed in\n");
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const bool exporting = command == QLatin1String("export") && args.size() <= 2;
    const bool importing = command == QLatin1String("import") && args.size() == 2;
    const bool signingIn = command == QLatin1String("sign-in") && args.size() == 2;
    if (!exporting && !importing && !signingIn) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    ConsolePrompter prompter;
    RegistryStore store(RegistryStore::defaultPath(), &prompter);
    if (signingIn)
        return signIn(store, prompter, args.at(1));
    if (exporting) {
        QString text;
        if (args.size() == 2) {
            const RegistryKey key = store.open(args.at(1));
            if (!key.isValid())
                return fail(QStringLiteral("no key %1").arg(args.at(1)));
            text = exportRegFile(key);
        } else {
            text = exportRegFile(store);
        }
        text.insert(text.indexOf(u'\n') + 1, keyringNote(store));
        const QByteArray utf8 = text.toUtf8();
        return std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout) == size_t(utf8.size()) ? 0 : 1;
    }

    // A store that cannot be written would take the import in memory only and lose it on exit.
    if (!store.isWritable())
        return fail(QStringLiteral("cannot write %1; nothing was imported").arg(store.path()));
    const QString fileName = args.at(1);
    QFile file(fileName);
    const bool opened = fileName == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                       : file.open(QIODevice::ReadOnly);
    if (!opened)
        return fail(QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString()));
    const RegImportResult result = importRegFile(store, file.readAll());
    if (!result.ok)
        return fail(QStringLiteral("%1:%2: %3; nothing was imported")
                        .arg(fileName)
                        .arg(result.line)
                        .arg(result.error));
    return 0;
}

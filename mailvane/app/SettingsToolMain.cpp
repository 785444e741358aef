// mailvane-settings: the settings store as REGEDIT4 text, for backup, restore and inspection.
#include "platform/Prompter.h"
#include "platform/RegFile.h"
#include "platform/RegistryStore.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

namespace
{
const char *const kUsage = R"(Usage:
  mailvane-settings export [KEY]   print the settings store, or the key KEY and all below it,
                                   as REGEDIT4 text (UTF-8)
  mailvane-settings import FILE    apply a REGEDIT4 file ("-" reads standard input); a file with an
                                   error is refused whole and nothing is changed
  mailvane-settings --help         show this text

KEY is a full key path such as "HKEY_LOCAL_MACHINE\Software\Corvanta\Mailvane 1.0".
Besides [key] sections and "Name"="text", "Name"=dword:0000000a and @="text" values, an import
takes [-key] to remove a key and "Name"=- to remove a value. Keys go at most 512 levels deep
below their root key.

The store is $MAILVANE_REGISTRY when that is set, else
$XDG_CONFIG_HOME/mailvane/registry.sqlite3 (~/.config/mailvane/registry.sqlite3).
)";

// A comment line naming the accounts whose passwords live in the desktop keyring, which an export
// cannot carry; empty when there are none.
QString keyringNote(RegistryStore &store)
{
    const RegistryKey accounts =
        store.open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0\\Accounts"));
    QStringList names;
    for (const QString &name : accounts.subKeyNames()) {
        const std::optional<RegValue> flag = accounts.subKey(name).value(QStringLiteral("PasswordInKeyring"));
        if (flag && flag->data.toLongLong() != 0)
            names << name;
    }
    if (names.isEmpty())
        return {};
    return QStringLiteral("; The passwords of these accounts live in the desktop keyring and are not exported: ") +
           names.join(QStringLiteral(", ")) + u'\n';
}

int fail(const QString &text)
{
    std::fprintf(stderr, "mailvane-settings: %s\n", qUtf8Printable(text));
    return 1;
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
    if (!exporting && !importing) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    ConsolePrompter prompter;
    RegistryStore store(RegistryStore::defaultPath(), &prompter);
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

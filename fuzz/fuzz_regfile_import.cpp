// The REGEDIT4 import: a refused file changes nothing, and what an accepted one leaves in the store
// comes back unchanged through an export and an import into an empty store.
//
// Input: the file. The stores live in a temporary folder (in memory where /dev/shm exists) for the
// whole run and start each input from the same settings.
#include "FuzzCheck.h"
#include "Prompter.h"
#include "RegFile.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

namespace
{

struct Stores {
    QTemporaryDir dir{QDir(QStringLiteral("/dev/shm")).exists()
                          ? QStringLiteral("/dev/shm/mailvane-fuzz-XXXXXX")
                          : QString()};
    RecordingPrompter prompter;
    RegistryStore store{dir.filePath(QStringLiteral("store.sqlite3")), &prompter};
    RegistryStore copy{dir.filePath(QStringLiteral("copy.sqlite3")), &prompter};
};

// Empties both root keys; withSettings puts back a few settings for the import to change.
void reset(RegistryStore &store, bool withSettings)
{
    const bool ok = store.transaction([&] {
        for (const auto which : {RegistryStore::Root::LocalMachine, RegistryStore::Root::CurrentUser}) {
            const RegistryKey root = store.root(which);
            for (const QString &name : root.subKeyNames())
                root.removeSubKey(name);
            for (const RegValue &value : root.values())
                root.removeValue(value.name);
        }
        if (!withSettings)
            return true;
        const RegistryKey settings =
            store.root(RegistryStore::Root::LocalMachine)
                .addSubKeyPath(
                    {QStringLiteral("Software"), QStringLiteral("Corvanta"), QStringLiteral("Mailvane 1.0")});
        return settings.setValue({QStringLiteral("Interval"), RegType::DWord, QVariant::fromValue(10u)}) &&
               settings.addSubKey(QStringLiteral("Accounts"))
                   .addSubKey(QStringLiteral("Home"))
                   .setValue({QStringLiteral("Host"), RegType::String, QStringLiteral("pop.example.org")});
    });
    FUZZ_CHECK(ok);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const auto stores = std::make_unique<Stores>();
    FUZZ_CHECK(stores->dir.isValid() && stores->store.isWritable() && stores->copy.isWritable());

    RegistryStore &store = stores->store;
    reset(store, true);
    const QString before = exportRegFile(store);
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const RegImportResult result = importRegFile(store, content);
    const QString after = exportRegFile(store);
    if (!result.ok) {
        FUZZ_CHECK(!result.error.isEmpty());
        FUZZ_CHECK(result.line >= 1 && result.line <= content.count('\n') + 1);
        FUZZ_CHECK(after == before);
        return 0;
    }

    RegistryStore &copy = stores->copy;
    reset(copy, false);
    const RegImportResult again = importRegFile(copy, after.toUtf8());
    if (!again.ok)
        std::fprintf(stderr, "line %d: %s\n", again.line, qUtf8Printable(again.error));
    FUZZ_CHECK(again.ok);
    FUZZ_CHECK(exportRegFile(copy) == after);
    FUZZ_CHECK(stores->prompter.calls.isEmpty());
    return 0;
}

// Test helper: writes changes to a store without end and prints the number of each change once it
// is done, so that a test can kill it at any moment and check what survived.
// Usage: storewriter STORE FIRST
#include "platform/RegistryStore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    RegistryStore store(QString::fromLocal8Bit(argv[1]));
    const RegistryKey top =
        store.open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software")).addSubKey(QStringLiteral("Durable"));
    for (qint64 n = QByteArray(argv[2]).toLongLong();; ++n) {
        // One change: a key with three values, all or nothing.
        const bool done = store.transaction([&] {
            const RegistryKey key = top.addSubKey(QStringLiteral("K%1").arg(n));
            return key.addValue(QStringLiteral("a"), n) &&
                   key.addValue(QStringLiteral("b"), QString(200, QLatin1Char('b'))) &&
                   key.addValue(QStringLiteral("c"), QStringLiteral("end"));
        });
        if (!done)
            return 1;
        std::printf("%lld\n", n);
        std::fflush(stdout);
    }
}

#include "TempStore.h"

#include "platform/RegFile.h"

#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <functional>
#include <linux/capability.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using testsupport::TempStore;
using StoreScript = std::function<void(RegistryStore &)>;
Q_DECLARE_METATYPE(StoreScript)

namespace
{

RegistryKey software(RegistryStore &store)
{
    return store.open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software"));
}

// The tree below Software as REGEDIT4 sections, without the header and the Software section itself.
QString tree(RegistryStore &store)
{
    QString text = exportRegFile(software(store));
    return text.mid(text.indexOf(QLatin1String("\n\n", 2), text.indexOf(QLatin1String("[HKEY"))) + 2);
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// Makes a file unwritable for this process: by its mode, or, as root (who ignores modes), by the
// immutable attribute. Undone on destruction.
class UnwritableFile
{
public:
    explicit UnwritableFile(const QString &path) : m_path(QFile::encodeName(path))
    {
        if (geteuid() != 0) {
            m_ok = QFile::setPermissions(path, QFile::ReadOwner);
            return;
        }
        m_ok = setImmutable(true);
    }
    ~UnwritableFile()
    {
        if (geteuid() == 0)
            setImmutable(false);
        else
            QFile::setPermissions(QString::fromLocal8Bit(m_path), QFile::ReadOwner | QFile::WriteOwner);
    }
    bool ok() const { return m_ok; }

private:
    bool setImmutable(bool on)
    {
        const int fd = ::open(m_path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
    }
    QByteArray m_path;
    bool m_ok = false;
};

// Makes file modes bind this thread as they bind any user: as root, gives up the power to write past
// them until destruction. The immutable attribute cannot stand in here, as it also blocks chmod.
class ModesBind
{
public:
    ModesBind()
    {
        if (geteuid() != 0 || syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        m_lowered = syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~ModesBind()
    {
        if (m_lowered)
            syscall(SYS_capset, &m_header, m_saved);
    }
    ModesBind(const ModesBind &) = delete;
    ModesBind &operator=(const ModesBind &) = delete;

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
    bool m_lowered = false;
};

} // namespace

class TestRegistryStore : public QObject
{
    Q_OBJECT

private slots:
    void operations_data();
    void operations();
    void enumerationByPosition();
    void changesSeenByASecondConnection();
    void newFileInNewFoldersIsOwnerOnly();
    void existingFileLosesGroupAndOtherAccess_data();
    void existingFileLosesGroupAndOtherAccess();
    void defaultPath_data();
    void defaultPath();
    void unreadableFileMovedAside_data();
    void unreadableFileMovedAside();
    void readOnlyStoreServedFromMemory_data();
    void readOnlyStoreServedFromMemory();
    void viewShownWhereNoStoredKey();
};

void TestRegistryStore::operations_data()
{
    QTest::addColumn<StoreScript>("script");
    QTest::addColumn<QString>("expected");

    QTest::newRow("subkey found in any letter case") << StoreScript([](RegistryStore &s) {
        software(s).addSubKey(QStringLiteral("Alpha"));
        QVERIFY(
            software(s).subKey(QStringLiteral("ALPHA")).addValue(QStringLiteral("v"), QStringLiteral("x")));
        QVERIFY(software(s).addSubKey(QStringLiteral("aLPHA")).isValid());
    }) << "[HKEY_LOCAL_MACHINE\\Software\\Alpha]\n\"v\"=\"x\"\n\n";

    QTest::newRow("names compare without case beyond ASCII") << StoreScript([](RegistryStore &s) {
        const RegistryKey k = software(s).addSubKey(QStringLiteral("Ärger"));
        QVERIFY(software(s).subKey(QStringLiteral("äRGER")).isValid());
        QVERIFY(k.addValue(QStringLiteral("ΣΟΦΙΑ"), 1));
        QVERIFY(!k.addValue(QStringLiteral("σοφια"), 2));
        QVERIFY(k.addValue(QStringLiteral("Щука"), QStringLiteral("a")));
        QVERIFY(k.overwriteValue(QStringLiteral("щУКА"), QStringLiteral("b")));
    }) << "[HKEY_LOCAL_MACHINE\\Software\\Ärger]\n\"ΣΟΦΙΑ\"=dword:00000001\n\"Щука\"=\"b\"\n\n";

    QTest::newRow("subkeys in order without case, as upper case sorts")
        << StoreScript([](RegistryStore &s) {
               for (const char *name : {"b", "ä", "a_b", "C", "aab", "A"})
                   software(s).addSubKey(QString::fromUtf8(name));
           })
        << "[HKEY_LOCAL_MACHINE\\Software\\A]\n\n[HKEY_LOCAL_MACHINE\\Software\\aab]\n\n"
           "[HKEY_LOCAL_MACHINE\\Software\\a_b]\n\n[HKEY_LOCAL_MACHINE\\Software\\b]\n\n"
           "[HKEY_LOCAL_MACHINE\\Software\\C]\n\n[HKEY_LOCAL_MACHINE\\Software\\ä]\n\n";

    QTest::newRow("values in creation order; overwrite keeps the place") << StoreScript([](RegistryStore &s) {
        const RegistryKey k = software(s).addSubKey(QStringLiteral("K"));
        for (const char *name : {"z", "a", "m"})
            k.addValue(QLatin1String(name), QLatin1String(name));
        QVERIFY(k.overwriteValue(QStringLiteral("Z"), QStringLiteral("zz")));
        QVERIFY(k.removeValue(QStringLiteral("a")));
        k.addValue(QStringLiteral("a"), QStringLiteral("again"));
    }) << "[HKEY_LOCAL_MACHINE\\Software\\K]\n\"z\"=\"zz\"\n\"m\"=\"m\"\n\"a\"=\"again\"\n\n";

    QTest::newRow("overwrite keeps the type") << StoreScript([](RegistryStore &s) {
        const RegistryKey k = software(s).addSubKey(QStringLiteral("K"));
        k.addValue(QStringLiteral("n"), 5);
        k.addValue(QStringLiteral("t"), QStringLiteral("text"));
        k.addValue(QStringLiteral("b"), true);
        QVERIFY(k.overwriteValue(QStringLiteral("n"), QStringLiteral("12")));
        QVERIFY(!k.overwriteValue(QStringLiteral("n"), QStringLiteral("twelve")));
        QVERIFY(k.overwriteValue(QStringLiteral("t"), 7));
        QVERIFY(k.overwriteValue(QStringLiteral("b"), false));
        QVERIFY(!k.overwriteValue(QStringLiteral("missing"), 1));
    }) << "[HKEY_LOCAL_MACHINE\\Software\\K]\n\"n\"=dword:0000000c\n\"t\"=\"7\"\n\"b\"=dword:00000000\n\n";

    QTest::newRow("typed additions and the default value") << StoreScript([](RegistryStore &s) {
        const RegistryKey k = software(s).addSubKey(QStringLiteral("K"));
        k.addValue(QStringLiteral("sel"), true, RegType::String);
        k.addValue(QStringLiteral("minus"), -1, RegType::DWord);
        k.addValue(QString(), QStringLiteral("default"));
        QCOMPARE(k.defaultValue(), QStringLiteral("default"));
        QCOMPARE(k.value(QStringLiteral("minus"))->text(), QStringLiteral("-1"));
    }) << "[HKEY_LOCAL_MACHINE\\Software\\K]\n\"sel\"=\"True\"\n\"minus\"=dword:ffffffff\n@=\"default\"\n\n";

    QTest::newRow("removing a key removes all below it") << StoreScript([](RegistryStore &s) {
        const RegistryKey a = software(s).addSubKey(QStringLiteral("A"));
        a.addSubKey(QStringLiteral("B")).addSubKey(QStringLiteral("C")).addValue(QStringLiteral("v"), 1);
        software(s).addSubKey(QStringLiteral("Keep"));
        QVERIFY(software(s).removeSubKey(QStringLiteral("a")));
        QVERIFY(!software(s).removeSubKey(QStringLiteral("a")));
        QVERIFY(!a.addSubKey(QStringLiteral("Orphan")).isValid());
    }) << "[HKEY_LOCAL_MACHINE\\Software\\Keep]\n\n";

    QTest::newRow("names that cannot be key names") << StoreScript([](RegistryStore &s) {
        QVERIFY(!software(s).addSubKey(QStringLiteral("a\\b")).isValid());
        QVERIFY(!software(s).addSubKey(QString()).isValid());
        QVERIFY(!software(s).subKey(QStringLiteral("missing")).isValid());
    }) << "";
}

void TestRegistryStore::operations()
{
    QFETCH(StoreScript, script);
    QFETCH(QString, expected);
    TempStore temp;
    script(temp.store());
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(tree(temp.store()), expected);
    temp.close();
    QCOMPARE(tree(temp.store()), expected);
    QVERIFY(temp.prompter.calls.isEmpty());
}

void TestRegistryStore::enumerationByPosition()
{
    TempStore temp;
    RegistryStore &s = temp.store();
    QCOMPARE(s.root(RegistryStore::Root::LocalMachine).fullPath(), QStringLiteral("\\HKEY_LOCAL_MACHINE"));
    QCOMPARE(s.root(RegistryStore::Root::CurrentUser).fullPath(), QStringLiteral("\\HKEY_CURRENT_USER"));
    const RegistryKey k = software(s).addSubKey(QStringLiteral("K"));
    k.addSubKey(QStringLiteral("beta"));
    k.addSubKey(QStringLiteral("Alpha"));
    QCOMPARE(k.subKeyCount(), 2);
    QCOMPARE(k.subKeyAt(1).name(), QStringLiteral("Alpha"));
    QCOMPARE(k.subKeyAt(2).fullPath(), QStringLiteral("\\HKEY_LOCAL_MACHINE\\Software\\K\\beta"));
    QVERIFY(!k.subKeyAt(0).isValid());
    QVERIFY(!k.subKeyAt(3).isValid());
    k.addValue(QStringLiteral("x"), 1);
    QCOMPARE(k.valueCount(), 1);
}

void TestRegistryStore::changesSeenByASecondConnection()
{
    TempStore temp;
    RegistryStore other(temp.path());
    software(temp.store()).addSubKey(QStringLiteral("Shared")).addValue(QStringLiteral("v"), 3);
    QCOMPARE(software(other).subKey(QStringLiteral("shared")).value(QStringLiteral("V"))->text(),
             QStringLiteral("3"));
    QVERIFY(software(other).removeSubKey(QStringLiteral("Shared")));
    QVERIFY(!software(temp.store()).subKey(QStringLiteral("Shared")).isValid());
}

void TestRegistryStore::newFileInNewFoldersIsOwnerOnly()
{
    TempStore temp;
    const QString path = temp.dir() + QStringLiteral("/a/b/registry.sqlite3");
    RegistryStore store(path);
    QVERIFY(store.isWritable());
    QVERIFY(software(store).addSubKey(QStringLiteral("K")).isValid());
    struct stat info {
    };
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, 0600u);
}

void TestRegistryStore::existingFileLosesGroupAndOtherAccess_data()
{
    QTest::addColumn<uint>("mode");
    QTest::addColumn<uint>("expected");
    QTest::newRow("readable by all") << 0644u << 0600u;
    QTest::newRow("read-only for all stays read-only") << 0444u << 0400u;
}

void TestRegistryStore::existingFileLosesGroupAndOtherAccess()
{
    QFETCH(uint, mode);
    QFETCH(uint, expected);
    TempStore temp;
    software(temp.store()).addSubKey(QStringLiteral("K"));
    temp.close();
    const QByteArray path = QFile::encodeName(temp.path());
    QCOMPARE(::chmod(path.constData(), mode), 0);

    ModesBind binding;
    const bool writable = temp.store().isWritable();
    struct stat info {
    };
    QCOMPARE(::stat(path.constData(), &info), 0);
    QCOMPARE(info.st_mode & 0777, expected);
    QCOMPARE(writable, bool(expected & 0200));
    QCOMPARE(temp.prompter.calls.size(), writable ? 0 : 1);
}

void TestRegistryStore::defaultPath_data()
{
    QTest::addColumn<QString>("registry");
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("expected");
    QTest::newRow("MAILVANE_REGISTRY wins") << "/x/r.db"
                                            << "/cfg"
                                            << "/x/r.db";
    QTest::newRow("XDG_CONFIG_HOME") << ""
                                     << "/cfg"
                                     << "/cfg/mailvane/registry.sqlite3";
    QTest::newRow("neither") << ""
                             << "" << QDir::homePath() + "/.config/mailvane/registry.sqlite3";
}

void TestRegistryStore::defaultPath()
{
    QFETCH(QString, registry);
    QFETCH(QString, config);
    QFETCH(QString, expected);
    const QByteArray oldRegistry = qgetenv("MAILVANE_REGISTRY");
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("MAILVANE_REGISTRY", registry.toUtf8());
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    const QString path = RegistryStore::defaultPath();
    qputenv("MAILVANE_REGISTRY", oldRegistry);
    qputenv("XDG_CONFIG_HOME", oldConfig);
    QCOMPARE(path, expected);
}

void TestRegistryStore::unreadableFileMovedAside_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("not SQLite") << "garbage";
    QTest::newRow("truncated store") << "truncate";
    QTest::newRow("another program's database") << "foreign";
}

void TestRegistryStore::unreadableFileMovedAside()
{
    QFETCH(QString, damage);
    TempStore temp;
    if (damage == QLatin1String("garbage")) {
        QFile file(temp.path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(5000, 'x'));
    } else if (damage == QLatin1String("foreign")) {
        RegistryStore(temp.dir() + QStringLiteral("/other.db"));
        QFile file(temp.dir() + QStringLiteral("/other.db"));
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(68); // the application id in the header
        file.write(QByteArray("\0\0\0\1", 4));
        file.close();
        QVERIFY(QFile::rename(file.fileName(), temp.path()));
    } else {
        const RegistryKey k = software(temp.store()).addSubKey(QStringLiteral("Bulk"));
        for (int i = 0; i < 400; ++i)
            k.addValue(QStringLiteral("value %1").arg(i), QString(100, QLatin1Char('v')));
        temp.close();
        QFile file(temp.path());
        QVERIFY(file.resize(file.size() / 2));
    }
    QFile original(temp.path());
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray content = original.readAll();
    original.close();

    QVERIFY(software(temp.store()).addSubKey(QStringLiteral("Fresh")).isValid());
    QCOMPARE(temp.prompter.calls.size(), 1);
    const QString text = temp.prompter.calls.first().text;
    const QStringList aside = QDir(temp.dir()).entryList({QStringLiteral("registry.sqlite3.unreadable-*")});
    QCOMPARE(aside.size(), 1);
    QVERIFY2(text.contains(temp.path()) && text.contains(temp.dir() + QLatin1Char('/') + aside.first()),
             qPrintable(text));
    QFile moved(temp.dir() + QLatin1Char('/') + aside.first());
    QVERIFY(moved.open(QIODevice::ReadOnly));
    QCOMPARE(moved.readAll(), content);

    temp.close();
    QVERIFY(software(temp.store()).subKey(QStringLiteral("Fresh")).isValid());
    QCOMPARE(temp.prompter.calls.size(), 1);
}

void TestRegistryStore::readOnlyStoreServedFromMemory_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("interval");
    QTest::newRow("empty file") << "empty" << 10;
    QTest::newRow("store without the settings") << "other key" << 10;
    QTest::newRow("store with settings") << "settings" << 42;
}

void TestRegistryStore::readOnlyStoreServedFromMemory()
{
    QFETCH(QString, content);
    QFETCH(int, interval);
    TempStore temp;
    if (content == QLatin1String("empty")) {
        QFile file(temp.path());
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        software(temp.store())
            .addSubKey(QStringLiteral("K"))
            .addValue(QStringLiteral("v"), QStringLiteral("kept"));
        if (content == QLatin1String("settings")) {
            POPConfig config(temp.services());
            config.setInterval(interval);
            config.SaveConfig();
        }
        temp.close();
    }
    const QByteArray before = fileContent(temp.path());
    UnwritableFile unwritable(temp.path());
    if (!unwritable.ok())
        QSKIP("cannot make the store file unwritable on this file system");

    RegistryStore &store = temp.store();
    QVERIFY(!store.isWritable());
    QCOMPARE(temp.prompter.calls.size(), 1);
    QVERIFY(temp.prompter.calls.first().text.contains(temp.path()));
    if (content != QLatin1String("empty")) {
        QCOMPARE(software(store).subKey(QStringLiteral("K")).value(QStringLiteral("v"))->text(),
                 QStringLiteral("kept"));
    }

    // The settings object repairs the tree and fills in its defaults in memory, and takes changes there,
    // without further messages.
    POPConfig config(temp.services());
    QCOMPARE(config.Interval(), interval);
    QCOMPARE(config.Timeout(), 20);
    QCOMPARE(config.HotKey(), 123);
    QCOMPARE(config.MaxMessageSize(), 32);
    QVERIFY(config.Check());
    config.AddAccount(QStringLiteral("acc"), QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p"));
    config.SaveConfig();
    QCOMPARE(config.NumberOfAccounts(), 1);
    QCOMPARE(temp.prompter.calls.size(), 1);
    temp.close();
    QCOMPARE(fileContent(temp.path()), before);
}

void TestRegistryStore::viewShownWhereNoStoredKey()
{
    TempStore temp;
    RegistryStore &s = temp.store();
    int builds = 0;
    s.mount(RegistryStore::Root::LocalMachine, QStringLiteral("Software\\Clients\\Mail"), [&] {
        ++builds;
        return VirtualKey{{}, {RegValue{QStringLiteral("v"), RegType::String, QStringLiteral("view")}}, {}};
    });
    const RegistryKey view = s.open(QStringLiteral("\\HKEY_LOCAL_MACHINE\\software\\clients\\MAIL"));
    QVERIFY(view.isReadOnly());
    QCOMPARE(view.fullPath(), QStringLiteral("\\HKEY_LOCAL_MACHINE\\Software\\Clients\\Mail"));
    QCOMPARE(view.value(QStringLiteral("V"))->text(), QStringLiteral("view"));
    QVERIFY(!view.addValue(QStringLiteral("w"), 1));
    QVERIFY(!view.addSubKey(QStringLiteral("sub")).isValid());
    QCOMPARE(builds, 1);

    // A stored key of that path is read as it stands.
    software(s)
        .addSubKey(QStringLiteral("Clients"))
        .addSubKey(QStringLiteral("Mail"))
        .addValue(QStringLiteral("v"), 1);
    const RegistryKey stored = s.open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Clients\\Mail"));
    QVERIFY(!stored.isReadOnly());
    QCOMPARE(stored.value(QStringLiteral("v"))->text(), QStringLiteral("1"));
    QCOMPARE(builds, 1);
}

QTEST_GUILESS_MAIN(TestRegistryStore)
#include "tst_registrystore.moc"

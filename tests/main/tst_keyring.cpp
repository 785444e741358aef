// Passwords in the desktop keyring, against a real gnome-keyring-daemon on a private session bus.
#include "CheckHarness.h"
#include "ChildProcess.h"
#include "PrivateSessionBus.h"
#include "ScriptedPop3Server.h"
#include "platform/PasswordVault.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QtTest>

#include <memory>

using namespace testsupport;

namespace
{
const QString Accounts = QStringLiteral("Software\\Corvanta\\Mailvane 1.0\\Accounts\\");

std::optional<RegValue> accountValue(TempStore &temp, const QString &account, const QString &name)
{
    return temp.store().root(RegistryStore::Root::LocalMachine).subKey(Accounts + account).value(name);
}
} // namespace

class TestKeyring : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void passwordsMoveIntoTheKeyringAndBack();
    void refreshTokenInTheKeyringNotInTheStore();
    void onByDefaultWhenAKeyringIsThere();
    void checkLogsInWithTheKeyringPassword();
    void renamedOrDeletedAccountMovesItsEntry();
    void lockedKeyringFailsTheAccountWithoutALogIn(); // last: the keyring stays locked

private:
    // An account stored as the dialogs store it, with the keyring setting saved as asked.
    void addAccount(TempStore &temp, const QString &name, const QString &password, quint16 port,
                    bool useKeyring);
    bool lockKeyring(QString *error);

    std::unique_ptr<PrivateSessionBus> m_bus;
    QTemporaryDir m_home;
    QProcess m_daemon;
    KeychainVault m_vault{std::chrono::seconds(20)};
};

void TestKeyring::initTestCase()
{
    m_bus = std::make_unique<PrivateSessionBus>();
    QVERIFY2(m_bus->isValid(), qPrintable(m_bus->error()));
    // The keyring library and Qt both find the session bus here, before either connects.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus->address().toUtf8());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", m_bus->address());
    env.insert("HOME", m_home.path());
    env.insert("XDG_DATA_HOME", m_home.filePath("data"));
    env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
    env.insert("XDG_RUNTIME_DIR", m_home.path());
    m_daemon.setProcessEnvironment(env);
    const pid_t parent = getpid();
    m_daemon.setChildProcessModifier([parent] { terminateWithParent(parent); });
    // With --unlock the daemon reads the login keyring's password from its input and creates that
    // keyring, unlocked, as the default collection.
    m_daemon.start("gnome-keyring-daemon", {"--foreground", "--unlock", "--components=secrets"});
    QVERIFY2(m_daemon.waitForStarted(10000), qPrintable(m_daemon.errorString()));
    m_daemon.write("keyring-test-password");
    m_daemon.closeWriteChannel();
    QVERIFY2(m_bus->waitForService("org.freedesktop.secrets"), m_daemon.readAllStandardError().constData());
    QCOMPARE(m_vault.state(), PasswordVault::Status::Ok);
}

void TestKeyring::cleanupTestCase()
{
    if (m_daemon.state() != QProcess::NotRunning) {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    m_bus.reset();
}

void TestKeyring::addAccount(TempStore &temp, const QString &name, const QString &password, quint16 port,
                             bool useKeyring)
{
    POPConfig config({temp.store(), temp.prompter, temp.autostart, &m_vault});
    config.setUseKeyring(useKeyring);
    config.SaveConfig();
    config.AddAccount(name, "127.0.0.1", "user", password);
    temp.store()
        .root(RegistryStore::Root::LocalMachine)
        .subKey(Accounts + name)
        .addValue("Port", int(port), RegType::DWord);
}

bool TestKeyring::lockKeyring(QString *error)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage alias = QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                        "org.freedesktop.Secret.Service", "ReadAlias");
    alias << QString("default");
    const QDBusReply<QDBusObjectPath> collection = bus.call(alias);
    if (!collection.isValid()) {
        *error = collection.error().message();
        return false;
    }
    QDBusMessage lock = QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                       "org.freedesktop.Secret.Service", "Lock");
    lock << QVariant::fromValue(QList<QDBusObjectPath>{collection.value()});
    const QDBusMessage reply = bus.call(lock);
    *error = reply.errorMessage();
    return reply.type() == QDBusMessage::ReplyMessage;
}

void TestKeyring::passwordsMoveIntoTheKeyringAndBack()
{
    TempStore temp;
    addAccount(temp, "Work", "s3cret", 110, true);
    POPConfig config({temp.store(), temp.prompter, temp.autostart, &m_vault});
    QVERIFY(config.UseKeyring());
    QVERIFY(config.PasswordInKeyring(0));
    QCOMPARE(accountValue(temp, "Work", "Password")->text(), QString());
    QCOMPARE(accountValue(temp, "Work", "PasswordInKeyring")->data.toInt(), 1);
    QCOMPARE(m_vault.read("Work").password, QString("s3cret"));
    QCOMPARE(config.Password(0), QString("s3cret"));

    config.setUseKeyring(false);
    config.SaveConfig();
    QVERIFY(!config.PasswordInKeyring(0));
    QVERIFY(!accountValue(temp, "Work", "Password")->text().isEmpty()); // scrambled
    QCOMPARE(accountValue(temp, "Work", "PasswordInKeyring")->data.toInt(), 0);
    QCOMPARE(m_vault.read("Work").status, PasswordVault::Status::NotFound);
    QCOMPARE(POPConfig({temp.store(), temp.prompter, temp.autostart, &m_vault}).Password(0),
             QString("s3cret"));

    config.setUseKeyring(true);
    config.SaveConfig();
    QCOMPARE(m_vault.read("Work").password, QString("s3cret"));
    QCOMPARE(accountValue(temp, "Work", "Password")->text(), QString());
    QVERIFY(temp.prompter.calls.isEmpty());
    config.DeleteAccount("Work");
}

void TestKeyring::refreshTokenInTheKeyringNotInTheStore()
{
    TempStore temp;
    addAccount(temp, "Mail", "", 995, true);
    POPConfig config({temp.store(), temp.prompter, temp.autostart, &m_vault});
    QCOMPARE(config.setRefreshToken(0, "1//refresh-token"), std::nullopt);
    QVERIFY(config.RefreshTokenInKeyring(0));
    QVERIFY(!accountValue(temp, "Mail", "OAuthRefreshToken"));
    QCOMPARE(m_vault.read(POPConfig::refreshTokenEntry("Mail")).password, QString("1//refresh-token"));
    QCOMPARE(POPConfig({temp.store(), temp.prompter, temp.autostart, &m_vault}).LookUpRefreshToken(0).password,
             QString("1//refresh-token"));

    // Out of the keyring with the passwords, scrambled in the store; and back in.
    config.setUseKeyring(false);
    config.SaveConfig();
    QVERIFY(!config.RefreshTokenInKeyring(0));
    const QString stored = accountValue(temp, "Mail", "OAuthRefreshToken")->text();
    QVERIFY(!stored.isEmpty() && !stored.contains("refresh-token"));
    QCOMPARE(m_vault.read(POPConfig::refreshTokenEntry("Mail")).status, PasswordVault::Status::NotFound);
    QCOMPARE(config.LookUpRefreshToken(0).password, QString("1//refresh-token"));
    config.setUseKeyring(true);
    config.SaveConfig();
    QVERIFY(!accountValue(temp, "Mail", "OAuthRefreshToken"));
    QCOMPARE(config.LookUpRefreshToken(0).password, QString("1//refresh-token"));

    config.DeleteAccount("Mail");
    QCOMPARE(m_vault.read(POPConfig::refreshTokenEntry("Mail")).status, PasswordVault::Status::NotFound);
    QVERIFY(temp.prompter.calls.isEmpty());
}

void TestKeyring::onByDefaultWhenAKeyringIsThere()
{
    // A store from before the keyring setting: its password moves in at the first load.
    TempStore temp;
    addAccount(temp, "Old", "before", 110, false);
    QVERIFY(
        temp.store().open("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0").removeValue("UseKeyring"));

    POPConfig config({temp.store(), temp.prompter, temp.autostart, &m_vault});
    QVERIFY(config.UseKeyring());
    QVERIFY(config.PasswordInKeyring(0));
    QCOMPARE(m_vault.read("Old").password, QString("before"));
    QCOMPARE(accountValue(temp, "Old", "Password")->text(), QString());

    // Without a keyring the setting starts off.
    TempStore plain;
    NoPasswordVault none;
    QVERIFY(!POPConfig({plain.store(), plain.prompter, plain.autostart, &none}).UseKeyring());
    config.DeleteAccount("Old");
}

void TestKeyring::checkLogsInWithTheKeyringPassword()
{
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({10}, "user", "from-the-keyring").expect("TOP 1 1");
    server.send("+OK\r\nFrom: a@example.org\r\nSubject: s\r\n\r\n.\r\n").expect("QUIT").send("+OK\r\n");
    addAccount(h.temp, "Work", "from-the-keyring", server.port(), true);
    POPConfig config({h.temp.store(), h.temp.prompter, h.temp.autostart, &m_vault});
    QCOMPARE(accountValue(h.temp, "Work", "Password")->text(), QString());
    h.cycle.setConfig(&config);

    h.cycle.CheckMail();
    QCOMPARE(h.errors, QStringList());
    QCOMPARE(h.keys(), QStringList{"A0 M1"});
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
    config.DeleteAccount("Work");
}

void TestKeyring::renamedOrDeletedAccountMovesItsEntry()
{
    TempStore temp;
    addAccount(temp, "Work", "kept", 110, true);
    POPConfig config({temp.store(), temp.prompter, temp.autostart, &m_vault});

    // The account dialog renames (and may change the password) in one edit.
    QVERIFY(config.EditAccount(0, {"Office", "127.0.0.1", "user", config.Password(0), 0}));
    QCOMPARE(config.AccountName(0), QString("Office"));
    QVERIFY(config.PasswordInKeyring(0));
    QCOMPARE(config.Password(0), QString("kept"));
    QCOMPARE(accountValue(temp, "Office", "Password")->text(), QString());
    QCOMPARE(m_vault.read("Work").status, PasswordVault::Status::NotFound);
    QVERIFY(config.EditAccount(0, {"Office", "127.0.0.1", "user", "changed", 0}));
    QCOMPARE(m_vault.read("Office").password, QString("changed"));

    // Deleting and adding again, the older way of renaming, keeps it too.
    const QString password = config.Password(0);
    config.DeleteAccount("Office");
    config.AddAccount("Home", "127.0.0.1", "user", password);
    QCOMPARE(m_vault.read("Office").status, PasswordVault::Status::NotFound);
    QCOMPARE(m_vault.read("Home").password, QString("changed"));

    config.DeleteAccount("Home");
    QCOMPARE(m_vault.read("Home").status, PasswordVault::Status::NotFound);
}

void TestKeyring::lockedKeyringFailsTheAccountWithoutALogIn()
{
    CheckHarness h(20);
    ScriptedPop3Server server;
    ScriptedPop3Server second;
    second.login({}, "user", "in-the-store").expect("QUIT").send("+OK\r\n");
    addAccount(h.temp, "Locked", "in-the-keyring", server.port(), true);
    // An account added where no keyring answered keeps its password in the store.
    POPConfig({h.temp.store(), h.temp.prompter, h.temp.autostart})
        .AddAccount("Plain", "127.0.0.1", "user", "in-the-store");
    h.temp.store()
        .root(RegistryStore::Root::LocalMachine)
        .subKey(Accounts + "Plain")
        .addValue("Port", int(second.port()), RegType::DWord);
    POPConfig config({h.temp.store(), h.temp.prompter, h.temp.autostart, &m_vault});
    QVERIFY(config.PasswordInKeyring(0) && !config.PasswordInKeyring(1));
    QString error;
    QVERIFY2(lockKeyring(&error), qPrintable(error));
    QCOMPARE(m_vault.state(), PasswordVault::Status::Locked);
    h.cycle.setConfig(&config);

    h.cycle.CheckMail();
    // Named after its account, as every error of a check with several accounts.
    QCOMPARE(h.errors, QStringList{"Locked: Password Not Available: keyring locked"});
    QCOMPARE(server.connectionCount(), 0);
    QCOMPARE(h.status.panel(3), QString("0 New Message(s)"));
    QTRY_VERIFY(second.finished()); // the next account is checked as usual

    // Nothing moves out of a locked keyring, and nothing is lost trying.
    config.setUseKeyring(false);
    config.SaveConfig();
    QVERIFY(config.PasswordInKeyring(0));
    QCOMPARE(h.temp.prompter.calls.size(), 1);
    QVERIFY2(h.temp.prompter.calls[0].text.contains("Locked (keyring locked)"),
             qPrintable(h.temp.prompter.calls[0].text));
}

QTEST_GUILESS_MAIN(TestKeyring)
#include "tst_keyring.moc"

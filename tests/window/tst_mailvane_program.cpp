// The real mailvane program under Xvfb with a tray host, a private session bus and Dovecot: it sits
// in the tray, checks when asked over D-Bus, shows its list to a second start, works from the
// keyboard and quits; an account added in its dialogs keeps its password in a real
// gnome-keyring-daemon.
#include "ChildProcess.h"
#include "DovecotFixture.h"
#include "TempStore.h"
#include "TrayHost.h"
#include "X11Client.h"
#include "XvfbServer.h"
#include "platform/PasswordVault.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QtTest>

#include <memory>

using namespace testsupport;

namespace
{
const QString Service = QStringLiteral("org.mailvane.Mailvane");
const QString Path = QStringLiteral("/Mailvane");
const QString Interface = QStringLiteral("org.mailvane.Mailvane");
const QString WindowTitle = QStringLiteral("Mailvane - Messages");
const QString ConfigTitle = QStringLiteral("Mailvane - Configuration");
const QString AddTitle = QStringLiteral("Add Account");

// Keys and text for the focused window, through XTEST.
bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// A gnome-keyring-daemon with an unlocked default keyring, on the given session bus.
class KeyringDaemon
{
public:
    bool start(const QString &busAddress)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        env.insert("HOME", m_home.path());
        env.insert("XDG_DATA_HOME", m_home.filePath("data"));
        env.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        env.insert("XDG_RUNTIME_DIR", m_home.path());
        m_process.setProcessEnvironment(env);
        m_process.setChildProcessModifier([parent = getpid()] { terminateWithParent(parent); });
        // With --unlock it reads the password of a new login keyring from its input.
        m_process.start("gnome-keyring-daemon", {"--foreground", "--unlock", "--components=secrets"});
        if (!m_process.waitForStarted(10000))
            return false;
        m_process.write("keyring-test-password");
        m_process.closeWriteChannel();
        return true;
    }
    ~KeyringDaemon()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        m_process.waitForFinished(5000);
    }

private:
    QTemporaryDir m_home;
    QProcess m_process;
};
} // namespace

class TestMailvaneProgram : public QObject
{
    Q_OBJECT

    std::unique_ptr<X11Client> m_x;
    std::unique_ptr<TrayHost> m_host;
    QProcess m_busDaemon;
    QString m_busAddress;
    QList<int> m_finished;

    QDBusConnection bus() const { return QDBusConnection(QStringLiteral("private-session")); }

    QDBusMessage call(const QString &method)
    {
        return bus().call(QDBusMessage::createMethodCall(Service, Path, Interface, method), QDBus::Block,
                          30000);
    }

    void startMailvane(QProcess &process, const TempStore &store)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_busAddress);
        env.insert("MAILVANE_REGISTRY", store.path());
        env.insert("XDG_CONFIG_HOME", store.dir());
        env.insert("QT_QPA_PLATFORM", "xcb");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.setChildProcessModifier([parent = getpid()] { terminateWithParent(parent); });
        process.start(QStringLiteral(MAILVANE_BINARY), {});
    }

    // The program's main window and whether its tray icon sits inside the tray host.
    unsigned long mainWindow() const
    {
        for (unsigned long window : m_x->windowsOfClass("mailvane"))
            if (m_x->windowName(window) == WindowTitle)
                return window;
        return 0;
    }
    unsigned long viewableWindow(const QString &title) const
    {
        for (unsigned long window : m_x->windowsOfClass("mailvane"))
            if (m_x->windowName(window) == title && m_x->isViewable(window))
                return window;
        return 0;
    }
    unsigned long trayIcon() const
    {
        for (unsigned long window : m_x->windowsOfClass("mailvane")) {
            const unsigned long parent = m_x->parentOf(window);
            if (window != mainWindow() && parent != 0 && parent != m_x->rootWindow() &&
                m_x->isViewable(window))
                return window;
        }
        return 0;
    }
    bool iconEmbedded() const { return trayIcon() != 0; }
    // A viewable top-level window of the program other than the named ones: a pop-up menu.
    bool menuShown() const
    {
        for (unsigned long window : m_x->windowsOfClass("mailvane"))
            if (m_x->parentOf(window) == m_x->rootWindow() && m_x->isViewable(window) &&
                m_x->windowName(window) != WindowTitle && m_x->windowName(window) != ConfigTitle)
                return true;
        return false;
    }
    // Gives the window the keyboard, as a window manager would, and waits until the server did.
    bool focus(unsigned long window)
    {
        return window && xdotool({"windowfocus", "--sync", QString::number(window)});
    }

private slots:
    void onCheckFinished(int newMessages) { m_finished << newMessages; }

    void initTestCase()
    {
        MAILVANE_REQUIRE_DOVECOT();
        m_x = std::make_unique<X11Client>();
        QVERIFY2(m_x->isUsable(), "no usable X server");

        m_busDaemon.setChildProcessModifier([parent = getpid()] { terminateWithParent(parent); });
        m_busDaemon.start(
            QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QVERIFY2(m_busDaemon.waitForStarted(10000), "dbus-daemon did not start");
        QVERIFY(QTest::qWaitFor([this] { return m_busDaemon.canReadLine(); }, 10000));
        m_busAddress = QString::fromUtf8(m_busDaemon.readLine()).trimmed();
        // The test's own session bus too (the keyring library finds it here), before anything connects.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_busAddress.toUtf8());
        QVERIFY(QDBusConnection::connectToBus(m_busAddress, QStringLiteral("private-session")).isConnected());

        m_host = std::make_unique<TrayHost>();
        if (!m_host->start()) {
            if (runningInCi())
                QFAIL(qPrintable("trayer did not start: " + m_host->errorString()));
            QSKIP("needs trayer (Debian package trayer)");
        }
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);
    }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("private-session"));
        m_busDaemon.terminate();
        m_busDaemon.waitForFinished(5000);
        m_host.reset();
        m_x.reset();
    }

    void sitsInTheTrayChecksShowsAndQuits()
    {
        DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
        for (const char *subject : {"One", "Two", "Three"})
            server.deliver("alice", DovecotFixture::makeMessage("Ann <ann@example.org>", subject, 500));
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));

        TempStore store;
        {
            POPConfig setup(store.services());
            setup.AddAccount("Demo", server.host(), "alice", "wonderland");
            store.store()
                .root(RegistryStore::Root::LocalMachine)
                .subKey("Software\\Corvanta\\Mailvane 1.0\\Accounts\\Demo")
                .addValue("Port", int(server.port()), RegType::DWord);
        }
        store.close();

        QProcess mailvane;
        startMailvane(mailvane, store);
        QVERIFY2(mailvane.waitForStarted(10000), qPrintable(mailvane.errorString()));
        // Style 0: the icon goes to the tray, the window stays hidden.
        QTRY_VERIFY_WITH_TIMEOUT(iconEmbedded(), 20000);
        QVERIFY(!mainWindow() || !m_x->isViewable(mainWindow()));

        QVERIFY(bus().connect(Service, Path, Interface, "CheckFinished", this, SLOT(onCheckFinished(int))));
        // Tried again only while the object is not there yet (the name comes first). Each call
        // waits long enough for a busy machine: a call repeated after a late answer would start
        // a second check, which resets the count read below.
        QTRY_VERIFY_WITH_TIMEOUT(call("CheckNow").type() == QDBusMessage::ReplyMessage, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(m_finished, QList<int>{3}, 30000);
        const QDBusMessage count =
            bus().call(QDBusMessage::createMethodCall(Service, Path, "org.freedesktop.DBus.Properties", "Get")
                       << Interface << "NewMessageCount");
        QCOMPARE(count.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(count.arguments().value(0).value<QDBusVariant>().variant().toInt(), 3);

        // A second start shows the running program's list and ends.
        QProcess second;
        startMailvane(second, store);
        QVERIFY(second.waitForFinished(30000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && m_x->isViewable(mainWindow()), 10000);

        // The shown window works from the keyboard: F5 checks again, Delete deletes the selected
        // (first) message on the server, Shift+F10 opens the list menu, whose second item blocks
        // the sender.
        m_x->movePointer(m_x->screenGeometry(mainWindow()).center());
        const auto tap = [this](std::initializer_list<const char *> keys) {
            for (const char *key : keys)
                QVERIFY2(m_x->pressKey(key), key);
            m_x->releaseAllKeys();
        };
        tap({"F5"});
        QTRY_COMPARE_WITH_TIMEOUT(m_finished, (QList<int>{3, 3}), 30000);
        tap({"Delete"});
        QTRY_COMPARE_WITH_TIMEOUT(server.messageFiles("alice").size(), 2, 30000);
        const auto viewableWindows = [this] {
            int n = 0;
            for (unsigned long window : m_x->windowsOfClass("mailvane"))
                n += m_x->isViewable(window) ? 1 : 0;
            return n;
        };
        const int before = viewableWindows();
        tap({"Shift_L", "F10"});
        QTRY_VERIFY_WITH_TIMEOUT(viewableWindows() > before, 10000);
        tap({"Down"});
        tap({"Down"});
        tap({"Return"});
        QTRY_COMPARE_WITH_TIMEOUT(viewableWindows(), before, 10000);

        QCOMPARE(call("Quit").type(), QDBusMessage::ReplyMessage);
        QVERIFY(mailvane.waitForFinished(10000));
        QCOMPARE(mailvane.exitStatus(), QProcess::NormalExit);
        QCOMPARE(mailvane.exitCode(), 0);
        QTRY_VERIFY(m_x->windowsOfClass("mailvane").empty());
        QVERIFY(!bus().interface()->isServiceRegistered(Service));
        POPConfig stored(store.services());
        QCOMPARE(stored.NumberOfBlocked(), qint16(1));
        QVERIFY(stored.IsBlocked("Ann <ann@example.org>"));
    }

    // A first start with a keyring on the bus: the account added in the dialogs keeps its password
    // in the keyring at once (no 30-second wait for an answer that never comes), and a check logs in
    // with it.
    void addedAccountKeepsItsPasswordInTheKeyring()
    {
        KeyringDaemon keyring;
        QVERIFY2(keyring.start(m_busAddress), "gnome-keyring-daemon did not start");
        QTRY_VERIFY_WITH_TIMEOUT(bus().interface()->isServiceRegistered("org.freedesktop.secrets"), 10000);
        KeychainVault vault(std::chrono::seconds(10));
        QCOMPARE(vault.state(), PasswordVault::Status::Ok);

        DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
        for (const char *subject : {"One", "Two"})
            server.deliver("alice", DovecotFixture::makeMessage("Ann <ann@example.org>", subject, 500));
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));

        TempStore store;
        store.close();
        QProcess mailvane;
        startMailvane(mailvane, store);
        QVERIFY2(mailvane.waitForStarted(10000), qPrintable(mailvane.errorString()));
        // No account yet: the window is shown, and the icon sits in the tray.
        QTRY_VERIFY_WITH_TIMEOUT(viewableWindow(WindowTitle) && iconEmbedded(), 20000);

        // Without a window manager the window opens at the top left, over the tray: out of its way.
        QVERIFY(xdotool({"windowmove", "--sync", QString::number(mainWindow()), "0", "100"}));
        // The icon's menu. The tray may still be laying out its icons: a click beside the icon is
        // tried again.
        bool menu = false;
        for (int attempt = 0; attempt < 5 && !menu; ++attempt) {
            const QPoint at = m_x->screenGeometry(trayIcon()).center();
            QVERIFY(xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"}));
            menu = QTest::qWaitFor([this] { return menuShown(); }, 3000);
        }
        QVERIFY(menu);
        // "Show List" is greyed while the window is shown: Down reaches "Configuration".
        QVERIFY(xdotool({"key", "Down", "Return"}));
        QTRY_VERIFY_WITH_TIMEOUT(viewableWindow(ConfigTitle), 10000);
        const unsigned long config = viewableWindow(ConfigTitle);

        // The Accounts tab, past the account list to "Add".
        QVERIFY(focus(config));
        QVERIFY(xdotool({"key", "ctrl+Tab", "Tab", "Tab", "space"}));
        QTRY_VERIFY_WITH_TIMEOUT(viewableWindow(AddTitle), 10000);
        QVERIFY(focus(viewableWindow(AddTitle)));
        const QStringList boxes{"demo", server.host(), "alice", "wonderland", QString::number(server.port())};
        for (const QString &text : boxes)
            QVERIFY(xdotool({"type", "--delay", "20", text}) && xdotool({"key", "Tab"}));
        // Past the security choice and "Test" to "Add Account".
        QVERIFY(xdotool({"key", "Tab", "Tab"}));
        QElapsedTimer adding;
        adding.start();
        QVERIFY(xdotool({"key", "space"}));
        QTRY_VERIFY_WITH_TIMEOUT(!viewableWindow(AddTitle), 60000);
        const qint64 addMs = adding.elapsed();
        qInfo("Adding the account took %lld ms", addMs);
        QVERIFY2(addMs < 5000, qPrintable(QString("adding took %1 ms").arg(addMs)));

        // The accounts are stored already: Esc leaves the dialog.
        QVERIFY(focus(config));
        QVERIFY(xdotool({"key", "Escape"}));
        QTRY_VERIFY_WITH_TIMEOUT(!viewableWindow(ConfigTitle), 10000);
        QCOMPARE(vault.read("demo").password, QString("wonderland"));

        m_finished.clear();
        bus().disconnect(Service, Path, Interface, "CheckFinished", this, SLOT(onCheckFinished(int)));
        QVERIFY(bus().connect(Service, Path, Interface, "CheckFinished", this, SLOT(onCheckFinished(int))));
        QCOMPARE(call("CheckNow").type(), QDBusMessage::ReplyMessage);
        QTRY_COMPARE_WITH_TIMEOUT(m_finished, QList<int>{2}, 30000);
        QVERIFY(
            bus().disconnect(Service, Path, Interface, "CheckFinished", this, SLOT(onCheckFinished(int))));

        QCOMPARE(call("Quit").type(), QDBusMessage::ReplyMessage);
        QVERIFY(mailvane.waitForFinished(10000));
        QCOMPARE(mailvane.exitCode(), 0);
        const RegistryKey account = store.store()
                                        .root(RegistryStore::Root::LocalMachine)
                                        .subKey("Software\\Corvanta\\Mailvane 1.0\\Accounts\\demo");
        QCOMPARE(account.value("Password")->text(), QString());
        QCOMPARE(account.value("PasswordInKeyring")->data.toInt(), 1);
        QCOMPARE(vault.remove("demo").status, PasswordVault::Status::Ok);
    }
};

MAILVANE_XVFB_TEST_MAIN(TestMailvaneProgram)
#include "tst_mailvane_program.moc"

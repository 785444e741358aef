// The real mailvane program under Xvfb with a tray host, a private session bus and Dovecot: it sits
// in the tray, checks when asked over D-Bus, shows its list to a second start and quits.
#include "ChildProcess.h"
#include "DovecotFixture.h"
#include "TempStore.h"
#include "TrayHost.h"
#include "X11Client.h"
#include "X11HotKeyGrab.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
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
                          10000);
    }

    void startMailvane(QProcess &process, const TempStore &store, bool hotKeyDiagnostics = false)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (hotKeyDiagnostics) {
            // The hot key's diagnostics on stderr: its states and every wake-up it causes.
            env.insert("QT_LOGGING_RULES", "wrenkit.hotkey.debug=true");
            process.setProcessChannelMode(QProcess::SeparateChannels);
        }
        env.insert("DBUS_SESSION_BUS_ADDRESS", m_busAddress);
        env.insert("MAILVANE_REGISTRY", store.path());
        env.insert("XDG_CONFIG_HOME", store.dir());
        env.insert("QT_QPA_PLATFORM", "xcb");
        process.setProcessEnvironment(env);
        if (!hotKeyDiagnostics)
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
    bool iconEmbedded() const
    {
        for (unsigned long window : m_x->windowsOfClass("mailvane")) {
            const unsigned long parent = m_x->parentOf(window);
            if (window != mainWindow() && parent != 0 && parent != m_x->rootWindow() &&
                m_x->isViewable(window))
                return true;
        }
        return false;
    }

    // A store with one account (no check runs: every 999 minutes) and the hot key Alt+F12.
    static void setUpHotKey(TempStore &store)
    {
        POPConfig setup(store.services());
        setup.AddAccount("Idle", "127.0.0.1", "idle", "idle");
        setup.setInterval(999);
        setup.setHotKey(123);
        setup.setModifier(18);
        setup.setHotKeyEnabled(true);
        setup.SaveConfig();
    }
    // The last wake-up count the program's hot key reported, from what it wrote so far.
    static int wakeUps(const QString &log)
    {
        static const QRegularExpression line(QStringLiteral("woken up (\\d+)"));
        int count = 0;
        for (auto it = line.globalMatch(log); it.hasNext();)
            count = it.next().captured(1).toInt();
        return count;
    }
    static bool pressWithXdotool(const QString &keys)
    {
        return QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}) == 0;
    }
    void quit(QProcess &mailvane)
    {
        QCOMPARE(call("Quit").type(), QDBusMessage::ReplyMessage);
        QVERIFY(mailvane.waitForFinished(10000));
        QCOMPARE(mailvane.exitCode(), 0);
        QTRY_VERIFY(m_x->windowsOfClass("mailvane").empty());
    }

private slots:
    void onCheckFinished(int newMessages) { m_finished << newMessages; }

    void initTestCase()
    {
        MAILVANE_REQUIRE_DOVECOT();
        m_x = std::make_unique<X11Client>();
        QVERIFY2(m_x->isUsable(), "no usable X server");
        m_host = std::make_unique<TrayHost>();
        if (!m_host->start()) {
            if (runningInCi())
                QFAIL(qPrintable("trayer did not start: " + m_host->errorString()));
            QSKIP("needs trayer (Debian package trayer)");
        }
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 20000);

        m_busDaemon.setChildProcessModifier([parent = getpid()] { terminateWithParent(parent); });
        m_busDaemon.start(
            QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        QVERIFY2(m_busDaemon.waitForStarted(10000), "dbus-daemon did not start");
        QVERIFY(QTest::qWaitFor([this] { return m_busDaemon.canReadLine(); }, 10000));
        m_busAddress = QString::fromUtf8(m_busDaemon.readLine()).trimmed();
        QVERIFY(QDBusConnection::connectToBus(m_busAddress, QStringLiteral("private-session")).isConnected());
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
        QTRY_VERIFY_WITH_TIMEOUT(call("CheckNow").type() == QDBusMessage::ReplyMessage, 10000);
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

        QCOMPARE(call("Quit").type(), QDBusMessage::ReplyMessage);
        QVERIFY(mailvane.waitForFinished(10000));
        QCOMPARE(mailvane.exitStatus(), QProcess::NormalExit);
        QCOMPARE(mailvane.exitCode(), 0);
        QTRY_VERIFY(m_x->windowsOfClass("mailvane").empty());
        QVERIFY(!bus().interface()->isServiceRegistered(Service));
    }

    // The hot key shows the hidden window. Nothing samples the keyboard: the hot key wakes the
    // program only for the key events themselves, never between two presses.
    void hotKeyShowsTheWindowWithoutSampling()
    {
        TempStore store;
        setUpHotKey(store);
        store.close();
        QProcess mailvane;
        startMailvane(mailvane, store, true);
        QVERIFY2(mailvane.waitForStarted(10000), qPrintable(mailvane.errorString()));
        QString log;
        connect(&mailvane, &QProcess::readyReadStandardError, this,
                [&] { log += QString::fromLocal8Bit(mailvane.readAllStandardError()); });
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Listening"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(iconEmbedded(), 20000);
        QVERIFY(!mainWindow() || !m_x->isViewable(mainWindow()));
        const int idle = wakeUps(log);

        QVERIFY(pressWithXdotool("alt+F12"));
        QTRY_VERIFY_WITH_TIMEOUT(mainWindow() && m_x->isViewable(mainWindow()), 10000);
        QTRY_VERIFY(wakeUps(log) > idle);
        const int afterFirst = wakeUps(log);
        // The events of the key and its modifier going down and up, during the grab.
        constexpr int KeyEvents = 4;
        QVERIFY2(afterFirst - idle <= KeyEvents, qPrintable(log));

        // Another round trip to the program in between, then the second press.
        QTRY_VERIFY_WITH_TIMEOUT(call("ShowList").type() == QDBusMessage::ReplyMessage, 10000);
        QCOMPARE(wakeUps(log), afterFirst);
        QVERIFY(pressWithXdotool("alt+F12"));
        QTRY_VERIFY(wakeUps(log) > afterFirst);
        QVERIFY2(wakeUps(log) - afterFirst <= KeyEvents, qPrintable(log));
        quit(mailvane);
    }

    // Another X client grabbed Alt+F12 first: the program reports the key taken, the other client
    // gets the key, and the program goes on.
    void hotKeyTakenByAnotherClient()
    {
        const auto other = wrenkit::X11HotKeyGrab::open();
        QVERIFY(other);
        other->listen(123, 18);
        QCOMPARE(other->state(), wrenkit::HotKeySource::State::Listening);
        QSignalSpy otherPressed(other.get(), &wrenkit::HotKeySource::pressed);

        TempStore store;
        setUpHotKey(store);
        store.close();
        QProcess mailvane;
        startMailvane(mailvane, store, true);
        QVERIFY2(mailvane.waitForStarted(10000), qPrintable(mailvane.errorString()));
        QString log;
        connect(&mailvane, &QProcess::readyReadStandardError, this,
                [&] { log += QString::fromLocal8Bit(mailvane.readAllStandardError()); });
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Taken"), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(iconEmbedded(), 20000);

        QVERIFY(pressWithXdotool("alt+F12"));
        QVERIFY(otherPressed.wait(10000));
        QVERIFY(!mainWindow() || !m_x->isViewable(mainWindow()));
        quit(mailvane);
    }
};

MAILVANE_XVFB_TEST_MAIN(TestMailvaneProgram)
#include "tst_mailvane_program.moc"

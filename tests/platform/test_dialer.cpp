#include "platform/Dialer.h"

#include <QDBusConnection>
#include <QDBusMetaType>
#include <QMutex>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace std::chrono_literals;

namespace
{

using ProfileSettings = QMap<QString, QVariantMap>;

const QString nmService = QStringLiteral("org.freedesktop.NetworkManager");

// NMActiveConnectionState values.
constexpr uint activating = 1;
constexpr uint activated = 2;
constexpr uint deactivated = 4;

// The calls that reached the fake NetworkManager, written on its thread and read on the test's.
class CallLog
{
public:
    void add(const QString &call)
    {
        QMutexLocker lock(&m_mutex);
        m_calls << call;
    }
    QStringList calls()
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }

private:
    QMutex m_mutex;
    QStringList m_calls;
};

} // namespace

class FakeProfile : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Settings.Connection")
public:
    FakeProfile(const QString &id, QObject *parent) : QObject(parent), m_id(id) {}

public slots:
    QMap<QString, QVariantMap> GetSettings()
    {
        return {{QStringLiteral("connection"), {{QStringLiteral("id"), m_id}}},
                {QStringLiteral("ipv4"), {{QStringLiteral("method"), QStringLiteral("auto")}}}};
    }

private:
    QString m_id;
};

class FakeSettings : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Settings")
public:
    using QObject::QObject;
    QList<QDBusObjectPath> profiles;

public slots:
    QList<QDBusObjectPath> ListConnections() { return profiles; }
};

class FakeActiveConnection : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager.Connection.Active")
    Q_PROPERTY(uint State READ state)
public:
    using QObject::QObject;
    uint state() const { return m_state; }
    void setState(uint state)
    {
        m_state = state;
        emit StateChanged(state, 0);
    }

signals:
    void StateChanged(uint state, uint reason);

private:
    uint m_state = activating;
};

// Answers ActivateConnection with an active connection that reaches finalState shortly after.
class FakeNetworkManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.NetworkManager")
public:
    FakeNetworkManager(QDBusConnection bus, CallLog &log, uint finalState)
        : m_bus(std::move(bus)), m_log(log), m_finalState(finalState)
    {
    }

public slots:
    QDBusObjectPath ActivateConnection(const QDBusObjectPath &profile, const QDBusObjectPath &,
                                       const QDBusObjectPath &)
    {
        m_log.add(QStringLiteral("Activate ") + profile.path());
        const QString path =
            QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/%1").arg(++m_activations);
        auto *active = new FakeActiveConnection(this);
        m_bus.registerObject(path, active,
                             QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSignals);
        if (m_finalState != activating)
            QTimer::singleShot(20ms, active, [active, state = m_finalState] { active->setState(state); });
        return QDBusObjectPath(path);
    }
    void DeactivateConnection(const QDBusObjectPath &active)
    {
        m_log.add(QStringLiteral("Deactivate ") + active.path());
    }

private:
    QDBusConnection m_bus;
    CallLog &m_log;
    uint m_finalState;
    int m_activations = 0;
};

namespace
{

// A private message bus with a fake NetworkManager on it. The fake lives on a thread of its own, because
// the dialer blocks the test's thread while it waits for replies.
class FakeNetworkManagerBus
{
public:
    FakeNetworkManagerBus(const QStringList &profileIds, uint finalState)
    {
        m_daemon.start(
            QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_daemon.waitForStarted(5000))
            return;
        while (!m_daemon.canReadLine() && m_daemon.waitForReadyRead(5000)) {
        }
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (address.isEmpty())
            return;
        m_client = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, clientName));
        m_service = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, serviceName));
        if (!m_client->isConnected() || !m_service->isConnected())
            return;

        qDBusRegisterMetaType<ProfileSettings>();
        auto *nm = new FakeNetworkManager(*m_service, m_log, finalState);
        auto *settings = new FakeSettings(nm);
        m_service->registerObject(QStringLiteral("/org/freedesktop/NetworkManager"), nm,
                                  QDBusConnection::ExportAllSlots);
        m_service->registerObject(QStringLiteral("/org/freedesktop/NetworkManager/Settings"), settings,
                                  QDBusConnection::ExportAllSlots);
        for (int i = 0; i < profileIds.size(); ++i) {
            const QString path = QStringLiteral("/org/freedesktop/NetworkManager/Settings/%1").arg(i + 1);
            m_service->registerObject(path, new FakeProfile(profileIds[i], nm),
                                      QDBusConnection::ExportAllSlots);
            settings->profiles << QDBusObjectPath(path);
        }
        m_nm.reset(nm);
        m_thread.start();
        nm->moveToThread(&m_thread);
        m_valid = m_service->registerService(nmService);
    }

    ~FakeNetworkManagerBus()
    {
        if (m_nm) {
            QMetaObject::invokeMethod(
                m_nm.get(), [this] { m_nm.reset(); }, Qt::BlockingQueuedConnection);
            m_thread.quit();
            m_thread.wait();
        }
        m_client.reset();
        m_service.reset();
        QDBusConnection::disconnectFromBus(clientName);
        QDBusConnection::disconnectFromBus(serviceName);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }

    bool isValid() const { return m_valid; }
    QDBusConnection client() const { return *m_client; }
    QStringList calls() { return m_log.calls(); }

private:
    static inline const QString clientName = QStringLiteral("dialer-test-client");
    static inline const QString serviceName = QStringLiteral("dialer-test-service");

    QProcess m_daemon;
    std::unique_ptr<QDBusConnection> m_client;
    std::unique_ptr<QDBusConnection> m_service;
    QThread m_thread;
    CallLog m_log;
    std::unique_ptr<FakeNetworkManager> m_nm;
    bool m_valid = false;
};

} // namespace

class TestDialer : public QObject
{
    Q_OBJECT

private slots:
    void dialAndHangUp_data();
    void dialAndHangUp();
    void withoutNetworkManager_dialFails();
};

void TestDialer::dialAndHangUp_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint>("finalState");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<QStringList>("calls");

    const QString profile2 = QStringLiteral("/org/freedesktop/NetworkManager/Settings/2");
    const QString active1 = QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/1");
    QTest::newRow("profile activates, hang-up deactivates")
        << "Dial-up" << activated << true << QStringList{"Activate " + profile2, "Deactivate " + active1};
    QTest::newRow("no profile of that name") << "Elsewhere" << activated << false << QStringList{};
    QTest::newRow("empty name") << "" << activated << false << QStringList{};
    QTest::newRow("activation fails")
        << "Dial-up" << deactivated << false << QStringList{"Activate " + profile2};
    QTest::newRow("activation never ends: taken down again")
        << "Dial-up" << activating << false << QStringList{"Activate " + profile2, "Deactivate " + active1};
}

void TestDialer::dialAndHangUp()
{
    QFETCH(QString, name);
    QFETCH(uint, finalState);
    QFETCH(bool, succeeds);
    QFETCH(QStringList, calls);

    FakeNetworkManagerBus bus({QStringLiteral("Office VPN"), QStringLiteral("Dial-up")}, finalState);
    if (!bus.isValid())
        QSKIP("no private D-Bus daemon available");

    NetworkManagerDialer dialer(bus.client(), DialTimeouts{5s, 500ms});
    const quint32 handle = dialer.dial(name);
    QCOMPARE(handle != 0, succeeds);
    dialer.hangUp(handle);
    dialer.hangUp(handle); // a second hang-up of the same handle does nothing
    QCOMPARE(bus.calls(), calls);
}

// With no NetworkManager on the system bus (or no system bus at all) the dial fails without waiting on
// an activation. A profile of this name does not exist where NetworkManager runs either.
void TestDialer::withoutNetworkManager_dialFails()
{
    NetworkManagerDialer dialer(QDBusConnection::systemBus(), DialTimeouts{2s, 2s});
    const quint32 handle = dialer.dial(QStringLiteral("mailvane-test-no-such-profile"));
    QCOMPARE(handle, 0u);
    dialer.hangUp(handle);
}

QTEST_GUILESS_MAIN(TestDialer)
#include "test_dialer.moc"

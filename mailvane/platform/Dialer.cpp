#include "Dialer.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>

namespace
{

const QString nmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString nmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString nmInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString settingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString settingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString profileInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString activeInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");

// NMActiveConnectionState values.
constexpr uint stateActivated = 2;
constexpr uint stateDeactivated = 4;

bool isOk(const QDBusMessage &reply)
{
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
}

} // namespace

// Receives the StateChanged signal of one active connection and ends the wait on a final state.
class ActivationWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ActivationWatcher(QEventLoop &loop) : m_loop(loop) {}
    uint state = 0;

public slots:
    void setState(uint newState, uint /*reason*/ = 0)
    {
        state = newState;
        if (state == stateActivated || state >= stateDeactivated)
            m_loop.quit();
    }

private:
    QEventLoop &m_loop;
};

NetworkManagerDialer::NetworkManagerDialer(QDBusConnection bus, DialTimeouts timeouts)
    : m_bus(std::move(bus)), m_timeouts(timeouts)
{
}

quint32 NetworkManagerDialer::dial(const QString &connectionName)
{
    if (connectionName.isEmpty() || !m_bus.isConnected())
        return 0;
    const QDBusObjectPath profile = findProfile(connectionName);
    if (profile.path().isEmpty())
        return 0;

    const QVariant none = QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")));
    const QDBusMessage reply = call(nmPath, nmInterface, QStringLiteral("ActivateConnection"),
                                    {QVariant::fromValue(profile), none, none}, m_timeouts.activation);
    if (!isOk(reply))
        return 0;
    const auto active = qdbus_cast<QDBusObjectPath>(reply.arguments().constFirst());
    if (active.path().isEmpty() || !waitUntilActivated(active))
        return 0;

    m_active.insert(++m_lastHandle, active);
    return m_lastHandle;
}

void NetworkManagerDialer::hangUp(quint32 handle)
{
    const auto found = m_active.constFind(handle);
    if (found == m_active.constEnd())
        return;
    deactivate(found.value());
    m_active.erase(found);
}

QDBusMessage NetworkManagerDialer::call(const QString &path, const QString &interface, const QString &method,
                                        const QVariantList &arguments,
                                        std::chrono::milliseconds timeout) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(nmService, path, interface, method);
    message.setArguments(arguments);
    return m_bus.call(message, QDBus::Block, int(timeout.count()));
}

QDBusObjectPath NetworkManagerDialer::findProfile(const QString &id) const
{
    const QDBusMessage list =
        call(settingsPath, settingsInterface, QStringLiteral("ListConnections"), {}, m_timeouts.call);
    if (!isOk(list))
        return {};
    const auto profiles = qdbus_cast<QList<QDBusObjectPath>>(list.arguments().constFirst());
    for (const QDBusObjectPath &profile : profiles) {
        const QDBusMessage reply =
            call(profile.path(), profileInterface, QStringLiteral("GetSettings"), {}, m_timeouts.call);
        if (!isOk(reply))
            continue;
        const auto settings = qdbus_cast<QMap<QString, QVariantMap>>(reply.arguments().constFirst());
        if (settings.value(QStringLiteral("connection")).value(QStringLiteral("id")).toString() == id)
            return profile;
    }
    return {};
}

bool NetworkManagerDialer::waitUntilActivated(const QDBusObjectPath &active)
{
    QEventLoop loop;
    ActivationWatcher watcher(loop);
    // Listen first, then read the state, so that a change in between is not missed.
    m_bus.connect(nmService, active.path(), activeInterface, QStringLiteral("StateChanged"), &watcher,
                  SLOT(setState(uint, uint)));
    const QDBusMessage reply =
        call(active.path(), QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
             {activeInterface, QStringLiteral("State")}, m_timeouts.call);
    if (isOk(reply) && watcher.state == 0)
        watcher.setState(qdbus_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toUInt());

    if (watcher.state != stateActivated && watcher.state < stateDeactivated) {
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        bound.start(m_timeouts.activation);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    m_bus.disconnect(nmService, active.path(), activeInterface, QStringLiteral("StateChanged"), &watcher,
                     SLOT(setState(uint, uint)));

    if (watcher.state == stateActivated)
        return true;
    // Do not leave a half-made connection behind.
    if (watcher.state < stateDeactivated)
        deactivate(active);
    return false;
}

void NetworkManagerDialer::deactivate(const QDBusObjectPath &active) const
{
    call(nmPath, nmInterface, QStringLiteral("DeactivateConnection"), {QVariant::fromValue(active)},
         m_timeouts.call);
}

#include "Dialer.moc"

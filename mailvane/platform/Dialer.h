#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QMap>
#include <QString>
#include <QVariantList>

#include <chrono>

class QDBusMessage;

// Brings a named network connection up and takes it down again.
class Dialer
{
public:
    virtual ~Dialer() = default;
    // Brings up the connection named connectionName and returns once it is up. The result is the handle
    // for hangUp, or 0 when the connection could not be brought up.
    virtual quint32 dial(const QString &connectionName) = 0;
    // Takes down a connection that dial brought up. 0 and handles not from dial are ignored.
    virtual void hangUp(quint32 handle) = 0;
};

// Bounds of the NetworkManager calls: lookups and hang-up, and the whole of an activation.
struct DialTimeouts {
    std::chrono::milliseconds call{5000};
    std::chrono::milliseconds activation{30000};
};

// Activates and deactivates NetworkManager connection profiles, chosen by their id, over D-Bus. Without a
// bus or without NetworkManager every dial fails.
class NetworkManagerDialer : public Dialer
{
public:
    explicit NetworkManagerDialer(QDBusConnection bus = QDBusConnection::systemBus(),
                                  DialTimeouts timeouts = {});
    quint32 dial(const QString &connectionName) override;
    void hangUp(quint32 handle) override;

private:
    QDBusMessage call(const QString &path, const QString &interface, const QString &method,
                      const QVariantList &arguments, std::chrono::milliseconds timeout) const;
    QDBusObjectPath findProfile(const QString &id) const;
    bool waitUntilActivated(const QDBusObjectPath &active);
    void deactivate(const QDBusObjectPath &active) const;

    QDBusConnection m_bus;
    DialTimeouts m_timeouts;
    QMap<quint32, QDBusObjectPath> m_active;
    quint32 m_lastHandle = 0;
};

class NullDialer : public Dialer
{
public:
    quint32 dial(const QString &) override { return 0; }
    void hangUp(quint32) override {}
};

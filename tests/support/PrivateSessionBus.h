#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport
{

// A D-Bus message bus of the test's own (dbus-daemon), with no service activation, so nothing of
// the machine's desktop answers on it. Each connection made through it gets its own name.
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    bool isValid() const { return !m_address.isEmpty(); }
    QString error() const { return m_error; }
    QString address() const { return m_address; }
    // A new connection to the bus; closed when the bus object ends.
    QDBusConnection connect(const QString &name);
    // Waits (bounded) until a service owns the name on the bus.
    bool waitForService(const QString &service, int timeoutMs = 10000);

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_error;
    QStringList m_connections;
};

} // namespace testsupport

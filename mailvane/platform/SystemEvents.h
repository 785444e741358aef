#pragma once

#include <QDBusConnection>
#include <QObject>

// The machine going to sleep and waking up again.
class SleepMonitor : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void aboutToSleep();
    void resumed();
};

// systemd-logind's PrepareForSleep(bool) on the system bus (org.freedesktop.login1): true before the
// machine sleeps, false after it woke. Without logind on the bus nothing is ever told. The bus is
// handed in so that tests can use a stand-in on a private one.
class LogindSleepMonitor : public SleepMonitor
{
    Q_OBJECT
public:
    explicit LogindSleepMonitor(QDBusConnection bus = QDBusConnection::systemBus(), QObject *parent = nullptr);

private slots:
    void onPrepareForSleep(bool sleeping);

private:
    QDBusConnection m_bus;
};

// Whether the network is reachable, and when that changes.
class NetworkMonitor : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // The network was reported down, and now it is up again.
    void reachableAgain();
    void unreachable();
};

// QNetworkInformation's reachability (NetworkManager or GLib): a change from "disconnected" to any
// other state is the network coming back. Without a backend nothing is ever told.
class NetworkInfoMonitor : public NetworkMonitor
{
    Q_OBJECT
public:
    explicit NetworkInfoMonitor(QObject *parent = nullptr);

private:
    bool m_down = false;
};

#include "platform/SystemEvents.h"

#include <QNetworkInformation>

LogindSleepMonitor::LogindSleepMonitor(QDBusConnection bus, QObject *parent)
    : SleepMonitor(parent), m_bus(std::move(bus))
{
    if (m_bus.isConnected())
        m_bus.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                      SLOT(onPrepareForSleep(bool)));
}

void LogindSleepMonitor::onPrepareForSleep(bool sleeping)
{
    if (sleeping)
        emit aboutToSleep();
    else
        emit resumed();
}

NetworkInfoMonitor::NetworkInfoMonitor(QObject *parent) : NetworkMonitor(parent)
{
    if (!QNetworkInformation::instance() && !QNetworkInformation::loadDefaultBackend())
        return;
    const QNetworkInformation *info = QNetworkInformation::instance();
    if (!info)
        return;
    using Reachability = QNetworkInformation::Reachability;
    m_down = info->reachability() == Reachability::Disconnected;
    connect(info, &QNetworkInformation::reachabilityChanged, this, [this](Reachability reachability) {
        const bool down = reachability == Reachability::Disconnected;
        // Unknown tells nothing either way: the state stays as it was.
        if (reachability == Reachability::Unknown || down == m_down)
            return;
        m_down = down;
        if (down)
            emit unreachable();
        else
            emit reachableAgain();
    });
}

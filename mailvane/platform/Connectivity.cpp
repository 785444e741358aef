#include "Connectivity.h"

#include <QNetworkInformation>

NetworkInfoConnectivity::NetworkInfoConnectivity()
{
    if (!QNetworkInformation::instance())
        QNetworkInformation::loadDefaultBackend();
}

bool NetworkInfoConnectivity::isConnected()
{
    const QNetworkInformation *info = QNetworkInformation::instance();
    // A local or site network counts: the mail server may well be on it.
    return !info || info->reachability() != QNetworkInformation::Reachability::Disconnected;
}

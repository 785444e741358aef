#pragma once

#include "RegistryStore.h"

#include <QDBusConnection>
#include <QStringList>

// The names (ids) of NetworkManager's connection profiles, read over D-Bus. Empty, without error, when
// there is no bus or no NetworkManager on it. Each call waits at most timeoutMs.
QStringList networkManagerConnectionNames(QDBusConnection bus = QDBusConnection::systemBus(),
                                          int timeoutMs = 3000);

// The names as the values of one key, in the order given.
VirtualKey connectionNamesView(const QStringList &names);

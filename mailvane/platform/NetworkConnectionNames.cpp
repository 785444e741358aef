#include "NetworkConnectionNames.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>

namespace
{
const QString kService = QStringLiteral("org.freedesktop.NetworkManager");

QString profileId(QDBusConnection &bus, const QString &path, int timeoutMs)
{
    const auto call = QDBusMessage::createMethodCall(
        kService, path, QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection"),
        QStringLiteral("GetSettings"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    // a{sa{sv}}: the "id" of the "connection" group.
    const auto settings = reply.arguments().constFirst().value<QDBusArgument>();
    QString id;
    settings.beginMap();
    while (!settings.atEnd()) {
        QString group;
        QVariantMap properties;
        settings.beginMapEntry();
        settings >> group >> properties;
        settings.endMapEntry();
        if (group == QLatin1String("connection"))
            id = properties.value(QStringLiteral("id")).toString();
    }
    settings.endMap();
    return id;
}
} // namespace

QStringList networkManagerConnectionNames(QDBusConnection bus, int timeoutMs)
{
    QStringList names;
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService))
        return names;
    const auto call = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/NetworkManager/Settings"),
        QStringLiteral("org.freedesktop.NetworkManager.Settings"), QStringLiteral("ListConnections"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return names;
    const auto paths = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().constFirst());
    for (const QDBusObjectPath &path : paths) {
        const QString id = profileId(bus, path.path(), timeoutMs);
        if (!id.isEmpty() && !names.contains(id, Qt::CaseInsensitive))
            names.append(id);
    }
    return names;
}

VirtualKey connectionNamesView(const QStringList &names)
{
    VirtualKey addresses{QStringLiteral("Addresses"), {}, {}};
    for (const QString &name : names)
        addresses.values.append(RegValue{name, RegType::String, name});
    return addresses;
}

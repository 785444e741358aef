#include "platform/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace
{
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString DefaultAction = QStringLiteral("default");
} // namespace

FreedesktopNotifier::FreedesktopNotifier(QDBusConnection bus, QObject *parent)
    : DesktopNotifier(parent), m_bus(std::move(bus))
{
    m_bus.connect(Service, Path, Interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(Service, Path, Interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));

    // Services that show the body as plain text would show escaped characters literally.
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<QStringList> reply = *w;
        m_bodyMarkup = reply.isValid() && reply.value().contains(QStringLiteral("body-markup"));
        m_capabilitiesKnown = true;
        w->deleteLater();
        if (m_waiting) {
            const auto [summary, body] = *std::exchange(m_waiting, std::nullopt);
            send(summary, body);
        }
    });
}

void FreedesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (m_capabilitiesKnown)
        send(summary, body);
    else
        m_waiting = {summary, body};
}

void FreedesktopNotifier::send(const QString &summary, const QString &body)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    // Senders look like "Name <address>": with markup on, the address would be taken for a tag.
    const QString shownBody = m_bodyMarkup ? body.toHtmlEscaped() : body;
    const QVariantMap hints{{QStringLiteral("category"), QStringLiteral("email.arrived")},
                            {QStringLiteral("desktop-entry"), QStringLiteral("mailvane")}};
    call << QStringLiteral("Mailvane") << m_lastId << QStringLiteral("mail-unread") << summary << shownBody
         << QStringList{DefaultAction, QStringLiteral("Show the list")} << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isValid())
            m_lastId = reply.value();
        w->deleteLater();
    });
}

void FreedesktopNotifier::onActionInvoked(uint id, const QString &actionKey)
{
    if (id != 0 && id == m_lastId && actionKey == DefaultAction)
        emit activated();
}

void FreedesktopNotifier::onNotificationClosed(uint id, uint)
{
    if (id == m_lastId)
        m_lastId = 0;
}

#include "moc_DesktopNotifier.cpp"

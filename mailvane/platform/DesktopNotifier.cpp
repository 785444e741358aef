#include "platform/DesktopNotifier.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QGuiApplication>
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

    askCapabilities();
}

void FreedesktopNotifier::askCapabilities()
{
    // Services that show the body as plain text would show escaped characters literally; buttons
    // go only to services that show them.
    m_asking = true;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<QStringList> reply = *w;
        m_bodyMarkup = reply.isValid() && reply.value().contains(QStringLiteral("body-markup"));
        m_actions = reply.isValid() && reply.value().contains(QStringLiteral("actions"));
        // A service that was not there yet (started after Mailvane) is asked again next time.
        m_capabilitiesKnown = reply.isValid();
        m_asking = false;
        w->deleteLater();
        if (m_waiting)
            send(*std::exchange(m_waiting, std::nullopt));
    });
}

void FreedesktopNotifier::notify(const QString &summary, const QString &body, const QList<NotificationAction> &actions)
{
    if (m_capabilitiesKnown) {
        send({summary, body, actions});
        return;
    }
    m_waiting = Notification{summary, body, actions};
    if (!m_asking)
        askCapabilities();
}

void FreedesktopNotifier::send(const Notification &notification)
{
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    // Senders look like "Name <address>": with markup on, the address would be taken for a tag.
    const QString shownBody = m_bodyMarkup ? notification.body.toHtmlEscaped() : notification.body;
    QVariantMap hints{{QStringLiteral("category"), QStringLiteral("email.arrived")}};
    // The desktop finds the program's name and icon through its entry.
    const QString desktopEntry =
        qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::desktopFileName() : QString();
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);
    QStringList actions{DefaultAction, QStringLiteral("Show the list")};
    m_actionKeys.clear();
    if (m_actions) {
        for (const NotificationAction &action : notification.actions) {
            actions << action.key << action.label;
            m_actionKeys << action.key;
        }
    }
    call << QStringLiteral("Mailvane") << m_lastId << QStringLiteral("mail-unread") << notification.summary
         << shownBody << actions << hints << -1;
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
    if (id == 0 || id != m_lastId)
        return;
    if (actionKey == DefaultAction)
        emit activated();
    else if (m_actionKeys.contains(actionKey))
        emit actionInvoked(actionKey);
}

void FreedesktopNotifier::onNotificationClosed(uint id, uint)
{
    if (id == m_lastId)
        m_lastId = 0;
}

#include "moc_DesktopNotifier.cpp"

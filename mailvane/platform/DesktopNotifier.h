#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

// A button of a notification: the key it is told by and the text it shows.
struct NotificationAction {
    QString key;
    QString label;
    bool operator==(const NotificationAction &) const = default;
};

// A notification on the desktop: a summary, a body, a default action and buttons.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Shows the notification, in place of the one shown before if that is still up. The buttons
    // show only where the desktop can show buttons.
    virtual void notify(const QString &summary, const QString &body, const QList<NotificationAction> &actions = {}) = 0;

signals:
    // The user chose the notification's default action (usually by clicking it).
    void activated();
    // The user pressed one of the buttons of the notification shown last.
    void actionInvoked(const QString &key);
};

// No notifications at all.
class NullDesktopNotifier : public DesktopNotifier
{
    Q_OBJECT
public:
    using DesktopNotifier::DesktopNotifier;
    void notify(const QString &, const QString &, const QList<NotificationAction> &) override {}
};

// The desktop's notification service, org.freedesktop.Notifications on the session bus. Calls never
// block: without a service on the bus a notification is simply not shown. Buttons are sent only to a
// service that has the "actions" capability. Each notification names the program's desktop entry
// (QGuiApplication::desktopFileName(), read when it is sent) and the category "email.arrived".
class FreedesktopNotifier : public DesktopNotifier
{
    Q_OBJECT
public:
    explicit FreedesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                                 QObject *parent = nullptr);
    void notify(const QString &summary, const QString &body, const QList<NotificationAction> &actions = {}) override;

private slots:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Notification {
        QString summary;
        QString body;
        QList<NotificationAction> actions;
    };
    void askCapabilities();
    void send(const Notification &notification);

    QDBusConnection m_bus;
    uint m_lastId = 0; // of the notification shown last; 0 when none is up
    bool m_capabilitiesKnown = false;
    bool m_asking = false; // GetCapabilities is on its way
    bool m_bodyMarkup = false;
    bool m_actions = false;                 // the service shows buttons
    QStringList m_actionKeys;               // of the notification shown last
    std::optional<Notification> m_waiting;  // until the capabilities are known
};

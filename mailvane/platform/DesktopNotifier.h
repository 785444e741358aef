#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>

// A notification on the desktop: a summary, a body and a default action.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    // Shows the notification, in place of the one shown before if that is still up.
    virtual void notify(const QString &summary, const QString &body) = 0;

signals:
    // The user chose the notification's default action (usually by clicking it).
    void activated();
};

// No notifications at all.
class NullDesktopNotifier : public DesktopNotifier
{
    Q_OBJECT
public:
    using DesktopNotifier::DesktopNotifier;
    void notify(const QString &, const QString &) override {}
};

// The desktop's notification service, org.freedesktop.Notifications on the session bus. Calls never
// block: without a service on the bus a notification is simply not shown.
class FreedesktopNotifier : public DesktopNotifier
{
    Q_OBJECT
public:
    explicit FreedesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                                 QObject *parent = nullptr);
    void notify(const QString &summary, const QString &body) override;

private slots:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    void send(const QString &summary, const QString &body);

    QDBusConnection m_bus;
    uint m_lastId = 0; // of the notification shown last; 0 when none is up
    bool m_capabilitiesKnown = false;
    bool m_bodyMarkup = false;
    std::optional<std::pair<QString, QString>> m_waiting; // summary and body until the capabilities are known
};

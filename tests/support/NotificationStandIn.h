#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

namespace testsupport
{

// The desktop's notification service as far as Mailvane uses it: records every notification it is
// asked to show, answers GetCapabilities as the test sets it, and lets the test press a button.
class NotificationStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    static inline const QString Service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString Path = QStringLiteral("/org/freedesktop/Notifications");

    struct Call {
        QString appName;
        uint replacesId;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        uint id;
    };
    QList<Call> calls;
    QStringList capabilities{QStringLiteral("body"), QStringLiteral("actions")};

    // Offers the service on the bus through this connection.
    bool offerOn(QDBusConnection bus)
    {
        return bus.registerObject(Path, this, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
               bus.registerService(Service);
    }
    // The user presses the button of the notification shown last.
    void invoke(const QString &actionKey) { emit ActionInvoked(calls.isEmpty() ? 0 : calls.last().id, actionKey); }
    // The button keys of a call (every other entry of its actions).
    static QStringList actionKeys(const Call &call)
    {
        QStringList keys;
        for (qsizetype i = 0; i + 1 < call.actions.size(); i += 2)
            keys << call.actions[i];
        return keys;
    }

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &appName, uint replacesId, const QString &, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int)
    {
        const uint id = replacesId != 0 ? replacesId : ++m_lastId;
        calls << Call{appName, replacesId, summary, body, actions, hints, id};
        return id;
    }

signals:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    uint m_lastId = 41;
};

} // namespace testsupport

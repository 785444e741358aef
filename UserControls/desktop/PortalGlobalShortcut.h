#pragma once

#include "HotKeySource.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QString>
#include <QVariantMap>

namespace wrenkit
{

// The hot key as a shortcut of the desktop portal (org.freedesktop.portal.GlobalShortcuts, offered
// by KDE Plasma 5.27 and later and GNOME 48 and later), for Wayland sessions, where no program may
// watch the keyboard. The shortcut is bound once per run with the configured key as the preferred
// trigger; the desktop may let the user choose another, and it answers with Activated. Where the
// portal does not offer the interface the state becomes Unavailable.
class PortalGlobalShortcut : public HotKeySource
{
    Q_OBJECT
public:
    explicit PortalGlobalShortcut(QDBusConnection bus = QDBusConnection::sessionBus(),
                                  QObject *parent = nullptr);

    void listen(int virtualKey, int modifier) override;
    void stop() override;

    // The trigger text of the shortcuts specification ("ALT+F12") for a combination.
    static QString triggerText(int virtualKey, int modifier);

private slots:
    void onSessionCreated(uint response, const QVariantMap &results);
    void onShortcutsBound(uint response, const QVariantMap &results);
    void onActivated(const QDBusMessage &signal);

private:
    void createSession();
    void bindShortcut();
    // Calls a portal method that answers through a Request object; its Response goes to slot.
    void callWithRequest(const QString &method, QList<QVariant> arguments, QVariantMap options,
                         const char *slot);
    QString nextToken();

    QDBusConnection m_bus;
    bool m_offered = false;   // the portal has the interface
    bool m_wanted = false;    // listen() was called, stop() was not
    bool m_creating = false;  // a session or binding is under way
    QString m_session;        // the session's object path, empty until created
    bool m_bound = false;
    QString m_trigger;
    int m_tokens = 0;
};

} // namespace wrenkit

#include "PortalGlobalShortcut.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace
{
const QString Service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString Path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString Interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString ShortcutId = QStringLiteral("show-list");

// One entry of BindShortcuts' a(sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}
} // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace wrenkit
{

PortalGlobalShortcut::PortalGlobalShortcut(QDBusConnection bus, QObject *parent)
    : HotKeySource(parent), m_bus(std::move(bus))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    setState(State::Pending);
    m_bus.connect(Service, Path, Interface, QStringLiteral("Activated"), this, SLOT(onActivated(QDBusMessage)));

    // Whether the portal offers the interface: its "version" property answers only then.
    QDBusMessage get = QDBusMessage::createMethodCall(Service, Path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << Interface << QStringLiteral("version");
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_offered = !w->isError();
        if (!m_offered) {
            setState(State::Unavailable);
            return;
        }
        setState(State::Idle);
        if (m_wanted)
            createSession();
    });
}

QString PortalGlobalShortcut::triggerText(int virtualKey, int modifier)
{
    const QString key = QStringLiteral("F%1").arg(virtualKey - 111);
    switch (modifier) {
    case 16:
        return QStringLiteral("SHIFT+") + key;
    case 17:
        return QStringLiteral("CTRL+") + key;
    case 18:
        return QStringLiteral("ALT+") + key;
    default:
        return key;
    }
}

void PortalGlobalShortcut::listen(int virtualKey, int modifier)
{
    const QString trigger = triggerText(virtualKey, modifier);
    // A refusal (the user declined in the desktop's dialog) is not asked again every minute; another
    // key is asked for once.
    if (state() == State::Failed && trigger == m_trigger)
        return;
    m_trigger = trigger;
    m_wanted = true;
    if (!m_offered)
        return; // the answer to the version question starts the session
    if (m_bound) {
        // Bound once: the desktop keeps the trigger, which the user changes in its own settings.
        setState(State::Listening);
        return;
    }
    if (!m_creating)
        m_session.isEmpty() ? createSession() : bindShortcut();
}

void PortalGlobalShortcut::stop()
{
    m_wanted = false;
    if (m_offered)
        setState(State::Idle);
}

QString PortalGlobalShortcut::nextToken()
{
    return QStringLiteral("mailvane%1").arg(++m_tokens);
}

void PortalGlobalShortcut::callWithRequest(const QString &method, QList<QVariant> arguments, QVariantMap options,
                                           const char *slot)
{
    // The Response may come before the call's reply: listen on the request's path beforehand.
    const QString token = nextToken();
    QString sender = m_bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    const QString requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    m_bus.connect(Service, requestPath, RequestInterface, QStringLiteral("Response"), this, slot);
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, requestPath, slot](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        if (!w->isError())
            return;
        m_bus.disconnect(Service, requestPath, RequestInterface, QStringLiteral("Response"), this, slot);
        m_creating = false;
        setState(State::Failed);
    });
}

void PortalGlobalShortcut::createSession()
{
    m_creating = true;
    setState(State::Pending);
    callWithRequest(QStringLiteral("CreateSession"), {},
                    {{QStringLiteral("session_handle_token"), nextToken()}},
                    SLOT(onSessionCreated(uint, QVariantMap)));
}

void PortalGlobalShortcut::onSessionCreated(uint response, const QVariantMap &results)
{
    m_creating = false;
    m_session = response == 0 ? results.value(QStringLiteral("session_handle")).toString() : QString();
    if (m_session.isEmpty()) {
        setState(State::Failed);
        return;
    }
    if (m_wanted)
        bindShortcut();
}

void PortalGlobalShortcut::bindShortcut()
{
    m_creating = true;
    setState(State::Pending);
    const QList<PortalShortcut> shortcuts{
        {ShortcutId,
         {{QStringLiteral("description"), QStringLiteral("Show the Mailvane message list")},
          {QStringLiteral("preferred_trigger"), m_trigger}}}};
    callWithRequest(QStringLiteral("BindShortcuts"),
                    {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts), QString()},
                    {}, SLOT(onShortcutsBound(uint, QVariantMap)));
}

void PortalGlobalShortcut::onShortcutsBound(uint response, const QVariantMap &)
{
    m_creating = false;
    // 1: the user declined in the desktop's dialog; 2: another failure.
    m_bound = response == 0;
    if (!m_bound)
        setState(State::Failed);
    else
        setState(m_wanted ? State::Listening : State::Idle);
}

void PortalGlobalShortcut::onActivated(const QDBusMessage &signal)
{
    countWakeUp();
    // Activated(o session_handle, s shortcut_id, t timestamp, a{sv} options)
    const QList<QVariant> arguments = signal.arguments();
    if (arguments.size() < 2)
        return;
    const QString session = arguments[0].value<QDBusObjectPath>().path();
    if (m_wanted && m_bound && session == m_session && arguments[1].toString() == ShortcutId)
        emit pressed();
}

} // namespace wrenkit

#include "moc_PortalGlobalShortcut.cpp"

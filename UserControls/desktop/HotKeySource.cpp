#include "HotKeySource.h"

#include "PortalGlobalShortcut.h"

#ifdef WRENKIT_HAVE_X11
#include "X11HotKeyGrab.h"
#endif

#include <QGuiApplication>

namespace wrenkit
{

namespace
{
// In a Wayland session, X clients (Qt's own xcb platform under XWayland included) get key events
// only while one of their windows has the focus, so a grab of the X server cannot serve.
bool isWaylandSession()
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))
        return true;
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) &&
           QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
} // namespace

std::unique_ptr<HotKeySource> createHotKeySource()
{
    if (isWaylandSession()) {
        if (!QDBusConnection::sessionBus().isConnected())
            return nullptr;
        return std::make_unique<PortalGlobalShortcut>();
    }
#ifdef WRENKIT_HAVE_X11
    return X11HotKeyGrab::open();
#else
    return nullptr;
#endif
}

} // namespace wrenkit

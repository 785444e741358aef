#include "KeyStateSource.h"

#ifdef WRENKIT_HAVE_X11
#include "X11KeyStateSource.h"
#endif

#include <QGuiApplication>

namespace wrenkit
{

namespace
{
// In a Wayland session, X clients (Qt's own xcb platform under XWayland included) see the keyboard
// only while one of their windows has the focus, so the X server's key states cannot serve.
[[maybe_unused]] bool isWaylandSession()
{
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))
        return true;
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) &&
           QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
} // namespace

std::unique_ptr<KeyStateSource> createKeyStateSource()
{
#ifdef WRENKIT_HAVE_X11
    if (!isWaylandSession())
        return X11KeyStateSource::open();
#endif
    return nullptr;
}

} // namespace wrenkit

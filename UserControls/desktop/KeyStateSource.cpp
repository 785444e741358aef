#include "KeyStateSource.h"

#ifdef WRENKIT_HAVE_X11
#include "X11KeyStateSource.h"
#endif

#include <QGuiApplication>

namespace wrenkit
{

namespace
{
// An X client that Qt itself runs through xcb sees the X server's keyboard; otherwise a Wayland
// session hides the keyboard from X clients that do not have the focus.
[[maybe_unused]] bool isWaylandSession()
{
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("xcb"))
            return false;
        if (platform.startsWith(QLatin1String("wayland")))
            return true;
    }
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
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

#include "X11Client.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace testsupport
{

namespace
{
// Windows may vanish while a test looks at them; such errors are answers here, not failures.
class ErrorTrap
{
public:
    explicit ErrorTrap(Display *display) : m_display(display)
    {
        XSync(m_display, False);
        s_failed = false;
        m_previous = XSetErrorHandler(&ErrorTrap::record);
    }
    ~ErrorTrap() { XSetErrorHandler(m_previous); }
    bool failed()
    {
        XSync(m_display, False);
        return s_failed;
    }

private:
    static int record(Display *, XErrorEvent *)
    {
        s_failed = true;
        return 0;
    }
    static inline bool s_failed = false;
    Display *m_display;
    XErrorHandler m_previous;
};
} // namespace

X11Client::X11Client() : m_display(XOpenDisplay(nullptr))
{
    int event, error, major, minor;
    m_hasXTest = m_display && XTestQueryExtension(m_display, &event, &error, &major, &minor);
}

X11Client::~X11Client()
{
    if (!m_display)
        return;
    releaseAllKeys();
    XCloseDisplay(m_display);
}

bool X11Client::isUsable() const
{
    return m_hasXTest;
}

bool X11Client::pressKey(const char *keysymName)
{
    const KeySym sym = XStringToKeysym(keysymName);
    const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(m_display, sym);
    if (code == 0)
        return false;
    XTestFakeKeyEvent(m_display, code, True, CurrentTime);
    XSync(m_display, False);
    m_heldKeys.push_back(code);
    return true;
}

void X11Client::releaseAllKeys()
{
    for (const unsigned code : m_heldKeys)
        XTestFakeKeyEvent(m_display, code, False, CurrentTime);
    m_heldKeys.clear();
    XSync(m_display, False);
}

void X11Client::movePointer(QPoint to)
{
    XTestFakeMotionEvent(m_display, -1, to.x(), to.y(), CurrentTime);
    XSync(m_display, False);
}

void X11Client::click(int button, int count)
{
    for (int i = 0; i < count; ++i) {
        XTestFakeButtonEvent(m_display, button, True, CurrentTime);
        XTestFakeButtonEvent(m_display, button, False, CurrentTime);
    }
    XSync(m_display, False);
}

unsigned long X11Client::rootWindow() const
{
    return DefaultRootWindow(m_display);
}

unsigned long X11Client::parentOf(unsigned long window) const
{
    ErrorTrap trap(m_display);
    Window root = 0, parent = 0, *children = nullptr;
    unsigned count = 0;
    const Status ok = XQueryTree(m_display, window, &root, &parent, &children, &count);
    if (children)
        XFree(children);
    return ok && !trap.failed() ? parent : 0;
}

bool X11Client::exists(unsigned long window) const
{
    ErrorTrap trap(m_display);
    XWindowAttributes attributes;
    const Status ok = XGetWindowAttributes(m_display, window, &attributes);
    return ok && !trap.failed();
}

QRect X11Client::screenGeometry(unsigned long window) const
{
    ErrorTrap trap(m_display);
    XWindowAttributes attributes;
    int x = 0, y = 0;
    Window child = 0;
    if (!XGetWindowAttributes(m_display, window, &attributes) ||
        !XTranslateCoordinates(m_display, window, DefaultRootWindow(m_display), 0, 0, &x, &y, &child) ||
        trap.failed())
        return {};
    return QRect(x, y, attributes.width, attributes.height);
}

std::vector<unsigned long> X11Client::windowsOfClass(const char *instance) const
{
    std::vector<unsigned long> found;
    std::vector<Window> pending{DefaultRootWindow(m_display)};
    ErrorTrap trap(m_display);
    while (!pending.empty()) {
        const Window window = pending.back();
        pending.pop_back();
        XClassHint hint{};
        if (XGetClassHint(m_display, window, &hint)) {
            if (hint.res_name && qstrcmp(hint.res_name, instance) == 0)
                found.push_back(window);
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(m_display, window, &root, &parent, &children, &count) && children) {
            pending.insert(pending.end(), children, children + count);
            XFree(children);
        }
    }
    return found;
}

bool X11Client::isViewable(unsigned long window) const
{
    ErrorTrap trap(m_display);
    XWindowAttributes attributes;
    return XGetWindowAttributes(m_display, window, &attributes) && !trap.failed() &&
           attributes.map_state == IsViewable;
}

QString X11Client::windowName(unsigned long window) const
{
    ErrorTrap trap(m_display);
    char *name = nullptr;
    QString result;
    if (XFetchName(m_display, window, &name) && name) {
        result = QString::fromUtf8(name);
        XFree(name);
    }
    return result;
}

} // namespace testsupport

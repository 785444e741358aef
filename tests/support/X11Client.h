#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <vector>

using Display = struct _XDisplay;

namespace testsupport
{

// A connection of the test's own to the X server of DISPLAY: presses keys and buttons through the
// XTEST extension and looks at the window tree. Keys still held are released on destruction.
class X11Client
{
public:
    X11Client();
    X11Client(const X11Client &) = delete;
    X11Client &operator=(const X11Client &) = delete;
    ~X11Client();

    // False when no display opened or the server lacks XTEST.
    bool isUsable() const;

    // Keys by keysym name ("F5", "Control_L"); false when the keymap has no such key.
    bool pressKey(const char *keysymName);
    void releaseAllKeys();
    void movePointer(QPoint to);
    // Presses and releases a button (1 left, 3 right) where the pointer is, count times in a row.
    void click(int button, int count = 1);

    unsigned long rootWindow() const;
    // 0 when the window does not exist (any more).
    unsigned long parentOf(unsigned long window) const;
    bool exists(unsigned long window) const;
    // The window's rectangle in screen coordinates; empty when it does not exist.
    QRect screenGeometry(unsigned long window) const;
    // Every window of the tree whose WM_CLASS instance name is `instance` (another program's too).
    std::vector<unsigned long> windowsOfClass(const char *instance) const;
    // Mapped, with all its ancestors.
    bool isViewable(unsigned long window) const;
    // WM_NAME; empty when it has none.
    QString windowName(unsigned long window) const;

private:
    Display *m_display = nullptr;
    bool m_hasXTest = false;
    std::vector<unsigned> m_heldKeys;
};

} // namespace testsupport

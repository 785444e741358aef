#pragma once

#include "KeyStateSource.h"

using Display = struct _XDisplay;

namespace wrenkit
{

// Reads key states from the X server's keyboard map over a connection of its own, so it needs
// nothing from Qt's platform plugin.
class X11KeyStateSource : public KeyStateSource
{
public:
    // Null when the display (DISPLAY when empty) cannot be opened.
    static std::unique_ptr<X11KeyStateSource> open(const char *displayName = nullptr);
    ~X11KeyStateSource() override;

    bool isKeyDown(int virtualKey) override;

private:
    explicit X11KeyStateSource(Display *display) : m_display(display) {}
    Display *m_display;
};

} // namespace wrenkit

#pragma once

#include "KeyStateSource.h"

#include <map>
#include <vector>

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

    std::vector<bool> keysDown(std::span<const int> virtualKeys) override;

private:
    explicit X11KeyStateSource(Display *display) : m_display(display) {}
    bool isDown(const char (&keymap)[32], int virtualKey);
    Display *m_display;
    // The key codes of each virtual key in the current keyboard mapping, looked up once per
    // mapping: the lookup walks the whole mapping, and the keys are read 40 times a second.
    std::map<int, std::vector<unsigned char>> m_codes;
};

} // namespace wrenkit

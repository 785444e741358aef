#include "X11KeyStateSource.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <span>

namespace wrenkit
{

namespace
{
// The keysyms that stand for a virtual-key code; any of them being down counts.
std::span<const KeySym> keysymsFor(int virtualKey)
{
    static constexpr KeySym functionKeys[] = {XK_F1, XK_F2, XK_F3, XK_F4,  XK_F5,  XK_F6,
                                              XK_F7, XK_F8, XK_F9, XK_F10, XK_F11, XK_F12};
    static constexpr KeySym shift[] = {XK_Shift_L, XK_Shift_R};
    static constexpr KeySym control[] = {XK_Control_L, XK_Control_R};
    // Right Alt is AltGr (ISO_Level3_Shift) in many layouts; it still counts as Alt.
    static constexpr KeySym alt[] = {XK_Alt_L, XK_Alt_R, XK_ISO_Level3_Shift};

    switch (virtualKey) {
    case 16:
        return shift;
    case 17:
        return control;
    case 18:
        return alt;
    default:
        if (virtualKey >= 112 && virtualKey <= 123)
            return std::span(functionKeys).subspan(virtualKey - 112, 1);
        return {};
    }
}
} // namespace

std::unique_ptr<X11KeyStateSource> X11KeyStateSource::open(const char *displayName)
{
    Display *display = XOpenDisplay(displayName);
    if (!display)
        return nullptr;
    return std::unique_ptr<X11KeyStateSource>(new X11KeyStateSource(display));
}

X11KeyStateSource::~X11KeyStateSource()
{
    XCloseDisplay(m_display);
}

std::vector<bool> X11KeyStateSource::keysDown(std::span<const int> virtualKeys)
{
    // One round trip to the server for all the keys.
    char keymap[32];
    XQueryKeymap(m_display, keymap);
    // The server sends every client the changes of the keyboard mapping unasked: read them, so
    // they do not pile up on this connection, and look the keys up in the changed mapping.
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            m_codes.clear();
        }
    }
    std::vector<bool> down;
    down.reserve(virtualKeys.size());
    for (const int virtualKey : virtualKeys)
        down.push_back(isDown(keymap, virtualKey));
    return down;
}

bool X11KeyStateSource::isDown(const char (&keymap)[32], int virtualKey)
{
    auto found = m_codes.find(virtualKey);
    if (found == m_codes.end()) {
        std::vector<unsigned char> codes;
        for (const KeySym sym : keysymsFor(virtualKey))
            if (const KeyCode code = XKeysymToKeycode(m_display, sym))
                codes.push_back(code);
        found = m_codes.emplace(virtualKey, std::move(codes)).first;
    }
    for (const unsigned char code : found->second)
        if (keymap[code / 8] & (1 << (code % 8)))
            return true;
    return false;
}

} // namespace wrenkit

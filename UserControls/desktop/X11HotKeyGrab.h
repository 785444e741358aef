#pragma once

#include "HotKeySource.h"

#include <QSocketNotifier>

#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace wrenkit
{

// The hot key as a passive key grab on the X server's root window, over a connection of its own:
// the server sends a key event when the combination is pressed, whichever window has the focus.
// The grab is made for each lock state (NumLock, CapsLock, both, none), since the server compares
// the lock modifiers too. Only the socket of the connection is watched; no timer runs.
class X11HotKeyGrab : public HotKeySource
{
    Q_OBJECT
public:
    // Null when the display (DISPLAY when null) cannot be opened.
    static std::unique_ptr<X11HotKeyGrab> open(const char *displayName = nullptr);
    ~X11HotKeyGrab() override;

    void listen(int virtualKey, int modifier) override;
    void stop() override;

private:
    X11HotKeyGrab(xcb_connection_t *connection, std::uint32_t root);
    void readEvents();
    void loadKeyboardMapping();
    bool grab();
    void ungrab();
    std::vector<std::uint8_t> keycodesOf(std::uint32_t keysym) const;
    std::uint16_t maskOfKeysym(std::uint32_t keysym) const;

    xcb_connection_t *m_connection;
    std::uint32_t m_root;
    std::unique_ptr<QSocketNotifier> m_notifier;
    // The keyboard mapping: keysyms per keycode from m_minKeycode on, and each modifier's keycodes.
    std::uint8_t m_minKeycode = 0;
    int m_keysymsPerKeycode = 0;
    std::vector<std::uint32_t> m_keysyms;
    int m_keycodesPerModifier = 0;
    std::vector<std::uint8_t> m_modifierKeycodes;

    int m_virtualKey = 0;
    int m_modifier = 0;
    std::vector<std::pair<std::uint8_t, std::uint16_t>> m_grabs; // keycode and modifier mask held
};

} // namespace wrenkit

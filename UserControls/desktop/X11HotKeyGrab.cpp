#include "X11HotKeyGrab.h"

#include <xcb/xcb.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace wrenkit
{

namespace
{
// Keysyms (X11/keysymdef.h).
constexpr std::uint32_t XK_F1 = 0xffbe;
constexpr std::uint32_t XK_Num_Lock = 0xff7f;
constexpr std::uint32_t XK_Alt_L = 0xffe9;
constexpr std::uint32_t XK_Alt_R = 0xffea;
constexpr std::uint32_t XK_ISO_Level3_Shift = 0xfe03;

constexpr std::uint8_t BadAccess = 10;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;
} // namespace

std::unique_ptr<X11HotKeyGrab> X11HotKeyGrab::open(const char *displayName)
{
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(displayName, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11HotKeyGrab>(new X11HotKeyGrab(connection, screens.data->root));
}

X11HotKeyGrab::X11HotKeyGrab(xcb_connection_t *connection, std::uint32_t root)
    : m_connection(connection), m_root(root),
      m_notifier(std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection), QSocketNotifier::Read))
{
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &X11HotKeyGrab::readEvents);
    loadKeyboardMapping();
}

X11HotKeyGrab::~X11HotKeyGrab()
{
    m_notifier.reset();
    xcb_disconnect(m_connection);
}

void X11HotKeyGrab::loadKeyboardMapping()
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    m_minKeycode = setup->min_keycode;
    const auto keyboardCookie =
        xcb_get_keyboard_mapping(m_connection, setup->min_keycode, setup->max_keycode - setup->min_keycode + 1);
    const auto modifierCookie = xcb_get_modifier_mapping(m_connection);
    const XcbReply<xcb_get_keyboard_mapping_reply_t> keyboard(
        xcb_get_keyboard_mapping_reply(m_connection, keyboardCookie, nullptr));
    const XcbReply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(m_connection, modifierCookie, nullptr));
    m_keysyms.clear();
    m_keysymsPerKeycode = 0;
    if (keyboard) {
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
        m_keysyms.assign(syms, syms + xcb_get_keyboard_mapping_keysyms_length(keyboard.get()));
        m_keysymsPerKeycode = keyboard->keysyms_per_keycode;
    }
    m_modifierKeycodes.clear();
    m_keycodesPerModifier = 0;
    if (modifiers) {
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(modifiers.get());
        m_modifierKeycodes.assign(codes, codes + xcb_get_modifier_mapping_keycodes_length(modifiers.get()));
        m_keycodesPerModifier = modifiers->keycodes_per_modifier;
    }
}

std::vector<std::uint8_t> X11HotKeyGrab::keycodesOf(std::uint32_t keysym) const
{
    std::vector<std::uint8_t> codes;
    if (m_keysymsPerKeycode <= 0)
        return codes;
    for (std::size_t i = 0; i < m_keysyms.size(); ++i) {
        if (m_keysyms[i] != keysym)
            continue;
        const auto code = std::uint8_t(m_minKeycode + i / std::size_t(m_keysymsPerKeycode));
        if (codes.empty() || codes.back() != code)
            codes.push_back(code);
    }
    return codes;
}

std::uint16_t X11HotKeyGrab::maskOfKeysym(std::uint32_t keysym) const
{
    const std::vector<std::uint8_t> codes = keycodesOf(keysym);
    for (std::size_t i = 0; i < m_modifierKeycodes.size(); ++i) {
        for (const std::uint8_t code : codes)
            if (code != 0 && m_modifierKeycodes[i] == code)
                return std::uint16_t(1u << (i / std::size_t(m_keycodesPerModifier)));
    }
    return 0;
}

void X11HotKeyGrab::listen(int virtualKey, int modifier)
{
    if (virtualKey == m_virtualKey && modifier == m_modifier && state() == State::Listening)
        return;
    ungrab();
    m_virtualKey = virtualKey;
    m_modifier = modifier;
    grab();
}

void X11HotKeyGrab::stop()
{
    ungrab();
    m_virtualKey = 0;
    m_modifier = 0;
    setState(State::Idle);
}

bool X11HotKeyGrab::grab()
{
    if (xcb_connection_has_error(m_connection)) {
        setState(State::Failed);
        return false;
    }
    if (m_virtualKey < 112 || m_virtualKey > 123) {
        setState(State::Idle);
        return false;
    }
    const std::vector<std::uint8_t> keycodes = keycodesOf(XK_F1 + std::uint32_t(m_virtualKey - 112));
    // Right Alt is AltGr (ISO_Level3_Shift) in many layouts: it counts as Alt too.
    std::vector<std::uint16_t> masks;
    switch (m_modifier) {
    case 16:
        masks = {XCB_MOD_MASK_SHIFT};
        break;
    case 17:
        masks = {XCB_MOD_MASK_CONTROL};
        break;
    case 18:
        for (const std::uint32_t sym : {XK_Alt_L, XK_Alt_R, XK_ISO_Level3_Shift}) {
            const std::uint16_t mask = maskOfKeysym(sym);
            if (mask != 0 && std::find(masks.begin(), masks.end(), mask) == masks.end())
                masks.push_back(mask);
        }
        if (masks.empty())
            masks = {XCB_MOD_MASK_1};
        break;
    default:
        masks = {0};
    }
    std::uint16_t numLock = maskOfKeysym(XK_Num_Lock);
    if (numLock == 0)
        numLock = XCB_MOD_MASK_2;
    const std::uint16_t locks[] = {0, XCB_MOD_MASK_LOCK, numLock, std::uint16_t(XCB_MOD_MASK_LOCK | numLock)};

    std::vector<std::pair<std::pair<std::uint8_t, std::uint16_t>, xcb_void_cookie_t>> requests;
    for (const std::uint8_t keycode : keycodes)
        for (const std::uint16_t mask : masks)
            for (const std::uint16_t lock : locks) {
                const auto modifiers = std::uint16_t(mask | lock);
                requests.push_back({{keycode, modifiers},
                                    xcb_grab_key_checked(m_connection, 1, m_root, modifiers, keycode,
                                                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)});
            }
    bool taken = false;
    bool failed = keycodes.empty();
    for (const auto &[grabbed, cookie] : requests) {
        if (const XcbReply<xcb_generic_error_t> error{xcb_request_check(m_connection, cookie)}) {
            (error->error_code == BadAccess ? taken : failed) = true;
            continue;
        }
        m_grabs.push_back(grabbed);
    }
    if (taken || failed) {
        // Half a grab would work in some lock states only: none at all.
        ungrab();
        setState(taken ? State::Taken : State::Failed);
        return false;
    }
    setState(State::Listening);
    return true;
}

void X11HotKeyGrab::ungrab()
{
    for (const auto &[keycode, modifiers] : m_grabs)
        xcb_ungrab_key(m_connection, keycode, m_root, modifiers);
    m_grabs.clear();
    xcb_flush(m_connection);
}

void X11HotKeyGrab::readEvents()
{
    countWakeUp();
    while (xcb_generic_event_t *raw = xcb_poll_for_event(m_connection)) {
        const XcbReply<xcb_generic_event_t> event(raw);
        switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS:
            // Only the grabbed combination is sent; a held key repeats at the keyboard's rate.
            emit pressed();
            break;
        case XCB_MAPPING_NOTIFY:
            // Another layout: the function key or a modifier may sit on other key codes now.
            loadKeyboardMapping();
            if (!m_grabs.empty()) {
                ungrab();
                grab();
            }
            break;
        default:
            break;
        }
    }
    if (xcb_connection_has_error(m_connection)) {
        m_notifier->setEnabled(false);
        m_grabs.clear();
        setState(State::Failed);
    }
}

} // namespace wrenkit

#include "moc_X11HotKeyGrab.cpp"

#pragma once

#include <memory>

namespace wrenkit
{

// Whether a key is down at this moment, by Windows virtual-key code: 112 to 123 are F1 to F12,
// 16 Shift, 17 Control, 18 Alt (either side). Other codes read as up.
class KeyStateSource
{
public:
    virtual ~KeyStateSource() = default;
    virtual bool isKeyDown(int virtualKey) = 0;
};

// The keyboard of the X server when the session is X11 and a display opens; null on Wayland,
// without a display, or in a build without X11.
std::unique_ptr<KeyStateSource> createKeyStateSource();

} // namespace wrenkit

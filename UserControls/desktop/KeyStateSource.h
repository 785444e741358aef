#pragma once

#include <memory>
#include <span>
#include <vector>

namespace wrenkit
{

// Which keys are down at this moment, by Windows virtual-key code: 112 to 123 are F1 to F12,
// 16 Shift, 17 Control, 18 Alt (either side, AltGr included). Other codes read as up.
class KeyStateSource
{
public:
    virtual ~KeyStateSource() = default;
    // Reads the keyboard once and answers, for each key of virtualKeys in that order, whether it
    // is down: the answers are from one moment.
    virtual std::vector<bool> keysDown(std::span<const int> virtualKeys) = 0;
};

// The keyboard of the X server when the session is X11 and a display opens; null on Wayland,
// without a display, or in a build without X11.
std::unique_ptr<KeyStateSource> createKeyStateSource();

} // namespace wrenkit

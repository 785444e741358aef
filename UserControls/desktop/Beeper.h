#pragma once

#include <memory>

namespace wrenkit
{

// The system beep.
class Beeper
{
public:
    virtual ~Beeper() = default;
    virtual void beep() = 0;
};

// QApplication::beep() when a QApplication exists; silent otherwise.
std::unique_ptr<Beeper> createSystemBeeper();

} // namespace wrenkit

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

// Beeps through QApplication; silent when the program runs without a widgets application.
class ApplicationBeeper : public Beeper
{
public:
    void beep() override;
};

class NullBeeper : public Beeper
{
public:
    void beep() override {}
};

// The beeper of this system: an ApplicationBeeper.
std::unique_ptr<Beeper> createSystemBeeper();

} // namespace wrenkit

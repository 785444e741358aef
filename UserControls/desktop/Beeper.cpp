#include "Beeper.h"

#include <QApplication>

namespace wrenkit
{

namespace
{
class SystemBeeper : public Beeper
{
public:
    void beep() override
    {
        if (qobject_cast<QApplication *>(QCoreApplication::instance()))
            QApplication::beep();
    }
};
} // namespace

std::unique_ptr<Beeper> createSystemBeeper()
{
    return std::make_unique<SystemBeeper>();
}

} // namespace wrenkit

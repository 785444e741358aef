#include "Beeper.h"

#include <QApplication>

namespace wrenkit
{

void ApplicationBeeper::beep()
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::beep();
}

std::unique_ptr<Beeper> createSystemBeeper()
{
    return std::make_unique<ApplicationBeeper>();
}

} // namespace wrenkit

#include "Beeper.h"

#include <QApplication>

void ApplicationBeeper::beep()
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        QApplication::beep();
}

#include "ProcessLauncher.h"

#include <QProcess>

bool SystemProcessLauncher::startDetached(const QString &commandLine)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return false;
    const QString program = arguments.takeFirst();
    return QProcess::startDetached(program, arguments);
}

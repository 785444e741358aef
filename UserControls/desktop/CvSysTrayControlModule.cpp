#include "CvSysTrayControlModule.h"

#include "NullShellNotifyIcon.h"
#include "SystemTrayShell.h"

#include <QApplication>

#include <algorithm>

namespace wrenkit
{

QString trayTipText(const TrayIconData &data)
{
    const auto end = std::find(data.szTip.begin(), data.szTip.end() - 1, '\0');
    return QString::fromLatin1(data.szTip.data(), end - data.szTip.begin());
}

std::unique_ptr<ShellNotifyIcon> createShellNotifyIcon()
{
    // QSystemTrayIcon draws through a widget, so it needs a QApplication.
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        return std::make_unique<SystemTrayShell>();
    return std::make_unique<NullShellNotifyIcon>();
}

} // namespace wrenkit

#include "moc_CvSysTrayControlModule.cpp"

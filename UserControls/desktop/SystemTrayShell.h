#pragma once

#include "CvSysTrayControlModule.h"

#include <QSystemTrayIcon>

#include <map>
#include <utility>

namespace wrenkit
{

// The notification area through QSystemTrayIcon (needs a QApplication). One QSystemTrayIcon per
// (hWnd, uID) identity; adding an identity that is already shown is refused, as the Windows shell does.
//
// QSystemTrayIcon reports activations, not raw button events; they map to codes as follows:
// Trigger (left press) 513, DoubleClick (left) 515, Context (right press) 516. MiddleClick has no
// code. Qt reports no right double-click, so 518 never arrives from this shell.
class SystemTrayShell : public ShellNotifyIcon
{
    Q_OBJECT
public:
    using ShellNotifyIcon::ShellNotifyIcon;
    ~SystemTrayShell() override;

    void notify(TrayShell::Message message, const TrayIconData &data) override;

    // The code for an activation, or 0 for one that has none.
    static int codeFor(QSystemTrayIcon::ActivationReason reason);

private:
    using Identity = std::pair<quintptr, quint32>;
    std::map<Identity, std::unique_ptr<QSystemTrayIcon>> m_icons;
};

} // namespace wrenkit

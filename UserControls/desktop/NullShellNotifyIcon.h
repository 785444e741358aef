#pragma once

#include "CvSysTrayControlModule.h"

namespace wrenkit
{

// Used where there is no notification area: accepts every request and shows nothing.
class NullShellNotifyIcon : public ShellNotifyIcon
{
    Q_OBJECT
public:
    using ShellNotifyIcon::ShellNotifyIcon;
    void notify(TrayShell::Message, const TrayIconData &) override {}
};

} // namespace wrenkit

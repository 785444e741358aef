#include "SystemTrayShell.h"

namespace wrenkit
{

SystemTrayShell::~SystemTrayShell() = default;

void SystemTrayShell::notify(TrayShell::Message message, const TrayIconData &data)
{
    const Identity id{data.hWnd, data.uID};
    if (message == TrayShell::Delete) {
        m_icons.erase(id);
        return;
    }
    if (message == TrayShell::Modify) {
        const auto shown = m_icons.find(id);
        if (shown == m_icons.end())
            return;
        if (data.uFlags & TrayShell::FlagIcon)
            shown->second->setIcon(data.hIcon);
        if (data.uFlags & TrayShell::FlagTip)
            shown->second->setToolTip(trayTipText(data));
        return;
    }
    if (message != TrayShell::Add || m_icons.count(id) != 0)
        return;

    auto icon = std::make_unique<QSystemTrayIcon>();
    if (data.uFlags & TrayShell::FlagIcon)
        icon->setIcon(data.hIcon);
    if (data.uFlags & TrayShell::FlagTip)
        icon->setToolTip(trayTipText(data));
    if (data.uFlags & TrayShell::FlagMessage) {
        connect(icon.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (const int code = codeFor(reason))
                        emit mouseEvent(code);
                });
    }
    icon->show();
    m_icons.emplace(id, std::move(icon));
}

int SystemTrayShell::codeFor(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return TrayShell::LeftDown;
    case QSystemTrayIcon::DoubleClick:
        return TrayShell::LeftDoubleClick;
    case QSystemTrayIcon::Context:
        return TrayShell::RightDown;
    default:
        return 0;
    }
}

} // namespace wrenkit

#include "moc_SystemTrayShell.cpp"

#include "CvSysTrayControl.h"

#include "PropertyBag.h"

#include <algorithm>

namespace wrenkit
{

namespace
{
constexpr quint32 IconId = 1;
const QString ToolTipName = QStringLiteral("ToolTip");
const QString TrayIconName = QStringLiteral("TrayIcon");
} // namespace

CvSysTrayControl::CvSysTrayControl(QObject *parent) : CvSysTrayControl(createShellNotifyIcon(), parent) {}

CvSysTrayControl::CvSysTrayControl(std::unique_ptr<ShellNotifyIcon> shell, QObject *parent)
    : QObject(parent), m_shell(std::move(shell))
{
    connect(m_shell.get(), &ShellNotifyIcon::mouseEvent, this, &CvSysTrayControl::decodeMouseEvent);
}

CvSysTrayControl::~CvSysTrayControl()
{
    RemoveFromTray();
}

void CvSysTrayControl::setToolTip(const QString &toolTip)
{
    m_toolTip = toolTip;
    emit PropertyChanged(ToolTipName);
}

void CvSysTrayControl::setTrayIcon(const QIcon &icon)
{
    m_trayIcon = icon;
    emit PropertyChanged(TrayIconName);
}

void CvSysTrayControl::readProperties(const PropertyBag &bag)
{
    m_toolTip = bag.readProperty(ToolTipName, DefaultToolTip).toString();
    m_trayIcon = bag.readProperty(TrayIconName).value<QIcon>();
}

void CvSysTrayControl::writeProperties(PropertyBag &bag) const
{
    bag.writeProperty(ToolTipName, m_toolTip, DefaultToolTip);
    bag.writeProperty(TrayIconName, m_trayIcon.isNull() ? QVariant() : QVariant::fromValue(m_trayIcon));
}

void CvSysTrayControl::PlaceInTray()
{
    if (!m_trayIcon.isNull())
        m_shell->notify(TrayShell::Add, record());
}

void CvSysTrayControl::UpdateInTray()
{
    if (!m_trayIcon.isNull())
        m_shell->notify(TrayShell::Modify, record());
}

void CvSysTrayControl::RemoveFromTray()
{
    if (!m_trayIcon.isNull())
        m_shell->notify(TrayShell::Delete, record());
}

TrayIconData CvSysTrayControl::record() const
{
    TrayIconData data;
    data.cbSize = TrayShell::RecordSize;
    data.hWnd = reinterpret_cast<quintptr>(this);
    data.uID = IconId;
    data.uFlags = TrayShell::FlagMessage | TrayShell::FlagIcon | TrayShell::FlagTip;
    data.uCallbackMessage = TrayShell::MouseMoveMessage;
    data.hIcon = m_trayIcon;

    // The tip, one NUL, then spaces; whatever passes 64 characters is cut (the NUL included).
    const QByteArray tip = (m_toolTip.toLatin1() + '\0').leftJustified(TrayIconData::TipLength, ' ', true);
    std::copy(tip.begin(), tip.end(), data.szTip.begin());
    return data;
}

void CvSysTrayControl::decodeMouseEvent(int code)
{
    switch (code) {
    case TrayShell::LeftDown:
        emit TrayClick(1);
        break;
    case TrayShell::RightDown:
        emit TrayClick(2);
        break;
    case TrayShell::LeftDoubleClick:
        emit TrayDoubleClick(1);
        break;
    case TrayShell::RightDoubleClick:
        emit TrayDoubleClick(2);
        break;
    default:
        break;
    }
}

} // namespace wrenkit

#include "moc_CvSysTrayControl.cpp"

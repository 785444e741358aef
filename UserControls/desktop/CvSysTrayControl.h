#pragma once

#include "CvSysTrayControlModule.h"

#include <QIcon>
#include <QObject>
#include <QString>

#include <memory>

namespace wrenkit
{

class PropertyBag;

// Shows one icon with a tool tip in the notification area for its host and turns presses and
// double-clicks on it into TrayClick and TrayDoubleClick (button 1 left, 2 right). Changing the
// properties does not touch an icon already shown: remove, assign, place again.
class CvSysTrayControl : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString ToolTip READ ToolTip WRITE setToolTip)
    Q_PROPERTY(QIcon TrayIcon READ TrayIcon WRITE setTrayIcon)

public:
    static inline const QString DefaultToolTip = QStringLiteral("CvSysTrayControl");

    explicit CvSysTrayControl(QObject *parent = nullptr);
    explicit CvSysTrayControl(std::unique_ptr<ShellNotifyIcon> shell, QObject *parent = nullptr);
    ~CvSysTrayControl() override;

    QString ToolTip() const { return m_toolTip; }
    void setToolTip(const QString &toolTip);
    QIcon TrayIcon() const { return m_trayIcon; }
    void setTrayIcon(const QIcon &icon);

    // Design-time state saved with the host: "ToolTip" and "TrayIcon".
    void readProperties(const PropertyBag &bag);
    void writeProperties(PropertyBag &bag) const;

public slots:
    // All three do nothing while TrayIcon is empty.
    void PlaceInTray();
    void RemoveFromTray();
    // Shows the current TrayIcon and ToolTip in the icon already placed, where it stands; an icon
    // that is not shown stays away.
    void UpdateInTray();

signals:
    void TrayClick(short Button);
    void TrayDoubleClick(short Button);
    // A persisted property was assigned.
    void PropertyChanged(const QString &name);

private:
    TrayIconData record() const;
    void decodeMouseEvent(int code);

    std::unique_ptr<ShellNotifyIcon> m_shell;
    QString m_toolTip;
    QIcon m_trayIcon;
};

} // namespace wrenkit

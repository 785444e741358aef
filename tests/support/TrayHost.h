#pragma once

#include <QProcess>
#include <QString>

namespace testsupport
{

// A notification-area host (Debian's trayer) on the current DISPLAY, for tests of tray icons.
// It owns the tray selection once it runs; tests wait for QSystemTrayIcon::isSystemTrayAvailable().
// It ends with the test process, also when that crashes.
class TrayHost
{
public:
    TrayHost() = default;
    TrayHost(const TrayHost &) = delete;
    TrayHost &operator=(const TrayHost &) = delete;
    ~TrayHost();

    bool start();
    QString errorString() const { return m_process.errorString(); }

private:
    QProcess m_process;
};

} // namespace testsupport

#pragma once

// The main window over a temporary store, with recording stand-ins for the system, the notification
// area and the keyboard.
#include "PlatformFakes.h"
#include "TempStore.h"
#include "platform/ProcessLauncher.h"
#include "window/frmMailMain.h"

#include "CvSysTrayControl.h"
#include "HotKeyCtrl.h"
#include "../desktop/HotKeyTestHelpers.h"

#include <QAction>
#include <QDateTime>
#include <QMenu>
#include <QUrl>

#include <functional>
#include <memory>

namespace testsupport
{

// The notification area as a record of what is shown.
class RecordingShell : public wrenkit::ShellNotifyIcon
{
public:
    void notify(wrenkit::TrayShell::Message message, const wrenkit::TrayIconData &data) override
    {
        if (message == wrenkit::TrayShell::Add)
            shown = true;
        else if (message == wrenkit::TrayShell::Delete)
            shown = false;
        else if (message == wrenkit::TrayShell::Modify && shown)
            ++updates;
        if (message != wrenkit::TrayShell::Delete) {
            toolTip = wrenkit::trayTipText(data);
            icon = data.hIcon;
        }
    }
    bool shown = false;
    int updates = 0; // changes to the icon while shown
    QString toolTip; // of the icon shown or changed last
    QIcon icon;
};

struct WindowHarness {
    TempStore temp;
    FakeConnectivity connectivity;
    RecordingDialer dialer;
    RecordingSoundPlayer sound;
    RecordingBeeper beeper;
    RecordingProcessLauncher launcher;
    RecordingShell *shell = nullptr;
    bool trayAvailable = true;
    bool keysAvailable = true;
    int timerIntervalMs = 60000;
    // The wall clock the window sees; the test moves it.
    QDateTime clock = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);
    QList<QUrl> opened;
    std::function<void(const QUrl &)> onOpen; // acts on an opened address (a stand-in browser)
    // Runs in place of the configuration dialog.
    std::function<void(QWidget *)> configDialog;
    std::unique_ptr<frmMailMain> window;

    // Changes the stored settings as the configuration dialog would.
    void configure(const std::function<void(POPConfig &)> &change)
    {
        POPConfig config(temp.services());
        change(config);
        config.SaveConfig();
    }

    void addAccount(const QString &name, bool selected = true)
    {
        POPConfig config(temp.services());
        config.AddAccount(name, QStringLiteral("127.0.0.1"), QStringLiteral("user"),
                          QStringLiteral("secret"));
        if (!selected)
            config.setAcctSel(config.NumberOfAccounts() - 1, false);
    }

    frmMailMain &open()
    {
        auto recordingShell = std::make_unique<RecordingShell>();
        shell = recordingShell.get();
        auto tray = std::make_unique<wrenkit::CvSysTrayControl>(std::move(recordingShell));
        auto hotKey =
            std::make_unique<wrenkit::HotKeyCtrl>(keysAvailable ? std::make_unique<hotkeytest::FakeHotKeySource>() : nullptr,
                                                  std::make_unique<wrenkit::NullBeeper>());
        MainWindowEnvironment env{temp.services(), connectivity, dialer, sound, beeper, temp.prompter,
                                  launcher, [this](const QUrl &url) {
                                      opened << url;
                                      if (onOpen)
                                          onOpen(url);
                                  },
                                  [this] { return trayAvailable; }, std::move(tray), std::move(hotKey),
                                  [this](QWidget *parent) {
                                      if (configDialog)
                                          configDialog(parent);
                                  },
                                  timerIntervalMs};
        env.recheck.clock = [this] { return clock; };
        window = std::make_unique<frmMailMain>(std::move(env));
        return *window;
    }

    QAction *action(const char *name) const
    {
        return window->findChild<QAction *>(QString::fromLatin1(name));
    }
    QMenu *menu(const char *name) const { return window->findChild<QMenu *>(QString::fromLatin1(name)); }
};

} // namespace testsupport

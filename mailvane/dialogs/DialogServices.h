#pragma once

#include "settings/POPConfig.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QDialog;
class QWidget;

namespace wrenkit
{
class HotKeyCtrl;
}

// What the configuration dialog and the account dialogs work with besides the settings: how a file
// is chosen, how a dialog is shown modally, how the manual and links are opened, and whether the hot
// key can work here. Tests hand in their own answers.
struct DialogServices {
    SettingsServices settings;
    // The chosen file's path, or empty when the user cancels.
    std::function<QString(QWidget *parent, const QString &caption, const QString &filter)> chooseFile;
    // Shows the dialog modally and returns its result.
    std::function<int(QDialog &dialog)> runModal;
    // Opens a page of the manual ("page.html#anchor"); false when that fails.
    std::function<bool(const QString &page)> openHelp;
    // Opens a link of the About tab.
    std::function<void(const QUrl &url)> openUrl;
    // Empty when the hot key can work in this session; otherwise why it cannot.
    QString hotKeyProblem;

    // The desktop's ways for everything but the settings: the file dialog, exec(), the manual in the
    // browser, and what the running hot-key control found (null: what this session offers).
    static DialogServices desktop(const SettingsServices &settings, const wrenkit::HotKeyCtrl *hotKey = nullptr);
};

// Why the hot key does not work, or empty when it does: from what the hot-key control found (another
// program holds the key, the desktop refused it, the session offers no way to it); without a control,
// whether this session offers a way at all (not on Wayland without the desktop portal, nor without an
// X display).
QString hotKeyProblem(const wrenkit::HotKeyCtrl *hotKey = nullptr);

// The user's own settings for a window opened without injected services: the settings store of this
// user with the system's mail clients and connections, message boxes over parent, the autostart entry.
class DesktopSettings
{
public:
    explicit DesktopSettings(QWidget *parent);
    ~DesktopSettings();
    DesktopSettings(const DesktopSettings &) = delete;
    DesktopSettings &operator=(const DesktopSettings &) = delete;

    SettingsServices services();
    // The window message boxes are shown over.
    void setPromptParent(QWidget *parent);

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

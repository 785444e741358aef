#include "DialogServices.h"

#include "DialogPrompter.h"
#include "Manual.h"

#include "platform/AutostartEntry.h"
#include "platform/PasswordVault.h"
#include "platform/RegistryStore.h"
#include "platform/SystemViews.h"

#include "HotKeyCtrl.h"
#include "HotKeySource.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>

DialogServices DialogServices::desktop(const SettingsServices &settings, const wrenkit::HotKeyCtrl *hotKey)
{
    return DialogServices{
        settings,
        [](QWidget *parent, const QString &caption, const QString &filter) {
            // The GTK file chooser needs GLib's event loop; without it, Qt's own dialog.
            const QFileDialog::Options options = qEnvironmentVariableIntValue("QT_NO_GLIB")
                                                     ? QFileDialog::DontUseNativeDialog
                                                     : QFileDialog::Options();
            return QFileDialog::getOpenFileName(parent, caption, QString(), filter, nullptr, options);
        },
        [](QDialog &dialog) { return dialog.exec(); },
        [](const QString &page) { return mailvane::openManual(page); },
        [](const QUrl &url) { QDesktopServices::openUrl(url); },
        ::hotKeyProblem(hotKey),
    };
}

QString hotKeyProblem(const wrenkit::HotKeyCtrl *hotKey)
{
    using State = wrenkit::HotKeySource::State;
    const State state = hotKey ? hotKey->state() : wrenkit::createHotKeySource() ? State::Idle : State::Unavailable;
    if (state == State::Taken)
        return QStringLiteral("This key is taken by another program. Choose another key, or end the "
                              "program that uses it.");
    if (state == State::Failed)
        return QStringLiteral("The hot key could not be set up: the desktop refused it.");
    if (state != State::Unavailable)
        return {};
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                         qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
                         QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
    if (wayland)
        return QStringLiteral("The hot key does not work in this session: under Wayland a program cannot "
                              "watch the keyboard while its window is in the background, and this desktop "
                              "offers no global shortcuts to programs. The choices below are kept for an "
                              "X11 session.");
    return QStringLiteral("The hot key does not work in this session: Mailvane cannot read the keyboard "
                          "without an X11 display. The choices below are kept for an X11 session.");
}

struct DesktopSettings::Parts {
    explicit Parts(QWidget *parent) : prompter(parent), store(RegistryStore::defaultPath(), &prompter)
    {
        mountSystemViews(store);
    }
    DialogPrompter prompter;
    RegistryStore store;
    XdgAutostartEntry autostart;
    KeychainVault vault;
};

DesktopSettings::DesktopSettings(QWidget *parent) : m_parts(std::make_unique<Parts>(parent)) {}

DesktopSettings::~DesktopSettings() = default;

SettingsServices DesktopSettings::services()
{
    return {m_parts->store, m_parts->prompter, m_parts->autostart, &m_parts->vault};
}

void DesktopSettings::setPromptParent(QWidget *parent)
{
    m_parts->prompter.setParentWindow(parent);
}

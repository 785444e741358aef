#pragma once

#include "main/ListCommands.h"
#include "main/MessageListModel.h"
#include "main/StatusSink.h"
#include "settings/POPConfig.h"

#include "CvSysTrayControl.h"
#include "HotKeyCtrl.h"

#include <QMainWindow>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QTimer;
class CheckCycle;
class Connectivity;
class DesktopNotifier;
class Dialer;
class ProcessLauncher;
class Prompter;
class SoundPlayer;

namespace wrenkit
{
class BasicPOP;
class Beeper;
} // namespace wrenkit

namespace Ui
{
class frmMailMain;
}

// What the main window works with. The controls left null are created for the running desktop.
struct MainWindowEnvironment {
    SettingsServices settings;
    Connectivity &connectivity;
    Dialer &dialer;
    SoundPlayer &soundPlayer;
    wrenkit::Beeper &beeper;
    Prompter &prompter;
    ProcessLauncher &launcher;
    // Opens the manual's start page; the desktop's browser by default.
    std::function<void(const QUrl &)> openUrl;
    // Whether the desktop offers a notification area; Qt's answer by default.
    std::function<bool()> trayAvailable;
    std::unique_ptr<wrenkit::CvSysTrayControl> tray;
    std::unique_ptr<wrenkit::HotKeyCtrl> hotKey;
    // Runs the configuration dialog modally over the window.
    std::function<void(QWidget *)> runConfigDialog;
    int timerIntervalMs = 60000;
    // The desktop notification of new mail; none when null.
    DesktopNotifier *notifier = nullptr;
};

// The main window: the message list, the toolbar, the status bar, the notification-area icon, the
// hot key and the one-minute timer. The check runs in CheckCycle and the list's commands in
// ListCommands; the window turns gestures and time into calls of those.
class frmMailMain : public QMainWindow, public StatusSink, public ListCommandHost
{
    Q_OBJECT
    Q_PROPERTY(bool ConfigOpen READ ConfigOpen)
    Q_PROPERTY(int TickCount READ TickCount)

public:
    explicit frmMailMain(MainWindowEnvironment env, QWidget *parent = nullptr);
    ~frmMailMain() override;

    POPConfig *Config() const { return m_config.get(); }
    bool ConfigOpen() const { return m_configOpen; }
    int TickCount() const { return m_tickCount; }
    CheckCycle &checkCycle() { return *m_cycle; }
    ListCommands &listCommands() { return *m_commands; }
    MessageListModel &messageList() { return m_list; }
    wrenkit::BasicPOP &bp1() { return *m_bp1; }
    wrenkit::CvSysTrayControl &trayControl() { return *m_tray; }
    wrenkit::HotKeyCtrl &hotKeyControl() { return *m_hotKey; }
    QTimer &timer() { return *m_timer; }

    // StatusSink
    void setPanel(int panel, const QString &text) override;
    QString panel(int panel) const override;
    bool isWindowVisible() const override { return isVisible(); }
    void showWindow() override { show(); }

    // The key of the selected message; empty when none.
    QString selectedKey() const;

    // ListCommandHost
    std::optional<ListedMessage> selectedMessage() const override;
    void ApplyMinStyle() override;
    void OpenConfiguration() override;
    void ShowHelp() override;
    void ExitProgram() override;

public slots:
    void ApplyHotKeySettings();
    // One tick of Timer1: re-arms the hot key and counts minutes towards the next check.
    void Timer1_Timer();
    // "Show List": visible and in front, a minimised window restored.
    void ShowList();
    // A check at once, without questions: without a connection it dials as "Check Anyway?" would.
    void CheckNow();

signals:
    // The program should end now.
    void exitRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();
    // ApplyMinStyle; false when it left the window and the icon as they were.
    bool applyMinStyle();
    void HotKeyPressed();
    void TrayClick();
    void TrayDoubleClick();
    void mnuShow_Click();
    void mnuHelp_Click();
    void setColumnWidths();
    void setupToolbarIcons();
    void setupShortcuts();
    void ensureSelection();
    // After a refill, selects again the message selected before, when rows first..last hold it.
    void reselect(int first, int last);
    // The user's choice of a row: what the list commands act on.
    void selectRow(int row);
    // RtClickMessage at globalPos, on this message (none: the list is empty).
    void popupListMenu(const QPoint &globalPos, const std::optional<ListedMessage> &message);
    std::optional<ListedMessage> messageAt(int row) const;
    bool trayAvailable() const;

    std::unique_ptr<Ui::frmMailMain> ui;
    MainWindowEnvironment m_env;
    QLabel *m_panels[3] = {};
    QTimer *m_timer = nullptr;
    wrenkit::BasicPOP *m_bp1 = nullptr;
    wrenkit::CvSysTrayControl *m_tray = nullptr;
    wrenkit::HotKeyCtrl *m_hotKey = nullptr;
    MessageListModel m_list;
    // The row the user selected; it follows removals and renumbering, and a refill ends it.
    QPersistentModelIndex m_selectedRow;
    // The message selected when a check refilled the list, until it is found again or the user
    // selects another: the commands must not take the first row of the new list for it.
    std::optional<ListedMessage> m_selectedBeforeRefill;
    bool m_autoSelecting = false;
    // The message RtClickMessage was opened on, and its row while the list keeps it (the row's
    // key follows the renumbering after deletions).
    std::optional<ListedMessage> m_menuMessage;
    QPersistentModelIndex m_menuRow;
    std::optional<ListedMessage> menuMessage() const;
    std::unique_ptr<POPConfig> m_config;
    std::unique_ptr<CheckCycle> m_cycle;
    std::unique_ptr<ListCommands> m_commands;

    bool m_configOpen = false;
    qint16 m_tickCount = 0;
    bool m_toldNoTray = false;
    bool m_exiting = false;
};

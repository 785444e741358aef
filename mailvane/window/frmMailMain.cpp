#include "frmMailMain.h"
#include "ui_frmMailMain.h"

#include "Manual.h"
#include "dialogs/DialogServices.h"
#include "dialogs/frmMailvaneConfig.h"
#include "main/CheckCycle.h"
#include "main/ColumnLayout.h"
#include "platform/Prompter.h"

#include "BasicPOP.h"
#include "CvSysTrayControl.h"
#include "HotKeyCtrl.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QShortcut>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTimer>

#include <climits>

namespace
{

// The configuration dialog, shown modally: the one place that names it.
void runConfigurationDialog(QWidget *parent, const SettingsServices &settings)
{
    frmMailvaneConfig dialog(DialogServices::desktop(settings), parent);
    dialog.exec();
}

constexpr int PanelWidthTwips = 5080;
constexpr double InitialColumnTwips[] = {1000, 1500, 500, 1000};
const QString NoTrayText = QStringLiteral("No notification area: Mailvane minimises to the taskbar");

// Toolbar pictures: the desktop's icon theme, else the pictures shipped with the program.
struct ToolbarIcon {
    const char *key;
    const char *themeName;
    const char *fallback;
};
constexpr ToolbarIcon ToolbarIcons[] = {
    {"Check", "mail-send-receive", "check"},
    {"Launch", "internet-mail", "launch"},
    {"Min", "go-down", "min"},
    {"Config", "preferences-system", "config"},
    {"Delete", "edit-delete", "delete"},
    {"Help", "help-contents", "help"},
    {"Cancel", "process-stop", "cancel"},
    {"Exit", "application-exit", "exit"},
};

// Keeps a widget from showing a tool tip: a tool button without one of its own shows its text instead.
class NoToolTip : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::ToolTip; }
};

bool isNormalState(const QWidget &window)
{
    return !(window.windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

} // namespace

frmMailMain::frmMailMain(MainWindowEnvironment env, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::frmMailMain>()), m_env(std::move(env))
{
    ui->setupUi(this);
    setWindowIcon(QIcon(QStringLiteral(":/mailvane/mailvane-64.png")));
    setupToolbarIcons();
    setupShortcuts();
    if (QWidget *cancel = ui->Toolbar1->widgetForAction(ui->Cancel))
        cancel->installEventFilter(new NoToolTip(cancel));

    const int panelWidth = qRound(twips::toPixels(PanelWidthTwips, logicalDpiX()));
    const char *const panelNames[] = {"SelectedClientPanel", "ActivityPanel", "ResultPanel"};
    const char *const panelDescriptions[] = {"Selected client", "Activity", "Result"};
    for (int i = 0; i < 3; ++i) {
        m_panels[i] = new QLabel(this);
        m_panels[i]->setObjectName(QString::fromLatin1(panelNames[i]));
        // No accessible name of its own: a screen reader reads the panel's text as its name and hears
        // each change of it, as with any label. The description says which panel it is.
        m_panels[i]->setAccessibleDescription(QString::fromLatin1(panelDescriptions[i]));
        // 5080 twips each; in a narrower window the three share what there is.
        m_panels[i]->setMaximumWidth(panelWidth);
        m_panels[i]->setMinimumWidth(0);
        m_panels[i]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        ui->StatBar->addWidget(m_panels[i], 1);
    }

    ui->LV->setModel(&m_list);
    ui->LV->header()->setSectionsMovable(false);
    // The columns share the list by the width rule alone, however narrow.
    ui->LV->header()->setMinimumSectionSize(0);
    ui->LV->installEventFilter(this);
    ui->LV->viewport()->installEventFilter(this);
    // What the commands act on is the row the user selected, kept across the refills of a check.
    connect(ui->LV->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) {
                if (!m_autoSelecting && current.isValid())
                    selectRow(current.row());
            });
    connect(&m_list, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        if (m_selectedRow.isValid())
            m_selectedBeforeRefill = messageAt(m_selectedRow.row());
    });
    connect(&m_list, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                reselect(first, last);
                ensureSelection();
            });
    connect(&m_list, &QAbstractItemModel::rowsRemoved, this, &frmMailMain::ensureSelection);

    m_bp1 = new wrenkit::BasicPOP(this);
    m_bp1->setObjectName(QStringLiteral("bp1"));
    m_tray = m_env.tray ? m_env.tray.release() : new wrenkit::CvSysTrayControl();
    m_tray->setParent(this);
    m_tray->setObjectName(QStringLiteral("CvSysTrayControl1"));
    m_tray->setToolTip(QStringLiteral("Mailvane 1.1"));
    m_tray->setTrayIcon(QIcon(QStringLiteral(":/mailvane/mailvane-64.png")));
    m_hotKey = m_env.hotKey ? m_env.hotKey.release() : new wrenkit::HotKeyCtrl();
    m_hotKey->setParent(this);
    m_hotKey->setObjectName(QStringLiteral("HotKeyCtrl1"));

    m_cycle = std::make_unique<CheckCycle>(
        *m_bp1, m_list, *this,
        CheckServices{m_env.connectivity, m_env.dialer, m_env.soundPlayer, m_env.beeper, m_env.prompter,
                      m_env.notifier});
    m_commands =
        std::make_unique<ListCommands>(*m_bp1, m_list, *this, *m_cycle, *this,
                                       ListCommandServices{m_env.beeper, m_env.prompter, m_env.launcher});

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(m_env.timerIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &frmMailMain::Timer1_Timer);

    connect(ui->Toolbar1, &QToolBar::actionTriggered, this,
            [this](QAction *action) { m_commands->ButtonClick(action->objectName()); });
    connect(m_tray, &wrenkit::CvSysTrayControl::TrayClick, this, &frmMailMain::TrayClick);
    connect(m_tray, &wrenkit::CvSysTrayControl::TrayDoubleClick, this, &frmMailMain::TrayDoubleClick);
    connect(m_hotKey, &wrenkit::HotKeyCtrl::HotKeyPressed, this, &frmMailMain::HotKeyPressed,
            Qt::DirectConnection);
    connect(ui->mnuShow, &QAction::triggered, this, &frmMailMain::mnuShow_Click);
    connect(m_cycle.get(), &CheckCycle::showListRequested, this, &frmMailMain::ShowList);
    connect(ui->mnuConfig, &QAction::triggered, this, &frmMailMain::OpenConfiguration);
    connect(ui->mnuCheck, &QAction::triggered, m_cycle.get(), &CheckCycle::RequestCheck);
    connect(ui->mnuHelp, &QAction::triggered, this, &frmMailMain::mnuHelp_Click);
    connect(ui->mnuExit, &QAction::triggered, this, &frmMailMain::ExitProgram);
    // The list menu's items act on the message it was opened on.
    connect(ui->mnuDelMessage, &QAction::triggered, this, [this] {
        if (const std::optional<ListedMessage> chosen = menuMessage())
            m_commands->DeleteChosen(*chosen);
        else
            m_commands->DeleteSelected();
    });
    connect(ui->mnuAddBlock, &QAction::triggered, this, [this] {
        if (const std::optional<ListedMessage> chosen = menuMessage())
            m_commands->BlockChosen(*chosen);
        else
            m_commands->BlockSender();
    });

    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            &frmMailMain::ShowHelp);

    Form_Load();
    m_timer->start();
}

frmMailMain::~frmMailMain()
{
    ui->LV->setModel(nullptr);
}

void frmMailMain::Form_Load()
{
    m_config = std::make_unique<POPConfig>(m_env.settings);
    m_cycle->setConfig(m_config.get());

    const double dpi = ui->LV->logicalDpiX();
    for (int column = 0; column < MessageListModel::ColumnCount; ++column)
        ui->LV->header()->resizeSection(column, qRound(twips::toPixels(InitialColumnTwips[column], dpi)));
    setPanel(2, QStringLiteral("Ready"));

    if (m_config->NumberOfAccounts() > 0) {
        // Where the style leaves the window as it was (a refused warning, an unknown style), it is
        // shown: a window that was never shown could not be reached at all.
        if (!applyMinStyle())
            showNormal();
        return;
    }
    // First start: the window shows where to begin, whatever the minimise style.
    ApplyHotKeySettings();
    if (m_config->MinStyle() == 0 && trayAvailable())
        m_tray->PlaceInTray();
    showNormal();
}

void frmMailMain::setupToolbarIcons()
{
    for (const ToolbarIcon &icon : ToolbarIcons) {
        auto *action = findChild<QAction *>(QString::fromLatin1(icon.key));
        if (!action)
            continue;
        const QIcon fallback(
            QStringLiteral(":/mailvane/toolbar/%1.png").arg(QString::fromLatin1(icon.fallback)));
        action->setIcon(QIcon::fromTheme(QString::fromLatin1(icon.themeName), fallback));
    }
}

void frmMailMain::setPanel(int panel, const QString &text)
{
    if (panel >= 1 && panel <= 3)
        m_panels[panel - 1]->setText(text);
}

QString frmMailMain::panel(int panel) const
{
    return panel >= 1 && panel <= 3 ? m_panels[panel - 1]->text() : QString();
}

QString frmMailMain::selectedKey() const
{
    const std::optional<ListedMessage> selected = selectedMessage();
    return selected ? selected->key : QString();
}

std::optional<ListedMessage> frmMailMain::selectedMessage() const
{
    if (m_list.rowCount() == 0)
        return std::nullopt;
    if (m_selectedRow.isValid())
        return messageAt(m_selectedRow.row());
    if (m_selectedBeforeRefill)
        return m_selectedBeforeRefill;
    const QModelIndex current = ui->LV->currentIndex();
    return messageAt(current.isValid() ? current.row() : 0);
}

std::optional<ListedMessage> frmMailMain::messageAt(int row) const
{
    if (row < 0 || row >= m_list.rowCount())
        return std::nullopt;
    return m_list.messages().at(row);
}

void frmMailMain::selectRow(int row)
{
    m_selectedRow = m_list.index(row, 0);
    m_selectedBeforeRefill.reset();
}

void frmMailMain::reselect(int first, int last)
{
    if (!m_selectedBeforeRefill)
        return;
    for (int row = first; row <= last; ++row) {
        if (MessageListModel::isSameMessage(m_list.messages().at(row), *m_selectedBeforeRefill)) {
            ui->LV->setCurrentIndex(m_list.index(row, 0));
            selectRow(row);
            return;
        }
    }
}

void frmMailMain::ensureSelection()
{
    if (m_list.rowCount() == 0 || ui->LV->currentIndex().isValid())
        return;
    // The first row is highlighted, but while the message selected before a refill may still be
    // listed, it does not count as the user's choice.
    m_autoSelecting = m_selectedBeforeRefill.has_value();
    ui->LV->setCurrentIndex(m_list.index(0, 0));
    m_autoSelecting = false;
}

void frmMailMain::popupListMenu(const QPoint &globalPos, const std::optional<ListedMessage> &message)
{
    const bool any = m_list.rowCount() > 0;
    ui->mnuDelMessage->setEnabled(any);
    ui->mnuAddBlock->setEnabled(any);
    m_menuMessage = message;
    // While the list keeps the row, the row is what the menu acts on: its key follows the
    // renumbering after deletions. A refill ends it, and the message as it was is looked for.
    const std::optional<ListedMessage> selected =
        m_selectedRow.isValid() ? messageAt(m_selectedRow.row()) : std::nullopt;
    m_menuRow =
        selected && message && selected->key == message->key ? m_selectedRow : QPersistentModelIndex();
    ui->RtClickMessage->popup(globalPos);
}

std::optional<ListedMessage> frmMailMain::menuMessage() const
{
    return m_menuRow.isValid() ? messageAt(m_menuRow.row()) : m_menuMessage;
}

void frmMailMain::setupShortcuts()
{
    // The toolbar's commands from the keyboard; F1 (Help) is the window's own shortcut.
    const struct {
        const char *key;
        QList<QKeySequence> sequences;
    } shortcuts[] = {
        {"Check", {QKeySequence(Qt::CTRL | Qt::Key_R), QKeySequence(Qt::Key_F5)}},
        {"Launch", {QKeySequence(Qt::CTRL | Qt::Key_L)}},
        {"Cancel", {QKeySequence(Qt::Key_Escape)}},
        {"Exit", {QKeySequence(Qt::CTRL | Qt::Key_Q)}},
    };
    for (const auto &shortcut : shortcuts) {
        if (auto *action = findChild<QAction *>(QString::fromLatin1(shortcut.key)))
            action->setShortcuts(shortcut.sequences);
    }
}

bool frmMailMain::trayAvailable() const
{
    return m_env.trayAvailable ? m_env.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
}

void frmMailMain::paintEvent(QPaintEvent *event)
{
    if (m_config)
        setPanel(1, QStringLiteral("Selected Client: ") + m_config->SelectedClient());
    QMainWindow::paintEvent(event);
}

void frmMailMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    // The layout places the list between toolbar and status bar; the columns follow its width,
    // also while the window is minimised.
    setColumnWidths();
}

void frmMailMain::setColumnWidths()
{
    const double dpi = ui->LV->logicalDpiX();
    const auto widths = columnWidths(twips::fromPixels(ui->LV->width(), dpi));
    for (int column = 0; column < MessageListModel::ColumnCount; ++column)
        ui->LV->header()->resizeSection(column, qRound(twips::toPixels(widths[column], dpi)));
}

void frmMailMain::closeEvent(QCloseEvent *event)
{
    ExitProgram();
    event->accept();
}

bool frmMailMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->LV && event->type() == QEvent::Resize) {
        setColumnWidths();
    } else if (watched == ui->LV->viewport() && event->type() == QEvent::MouseButtonPress) {
        const bool any = m_list.rowCount() > 0;
        ui->mnuDelMessage->setEnabled(any);
        ui->mnuAddBlock->setEnabled(any);
        const auto *mouse = static_cast<QMouseEvent *>(event);
        // The row under the pointer is the user's choice (the view selects it right after this).
        if (const QModelIndex at = ui->LV->indexAt(mouse->position().toPoint()); at.isValid())
            selectRow(at.row());
        if (mouse->button() == Qt::RightButton)
            popupListMenu(mouse->globalPosition().toPoint(), selectedMessage());
    } else if (watched == ui->LV && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool menuKey = key->key() == Qt::Key_Menu ||
                             (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier);
        if (menuKey) {
            const QModelIndex current = ui->LV->currentIndex();
            const QRect row = current.isValid() ? ui->LV->visualRect(current) : QRect();
            popupListMenu(ui->LV->viewport()->mapToGlobal(row.isValid() ? row.bottomLeft() : QPoint()),
                          selectedMessage());
            return true;
        }
        if (key->key() == Qt::Key_Delete && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            m_commands->DeleteSelected();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMailMain::ApplyHotKeySettings()
{
    if (!m_config)
        return;
    m_hotKey->setInterval(25);
    m_hotKey->setHotKey(m_config->HotKey());
    m_hotKey->setModifier(m_config->Modifier());
    m_hotKey->setEnabled(m_config->HotKeyEnabled());
}

void frmMailMain::ApplyMinStyle()
{
    applyMinStyle();
}

bool frmMailMain::applyMinStyle()
{
    if (!m_config)
        return false;
    ApplyHotKeySettings();
    int style = m_config->MinStyle();
    // Without a notification area the icon could never bring the window back.
    if (style == 0 && !trayAvailable()) {
        style = 1;
        if (!m_toldNoTray)
            setPanel(2, NoTrayText);
        m_toldNoTray = true;
    }
    switch (style) {
    case 0:
        m_tray->PlaceInTray();
        hide();
        return true;
    case 1:
        m_tray->RemoveFromTray();
        showMinimized();
        return true;
    case 2:
        if (!m_hotKey->Enabled() || !m_hotKey->isAvailable()) {
            if (!m_env.prompter.confirm(QStringLiteral("Mailvane"),
                                        QStringLiteral("Hot Key not enabled! Are you\r\n"
                                                       "sure you want to hide Mailvane?")))
                return false;
        }
        m_tray->RemoveFromTray();
        hide();
        return true;
    default:
        return false;
    }
}

void frmMailMain::Timer1_Timer()
{
    ApplyHotKeySettings();
    if (!m_config || m_config->NumberOfAccounts() == 0)
        return;
    if (m_tickCount < SHRT_MAX)
        ++m_tickCount;
    if (m_tickCount >= m_config->Interval() && !m_cycle->Busy()) {
        // A timer-driven check never asks: without a connection it runs only when allowed to dial.
        if (m_config->Check() && (m_cycle->Connected() || m_config->Connect()))
            m_cycle->CheckMail();
        m_tickCount = 1;
    }
}

void frmMailMain::HotKeyPressed()
{
    if (!m_configOpen)
        showNormal();
}

void frmMailMain::TrayClick()
{
    ui->mnuConfig->setEnabled(!m_configOpen);
    ui->mnuExit->setEnabled(!m_configOpen);
    ui->mnuShow->setEnabled(!(isVisible() && isNormalState(*this)));
    ui->mnuCheck->setEnabled(true);
    ui->mnuHelp->setEnabled(true);
    ui->mnuTrayPop->popup(QCursor::pos());
}

void frmMailMain::TrayDoubleClick()
{
    if (m_configOpen)
        return;
    showNormal();
    raise();
    activateWindow();
}

void frmMailMain::mnuShow_Click()
{
    show();
    raise();
    activateWindow();
}

void frmMailMain::ShowList()
{
    if (m_exiting)
        return;
    if (windowState() & Qt::WindowMinimized)
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void frmMailMain::CheckNow()
{
    QTimer::singleShot(0, this, [this] {
        if (!m_exiting)
            m_cycle->CheckMail();
    });
}

void frmMailMain::OpenConfiguration()
{
    m_configOpen = true;
    if (m_env.runConfigDialog)
        m_env.runConfigDialog(this);
    else
        runConfigurationDialog(this, m_env.settings);
    m_configOpen = false;
    if (m_exiting)
        return;
    m_config = std::make_unique<POPConfig>(m_env.settings);
    m_cycle->setConfig(m_config.get());
    ApplyHotKeySettings();
}

void frmMailMain::mnuHelp_Click()
{
    showNormal();
    ShowHelp();
}

void frmMailMain::ShowHelp()
{
    const QUrl url = manual::indexUrl();
    if (url.isEmpty()) {
        setPanel(3, QStringLiteral("The manual was not found"));
        return;
    }
    if (m_env.openUrl)
        m_env.openUrl(url);
    else if (!QDesktopServices::openUrl(url))
        setPanel(3, QStringLiteral("Could not open the manual"));
}

void frmMailMain::ExitProgram()
{
    if (m_exiting)
        return;
    m_exiting = true;
    m_timer->stop();
    m_hotKey->setEnabled(false);
    m_tray->RemoveFromTray();
    hide();
    // A check or deletion in progress is dropped: its connection closes and it finds no settings.
    m_cycle->setConfig(nullptr);
    m_config.reset();
    m_commands->Cancel();
    emit exitRequested();
}

#include "moc_frmMailMain.cpp"

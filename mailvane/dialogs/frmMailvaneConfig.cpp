#include "frmMailvaneConfig.h"

#include "frmAccEdit.h"
#include "frmAddAcc.h"
#include "ui_frmMailvaneConfig.h"

#include "Manual.h"
#include "Version.h"
#include "platform/Prompter.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QShortcut>
#include <QTimer>

#include <vector>

namespace
{
const QString kNoSoundFile = QStringLiteral("<None Selected>");
const QString kTimeoutMessage = QStringLiteral("Timeout must be 10 - 60 seconds");

// The manual's section for each tab, in tab order.
const char *const kTabAnchors[] = {"general", "accounts", "action",  "options",
                                   "hotkey",  "about",    "blocked", "filters"};

// Notification settings hold a check box's state as 0 clear, 1 checked, 2 greyed.
Qt::CheckState toCheckState(int stored)
{
    switch (stored) {
    case 1:
        return Qt::Checked;
    case 2:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

int storedState(const QCheckBox *box)
{
    switch (box->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

template <typename... Buttons> QButtonGroup *makeGroup(QObject *parent, Buttons *...buttons)
{
    auto *group = new QButtonGroup(parent);
    int id = 0;
    (group->addButton(buttons, id++), ...);
    return group;
}

void checkById(QButtonGroup *group, int id)
{
    if (QAbstractButton *button = group->button(id))
        button->setChecked(true);
}
} // namespace

frmMailvaneConfig::frmMailvaneConfig(QWidget *parent)
    : frmMailvaneConfig(std::make_unique<DesktopSettings>(parent), nullptr, parent)
{
}

frmMailvaneConfig::frmMailvaneConfig(const DialogServices &services, QWidget *parent)
    : frmMailvaneConfig(nullptr, &services, parent)
{
}

frmMailvaneConfig::frmMailvaneConfig(std::unique_ptr<DesktopSettings> desktop, const DialogServices *services,
                                     QWidget *parent)
    : QDialog(parent), m_desktop(std::move(desktop)),
      m_services(services ? *services : DialogServices::desktop(m_desktop->services())),
      m_ui(std::make_unique<Ui::frmMailvaneConfig>())
{
    m_ui->setupUi(this);
    if (m_desktop)
        m_desktop->setPromptParent(this);
    Ui::frmMailvaneConfig &ui = *m_ui;
    m_conn = makeGroup(this, ui.optConn_0, ui.optConn_1);
    m_check = makeGroup(this, ui.optCheck_0, ui.optCheck_1);
    m_min = makeGroup(this, ui.optMin_0, ui.optMin_1, ui.optMin_2);
    m_hotKey = makeGroup(this, ui.optHotKey_0, ui.optHotKey_1, ui.optHotKey_2, ui.optHotKey_3, ui.optHotKey_4,
                         ui.optHotKey_5, ui.optHotKey_6, ui.optHotKey_7, ui.optHotKey_8, ui.optHotKey_9,
                         ui.optHotKey_10, ui.optHotKey_11);
    m_modifier = new QButtonGroup(this);
    m_modifier->addButton(ui.optModNone, 0);
    m_modifier->addButton(ui.optModShft, 16);
    m_modifier->addButton(ui.optModCtrl, 17);
    m_modifier->addButton(ui.optModAlt, 18);

    ui.lblHotKeyProblem->setText(m_services.hotKeyProblem);
    ui.lblHotKeyProblem->setVisible(!m_services.hotKeyProblem.isEmpty());
    setUpAboutTab();
    ui.txtTimeout->installEventFilter(this);
    connectHandlers();

    m_config = std::make_unique<POPConfig>(m_services.settings);
    GetConf();
    UpdateSoundFileBox();
}

frmMailvaneConfig::~frmMailvaneConfig() = default;

void frmMailvaneConfig::connectHandlers()
{
    Ui::frmMailvaneConfig &ui = *m_ui;
    const auto chosen = [this](QButtonGroup *group, void (frmMailvaneConfig::*handler)(int)) {
        connect(group, &QButtonGroup::idToggled, this, [this, handler](int id, bool checked) {
            if (checked)
                (this->*handler)(id);
        });
    };
    chosen(m_check, &frmMailvaneConfig::checkChosen);
    chosen(m_conn, &frmMailvaneConfig::connChosen);
    chosen(m_min, &frmMailvaneConfig::minStyleChosen);
    chosen(m_hotKey, &frmMailvaneConfig::hotKeyChosen);
    chosen(m_modifier, &frmMailvaneConfig::modifierChosen);

    connect(ui.chkHangUp, &QCheckBox::stateChanged, this, &frmMailvaneConfig::hangUpChanged);
    connect(ui.cmbConn, &QComboBox::currentIndexChanged, this, &frmMailvaneConfig::connectionChosen);
    connect(ui.txtInterval, &QSpinBox::valueChanged, this, &frmMailvaneConfig::intervalChanged);
    connect(ui.chkNotBeep, &QCheckBox::stateChanged, this, &frmMailvaneConfig::beepChanged);
    connect(ui.chkNotPlay, &QCheckBox::stateChanged, this, &frmMailvaneConfig::playChanged);
    connect(ui.chkNotShow, &QCheckBox::stateChanged, this, &frmMailvaneConfig::showChanged);
    connect(ui.chkNotPopup, &QCheckBox::stateChanged, this, &frmMailvaneConfig::popupChanged);
    connect(ui.chkNotNewOnly, &QCheckBox::stateChanged, this, &frmMailvaneConfig::newOnlyChanged);
    connect(ui.chkNotNone, &QCheckBox::stateChanged, this, &frmMailvaneConfig::noNotificationChanged);
    connect(ui.txtSoundFile, &QLineEdit::textChanged, this, &frmMailvaneConfig::soundFileChanged);
    connect(ui.cmdSndBrs, &QPushButton::clicked, this, &frmMailvaneConfig::browseSoundFile);
    connect(ui.chkStartup, &QCheckBox::stateChanged, this, &frmMailvaneConfig::startupChanged);
    connect(ui.chkKeyring, &QCheckBox::stateChanged, this, &frmMailvaneConfig::keyringChanged);
    connect(ui.cmbClient, &QComboBox::currentIndexChanged, this, &frmMailvaneConfig::clientChosen);
    connect(ui.txtTimeout, &QSpinBox::valueChanged, this, &frmMailvaneConfig::timeoutChanged);
    connect(ui.chkHKEnabled, &QCheckBox::stateChanged, this, &frmMailvaneConfig::hotKeyEnabledChanged);
    for (QCheckBox *box : {ui.chkBlankFrom, ui.chkBlankSubject, ui.chkZeroLength, ui.chkOverSize})
        connect(box, &QCheckBox::stateChanged, this, &frmMailvaneConfig::filtersChanged);
    connect(ui.txtMaxSize, &QSpinBox::valueChanged, this, &frmMailvaneConfig::filtersChanged);

    connect(ui.lstAccounts, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        const int row = m_ui->lstAccounts->row(item);
        if (row >= 0 && row < m_config->NumberOfAccounts())
            m_config->setAcctSel(row, item->checkState() == Qt::Checked);
    });
    connect(ui.cmdAccAdd, &QPushButton::clicked, this, &frmMailvaneConfig::addAccount);
    connect(ui.cmdAccEdit, &QPushButton::clicked, this, &frmMailvaneConfig::editAccount);
    connect(ui.cmdAccDel, &QPushButton::clicked, this, &frmMailvaneConfig::deleteAccount);
    connect(ui.cmdAddBlk, &QPushButton::clicked, this, &frmMailvaneConfig::addBlocked);
    connect(ui.cmdRemBlk, &QPushButton::clicked, this, &frmMailvaneConfig::removeBlocked);
    connect(ui.cmdDone, &QPushButton::clicked, this, &frmMailvaneConfig::doneClicked);
    // Leaving the Program Options tab leaves the time-out box too.
    connect(ui.SSTab1, &QTabWidget::currentChanged, this, [this](int index) {
        if (index != m_ui->SSTab1->indexOf(m_ui->tabOptions) && !timeoutTextValid())
            checkTimeoutSoon();
    });
    connect(ui.cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui.cmdHelp, &QPushButton::clicked, this, &frmMailvaneConfig::help);
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this,
            &frmMailvaneConfig::help);
}

void frmMailvaneConfig::setUpAboutTab()
{
    Ui::frmMailvaneConfig &ui = *m_ui;
    ui.lblProduct->setText(mailvane::productName());
    QFont font = ui.lblProduct->font();
    font.setFamilies({QStringLiteral("Arial Black"), QStringLiteral("DejaVu Sans")});
    font.setWeight(QFont::Black);
    font.setPointSizeF(font.pointSizeF() * 1.6);
    ui.lblProduct->setFont(font);
    const QIcon icon = QApplication::windowIcon();
    if (!icon.isNull())
        ui.imgIcon->setPixmap(icon.pixmap(48, 48));
    ui.lblManual->setText(QStringLiteral("<a href=\"manual\">The Mailvane manual</a>"));
    connect(ui.lblManual, &QLabel::linkActivated, this, [this] {
        const QString page = mailvane::manualUrl(QStringLiteral("index.html")).isValid()
                                 ? QStringLiteral("index.html")
                                 : QStringLiteral("configuration.html");
        if (!m_services.openHelp(page))
            m_services.settings.prompter.message(QStringLiteral("Help"),
                                                 QStringLiteral("The manual could not be opened."));
    });
    const QString homepage = QStringLiteral(MAILVANE_HOMEPAGE_URL);
    ui.lblWeb->setText(QStringLiteral("<a href=\"%1\">%1</a>").arg(homepage.toHtmlEscaped()));
    ui.lblOrVisit->setVisible(!homepage.isEmpty());
    ui.lblWeb->setVisible(!homepage.isEmpty());
    ui.lblInclude->setVisible(!homepage.isEmpty());
    connect(ui.lblWeb, &QLabel::linkActivated, this,
            [this](const QString &link) { m_services.openUrl(QUrl(link)); });
}

void frmMailvaneConfig::GetConf()
{
    Ui::frmMailvaneConfig &ui = *m_ui;
    POPConfig &c = *m_config;
    // Filled without signals; writeControls then runs the handlers once, in this same order.
    std::vector<QSignalBlocker> quiet;
    for (QObject *o : std::initializer_list<QObject *>{m_conn,           m_check,         m_min,
                                                       m_hotKey,         m_modifier,      ui.cmbConn,
                                                       ui.chkHangUp,     ui.txtInterval,  ui.chkNotBeep,
                                                       ui.chkNotPlay,    ui.chkNotShow,   ui.chkNotNone,
                                                       ui.txtTimeout,    ui.chkHKEnabled, ui.txtSoundFile,
                                                       ui.lstAccounts,   ui.chkStartup,   ui.cmbClient,
                                                       ui.lstBlocked,    ui.chkBlankFrom, ui.chkBlankSubject,
                                                       ui.chkZeroLength, ui.chkOverSize,  ui.txtMaxSize,
                                                       ui.chkNotPopup,   ui.chkKeyring,   ui.chkNotNewOnly})
        quiet.emplace_back(o);
    for (QAbstractButton *b : m_conn->buttons() + m_check->buttons() + m_min->buttons() +
                                  m_hotKey->buttons() + m_modifier->buttons())
        quiet.emplace_back(b);

    // Stored values outside a control's range are shown at the nearest end of it.
    ui.txtInterval->setValue(c.Interval());
    checkById(m_check, c.Check() ? 0 : 1);
    checkById(m_conn, c.Connect() ? 1 : 0);
    ui.chkHangUp->setEnabled(c.Connect());
    ui.chkHangUp->setChecked(c.HangUpWhenDone);
    ui.chkNotBeep->setCheckState(toCheckState(c.Beep()));
    ui.chkNotPlay->setCheckState(toCheckState(c.Play()));
    ui.chkNotShow->setCheckState(toCheckState(c.ShowList()));
    ui.chkNotNone->setCheckState(toCheckState(c.NoNotify()));
    ui.chkNotPopup->setChecked(c.Popup() == 1);
    ui.chkNotNewOnly->setChecked(c.NotifyNewOnly());
    ui.txtTimeout->setValue(c.Timeout());
    checkById(m_hotKey, qBound(112, int(c.HotKey()), 123) - 112);
    const int modifier = c.Modifier();
    checkById(m_modifier, modifier == 16 || modifier == 17 || modifier == 18 ? modifier : 0);
    ui.chkHKEnabled->setChecked(c.HotKeyEnabled());
    ui.txtSoundFile->setText(c.SoundFile().isEmpty() ? kNoSoundFile : c.SoundFile());
    checkById(m_min, qBound(0, int(c.MinStyle()), 2));
    ui.chkStartup->setChecked(c.LoadOnStartup());
    ui.chkKeyring->setChecked(c.UseKeyring());
    // Without a keyring the passwords can only stay in the settings; moving them back stays possible.
    ui.chkKeyring->setEnabled(c.UseKeyring() || c.KeyringAvailable());

    fillAccounts();

    // Every installed client stays in the list. No entry is current when the stored one is not installed.
    ui.cmbClient->clear();
    int client = -1;
    for (int i = 0; i < c.NumberOfClients(); ++i) {
        ui.cmbClient->addItem(c.ClientName(i));
        if (c.ClientName(i) == c.SelectedClient())
            client = i;
    }
    ui.cmbClient->setCurrentIndex(client);

    fillBlocked();

    ui.cmbConn->clear();
    int connection = -1;
    for (int i = 1; i <= c.NumberOfConnections(); ++i) {
        const QString name = c.ConnectionNames(i).toString();
        ui.cmbConn->insertItem(i - 1, name);
        if (name == c.ConnectionToUse)
            connection = i - 1;
    }
    ui.cmbConn->setCurrentIndex(connection);

    ui.chkBlankFrom->setChecked(c.BlockBlankFrom);
    ui.chkBlankSubject->setChecked(c.BlockBlankSubject);
    ui.chkZeroLength->setChecked(c.BlockZeroLength);
    ui.chkOverSize->setChecked(c.BlockOverSize);
    ui.txtMaxSize->setValue(c.MaxMessageSize());

    quiet.clear();
    writeControls();
}

void frmMailvaneConfig::writeControls()
{
    intervalChanged();
    checkChosen(m_check->checkedId());
    connChosen(m_conn->checkedId());
    hangUpChanged();
    beepChanged();
    playChanged();
    showChanged();
    popupChanged();
    newOnlyChanged();
    noNotificationChanged();
    timeoutChanged();
    hotKeyChosen(m_hotKey->checkedId());
    modifierChosen(m_modifier->checkedId());
    hotKeyEnabledChanged();
    soundFileChanged();
    minStyleChosen(m_min->checkedId());
    startupChanged();
    keyringChanged();
    clientChosen();
    connectionChosen();
    filtersChanged();
}

void frmMailvaneConfig::UpdateSoundFileBox()
{
    m_ui->txtSoundFile->setEnabled(m_ui->chkNotPlay->checkState() == Qt::Checked);
}

void frmMailvaneConfig::EnableHotKeyChoices(bool enabled)
{
    for (QAbstractButton *b : m_hotKey->buttons() + m_modifier->buttons())
        b->setEnabled(enabled);
}

void frmMailvaneConfig::checkChosen(int k)
{
    if (k >= 0)
        m_config->setCheck(k == 0);
}

void frmMailvaneConfig::connChosen(int k)
{
    if (k < 0)
        return;
    m_config->setConnect(k != 0);
    m_ui->chkHangUp->setEnabled(k == 1);
}

void frmMailvaneConfig::hangUpChanged()
{
    const Qt::CheckState state = m_ui->chkHangUp->checkState();
    if (state != Qt::PartiallyChecked)
        m_config->HangUpWhenDone = state == Qt::Checked;
}

void frmMailvaneConfig::connectionChosen()
{
    if (m_ui->cmbConn->currentIndex() >= 0)
        m_config->ConnectionToUse = m_ui->cmbConn->currentText();
}

void frmMailvaneConfig::intervalChanged()
{
    m_config->setInterval(m_ui->txtInterval->value());
}

void frmMailvaneConfig::beepChanged()
{
    m_config->setBeep(storedState(m_ui->chkNotBeep));
}

void frmMailvaneConfig::playChanged()
{
    UpdateSoundFileBox();
    m_config->setPlay(storedState(m_ui->chkNotPlay));
}

void frmMailvaneConfig::showChanged()
{
    m_config->setShowList(storedState(m_ui->chkNotShow));
}

void frmMailvaneConfig::popupChanged()
{
    m_config->setPopup(m_ui->chkNotPopup->isChecked() ? 1 : 0);
}

void frmMailvaneConfig::newOnlyChanged()
{
    m_config->setNotifyNewOnly(m_ui->chkNotNewOnly->isChecked());
}

void frmMailvaneConfig::noNotificationChanged()
{
    Ui::frmMailvaneConfig &ui = *m_ui;
    // The other three keep their states; they are only greyed out.
    const bool none = ui.chkNotNone->checkState() == Qt::Checked;
    ui.chkNotBeep->setEnabled(!none);
    ui.chkNotPlay->setEnabled(!none);
    UpdateSoundFileBox();
    ui.chkNotShow->setEnabled(!none);
    ui.chkNotPopup->setEnabled(!none);
    ui.chkNotNewOnly->setEnabled(!none);
    m_config->setNoNotify(storedState(ui.chkNotNone));
    m_config->setBeep(storedState(ui.chkNotBeep));
    m_config->setPlay(storedState(ui.chkNotPlay));
    m_config->setShowList(storedState(ui.chkNotShow));
}

void frmMailvaneConfig::soundFileChanged()
{
    m_config->setSoundFile(m_ui->txtSoundFile->text());
}

void frmMailvaneConfig::minStyleChosen(int k)
{
    if (k >= 0)
        m_config->setMinStyle(k);
}

void frmMailvaneConfig::startupChanged()
{
    m_config->setLoadOnStartup(m_ui->chkStartup->checkState() == Qt::Checked);
}

void frmMailvaneConfig::keyringChanged()
{
    m_config->setUseKeyring(m_ui->chkKeyring->isChecked());
}

void frmMailvaneConfig::clientChosen()
{
    if (m_ui->cmbClient->currentIndex() >= 0)
        m_config->setSelectedClient(m_ui->cmbClient->currentText());
}

void frmMailvaneConfig::timeoutChanged()
{
    m_config->setTimeout(m_ui->txtTimeout->value());
}

void frmMailvaneConfig::hotKeyEnabledChanged()
{
    const Qt::CheckState state = m_ui->chkHKEnabled->checkState();
    if (state == Qt::PartiallyChecked)
        return;
    m_config->setHotKeyEnabled(state == Qt::Checked);
    EnableHotKeyChoices(state == Qt::Checked);
}

void frmMailvaneConfig::hotKeyChosen(int k)
{
    if (k >= 0)
        m_config->setHotKey(112 + k);
}

void frmMailvaneConfig::modifierChosen(int modifier)
{
    if (modifier >= 0)
        m_config->setModifier(modifier);
}

void frmMailvaneConfig::filtersChanged()
{
    Ui::frmMailvaneConfig &ui = *m_ui;
    m_config->BlockBlankFrom = ui.chkBlankFrom->isChecked();
    m_config->BlockBlankSubject = ui.chkBlankSubject->isChecked();
    m_config->BlockZeroLength = ui.chkZeroLength->isChecked();
    m_config->BlockOverSize = ui.chkOverSize->isChecked();
    m_config->setMaxMessageSize(ui.txtMaxSize->value());
}

void frmMailvaneConfig::browseSoundFile()
{
    const QString file = m_services.chooseFile(this, QStringLiteral("Sound file"),
                                               QStringLiteral("Sound files (.wav) (*.wav)"));
    if (file.isEmpty())
        return;
    if (!file.endsWith(QLatin1String(".wav"), Qt::CaseSensitive)) {
        m_services.settings.prompter.message(QStringLiteral("Invalid File"),
                                             QStringLiteral("Must be a .wav file!"));
        return;
    }
    m_ui->txtSoundFile->setText(file);
}

void frmMailvaneConfig::fillAccounts()
{
    const QSignalBlocker quiet(m_ui->lstAccounts);
    m_ui->lstAccounts->clear();
    for (int i = 0; i < m_config->NumberOfAccounts(); ++i) {
        auto *item = new QListWidgetItem(m_config->AccountName(i), m_ui->lstAccounts);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(m_config->AcctSel(i) ? Qt::Checked : Qt::Unchecked);
    }
}

void frmMailvaneConfig::accountsChanged()
{
    fillAccounts();
    // The store change reloaded the settings object; what the other tabs show, saved or not, is
    // what Done must save.
    writeControls();
}

void frmMailvaneConfig::reloadAndShow(const QString &currentAccount)
{
    // The account dialogs store through settings objects of their own: a fresh one reads the accounts.
    m_config = std::make_unique<POPConfig>(m_services.settings);
    accountsChanged();
    const QList<QListWidgetItem *> found = m_ui->lstAccounts->findItems(currentAccount, Qt::MatchFixedString);
    if (!currentAccount.isEmpty() && !found.isEmpty())
        m_ui->lstAccounts->setCurrentItem(found.first());
}

void frmMailvaneConfig::addAccount()
{
    frmAddAcc dialog(m_services, this);
    const bool added = m_services.runModal(dialog) == QDialog::Accepted;
    reloadAndShow(added ? dialog.accountName() : QString());
}

void frmMailvaneConfig::editAccount()
{
    frmAccEdit dialog(m_services, this);
    dialog.setAccIndex(m_ui->lstAccounts->currentRow());
    const bool edited = m_services.runModal(dialog) == QDialog::Accepted;
    reloadAndShow(edited ? dialog.accountName() : QString());
}

void frmMailvaneConfig::deleteAccount()
{
    const QListWidgetItem *item = m_ui->lstAccounts->currentItem();
    if (!item)
        return;
    m_config->DeleteAccount(item->text());
    accountsChanged();
}

void frmMailvaneConfig::fillBlocked()
{
    m_ui->lstBlocked->clear();
    for (int i = 0; i < m_config->NumberOfBlocked(); ++i)
        m_ui->lstBlocked->addItem(m_config->BlockedSender(i));
}

void frmMailvaneConfig::addBlocked()
{
    const std::optional<QString> answer = m_services.settings.prompter.input(
        QStringLiteral("Add block"), QStringLiteral("Enter username or address to block"), QString());
    if (!answer || answer->isEmpty())
        return;
    m_config->AddBlockedSender(*answer);
    fillBlocked();
    // The store change reloaded the settings object; what the dialog shows is what Done must save.
    writeControls();
}

void frmMailvaneConfig::removeBlocked()
{
    const QList<QListWidgetItem *> selected = m_ui->lstBlocked->selectedItems();
    if (selected.isEmpty())
        return;
    m_config->RemoveBlockedSender(selected.first()->text());
    fillBlocked();
    writeControls();
}

bool frmMailvaneConfig::timeoutTextValid() const
{
    return m_ui->txtTimeout->hasAcceptableInput();
}

void frmMailvaneConfig::warnTimeout()
{
    m_tellingTimeout = true;
    m_services.settings.prompter.message(QStringLiteral("Invalid value"), kTimeoutMessage);
    m_tellingTimeout = false;
}

void frmMailvaneConfig::returnToTimeout()
{
    m_ui->SSTab1->setCurrentWidget(m_ui->tabOptions);
    m_ui->txtTimeout->setFocus(Qt::OtherFocusReason);
}

void frmMailvaneConfig::checkTimeoutSoon()
{
    // Once the focus or tab change is over; a tab change and a focus change may both ask for it.
    if (m_timeoutCheckPending)
        return;
    m_timeoutCheckPending = true;
    QTimer::singleShot(0, this, [this] {
        m_timeoutCheckPending = false;
        if (timeoutTextValid())
            return;
        warnTimeout();
        returnToTimeout();
    });
}

void frmMailvaneConfig::doneClicked()
{
    if (!timeoutTextValid()) {
        warnTimeout();
        returnToTimeout();
        return;
    }
    m_config->SaveConfig();
    accept();
}

bool frmMailvaneConfig::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_ui->txtTimeout)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        // Enter presses Done, which tells the user; the spin box would otherwise undo the text first.
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && !timeoutTextValid()) {
            doneClicked();
            return true;
        }
        return false;
    }
    // Hidden by a change of tab: the spin box would put its last value back; the text stays as typed
    // for the tab change's check.
    if (event->type() == QEvent::Hide && !timeoutTextValid())
        return true;
    if (event->type() != QEvent::FocusOut || timeoutTextValid())
        return false;
    // While our own message box has the focus, the text stays as typed.
    if (m_tellingTimeout)
        return true;
    switch (static_cast<QFocusEvent *>(event)->reason()) {
    case Qt::PopupFocusReason: // the box's context menu
        return true;
    case Qt::ActiveWindowFocusReason:
        // Left without moving to another control: back to the current value, and the user is told.
        QTimer::singleShot(0, this, [this] {
            m_ui->txtTimeout->setValue(m_config->Timeout());
            warnTimeout();
        });
        return false;
    default:
        break;
    }
    // Moving to another control of the dialog. A click on Done or Cancel sees to it itself; anywhere
    // else the user is told and the focus comes back, with the text as typed.
    const QWidget *next = QApplication::focusWidget();
    if (static_cast<QFocusEvent *>(event)->reason() == Qt::MouseFocusReason) {
        if (next == m_ui->cmdCancel)
            return false;
        if (next == m_ui->cmdDone)
            return true;
    }
    checkTimeoutSoon();
    return true;
}

void frmMailvaneConfig::help()
{
    const int tab = qBound(0, m_ui->SSTab1->currentIndex(), int(std::size(kTabAnchors)) - 1);
    const QString page = QStringLiteral("configuration.html#") + QLatin1String(kTabAnchors[tab]);
    if (!m_services.openHelp(page))
        m_services.settings.prompter.message(QStringLiteral("Help"),
                                             QStringLiteral("The manual could not be opened."));
}

#include "DialogHarness.h"

#include "dialogs/DialogServices.h"
#include "dialogs/frmMailvaneConfig.h"
#include "../desktop/HotKeyTestHelpers.h"
#include "Beeper.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>

using testsupport::child;
using testsupport::DialogHarness;

namespace
{
const QString kSettings = QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0");
const QString kTimeoutMessage = QStringLiteral("Invalid value: Timeout must be 10 - 60 seconds");

RegistryKey settingsKey(DialogHarness &h)
{
    POPConfig(h.temp.services()); // writes the defaults on first use
    return h.temp.store().open(kSettings);
}

void storeNumber(DialogHarness &h, const QString &name, qint32 value)
{
    settingsKey(h).overwriteValue(name, value);
}

void addClients(DialogHarness &h, const QStringList &names)
{
    const RegistryKey mail =
        h.temp.store().open("HKEY_LOCAL_MACHINE\\Software").addSubKey("Clients").addSubKey("Mail");
    for (const QString &name : names)
        mail.addSubKey(name);
}

void addConnections(DialogHarness &h, const QStringList &names)
{
    const RegistryKey addresses =
        h.temp.store().open("HKEY_CURRENT_USER").addSubKey("RemoteAccess").addSubKey("Addresses");
    for (const QString &name : names)
        addresses.addValue(name, QString());
}

QStringList items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QStringList items(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

// The dialog shown and active, so that focus moves as it does for the user.
void showActive(QDialog &dialog)
{
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
}

void typeInto(QWidget *box, const QString &text)
{
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(box, Qt::Key_Delete);
    else
        QTest::keyClicks(box, text);
}
} // namespace

class TestConfigDialog : public QObject
{
    Q_OBJECT

private slots:
    void formHasItsControls();
    void getConfShowsTheStore();
    void emptySoundFileShowsNoneSelected();
    void modifier_data();
    void modifier();
    void outOfRangeValuesShownInRange_data();
    void outOfRangeValuesShownInRange();
    void handlersWrite_data();
    void handlersWrite();
    void listChoicesWrite();
    void hotKeyChoicesFollowTheCheckBox();
    void noNotificationGreysTheOthers();
    void keyringBoxNeedsAKeyring();
    void connectionChoiceGreysHangUp();
    void intervalTexts();
    void timeoutRefused_data();
    void timeoutRefused();
    void timeoutLeftWithoutValidation();
    void doneSavesScalarsAndFilters();
    void cancelKeepsListsDropsScalars();
    void accountButtonsKeepTheOtherTabs_data();
    void accountButtonsKeepTheOtherTabs();
    void editedAccountComesBackCheckedAndCurrent();
    void editRenameOntoExistingChangesNothing();
    void deleteAccount();
    void blockedSenders();
    void browse_data();
    void browse();
    void helpAndHotKeyLine();
    void ownStoreWithoutServices();
    void hotKeyProblemFollowsTheControl_data();
    void hotKeyProblemFollowsTheControl();
};

void TestConfigDialog::formHasItsControls()
{
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Mailvane - Configuration"));
    const auto *tabs = child<QTabWidget>(dialog, "SSTab1");
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    QCOMPARE(titles, (QStringList{"General", "Accounts", "Action", "Program Options", "Hot Key", "About",
                                  "Blocked Senders", "Misc Filters"}));
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(child<QPushButton>(dialog, "cmdDone")->isDefault());
    for (int k = 0; k < 12; ++k)
        QCOMPARE(child<QRadioButton>(dialog, QStringLiteral("optHotKey_%1").arg(k))->text(),
                 QStringLiteral("F%1").arg(k + 1));
    QCOMPARE(child<QCheckBox>(dialog, "chkBlankFrom")->text(),
             QStringLiteral("Block Messages With Blank \"From\" Line"));
    QCOMPARE(child<QSpinBox>(dialog, "txtTimeout")->accessibleName(),
             QStringLiteral("POP Timeout (seconds)"));
    QCOMPARE(child<QLabel>(dialog, "lblProduct")->text(), QStringLiteral("Mailvane 1.0"));
}

void TestConfigDialog::getConfShowsTheStore()
{
    DialogHarness h;
    addClients(h, {"Claws", "Mutt", "Thunderbird"});
    addConnections(h, {"Home DSL", "Mobile"});
    h.addAccount("home");
    h.addAccount("work");
    {
        auto c = h.stored();
        c->setAcctSel(0, false);
        c->AddBlockedSender("spam@example.com");
        c->AddBlockedSender("Bob");
        c->setInterval(25);
        c->setCheck(false);
        c->setConnect(true);
        c->HangUpWhenDone = true;
        c->setBeep(1);
        c->setPlay(0);
        c->setShowList(0);
        c->setNoNotify(0);
        c->setTimeout(45);
        c->setHotKey(115);
        c->setModifier(17);
        c->setHotKeyEnabled(true);
        c->setSoundFile("/sounds/new.wav");
        c->setMinStyle(1);
        c->setLoadOnStartup(true);
        c->setSelectedClient("Thunderbird"); // the last entry stays in the list
        c->ConnectionToUse = "Mobile";
        c->BlockBlankFrom = true;
        c->BlockBlankSubject = true;
        c->BlockZeroLength = false;
        c->BlockOverSize = true;
        c->setMaxMessageSize(500);
        c->setNotifyNewOnly(true);
        c->SaveConfig();
    }
    frmMailvaneConfig d(h.services());
    QCOMPARE(child<QSpinBox>(d, "txtInterval")->value(), 25);
    QVERIFY(child<QRadioButton>(d, "optCheck_1")->isChecked());
    QVERIFY(child<QRadioButton>(d, "optConn_1")->isChecked());
    QVERIFY(child<QCheckBox>(d, "chkHangUp")->isChecked());
    QVERIFY(child<QCheckBox>(d, "chkHangUp")->isEnabled());
    QVERIFY(child<QCheckBox>(d, "chkNotBeep")->isChecked());
    QVERIFY(!child<QCheckBox>(d, "chkNotPlay")->isChecked());
    QVERIFY(!child<QCheckBox>(d, "chkNotShow")->isChecked());
    QVERIFY(!child<QCheckBox>(d, "chkNotNone")->isChecked());
    QVERIFY(child<QCheckBox>(d, "chkNotNewOnly")->isChecked());
    QCOMPARE(child<QLineEdit>(d, "txtSoundFile")->text(), QStringLiteral("/sounds/new.wav"));
    QVERIFY(!child<QLineEdit>(d, "txtSoundFile")->isEnabled()); // Play Sound is off
    QCOMPARE(child<QSpinBox>(d, "txtTimeout")->value(), 45);
    QVERIFY(child<QRadioButton>(d, "optHotKey_3")->isChecked());
    QVERIFY(child<QRadioButton>(d, "optModCtrl")->isChecked());
    QVERIFY(child<QCheckBox>(d, "chkHKEnabled")->isChecked());
    QVERIFY(child<QRadioButton>(d, "optMin_1")->isChecked());
    QVERIFY(child<QCheckBox>(d, "chkStartup")->isChecked());
    auto *accounts = child<QListWidget>(d, "lstAccounts");
    QCOMPARE(items(accounts), (QStringList{"home", "work"}));
    QCOMPARE(accounts->item(0)->checkState(), Qt::Unchecked);
    QCOMPARE(accounts->item(1)->checkState(), Qt::Checked);
    QCOMPARE(items(child<QComboBox>(d, "cmbClient")), (QStringList{"Claws", "Mutt", "Thunderbird"}));
    QCOMPARE(child<QComboBox>(d, "cmbClient")->currentText(), QStringLiteral("Thunderbird"));
    QCOMPARE(items(child<QListWidget>(d, "lstBlocked")), (QStringList{"spam@example.com", "Bob"}));
    QCOMPARE(items(child<QComboBox>(d, "cmbConn")), (QStringList{"Home DSL", "Mobile"}));
    QCOMPARE(child<QComboBox>(d, "cmbConn")->currentText(), QStringLiteral("Mobile"));
    QVERIFY(child<QCheckBox>(d, "chkBlankFrom")->isChecked());
    QVERIFY(child<QCheckBox>(d, "chkBlankSubject")->isChecked());
    QVERIFY(!child<QCheckBox>(d, "chkZeroLength")->isChecked());
    QVERIFY(child<QCheckBox>(d, "chkOverSize")->isChecked());
    QCOMPARE(child<QSpinBox>(d, "txtMaxSize")->value(), 500);

    // A stored client that is not installed stays the setting, with no entry current.
    settingsKey(h).overwriteValue("SelectedClient", "Gone");
    frmMailvaneConfig other(h.services());
    QCOMPARE(child<QComboBox>(other, "cmbClient")->currentIndex(), -1);
    QCOMPARE(other.config().SelectedClient(), QStringLiteral("Gone"));
}

void TestConfigDialog::emptySoundFileShowsNoneSelected()
{
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    QCOMPARE(child<QLineEdit>(dialog, "txtSoundFile")->text(), QStringLiteral("<None Selected>"));
    QCOMPARE(dialog.config().SoundFile(), QStringLiteral("<None Selected>"));
    child<QPushButton>(dialog, "cmdDone")->click();
    QCOMPARE(h.stored()->SoundFile(), QStringLiteral("<None Selected>"));
}

void TestConfigDialog::modifier_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("written");
    QTest::newRow("none") << 0 << "optModNone" << 0;
    QTest::newRow("shift") << 16 << "optModShft" << 16;
    QTest::newRow("control") << 17 << "optModCtrl" << 17;
    QTest::newRow("alt") << 18 << "optModAlt" << 18;
    QTest::newRow("odd value") << 19 << "optModNone" << 0;
}

void TestConfigDialog::modifier()
{
    QFETCH(int, stored);
    QFETCH(QString, option);
    QFETCH(int, written);
    DialogHarness h;
    storeNumber(h, "Modifier", stored);
    frmMailvaneConfig dialog(h.services());
    QVERIFY(child<QRadioButton>(dialog, option)->isChecked());
    QCOMPARE(int(dialog.config().Modifier()), written);
    // A second fill from the store (after an account change) writes the same.
    child<QPushButton>(dialog, "cmdAccAdd")->click();
    QCOMPARE(int(dialog.config().Modifier()), written);
}

void TestConfigDialog::outOfRangeValuesShownInRange_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("shown"); // a spin box's value, or 1 for the option that is chosen
    QTest::addColumn<QString>("property");
    QTest::newRow("interval 5000") << "Interval" << 5000 << "txtInterval" << 999 << "Interval";
    QTest::newRow("interval 0") << "Interval" << 0 << "txtInterval" << 1 << "Interval";
    QTest::newRow("timeout 5") << "Timeout" << 5 << "txtTimeout" << 10 << "Timeout";
    QTest::newRow("timeout 99") << "Timeout" << 99 << "txtTimeout" << 60 << "Timeout";
    QTest::newRow("hot key 130") << "HotKey" << 130 << "optHotKey_11" << 1 << "HotKey";
    QTest::newRow("hot key 100") << "HotKey" << 100 << "optHotKey_0" << 1 << "HotKey";
    QTest::newRow("minimise style 7") << "MinStyle" << 7 << "optMin_2" << 1 << "MinStyle";
    QTest::newRow("minimise style -1") << "MinStyle" << -1 << "optMin_0" << 1 << "MinStyle";
    QTest::newRow("size 20000") << "MaxSize" << 20000 << "txtMaxSize" << 9999 << "MaxMessageSize";
    QTest::newRow("size 0") << "MaxSize" << 0 << "txtMaxSize" << 1 << "MaxMessageSize";
}

void TestConfigDialog::outOfRangeValuesShownInRange()
{
    QFETCH(QString, value);
    QFETCH(int, stored);
    QFETCH(QString, control);
    QFETCH(int, shown);
    QFETCH(QString, property);
    DialogHarness h;
    storeNumber(h, value, stored);
    frmMailvaneConfig dialog(h.services());
    QWidget *widget = child<QWidget>(dialog, control);
    if (auto *spin = qobject_cast<QSpinBox *>(widget)) {
        QCOMPARE(spin->value(), shown);
        QCOMPARE(dialog.config().property(property.toLatin1()).toInt(), shown);
    } else {
        QVERIFY(qobject_cast<QRadioButton *>(widget)->isChecked());
    }
    child<QPushButton>(dialog, "cmdDone")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestConfigDialog::handlersWrite_data()
{
    QTest::addColumn<QStringList>("clicks");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("do not check") << QStringList{"optCheck_1"} << "Check" << QVariant(false);
    QTest::newRow("check again") << QStringList{"optCheck_1", "optCheck_0"} << "Check" << QVariant(true);
    QTest::newRow("dial") << QStringList{"optConn_1"} << "Connect" << QVariant(true);
    QTest::newRow("hang up") << QStringList{"optConn_1", "chkHangUp"} << "HangUpWhenDone" << QVariant(true);
    QTest::newRow("beep") << QStringList{"chkNotBeep"} << "Beep" << QVariant(1);
    QTest::newRow("no sound") << QStringList{"chkNotPlay"} << "Play" << QVariant(0);
    QTest::newRow("no list") << QStringList{"chkNotShow"} << "ShowList" << QVariant(0);
    QTest::newRow("no notification") << QStringList{"chkNotNone"} << "NoNotify" << QVariant(1);
    QTest::newRow("no desktop notification") << QStringList{"chkNotPopup"} << "Popup" << QVariant(0);
    QTest::newRow("new mail only") << QStringList{"chkNotNewOnly"} << "NotifyNewOnly" << QVariant(true);
    QTest::newRow("hidden") << QStringList{"optMin_2"} << "MinStyle" << QVariant(2);
    QTest::newRow("task bar") << QStringList{"optMin_1"} << "MinStyle" << QVariant(1);
    QTest::newRow("start up") << QStringList{"chkStartup"} << "LoadOnStartup" << QVariant(true);
    QTest::newRow("hot key on") << QStringList{"chkHKEnabled"} << "HotKeyEnabled" << QVariant(true);
    QTest::newRow("F1") << QStringList{"chkHKEnabled", "optHotKey_0"} << "HotKey" << QVariant(112);
    QTest::newRow("shift") << QStringList{"chkHKEnabled", "optModShft"} << "Modifier" << QVariant(16);
    QTest::newRow("no modifier") << QStringList{"chkHKEnabled", "optModNone"} << "Modifier" << QVariant(0);
    QTest::newRow("blank from") << QStringList{"chkBlankFrom"} << "BlockBlankFrom" << QVariant(true);
    QTest::newRow("blank subject") << QStringList{"chkBlankSubject"} << "BlockBlankSubject" << QVariant(true);
    QTest::newRow("zero length") << QStringList{"chkZeroLength"} << "BlockZeroLength" << QVariant(false);
    QTest::newRow("over size") << QStringList{"chkOverSize"} << "BlockOverSize" << QVariant(true);
}

void TestConfigDialog::handlersWrite()
{
    QFETCH(QStringList, clicks);
    QFETCH(QString, property);
    QFETCH(QVariant, expected);
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    dialog.show();
    const QVariant before = dialog.config().property(property.toLatin1());
    for (const QString &name : clicks)
        child<QAbstractButton>(dialog, name)->click();
    QCOMPARE(dialog.config().property(property.toLatin1()), expected);
    // Memory only, until Done.
    QCOMPARE(h.stored()->property(property.toLatin1()), before);
}

void TestConfigDialog::listChoicesWrite()
{
    DialogHarness h;
    addClients(h, {"Claws", "Mutt"});
    addConnections(h, {"Home DSL", "Mobile"});
    h.addAccount("home");
    frmMailvaneConfig dialog(h.services());
    child<QComboBox>(dialog, "cmbClient")->setCurrentIndex(1);
    QCOMPARE(dialog.config().SelectedClient(), QStringLiteral("Mutt"));
    child<QComboBox>(dialog, "cmbConn")->setCurrentIndex(1);
    QCOMPARE(dialog.config().ConnectionToUse, QStringLiteral("Mobile"));
    child<QSpinBox>(dialog, "txtMaxSize")->setValue(64);
    QCOMPARE(int(dialog.config().MaxMessageSize()), 64);
    // An account's check mark is stored at once.
    child<QListWidget>(dialog, "lstAccounts")->item(0)->setCheckState(Qt::Unchecked);
    QVERIFY(!h.stored()->AcctSel(0));
}

void TestConfigDialog::hotKeyChoicesFollowTheCheckBox()
{
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    QList<QRadioButton *> choices;
    for (int k = 0; k < 12; ++k)
        choices << child<QRadioButton>(dialog, QStringLiteral("optHotKey_%1").arg(k));
    for (const char *name : {"optModNone", "optModShft", "optModCtrl", "optModAlt"})
        choices << child<QRadioButton>(dialog, name);
    auto *enabled = child<QCheckBox>(dialog, "chkHKEnabled");
    QVERIFY(child<QRadioButton>(dialog, "optHotKey_11")->isChecked()); // F12 by default
    for (bool on : {false, true, false}) {
        if (enabled->isChecked() != on)
            enabled->click();
        for (QRadioButton *choice : choices)
            QCOMPARE(choice->isEnabled(), on);
        QVERIFY(enabled->isEnabled());
    }
}

void TestConfigDialog::keyringBoxNeedsAKeyring()
{
    // Without a keyring the passwords stay in the settings, and the box cannot be turned on.
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    auto *keyring = child<QCheckBox>(dialog, "chkKeyring");
    QCOMPARE(keyring->text(), QString("Keep passwords in the desktop keyring"));
    QVERIFY(!keyring->isChecked());
    QVERIFY(!keyring->isEnabled());
    QVERIFY(!dialog.config().UseKeyring());
}

void TestConfigDialog::noNotificationGreysTheOthers()
{
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    auto *beep = child<QCheckBox>(dialog, "chkNotBeep");
    auto *play = child<QCheckBox>(dialog, "chkNotPlay");
    auto *show = child<QCheckBox>(dialog, "chkNotShow");
    auto *popup = child<QCheckBox>(dialog, "chkNotPopup");
    auto *none = child<QCheckBox>(dialog, "chkNotNone");
    auto *sound = child<QLineEdit>(dialog, "txtSoundFile");
    beep->click(); // beep on, play on, show on and the desktop notification on by default
    QVERIFY(sound->isEnabled());
    auto *newOnly = child<QCheckBox>(dialog, "chkNotNewOnly");
    newOnly->click();
    none->click();
    for (QCheckBox *box : {beep, play, show, popup, newOnly}) {
        QVERIFY(!box->isEnabled());
        QVERIFY(box->isChecked());
    }
    QVERIFY(sound->isEnabled()); // follows Play Sound, not No Notification
    QCOMPARE(int(dialog.config().NoNotify()), 1);
    QCOMPARE(int(dialog.config().Beep()), 1);
    none->click();
    for (QCheckBox *box : {beep, play, show, popup, newOnly})
        QVERIFY(box->isEnabled());
    play->click();
    QVERIFY(!sound->isEnabled());
    QCOMPARE(int(dialog.config().NoNotify()), 0);

    // Stored as checked: the three come up greyed.
    storeNumber(h, "NoNotify", 1);
    frmMailvaneConfig reopened(h.services());
    QVERIFY(!child<QCheckBox>(reopened, "chkNotBeep")->isEnabled());
    QVERIFY(!child<QCheckBox>(reopened, "chkNotShow")->isEnabled());
}

void TestConfigDialog::connectionChoiceGreysHangUp()
{
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    auto *hangUp = child<QCheckBox>(dialog, "chkHangUp");
    QVERIFY(!hangUp->isEnabled());
    child<QRadioButton>(dialog, "optConn_1")->click();
    QVERIFY(hangUp->isEnabled());
    hangUp->click();
    child<QRadioButton>(dialog, "optConn_0")->click();
    QVERIFY(!hangUp->isEnabled());
    QVERIFY(hangUp->isChecked());
    QVERIFY(child<QComboBox>(dialog, "cmbConn")->isEnabled());

    child<QRadioButton>(dialog, "optCheck_1")->click();
    QVERIFY(child<QSpinBox>(dialog, "txtInterval")->isEnabled());
    QCOMPARE(int(dialog.config().Interval()), 10);
}

void TestConfigDialog::intervalTexts()
{
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    showActive(dialog);
    auto *interval = child<QSpinBox>(dialog, "txtInterval");
    typeInto(interval, "abc");
    QCOMPARE(interval->text(), QStringLiteral("10"));
    QCOMPARE(int(dialog.config().Interval()), 10);
    typeInto(interval, "1000");
    QVERIFY(interval->text() != QStringLiteral("1000"));
    QVERIFY(dialog.config().Interval() >= 1 && dialog.config().Interval() <= 999);
    typeInto(interval, "15");
    QCOMPARE(int(dialog.config().Interval()), 15);
    QCOMPARE(h.messages(), QStringList());
}

void TestConfigDialog::timeoutRefused_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("leave"); // how the box is left
    for (const char *leave : {"Done clicked", "Enter", "Tab", "other tab"}) {
        QTest::addRow("5, %s", leave) << "5" << leave;
        QTest::addRow("empty, %s", leave) << "" << leave;
    }
    QTest::newRow("abc, Done clicked") << "abc"
                                       << "Done clicked";
}

void TestConfigDialog::timeoutRefused()
{
    QFETCH(QString, typed);
    QFETCH(QString, leave);
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    showActive(dialog);
    auto *tabs = child<QTabWidget>(dialog, "SSTab1");
    tabs->setCurrentIndex(3);
    auto *timeout = child<QSpinBox>(dialog, "txtTimeout");
    typeInto(timeout, typed);
    const bool number = typed.toInt() > 0;
    if (!typed.isEmpty() && !number) {
        // Letters never reach the box: it still holds a valid time-out.
        QVERIFY(timeout->hasAcceptableInput());
        return;
    }
    if (leave == "Done clicked")
        QTest::mouseClick(child<QPushButton>(dialog, "cmdDone"), Qt::LeftButton);
    else if (leave == "Enter")
        QTest::keyClick(timeout, Qt::Key_Return);
    else if (leave == "Tab")
        QTest::keyClick(timeout, Qt::Key_Tab);
    else
        tabs->setCurrentIndex(0);
    QTRY_COMPARE(h.messages(), QStringList{kTimeoutMessage});
    QCOMPARE(tabs->currentIndex(), 3);
    QTRY_COMPARE(QApplication::focusWidget(), timeout);
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    // Shown again after a change of tab, the box shows the time-out it holds.
    QCOMPARE(timeout->text(), leave == "other tab" ? QStringLiteral("20") : typed);
    QCOMPARE(int(dialog.config().Timeout()), 20);
    QCOMPARE(int(h.stored()->Timeout()), 20);

    // Put right, Done saves and closes.
    typeInto(timeout, "30");
    QTest::mouseClick(child<QPushButton>(dialog, "cmdDone"), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(int(h.stored()->Timeout()), 30);
    QCOMPARE(h.messages().size(), 1);
}

void TestConfigDialog::timeoutLeftWithoutValidation()
{
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    showActive(dialog);
    child<QTabWidget>(dialog, "SSTab1")->setCurrentIndex(3);
    auto *timeout = child<QSpinBox>(dialog, "txtTimeout");
    typeInto(timeout, "61");
    QCOMPARE(timeout->text(), QStringLiteral("6")); // 61 cannot be typed at all
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(timeout, &away);
    QTRY_COMPARE(h.messages(), QStringList{kTimeoutMessage});
    QCOMPARE(timeout->text(), QStringLiteral("20"));
    QCOMPARE(int(dialog.config().Timeout()), 20);
}

void TestConfigDialog::doneSavesScalarsAndFilters()
{
    DialogHarness h;
    frmMailvaneConfig dialog(h.services());
    child<QSpinBox>(dialog, "txtInterval")->setValue(42);
    child<QCheckBox>(dialog, "chkNotBeep")->click();
    child<QCheckBox>(dialog, "chkBlankSubject")->click();
    child<QCheckBox>(dialog, "chkZeroLength")->click();
    child<QSpinBox>(dialog, "txtMaxSize")->setValue(2048);
    child<QPushButton>(dialog, "cmdDone")->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const auto stored = h.stored();
    QCOMPARE(int(stored->Interval()), 42);
    QCOMPARE(int(stored->Beep()), 1);
    QVERIFY(stored->BlockBlankSubject);
    QVERIFY(!stored->BlockZeroLength);
    QCOMPARE(int(stored->MaxMessageSize()), 2048);
}

void TestConfigDialog::cancelKeepsListsDropsScalars()
{
    DialogHarness h;
    h.addAccount("home");
    h.temp.prompter.inputAnswers = {QStringLiteral("spam@example.com")};
    h.onModal = [](QDialog &add) {
        child<QLineEdit>(add, "txtAccName")->setText("work");
        child<QLineEdit>(add, "txtHost")->setText("pop.work");
        child<QLineEdit>(add, "txtUserName")->setText("u");
        child<QLineEdit>(add, "txtPassword")->setText("p");
        child<QPushButton>(add, "cmdAdd")->click();
    };
    {
        frmMailvaneConfig dialog(h.services());
        child<QPushButton>(dialog, "cmdAccAdd")->click();
        child<QListWidget>(dialog, "lstAccounts")->item(0)->setCheckState(Qt::Unchecked);
        child<QSpinBox>(dialog, "txtInterval")->setValue(99);
        child<QPushButton>(dialog, "cmdAddBlk")->click();
        child<QCheckBox>(dialog, "chkOverSize")->click();
        dialog.show();
        child<QPushButton>(dialog, "cmdCancel")->click();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    const auto stored = h.stored();
    QCOMPARE(stored->NumberOfAccounts(), 2);
    QVERIFY(!stored->AcctSel(0));
    QCOMPARE(stored->BlockedSender(0), QStringLiteral("spam@example.com"));
    QCOMPARE(int(stored->Interval()), 10);
    QVERIFY(!stored->BlockOverSize);

    // The close box cancels too.
    frmMailvaneConfig closed(h.services());
    closed.show();
    child<QSpinBox>(closed, "txtInterval")->setValue(77);
    closed.close();
    QCOMPARE(closed.result(), int(QDialog::Rejected));
    QCOMPARE(int(h.stored()->Interval()), 10);
}

void TestConfigDialog::accountButtonsKeepTheOtherTabs_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QStringList>("accounts");

    QTest::newRow("add") << "cmdAccAdd" << true << QStringList{"home", "new", "work"};
    QTest::newRow("add cancelled") << "cmdAccAdd" << false << QStringList{"home", "work"};
    QTest::newRow("edit") << "cmdAccEdit" << true << QStringList{"home", "office"};
    QTest::newRow("delete") << "cmdAccDel" << true << QStringList{"home"};
}

void TestConfigDialog::accountButtonsKeepTheOtherTabs()
{
    QFETCH(QString, button);
    QFETCH(bool, confirm);
    QFETCH(QStringList, accounts);

    DialogHarness h;
    h.addAccount("home");
    h.addAccount("work");
    h.onModal = [&](QDialog &account) {
        if (!confirm)
            return;
        if (auto *add = account.findChild<QPushButton *>("cmdAdd")) {
            for (const char *box : {"txtAccName", "txtHost", "txtUserName", "txtPassword"})
                child<QLineEdit>(account, box)->setText("new");
            add->click();
        } else {
            child<QLineEdit>(account, "txtAccName")->setText("office");
            child<QPushButton>(account, "cmdDone")->click();
        }
    };
    frmMailvaneConfig dialog(h.services());
    auto *beep = child<QCheckBox>(dialog, "chkNotBeep");
    auto *list = child<QListWidget>(dialog, "lstAccounts");
    // Unsaved changes on three other tabs.
    beep->click();
    child<QSpinBox>(dialog, "txtInterval")->setValue(42);
    child<QRadioButton>(dialog, "optMin_1")->click();
    list->setCurrentRow(1);
    child<QPushButton>(dialog, button)->click();

    QCOMPARE(items(list), accounts);
    QVERIFY(beep->isChecked());
    QCOMPARE(child<QSpinBox>(dialog, "txtInterval")->value(), 42);
    QVERIFY(child<QRadioButton>(dialog, "optMin_1")->isChecked());
    QCOMPARE(dialog.config().NumberOfAccounts(), accounts.size());
    QCOMPARE(int(dialog.config().Beep()), 1);
    QCOMPARE(int(dialog.config().Interval()), 42);
    QCOMPARE(int(dialog.config().MinStyle()), 1);
    // Unsaved still: Done saves them together with the account change.
    QCOMPARE(int(h.stored()->Interval()), 10);
    child<QPushButton>(dialog, "cmdDone")->click();
    const auto stored = h.stored();
    QCOMPARE(stored->NumberOfAccounts(), accounts.size());
    QCOMPARE(stored->AccountName(accounts.size() - 1), accounts.last());
    QCOMPARE(int(stored->Beep()), 1);
    QCOMPARE(int(stored->Interval()), 42);
    QCOMPARE(int(stored->MinStyle()), 1);
}

void TestConfigDialog::editedAccountComesBackCheckedAndCurrent()
{
    DialogHarness h;
    h.addAccount("home");
    h.addAccount("work");
    frmMailvaneConfig dialog(h.services());
    auto *list = child<QListWidget>(dialog, "lstAccounts");

    // Edit of an unchecked account: it comes back checked, and current.
    list->item(1)->setCheckState(Qt::Unchecked);
    list->setCurrentRow(1);
    int shownIndexRow = -1;
    h.onModal = [&](QDialog &edit) {
        shownIndexRow = child<QLineEdit>(edit, "txtAccName")->text() == "work" ? 1 : -1;
        child<QLineEdit>(edit, "txtHost")->setText("pop.office");
        child<QPushButton>(edit, "cmdDone")->click();
    };
    child<QPushButton>(dialog, "cmdAccEdit")->click();
    QCOMPARE(shownIndexRow, 1);
    QCOMPARE(items(list), (QStringList{"home", "work"}));
    QCOMPARE(list->item(1)->checkState(), Qt::Checked);
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(dialog.config().Host(1), QStringLiteral("pop.office"));
}

void TestConfigDialog::editRenameOntoExistingChangesNothing()
{
    DialogHarness h;
    h.addAccount("home", "pop.home");
    h.addAccount("work", "pop.work", 995);
    frmMailvaneConfig dialog(h.services());
    child<QListWidget>(dialog, "lstAccounts")->setCurrentRow(1);
    h.onModal = [](QDialog &edit) {
        child<QLineEdit>(edit, "txtAccName")->setText("HOME");
        child<QPushButton>(edit, "cmdDone")->click();
        QVERIFY(edit.isVisible());
    };
    child<QPushButton>(dialog, "cmdAccEdit")->click();
    QCOMPARE(h.messages(),
             QStringList{"Error: An account named \"HOME\" already exists.\nChoose another name."});
    const auto stored = h.stored();
    QCOMPARE(stored->NumberOfAccounts(), 2);
    QCOMPARE(stored->AccountName(0), QStringLiteral("home"));
    QCOMPARE(stored->Host(0), QStringLiteral("pop.home"));
    QCOMPARE(stored->AccountName(1), QStringLiteral("work"));
    QCOMPARE(stored->Host(1), QStringLiteral("pop.work"));
    QCOMPARE(stored->StoredPort(1), 995);
    QCOMPARE(items(child<QListWidget>(dialog, "lstAccounts")), (QStringList{"home", "work"}));
}

void TestConfigDialog::deleteAccount()
{
    DialogHarness h;
    h.addAccount("home");
    h.addAccount("work");
    frmMailvaneConfig dialog(h.services());
    auto *list = child<QListWidget>(dialog, "lstAccounts");
    auto *del = child<QPushButton>(dialog, "cmdAccDel");
    del->click(); // no line current
    QCOMPARE(h.stored()->NumberOfAccounts(), 2);
    list->setCurrentRow(0);
    del->click();
    QCOMPARE(items(list), QStringList{"work"});
    QCOMPARE(h.stored()->AccountName(0), QStringLiteral("work"));
}

void TestConfigDialog::blockedSenders()
{
    DialogHarness h;
    h.temp.prompter.inputAnswers = {QString(), std::nullopt, QStringLiteral(" Bob "), QStringLiteral("Ann")};
    frmMailvaneConfig dialog(h.services());
    auto *list = child<QListWidget>(dialog, "lstBlocked");
    auto *add = child<QPushButton>(dialog, "cmdAddBlk");
    auto *remove = child<QPushButton>(dialog, "cmdRemBlk");
    // A change shown in the dialog is still what Done saves after a blocked sender is added.
    child<QSpinBox>(dialog, "txtInterval")->setValue(33);
    add->click(); // empty answer
    add->click(); // Cancel
    QCOMPARE(list->count(), 0);
    add->click();
    add->click();
    QCOMPARE(items(list), (QStringList{" Bob ", "Ann"}));
    QCOMPARE(h.temp.prompter.calls.at(0).title, QStringLiteral("Add block"));
    QCOMPARE(h.temp.prompter.calls.at(0).text, QStringLiteral("Enter username or address to block"));
    QCOMPARE(int(dialog.config().Interval()), 33);
    remove->click(); // nothing selected
    QCOMPARE(list->count(), 2);
    list->setCurrentRow(0);
    remove->click();
    QCOMPARE(items(list), QStringList{"Ann"});
    QCOMPARE(h.stored()->NumberOfBlocked(), 1);
    child<QPushButton>(dialog, "cmdDone")->click();
    QCOMPARE(int(h.stored()->Interval()), 33);
}

void TestConfigDialog::browse_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow(".wav") << "/sounds/bell.wav"
                          << "/sounds/bell.wav" << QStringList();
    QTest::newRow(".WAV") << "/sounds/BELL.WAV"
                          << "<None Selected>" << QStringList{"Invalid File: Must be a .wav file!"};
    QTest::newRow("cancelled") << ""
                               << "<None Selected>" << QStringList();
}

void TestConfigDialog::browse()
{
    QFETCH(QString, chosen);
    QFETCH(QString, shown);
    QFETCH(QStringList, messages);
    DialogHarness h;
    h.fileAnswers = {chosen};
    frmMailvaneConfig dialog(h.services());
    child<QPushButton>(dialog, "cmdSndBrs")->click();
    QCOMPARE(h.fileFilters, QStringList{"Sound files (.wav) (*.wav)"});
    QCOMPARE(child<QLineEdit>(dialog, "txtSoundFile")->text(), shown);
    QCOMPARE(dialog.config().SoundFile(), shown);
    QCOMPARE(h.messages(), messages);
}

void TestConfigDialog::helpAndHotKeyLine()
{
    DialogHarness h;
    {
        frmMailvaneConfig dialog(h.services());
        QVERIFY(child<QLabel>(dialog, "lblHotKeyProblem")->isHidden());
        showActive(dialog);
        child<QPushButton>(dialog, "cmdHelp")->click();
        child<QTabWidget>(dialog, "SSTab1")->setCurrentIndex(4);
        QTest::keyClick(&dialog, Qt::Key_F1);
        QCOMPARE(h.helpPages, (QStringList{"configuration.html#general", "configuration.html#hotkey"}));
    }
    h.hotKeyProblem = QStringLiteral("No keyboard here.");
    frmMailvaneConfig dialog(h.services());
    QVERIFY(!child<QLabel>(dialog, "lblHotKeyProblem")->isHidden());
    QCOMPARE(child<QLabel>(dialog, "lblHotKeyProblem")->text(), QStringLiteral("No keyboard here."));
    child<QCheckBox>(dialog, "chkHKEnabled")->click();
    QVERIFY(dialog.config().HotKeyEnabled());
}

void TestConfigDialog::hotKeyProblemFollowsTheControl_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("problemStart");

    using State = wrenkit::HotKeySource::State;
    QTest::newRow("listening") << int(State::Listening) << QString();
    QTest::newRow("taken by another program") << int(State::Taken) << "This key is taken by another program";
    QTest::newRow("refused") << int(State::Failed) << "The hot key could not be set up";
    QTest::newRow("no way to a hot key") << int(State::Unavailable) << "The hot key does not work in this session";
}

// What the running control found reaches the dialog's hot-key tab.
void TestConfigDialog::hotKeyProblemFollowsTheControl()
{
    QFETCH(int, answer);
    QFETCH(QString, problemStart);
    auto source = std::make_unique<hotkeytest::FakeHotKeySource>();
    hotkeytest::FakeHotKeySource *fake = source.get();
    const auto state = wrenkit::HotKeySource::State(answer);
    fake->answer = state == wrenkit::HotKeySource::State::Unavailable ? wrenkit::HotKeySource::State::Listening : state;
    wrenkit::HotKeyCtrl ctrl(std::move(source), std::make_unique<wrenkit::NullBeeper>());
    ctrl.setHotKey(123);
    ctrl.setEnabled(true);
    QTRY_COMPARE(fake->asked.size(), 1);
    if (state == wrenkit::HotKeySource::State::Unavailable)
        fake->becomeUnavailable();

    const QString problem = hotKeyProblem(&ctrl);
    QVERIFY2(problemStart.isEmpty() ? problem.isEmpty() : problem.startsWith(problemStart), qPrintable(problem));
    DialogHarness h;
    h.hotKeyProblem = problem;
    frmMailvaneConfig dialog(h.services());
    QCOMPARE(child<QLabel>(dialog, "lblHotKeyProblem")->isHidden(), problem.isEmpty());
}

void TestConfigDialog::ownStoreWithoutServices()
{
    // As the main window opens it: the store named by MAILVANE_REGISTRY, the autostart folder of
    // XDG_CONFIG_HOME.
    QTemporaryDir dir;
    const QString path = dir.filePath("registry.sqlite3");
    const QByteArray oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("MAILVANE_REGISTRY", path.toUtf8());
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    {
        frmMailvaneConfig dialog;
        QCOMPARE(child<QSpinBox>(dialog, "txtInterval")->value(), 10);
        child<QSpinBox>(dialog, "txtInterval")->setValue(30);
        child<QPushButton>(dialog, "cmdDone")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    RecordingPrompter prompter;
    NoAutostartEntry autostart;
    RegistryStore store(path, &prompter);
    QCOMPARE(int(POPConfig({store, prompter, autostart}).Interval()), 30);
    qunsetenv("MAILVANE_REGISTRY");
    if (oldConfigHome.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfigHome);
}

QTEST_MAIN(TestConfigDialog)
#include "tst_configdialog.moc"

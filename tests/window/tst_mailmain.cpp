// The main window on Qt's offscreen platform: timer, minimise styles, tray menu, columns, list
// menu and the commands that reach the window.
#include "ScriptedPop3Server.h"
#include "WindowHarness.h"
#include "main/CheckCycle.h"
#include "main/ColumnLayout.h"

#include <QAccessible>
#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>

using namespace testsupport;

namespace
{
const QString HideWarning = QStringLiteral("Hot Key not enabled! Are you\r\nsure you want to hide Mailvane?");

ListedMessage message(const QString &key, const QString &from, const QString &uniqueId = {})
{
    ListedMessage m;
    m.key = key;
    m.from = from;
    m.subject = QStringLiteral("Subject");
    m.sizeBytes = 100;
    m.account = QStringLiteral("A");
    m.uniqueId = uniqueId;
    return m;
}

// Account "A" of the harness on this port.
void setPort(WindowHarness &h, quint16 port)
{
    h.temp.store()
        .root(RegistryStore::Root::LocalMachine)
        .subKey(QStringLiteral("Software\\Corvanta\\Mailvane 1.0\\Accounts\\A"))
        .setValue(RegValue{QStringLiteral("Port"), RegType::DWord, int(port)});
}

QByteArray top(const QByteArray &headers)
{
    return "+OK\r\n" + headers + "\r\nbody\r\n.\r\n";
}
} // namespace

class TestMailMain : public QObject
{
    Q_OBJECT
private slots:
    void timer_data();
    void timer();
    void timerRunsAtTheGivenInterval();
    void firstStartShowsTheWindow_data();
    void firstStartShowsTheWindow();
    void loadNeverLeavesTheWindowUnreachable_data();
    void loadNeverLeavesTheWindowUnreachable();
    void applyMinStyle_data();
    void applyMinStyle();
    void trayMenu_data();
    void trayMenu();
    void doubleClickAndHotKeyWaitForTheConfigurationDialog();
    void columnWidths();
    void listMenuFollowsTheList();
    void listCommandsActOnTheMessageChosenBeforeARefill_data();
    void listCommandsActOnTheMessageChosenBeforeARefill();
    void selectionSurvivesARefillThatKeepsTheMessage();
    void listMenuOpenedDuringACheckFollowsTheRenumbering();
    void keyboardReachesTheListAndTheToolbar();
    void toolbarRefusesWhileBusy();
    void helpOpensTheManual();
    void statusPanelsReadTheirText();
    void cancelButtonHasNoToolTip();
    void exitEndsAtOnce_data();
    void exitEndsAtOnce();
};

void TestMailMain::timer_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("withAccount");
    QTest::addColumn<bool>("checkOn");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QList<int>>("busyTicks");
    QTest::addColumn<QList<int>>("checkTicks");
    QTest::addColumn<int>("finalCount");

    QTest::newRow("interval 10") << 10 << true << true << 30 << QList<int>{} << QList<int>{10, 19, 28} << 3;
    QTest::newRow("interval 1") << 1 << true << true << 4 << QList<int>{} << QList<int>{1, 2, 3, 4} << 1;
    QTest::newRow("interval 2") << 2 << true << true << 4 << QList<int>{} << QList<int>{2, 3, 4} << 1;
    QTest::newRow("no account") << 1 << false << true << 5 << QList<int>{} << QList<int>{} << 0;
    QTest::newRow("checking off") << 2 << true << false << 5 << QList<int>{} << QList<int>{} << 1;
    QTest::newRow("check running at the due tick")
        << 3 << true << true << 8 << QList<int>{3, 4} << QList<int>{5, 7} << 2;
}

void TestMailMain::timer()
{
    QFETCH(int, interval);
    QFETCH(bool, withAccount);
    QFETCH(bool, checkOn);
    QFETCH(int, ticks);
    QFETCH(QList<int>, busyTicks);
    QFETCH(QList<int>, checkTicks);
    QFETCH(int, finalCount);

    WindowHarness h;
    if (withAccount)
        h.addAccount("A", false); // counted, but a check contacts no server
    h.configure([&](POPConfig &c) {
        c.setInterval(interval);
        c.setCheck(checkOn);
    });
    frmMailMain &w = h.open();
    int tick = 0;
    QList<int> checks;
    connect(&w.checkCycle(), &CheckCycle::checkFinished, this, [&] { checks << tick; });

    for (tick = 1; tick <= ticks; ++tick) {
        w.checkCycle().setBusy(busyTicks.contains(tick));
        w.Timer1_Timer();
        w.checkCycle().setBusy(false);
    }
    QCOMPARE(checks, checkTicks);
    QCOMPARE(w.TickCount(), finalCount);
}

void TestMailMain::timerRunsAtTheGivenInterval()
{
    WindowHarness h;
    h.addAccount("A", false);
    h.configure([](POPConfig &c) { c.setInterval(999); });
    h.timerIntervalMs = 5;
    frmMailMain &w = h.open();
    QTRY_VERIFY(w.TickCount() >= 2);
}

void TestMailMain::firstStartShowsTheWindow_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<bool>("withAccount");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("icon");

    QTest::newRow("no account, style 0") << 0 << false << true << true;
    QTest::newRow("no account, style 2") << 2 << false << true << false;
    QTest::newRow("an account, style 0") << 0 << true << false << true;
    QTest::newRow("an account, style 1") << 1 << true << true << false;
}

void TestMailMain::firstStartShowsTheWindow()
{
    QFETCH(int, style);
    QFETCH(bool, withAccount);
    QFETCH(bool, visible);
    QFETCH(bool, icon);

    WindowHarness h;
    if (withAccount)
        h.addAccount("A");
    h.configure([&](POPConfig &c) { c.setMinStyle(style); });
    frmMailMain &w = h.open();
    QCOMPARE(w.isVisible(), visible);
    QCOMPARE(h.shell->shown, icon);
    QCOMPARE(w.panel(2), QString("Ready"));
    QVERIFY(h.temp.prompter.calls.isEmpty());
    QCOMPARE(w.windowTitle(), QString("Mailvane - Messages"));
}

void TestMailMain::loadNeverLeavesTheWindowUnreachable_data()
{
    QTest::addColumn<int>("storedStyle");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<bool>("visible");

    QTest::newRow("2, hot key off, OK") << 2 << true << true << false;
    QTest::newRow("2, hot key off, Cancel") << 2 << false << true << true;
    QTest::newRow("3") << 3 << false << false << true;
    QTest::newRow("-1") << -1 << false << false << true;
}

void TestMailMain::loadNeverLeavesTheWindowUnreachable()
{
    QFETCH(int, storedStyle);
    QFETCH(bool, answer);
    QFETCH(bool, warned);
    QFETCH(bool, visible);

    WindowHarness h;
    h.addAccount("A");
    h.configure([](POPConfig &c) { c.setHotKeyEnabled(false); });
    // Written past the settings object, which keeps the style to 0..2.
    QVERIFY(h.temp.store()
                .open("HKEY_LOCAL_MACHINE\\Software\\Corvanta\\Mailvane 1.0")
                .overwriteValue("MinStyle", qint32(storedStyle)));
    h.temp.prompter.questionAnswer = answer;
    frmMailMain &w = h.open();
    QCOMPARE(int(w.Config()->MinStyle()), storedStyle);
    QCOMPARE(h.temp.prompter.calls.size(), warned ? 1 : 0);
    QCOMPARE(w.isVisible(), visible);
    QVERIFY(!(w.windowState() & Qt::WindowMinimized));
    QVERIFY(!h.shell->shown);
    if (!visible)
        return;
    // "Min" leaves the shown window as it is.
    h.action("Min")->trigger();
    QCOMPARE(h.temp.prompter.calls.size(), warned ? 2 : 0);
    QVERIFY(w.isVisible());
    QVERIFY(!(w.windowState() & Qt::WindowMinimized));
}

void TestMailMain::applyMinStyle_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<bool>("hotKeyOn");
    QTest::addColumn<bool>("keysAvailable");
    QTest::addColumn<bool>("trayAvailable");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("minimised");
    QTest::addColumn<bool>("icon");

    QTest::newRow("0 tray") << 0 << false << true << true << false << false << false << false << true;
    QTest::newRow("0 without a tray acts as 1")
        << 0 << false << true << false << false << false << true << true << false;
    QTest::newRow("1 taskbar") << 1 << false << true << true << false << false << true << true << false;
    QTest::newRow("2 hot key on") << 2 << true << true << true << false << false << false << false << false;
    QTest::newRow("2 hot key off, OK")
        << 2 << false << true << true << true << true << false << false << false;
    QTest::newRow("2 hot key off, Cancel")
        << 2 << false << true << true << false << true << true << false << true;
    QTest::newRow("2 no key source, Cancel")
        << 2 << true << false << true << false << true << true << false << true;
}

void TestMailMain::applyMinStyle()
{
    QFETCH(int, style);
    QFETCH(bool, hotKeyOn);
    QFETCH(bool, keysAvailable);
    QFETCH(bool, trayAvailable);
    QFETCH(bool, answer);
    QFETCH(bool, warned);
    QFETCH(bool, visible);
    QFETCH(bool, minimised);
    QFETCH(bool, icon);

    WindowHarness h;
    h.addAccount("A");
    h.keysAvailable = keysAvailable;
    frmMailMain &w = h.open(); // style 0: the icon is placed, the window hidden
    w.showNormal();            // the user brought it back
    h.trayAvailable = trayAvailable;
    h.temp.prompter.questionAnswer = answer;
    w.Config()->setMinStyle(style);
    w.Config()->setHotKey(116);
    w.Config()->setHotKeyEnabled(hotKeyOn);

    w.ApplyMinStyle();
    QCOMPARE(h.temp.prompter.calls.size(), warned ? 1 : 0);
    if (warned) {
        QCOMPARE(h.temp.prompter.calls[0].title, QString("Mailvane"));
        QCOMPARE(h.temp.prompter.calls[0].text, HideWarning);
    }
    QCOMPARE(w.isVisible(), visible);
    QCOMPARE(bool(w.windowState() & Qt::WindowMinimized), minimised);
    QCOMPARE(h.shell->shown, icon);
    QCOMPARE(w.panel(2) != "Ready", !trayAvailable); // says once why the taskbar is used
}

void TestMailMain::trayMenu_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("configOpen");
    QTest::addColumn<bool>("showEnabled");

    QTest::newRow("hidden") << "hidden" << false << true;
    QTest::newRow("minimised") << "minimised" << false << true;
    QTest::newRow("maximised") << "maximised" << false << true;
    QTest::newRow("normal") << "normal" << false << false;
    QTest::newRow("normal, configuration open") << "normal" << true << false;
    QTest::newRow("hidden, configuration open") << "hidden" << true << true;
}

void TestMailMain::trayMenu()
{
    QFETCH(QString, state);
    QFETCH(bool, configOpen);
    QFETCH(bool, showEnabled);

    WindowHarness h;
    h.addAccount("A");
    frmMailMain &w = h.open();
    if (state == "normal")
        w.showNormal();
    else if (state == "minimised")
        w.showMinimized();
    else if (state == "maximised")
        w.showMaximized();

    QMap<QString, bool> enabled;
    auto click = [&] {
        QVERIFY(w.ConfigOpen() == configOpen);
        emit h.shell->mouseEvent(wrenkit::TrayShell::LeftDown);
        for (const char *name : {"mnuShow", "mnuConfig", "mnuCheck", "mnuHelp", "mnuExit"})
            enabled[name] = h.action(name)->isEnabled();
        QVERIFY(h.menu("mnuTrayPop")->isVisible());
        h.menu("mnuTrayPop")->hide();
    };
    if (configOpen) {
        h.configDialog = [&](QWidget *) { click(); };
        w.OpenConfiguration();
    } else {
        click();
    }
    QCOMPARE(enabled["mnuShow"], showEnabled);
    QCOMPARE(enabled["mnuConfig"], !configOpen);
    QCOMPARE(enabled["mnuExit"], !configOpen);
    QVERIFY(enabled["mnuCheck"]);
    QVERIFY(enabled["mnuHelp"]);
}

void TestMailMain::doubleClickAndHotKeyWaitForTheConfigurationDialog()
{
    WindowHarness h;
    h.addAccount("A");
    frmMailMain &w = h.open();
    h.configDialog = [&](QWidget *) {
        emit h.shell->mouseEvent(wrenkit::TrayShell::LeftDoubleClick);
        emit w.hotKeyControl().HotKeyPressed();
        QVERIFY(!w.isVisible());
    };
    w.OpenConfiguration();
    QVERIFY(!w.ConfigOpen());
    QVERIFY(!w.isVisible());

    emit w.hotKeyControl().HotKeyPressed();
    QVERIFY(w.isVisible());
    w.hide();
    emit h.shell->mouseEvent(wrenkit::TrayShell::LeftDoubleClick);
    QVERIFY(w.isVisible());
    QCOMPARE(w.windowState() & Qt::WindowMinimized, Qt::WindowNoState);
}

void TestMailMain::columnWidths()
{
    const auto twipsWidths = ::columnWidths(1170);
    QCOMPARE(twipsWidths, (std::array<double, 4>{250, 375, 125, 250}));
    QCOMPARE(::columnWidths(100), (std::array<double, 4>{0, 0, 0, 0}));

    WindowHarness h;
    frmMailMain &w = h.open();
    auto *lv = w.findChild<QTreeView *>("LV");
    QCOMPARE(lv->accessibleName(), QString("Messages"));
    const double dpi = lv->logicalDpiX();
    lv->resize(qRound(twips::toPixels(1170, dpi)), lv->height());
    for (int column = 0; column < 4; ++column)
        QVERIFY2(qAbs(lv->header()->sectionSize(column) - twips::toPixels(twipsWidths[column], dpi)) <= 1,
                 qPrintable(QString::number(column)));
}

void TestMailMain::listMenuFollowsTheList()
{
    WindowHarness h;
    frmMailMain &w = h.open();
    auto *viewport = w.findChild<QTreeView *>("LV")->viewport();
    QMenu *menu = h.menu("RtClickMessage");

    QTest::mouseClick(viewport, Qt::RightButton, {}, QPoint(10, 10));
    QVERIFY(menu->isVisible());
    QVERIFY(!h.action("mnuDelMessage")->isEnabled());
    QVERIFY(!h.action("mnuAddBlock")->isEnabled());
    menu->hide();

    w.messageList().add(message("A0 M1", "Ann <ann@example.org>"));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(10, 5));
    QVERIFY(!menu->isVisible());
    QVERIFY(h.action("mnuDelMessage")->isEnabled());
    QVERIFY(h.action("mnuAddBlock")->isEnabled());
    QCOMPARE(w.selectedKey(), QString("A0 M1"));
}

void TestMailMain::listCommandsActOnTheMessageChosenBeforeARefill_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::newRow("the list menu") << true;
    QTest::newRow("the toolbar's Delete") << false;
}

void TestMailMain::listCommandsActOnTheMessageChosenBeforeARefill()
{
    // The menu is opened on the fourth row, or that row selected for the toolbar's Delete; then a
    // timer check refills the list, whose first row is now another sender's message.
    QFETCH(bool, byMenu);
    ScriptedPop3Server server;
    server.login({100, 200});
    server.expect("TOP 1 1").send(top("From: Nina <nina@example.org>\r\nSubject: new\r\n"));
    server.expect("TOP 2 1").send(top("From: Otto <otto@example.org>\r\nSubject: new\r\n"));
    server.expect("QUIT").send("+OK\r\n");
    WindowHarness h;
    h.addAccount("A");
    setPort(h, server.port());
    frmMailMain &w = h.open();
    w.showNormal();
    for (int n = 1; n <= 4; ++n)
        w.messageList().add(message(QString("A0 M%1").arg(n), QString("Sender%1 <s%1@example.org>").arg(n),
                                    QString("old-%1").arg(n)));
    auto *lv = w.findChild<QTreeView *>("LV");
    const QPoint row3 = lv->visualRect(w.messageList().index(3, 0)).center();
    QTest::mouseClick(lv->viewport(), byMenu ? Qt::RightButton : Qt::LeftButton, {}, row3);
    QCOMPARE(w.selectedKey(), QString("A0 M4"));
    QCOMPARE(h.menu("RtClickMessage")->isVisible(), byMenu);

    w.checkCycle().CheckMail();
    QCOMPARE(w.messageList().rowCount(), 2);
    QCOMPARE(server.connectionCount(), 1);
    h.menu("RtClickMessage")->hide();

    if (byMenu) {
        h.action("mnuAddBlock")->trigger();
        QCOMPARE(w.panel(3), QString("The message is no longer in the list"));
        QCOMPARE(w.Config()->NumberOfBlocked(), qint16(0));
        w.setPanel(3, {});
        h.action("mnuDelMessage")->trigger();
    } else {
        h.action("Delete")->trigger();
    }
    QCOMPARE(w.panel(3), QString("The message is no longer in the list"));
    QCOMPARE(server.connectionCount(), 1); // no deletion was tried
    QCOMPARE(w.messageList().rowCount(), 2);
    QVERIFY(h.temp.prompter.calls.isEmpty());
}

void TestMailMain::selectionSurvivesARefillThatKeepsTheMessage()
{
    // The user selects the fourth message; a check lists the same four again, and the toolbar's
    // Delete then deletes that one.
    ScriptedPop3Server server;
    server.login({100, 100, 100, 100});
    for (int n = 1; n <= 4; ++n)
        server.expect("TOP " + QByteArray::number(n) + " 1")
            .send(top("From: Sender" + QByteArray::number(n) + "\r\nSubject: Subject\r\n"));
    server.expect("QUIT").send("+OK\r\n");
    server.nextConnection().login({100, 100, 100, 100});
    server.expect("DELE 4").send("+OK\r\n").expect("QUIT").send("+OK\r\n");
    WindowHarness h;
    h.addAccount("A");
    setPort(h, server.port());
    frmMailMain &w = h.open();
    w.showNormal();
    for (int n = 1; n <= 4; ++n) {
        ListedMessage listed =
            message(QString("A0 M%1").arg(n), QString("Sender%1").arg(n), QString("uid-%1").arg(n));
        listed.to = listed.date = QStringLiteral("<NotFound>");
        w.messageList().add(listed);
    }
    auto *lv = w.findChild<QTreeView *>("LV");
    QTest::mouseClick(lv->viewport(), Qt::LeftButton, {},
                      lv->visualRect(w.messageList().index(3, 0)).center());

    w.checkCycle().CheckMail();
    QCOMPARE(w.messageList().rowCount(), 4);
    QCOMPARE(lv->currentIndex().row(), 3);
    QCOMPARE(w.selectedKey(), QString("A0 M4"));
    h.action("Delete")->trigger();
    QTRY_VERIFY(server.finished());
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
    QCOMPARE(w.messageList().rowCount(), 3);
    QVERIFY(!w.messageList().find("A0 M4"));
}

void TestMailMain::listMenuOpenedDuringACheckFollowsTheRenumbering()
{
    // The check deletes message 1 of three; the menu is opened on message 2 while message 3 is
    // read. Once the deletion is confirmed, message 2 is A0 M1, and Block Sender still acts on it.
    ScriptedPop3Server server;
    server.login({100, 100, 100}, "user", "secret", false);
    server.expect("TOP 1 1").send(top("From: Spammer <spam@junk.example>\r\nSubject: s\r\n"));
    server.expect("DELE 1").send("+OK\r\n");
    server.expect("TOP 2 1").send(top("From: Ann <ann@example.org>\r\nSubject: s\r\n"));
    server.expect("TOP 3 1").send(top("From: Ben <ben@example.org>\r\nSubject: s\r\n"));
    server.expect("QUIT").send("+OK\r\n");
    WindowHarness h;
    h.addAccount("A");
    setPort(h, server.port());
    h.configure([](POPConfig &c) { c.AddBlockedSender("Spammer <spam@junk.example>"); });
    frmMailMain &w = h.open();
    w.showNormal();
    auto *lv = w.findChild<QTreeView *>("LV");
    connect(&server, &ScriptedPop3Server::commandReceived, this, [&](const QByteArray &line) {
        if (line == "TOP 3 1")
            QTest::mouseClick(lv->viewport(), Qt::RightButton, {},
                              lv->visualRect(w.messageList().index(0, 0)).center());
    });

    w.checkCycle().CheckMail();
    QVERIFY(h.menu("RtClickMessage")->isVisible());
    h.menu("RtClickMessage")->hide();
    QCOMPARE(w.messageList().messages()[0].key, QString("A0 M1"));
    h.action("mnuAddBlock")->trigger();
    QVERIFY(w.Config()->IsBlocked("Ann <ann@example.org>"));
    QCOMPARE(w.Config()->NumberOfBlocked(), qint16(2));
}

void TestMailMain::keyboardReachesTheListAndTheToolbar()
{
    ScriptedPop3Server silent; // accepts and never greets
    ScriptedPop3Server server;
    server.login({100, 200}).expect("DELE 2").send("+OK\r\n").expect("QUIT").send("+OK\r\n");
    WindowHarness h;
    h.addAccount("A");
    setPort(h, silent.port());
    frmMailMain &w = h.open();
    w.showNormal();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *lv = w.findChild<QTreeView *>("LV");
    lv->setFocus();

    // The toolbar's commands have shortcuts: refused while busy, each one beeps.
    w.checkCycle().setBusy(true);
    const QList<QKeyCombination> refused{Qt::CTRL | Qt::Key_R, QKeyCombination(Qt::Key_F5),
                                         Qt::CTRL | Qt::Key_L, Qt::CTRL | Qt::Key_Q};
    for (const QKeyCombination key : refused)
        QTest::keyClick(lv, key.key(), key.keyboardModifiers());
    QCOMPARE(h.beeper.beeps, refused.size());
    QVERIFY(w.isVisible());
    w.checkCycle().setBusy(false);

    // Esc cancels a check that waits for a server.
    connect(&silent, &ScriptedPop3Server::clientConnected, this,
            [&] { QTest::keyClick(lv, Qt::Key_Escape); });
    QSignalSpy finished(&w.checkCycle(), &CheckCycle::checkFinished);
    QTest::keyClick(lv, Qt::Key_F5);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(silent.connectionCount(), 1);
    QVERIFY(!w.checkCycle().Busy());

    setPort(h, server.port());
    w.OpenConfiguration(); // takes the new port over
    w.messageList().add(message("A0 M1", "Ann <ann@example.org>", "uid-1"));
    w.messageList().add(message("A0 M2", "Ben <ben@example.org>", "uid-2"));
    QTest::keyClick(lv, Qt::Key_Down);
    QCOMPARE(w.selectedKey(), QString("A0 M2"));
    QMenu *menu = h.menu("RtClickMessage");

    // The menu key and Shift+F10 open the list menu on the current row.
    QTest::keyClick(lv, Qt::Key_Menu);
    QVERIFY(menu->isVisible());
    QVERIFY(h.action("mnuAddBlock")->isEnabled());
    menu->hide();
    QTest::keyClick(lv, Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY(menu->isVisible());
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Return}) // "Block Sender"
        QTest::keyClick(menu, key);
    QVERIFY(!menu->isVisible());
    QVERIFY(w.Config()->IsBlocked("Ben <ben@example.org>"));
    QCOMPARE(w.Config()->NumberOfBlocked(), qint16(1));

    // Delete runs "Delete Message" on the current row.
    QTest::keyClick(lv, Qt::Key_Delete);
    QTRY_VERIFY(server.finished());
    QCOMPARE(w.messageList().rowCount(), 1);
    QCOMPARE(w.messageList().messages()[0].key, QString("A0 M1"));
    QVERIFY(h.temp.prompter.calls.isEmpty());
}

void TestMailMain::toolbarRefusesWhileBusy()
{
    WindowHarness h;
    frmMailMain &w = h.open();
    w.messageList().add(message("A0 M1", "Ann <ann@example.org>"));
    w.checkCycle().setBusy(true);
    for (const char *key : {"Check", "Launch", "Config", "Delete", "Exit"})
        h.action(key)->trigger();
    QCOMPARE(h.beeper.beeps, 5);
    QCOMPARE(w.messageList().rowCount(), 1);
    QVERIFY(w.isVisible());
}

void TestMailMain::helpOpensTheManual()
{
    WindowHarness h;
    h.addAccount("A");
    frmMailMain &w = h.open();
    h.action("mnuHelp")->trigger();
    QVERIFY(w.isVisible());
    h.action("Help")->trigger();
    QCOMPARE(h.opened.size(), 2);
    QVERIFY(h.opened[0].toLocalFile().endsWith("docs/manual/index.html"));
}

void TestMailMain::statusPanelsReadTheirText()
{
    WindowHarness h;
    frmMailMain &w = h.open();
    const char *const names[] = {"SelectedClientPanel", "ActivityPanel", "ResultPanel"};
    const QString descriptions[] = {"Selected client", "Activity", "Result"};
    for (int panel = 1; panel <= 3; ++panel) {
        auto *label = w.findChild<QLabel *>(names[panel - 1]);
        QVERIFY(label);
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(label);
        QVERIFY(accessible);
        const QString text =
            panel == 3 ? QStringLiteral("3 New Message(s)") : QStringLiteral("Done - Checked at: 12:00:00");
        w.setPanel(panel, text);
        QCOMPARE(accessible->text(QAccessible::Name), text);
        QCOMPARE(accessible->text(QAccessible::Description), descriptions[panel - 1]);
    }
}

void TestMailMain::cancelButtonHasNoToolTip()
{
    WindowHarness h;
    frmMailMain &w = h.open();
    w.showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *toolbar = w.findChild<QToolBar *>("Toolbar1");
    const auto toolTipOf = [&](const char *key) {
        QToolTip::hideText();
        QWidget *button = toolbar->widgetForAction(h.action(key));
        const QPoint at = button->rect().center();
        QHelpEvent event(QEvent::ToolTip, at, button->mapToGlobal(at));
        QApplication::sendEvent(button, &event);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(toolTipOf("Cancel"), QString());
    QCOMPARE(toolTipOf("Check"), QString("Check for mail now")); // the way of asking works
}

void TestMailMain::exitEndsAtOnce_data()
{
    QTest::addColumn<QString>("route");
    QTest::newRow("tray menu") << "mnuExit";
    QTest::newRow("toolbar") << "Exit";
    QTest::newRow("close box") << "close";
}

void TestMailMain::exitEndsAtOnce()
{
    QFETCH(QString, route);
    WindowHarness h;
    h.addAccount("A");
    frmMailMain &w = h.open();
    w.showNormal();
    QSignalSpy exit(&w, &frmMailMain::exitRequested);
    if (route == "close")
        w.close();
    else
        h.action(qPrintable(route))->trigger();
    QCOMPARE(exit.size(), 1);
    QVERIFY(!w.isVisible());
    QVERIFY(!h.shell->shown);
    QCOMPARE(w.Config(), nullptr);
}

QTEST_MAIN(TestMailMain)
#include "tst_mailmain.moc"

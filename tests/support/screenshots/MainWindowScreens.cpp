// The main window after a check of the demo mailbox (a throwaway Dovecot), with its list menu and
// its tray menu.
#include "Screens.h"

#include "DovecotFixture.h"
#include "MailboxContent.h"
#include "PlatformFakes.h"
#include "TempStore.h"

#include "main/CheckCycle.h"
#include "platform/ProcessLauncher.h"
#include "window/frmMailMain.h"

#include "NullShellNotifyIcon.h"

#include <QApplication>
#include <QMenu>
#include <QTreeView>

#include <cstdio>

namespace
{

bool save(const QPixmap &picture, const QDir &dir, const char *name)
{
    const QString path = dir.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    if (picture.save(path))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qUtf8Printable(path));
    return false;
}

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// The demo's settings: one account on the demo mailbox and the demo's filters.
void fillStore(testsupport::TempStore &temp, quint16 port)
{
    const RegistryKey mail = temp.store()
                                 .open(QStringLiteral("HKEY_LOCAL_MACHINE\\Software"))
                                 .addSubKey(QStringLiteral("Clients"))
                                 .addSubKey(QStringLiteral("Mail"));
    mail.addSubKey(QStringLiteral("Thunderbird"));
    POPConfig config(temp.services());
    config.AddAccount(QStringLiteral("Demo mailbox"), QStringLiteral("127.0.0.1"), QStringLiteral("demo"),
                      QStringLiteral("demo"));
    temp.store()
        .root(RegistryStore::Root::LocalMachine)
        .subKey(QStringLiteral("Software\\Corvanta\\Mailvane 1.0\\Accounts\\Demo mailbox"))
        .addValue(QStringLiteral("Port"), int(port), RegType::DWord);
    config.AddBlockedSender(QString::fromLatin1(testsupport::MailboxContent::demoBlockedSender));
    config.BlockBlankSubject = true;
    config.BlockOverSize = true;
    config.setMaxMessageSize(32);
    config.setSelectedClient(QStringLiteral("Thunderbird"));
    config.setMinStyle(1);
    config.SaveConfig();
}

} // namespace

bool grabMainWindowScreens(const QDir &dir)
{
    testsupport::DovecotFixture server(
        testsupport::DovecotFixture::Users{{QStringLiteral("demo"), QStringLiteral("demo")}});
    for (const QByteArray &message : testsupport::MailboxContent::demoMessages())
        server.deliver(QStringLiteral("demo"), message);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "the demo mailbox did not start (Dovecot needs root): %s\n",
                     qUtf8Printable(error));
        return false;
    }

    testsupport::TempStore temp;
    fillStore(temp, server.port());
    testsupport::FakeConnectivity connectivity;
    testsupport::RecordingDialer dialer;
    testsupport::RecordingSoundPlayer sound;
    testsupport::RecordingBeeper beeper;
    RecordingProcessLauncher launcher;
    frmMailMain window(MainWindowEnvironment{
        temp.services(),
        connectivity,
        dialer,
        sound,
        beeper,
        temp.prompter,
        launcher,
        [](const QUrl &) {},
        [] { return true; },
        std::make_unique<wrenkit::CvSysTrayControl>(std::make_unique<wrenkit::NullShellNotifyIcon>()),
        {},
        {},
        60000});
    window.resize(760, 340);
    window.showNormal();
    settle();
    window.checkCycle().CheckMail();
    settle();
    window.findChild<QTreeView *>(QStringLiteral("LV"))->setFocus();
    settle();

    bool ok = save(window.grab(), dir, "main-window");
    for (const char *name : {"RtClickMessage", "mnuTrayPop"}) {
        auto *menu = window.findChild<QMenu *>(QString::fromLatin1(name));
        menu->popup(window.mapToGlobal(QPoint(200, 120)));
        settle();
        ok = save(menu->grab(), dir, name == QByteArray("RtClickMessage") ? "list-menu" : "tray-menu") && ok;
        menu->hide();
    }
    window.ExitProgram();
    return ok;
}

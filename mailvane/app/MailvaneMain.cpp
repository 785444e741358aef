// mailvane: the desktop program. One instance per user: a second start shows the running one's list.
#include "dialogs/DialogPrompter.h"
#include "platform/AutostartEntry.h"
#include "platform/PlatformServices.h"
#include "platform/ProcessLauncher.h"
#include "platform/RegistryStore.h"
#include "platform/SystemViews.h"
#include "window/MailvaneService.h"
#include "window/Manual.h"
#include "window/frmMailMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QThread>

#include <cstdio>

int main(int argc, char *argv[])
{
    {
        // The options are read before the window system is reached: --help works without a display.
        QCoreApplication options(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("mailvane"));
        QCoreApplication::setApplicationVersion(QStringLiteral(MAILVANE_VERSION));
        QCommandLineParser parser;
        parser.setApplicationDescription(
            QStringLiteral("Mailvane checks your POP3 mailboxes from the notification area.\n"
                           "A second start shows the running Mailvane's list. Settings: $MAILVANE_REGISTRY "
                           "when set, else $XDG_CONFIG_HOME/mailvane/registry.sqlite3."));
        parser.addHelpOption();
        parser.addVersionOption();
        parser.process(options);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("mailvane"));
    QApplication::setApplicationVersion(QStringLiteral(MAILVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("org.mailvane.Mailvane"));
    // The window is often hidden: closing a message box must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && !MailvaneService::claimName(bus)) {
        // The running instance may still be loading: ask again for a few seconds.
        QString error;
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (MailvaneService::askToShowList(bus, &error))
                return 0;
            QThread::msleep(100);
        }
        std::fprintf(stderr, "mailvane: another Mailvane holds %s but does not answer: %s\n",
                     qUtf8Printable(MailvaneService::ServiceName), qUtf8Printable(error));
        return 1;
    }

    DialogPrompter prompter;
    RegistryStore store(RegistryStore::defaultPath(), &prompter);
    mountSystemViews(store);
    XdgAutostartEntry autostart;
    PlatformServices services = PlatformServices::system(wrenkit::createSystemBeeper());
    SystemProcessLauncher launcher;
    frmMailMain window(MainWindowEnvironment{{store, prompter, autostart, services.vault.get()},
                                             *services.connectivity,
                                             *services.dialer,
                                             *services.soundPlayer,
                                             *services.beeper,
                                             prompter,
                                             launcher,
                                             {},
                                             {},
                                             {},
                                             {},
                                             {},
                                             60000,
                                             services.notifier.get()});
    QObject::connect(&window, &frmMailMain::exitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    HelpKeyFilter helpKey;
    app.installEventFilter(&helpKey);

    MailvaneService service(window);
    if (bus.isConnected() && !service.exportOn(bus))
        std::fprintf(stderr, "mailvane: could not offer %s on the session bus\n",
                     qUtf8Printable(MailvaneService::ObjectPath));

    return app.exec();
}

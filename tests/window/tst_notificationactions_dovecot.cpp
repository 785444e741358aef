// The buttons of the new-mail notification, pressed on a notification stand-in on a private bus,
// against a real Dovecot: each acts on exactly the message the notification told of.
#include "DovecotFixture.h"
#include "ListCommandsHarness.h"
#include "NotificationStandIn.h"
#include "PrivateSessionBus.h"
#include "main/NotificationActions.h"
#include "platform/DesktopNotifier.h"

#include <QtTest>

using namespace testsupport;

namespace
{
const QByteArray Spam = "Spam <spam@example.org>";

// A check over alice's mailbox whose notification goes to the stand-in, and the notification's
// buttons over the list commands; the mail client is a command that leaves a marker file.
struct Rig {
    PrivateSessionBus bus;
    NotificationStandIn service;
    bool offered = bus.isValid() && service.offerOn(bus.connect("notifications"));
    FreedesktopNotifier notifier{bus.connect("mailvane")};
    ListCommandsHarness h{1000, &notifier};
    SystemProcessLauncher launcher;
    ListCommands commands{h.bp1, h.list, h.status, h.cycle, h.host, {h.beeper, h.temp.prompter, launcher}};
    int shown = 0;
    NotificationActions actions{notifier, h.cycle, commands, h.list, h.status, [this] { ++shown; }};
    QTemporaryDir dir;

    bool start() const { return offered; }

    void setUp(const DovecotFixture &server)
    {
        h.addAccount("A", "alice", "wonderland", server.port());
        RegistryKey key = h.temp.store().root(RegistryStore::Root::LocalMachine);
        for (const QString &name : QString("Software\\Clients\\Mail\\Fixture Mail\\Shell\\open\\Command").split('\\'))
            key = key.addSubKey(name);
        key.addValue(QString(), "sh -c \"echo launched > '" + marker() + "'\"", RegType::String);
        POPConfig &config = h.loadConfig();
        config.setSelectedClient("Fixture Mail");
        config.setPlay(0);
        config.setShowList(0);
        config.SaveConfig();
        config.AddBlockedSender(QString::fromLatin1(Spam));
    }
    QString marker() const { return dir.filePath("launched"); }
};

void startOrFail(DovecotFixture &server)
{
    QString error;
    if (!server.start(&error))
        QFAIL(qPrintable(error));
}
} // namespace

class TestNotificationActionsDovecot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { MAILVANE_REQUIRE_DOVECOT(); }

    // The check deletes the spam before it, so the notified message is number 2 in the check's
    // session and number 1 afterwards (its key follows); a message that came in since stays.
    void deleteRemovesExactlyTheNotifiedMessage()
    {
        DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
        server.deliver("alice", DovecotFixture::makeMessage(QString::fromLatin1(Spam), "Offer", 300));
        server.deliver("alice", DovecotFixture::makeMessage("Ann <ann@example.org>", "Lunch", 400));
        startOrFail(server);
        Rig rig;
        QVERIFY(rig.start());
        rig.setUp(server);

        rig.h.cycle.CheckMail();
        QTRY_COMPARE(rig.service.calls.size(), 1);
        QCOMPARE(rig.h.keys(), QStringList{"A0 M1"});
        QCOMPARE(server.messageFiles("alice").size(), 1);
        const QString later = server.deliver("alice", DovecotFixture::makeMessage("Bob <bob@example.org>", "Later", 500));

        rig.service.invoke(NotificationActions::Delete);
        QTRY_COMPARE(server.messageFiles("alice"), QStringList{later});
        QCOMPARE(rig.h.list.rowCount(), 0);
        QVERIFY(rig.h.errors.isEmpty());

        // Pressed again: the message is no longer listed, nothing happens, and the panel says so.
        rig.service.invoke(NotificationActions::Delete);
        QTRY_COMPARE(rig.h.status.panel(3),
                     QString("The message of the notification is no longer listed: nothing was deleted"));
        QCOMPARE(server.messageFiles("alice"), QStringList{later});
    }

    void blockSenderStoresTheRawFromAndOpenStartsTheClient()
    {
        const QString rawFrom = "=?UTF-8?Q?J=C3=B6rg?= <jorg@example.org>";
        DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
        server.deliver("alice", DovecotFixture::makeMessage(rawFrom, "Hallo", 300));
        startOrFail(server);
        Rig rig;
        QVERIFY(rig.start());
        rig.setUp(server);
        rig.h.cycle.CheckMail();
        QTRY_COMPARE(rig.service.calls.size(), 1);

        rig.service.invoke(NotificationActions::BlockSender);
        QTRY_VERIFY(rig.h.config->IsBlocked(rawFrom));
        QCOMPARE(POPConfig(rig.h.temp.services()).IsBlocked(rawFrom), true);
        QCOMPARE(rig.h.status.panel(3), "Blocked sender: " + rawFrom);

        rig.service.invoke(NotificationActions::OpenMailClient);
        QTRY_VERIFY2(QFileInfo(rig.marker()).size() > 0, qPrintable(rig.h.status.panel(3)));
        QCOMPARE(server.messageFiles("alice").size(), 1);
    }

    // After a check that lists nothing, the older notification's buttons find no message.
    void buttonOfAMessageNoLongerListedDoesNothing()
    {
        DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
        const QString file = server.deliver("alice", DovecotFixture::makeMessage("Ann <ann@example.org>", "Lunch", 400));
        startOrFail(server);
        Rig rig;
        QVERIFY(rig.start());
        rig.setUp(server);
        rig.h.cycle.CheckMail();
        QTRY_COMPARE(rig.service.calls.size(), 1);
        rig.h.list.clear();

        rig.service.invoke(NotificationActions::BlockSender);
        QTRY_COMPARE(rig.h.status.panel(3),
                     QString("The message of the notification is no longer listed: no sender was blocked"));
        QVERIFY(!rig.h.config->IsBlocked("Ann <ann@example.org>"));
        QCOMPARE(server.messageFiles("alice"), QStringList{file});
    }
};

QTEST_GUILESS_MAIN(TestNotificationActionsDovecot)
#include "tst_notificationactions_dovecot.moc"

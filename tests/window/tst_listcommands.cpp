// The list commands without a window: the toolbar's dispatch, Block Sender, Launch, Cancel, and
// deletions against scripted servers.
#include "ListCommandsHarness.h"
#include "ScriptedPop3Server.h"
#include "platform/SystemViews.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace testsupport;

namespace
{
QByteArray top(const QByteArray &headers)
{
    return "+OK\r\n" + headers + "\r\nbody\r\n.\r\n";
}

bool sentDele(const ScriptedPop3Server &server)
{
    for (const QByteArray &line : server.received())
        if (line.startsWith("DELE"))
            return true;
    return false;
}
} // namespace

class TestListCommands : public QObject
{
    Q_OBJECT
private slots:
    void toolbarDispatch_data();
    void toolbarDispatch();
    void blockSenderStoresTheWholeFromLine();
    void blockSenderIgnoresMissingSenderAndEmptyList();
    void clientCommandTakesTheLastOfTheSameName();
    void launchStartsTheSelectedClientsCommand();
    void launchWithoutAStartableClientSaysSo();
    void cancelWithNothingRunningChangesNothing();
    void deletionFindsTheMessageByItsUniqueId();
    void deletionOfAMessageNoLongerThere();
    void deletionWithoutUidlLeavesAChangedMessage();
    void deletionAfterTheChecksOwnDeletion();
    void deletionThatTimesOutKeepsTheItem();
    void deletionTheServerRefusesKeepsTheItem_data();
    void deletionTheServerRefusesKeepsTheItem();
    void failedLoginKeepsTheItem();
    void cancelEndsADeletion();
    void accountGoneSinceTheCheckDeletesNothing();
};

void TestListCommands::toolbarDispatch_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("beeps");
    QTest::addColumn<QStringList>("hostCalls");

    const QStringList none;
    for (const char *key : {"Check", "Launch", "Config", "Delete", "Exit"})
        QTest::addRow("%s refused while busy", key) << key << true << 1 << none;
    QTest::newRow("Min runs while busy") << "Min" << true << 0 << QStringList{"ApplyMinStyle"};
    QTest::newRow("Help runs while busy") << "Help" << true << 0 << QStringList{"ShowHelp"};
    QTest::newRow("Cancel runs while busy") << "Cancel" << true << 0 << none;
    QTest::newRow("Config") << "Config" << false << 0 << QStringList{"OpenConfiguration"};
    QTest::newRow("Exit") << "Exit" << false << 0 << QStringList{"ExitProgram"};
    QTest::newRow("Delete on an empty list") << "Delete" << false << 0 << none;
    QTest::newRow("unknown key") << "Bogus" << true << 0 << none;
}

void TestListCommands::toolbarDispatch()
{
    QFETCH(QString, key);
    QFETCH(bool, busy);
    QFETCH(int, beeps);
    QFETCH(QStringList, hostCalls);

    ListCommandsHarness h;
    h.addAccount("A", "user", "secret", unusedPort());
    POPConfig &config = h.loadConfig();
    config.setSelectedClient("Mutt");
    h.status.setPanel(1, "before");
    h.cycle.setBusy(busy);

    h.commands.ButtonClick(key);
    QCOMPARE(h.beeper.beeps, beeps);
    QCOMPARE(h.host.calls, hostCalls);
    // Cancel ends the work in progress, which then clears Busy itself.
    QCOMPARE(h.cycle.Busy(), busy);
    QVERIFY(h.launcher.started.isEmpty());
    QVERIFY(h.temp.prompter.calls.isEmpty()); // no check request ran
    // "Config" shows the selected client at once.
    QCOMPARE(h.status.panel(1),
             hostCalls == QStringList{"OpenConfiguration"} ? "Selected Client: Mutt" : "before");
}

void TestListCommands::blockSenderStoresTheWholeFromLine()
{
    ListCommandsHarness h;
    h.addAccount("A", "user", "secret", unusedPort());
    h.loadConfig();
    h.listMessage("A0 M1", "Ann <ann@example.org>", "Hello", 100, "A");
    h.cycle.setBusy(true); // works also while a check runs

    h.commands.BlockSender();
    QVERIFY(h.config->IsBlocked("Ann <ann@example.org>"));
    QCOMPARE(h.config->NumberOfBlocked(), qint16(1));
    QCOMPARE(h.list.rowCount(), 1);
}

void TestListCommands::blockSenderIgnoresMissingSenderAndEmptyList()
{
    ListCommandsHarness h;
    h.addAccount("A", "user", "secret", unusedPort());
    h.loadConfig();
    h.commands.BlockSender();
    h.listMessage("A0 M1", "<NotFound>", "No sender", 100, "A");
    h.commands.BlockSender();
    QCOMPARE(h.config->NumberOfBlocked(), qint16(0));
}

void TestListCommands::clientCommandTakesTheLastOfTheSameName()
{
    const QList<MailClient> clients{{"Mutt", "first"}, {"Other", "other"}, {"Mutt", "second"}};
    QCOMPARE(ListCommands::clientCommand(clients, "Mutt"), QString("second"));
    QCOMPARE(ListCommands::clientCommand(clients, "mutt"), QString()); // exact comparison
    QCOMPARE(ListCommands::clientCommand(clients, "None"), QString());
}

void TestListCommands::launchStartsTheSelectedClientsCommand()
{
    // A desktop entry for mailto: links whose command writes a marker file.
    QTemporaryDir data;
    QVERIFY(QDir(data.path()).mkpath("applications"));
    const QString marker = data.filePath("launched");
    QFile entry(data.filePath("applications/fixture-mail.desktop"));
    QVERIFY(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nName=Fixture Mail\nMimeType=x-scheme-handler/mailto;\n"
                "Exec=sh -c \"echo launched > '" +
                marker.toUtf8() + "'\" %u\n");
    entry.close();
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("XDG_DATA_DIRS", data.filePath("none").toUtf8());

    ListCommandsHarness h;
    mountSystemViews(h.temp.store());
    POPConfig &config = h.loadConfig();
    config.setSelectedClient("Fixture Mail");
    SystemProcessLauncher launcher;
    ListCommands commands(h.bp1, h.list, h.status, h.cycle, h.host, {h.beeper, h.temp.prompter, launcher});

    commands.Launch();
    QTRY_VERIFY(QFileInfo(marker).size() > 0);
    QCOMPARE(h.status.panel(3), QString());
}

void TestListCommands::launchWithoutAStartableClientSaysSo()
{
    ListCommandsHarness h;
    RegistryKey key = h.temp.store().root(RegistryStore::Root::LocalMachine);
    for (const QString &name : QString("Software\\Clients\\Mail\\Broken\\Shell\\open\\Command").split('\\'))
        key = key.addSubKey(name);
    key.addValue(QString(), "/nonexistent/mail-client --compose", RegType::String);
    POPConfig &config = h.loadConfig();

    config.setSelectedClient("Missing");
    SystemProcessLauncher launcher;
    ListCommands commands(h.bp1, h.list, h.status, h.cycle, h.host, {h.beeper, h.temp.prompter, launcher});
    commands.Launch();
    QCOMPARE(h.status.panel(3), QString("No mail client to launch"));

    config.setSelectedClient("Broken");
    commands.Launch();
    QCOMPARE(h.status.panel(3), QString("Could not start Broken"));
}

void TestListCommands::cancelWithNothingRunningChangesNothing()
{
    ListCommandsHarness h;
    h.loadConfig();
    h.listMessage("A0 M1", "Ann <ann@example.org>", "Hello", 100, "A");
    h.commands.ButtonClick("Cancel");
    QCOMPARE(h.list.rowCount(), 1);
    QVERIFY(!h.cycle.Busy());
    QCOMPARE(h.status.panel(2), QString());
    QCOMPARE(h.status.panel(3), QString());
}

void TestListCommands::deletionFindsTheMessageByItsUniqueId()
{
    // Listed as message 2 with id uid-3: an earlier message has gone since, so it now stands at 3.
    ScriptedPop3Server server;
    server.login({100, 250, 300}).expect("DELE 3").send("+OK\r\n").expect("QUIT").send("+OK\r\n");
    ListCommandsHarness h(20);
    h.addAccount("A", "user", "secret", server.port());
    h.loadConfig();
    h.listMessage("A0 M2", "Ben <ben@example.org>", "Second", 300, "A", "uid-3");
    h.listMessage("A0 M3", "Cy <cy@example.org>", "Third", 400, "A", "uid-4");

    h.commands.DeleteServerMessage("A0 M2");
    QTRY_VERIFY(server.finished());
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::Deleted});
    QVERIFY(h.errors.isEmpty());
    QCOMPARE(h.list.rowCount(), 1);
    QVERIFY(h.list.find("A0 M2")); // the other item's key follows the server's numbers
    QVERIFY(!h.cycle.Busy());
}

void TestListCommands::deletionOfAMessageNoLongerThere()
{
    ScriptedPop3Server server;
    server.login({100, 250});
    ListCommandsHarness h(20);
    h.addAccount("A", "user", "secret", server.port());
    h.loadConfig();
    h.listMessage("A0 M3", "Cy <cy@example.org>", "Third", 400, "A", "uid-7");

    h.commands.DeleteServerMessage("A0 M3");
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::AlreadyGone});
    QVERIFY(!sentDele(server));
    QCOMPARE(h.list.rowCount(), 0);
    QCOMPARE(h.status.panel(3), QString("Message no longer on the server"));
    QVERIFY(h.messageBoxes().isEmpty());
}

void TestListCommands::deletionWithoutUidlLeavesAChangedMessage()
{
    // The check saw message 2 as Ben's; now another message stands at number 2.
    ScriptedPop3Server server;
    server.login({100, 250, 300})
        .expect("TOP 2 1")
        .send(top("From: Cy <cy@example.org>\r\nSubject: other\r\n"));
    ListCommandsHarness h(20);
    h.addAccount("A", "user", "secret", server.port());
    h.loadConfig();
    h.listMessage("A0 M2", "Ben <ben@example.org>", "Second", 200, "A");

    h.commands.DeleteServerMessage("A0 M2");
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::NotIdentified});
    QVERIFY(!sentDele(server));
    QCOMPARE(h.list.rowCount(), 1);
    QCOMPARE(h.messageBoxes().size(), 1);
    QVERIFY(!h.cycle.Busy());
}

void TestListCommands::deletionAfterTheChecksOwnDeletion()
{
    // A server without UIDL: the check deletes message 2 of three, so the server numbers the
    // third one 2 from then on, and the list's deletion must find it there.
    const QByteArray third = "From: Cy <cy@example.org>\r\nSubject: third\r\n";
    ScriptedPop3Server server;
    server.login({100, 200, 300}, "user", "secret", false);
    server.expect("TOP 1 1").send(top("From: Ann <ann@example.org>\r\nSubject: first\r\n"));
    server.expect("TOP 2 1").send(top("From: Spammer <spam@junk.example>\r\nSubject: second\r\n"));
    server.expect("DELE 2").send("+OK\r\n");
    server.expect("TOP 3 1").send(top(third)).expect("QUIT").send("+OK\r\n");
    server.nextConnection().login({100, 300}, "user", "secret", false);
    server.expect("TOP 2 1").send(top(third)).expect("DELE 2").send("+OK\r\n").expect("QUIT").send("+OK\r\n");
    ListCommandsHarness h(20);
    h.addAccount("A", "user", "secret", server.port());
    h.loadConfig().AddBlockedSender("Spammer <spam@junk.example>");

    h.cycle.CheckMail();
    QCOMPARE(h.keys(), (QStringList{"A0 M1", "A0 M2"}));
    QCOMPARE(h.list.messages()[1].from, QString("Cy <cy@example.org>"));

    h.commands.DeleteServerMessage("A0 M2");
    QTRY_VERIFY(server.finished());
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::Deleted});
    QCOMPARE(h.keys(), QStringList{"A0 M1"});
    QVERIFY(h.errors.isEmpty());
}

void TestListCommands::deletionThatTimesOutKeepsTheItem()
{
    ScriptedPop3Server server;
    server.login({120}).expect("TOP 1 1").send(top("From: Ann <ann@example.org>\r\nSubject: Hello\r\n"));
    server.expect("DELE 1"); // and no answer
    ListCommandsHarness h(20);
    h.addAccount("A", "user", "secret", server.port());
    h.loadConfig();
    h.listMessage("A0 M1", "Ann <ann@example.org>", "Hello", 120, "A");

    h.commands.DeleteServerMessage("A0 M1");
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::Failed});
    QCOMPARE(h.errors, QStringList{"A: " + wrenkit::BasicPOP::ServerTimedOut});
    QCOMPARE(h.status.panel(2), QString("Error on last attempt"));
    QCOMPARE(h.list.rowCount(), 1);
    QVERIFY(!h.cycle.Busy());
}

void TestListCommands::deletionTheServerRefusesKeepsTheItem_data()
{
    QTest::addColumn<QByteArray>("deleReply");
    QTest::addColumn<QByteArray>("quitReply");
    QTest::newRow("DELE refused") << QByteArray("-ERR locked\r\n") << QByteArray("+OK\r\n");
    QTest::newRow("QUIT refused") << QByteArray("+OK\r\n") << QByteArray("-ERR not now\r\n");
}

void TestListCommands::deletionTheServerRefusesKeepsTheItem()
{
    QFETCH(QByteArray, deleReply);
    QFETCH(QByteArray, quitReply);
    ScriptedPop3Server server;
    server.login({120}).expect("DELE 1").send(deleReply).expect("QUIT").send(quitReply);
    ListCommandsHarness h(20);
    h.addAccount("A", "user", "secret", server.port());
    h.loadConfig();
    h.listMessage("A0 M1", "Ann <ann@example.org>", "Hello", 120, "A", "uid-1");

    h.commands.DeleteServerMessage("A0 M1");
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::Failed});
    QCOMPARE(h.errors.size(), 1);
    QCOMPARE(h.status.panel(2), QString("Error on last attempt"));
    QCOMPARE(h.list.rowCount(), 1);
    QVERIFY(!h.cycle.Busy());
}

void TestListCommands::failedLoginKeepsTheItem()
{
    ScriptedPop3Server server;
    server.send("+OK ready\r\n")
        .expect("CAPA")
        .send("-ERR\r\n")
        .expect("USER user")
        .send("+OK\r\n")
        .expect("PASS secret")
        .send("-ERR denied\r\n");
    ListCommandsHarness h(20);
    h.addAccount("A", "user", "secret", server.port());
    h.loadConfig();
    h.listMessage("A0 M1", "Ann <ann@example.org>", "Hello", 120, "A");

    h.commands.DeleteServerMessage("A0 M1");
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::Failed});
    QCOMPARE(h.errors.size(), 1);
    QVERIFY(!sentDele(server));
    QCOMPARE(h.list.rowCount(), 1);
    QVERIFY(!h.cycle.Busy());
}

void TestListCommands::cancelEndsADeletion()
{
    ScriptedPop3Server server; // accepts and never greets
    ListCommandsHarness h;
    h.addAccount("A", "user", "secret", server.port());
    h.loadConfig();
    h.listMessage("A0 M1", "Ann <ann@example.org>", "Hello", 120, "A");
    connect(&server, &ScriptedPop3Server::clientConnected, this, [&] {
        QVERIFY(h.cycle.Busy());
        h.commands.ButtonClick("Delete"); // refused while the deletion runs
        h.commands.ButtonClick("Cancel");
    });

    h.commands.DeleteServerMessage("A0 M1");
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::Failed});
    QCOMPARE(h.beeper.beeps, 1);
    QCOMPARE(h.list.rowCount(), 1);
    QVERIFY(!h.cycle.Busy());
}

void TestListCommands::accountGoneSinceTheCheckDeletesNothing()
{
    ScriptedPop3Server server;
    ListCommandsHarness h;
    h.addAccount("B", "user", "secret", server.port());
    h.loadConfig();
    // Listed from account 0 when it was "A"; account 0 is now "B".
    h.listMessage("A0 M1", "Ann <ann@example.org>", "Hello", 120, "A");

    h.commands.DeleteServerMessage("A0 M1");
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::NotIdentified});
    QCOMPARE(server.connectionCount(), 0);
    QCOMPARE(h.list.rowCount(), 1);
    QCOMPARE(h.messageBoxes().size(), 1);
}

QTEST_GUILESS_MAIN(TestListCommands)
#include "tst_listcommands.moc"

// The check cycle against scripted servers: what Dovecot cannot be made to do.
#include "CheckHarness.h"
#include "ScriptedPop3Server.h"
#include "platform/PasswordVault.h"

#include <QFont>
#include <QRegularExpression>
#include <QtTest>

using namespace testsupport;

namespace {
QByteArray top(const QByteArray &headers)
{
    return "+OK\r\n" + headers + "\r\nbody\r\n.\r\n";
}

// Steps of a script: "S:bytes" the server sends, "C:line" the client must send, "X" the server
// closes.
void play(ScriptedPop3Server &server, const QStringList &steps)
{
    for (const QString &step : steps) {
        if (step.startsWith("S:"))
            server.send(step.mid(2).toLatin1());
        else if (step.startsWith("C:"))
            server.expect(step.mid(2).toLatin1());
        else if (step == "X")
            server.closeConnection();
    }
}

// Greeting, CAPA refused, USER and PASS: what follows is up to the test.
void logInOnly(ScriptedPop3Server &server)
{
    server.send("+OK\r\n").expect("CAPA").send("-ERR\r\n");
    server.expect("USER user").send("+OK\r\n").expect("PASS secret").send("+OK\r\n");
}

QByteArrayList deletesSent(const ScriptedPop3Server &server)
{
    QByteArrayList deletes;
    for (const QByteArray &line : server.received())
        if (line.startsWith("DELE"))
            deletes << line;
    return deletes;
}

const QString spammer = QStringLiteral("Spammer <spam@junk.example>");

// A keyring in memory whose reads take a while: whatever runs during the wait runs in read().
class SlowVault : public PasswordVault
{
public:
    std::function<void()> duringRead;
    QHash<QString, QString> entries;

    Status state() override { return Status::Ok; }
    Result read(const QString &account) override
    {
        if (duringRead)
            std::exchange(duringRead, {})();
        if (!entries.contains(account))
            return {Status::NotFound, {}, QStringLiteral("not found")};
        return {Status::Ok, entries.value(account), {}};
    }
    Result write(const QString &account, const QString &password) override
    {
        entries[account] = password;
        return {Status::Ok, {}, {}};
    }
    Result remove(const QString &account) override
    {
        entries.remove(account);
        return {Status::Ok, {}, {}};
    }
};
} // namespace

class TestCheckCycle : public QObject
{
    Q_OBJECT
private slots:
    void failedHeaderReadIsNeverFilteredOrListed_data();
    void failedHeaderReadIsNeverFilteredOrListed();
    void errorShownInAMessageBoxWhileTheWindowIsVisible();
    void dialFailureEndsTheCheck();
    void settingsReplacedDuringTheCheck();
    void unknownSizeAndEmptyFrom();
    void filtersMatchTheFromAsReadNotAsShown();
    void listedMessagesKeepWhatIdentifiesThem_data();
    void listedMessagesKeepWhatIdentifiesThem();
    void extraBytesAfterATopReply_data();
    void extraBytesAfterATopReply();
    void deletedTellsTheTruth_data();
    void deletedTellsTheTruth();
    void fromOfOnlyBlanksIsNoBlockedSender_data();
    void fromOfOnlyBlanksIsNoBlockedSender();
    void cancelDuringAHeaderRead();
    void cancelDuringHeaderReadsEndsTheAccount_data();
    void cancelDuringHeaderReadsEndsTheAccount();
    void settingsReplacedDuringAKeyringRead();
    void noDialWithoutAConnectionProfile();
    void statWithoutACount_data();
    void statWithoutACount();
    void countFarBeyondTheListing();
    void countFarBeyondAMailboxWithoutListing();
    void notifyNewOnly_data();
    void notifyNewOnly();
    void manualRequest_data();
    void manualRequest();
    void notification_data();
    void notification();
};

void TestCheckCycle::failedHeaderReadIsNeverFilteredOrListed_data()
{
    QTest::addColumn<bool>("refused"); // else the server stops answering
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<QByteArrayList>("deletes");

    QTest::newRow("TOP and RETR refused") << true << QStringList{"only: Server Refused Message"}
                                          << QByteArrayList{"DELE 3"};
    QTest::newRow("no reply, connection closed")
        << false << QStringList{"only: Server Not Responding or Zero-Length Message", "only: Connection Lost"} << QByteArrayList{};
}

void TestCheckCycle::failedHeaderReadIsNeverFilteredOrListed()
{
    QFETCH(bool, refused);
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({100, 200, 300});
    server.expect("TOP 1 1").send(top("From: a@example.org\r\nSubject: one\r\n"));
    server.expect("TOP 2 1");
    if (refused) {
        server.send("-ERR locked\r\n").expect("RETR 2").send("-ERR locked\r\n");
        // Message 3 has no From: with blank From blocked it is deleted.
        server.expect("TOP 3 1").send(top("Subject: three\r\n")).expect("DELE 3").send("+OK\r\n");
        server.expect("QUIT").send("+OK\r\n");
    }
    h.addAccount("only", "user", "secret", server.port());
    POPConfig &config = h.loadConfig();
    config.BlockBlankFrom = true;
    // A second check asked for while the first one reports an error changes nothing.
    QObject::connect(&h.cycle, &CheckCycle::errorReported, &h.cycle, &CheckCycle::CheckMail);

    h.cycle.CheckMail();
    QCOMPARE(h.keys(), QStringList{"A0 M1"});
    QTEST(h.errors, "errors");
    QVERIFY(h.busyDuringErrors);
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
    QTEST(deletesSent(server), "deletes");
    QCOMPARE(server.connectionCount(), 1);
    QCOMPARE(h.status.panel(3), QString("1 New Message(s)"));
    QCOMPARE(h.finished, QList<bool>{true});
    QVERIFY(!h.cycle.Busy());
}

void TestCheckCycle::errorShownInAMessageBoxWhileTheWindowIsVisible()
{
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.send("-ERR too busy\r\n");
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();
    h.status.showWindow();
    QString panel2AtError;
    QObject::connect(&h.cycle, &CheckCycle::errorReported, [&] { panel2AtError = h.status.panel(2); });

    h.cycle.CheckMail();
    QCOMPARE(h.temp.prompter.calls.size(), 1);
    QCOMPARE(h.temp.prompter.calls[0].title, QString("Mailvane 1.0"));
    QCOMPARE(h.temp.prompter.calls[0].text, QString("only: Invalid User Name"));
    QCOMPARE(panel2AtError, QString("Error on last attempt"));
    QCOMPARE(h.status.panel(3), QString("0 New Message(s)"));
}

void TestCheckCycle::dialFailureEndsTheCheck()
{
    CheckHarness h;
    ScriptedPop3Server first;
    ScriptedPop3Server second;
    first.login({10});
    h.addAccount("first", "user", "secret", first.port());
    h.addAccount("second", "user", "secret", second.port());
    POPConfig &config = h.loadConfig();
    config.ConnectionToUse = "Dial-up";
    config.HangUpWhenDone = true;
    h.connectivity.connected = false;
    h.dialer.handleToGive = 0;
    h.list.add({"A0 M9", "old", "old", " 1  k", "first", 10});

    h.cycle.CheckMail();
    QCOMPARE(h.dialer.dialled, QStringList{"Dial-up"});
    QCOMPARE(h.status.panel(2), QString("Internet Connection Failed"));
    QCOMPARE(h.status.panel(3), QString());
    QCOMPARE(h.finished, QList<bool>{false});
    QCOMPARE(first.connectionCount() + second.connectionCount(), 0);
    QCOMPARE(h.list.rowCount(), 0);
    QVERIFY(h.dialer.hungUp.isEmpty());
    QVERIFY(!h.cycle.Busy());
}

void TestCheckCycle::settingsReplacedDuringTheCheck()
{
    // The configuration dialog, opened from the tray during a wait, removes the second account;
    // the main window then hands the cycle a new settings object.
    CheckHarness h;
    ScriptedPop3Server first;
    ScriptedPop3Server second;
    first.login({10}).expect("TOP 1 1").send(top("From: a@example.org\r\nSubject: s\r\n"));
    first.expect("QUIT").send("+OK\r\n");
    second.login({10});
    h.addAccount("first", "user", "secret", first.port());
    h.addAccount("second", "user", "secret", second.port());
    h.loadConfig();
    connect(&first, &ScriptedPop3Server::commandReceived, this, [&](const QByteArray &line) {
        if (line != "TOP 1 1")
            return;
        POPConfig dialog(h.temp.services());
        dialog.DeleteAccount("second");
        h.loadConfig();
    });

    h.cycle.CheckMail();
    QCOMPARE(h.keys(), QStringList{"A0 M1"});
    QCOMPARE(second.connectionCount(), 0);
    QCOMPARE(h.status.panel(3), QString("1 New Message(s)"));
}

void TestCheckCycle::unknownSizeAndEmptyFrom()
{
    CheckHarness h(20);
    ScriptedPop3Server server;
    logInOnly(server);
    server.expect("STAT").send("+OK 2 99999\r\n").expect("LIST").send("+OK\r\n1 500\r\n2 unknown\r\n.\r\n");
    server.expect("UIDL").send("-ERR\r\n");
    server.expect("TOP 1 1").send(top("From: \r\nSubject: empty from\r\n"));
    server.expect("TOP 2 1").send(top("From: x@example.org\r\nSubject: no size\r\n")).expect("QUIT").send("+OK\r\n");
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender("someone@example.org");
    }
    h.addAccount("only", "user", "secret", server.port());
    POPConfig &config = h.loadConfig();
    config.BlockOverSize = true;
    config.setMaxMessageSize(1);
    config.BlockZeroLength = true;

    h.cycle.CheckMail();
    // The empty From of message 1 is contained in every blocked entry, yet names no sender.
    // Message 2 has no listed size: no size filter applies, and its size shows as a question mark.
    QVERIFY(h.rejected.isEmpty());
    QCOMPARE(h.keys(), (QStringList{"A0 M1", "A0 M2"}));
    QCOMPARE(h.list.messages()[0].from, QString());
    QCOMPARE(h.list.messages()[0].size, QString(" 0  k"));
    QCOMPARE(h.list.messages()[1].size, QString(" ?  k"));
    QCOMPARE(h.errors, QStringList());
    QTRY_VERIFY(server.finished());
}

void TestCheckCycle::filtersMatchTheFromAsReadNotAsShown()
{
    // Both senders read "Jörg <jorg@example.org>" in the list; only the first one's From, as the
    // server sent it, is the blocked entry.
    const QByteArray encoded = "=?UTF-8?Q?J=C3=B6rg?= <jorg@example.org>";
    const QByteArray rawUtf8 = "J\xC3\xB6rg <jorg@example.org>";
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({100, 100});
    server.expect("TOP 1 1").send(top("From: " + encoded + "\r\nSubject: =?UTF-8?B?R3LDvMOfZQ==?=\r\n"));
    server.expect("DELE 1").send("+OK\r\n");
    server.expect("TOP 2 1").send(top("From: " + rawUtf8 + "\r\nSubject: =?UTF-8?B?R3LDvMOfZQ==?=\r\n"));
    server.expect("QUIT").send("+OK\r\n");
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender(QString::fromLatin1(encoded));
    }
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();

    h.cycle.CheckMail();
    QCOMPARE(h.rejected.size(), 1);
    QCOMPARE(h.rejected[0].reason, RejectReason::BlockedSender);
    QCOMPARE(h.rejected[0].from, QString::fromLatin1(encoded));
    QCOMPARE(h.keys(), QStringList{"A0 M1"}); // message 2 is number 1 once message 1 is gone
    const QModelIndex from = h.list.index(0, MessageListModel::From);
    QCOMPARE(from.data().toString(), u"Jörg <jorg@example.org>"_qs);
    QCOMPARE(from.data(MessageListModel::RawTextRole).toString(), QString::fromLatin1(rawUtf8));
    QCOMPARE(h.list.messages()[0].from, QString::fromLatin1(rawUtf8));
    QCOMPARE(h.list.index(0, MessageListModel::Subject).data().toString(), u"Grüße"_qs);
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
    QTRY_VERIFY(server.finished());
}

void TestCheckCycle::listedMessagesKeepWhatIdentifiesThem_data()
{
    QTest::addColumn<bool>("withUidl");
    QTest::newRow("server with UIDL") << true;
    QTest::newRow("server without UIDL") << false;
}

void TestCheckCycle::listedMessagesKeepWhatIdentifiesThem()
{
    QFETCH(bool, withUidl);
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({100, 2000}, "user", "secret", withUidl);
    server.expect("TOP 1 1").send(top("From: a@example.org\r\nTo: me@example.org\r\nSubject: one\r\n"
                                      "Date: Mon, 1 Jan 2024 10:00:00 +0000\r\n"));
    server.expect("TOP 2 1").send(top("From: b@example.org\r\nSubject: two\r\n")).expect("QUIT").send("+OK\r\n");
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();

    h.cycle.CheckMail();
    QCOMPARE(h.keys(), (QStringList{"A0 M1", "A0 M2"}));
    const ListedMessage &first = h.list.messages()[0];
    const ListedMessage &second = h.list.messages()[1];
    QCOMPARE(first.uniqueId, withUidl ? QString("uid-1") : QString());
    QCOMPARE(second.uniqueId, withUidl ? QString("uid-2") : QString());
    QCOMPARE(first.from, QString("a@example.org"));
    QCOMPARE(first.subject, QString("one"));
    QCOMPARE(first.to, QString("me@example.org"));
    QCOMPARE(first.date, QString("Mon, 1 Jan 2024 10:00:00 +0000"));
    QCOMPARE(first.sizeBytes, 100);
    QCOMPARE(second.to, QString("<NotFound>"));
    QCOMPARE(second.date, QString("<NotFound>"));
    QCOMPARE(second.sizeBytes, 2000);
    QCOMPARE(h.errors, QStringList());
}

void TestCheckCycle::extraBytesAfterATopReply_data()
{
    QTest::addColumn<QStringList>("afterTop1");

    // Message 1 has no From; the bytes after its reply name a blocked sender. Message 2 is from
    // that sender too, but its reply comes after the first unexpected byte.
    const QString reply = "S:" + QString::fromLatin1(top("Subject: one\r\n"));
    const QString extra = "From: " + spammer + "\r\n\r\n.\r\n";
    QTest::newRow("in the same chunk") << QStringList{reply + extra};
    QTest::newRow("written right after") << QStringList{reply, "S:" + extra};
    QTest::newRow("after the next command went out") << QStringList{reply, "C:TOP 2 1", "S:" + extra};
}

void TestCheckCycle::extraBytesAfterATopReply()
{
    QFETCH(QStringList, afterTop1);
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({100, 200});
    play(server, QStringList{"C:TOP 1 1"} + afterTop1 +
                     QStringList{"C:TOP 2 1", "S:" + QString::fromLatin1(top("From: " + spammer.toLatin1() + "\r\n")),
                                 "C:DELE 2", "S:+OK\r\n", "C:QUIT", "S:+OK\r\n"});
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender(spammer);
    }
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();

    h.cycle.CheckMail();
    QVERIFY(!h.errors.isEmpty());
    QCOMPARE(h.errors.first(), QString("only: Server Out Of Step"));
    QCOMPARE(h.errors.count("only: Server Out Of Step"), 1);
    QVERIFY(deletesSent(server).isEmpty());
    QVERIFY(h.rejected.isEmpty());
    for (const ListedMessage &m : h.list.messages())
        QCOMPARE(m.from, QString("<NotFound>"));
    QCOMPARE(h.finished, QList<bool>{true});
}

void TestCheckCycle::deletedTellsTheTruth_data()
{
    QTest::addColumn<QStringList>("afterDele"); // what follows DELE 1
    QTest::addColumn<bool>("cancelAtTop2");
    QTest::addColumn<QStringList>("errors");
    QTest::addColumn<bool>("deleted");

    const QString friendTop = "S:" + QString::fromLatin1(top("From: friend@example.org\r\nSubject: s\r\n"));
    const QStringList toQuit{"C:TOP 2 1", friendTop, "C:QUIT"};
    // The server accepts only "QUIT" without a blank, as strict servers (Cyrus) do.
    QTest::newRow("DELE and QUIT accepted") << QStringList{"S:+OK\r\n"} + toQuit + QStringList{"S:+OK\r\n"} << false
                                            << QStringList{} << true;
    QTest::newRow("QUIT refused") << QStringList{"S:+OK\r\n"} + toQuit + QStringList{"S:-ERR Syntax error\r\n"}
                                  << false << QStringList{"only: Deletions Not Confirmed"} << false;
    QTest::newRow("DELE refused") << QStringList{"S:-ERR\r\n"} + toQuit + QStringList{"S:+OK\r\n"} << false
                                  << QStringList{"only: Server Refused Deletion"} << false;
    QTest::newRow("time-out after DELE") << QStringList{} << false
                                         << QStringList{"only: Server Timed Out", "only: Connection Lost"} << false;
    QTest::newRow("cancelled after DELE") << QStringList{"S:+OK\r\n", "C:TOP 2 1"} << true << QStringList{} << false;
}

void TestCheckCycle::deletedTellsTheTruth()
{
    QFETCH(QStringList, afterDele);
    QFETCH(bool, cancelAtTop2);
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({100, 200});
    play(server, QStringList{"C:TOP 1 1", "S:" + QString::fromLatin1(top("From: " + spammer.toLatin1() + "\r\n")),
                             "C:DELE 1"} + afterDele);
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender(spammer);
    }
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();
    if (cancelAtTop2)
        connect(&server, &ScriptedPop3Server::commandReceived, &h.cycle, [&](const QByteArray &line) {
            if (line == "TOP 2 1")
                h.cycle.Cancel();
        });

    h.cycle.CheckMail();
    QTEST(h.errors, "errors");
    QCOMPARE(h.rejected.size(), 1);
    QCOMPARE(h.rejected[0].number, 1);
    QTEST(h.rejected[0].deleted, "deleted");
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
    if (afterDele.contains("C:QUIT"))
        QCOMPARE(server.received().last(), QByteArray("QUIT"));
    QCOMPARE(h.finished, QList<bool>{true});
}

void TestCheckCycle::fromOfOnlyBlanksIsNoBlockedSender_data()
{
    QTest::addColumn<QByteArray>("fromLine");
    QTest::addColumn<QString>("blocked");
    QTest::addColumn<QString>("from");

    QTest::newRow("two blanks") << QByteArray("From:  ") << spammer << " ";
    QTest::newRow("a blank and a tab") << QByteArray("From: \t ") << "x\t y" << "\t ";
}

void TestCheckCycle::fromOfOnlyBlanksIsNoBlockedSender()
{
    QFETCH(QByteArray, fromLine);
    QFETCH(QString, blocked);
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({100});
    server.expect("TOP 1 1").send(top(fromLine + "\r\nSubject: s\r\n")).expect("QUIT").send("+OK\r\n");
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender(blocked);
    }
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();

    h.cycle.CheckMail();
    QVERIFY(h.rejected.isEmpty());
    QCOMPARE(h.keys(), QStringList{"A0 M1"});
    QTEST(h.list.messages()[0].from, "from");
    QVERIFY(deletesSent(server).isEmpty());
}

void TestCheckCycle::cancelDuringAHeaderRead()
{
    // Message 2's read is cancelled while its reply is late: it must not be taken for a second
    // message from message 1's sender.
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({100, 200});
    server.expect("TOP 1 1").send(top("From: friend@example.org\r\nSubject: one\r\n"));
    server.expect("TOP 2 1").send(top("From: other@example.org\r\nSubject: two\r\n"), 5000);
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();
    connect(&server, &ScriptedPop3Server::commandReceived, &h.cycle, [&](const QByteArray &line) {
        if (line == "TOP 2 1")
            h.cycle.Cancel();
    });

    h.cycle.CheckMail();
    QCOMPARE(h.keys(), QStringList{"A0 M1"});
    QCOMPARE(h.cycle.NewMessageCount(), 1);
    QVERIFY(h.rejected.isEmpty());
    QCOMPARE(h.status.panel(3), QString("1 New Message(s)"));
}

void TestCheckCycle::cancelDuringHeaderReadsEndsTheAccount_data()
{
    QTest::addColumn<bool>("nextLogInFails"); // by a refused STAT, which the control reports no error for
    QTest::addColumn<QStringList>("nextErrors");
    QTest::addColumn<QStringList>("keys");

    QTest::newRow("the next account is checked") << false << QStringList{} << QStringList{"A0 M1", "A1 M1"};
    QTest::newRow("the next account's failed log-in is reported")
        << true << QStringList{"second: Login Failed"} << QStringList{"A0 M1"};
}

void TestCheckCycle::cancelDuringHeaderReadsEndsTheAccount()
{
    // Cancel while message 2 of six is read, with the window visible: each error is a box.
    QFETCH(bool, nextLogInFails);
    CheckHarness h(20);
    ScriptedPop3Server first;
    ScriptedPop3Server second;
    first.login({100, 100, 100, 100, 100, 100});
    first.expect("TOP 1 1").send(top("From: a@example.org\r\nSubject: one\r\n"));
    first.expect("TOP 2 1"); // no answer: the user cancels
    if (nextLogInFails) {
        logInOnly(second);
        second.expect("STAT").send("-ERR mailbox in use\r\n").expect("LIST").send("+OK\r\n.\r\n");
    } else {
        second.login({100});
        second.expect("TOP 1 1")
            .send(top("From: b@example.org\r\nSubject: two\r\n"))
            .expect("QUIT")
            .send("+OK\r\n");
    }
    h.addAccount("first", "user", "secret", first.port());
    h.addAccount("second", "user", "secret", second.port());
    h.loadConfig();
    h.status.showWindow();
    connect(&first, &ScriptedPop3Server::commandReceived, &h.cycle, [&](const QByteArray &line) {
        if (line == "TOP 2 1")
            h.cycle.Cancel();
    });

    h.cycle.CheckMail();
    QCOMPARE(first.received().last(), QByteArray("TOP 2 1"));
    const QStringList firstErrors = h.errors.filter(QRegularExpression("^first: "));
    QVERIFY2(firstErrors.size() <= 1, qPrintable(firstErrors.join(", ")));
    QTEST(h.errors.filter(QRegularExpression("^second: ")), "nextErrors");
    QCOMPARE(h.temp.prompter.calls.size(), h.errors.size());
    QTEST(h.keys(), "keys");
    QVERIFY2(second.unexpected().isEmpty(), second.unexpected());
    QCOMPARE(h.finished, QList<bool>{true});
}

void TestCheckCycle::settingsReplacedDuringAKeyringRead()
{
    // While the password of account 0, "b first", is read from the keyring, the configuration
    // dialog adds "a other" on another server: accounts come in name order, so index 0 now names
    // that one. The scripted servers record what they receive.
    CheckHarness h(20);
    ScriptedPop3Server first;
    ScriptedPop3Server other;
    other.login({}, "other", "other-secret").expect("QUIT").send("+OK\r\n");
    SlowVault vault;
    const SettingsServices services{h.temp.store(), h.temp.prompter, h.temp.autostart, &vault};
    {
        POPConfig setup(services);
        setup.setUseKeyring(true);
        setup.SaveConfig();
        setup.AddAccount({"b first", "127.0.0.1", "user", "first-secret", first.port()});
    }
    QCOMPARE(vault.entries.value("b first"), QString("first-secret"));
    h.config = std::make_unique<POPConfig>(services);
    h.cycle.setConfig(h.config.get());
    vault.duringRead = [&] {
        POPConfig dialog(services);
        dialog.AddAccount({"a other", "127.0.0.1", "other", "other-secret", other.port()});
        h.config = std::make_unique<POPConfig>(services);
        h.cycle.setConfig(h.config.get());
    };

    h.cycle.CheckMail();
    for (const QByteArray &line : other.received())
        QVERIFY2(!line.contains("first-secret"), line.constData());
    // Index 0 is skipped; the check walks only as many accounts as it found at its start.
    QCOMPARE(other.connectionCount(), 0);
    QVERIFY(h.errors.isEmpty());
    QCOMPARE(h.finished, QList<bool>{true});
}

void TestCheckCycle::noDialWithoutAConnectionProfile()
{
    // The system says offline, but there is no profile to dial: the server is tried as it is.
    CheckHarness h(20);
    ScriptedPop3Server server;
    server.login({100});
    server.expect("TOP 1 1").send(top("From: a@example.org\r\nSubject: s\r\n")).expect("QUIT").send("+OK\r\n");
    h.addAccount("only", "user", "secret", server.port());
    POPConfig &config = h.loadConfig();
    config.ConnectionToUse = QString();
    config.HangUpWhenDone = true;
    h.connectivity.connected = false;

    h.cycle.CheckMail();
    QVERIFY(h.dialer.dialled.isEmpty());
    QVERIFY(h.dialer.hungUp.isEmpty());
    QCOMPARE(h.keys(), QStringList{"A0 M1"});
    QCOMPARE(h.status.panel(3), QString("1 New Message(s)"));
}

void TestCheckCycle::statWithoutACount_data()
{
    QTest::addColumn<int>("badAccount");
    QTest::newRow("on the first account") << 0;
    QTest::newRow("on the second account") << 1;
}

void TestCheckCycle::statWithoutACount()
{
    QFETCH(int, badAccount);
    CheckHarness h(20);
    ScriptedPop3Server servers[2];
    ScriptedPop3Server &bad = servers[badAccount];
    ScriptedPop3Server &good = servers[1 - badAccount];
    logInOnly(bad);
    bad.expect("STAT").send("+OK lots of mail\r\n");
    good.login({100, 200});
    good.expect("TOP 1 1").send(top("From: a@example.org\r\nSubject: s\r\n"));
    good.expect("TOP 2 1").send(top("From: b@example.org\r\nSubject: t\r\n")).expect("QUIT").send("+OK\r\n");
    h.addAccount("first", "user", "secret", servers[0].port());
    h.addAccount("second", "user", "secret", servers[1].port());
    h.loadConfig();

    h.cycle.CheckMail();
    QCOMPARE(h.errors, QStringList{(badAccount == 0 ? "first" : "second") + QString(": Invalid Message Count")});
    const QString good0 = QString("A%1 M").arg(1 - badAccount);
    QCOMPARE(h.keys(), (QStringList{good0 + "1", good0 + "2"}));
    QCOMPARE(bad.received().last(), QByteArray("STAT"));
    QVERIFY(good.finished());
}

void TestCheckCycle::countFarBeyondTheListing()
{
    CheckHarness h(20);
    ScriptedPop3Server server;
    logInOnly(server);
    QByteArray listing = "+OK\r\n";
    for (int n = 1; n <= 7; ++n)
        listing += QByteArray::number(n) + " 100\r\n";
    server.expect("STAT").send("+OK 2147483647 1\r\n").expect("LIST").send(listing + ".\r\n");
    server.expect("UIDL").send("-ERR\r\n");
    for (int n = 1; n <= 7; ++n)
        server.expect("TOP " + QByteArray::number(n) + " 1").send(top("From: a@example.org\r\nSubject: s\r\n"));
    server.expect("QUIT").send("+OK\r\n");
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();

    h.cycle.CheckMail();
    QCOMPARE(h.errors, QStringList{"only: Message Count Beyond Listing"});
    QCOMPARE(h.list.rowCount(), 7);
    QVERIFY(server.finished());
}

void TestCheckCycle::countFarBeyondAMailboxWithoutListing()
{
    // Without a listing, ten refused numbers in a row end the walk.
    CheckHarness h(20);
    ScriptedPop3Server server;
    logInOnly(server);
    server.expect("STAT").send("+OK 2147483647 1\r\n").expect("LIST").send("-ERR not now\r\n");
    server.expect("UIDL").send("-ERR\r\n");
    server.expect("TOP 1 1").send(top("From: a@example.org\r\nSubject: s\r\n"));
    for (int n = 2; n <= 11; ++n) {
        const QByteArray number = QByteArray::number(n);
        server.expect("TOP " + number + " 1").send("-ERR no such message\r\n");
        server.expect("RETR " + number).send("-ERR no such message\r\n");
    }
    server.expect("QUIT").send("+OK\r\n");
    h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();

    h.cycle.CheckMail();
    QStringList expected(10, "only: Server Refused Message");
    expected << "only: Too Many Refused Messages";
    QCOMPARE(h.errors, expected);
    QCOMPARE(h.keys(), QStringList{"A0 M1"});
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
    QVERIFY(server.finished());
}

void TestCheckCycle::notifyNewOnly_data()
{
    QTest::addColumn<bool>("withUidl");
    QTest::newRow("known by unique id") << true;
    QTest::newRow("known by size and headers") << false;
}

void TestCheckCycle::notifyNewOnly()
{
    // Messages are named by letters; each check's mailbox numbers them anew.
    QFETCH(bool, withUidl);
    CheckHarness h(20);
    ScriptedPop3Server server;
    const auto session = [&](const QByteArray &letters) {
        if (server.connectionCount() > 0 || !server.finished())
            server.nextConnection();
        logInOnly(server);
        QByteArray listing = "+OK\r\n";
        QByteArray uidl = "+OK\r\n";
        for (qsizetype n = 1; n <= letters.size(); ++n) {
            const QByteArray number = QByteArray::number(n);
            listing += number + ' ' + QByteArray::number(100 + letters[n - 1]) + "\r\n";
            uidl += number + " id-" + letters[n - 1] + "\r\n";
        }
        server.expect("STAT").send("+OK " + QByteArray::number(letters.size()) + " 1000\r\n");
        server.expect("LIST").send(listing + ".\r\n");
        server.expect("UIDL").send(withUidl ? uidl + ".\r\n" : QByteArray("-ERR\r\n"));
        for (qsizetype n = 1; n <= letters.size(); ++n)
            server.expect("TOP " + QByteArray::number(n) + " 1")
                .send(top("From: " + letters.mid(n - 1, 1) + "@example.org\r\nSubject: s\r\n"));
        server.expect("QUIT").send("+OK\r\n");
    };
    const auto bold = [&] {
        QStringList froms;
        for (int row = 0; row < h.list.rowCount(); ++row)
            if (h.list.data(h.list.index(row, MessageListModel::Subject), Qt::FontRole).value<QFont>().bold())
                froms << h.list.messages()[row].from;
        return froms;
    };
    h.addAccount("only", "user", "secret", server.port());
    {
        POPConfig &config = h.loadConfig();
        config.setNotifyNewOnly(true);
        config.setBeep(1);
        config.setShowList(0);
        config.setPlay(0);
        config.SaveConfig();
    }

    session("ab");
    h.cycle.CheckMail();
    QCOMPARE(h.list.rowCount(), 2);
    QCOMPARE(h.beeper.beeps, 1);
    QCOMPARE(bold(), (QStringList{"a@example.org", "b@example.org"}));

    // The same mailbox after a restart: listed and counted, but nothing is news.
    h.config.reset();
    h.temp.close();
    h.loadConfig();
    session("ab");
    h.cycle.CheckMail();
    QCOMPARE(h.list.rowCount(), 2);
    QCOMPARE(h.status.panel(3), QString("2 New Message(s)"));
    QCOMPARE(h.beeper.beeps, 1);
    QCOMPARE(bold(), QStringList());

    session("abc");
    h.cycle.CheckMail();
    QCOMPARE(h.beeper.beeps, 2);
    QCOMPARE(bold(), QStringList{"c@example.org"});

    // Message a is gone: it is forgotten, so that the store holds what the server holds.
    session("bc");
    h.cycle.CheckMail();
    QCOMPARE(h.beeper.beeps, 2);
    QCOMPARE(h.config->KnownMessages("only").size(), 2);
    QCOMPARE(h.errors, QStringList());
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
}

void TestCheckCycle::manualRequest_data()
{
    QTest::addColumn<bool>("withAccount");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("checkAnyway");
    QTest::addColumn<QString>("prompt"); // title and text of the one prompt shown, if any
    QTest::addColumn<QString>("panel2");
    QTest::addColumn<bool>("checked");

    QTest::newRow("no accounts") << false << true << false
                                 << "No Accounts|You must set up an account first\r\nPlease go to the configuration screen"
                                 << "" << false;
    QTest::newRow("not connected, declined") << true << false << false << "Mailvane|Not Connected\r\nCheck Anyway?"
                                             << "Not Connected" << false;
    QTest::newRow("not connected, check anyway") << true << false << true << "Mailvane|Not Connected\r\nCheck Anyway?"
                                                 << "Done - Checked at:" << true;
    QTest::newRow("connected") << true << true << false << "" << "Done - Checked at:" << true;
}

void TestCheckCycle::manualRequest()
{
    QFETCH(bool, withAccount);
    QFETCH(bool, connected);
    QFETCH(QString, panel2);
    CheckHarness h;
    ScriptedPop3Server server;
    server.login({}).expect("QUIT").send("+OK\r\n");
    if (withAccount)
        h.addAccount("only", "user", "secret", server.port());
    h.loadConfig();
    h.connectivity.connected = connected;
    h.temp.prompter.questionAnswer = [] { QFETCH(bool, checkAnyway); return checkAnyway; }();

    h.cycle.RequestCheck();
    QStringList prompts;
    for (const RecordingPrompter::Call &call : h.temp.prompter.calls)
        prompts << call.title + '|' + call.text;
    QFETCH(QString, prompt);
    QCOMPARE(prompts, prompt.isEmpty() ? QStringList() : QStringList{prompt});
    QVERIFY2(panel2.isEmpty() ? h.status.panel(2).isEmpty() : h.status.panel(2).startsWith(panel2),
             qPrintable(h.status.panel(2)));
    QTEST(!h.finished.isEmpty(), "checked");
}

void TestCheckCycle::notification_data()
{
    QTest::addColumn<int>("noNotify");
    QTest::addColumn<int>("beep");
    QTest::addColumn<int>("play");
    QTest::addColumn<int>("show");
    QTest::addColumn<QString>("soundFile");
    QTest::addColumn<int>("beeps");
    QTest::addColumn<QStringList>("played");
    QTest::addColumn<bool>("shown");

    QTest::newRow("all three") << 0 << 1 << 1 << 1 << "/tmp/new.wav" << 1 << QStringList{"/tmp/new.wav"} << true;
    QTest::newRow("no notification overrides all") << 1 << 1 << 1 << 1 << "/tmp/new.wav" << 0 << QStringList{} << false;
    QTest::newRow("play without a file") << 0 << 0 << 1 << 0 << "" << 0 << QStringList{} << false;
    QTest::newRow("only 1 counts as on") << 2 << 2 << 2 << 2 << "/tmp/new.wav" << 0 << QStringList{} << false;
}

void TestCheckCycle::notification()
{
    QFETCH(int, noNotify);
    QFETCH(int, beep);
    QFETCH(int, play);
    QFETCH(int, show);
    QFETCH(QString, soundFile);
    CheckHarness h;
    POPConfig &config = h.loadConfig();
    config.setNoNotify(noNotify);
    config.setBeep(beep);
    config.setPlay(play);
    config.setShowList(show);
    config.setSoundFile(soundFile);

    h.cycle.NotifyNewMail();
    QTEST(h.beeper.beeps, "beeps");
    QTEST(h.sound.played, "played");
    QTEST(h.status.isWindowVisible(), "shown");
}

QTEST_GUILESS_MAIN(TestCheckCycle)
#include "tst_checkcycle.moc"

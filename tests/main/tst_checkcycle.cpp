// The check cycle against scripted servers: what Dovecot cannot be made to do.
#include "CheckHarness.h"
#include "ScriptedPop3Server.h"

#include <QtTest>

using namespace testsupport;

namespace {
QByteArray top(const QByteArray &headers)
{
    return "+OK\r\n" + headers + "\r\nbody\r\n.\r\n";
}
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
        server.expect("TOP 3 1").send(top("Subject: three\r\n")).expect("DELE 3").send("+OK\r\n").expect("QUIT ");
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
    QByteArrayList deletes;
    for (const QByteArray &line : server.received())
        if (line.startsWith("DELE"))
            deletes << line;
    QTEST(deletes, "deletes");
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
    server.send("+OK\r\n").expect("USER user").send("+OK\r\n").expect("PASS secret").send("+OK\r\n");
    server.expect("STAT").send("+OK 2 99999\r\n").expect("LIST").send("+OK\r\n1 500\r\n.\r\n");
    server.expect("TOP 1 1").send(top("From: \r\nSubject: empty from\r\n"));
    server.expect("TOP 2 1").send(top("From: x@example.org\r\nSubject: no size\r\n")).expect("QUIT ");
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
    server.login({});
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

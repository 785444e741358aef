// mailvane-check as a user runs it: its output, its exit status, and what it does to the server.
#include "CheckHarness.h"
#include "DovecotFixture.h"
#include "ScriptedPop3Server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

using namespace testsupport;

namespace {
struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
} // namespace

class TestCheckTool : public QObject
{
    Q_OBJECT
private slots:
    void noAccounts();
    void dryRunThenCheck();
    void errorsGiveExitStatus1();
    void messageTextsAreNeverFormats();
    void deletedOnlyWhenTheServerConfirmed_data();
    void deletedOnlyWhenTheServerConfirmed();

private:
    Run run(const TempStore &store, const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MAILVANE_REGISTRY", store.path());
        process.setProcessEnvironment(env);
        // The event loop runs meanwhile, for scripted servers in this process.
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(QStringLiteral(MAILVANE_CHECK_BINARY), arguments);
        if (!finished.wait(60000)) {
            process.kill();
            process.waitForFinished();
        }
        return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    }
};

void TestCheckTool::noAccounts()
{
    TempStore store;
    const Run result = run(store, {"--json"});
    QCOMPARE(result.exitCode, 2);
    QCOMPARE(result.err, QByteArray("You must set up an account first\n"));
    QVERIFY(result.out.isEmpty());
}

void TestCheckTool::dryRunThenCheck()
{
    MAILVANE_REQUIRE_DOVECOT();
    DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
    server.deliver("alice", DovecotFixture::makeMessage("Friend <friend@example.org>", "Lunch", 3000));
    server.deliver("alice", DovecotFixture::makeMessage("Bulk <offers@junk.example>", "Offer", 100));
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));

    CheckHarness h;
    h.addAccount("Work", "alice", "wonderland", server.port());
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender("Bulk <offers@junk.example>");
    }
    h.temp.close();

    Run result = run(h.temp, {"--dry-run", "--json"});
    QCOMPARE(result.exitCode, 0);
    const QJsonObject json = QJsonDocument::fromJson(result.out).object();
    const QJsonArray messages = json["messages"].toArray();
    QCOMPARE(messages.size(), 1);
    const QJsonObject listed = messages[0].toObject();
    QCOMPARE(listed["key"].toString(), QString("A0 M1"));
    QCOMPARE(listed["from"].toString(), QString("Friend <friend@example.org>"));
    QCOMPARE(listed["subject"].toString(), QString("Lunch"));
    QCOMPARE(listed["account"].toString(), QString("Work"));
    QVERIFY(listed["size"].toInt() > 3000);
    QCOMPARE(listed["sizeText"].toString(), QString(" 3  k"));
    const QJsonObject rejected = json["rejected"].toArray()[0].toObject();
    QCOMPARE(rejected["reason"].toString(), QString("blockedSender"));
    QCOMPARE(rejected["number"].toInt(), 2);
    QCOMPARE(rejected["accountIndex"].toInt(), 0);
    QCOMPARE(rejected["deleted"].toBool(), false);
    QCOMPARE(json["newMessageCount"].toInt(), 1);
    QCOMPARE(json["errors"].toArray().size(), 0);
    QCOMPARE(json["status"].toArray()[2].toString(), QString("1 New Message(s)"));
    QCOMPARE(server.messageFiles("alice").size(), 2);

    result = run(h.temp, {});
    QCOMPARE(result.exitCode, 0);
    QVERIFY2(result.out.contains("Lunch") && result.out.contains("Deleted message 2 of Work (blockedSender)"),
             result.out);
    QTRY_COMPARE(server.messageFiles("alice").size(), 1);
}

void TestCheckTool::errorsGiveExitStatus1()
{
    MAILVANE_REQUIRE_DOVECOT();
    DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    CheckHarness h;
    h.addAccount("Work", "alice", "wrong", server.port());
    h.temp.close();

    const Run result = run(h.temp, {"--json"});
    QCOMPARE(result.exitCode, 1);
    const QJsonObject json = QJsonDocument::fromJson(result.out).object();
    QCOMPARE(json["errors"].toArray(), QJsonArray{"Work: Server Not Responding To POP3 Commands"});
    QCOMPARE(json["status"].toArray()[2].toString(), QString("0 New Message(s)"));
}

void TestCheckTool::messageTextsAreNeverFormats()
{
    MAILVANE_REQUIRE_DOVECOT();
    DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
    server.deliver("alice", DovecotFixture::makeMessage("Deals %3 <deals@example.org>", "Save 50%4 today %1", 300));
    server.deliver("alice", DovecotFixture::makeMessage("Bulk %2 <offers@junk.example>", "Only %1 left", 100));
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    CheckHarness h;
    h.addAccount("Work %1", "alice", "wonderland", server.port());
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender("Bulk %2 <offers@junk.example>");
    }
    h.temp.close();

    const Run result = run(h.temp, {"--dry-run"});
    QCOMPARE(result.exitCode, 0);
    const QString out = QString::fromUtf8(result.out);
    const QString row = out.split('\n').filter("A0 M1").value(0);
    QVERIFY2(row.startsWith("A0 M1     Deals %3 <deals@example.org>      Save 50%4 today %1     ") &&
                 row.endsWith("  k  Work %1"),
             qPrintable(out));
    QVERIFY2(out.contains("Would delete message 2 of Work %1 (blockedSender): "
                          "Bulk %2 <offers@junk.example> / Only %1 left\n"),
             qPrintable(out));
}

void TestCheckTool::deletedOnlyWhenTheServerConfirmed_data()
{
    QTest::addColumn<QByteArray>("deleReply");
    QTest::addColumn<QByteArray>("quitReply");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("line");

    QTest::newRow("confirmed") << QByteArray("+OK\r\n") << QByteArray("+OK\r\n") << true << 0
                               << "Deleted message 1 of Work (blockedSender)";
    QTest::newRow("DELE refused") << QByteArray("-ERR\r\n") << QByteArray("+OK\r\n") << false << 1
                                  << "Not deleted message 1 of Work (blockedSender)";
    // As a strict server answers "QUIT " with a blank: the session's deletions are rolled back.
    QTest::newRow("QUIT refused") << QByteArray("+OK\r\n") << QByteArray("-ERR Syntax error\r\n") << false << 1
                                  << "Not deleted message 1 of Work (blockedSender)";
}

void TestCheckTool::deletedOnlyWhenTheServerConfirmed()
{
    QFETCH(QByteArray, deleReply);
    QFETCH(QByteArray, quitReply);
    ScriptedPop3Server server;
    for (int run = 0; run < 2; ++run) {
        if (run > 0)
            server.nextConnection();
        server.login({100});
        server.expect("TOP 1 1").send("+OK\r\nFrom: Bulk <offers@junk.example>\r\nSubject: x\r\n\r\n.\r\n");
        server.expect("DELE 1").send(deleReply).expect("QUIT").send(quitReply);
    }
    CheckHarness h;
    h.addAccount("Work", "user", "secret", server.port());
    {
        POPConfig setup(h.temp.services());
        setup.AddBlockedSender("Bulk <offers@junk.example>");
    }
    h.temp.close();

    Run result = run(h.temp, {"--force"});
    QTEST(result.exitCode, "exitCode");
    QFETCH(QString, line);
    QVERIFY2(result.out.contains(line.toUtf8()), result.out);
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());

    result = run(h.temp, {"--force", "--json"});
    QTEST(result.exitCode, "exitCode");
    const QJsonObject rejected = QJsonDocument::fromJson(result.out).object()["rejected"].toArray()[0].toObject();
    QTEST(rejected["deleted"].toBool(), "deleted");
    QVERIFY2(server.unexpected().isEmpty(), server.unexpected());
}

QTEST_GUILESS_MAIN(TestCheckTool)
#include "tst_checktool.moc"

// mailvane-check as a user runs it: its output, its exit status, and what it does to the server.
#include "CheckHarness.h"
#include "DovecotFixture.h"

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
    void initTestCase();
    void noAccounts();
    void dryRunThenCheck();
    void errorsGiveExitStatus1();

private:
    Run run(const TempStore &store, const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MAILVANE_REGISTRY", store.path());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(MAILVANE_CHECK_BINARY), arguments);
        if (!process.waitForFinished(60000))
            process.kill();
        return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
    }
};

void TestCheckTool::initTestCase()
{
    MAILVANE_REQUIRE_DOVECOT();
}

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

QTEST_GUILESS_MAIN(TestCheckTool)
#include "tst_checktool.moc"

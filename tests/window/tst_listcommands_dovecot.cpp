// Deleting listed messages on a real Dovecot: exactly the chosen messages go, and a mailbox that
// changed behind the list's back never loses the wrong message.
#include "DovecotFixture.h"
#include "ListCommandsHarness.h"

#include <QtTest>

using namespace testsupport;

namespace
{
void startOrFail(DovecotFixture &server)
{
    QString error;
    if (!server.start(&error))
        QFAIL(qPrintable(error));
}

// Delivers five messages "One" to "Five" and returns their file names in order.
QStringList deliverFive(DovecotFixture &server)
{
    QStringList files;
    const char *const subjects[] = {"One", "Two", "Three", "Four", "Five"};
    int body = 200;
    for (const char *subject : subjects)
        files << server.deliver("alice",
                                DovecotFixture::makeMessage("Ann <ann@example.org>", subject, body += 10));
    return files;
}

// Sets alice's mailbox up as the one account and checks it.
void checkAlice(ListCommandsHarness &h, DovecotFixture &server)
{
    h.addAccount("A", "alice", "wonderland", server.port());
    h.loadConfig();
    h.cycle.CheckMail();
}

// The key of the listed message with this subject.
QString keyOf(const MessageListModel &list, const QString &subject)
{
    for (const ListedMessage &m : list.messages())
        if (m.subject == subject)
            return m.key;
    return {};
}

// Removes a message file as another mail program would.
bool removeBehindTheList(const DovecotFixture &server, const QString &file)
{
    for (const char *sub : {"/new", "/cur"}) {
        QDir dir(server.maildir("alice") + sub);
        for (const QString &name : dir.entryList({file + "*"}, QDir::Files))
            return dir.remove(name);
    }
    return false;
}
} // namespace

class TestListCommandsDovecot : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { MAILVANE_REQUIRE_DOVECOT(); }
    void deletesTheThirdAndThenTheFifth();
    void messageRemovedElsewhereIsNeverReplacedByAnother();
    void chosenMessageRemovedElsewhereDeletesNothing();
};

void TestListCommandsDovecot::deletesTheThirdAndThenTheFifth()
{
    DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
    const QStringList files = deliverFive(server);
    startOrFail(server);
    ListCommandsHarness h;
    checkAlice(h, server);
    QCOMPARE(h.list.rowCount(), 5);

    h.commands.DeleteServerMessage(keyOf(h.list, "Three"));
    QTRY_COMPARE(server.messageFiles("alice"), (QStringList{files[0], files[1], files[3], files[4]}));
    h.commands.DeleteServerMessage(keyOf(h.list, "Five"));
    QTRY_COMPARE(server.messageFiles("alice"), (QStringList{files[0], files[1], files[3]}));

    QCOMPARE(h.outcomes, (QList<DeletionOutcome>{DeletionOutcome::Deleted, DeletionOutcome::Deleted}));
    QStringList left;
    for (const ListedMessage &m : h.list.messages())
        left << m.subject;
    QCOMPARE(left, (QStringList{"One", "Two", "Four"}));
    QVERIFY(h.errors.isEmpty());
    QVERIFY(!h.cycle.Busy());
}

void TestListCommandsDovecot::messageRemovedElsewhereIsNeverReplacedByAnother()
{
    DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
    const QStringList files = deliverFive(server);
    startOrFail(server);
    ListCommandsHarness h;
    checkAlice(h, server);
    QCOMPARE(h.list.rowCount(), 5);

    // Message 2 goes elsewhere: "Four" now stands at number 3 and "Five" at number 4.
    QVERIFY(!h.list.messages()[3].uniqueId.isEmpty()); // Dovecot gives lasting ids
    QVERIFY(removeBehindTheList(server, files[1]));
    h.commands.DeleteServerMessage(keyOf(h.list, "Four"));
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::Deleted});
    QTRY_COMPARE(server.messageFiles("alice"), (QStringList{files[0], files[2], files[4]}));
    QCOMPARE(h.list.rowCount(), 4);

    // "Five", listed as number 5, now stands at number 3.
    h.commands.DeleteServerMessage(keyOf(h.list, "Five"));
    QTRY_COMPARE(server.messageFiles("alice"), (QStringList{files[0], files[2]}));
}

void TestListCommandsDovecot::chosenMessageRemovedElsewhereDeletesNothing()
{
    DovecotFixture server(DovecotFixture::Users{{"alice", "wonderland"}});
    const QStringList files = deliverFive(server);
    startOrFail(server);
    ListCommandsHarness h;
    checkAlice(h, server);

    QVERIFY(removeBehindTheList(server, files[2]));
    h.commands.DeleteServerMessage(keyOf(h.list, "Three"));
    QCOMPARE(h.outcomes, QList<DeletionOutcome>{DeletionOutcome::AlreadyGone});
    QCOMPARE(h.status.panel(3), QString("Message no longer on the server"));
    QVERIFY(keyOf(h.list, "Three").isEmpty());
    QCOMPARE(server.messageFiles("alice"), (QStringList{files[0], files[1], files[3], files[4]}));
}

QTEST_GUILESS_MAIN(TestListCommandsDovecot)
#include "tst_listcommands_dovecot.moc"

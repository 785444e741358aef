// Reply framing and header parsing, as raw bytes in and parsed values out.
#include "HeaderValue.h"
#include "Pop3ReplyReader.h"

#include <QtTest>

using wrenkit::Pop3ReplyReader;
using Shape = Pop3ReplyReader::Shape;

class TestPop3Parsing : public QObject
{
    Q_OBJECT
private slots:
    void replyFraming_data();
    void replyFraming();
    void statusLine();
    void bufferCap();
    void getHeaderValue_data();
    void getHeaderValue();
    void priorityNumber_data();
    void priorityNumber();
};

void TestPop3Parsing::replyFraming_data()
{
    QTest::addColumn<QList<int>>("shapes"); // 0 greeting, 1 single line, 2 multi-line, in the order sent
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("replies"); // the complete replies, cut as handed out
    QTest::addColumn<bool>("outOfStep");

    const QList<int> single{1};
    const QList<int> multi{2};
    using L = QByteArrayList;
    QTest::newRow("single line") << single << L{"+OK ready\r\n"} << L{"+OK ready\r\n"} << false;
    QTest::newRow("single line split in three") << single << L{"+", "OK\r", "\n"} << L{"+OK\r\n"} << false;
    QTest::newRow("single line without its end") << single << L{"+OK"} << L{} << false;
    QTest::newRow("negative single line") << single << L{"-ERR no\r\n"} << L{"-ERR no\r\n"} << false;
    QTest::newRow("greeting of any sign") << QList<int>{0} << L{"* OK IMAP4\r\n"} << L{"* OK IMAP4\r\n"} << false;
    QTest::newRow("empty greeting") << QList<int>{0} << L{"\r\n"} << L{"\r\n"} << false;
    QTest::newRow("listing") << multi << L{"+OK\r\n1 120\r\n.\r\n"} << L{"+OK\r\n1 120\r\n.\r\n"} << false;
    QTest::newRow("empty listing") << multi << L{"+OK\r\n.\r\n"} << L{"+OK\r\n.\r\n"} << false;
    QTest::newRow("terminator split after its dot") << multi << L{"+OK\r\nA\r\n.", "\r\n"}
                                                    << L{"+OK\r\nA\r\n.\r\n"} << false;
    QTest::newRow("terminator split inside CR LF") << multi << L{"+OK\r\nA\r", "\n.\r", "\n"}
                                                   << L{"+OK\r\nA\r\n.\r\n"} << false;
    QTest::newRow("body line ending in a full stop") << multi << L{"+OK\r\nEnd of sentence.\r\n"} << L{} << false;
    QTest::newRow("byte-stuffed dot line") << multi << L{"+OK\r\n..\r\n"} << L{} << false;
    QTest::newRow("negative status ends a listing") << multi << L{"-ERR no such message\r\n"}
                                                    << L{"-ERR no such message\r\n"} << false;
    QTest::newRow("negative status split") << multi << L{"-", "ERR\r\n"} << L{"-ERR\r\n"} << false;
    QTest::newRow("later chunk starting with a minus") << multi << L{"+OK\r\nFrom: a\r\n", "-- \r\nsig\r\n.\r\n"}
                                                       << L{"+OK\r\nFrom: a\r\n-- \r\nsig\r\n.\r\n"} << false;
    QTest::newRow("replies in order, cut at their terminators")
        << QList<int>{2, 1, 2} << L{"+OK\r\nA\r\n.\r\n+OK del", "eted\r\n-ERR\r\n"}
        << L{"+OK\r\nA\r\n.\r\n", "+OK deleted\r\n", "-ERR\r\n"} << false;
    QTest::newRow("bytes past the last awaited reply")
        << multi << L{"+OK\r\nSubject: x\r\n\r\n.\r\nFrom: spam@junk.example\r\n"}
        << L{"+OK\r\nSubject: x\r\n\r\n.\r\n"} << true;
    QTest::newRow("bytes past it in a later chunk") << single << L{"+OK\r\n", "+OK\r\n"} << L{"+OK\r\n"} << true;
    QTest::newRow("a command's status line of neither sign") << multi << L{"From: a\r\n.\r\n"} << L{} << true;
    QTest::newRow("an empty status line") << single << L{"\r\n"} << L{} << true;
}

void TestPop3Parsing::replyFraming()
{
    QFETCH(QList<int>, shapes);
    QFETCH(QByteArrayList, chunks);
    QFETCH(bool, outOfStep);
    Pop3ReplyReader reader;
    for (const int shape : shapes)
        reader.expect(shape == 0 ? Shape::Greeting : shape == 1 ? Shape::SingleLine : Shape::MultiLine);
    bool sawOutOfStep = false;
    for (const QByteArray &chunk : chunks)
        sawOutOfStep = sawOutOfStep || reader.append(chunk) == Pop3ReplyReader::Outcome::OutOfStep;
    QCOMPARE(sawOutOfStep, outOfStep);
    QByteArrayList replies;
    while (reader.hasReply()) {
        const Pop3ReplyReader::Reply reply = reader.takeReply();
        QCOMPARE(reply.mark, reply.bytes.startsWith("\r\n") ? '\0' : reply.bytes.at(0));
        replies << reply.bytes;
    }
    QTEST(replies, "replies");
    QCOMPARE(reader.heldBytes(), outOfStep || replies.size() == shapes.size() ? 0 : chunks.join().size());
}

void TestPop3Parsing::statusLine()
{
    Pop3ReplyReader reader;
    reader.expect(Shape::MultiLine);
    reader.append("+OK 2 messages\r\n1 5\r\n2 6\r\n.\r\n");
    QCOMPARE(reader.takeReply().statusLine(), QByteArrayView("+OK 2 messages"));
}

void TestPop3Parsing::bufferCap()
{
    Pop3ReplyReader reader;
    reader.setMaxBufferBytes(10);
    reader.expect(Shape::MultiLine);
    QCOMPARE(reader.append("+OK\r\n1234"), Pop3ReplyReader::Outcome::Ok);
    QCOMPARE(reader.append("56"), Pop3ReplyReader::Outcome::TooLarge);
    QCOMPARE(reader.heldBytes(), 9);
}

void TestPop3Parsing::getHeaderValue_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("value");

    const QByteArray reply = "+OK\r\nReply-To: list@example.org\r\nTo: me@example.org\r\n"
                             "From: John Smith <js@example.org>\r\nsubject: hello  there\r\n\r\n.\r\n";
    QTest::newRow("from") << reply << QByteArray("From:") << "John Smith <js@example.org>";
    QTest::newRow("lower-case name, double space kept") << reply << QByteArray("Subject:") << "hello  there";
    QTest::newRow("Reply-To comes first and wins") << reply << QByteArray("To:") << "list@example.org";
    QTest::newRow("missing header") << reply << QByteArray("Date:") << "<NotFound>";
    QTest::newRow("folded line gives its first line")
        << QByteArray("+OK\r\nSubject: part one\r\n part two\r\n.\r\n") << QByteArray("Subject:") << "part one";
    QTest::newRow("empty field takes the next line without its first word")
        << QByteArray("+OK\r\nSubject:\r\nDate: Mon, 1 Jan 2024\r\n.\r\n") << QByteArray("Subject:")
        << "Mon, 1 Jan 2024";
    QTest::newRow("name against its value") << QByteArray("+OK\r\nFrom:a@b c d\r\n") << QByteArray("From:") << "c d";
    QTest::newRow("status line words count") << QByteArray("+OK From: server\r\nFrom: x\r\n")
                                             << QByteArray("From:") << "server";
    QTest::newRow("matching word is the last word") << QByteArray("+OK\r\nFrom:") << QByteArray("From:") << "";
    QTest::newRow("value runs to the end of the buffer") << QByteArray("From: a b") << QByteArray("From:") << "a b";
    QTest::newRow("Latin-1 bytes") << QByteArray("Subject: caf\xe9\r\n") << QByteArray("Subject:")
                                   << QString::fromLatin1("caf\xe9");
    QTest::newRow("a name with a space matches no word") << reply << QByteArray("Reply-To: list") << "<NotFound>";
    QTest::newRow("empty buffer") << QByteArray() << QByteArray("From:") << "<NotFound>";
}

void TestPop3Parsing::getHeaderValue()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QByteArray, name);
    QTEST(wrenkit::GetHeaderValue(buffer, name), "value");
}

void TestPop3Parsing::priorityNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");

    QTest::newRow("normal") << "3 (Normal)" << 3;
    QTest::newRow("leading spaces") << "   1" << 1;
    QTest::newRow("half to even down") << "2.5" << 2;
    QTest::newRow("half to even up") << "3.5" << 4;
    QTest::newRow("signed") << "-2" << -2;
    QTest::newRow("no number") << "High" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("beyond 16 bits") << "99999" << 0;
    QTest::newRow("largest 16-bit") << "32767" << 32767;
}

void TestPop3Parsing::priorityNumber()
{
    QFETCH(QString, text);
    QTEST(int(wrenkit::PriorityNumber(text)), "number");
}

QTEST_GUILESS_MAIN(TestPop3Parsing)
#include "tst_pop3parsing.moc"

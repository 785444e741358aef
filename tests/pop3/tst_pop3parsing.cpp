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
    void newReplyAfterEarlierData();
    void bufferCap();
    void getHeaderValue_data();
    void getHeaderValue();
    void priorityNumber_data();
    void priorityNumber();
};

void TestPop3Parsing::replyFraming_data()
{
    QTest::addColumn<bool>("multiLine");
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<char>("mark");

    QTest::newRow("single line") << false << QByteArrayList{"+OK ready\r\n"} << true << '+';
    QTest::newRow("single line split in three") << false << QByteArrayList{"+", "OK\r", "\n"} << true << '+';
    QTest::newRow("single line without its end") << false << QByteArrayList{"+OK"} << false << '\0';
    QTest::newRow("negative single line") << false << QByteArrayList{"-ERR no\r\n"} << true << '-';
    QTest::newRow("empty status line") << false << QByteArrayList{"\r\n"} << true << '\0';
    QTest::newRow("listing") << true << QByteArrayList{"+OK\r\n1 120\r\n.\r\n"} << true << '+';
    QTest::newRow("empty listing") << true << QByteArrayList{"+OK\r\n.\r\n"} << true << '+';
    QTest::newRow("terminator split after its dot") << true << QByteArrayList{"+OK\r\nA\r\n.", "\r\n"} << true << '+';
    QTest::newRow("terminator split inside CR LF") << true << QByteArrayList{"+OK\r\nA\r", "\n.\r", "\n"} << true << '+';
    QTest::newRow("body line ending in a full stop") << true << QByteArrayList{"+OK\r\nEnd of sentence.\r\n"} << false << '+';
    QTest::newRow("byte-stuffed dot line") << true << QByteArrayList{"+OK\r\n..\r\n"} << false << '+';
    QTest::newRow("negative status ends a listing") << true << QByteArrayList{"-ERR no such message\r\n"} << true << '-';
    QTest::newRow("negative status split") << true << QByteArrayList{"-", "ERR\r\n"} << true << '-';
    QTest::newRow("later chunk starting with a minus") << true << QByteArrayList{"+OK\r\nFrom: a\r\n", "-- \r\nsig\r\n.\r\n"} << true << '+';
    QTest::newRow("positive status not yet complete") << true << QByteArrayList{"+OK top follows"} << false << '\0';
}

void TestPop3Parsing::replyFraming()
{
    QFETCH(bool, multiLine);
    QFETCH(QByteArrayList, chunks);
    Pop3ReplyReader reader;
    reader.expect(multiLine ? Shape::MultiLine : Shape::SingleLine);
    for (const QByteArray &chunk : chunks)
        QVERIFY(reader.append(chunk));
    QTEST(reader.responseComplete(), "complete");
    QTEST(reader.replyMark(), "mark");
    QCOMPARE(reader.buffer(), chunks.join());
}

void TestPop3Parsing::newReplyAfterEarlierData()
{
    // A DELE reply is appended to the buffer; its sign is its own, not the earlier reply's.
    Pop3ReplyReader reader;
    reader.expect(Shape::MultiLine);
    reader.append("-ERR\r\n");
    reader.expect(Shape::SingleLine);
    QCOMPARE(reader.replyMark(), '\0');
    QVERIFY(!reader.responseComplete());
    reader.append("+OK deleted\r\n");
    QCOMPARE(reader.replyMark(), '+');
    QCOMPARE(reader.statusLine(), QByteArrayView("+OK deleted"));
    QCOMPARE(reader.buffer(), QByteArray("-ERR\r\n+OK deleted\r\n"));
}

void TestPop3Parsing::bufferCap()
{
    Pop3ReplyReader reader;
    reader.setMaxBufferBytes(10);
    reader.expect(Shape::MultiLine);
    QVERIFY(reader.append("+OK\r\n1234"));
    QVERIFY(!reader.append("56"));
    QCOMPARE(reader.buffer(), QByteArray("+OK\r\n1234"));
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

// IMAP response framing and parsing, as raw bytes in and parsed responses out.
#include "ImapParser.h"
#include "ImapReplyReader.h"

#include <QtTest>

using wrenkit::ImapReplyReader;
using wrenkit::ImapResponse;
using wrenkit::ImapValue;
using Outcome = ImapReplyReader::Outcome;
using Result = wrenkit::ImapParse::Result;
namespace ImapParse = wrenkit::ImapParse;

namespace
{

// Strings are shown quoted with \" \\ \r \n escaped, so that a row reads like the wire.
QByteArray show(const ImapValue &value)
{
    switch (value.type) {
    case ImapValue::Type::Atom:
        return value.bytes;
    case ImapValue::Type::Nil:
        return "NIL";
    case ImapValue::Type::String: {
        QByteArray out = value.bytes;
        out.replace('\\', "\\\\").replace('"', "\\\"").replace("\r", "\\r").replace("\n", "\\n");
        return '"' + out + '"';
    }
    case ImapValue::Type::List: {
        QByteArrayList items;
        for (const ImapValue &item : value.items)
            items << show(item);
        return '(' + items.join(' ') + ')';
    }
    }
    return {};
}

QByteArray show(const ImapResponse &r)
{
    QByteArrayList parts;
    switch (r.kind) {
    case ImapResponse::Kind::Tagged:
        parts << r.tag;
        break;
    case ImapResponse::Kind::Untagged:
        parts << "*";
        break;
    case ImapResponse::Kind::Continuation:
        parts << "+";
        break;
    }
    if (r.number)
        parts << QByteArray::number(*r.number);
    if (!r.name.isEmpty())
        parts << r.name;
    for (const ImapValue &value : r.values)
        parts << show(value);
    if (r.isStatus() || r.kind == ImapResponse::Kind::Continuation) {
        if (!r.code.isEmpty())
            parts << '[' + r.code + (r.codeArgument.isNull() ? "" : ' ' + r.codeArgument) + ']';
        parts << show(ImapValue{ImapValue::Type::String, r.text, {}});
    }
    return parts.join(' ');
}

const char *name(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok:
        return "ok";
    case Outcome::TooLarge:
        return "too large";
    case Outcome::OutOfStep:
        return "out of step";
    case Outcome::Malformed:
        return "malformed";
    }
    return "?";
}

const char *name(Result result)
{
    return result == Result::Ok ? "ok" : result == Result::NeedMore ? "need more" : "bad";
}

// Feeds the chunks after a greeting and collects what the reader hands out.
struct Run {
    QByteArrayList responses;
    QByteArray outcome = "ok";
};

Run feed(ImapReplyReader &reader, const QByteArrayList &chunks)
{
    Run run;
    for (const QByteArray &chunk : chunks) {
        const Outcome outcome = reader.append(chunk);
        if (outcome != Outcome::Ok && run.outcome == "ok")
            run.outcome = name(outcome);
        while (reader.hasResponse())
            run.responses << show(reader.takeResponse());
    }
    return run;
}

void greet(ImapReplyReader &reader)
{
    reader.reset();
    QCOMPARE(reader.append("* OK IMAP4rev1 ready\r\n"), Outcome::Ok);
    reader.takeResponse();
}

} // namespace

class TestImapParsing : public QObject
{
    Q_OBJECT
private slots:
    void readValue_data();
    void readValue();
    void responses_data();
    void responses();
    void greeting_data();
    void greeting();
    void everySplitPoint();
    void literalNotYetByteByByte();
    void boundCountsResponsesNotTaken();
    void faultHoldsUntilReset();
};

void TestImapParsing::readValue_data()
{
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("end"); // where the position stands afterwards

    QTest::newRow("atom ends at a space")
        << QByteArray("UID 5") << QByteArray("ok") << QByteArray("UID") << 3;
    QTest::newRow("atom at the end") << QByteArray("4827313") << QByteArray("ok") << QByteArray("4827313")
                                     << 7;
    QTest::newRow("flag") << QByteArray("\\Seen)") << QByteArray("ok") << QByteArray("\\Seen") << 5;
    QTest::newRow("section with a list kept whole")
        << QByteArray("BODY[HEADER.FIELDS (FROM TO)]<0> {3}") << QByteArray("ok")
        << QByteArray("BODY[HEADER.FIELDS (FROM TO)]<0>") << 32;
    QTest::newRow("section not closed")
        << QByteArray("BODY[HEADER") << QByteArray("need more") << QByteArray() << 0;
    QTest::newRow("NIL in any case") << QByteArray("nil ") << QByteArray("ok") << QByteArray("NIL") << 3;
    QTest::newRow("atom starting with NIL")
        << QByteArray("NILS") << QByteArray("ok") << QByteArray("NILS") << 4;
    QTest::newRow("quoted") << QByteArray("\"a b\" c") << QByteArray("ok") << QByteArray("\"a b\"") << 5;
    QTest::newRow("quoted with escapes")
        << QByteArray(R"("say \"hi\" \\o/")") << QByteArray("ok") << QByteArray(R"("say \"hi\" \\o/")") << 17;
    QTest::newRow("quoted empty") << QByteArray("\"\"") << QByteArray("ok") << QByteArray("\"\"") << 2;
    QTest::newRow("quoted unknown escape")
        << QByteArray(R"("a\b")") << QByteArray("bad") << QByteArray() << 0;
    QTest::newRow("quoted not closed") << QByteArray("\"abc") << QByteArray("need more") << QByteArray() << 0;
    QTest::newRow("quoted cut after a backslash")
        << QByteArray("\"abc\\") << QByteArray("need more") << QByteArray() << 0;
    QTest::newRow("quoted across a line end")
        << QByteArray("\"ab\r\ncd\"") << QByteArray("bad") << QByteArray() << 0;
    QTest::newRow("literal") << QByteArray("{5}\r\na)\r\nbX") << QByteArray("ok")
                             << QByteArray("\"a)\\r\\nb\"") << 10;
    QTest::newRow("non-synchronising literal")
        << QByteArray("{2+}\r\nhi") << QByteArray("ok") << QByteArray("\"hi\"") << 8;
    QTest::newRow("empty literal") << QByteArray("{0}\r\n") << QByteArray("ok") << QByteArray("\"\"") << 5;
    QTest::newRow("literal short of its length")
        << QByteArray("{5}\r\nab") << QByteArray("need more") << QByteArray() << 0;
    QTest::newRow("literal claiming more than memory holds")
        << QByteArray("{9000000000000000000}\r\n") << QByteArray("need more") << QByteArray() << 0;
    QTest::newRow("literal length overflowing")
        << QByteArray("{99999999999999999999}\r\n") << QByteArray("bad") << QByteArray() << 0;
    QTest::newRow("literal announcement cut")
        << QByteArray("{12") << QByteArray("need more") << QByteArray() << 0;
    QTest::newRow("literal without a length")
        << QByteArray("{}\r\n") << QByteArray("bad") << QByteArray() << 0;
    QTest::newRow("literal length not a number")
        << QByteArray("{1x}\r\n") << QByteArray("bad") << QByteArray() << 0;
    QTest::newRow("literal without CR LF") << QByteArray("{1} x") << QByteArray("bad") << QByteArray() << 0;
    QTest::newRow("nested lists") << QByteArray("((a) () (NIL \"b\" (c)))") << QByteArray("ok")
                                  << QByteArray("((a) () (NIL \"b\" (c)))") << 22;
    QTest::newRow("lists back to back") << QByteArray("((\"text\")(\"image\") \"mixed\")") << QByteArray("ok")
                                        << QByteArray("((\"text\") (\"image\") \"mixed\")") << 27;
    QTest::newRow("list not closed") << QByteArray("(a (b)") << QByteArray("need more") << QByteArray() << 0;
    QTest::newRow("close without open") << QByteArray(")") << QByteArray("bad") << QByteArray() << 0;
    QTest::newRow("list holding a literal")
        << QByteArray("(X {3}\r\n)() Y)") << QByteArray("ok") << QByteArray("(X \")()\" Y)") << 14;
    QTest::newRow("nesting at the limit") << QByteArray(64, '(') + QByteArray(64, ')') << QByteArray("ok")
                                          << QByteArray(64, '(') + QByteArray(64, ')') << 128;
    QTest::newRow("nesting past the limit")
        << QByteArray(65, '(') + QByteArray(65, ')') << QByteArray("bad") << QByteArray() << 0;
    QTest::newRow("nothing") << QByteArray() << QByteArray("need more") << QByteArray() << 0;
}

void TestImapParsing::readValue()
{
    QFETCH(QByteArray, in);
    qsizetype pos = 0;
    ImapValue value;
    const Result result = ImapParse::readValue(in, pos, value);
    QTEST(QByteArray(name(result)), "result");
    if (result == Result::Ok)
        QTEST(show(value), "value");
    QTEST(int(pos), "end");
}

void TestImapParsing::responses_data()
{
    // Each row starts after the greeting. Tags are the commands in flight; "+" after a tag marks
    // one that may get continuation requests.
    QTest::addColumn<QByteArrayList>("tags");
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QByteArrayList>("responses");
    QTest::addColumn<QByteArray>("outcome");
    QTest::addColumn<int>("bound");

    using L = QByteArrayList;
    const int big = int(ImapReplyReader::DefaultMaxBufferBytes);
    const L a1{"a1"};
    const QByteArray ok = "ok", tooLarge = "too large", outOfStep = "out of step", malformed = "malformed";
    const QByteArray header = "From: a@example.org\r\nSubject: (hi) {5}\r\n\r\n"; // 42 bytes

    QTest::newRow("tagged OK") << a1 << L{"a1 OK LOGIN completed\r\n"} << L{"a1 OK \"LOGIN completed\""} << ok
                               << big;
    QTest::newRow("tagged NO in lower case") << a1 << L{"a1 no [TRYCREATE] no such folder\r\n"}
                                             << L{"a1 NO [TRYCREATE] \"no such folder\""} << ok << big;
    QTest::newRow("tagged OK without text") << a1 << L{"a1 OK\r\n"} << L{"a1 OK \"\""} << ok << big;
    QTest::newRow("code with its argument")
        << a1
        << L{"* OK [UIDVALIDITY 3857529045] UIDs valid\r\n* OK [PERMANENTFLAGS (\\Deleted \\*)] Limited\r\n"}
        << L{"* OK [UIDVALIDITY 3857529045] \"UIDs valid\"",
             "* OK [PERMANENTFLAGS (\\Deleted \\*)] \"Limited\""}
        << ok << big;
    QTest::newRow("code without text")
        << a1 << L{"a1 OK [READ-WRITE]\r\n"} << L{"a1 OK [READ-WRITE] \"\""} << ok << big;
    QTest::newRow("code not closed") << a1 << L{"a1 OK [READ-WRITE done\r\n"} << L{} << malformed << big;
    QTest::newRow("capability") << a1 << L{"* CAPABILITY IMAP4rev1 UIDPLUS MOVE AUTH=PLAIN\r\n"}
                                << L{"* CAPABILITY IMAP4rev1 UIDPLUS MOVE AUTH=PLAIN"} << ok << big;
    QTest::newRow("search, and an empty one")
        << a1 << L{"* SEARCH 2 84 882\r\n* SEARCH\r\n"} << L{"* SEARCH 2 84 882", "* SEARCH"} << ok << big;
    QTest::newRow("exists and expunge")
        << a1 << L{"* 23 EXISTS\r\n* 3 expunge\r\n"} << L{"* 23 EXISTS", "* 3 EXPUNGE"} << ok << big;
    QTest::newRow("largest message number")
        << a1 << L{"* 4294967295 EXISTS\r\n"} << L{"* 4294967295 EXISTS"} << ok << big;
    QTest::newRow("message number past 32 bits")
        << a1 << L{"* 4294967296 EXISTS\r\n"} << L{} << malformed << big;
    QTest::newRow("list with quoted delimiter and name")
        << a1 << L{"* LIST (\\HasNoChildren \\Trash) \".\" \"INBOX.Deleted Items\"\r\n"}
        << L{"* LIST (\\HasNoChildren \\Trash) \".\" \"INBOX.Deleted Items\""} << ok << big;
    QTest::newRow("list with escaped delimiter and NIL")
        << a1 << L{"* LIST () \"\\\\\" Trash\r\n* LIST (\\Noselect) nil \"\"\r\n"}
        << L{"* LIST () \"\\\\\" Trash", "* LIST (\\Noselect) NIL \"\""} << ok << big;
    QTest::newRow("quoted string with escaped quotes")
        << a1 << L{"* LIST () \"/\" \"say \\\"hi\\\"\"\r\n"} << L{"* LIST () \"/\" \"say \\\"hi\\\"\""} << ok
        << big;
    QTest::newRow("envelope with NIL and nested lists")
        << a1 << L{"* 1 FETCH (ENVELOPE (NIL \"Hi\" ((\"Ann\" NIL \"ann\" \"example.org\")) NIL))\r\n"}
        << L{"* 1 FETCH (ENVELOPE (NIL \"Hi\" ((\"Ann\" NIL \"ann\" \"example.org\")) NIL))"} << ok << big;
    QTest::newRow("fetch with a header literal")
        << a1 << L{"* 1 FETCH (UID 7 RFC822.SIZE 120 BODY[HEADER] {42}\r\n" + header + ")\r\na1 OK done\r\n"}
        << L{"* 1 FETCH (UID 7 RFC822.SIZE 120 BODY[HEADER] \"From: a@example.org\\r\\nSubject: (hi) "
             "{5}\\r\\n\\r\\n\")",
             "a1 OK \"done\""}
        << ok << big;
    QTest::newRow("literal split inside its announcement")
        << a1
        << L{"* 1 FETCH (BODY[HEADER] {", "4", "2}\r", "\n" + header.first(10), header.sliced(10) + ")\r\n"}
        << L{"* 1 FETCH (BODY[HEADER] \"From: a@example.org\\r\\nSubject: (hi) {5}\\r\\n\\r\\n\")"} << ok
        << big;
    QTest::newRow("literal split inside a CR LF of its bytes")
        << a1
        << L{"* 1 FETCH (BODY[HEADER] {42}\r\n" + header.first(20), header.sliced(20, 21),
             header.sliced(41) + ")\r\n"}
        << L{"* 1 FETCH (BODY[HEADER] \"From: a@example.org\\r\\nSubject: (hi) {5}\\r\\n\\r\\n\")"} << ok
        << big;
    QTest::newRow("literal ending a chunk, the line after it cut")
        << a1 << L{"* 1 FETCH (BODY[HEADER] {42}\r\n" + header, " UID", " 7)\r", "\n"}
        << L{"* 1 FETCH (BODY[HEADER] \"From: a@example.org\\r\\nSubject: (hi) {5}\\r\\n\\r\\n\" UID 7)"}
        << ok << big;
    QTest::newRow("non-synchronising literal")
        << a1 << L{"* 1 FETCH (BODY[] {2+}\r\nhi)\r\n"} << L{"* 1 FETCH (BODY[] \"hi\")"} << ok << big;
    QTest::newRow("empty literal") << a1 << L{"* 1 FETCH (BODY[HEADER] {0}\r\n)\r\n"}
                                   << L{"* 1 FETCH (BODY[HEADER] \"\")"} << ok << big;
    QTest::newRow("two literals in one response")
        << a1 << L{"* 2 FETCH (BODY[HEADER] {3}\r\nA\r\n BODY[TEXT] {1}\r\n\r)\r\n"}
        << L{"* 2 FETCH (BODY[HEADER] \"A\\r\\n\" BODY[TEXT] \"\\r\")"} << ok << big;
    QTest::newRow("literal not yet complete")
        << a1 << L{"* 1 FETCH (BODY[HEADER] {42}\r\n" + header.first(41)} << L{} << ok << big;
    QTest::newRow("exists and expunge in the middle of a fetch")
        << QByteArrayList{"a3"}
        << L{"* 1 FETCH (UID 10 BODY[HEADER] {3}\r\nA\r\n)\r\n* 4 EXI",
             "STS\r\n* 2 EXPUNGE\r\n* 2 FETCH (UID 12 "
             "BODY[HEADER] {3}\r\nB\r\n)\r\na3 OK done\r\n"}
        << L{"* 1 FETCH (UID 10 BODY[HEADER] \"A\\r\\n\")", "* 4 EXISTS", "* 2 EXPUNGE",
             "* 2 FETCH (UID 12 BODY[HEADER] \"B\\r\\n\")", "a3 OK \"done\""}
        << ok << big;
    QTest::newRow("commands answered out of order")
        << QByteArrayList{"a1", "a2"} << L{"a2 OK second\r\na1 OK first\r\n"}
        << L{"a2 OK \"second\"", "a1 OK \"first\""} << ok << big;
    QTest::newRow("continuation request")
        << QByteArrayList{"a1+"} << L{"+ Ready for literal\r\n", "a1 OK\r\n"}
        << L{"+ \"Ready for literal\"", "a1 OK \"\""} << ok << big;
    QTest::newRow("empty continuation requests")
        << QByteArrayList{"a1+"} << L{"+ \r\n+\r\n"} << L{"+ \"\"", "+ \"\""} << ok << big;
    QTest::newRow("untagged data with no command in flight")
        << L{} << L{"* 5 EXISTS\r\n* 1 RECENT\r\n"} << L{"* 5 EXISTS", "* 1 RECENT"} << ok << big;
    QTest::newRow("untagged bye") << a1 << L{"* BYE Autologout; idle for too long\r\n"}
                                  << L{"* BYE \"Autologout; idle for too long\""} << ok << big;

    QTest::newRow("literal claiming more than the bound")
        << a1 << L{"* 1 FETCH (BODY[HEADER] {4000000000}\r\n"} << L{} << tooLarge << big;
    QTest::newRow("literal and its line end just within the bound")
        << a1 << L{"* 1 FETCH {7}\r\nabcdefg\r\n"} << L{"* 1 FETCH \"abcdefg\""} << ok << 24;
    QTest::newRow("literal one byte past the bound") << a1 << L{"* 1 FETCH {8}\r\n"} << L{} << tooLarge << 24;
    QTest::newRow("line without end past the bound")
        << a1 << L{"* 1 FETCH (UID 1", QByteArray(40, 'x')} << L{} << tooLarge << 32;
    QTest::newRow("literal length overflowing")
        << a1 << L{"* 1 FETCH (BODY[] {99999999999999999999}\r\n"} << L{} << malformed << big;
    QTest::newRow("braces without a length")
        << a1 << L{"* 1 FETCH (BODY[] {})\r\n"} << L{} << malformed << big;
    QTest::newRow("list not closed") << a1 << L{"* 1 FETCH (UID 5 FLAGS (\\Seen)\r\n"} << L{} << malformed
                                     << big;
    QTest::newRow("list closed twice") << a1 << L{"* 1 FETCH (UID 5))\r\n"} << L{} << malformed << big;
    QTest::newRow("quoted string not closed")
        << a1 << L{"* LIST () \"/\" \"INBOX\r\n"} << L{} << malformed << big;
    QTest::newRow("quoted string with an unknown escape")
        << a1 << L{"* LIST () \"/\" \"a\\b\"\r\n"} << L{} << malformed << big;
    QTest::newRow("nesting past the limit")
        << a1 << L{"* 1 FETCH " + QByteArray(100, '(') + QByteArray(100, ')') + "\r\n"} << L{} << malformed
        << big;
    QTest::newRow("tagged response that is no status")
        << a1 << L{"a1 FETCH (UID 1)\r\n"} << L{} << malformed << big;
    QTest::newRow("untagged without a name") << a1 << L{"* \r\n"} << L{} << malformed << big;
    QTest::newRow("empty line") << a1 << L{"\r\n"} << L{} << outOfStep << big;
    QTest::newRow("tag not in flight") << a1 << L{"a2 OK done\r\n"} << L{} << outOfStep << big;
    QTest::newRow("tag answered twice")
        << a1 << L{"a1 OK done\r\na1 OK again\r\n"} << L{"a1 OK \"done\""} << outOfStep << big;
    QTest::newRow("tag answered with nothing in flight")
        << L{} << L{"a1 OK done\r\n"} << L{} << outOfStep << big;
    QTest::newRow("continuation nobody asked for") << a1 << L{"+ go ahead\r\n"} << L{} << outOfStep << big;
    QTest::newRow("stray bytes after the responses")
        << a1 << L{"a1 OK done\r\nFrom: spam@junk.example\r\n"} << L{"a1 OK \"done\""} << outOfStep << big;
    QTest::newRow("responses before a fault are kept, those after dropped")
        << a1 << L{"* 1 EXISTS\r\n+ x\r\n* 2 EXISTS\r\na1 OK\r\n"} << L{"* 1 EXISTS"} << outOfStep << big;
}

void TestImapParsing::responses()
{
    QFETCH(QByteArrayList, tags);
    QFETCH(QByteArrayList, chunks);
    QFETCH(QByteArray, outcome);
    QFETCH(int, bound);
    ImapReplyReader reader;
    greet(reader);
    reader.setMaxBufferBytes(bound);
    for (const QByteArray &tag : tags)
        reader.expect(tag.endsWith('+') ? tag.chopped(1) : tag, tag.endsWith('+'));
    const Run run = feed(reader, chunks);
    QTEST(run.responses, "responses");
    QCOMPARE(run.outcome, outcome);
    if (outcome != "ok")
        QCOMPARE(reader.heldBytes(), 0);
}

void TestImapParsing::greeting_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("outcome");

    QTest::newRow("OK") << QByteArray("* OK [CAPABILITY IMAP4rev1 STARTTLS] Dovecot ready.\r\n")
                        << QByteArray("ok");
    QTest::newRow("PREAUTH") << QByteArray("* PREAUTH logged in\r\n") << QByteArray("ok");
    QTest::newRow("BYE") << QByteArray("* BYE too many connections\r\n") << QByteArray("ok");
    QTest::newRow("tagged") << QByteArray("a1 OK\r\n") << QByteArray("out of step");
    QTest::newRow("continuation") << QByteArray("+ go\r\n") << QByteArray("out of step");
    QTest::newRow("data") << QByteArray("* 3 EXISTS\r\n") << QByteArray("out of step");
    QTest::newRow("NO") << QByteArray("* NO not now\r\n") << QByteArray("out of step");
    QTest::newRow("a POP3 server") << QByteArray("+OK POP3 ready\r\n") << QByteArray("out of step");
    QTest::newRow("not IMAP at all") << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << QByteArray("out of step");
}

void TestImapParsing::greeting()
{
    QFETCH(QByteArray, bytes);
    ImapReplyReader reader;
    reader.reset();
    QTEST(QByteArray(name(reader.append(bytes))), "outcome");
}

// The same stream cut in two at every byte gives the same responses as in one piece.
void TestImapParsing::everySplitPoint()
{
    const QByteArray stream = "* 1 FETCH (UID 10 RFC822.SIZE 3 BODY[HEADER] {3}\r\nA\r\n)\r\n* 4 EXISTS\r\n"
                              "* 2 FETCH (BODY[HEADER] {5}\r\n{1}\r\n BODY[TEXT] {2+}\r\n\r\n)\r\n"
                              "+ more\r\n* OK [UNSEEN 2] \"x\"\r\na1 OK done\r\n";
    ImapReplyReader reader;
    greet(reader);
    reader.expect("a1", true);
    const Run whole = feed(reader, {stream});
    QCOMPARE(whole.outcome, QByteArray("ok"));
    QCOMPARE(whole.responses.size(), 6);
    for (qsizetype cut = 1; cut < stream.size(); ++cut) {
        greet(reader);
        reader.expect("a1", true);
        const Run split = feed(reader, {stream.first(cut), stream.sliced(cut)});
        QVERIFY2(split.outcome == "ok" && split.responses == whole.responses,
                 qPrintable(QString::number(cut)));
        QCOMPARE(reader.heldBytes(), 0);
        QCOMPARE(reader.inFlight(), 0);
    }
}

// A response whose literal is still arriving is held, not handed out, whatever bytes it holds.
void TestImapParsing::literalNotYetByteByByte()
{
    const QByteArray stream = "* 1 FETCH (BODY[HEADER] {12}\r\n)\r\na1 OK x\r\n)\r\n";
    ImapReplyReader reader;
    greet(reader);
    reader.expect("a1");
    for (qsizetype i = 0; i + 1 < stream.size(); ++i) {
        QCOMPARE(reader.append(stream.sliced(i, 1)), Outcome::Ok);
        QVERIFY2(!reader.hasResponse(), qPrintable(QString::number(i)));
    }
    QCOMPARE(reader.append(stream.last(1)), Outcome::Ok);
    QCOMPARE(show(reader.takeResponse()), QByteArray("* 1 FETCH (BODY[HEADER] \")\\r\\na1 OK x\\r\\n\")"));
    QVERIFY(!reader.hasResponse());
    QCOMPARE(reader.inFlight(), 1);
}

// Responses not yet taken count against the bound as much as the one in progress.
void TestImapParsing::boundCountsResponsesNotTaken()
{
    ImapReplyReader reader;
    greet(reader);
    reader.setMaxBufferBytes(30);
    QCOMPARE(reader.append("* 1 EXISTS\r\n* 2 EXISTS\r\n"), Outcome::Ok);
    QCOMPARE(reader.heldBytes(), 24);
    QCOMPARE(reader.append("* 3 EXISTS\r\n"), Outcome::TooLarge);
    QCOMPARE(show(reader.takeResponse()), QByteArray("* 1 EXISTS"));
    QCOMPARE(show(reader.takeResponse()), QByteArray("* 2 EXISTS"));
    QVERIFY(!reader.hasResponse());
    QCOMPARE(reader.heldBytes(), 0);

    // Taking responses frees their room.
    greet(reader);
    QCOMPARE(reader.append("* 1 EXISTS\r\n* 2 EXISTS\r\n"), Outcome::Ok);
    reader.takeResponse();
    reader.takeResponse();
    QCOMPARE(reader.append("* 1 FETCH {3}\r\nabc\r\n"), Outcome::Ok);
    QCOMPARE(show(reader.takeResponse()), QByteArray("* 1 FETCH \"abc\""));

    // A literal is refused at its announcement when it cannot fit beside what is not yet taken.
    greet(reader);
    QCOMPARE(reader.append("* 1 EXISTS\r\n"), Outcome::Ok);
    QCOMPARE(reader.append("* 1 FETCH {3}\r\n"), Outcome::TooLarge);
    QCOMPARE(reader.heldBytes(), 12);
    QCOMPARE(show(reader.takeResponse()), QByteArray("* 1 EXISTS"));
}

void TestImapParsing::faultHoldsUntilReset()
{
    ImapReplyReader reader;
    greet(reader);
    reader.expect("a1");
    QCOMPARE(reader.append("a9 OK\r\n"), Outcome::OutOfStep);
    QCOMPARE(reader.inFlight(), 0);
    QCOMPARE(reader.append("a1 OK\r\n"), Outcome::OutOfStep);
    QVERIFY(!reader.hasResponse());
    reader.reset();
    QCOMPARE(reader.append("* OK again\r\n"), Outcome::Ok);
    QCOMPARE(show(reader.takeResponse()), QByteArray("* OK \"again\""));
}

QTEST_GUILESS_MAIN(TestImapParsing)
#include "tst_imapparsing.moc"

// Display decoding of From and Subject texts: encoded words, raw 8-bit bytes, and what stays as it is.
#include "main/HeaderDecoder.h"

#include <QStringDecoder>
#include <QTest>

class TestHeaderDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
};

namespace
{
// A header as the POP3 control hands it over: each byte one Latin-1 character.
QString wire(const char *bytes)
{
    return QString::fromLatin1(bytes);
}
} // namespace

void TestHeaderDecoder::decodes_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain ASCII") << wire("Bob Smith <bob@example.org>") << u"Bob Smith <bob@example.org>"_qs;
    QTest::newRow("missing-header marker") << wire("<NotFound>") << u"<NotFound>"_qs;
    QTest::newRow("UTF-8 B") << wire("=?UTF-8?B?SGFsbMO2IFfDtnJsZA==?=") << u"Hallö Wörld"_qs;
    QTest::newRow("UTF-8 Q") << wire("=?utf-8?q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=") << u"Grüße aus Köln"_qs;
    QTest::newRow("ISO-8859-1 Q with address")
        << wire("=?ISO-8859-1?Q?Andr=E9?= <andre@example.org>") << u"André <andre@example.org>"_qs;
    QTest::newRow("ISO-8859-1 B") << wire("=?ISO-8859-1?B?RmHnYWRl?=") << u"Façade"_qs;
    QTest::newRow("ISO-8859-2 Q") << wire("=?ISO-8859-2?Q?Za=BF=F3=B3=E6_g=EA=B6l=B1?=")
                                  << u"Zażółć gęślą"_qs;
    QTest::newRow("ISO-8859-2 B") << wire("=?ISO-8859-2?B?o/NkvA==?=") << u"Łódź"_qs;
    QTest::newRow("Windows-1252 Q") << wire("=?windows-1252?Q?=805_=93quoted=94?=") << u"€5 “quoted”"_qs;
    QTest::newRow("Windows-1252 B") << wire("=?windows-1252?B?bmHvdmUgliBvaw==?=") << u"naïve – ok"_qs;
    QTest::newRow("KOI8-R B") << wire("=?KOI8-R?B?8NLJ18XU?=") << u"Привет"_qs;
    QTest::newRow("KOI8-R Q") << wire("=?KOI8-R?Q?=ED=C9=D2?=") << u"Мир"_qs;
    QTest::newRow("Shift_JIS B") << wire("=?Shift_JIS?B?k/qWe4zqgsyMj5a8?=") << u"日本語の件名"_qs;
    QTest::newRow("Shift_JIS Q") << wire("=?Shift_JIS?Q?=83e=83X=83g?=") << u"テスト"_qs;
    QTest::newRow("GB2312 B") << wire("=?GB2312?B?1tDOxNb3zOI=?=") << u"中文主题"_qs;
    QTest::newRow("GB2312 Q") << wire("=?GB2312?Q?=C4=E3=BA=C3?=") << u"你好"_qs;
    QTest::newRow("language suffix") << wire("=?UTF-8*en?Q?Hi?=") << u"Hi"_qs;

    // Blanks between adjacent encoded words go; every other blank stays.
    QTest::newRow("adjacent words, one space") << wire("=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=") << u"ab"_qs;
    QTest::newRow("adjacent words, folded blanks")
        << wire("=?ISO-8859-1?Q?a?=  \t =?ISO-8859-1?Q?b?=") << u"ab"_qs;
    QTest::newRow("adjacent words, no blank") << wire("=?ISO-8859-1?Q?a?==?ISO-8859-1?Q?b?=") << u"ab"_qs;
    QTest::newRow("adjacent words, two charsets")
        << wire("=?ISO-8859-1?Q?Andr=E9?= =?KOI8-R?B?8NLJ18XU?=") << u"AndréПривет"_qs;
    QTest::newRow("word then text") << wire("=?ISO-8859-1?Q?a?= b") << u"a b"_qs;
    QTest::newRow("text then word") << wire("a  =?ISO-8859-1?Q?b?=") << u"a  b"_qs;
    QTest::newRow("encoded blank kept") << wire("=?ISO-8859-1?Q?a_?= =?ISO-8859-1?Q?b?=") << u"a b"_qs;
    QTest::newRow("character split across words") << wire("=?UTF-8?Q?K=C3?= =?UTF-8?Q?=B6ln?=") << u"Köln"_qs;

    // What cannot be decoded stands as it is.
    QTest::newRow("unknown charset") << wire("=?x-no-such-charset?Q?abc?= x")
                                     << u"=?x-no-such-charset?Q?abc?= x"_qs;
    QTest::newRow("unknown encoding letter") << wire("=?UTF-8?X?abc?=") << u"=?UTF-8?X?abc?="_qs;
    QTest::newRow("invalid Base64") << wire("=?UTF-8?B?#!*?=") << u"=?UTF-8?B?#!*?="_qs;
    QTest::newRow("bad Q escape") << wire("=?UTF-8?Q?a=ZZ?=") << u"=?UTF-8?Q?a=ZZ?="_qs;
    QTest::newRow("bytes invalid in charset") << wire("=?UTF-8?Q?=FF=FE?=") << u"=?UTF-8?Q?=FF=FE?="_qs;
    QTest::newRow("unclosed word") << wire("=?UTF-8?Q?abc") << u"=?UTF-8?Q?abc"_qs;
    QTest::newRow("blank inside word") << wire("=?UTF-8?Q?a b?=") << u"=?UTF-8?Q?a b?="_qs;
    QTest::newRow("malformed beside good word")
        << wire("=?UTF-8?X?abc?= =?UTF-8?Q?d?=") << u"=?UTF-8?X?abc?= d"_qs;
    QTest::newRow("split character beside an undecodable word")
        << wire("=?UTF-8?Q?K=C3?= =?UTF-8?Q?=B6ln?= =?UTF-8?Q?=FF?=") << u"Köln=?UTF-8?Q?=FF?="_qs;
    // Far longer than any mailer writes: the search for a word's end stops before it.
    const QString longWord = u"=?UTF-8?Q?"_qs + QString(300, u'x') + u"?="_qs;
    QTest::newRow("word longer than the look-ahead") << longWord << longWord;
    // Decoders that pass unpaired surrogates through without an error.
    QTest::newRow("lone surrogate from UTF-16") << wire("=?UTF-16BE?B?2AA=?=") << u"=?UTF-16BE?B?2AA=?="_qs;
    QTest::newRow("lone surrogate from UTF-7") << wire("=?UTF-7?Q?+2AA-?=") << u"=?UTF-7?Q?+2AA-?="_qs;
    QTest::newRow("beyond Unicode from UTF-32")
        << wire("=?UTF-32BE?B?AEgAaQ==?=") << u"=?UTF-32BE?B?AEgAaQ==?="_qs;
    QTest::newRow("beyond Unicode from UTF-32, unpadded")
        << wire("=?UTF32?B?AEgAaQ?=") << u"=?UTF32?B?AEgAaQ?="_qs;

    // Raw 8-bit bytes: valid UTF-8 as UTF-8, any other byte as Latin-1, mixed in one header.
    QTest::newRow("raw UTF-8") << wire("J\xC3\xB6rg \xE6\x97\xA5\xE6\x9C\xAC") << u"Jörg 日本"_qs;
    QTest::newRow("raw Latin-1") << wire("J\xF6rg M\xFCller") << u"Jörg Müller"_qs;
    QTest::newRow("raw mixed") << wire("\xC3\xA9t\xE9 \xC3") << u"été Ã"_qs;
    QTest::newRow("raw overlong is Latin-1") << wire("\xC0\xAF") << u"À¯"_qs;
    QTest::newRow("raw beside encoded word") << wire("\xC3\xA9 =?ISO-8859-1?Q?=E9?=") << u"é é"_qs;
}

void TestHeaderDecoder::decodes()
{
    QFETCH(QString, header);
    QFETCH(QString, shown);
    QCOMPARE(decodeHeaderForDisplay(header), shown);
}

QTEST_APPLESS_MAIN(TestHeaderDecoder)
#include "tst_headerdecoder.moc"

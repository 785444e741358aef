#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>

namespace wrenkit
{

// One value of an IMAP response: an atom (numbers, flags and FETCH item names such as
// "BODY[HEADER]" included), a string (quoted or literal, with its escapes undone), NIL, or a
// parenthesised list of values.
struct ImapValue {
    enum class Type { Atom, String, Nil, List };

    Type type = Type::Nil;
    QByteArray bytes;       // an atom's text or a string's contents
    QList<ImapValue> items; // a list's values

    bool isAtom(QByteArrayView text) const;
    // The atom as a 32-bit unsigned number (UIDs, sizes, message numbers), or none.
    std::optional<quint32> number() const;

    friend bool operator==(const ImapValue &, const ImapValue &) = default;
};

// One complete server response.
struct ImapResponse {
    enum class Kind { Tagged, Untagged, Continuation };

    Kind kind = Kind::Untagged;
    QByteArray tag; // the command's tag; empty unless tagged

    // "* 3 EXISTS", "* 3 FETCH (...)": the number in front of the name.
    std::optional<quint32> number;
    // Upper-cased: OK, NO, BAD, PREAUTH, BYE for a status response; EXISTS, FETCH, CAPABILITY,
    // SEARCH, LIST, FLAGS... for data. Empty for a continuation request.
    QByteArray name;
    // The values after the name of a data response, e.g. the FETCH list or the SEARCH numbers.
    QList<ImapValue> values;

    // A status response or continuation request: the bracketed code (upper-cased name and its
    // argument as sent, e.g. "UIDVALIDITY" and "3857529045") and the text after it.
    QByteArray code;
    QByteArray codeArgument;
    QByteArray text;

    bool isStatus() const;
};

// Small readers of the IMAP response grammar over a byte array and a position, apart from any
// stream. Each reads one item starting at pos and on success moves pos past it. NeedMore means
// the bytes end before the item does (a literal, a quoted string or a list not yet complete);
// Bad means the bytes can never form the item. Nothing is allocated for a literal before its
// bytes are all there.
namespace ImapParse
{

enum class Result { Ok, NeedMore, Bad };

// Lists nested deeper than this are refused rather than followed.
constexpr int MaxListDepth = 64;

// An atom, with a bracketed section kept whole ("BODY[HEADER.FIELDS (FROM TO)]<0>").
Result readAtom(QByteArrayView in, qsizetype &pos, QByteArray &atom);
// A quoted string; \" and \\ are its only escapes.
Result readQuoted(QByteArrayView in, qsizetype &pos, QByteArray &text);
// The length of "{n}" or "{n+}" followed by CR LF; pos ends on the first byte of the literal.
Result readLiteralLength(QByteArrayView in, qsizetype &pos, qint64 &length);
// A literal and its bytes.
Result readLiteral(QByteArrayView in, qsizetype &pos, QByteArray &bytes);
// Any value: atom, NIL, quoted string, literal or list.
Result readValue(QByteArrayView in, qsizetype &pos, ImapValue &value, int depth = 0);
// A parenthesised list.
Result readList(QByteArrayView in, qsizetype &pos, ImapValue &list, int depth = 0);

// A whole response as framed by the reply reader, without its final CR LF.
Result readResponse(QByteArrayView in, ImapResponse &response);

} // namespace ImapParse

} // namespace wrenkit

#include "ImapParser.h"

#include <limits>

namespace wrenkit
{

namespace
{

using ImapParse::Result;

bool isStatusName(QByteArrayView name)
{
    return name == "OK" || name == "NO" || name == "BAD" || name == "PREAUTH" || name == "BYE";
}

// Bytes that end an atom outside a bracketed section: space, controls, DEL, list and literal
// openers, quotes. Bytes above 127 are taken as they come (servers send UTF-8 mailbox names).
bool endsAtom(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7f || c == '(' || c == ')' || c == '{' || c == '"';
}

void skipSpaces(QByteArrayView in, qsizetype &pos)
{
    while (pos < in.size() && in[pos] == ' ')
        ++pos;
}

// "[CODE argument] text" or just "text", up to the end of the response.
Result readStatusText(QByteArrayView in, qsizetype pos, ImapResponse &response)
{
    if (pos < in.size() && in[pos] == '[') {
        const qsizetype close = in.indexOf(']', pos + 1);
        if (close < 0)
            return Result::Bad;
        const QByteArrayView inside = in.sliced(pos + 1, close - pos - 1);
        const qsizetype space = inside.indexOf(' ');
        const QByteArrayView name = space < 0 ? inside : inside.first(space);
        if (name.isEmpty())
            return Result::Bad;
        response.code = name.toByteArray().toUpper();
        if (space >= 0)
            response.codeArgument = inside.sliced(space + 1).toByteArray();
        pos = close + 1;
        if (pos < in.size() && in[pos] == ' ')
            ++pos;
    }
    response.text = in.sliced(pos).toByteArray();
    return Result::Ok;
}

// The values of a data response, up to the end of the response.
Result readValues(QByteArrayView in, qsizetype pos, QList<ImapValue> &values)
{
    for (;;) {
        skipSpaces(in, pos);
        if (pos == in.size())
            return Result::Ok;
        ImapValue value;
        const Result r = ImapParse::readValue(in, pos, value);
        if (r != Result::Ok)
            return r;
        values.append(std::move(value));
    }
}

} // namespace

bool ImapValue::isAtom(QByteArrayView text) const
{
    return type == Type::Atom && bytes.compare(text, Qt::CaseInsensitive) == 0;
}

std::optional<quint32> ImapValue::number() const
{
    if (type != Type::Atom || bytes.isEmpty() || bytes.size() > 10)
        return std::nullopt;
    quint64 n = 0;
    for (const char c : bytes) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + quint64(c - '0');
    }
    if (n > std::numeric_limits<quint32>::max())
        return std::nullopt;
    return quint32(n);
}

bool ImapResponse::isStatus() const
{
    return kind != Kind::Continuation && !number && isStatusName(name);
}

namespace ImapParse
{

Result readAtom(QByteArrayView in, qsizetype &pos, QByteArray &atom)
{
    qsizetype p = pos;
    while (p < in.size() && !endsAtom(in[p])) {
        if (in[p++] != '[')
            continue;
        // A section such as "[HEADER.FIELDS (FROM TO)]" may hold spaces and lists.
        while (p < in.size() && in[p] != ']') {
            if (in[p] == '\r' || in[p] == '\n')
                return Result::Bad;
            ++p;
        }
        if (p == in.size())
            return Result::NeedMore;
        ++p;
    }
    if (p == pos)
        return Result::Bad;
    atom = in.sliced(pos, p - pos).toByteArray();
    pos = p;
    return Result::Ok;
}

Result readQuoted(QByteArrayView in, qsizetype &pos, QByteArray &text)
{
    if (pos >= in.size())
        return Result::NeedMore;
    if (in[pos] != '"')
        return Result::Bad;
    QByteArray out;
    for (qsizetype p = pos + 1; p < in.size(); ++p) {
        char c = in[p];
        if (c == '"') {
            text = std::move(out);
            pos = p + 1;
            return Result::Ok;
        }
        if (c == '\r' || c == '\n')
            return Result::Bad;
        if (c == '\\') {
            if (++p == in.size())
                return Result::NeedMore;
            c = in[p];
            if (c != '"' && c != '\\')
                return Result::Bad;
        }
        out.append(c);
    }
    return Result::NeedMore;
}

Result readLiteralLength(QByteArrayView in, qsizetype &pos, qint64 &length)
{
    qsizetype p = pos;
    if (p >= in.size())
        return Result::NeedMore;
    if (in[p++] != '{')
        return Result::Bad;
    qint64 n = 0;
    const qsizetype digits = p;
    while (p < in.size() && in[p] >= '0' && in[p] <= '9') {
        const int d = in[p++] - '0';
        if (n > (std::numeric_limits<qint64>::max() - d) / 10)
            return Result::Bad;
        n = n * 10 + d;
    }
    if (p < in.size() && p == digits)
        return Result::Bad;
    if (p < in.size() && in[p] == '+')
        ++p;
    for (const char expected : {'}', '\r', '\n'}) {
        if (p == in.size())
            return Result::NeedMore;
        if (in[p++] != expected)
            return Result::Bad;
    }
    length = n;
    pos = p;
    return Result::Ok;
}

Result readLiteral(QByteArrayView in, qsizetype &pos, QByteArray &bytes)
{
    qsizetype p = pos;
    qint64 length = 0;
    const Result r = readLiteralLength(in, p, length);
    if (r != Result::Ok)
        return r;
    if (in.size() - p < length)
        return Result::NeedMore;
    bytes = in.sliced(p, length).toByteArray();
    pos = p + length;
    return Result::Ok;
}

Result readValue(QByteArrayView in, qsizetype &pos, ImapValue &value, int depth)
{
    if (pos >= in.size())
        return Result::NeedMore;
    switch (in[pos]) {
    case '(':
        return readList(in, pos, value, depth);
    case '"':
        value.type = ImapValue::Type::String;
        return readQuoted(in, pos, value.bytes);
    case '{':
        value.type = ImapValue::Type::String;
        return readLiteral(in, pos, value.bytes);
    default:
        break;
    }
    const Result r = readAtom(in, pos, value.bytes);
    if (r != Result::Ok)
        return r;
    if (value.bytes.compare("NIL", Qt::CaseInsensitive) == 0) {
        value.type = ImapValue::Type::Nil;
        value.bytes.clear();
    } else {
        value.type = ImapValue::Type::Atom;
    }
    return Result::Ok;
}

Result readList(QByteArrayView in, qsizetype &pos, ImapValue &list, int depth)
{
    if (pos >= in.size())
        return Result::NeedMore;
    if (in[pos] != '(' || depth >= MaxListDepth)
        return Result::Bad;
    ImapValue out;
    out.type = ImapValue::Type::List;
    qsizetype p = pos + 1;
    for (;;) {
        skipSpaces(in, p);
        if (p == in.size())
            return Result::NeedMore;
        if (in[p] == ')')
            break;
        ImapValue item;
        const Result r = readValue(in, p, item, depth + 1);
        if (r != Result::Ok)
            return r;
        out.items.append(std::move(item));
    }
    list = std::move(out);
    pos = p + 1;
    return Result::Ok;
}

Result readResponse(QByteArrayView in, ImapResponse &response)
{
    ImapResponse out;
    if (in.startsWith('+')) {
        out.kind = ImapResponse::Kind::Continuation;
        const Result r = readStatusText(in, in.startsWith("+ ") ? 2 : 1, out);
        if (r == Result::Ok)
            response = std::move(out);
        return r;
    }

    qsizetype pos = in.indexOf(' ');
    if (pos <= 0)
        return Result::Bad;
    if (in.first(pos) == "*") {
        out.kind = ImapResponse::Kind::Untagged;
    } else {
        out.kind = ImapResponse::Kind::Tagged;
        out.tag = in.first(pos).toByteArray();
    }
    ++pos;

    QByteArray word;
    if (readAtom(in, pos, word) != Result::Ok)
        return Result::Bad;
    if (out.kind == ImapResponse::Kind::Untagged && word.front() >= '0' && word.front() <= '9') {
        const ImapValue number{ImapValue::Type::Atom, word, {}};
        out.number = number.number();
        if (!out.number || pos == in.size() || in[pos] != ' ')
            return Result::Bad;
        ++pos;
        if (readAtom(in, pos, word) != Result::Ok)
            return Result::Bad;
    }
    out.name = word.toUpper();

    // A command completes with OK, NO or BAD only.
    if (out.kind == ImapResponse::Kind::Tagged && out.name != "OK" && out.name != "NO" && out.name != "BAD")
        return Result::Bad;
    Result r;
    if (out.isStatus()) {
        if (pos < in.size() && in[pos] != ' ')
            return Result::Bad;
        r = readStatusText(in, std::min(pos + 1, in.size()), out);
    } else {
        if (pos < in.size() && in[pos] != ' ')
            return Result::Bad;
        r = readValues(in, pos, out.values);
    }
    if (r == Result::Ok)
        response = std::move(out);
    return r;
}

} // namespace ImapParse

} // namespace wrenkit

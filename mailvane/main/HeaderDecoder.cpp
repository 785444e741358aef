#include "main/HeaderDecoder.h"

#include <QByteArray>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace
{

// The longest encoded word taken, delimiters included. RFC 2047 allows 75 characters and real
// mailers stay near that; the bound keeps a stray "=?" from reaching far into the header.
constexpr qsizetype MaxWordLength = 256;

// One piece of the header: plain text, or an encoded word whose transfer encoding was undone.
struct Piece {
    QByteArrayView raw;       // the bytes as they stand in the header
    bool isWord = false;      // an encoded word whose B or Q text decoded
    QByteArrayView charset{}; // of a word
    QByteArray bytes{};       // of a word: its bytes in that charset
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isBlankRun(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), isBlank);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<QByteArray> decodeQ(QByteArrayView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<QByteArray> decodeB(QByteArrayView text)
{
    const auto result =
        QByteArray::fromBase64Encoding(text.toByteArray(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

// The first place at or after a position where a search succeeds, -1 for none. The positions asked
// for never go back, so each search starts past the last one's result and the text is read once.
class NextMatch
{
public:
    using Search = qsizetype (*)(QByteArrayView text, qsizetype from);
    NextMatch(QByteArrayView text, Search search) : m_text(text), m_search(search) {}

    qsizetype from(qsizetype position)
    {
        if (!m_searched || (m_found >= 0 && m_found < position)) {
            m_found = m_search(m_text, position);
            m_searched = true;
        }
        return m_found;
    }

private:
    QByteArrayView m_text;
    Search m_search;
    bool m_searched = false;
    qsizetype m_found = -1;
};

// The next place of a character. Most searches end within a few bytes, where a plain loop is
// cheaper than a call to memchr.
qsizetype nextChar(QByteArrayView text, qsizetype from, char c)
{
    for (const qsizetype near = std::min(text.size(), from + 16); from < near; ++from) {
        if (text[from] == c)
            return from;
    }
    return from < text.size() ? text.indexOf(c, from) : -1;
}

qsizetype nextQuestionMark(QByteArrayView text, qsizetype from)
{
    return nextChar(text, from, '?');
}

// The next place of a two-character pair: a search for its first character, which is rare in
// headers, is much cheaper than a general substring search.
qsizetype nextPair(QByteArrayView text, qsizetype from, char first, char second)
{
    while ((from = nextChar(text, from, first)) >= 0) {
        if (from + 1 < text.size() && text[from + 1] == second)
            return from;
        ++from;
    }
    return -1;
}

qsizetype nextWordEnd(QByteArrayView text, qsizetype from)
{
    return nextPair(text, from, '?', '=');
}

qsizetype nextBlank(QByteArrayView text, qsizetype from)
{
    const auto found = std::find_if(text.begin() + from, text.end(), isBlank);
    return found == text.end() ? -1 : found - text.begin();
}

// The charsets a header names, each looked up once: whether the text codecs know it, and which of
// Qt's own encodings it is. A header names few charsets; past a handful they are looked up each time.
class Charsets
{
public:
    struct Charset {
        QByteArray name;
        bool known = false;
        // One of Qt's own encodings, whose decoder is kept and reset between words.
        std::shared_ptr<QStringDecoder> builtIn{};
    };

    const Charset &find(QByteArrayView name)
    {
        for (const Charset &charset : m_charsets) {
            if (charset.name == name)
                return charset;
        }
        Charset charset{name.toByteArray()};
        charset.known = QStringDecoder(charset.name.constData()).isValid();
        if (const auto encoding = QStringConverter::encodingForName(charset.name.constData()))
            charset.builtIn = std::make_shared<QStringDecoder>(*encoding, QStringDecoder::Flag::Stateless);
        if (m_charsets.size() == MaxKept)
            m_charsets.removeLast();
        m_charsets.prepend(std::move(charset));
        return m_charsets.first();
    }

    // Appends bytes decoded in a charset; false, with nothing appended, when they are not valid in it.
    // Some decoders (UTF-16, UTF-32, UTF-7) pass unpaired surrogates through without an error: such a
    // result counts as invalid too.
    bool append(QByteArrayView name, QByteArrayView bytes, QString &out)
    {
        const Charset &charset = find(name);
        if (!charset.known)
            return false;
        std::optional<QStringDecoder> fresh;
        QStringDecoder *decoder = charset.builtIn.get();
        if (decoder)
            decoder->resetState();
        else
            decoder = &fresh.emplace(charset.name.constData(), QStringDecoder::Flag::Stateless);
        const qsizetype start = out.size();
        out.resize(start + decoder->requiredSpace(bytes.size()));
        const QChar *end = decoder->appendToBuffer(out.data() + start, bytes);
        out.resize(end - out.constData());
        if (decoder->hasError() || !QStringView(out).sliced(start).isValidUtf16()) {
            out.truncate(start);
            return false;
        }
        return true;
    }

private:
    static constexpr qsizetype MaxKept = 8;
    QList<Charset> m_charsets;
};

// Cuts a header into plain text and encoded words in one pass.
class Splitter
{
public:
    Splitter(QByteArrayView header, Charsets &charsets)
        : m_header(header), m_charsetEnd(header, nextQuestionMark), m_encodingEnd(header, nextQuestionMark),
          m_textEnd(header, nextWordEnd), m_blank(header, nextBlank), m_charsets(charsets)
    {
    }

    std::vector<Piece> split()
    {
        std::vector<Piece> pieces;
        qsizetype plainFrom = 0;
        for (qsizetype from = 0; (from = nextPair(m_header, from, '=', '?')) >= 0;) {
            Piece word;
            const qsizetype length = readWord(from, word);
            if (length == 0) {
                ++from;
                continue;
            }
            if (from > plainFrom)
                pieces.push_back({m_header.sliced(plainFrom, from - plainFrom)});
            pieces.push_back(std::move(word));
            plainFrom = from += length;
        }
        if (plainFrom < m_header.size())
            pieces.push_back({m_header.sliced(plainFrom)});
        return pieces;
    }

private:
    // Reads an encoded word "=?charset?X?text?=" at from; its length, or 0 when none stands there or
    // its text cannot be decoded.
    qsizetype readWord(qsizetype from, Piece &word)
    {
        if (from + 1 >= m_header.size() || m_header[from] != '=' || m_header[from + 1] != '?')
            return 0;
        const qsizetype charsetEnd = m_charsetEnd.from(from + 2);
        if (charsetEnd < 0 || charsetEnd - from > MaxWordLength)
            return 0;
        const qsizetype encodingEnd = m_encodingEnd.from(charsetEnd + 1);
        if (encodingEnd < 0 || encodingEnd - from > MaxWordLength)
            return 0;
        const qsizetype textEnd = m_textEnd.from(encodingEnd + 1);
        if (textEnd < 0)
            return 0;
        const qsizetype end = textEnd + 2;
        if (end - from > MaxWordLength)
            return 0;
        if (const qsizetype blank = m_blank.from(from); blank >= 0 && blank < end)
            return 0;

        QByteArrayView charset = m_header.sliced(from + 2, charsetEnd - from - 2);
        if (const qsizetype star = charset.indexOf('*'); star >= 0)
            charset.truncate(star); // an RFC 2231 language suffix
        const QByteArrayView encoding = m_header.sliced(charsetEnd + 1, encodingEnd - charsetEnd - 1);
        const QByteArrayView text = m_header.sliced(encodingEnd + 1, textEnd - encodingEnd - 1);
        std::optional<QByteArray> bytes;
        if (encoding == "B" || encoding == "b")
            bytes = decodeB(text);
        else if (encoding == "Q" || encoding == "q")
            bytes = decodeQ(text);
        // An unknown charset leaves the word as it stands, like any other text.
        if (charset.isEmpty() || !bytes || !m_charsets.find(charset).known)
            return 0;
        word = {m_header.sliced(from, end - from), true, charset, *std::move(bytes)};
        return end - from;
    }

    QByteArrayView m_header;
    NextMatch m_charsetEnd;
    NextMatch m_encodingEnd;
    NextMatch m_textEnd;
    NextMatch m_blank;
    Charsets &m_charsets;
};

// The length of the valid UTF-8 sequence of more than one byte at from, or 0.
qsizetype utf8SequenceLength(QByteArrayView bytes, qsizetype from)
{
    const auto byte = [&](qsizetype i) { return i < bytes.size() ? uchar(bytes[i]) : 0u; };
    const uint lead = byte(from);
    qsizetype length = 0;
    uint low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F; // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (byte(from + 1) < low || byte(from + 1) > high)
        return 0;
    for (qsizetype k = 2; k < length; ++k) {
        if (byte(from + k) < 0x80 || byte(from + k) > 0xBF)
            return 0;
    }
    return length;
}

// Raw header bytes: valid UTF-8 sequences as UTF-8, every other byte as its Latin-1 character.
void appendRaw(QByteArrayView bytes, QString &out)
{
    for (qsizetype i = 0; i < bytes.size();) {
        qsizetype ascii = i;
        while (ascii < bytes.size() && uchar(bytes[ascii]) < 0x80)
            ++ascii;
        if (ascii > i) {
            out += QLatin1StringView(bytes.sliced(i, ascii - i));
            i = ascii;
            continue;
        }
        const qsizetype length = utf8SequenceLength(bytes, i);
        if (length == 0) {
            out += QChar(uchar(bytes[i++]));
            continue;
        }
        char32_t code = uchar(bytes[i]) & (0x7F >> length);
        for (qsizetype k = 1; k < length; ++k)
            code = (code << 6) | (uchar(bytes[i + k]) & 0x3F);
        if (QChar::requiresSurrogates(code)) {
            out += QChar(QChar::highSurrogate(code));
            out += QChar(QChar::lowSurrogate(code));
        } else {
            out += QChar(char16_t(code));
        }
        i += length;
    }
}

QByteArray joinedBytes(const std::vector<Piece> &pieces, qsizetype first, qsizetype last)
{
    QByteArray joined;
    for (qsizetype k = first; k <= last; k += 2)
        joined += pieces[k].bytes;
    return joined;
}

// A run of encoded words of one charset with only blanks between them (pieces first, first + 2, ...,
// last). Senders split a character across two words now and then, so the run is decoded as one. When
// that fails, each word is decoded alone, or else together with the next word; a word that still
// does not decode stays as it stands. Every word is decoded a bounded number of times.
void appendRun(const std::vector<Piece> &pieces, qsizetype first, qsizetype last, Charsets &charsets,
               QString &out)
{
    const auto append = [&](qsizetype from, qsizetype to) {
        return charsets.append(pieces[first].charset,
                               from == to ? pieces[from].bytes : joinedBytes(pieces, from, to), out);
    };
    if (append(first, last))
        return;
    for (qsizetype k = first; k <= last;) {
        bool done = first != last && append(k, k);
        qsizetype next = k + 2;
        if (!done && k + 2 <= last) {
            done = append(k, k + 2);
            next = k + 4;
        }
        if (!done) {
            appendRaw(pieces[k].raw, out);
            next = k + 2;
        }
        k = next;
    }
}

} // namespace

QString decodeHeaderForDisplay(const QString &latin1Text)
{
    // A text that is not one byte per character did not come from the wire: shown as it is.
    if (std::any_of(latin1Text.cbegin(), latin1Text.cend(), [](QChar c) { return c.unicode() > 0xFF; }))
        return latin1Text;

    const QByteArray header = latin1Text.toLatin1();
    Charsets charsets;
    const std::vector<Piece> pieces = Splitter(header, charsets).split();
    const auto count = qsizetype(pieces.size());
    QString out;
    out.reserve(header.size());
    for (qsizetype i = 0; i < count;) {
        const Piece &piece = pieces[i];
        if (!piece.isWord) {
            // Blanks between two encoded words are dropped.
            const bool betweenWords = i > 0 && i + 1 < count && pieces[i - 1].isWord &&
                                      pieces[i + 1].isWord && isBlankRun(piece.raw);
            if (!betweenWords)
                appendRaw(piece.raw, out);
            ++i;
            continue;
        }
        qsizetype last = i;
        while (last + 2 < count && isBlankRun(pieces[last + 1].raw) && pieces[last + 2].isWord &&
               pieces[last + 2].charset.compare(piece.charset, Qt::CaseInsensitive) == 0)
            last += 2;
        appendRun(pieces, i, last, charsets, out);
        i = last + 1;
    }
    return out;
}

#include "main/HeaderDecoder.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace
{

// The longest encoded word taken, delimiters included. RFC 2047 allows 75 characters and real
// mailers stay near that; the bound keeps a stray "=?" from reaching far into the header.
constexpr qsizetype MaxWordLength = 256;

// One piece of the header: plain text, or an encoded word whose transfer encoding was undone.
struct Piece {
    QByteArray raw;       // the bytes as they stand in the header
    bool isWord = false;  // an encoded word whose B or Q text decoded
    QByteArray charset{}; // of a word
    QByteArray bytes{};   // of a word: its bytes in that charset
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isBlankRun(const QByteArray &text)
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

qsizetype nextQuestionMark(QByteArrayView text, qsizetype from)
{
    return text.indexOf('?', from);
}

qsizetype nextWordEnd(QByteArrayView text, qsizetype from)
{
    return text.indexOf("?=", from);
}

qsizetype nextBlank(QByteArrayView text, qsizetype from)
{
    const auto found = std::find_if(text.begin() + from, text.end(), isBlank);
    return found == text.end() ? -1 : found - text.begin();
}

// Whether the text codecs know a charset, asked once per name and header.
class Charsets
{
public:
    bool known(const QByteArray &charset)
    {
        const QByteArray key = charset.toUpper();
        if (const auto found = m_known.constFind(key); found != m_known.cend())
            return *found;
        const bool known = QStringDecoder(charset.constData()).isValid();
        m_known.insert(key, known);
        return known;
    }

private:
    QHash<QByteArray, bool> m_known;
};

// Cuts a header into plain text and encoded words in one pass.
class Splitter
{
public:
    explicit Splitter(const QByteArray &header)
        : m_header(header), m_charsetEnd(header, nextQuestionMark), m_encodingEnd(header, nextQuestionMark),
          m_textEnd(header, nextWordEnd), m_blank(header, nextBlank)
    {
    }

    QList<Piece> split()
    {
        QList<Piece> pieces;
        QByteArray plain;
        for (qsizetype i = 0; i < m_header.size();) {
            Piece word;
            if (const qsizetype length = readWord(i, word)) {
                if (!plain.isEmpty())
                    pieces.append({plain});
                plain.clear();
                pieces.append(word);
                i += length;
            } else {
                plain += m_header[i++];
            }
        }
        if (!plain.isEmpty())
            pieces.append({plain});
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

        const QByteArrayView header(m_header);
        QByteArray charset = header.sliced(from + 2, charsetEnd - from - 2).toByteArray();
        if (const qsizetype star = charset.indexOf('*'); star >= 0)
            charset.truncate(star); // an RFC 2231 language suffix
        const QByteArrayView encoding = header.sliced(charsetEnd + 1, encodingEnd - charsetEnd - 1);
        const QByteArrayView text = header.sliced(encodingEnd + 1, textEnd - encodingEnd - 1);
        std::optional<QByteArray> bytes;
        if (encoding == "B" || encoding == "b")
            bytes = decodeB(text);
        else if (encoding == "Q" || encoding == "q")
            bytes = decodeQ(text);
        // An unknown charset leaves the word as it stands, like any other text.
        if (charset.isEmpty() || !bytes || !m_charsets.known(charset))
            return 0;
        word = {m_header.sliced(from, end - from), true, charset, *bytes};
        return end - from;
    }

    const QByteArray &m_header;
    NextMatch m_charsetEnd;
    NextMatch m_encodingEnd;
    NextMatch m_textEnd;
    NextMatch m_blank;
    Charsets m_charsets;
};

// Text in a charset; nothing when the bytes are not valid in it. Some decoders (UTF-16, UTF-32,
// UTF-7) pass unpaired surrogates through without an error: such a result counts as invalid too.
std::optional<QString> decodeCharset(const QByteArray &charset, const QByteArray &bytes)
{
    QStringDecoder decoder(charset.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || !QStringView(text).isValidUtf16())
        return std::nullopt;
    return text;
}

// The length of the valid UTF-8 sequence of more than one byte at from, or 0.
qsizetype utf8SequenceLength(const QByteArray &bytes, qsizetype from)
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
void appendRaw(const QByteArray &bytes, QString &out)
{
    for (qsizetype i = 0; i < bytes.size();) {
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

QByteArray joinedBytes(const QList<Piece> &pieces, qsizetype first, qsizetype last)
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
void appendRun(const QList<Piece> &pieces, qsizetype first, qsizetype last, QString &out)
{
    const QByteArray &charset = pieces[first].charset;
    if (const std::optional<QString> text = decodeCharset(charset, joinedBytes(pieces, first, last))) {
        out += *text;
        return;
    }
    for (qsizetype k = first; k <= last;) {
        if (const std::optional<QString> text = decodeCharset(charset, pieces[k].bytes)) {
            out += *text;
            k += 2;
        } else if (const std::optional<QString> pair =
                       k + 2 <= last ? decodeCharset(charset, joinedBytes(pieces, k, k + 2)) : std::nullopt) {
            out += *pair;
            k += 4;
        } else {
            appendRaw(pieces[k].raw, out);
            k += 2;
        }
    }
}

} // namespace

QString decodeHeaderForDisplay(const QString &latin1Text)
{
    // A text that is not one byte per character did not come from the wire: shown as it is.
    if (std::any_of(latin1Text.cbegin(), latin1Text.cend(), [](QChar c) { return c.unicode() > 0xFF; }))
        return latin1Text;

    const QByteArray header = latin1Text.toLatin1();
    const QList<Piece> pieces = Splitter(header).split();
    QString out;
    out.reserve(header.size());
    for (qsizetype i = 0; i < pieces.size();) {
        const Piece &piece = pieces[i];
        if (!piece.isWord) {
            // Blanks between two encoded words are dropped.
            const bool betweenWords = i > 0 && i + 1 < pieces.size() && pieces[i - 1].isWord &&
                                      pieces[i + 1].isWord && isBlankRun(piece.raw);
            if (!betweenWords)
                appendRaw(piece.raw, out);
            ++i;
            continue;
        }
        qsizetype last = i;
        while (last + 2 < pieces.size() && isBlankRun(pieces[last + 1].raw) && pieces[last + 2].isWord &&
               pieces[last + 2].charset.compare(piece.charset, Qt::CaseInsensitive) == 0)
            last += 2;
        appendRun(pieces, i, last, out);
        i = last + 1;
    }
    return out;
}

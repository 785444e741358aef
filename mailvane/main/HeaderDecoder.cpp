#include "main/HeaderDecoder.h"

#include <QByteArray>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace
{

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

std::optional<QByteArray> decodeQ(const QByteArray &text)
{
    QByteArray out;
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

std::optional<QByteArray> decodeB(const QByteArray &text)
{
    const auto result = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return *result;
}

// Reads an encoded word "=?charset?X?text?=" at from; its length, or 0 when none stands there or
// its text cannot be decoded.
qsizetype readWord(const QByteArray &header, qsizetype from, Piece &word)
{
    if (from + 1 >= header.size() || header[from] != '=' || header[from + 1] != '?')
        return 0;
    const qsizetype charsetEnd = header.indexOf('?', from + 2);
    if (charsetEnd < 0)
        return 0;
    const qsizetype encodingEnd = header.indexOf('?', charsetEnd + 1);
    if (encodingEnd < 0)
        return 0;
    const qsizetype textEnd = header.indexOf("?=", encodingEnd + 1);
    if (textEnd < 0)
        return 0;
    const qsizetype end = textEnd + 2;
    const QByteArray whole = header.mid(from, end - from);
    if (std::any_of(whole.cbegin(), whole.cend(), isBlank))
        return 0;

    QByteArray charset = header.mid(from + 2, charsetEnd - from - 2);
    if (const qsizetype star = charset.indexOf('*'); star >= 0)
        charset.truncate(star); // an RFC 2231 language suffix
    const QByteArray encoding = header.mid(charsetEnd + 1, encodingEnd - charsetEnd - 1).toUpper();
    const QByteArray text = header.mid(encodingEnd + 1, textEnd - encodingEnd - 1);
    std::optional<QByteArray> bytes;
    if (encoding == "B")
        bytes = decodeB(text);
    else if (encoding == "Q")
        bytes = decodeQ(text);
    // An unknown charset leaves the word as it stands, like any other text.
    if (charset.isEmpty() || !bytes || !QStringDecoder(charset.constData()).isValid())
        return 0;
    word = {whole, true, charset, *bytes};
    return end - from;
}

QList<Piece> split(const QByteArray &header)
{
    QList<Piece> pieces;
    QByteArray plain;
    for (qsizetype i = 0; i < header.size();) {
        Piece word;
        if (const qsizetype length = readWord(header, i, word)) {
            if (!plain.isEmpty())
                pieces.append({plain});
            plain.clear();
            pieces.append(word);
            i += length;
        } else {
            plain += header[i++];
        }
    }
    if (!plain.isEmpty())
        pieces.append({plain});
    return pieces;
}

std::optional<QString> decodeCharset(const QByteArray &charset, const QByteArray &bytes)
{
    QStringDecoder decoder(charset.constData(), QStringDecoder::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
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
QString decodeRaw(const QByteArray &bytes)
{
    QString out;
    for (qsizetype i = 0; i < bytes.size();) {
        if (const qsizetype length = utf8SequenceLength(bytes, i)) {
            out += QString::fromUtf8(bytes.mid(i, length));
            i += length;
        } else {
            out += QChar(uchar(bytes[i++]));
        }
    }
    return out;
}

} // namespace

QString decodeHeaderForDisplay(const QString &latin1Text)
{
    // A text that is not one byte per character did not come from the wire: shown as it is.
    if (std::any_of(latin1Text.cbegin(), latin1Text.cend(), [](QChar c) { return c.unicode() > 0xFF; }))
        return latin1Text;

    const QList<Piece> pieces = split(latin1Text.toLatin1());
    QString out;
    for (qsizetype i = 0; i < pieces.size();) {
        const Piece &piece = pieces[i];
        if (!piece.isWord) {
            // Blanks between two encoded words are dropped.
            const bool betweenWords = i > 0 && i + 1 < pieces.size() && pieces[i - 1].isWord &&
                                      pieces[i + 1].isWord && isBlankRun(piece.raw);
            if (!betweenWords)
                out += decodeRaw(piece.raw);
            ++i;
            continue;
        }
        // Adjacent words of one charset are decoded together: senders split a character across two
        // words now and then.
        QByteArray joined = piece.bytes;
        qsizetype next = i + 1;
        while (next + 1 < pieces.size() && isBlankRun(pieces[next].raw) && pieces[next + 1].isWord &&
               pieces[next + 1].charset.compare(piece.charset, Qt::CaseInsensitive) == 0) {
            joined += pieces[next + 1].bytes;
            next += 2;
        }
        if (const std::optional<QString> text = decodeCharset(piece.charset, joined)) {
            out += *text;
            i = next;
            continue;
        }
        const std::optional<QString> text = decodeCharset(piece.charset, piece.bytes);
        out += text ? *text : decodeRaw(piece.raw);
        ++i;
    }
    return out;
}

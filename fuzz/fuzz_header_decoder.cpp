// The header decoder: whatever it is given, the text it returns is valid UTF-16, and a header
// without an encoded word comes back as its raw decoding.
//
// Input: the header bytes, each one Latin-1 character as the POP3 control hands them over.
#include "FuzzCheck.h"
#include "main/HeaderDecoder.h"

#include <QByteArray>
#include <QList>
#include <QStringDecoder>

#include <cstdint>

namespace
{

// Raw bytes read one character at a time: the shortest run of two to four bytes that UTF-8 reads as
// one character, else the byte as Latin-1.
QString rawDecoding(const QByteArray &bytes)
{
    QString out;
    for (qsizetype i = 0; i < bytes.size();) {
        qsizetype length = 0;
        if (uchar(bytes[i]) >= 0x80) {
            for (qsizetype n = 2; n <= 4 && i + n <= bytes.size() && length == 0; ++n) {
                QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
                const QString text = utf8.decode(bytes.sliced(i, n));
                if (!utf8.hasError() && text.toUcs4().size() == 1)
                    length = n;
            }
        }
        if (length == 0) {
            out += QChar(uchar(bytes[i++]));
            continue;
        }
        out += QString::fromUtf8(bytes.sliced(i, length));
        i += length;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString shown = decodeHeaderForDisplay(QString::fromLatin1(bytes));
    FUZZ_CHECK(QStringView(shown).isValidUtf16());
    if (!bytes.contains("=?"))
        FUZZ_CHECK(shown == rawDecoding(bytes));
    // Decoding depends on nothing but the text.
    FUZZ_CHECK(decodeHeaderForDisplay(QString::fromLatin1(bytes)) == shown);
    return 0;
}

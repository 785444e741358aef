// The fingerprint text a user pastes: kept only as 64 lowercase hex digits, the hex digits of what
// was pasted, in order; and the kept form reads back as itself.
//
// Input: the text, as UTF-8 and as Latin-1.
#include "CertificateFingerprint.h"
#include "FuzzCheck.h"

#include <QByteArray>

#include <cstdint>

using wrenkit::normalizedFingerprint;

namespace
{

void check(const QString &text)
{
    const QString kept = normalizedFingerprint(text);
    if (kept.isEmpty())
        return;
    FUZZ_CHECK(kept.size() == 64);
    for (const QChar c : kept)
        FUZZ_CHECK((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'));
    QString digits;
    for (const QChar c : text) {
        if (c == u':' || c.isSpace())
            continue;
        FUZZ_CHECK(c.unicode() < 128 && QChar::isLetterOrNumber(c.unicode()));
        digits += c.toLower();
    }
    FUZZ_CHECK(digits == kept);
    FUZZ_CHECK(normalizedFingerprint(kept) == kept);
    FUZZ_CHECK(normalizedFingerprint(text.toUpper()) == kept);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    check(QString::fromUtf8(bytes));
    check(QString::fromLatin1(bytes));
    return 0;
}

// Header lookup and the priority number against plain readings of their contracts.
//
// Input: the name to look up, a NUL byte, then the reply buffer.
#include "FuzzCheck.h"
#include "HeaderValue.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QList>
#include <QRegularExpression>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

using wrenkit::GetHeaderValue;
using wrenkit::PriorityNumber;

namespace
{

// Split at single spaces; the first word holding the name matches; the words after it up to the
// first CR LF are the value.
QString lookedUp(const QByteArray &buffer, const QByteArray &name)
{
    const QList<QByteArray> words = buffer.split(' ');
    for (qsizetype k = 0; k < words.size(); ++k) {
        if (!QLatin1StringView(words[k]).contains(QLatin1StringView(name), Qt::CaseInsensitive))
            continue;
        QList<QByteArray> value;
        for (qsizetype j = k + 1; j < words.size(); ++j) {
            const qsizetype crlf = words[j].indexOf("\r\n");
            value.append(crlf < 0 ? words[j] : words[j].first(crlf));
            if (crlf >= 0)
                break;
        }
        return QString::fromLatin1(value.join(' '));
    }
    return wrenkit::notFoundMarker();
}

qint16 leadingNumber(const QString &value)
{
    static const QRegularExpression number(QStringLiteral("^ *([+-]?([0-9]+(\\.[0-9]*)?|\\.[0-9]+))"));
    const QRegularExpressionMatch match = number.match(value);
    if (!match.hasMatch())
        return 0;
    const double parsed = std::strtod(match.captured(1).toLatin1().constData(), nullptr);
    const double rounded = std::nearbyint(parsed);
    if (!(rounded >= std::numeric_limits<qint16>::min() && rounded <= std::numeric_limits<qint16>::max()))
        return 0;
    return qint16(rounded);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArray name = nul < 0 ? QByteArray("From:") : input.first(nul);
    const QByteArray buffer = nul < 0 ? input : input.sliced(nul + 1);

    const QString value = GetHeaderValue(buffer, name);
    FUZZ_CHECK(value == lookedUp(buffer, name));
    FUZZ_CHECK(!value.contains(QLatin1String("\r\n")));

    for (const QString &text : {value, QString::fromLatin1(buffer), QString::fromUtf8(buffer)})
        FUZZ_CHECK(PriorityNumber(text) == leadingNumber(text));
    return 0;
}

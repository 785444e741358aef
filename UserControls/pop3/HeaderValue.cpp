#include "HeaderValue.h"

#include <QLatin1StringView>
#include <cmath>
#include <limits>

namespace wrenkit {

QString GetHeaderValue(QByteArrayView buffer, QByteArrayView name)
{
    // Words never hold a space, so a name with one matches no word. Otherwise the first word
    // that contains the name is the word around its first occurrence: one search of the buffer
    // finds it.
    if (name.contains(' '))
        return notFoundMarker();
    const qsizetype found = QLatin1StringView(buffer).indexOf(QLatin1StringView(name), 0, Qt::CaseInsensitive);
    if (found < 0)
        return notFoundMarker();
    qsizetype next = buffer.indexOf(' ', found + name.size());
    if (next >= 0)
        ++next;

    QByteArray value;
    while (next >= 0) {
        const qsizetype space = buffer.indexOf(' ', next);
        const QByteArrayView word = buffer.sliced(next, (space < 0 ? buffer.size() : space) - next);
        next = space < 0 ? -1 : space + 1;
        const qsizetype crlf = word.indexOf("\r\n");
        value.append(' ');
        if (crlf >= 0) {
            value.append(word.first(crlf));
            break;
        }
        value.append(word);
    }
    return QString::fromLatin1(value.isEmpty() ? value : value.sliced(1));
}

qint16 PriorityNumber(const QString &value)
{
    qsizetype i = 0;
    while (i < value.size() && value.at(i) == u' ')
        ++i;
    qsizetype end = i;
    if (end < value.size() && (value.at(end) == u'+' || value.at(end) == u'-'))
        ++end;
    const qsizetype digitsFrom = end;
    while (end < value.size() && value.at(end).isDigit() && value.at(end).unicode() < 128)
        ++end;
    qsizetype intDigits = end - digitsFrom;
    if (end < value.size() && value.at(end) == u'.') {
        const qsizetype fractionFrom = ++end;
        while (end < value.size() && value.at(end).isDigit() && value.at(end).unicode() < 128)
            ++end;
        if (intDigits == 0 && end == fractionFrom)
            return 0;
        intDigits += end - fractionFrom;
    }
    if (intDigits == 0)
        return 0;
    bool ok = false;
    const double number = value.mid(i, end - i).toDouble(&ok);
    if (!ok)
        return 0;
    const double rounded = std::nearbyint(number); // the default rounding mode is half to even
    if (rounded < std::numeric_limits<qint16>::min() || rounded > std::numeric_limits<qint16>::max())
        return 0;
    return static_cast<qint16>(rounded);
}

} // namespace wrenkit

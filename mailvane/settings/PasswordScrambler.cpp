#include "PasswordScrambler.h"

namespace
{
const QChar kLosslessMark(0x2261);
}

namespace PasswordScrambler
{

QString scramble(const QString &password)
{
    QString out;
    out.reserve(password.size());
    for (qsizetype i = 0; i < password.size(); ++i) {
        const int k = int(i + 1);
        const int code = (password.at(i).unicode() ^ k) + 3 * k;
        if (password.at(i).unicode() > 255 || code > 255)
            return kLosslessMark + QString::fromLatin1(password.toUtf8().toBase64());
        out += QChar(code);
    }
    return out;
}

QString unscramble(const QString &stored)
{
    if (stored.startsWith(kLosslessMark))
        return QString::fromUtf8(QByteArray::fromBase64(stored.mid(1).toLatin1()));
    QString out;
    out.reserve(stored.size());
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const int k = int(i + 1);
        const int code = (stored.at(i).unicode() - 3 * k) ^ k;
        out += code >= 0 && code <= 255 ? QChar(code) : QChar(QChar::ReplacementCharacter);
    }
    return out;
}

} // namespace PasswordScrambler

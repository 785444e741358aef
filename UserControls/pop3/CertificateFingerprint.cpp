#include "CertificateFingerprint.h"

#include <QCryptographicHash>
#include <QSslCertificate>

namespace wrenkit
{

QString certificateFingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return {};
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex());
}

QString normalizedFingerprint(const QString &text)
{
    QString hex;
    hex.reserve(64);
    for (const QChar c : text) {
        if (c == QLatin1Char(':') || c.isSpace())
            continue;
        const QChar lower = c.toLower();
        const bool isHex = (lower >= QLatin1Char('0') && lower <= QLatin1Char('9')) ||
                           (lower >= QLatin1Char('a') && lower <= QLatin1Char('f'));
        if (!isHex)
            return {};
        hex += lower;
    }
    return hex.size() == 64 ? hex : QString();
}

} // namespace wrenkit

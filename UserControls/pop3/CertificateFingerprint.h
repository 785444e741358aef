#pragma once

#include <QString>

class QSslCertificate;

namespace wrenkit
{

// The SHA-256 fingerprint of a certificate in the form the settings keep: 64 lowercase hex
// digits without separators.
QString certificateFingerprint(const QSslCertificate &certificate);

// A fingerprint as a user may paste it (colons, blanks, either letter case) in the kept form;
// empty when the text is not a SHA-256 fingerprint.
QString normalizedFingerprint(const QString &text);

} // namespace wrenkit

#pragma once

#include <QByteArrayView>
#include <QString>

namespace wrenkit {

// The text a header that a message lacks is reported as.
inline QString notFoundMarker() { return QStringLiteral("<NotFound>"); }

// Finds a header field in a raw POP3 reply by words rather than by lines: the buffer is split at
// single spaces (CR LF is no separator), the first word that contains Name without regard to case
// is the match, and the value is the words after it up to the first CR LF, joined by single
// spaces. Returns "<NotFound>" when no word matches, and the empty text when the matching word is
// the last one. Bytes are read as Latin-1.
QString GetHeaderValue(QByteArrayView buffer, QByteArrayView name);

// The leading number of an X-Priority value: spaces skipped, optional sign and decimal part,
// rounded half to even. 0 when the text does not start with a number or the number does not fit
// 16 bits.
qint16 PriorityNumber(const QString &value);

} // namespace wrenkit

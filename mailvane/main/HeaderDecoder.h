#pragma once

#include <QString>

// The From or Subject text of a message made readable for display. The text holds each header
// byte as one Latin-1 character, as the POP3 control reads it. RFC 2047 encoded words ("B" and "Q",
// any charset the text codecs know) are decoded, and the blanks between two adjacent decoded words
// dropped; an encoded word that cannot be decoded stays as it stands. Raw 8-bit bytes are read as
// UTF-8 where they form valid UTF-8 and as Latin-1 elsewhere. The result is for display only:
// filters and stored entries work on the text as read.
QString decodeHeaderForDisplay(const QString &latin1Text);

#pragma once

#include <QString>

// The stored form of account passwords.
//
// A password whose characters all scramble into codes 0..255 is stored scrambled: character k (from 1)
// of code c becomes (c XOR k) + 3k. Any other password (long ones, or ones with characters beyond
// Latin-1) is stored as U+2261 followed by the Base64 of its UTF-8 bytes; a scrambled password can never
// begin with that character, so the two forms cannot be confused.
namespace PasswordScrambler
{
QString scramble(const QString &password);
QString unscramble(const QString &stored);
} // namespace PasswordScrambler

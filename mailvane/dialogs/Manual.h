#pragma once

#include <QString>
#include <QUrl>

namespace mailvane
{
// The manual's page (a file name, optionally with "#anchor") as a file URL: looked for in
// $MAILVANE_SOURCE_DIR/docs/manual, next to the installed program (<prefix>/share/doc/mailvane/manual,
// <prefix>/share/mailvane/manual), in the install prefix the program was built for and, unless built
// for a package, in the source tree the program was built from. Empty when the page is in none of them.
QUrl manualUrl(const QString &page);
// Opens the page in the user's browser; false when it cannot be found or the desktop refuses.
bool openManual(const QString &page);
} // namespace mailvane

#pragma once

#include <QObject>
#include <QUrl>

// The user manual's start page, found where mailvane::manualUrl looks: installed with the program
// (/usr/share/doc/mailvane/manual) or, in a build tree, the source tree's docs/manual.
namespace manual
{
// The start page, or an empty URL when no manual is found.
QUrl indexUrl();
// Opens the start page in the user's browser; false when there is no manual or no browser.
bool open();
} // namespace manual

// F1 in any window of the program opens the manual.
class HelpKeyFilter : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

#include "Manual.h"

#include "dialogs/Manual.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QWidget>

namespace manual
{

QUrl indexUrl()
{
    return mailvane::manualUrl(QStringLiteral("index.html"));
}

bool open()
{
    const QUrl url = indexUrl();
    return url.isValid() && QDesktopServices::openUrl(url);
}

} // namespace manual

bool HelpKeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    // Taken before the focused widget of whichever window sees it.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
            if (!key->isAutoRepeat())
                manual::open();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

#include "moc_Manual.cpp"

#include "Manual.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QWidget>

namespace manual
{

QUrl indexUrl()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QStringList candidates{
        programDir + QStringLiteral("/../share/doc/mailvane/manual/index.html"),
        QStringLiteral(MAILVANE_SOURCE_TREE "/docs/manual/index.html"),
    };
    for (const QString &candidate : candidates) {
        const QFileInfo file(candidate);
        if (file.isFile())
            return QUrl::fromLocalFile(file.canonicalFilePath());
    }
    return {};
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

#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QSignalSpy>

namespace traytest
{

inline QIcon redIcon()
{
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::red);
    return QIcon(pixmap);
}

// The Button arguments a spy on TrayClick or TrayDoubleClick has seen, in order.
inline QList<int> buttons(const QSignalSpy &spy)
{
    QList<int> result;
    for (const QList<QVariant> &args : spy)
        result << args.at(0).toInt();
    return result;
}

} // namespace traytest

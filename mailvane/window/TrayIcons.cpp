#include "TrayIcons.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace
{
QIcon programIcon()
{
    return QIcon(QStringLiteral(":/mailvane/mailvane-64.png"));
}

// The program's icon with a round badge in its lower right corner.
QIcon withBadge(const QString &text, const QColor &fill, const QColor &ink)
{
    constexpr int Size = 64;
    QPixmap pixmap = programIcon().pixmap(Size, Size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF badge(Size * 0.38, Size * 0.38, Size * 0.6, Size * 0.6);
    painter.setPen(QPen(QColor(30, 30, 30), 3));
    painter.setBrush(fill);
    painter.drawEllipse(badge);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(text.size() > 2 ? 14 : 24);
    painter.setFont(font);
    painter.setPen(ink);
    painter.drawText(badge, Qt::AlignCenter, text);
    painter.end();
    return QIcon(pixmap);
}
} // namespace

QIcon trayIconFor(TrayStatus::State state, int count)
{
    switch (state) {
    case TrayStatus::State::NewMail:
        return QIcon::fromTheme(QStringLiteral("mail-unread"),
                                withBadge(count > 99 ? QStringLiteral("99+") : QString::number(count),
                                          QColor(200, 30, 30), Qt::white));
    case TrayStatus::State::Errors:
        return QIcon::fromTheme(QStringLiteral("dialog-warning"),
                                withBadge(QStringLiteral("!"), QColor(250, 190, 20), QColor(30, 30, 30)));
    case TrayStatus::State::NoMail:
        break;
    }
    return programIcon();
}

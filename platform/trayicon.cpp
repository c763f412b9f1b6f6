#include "platform/trayicon.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace {

// A dark square with a light rim and light letters reads on light and dark panels alike.
QPixmap drawSquare(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal rim = qMax(1.0, size / 16.0);
    const QRectF square = QRectF(0, 0, size, size).adjusted(rim / 2, rim / 2, -rim / 2, -rim / 2);
    painter.setPen(QPen(QColor(0xe8, 0xea, 0xed), rim));
    painter.setBrush(QColor(0x1f, 0x23, 0x29));
    painter.drawRoundedRect(square, size / 6.0, size / 6.0);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    font.setPixelSize(qMax(7, int(size * 0.5)));
    painter.setFont(font);
    painter.setPen(QColor(0xff, 0xd3, 0x3d));
    painter.drawText(square, Qt::AlignCenter, QStringLiteral("zR"));
    return pixmap;
}

} // namespace

QIcon zapRunIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(drawSquare(size));
    return icon;
}

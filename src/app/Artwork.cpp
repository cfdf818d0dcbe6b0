#include "app/Artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kelvoran::app {

namespace {

// Drawn on a 16x16 grid and scaled, so every size shows the same picture.
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing, size > 16);
    p.scale(size / 16.0, size / 16.0);

    // Dark blue disc with a white rim: reads on light and dark panels alike.
    p.setPen(QPen(Qt::white, 1));
    p.setBrush(QColor(0x00, 0x00, 0x80));
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));

    // Speaker.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xff, 0x00));
    p.drawRect(QRectF(3, 6, 2, 4));
    QPainterPath cone;
    cone.moveTo(5, 6);
    cone.lineTo(8, 3.5);
    cone.lineTo(8, 12.5);
    cone.lineTo(5, 10);
    cone.closeSubpath();
    p.drawPath(cone);

    // Sound waves.
    p.setPen(QPen(QColor(0x00, 0xff, 0x00), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(7, 5, 4, 6), -60 * 16, 120 * 16);
    p.drawArc(QRectF(7, 3, 6, 10), -60 * 16, 120 * 16);
    return pixmap;
}

} // namespace

QIcon kelvoranIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(drawIcon(size));
    return icon;
}

QIcon playIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x00, 0x80, 0x00));
    QPainterPath triangle;
    triangle.moveTo(5, 3);
    triangle.lineTo(12, 8);
    triangle.lineTo(5, 13);
    triangle.closeSubpath();
    p.drawPath(triangle);
    return QIcon(pixmap);
}

} // namespace kelvoran::app

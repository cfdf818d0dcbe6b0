#include "app/Artwork.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kelvoran::app {

QIcon kelvoranIcon()
{
    // The icon's one drawing is data/io.github.kelvoran.Kelvoran.svg. The build renders it to the
    // PNG sizes of the icon theme and compiles those same files in, as :/icons/<size>.png: the
    // window and the tray show the installed icon pixel for pixel, and no SVG renderer has to be
    // loaded at start-up. QIcon reads each file only when that size is first asked for.
    QIcon icon;
    QDirIterator pngs(QStringLiteral(":/icons"), {QStringLiteral("*.png")});
    while (pngs.hasNext()) {
        const QString path = pngs.next();
        const int size = QFileInfo(path).baseName().toInt();
        icon.addFile(path, QSize(size, size));
    }
    return icon;
}

QIcon failingIcon()
{
    const QIcon normal = kelvoranIcon();
    QIcon icon;
    for (const QSize &size : normal.availableSizes()) {
        QImage image = normal.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                // Grey, lightened towards the panel so that it reads as switched off.
                const int grey = 96 + qGray(line[x]) / 2;
                line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
            }
        }
        icon.addPixmap(QPixmap::fromImage(image));
    }
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

#include "AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

QImage appIconImage(int size)
{
    // The same shapes as resources/desktop/brindlewick.svg, the desktop's icon.
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(QPen(QColor(60, 50, 30), s / 16));
    p.setBrush(QColor(196, 150, 70)); // brass disk
    p.drawEllipse(QRectF(s * 0.06, s * 0.06, s * 0.88, s * 0.88));
    QPainterPath triangle;
    triangle.moveTo(s * 0.5, s * 0.22);
    triangle.lineTo(s * 0.76, s * 0.70);
    triangle.lineTo(s * 0.24, s * 0.70);
    triangle.closeSubpath();
    p.setBrush(QColor(30, 70, 130));
    p.setPen(Qt::NoPen);
    p.drawPath(triangle);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(s * 0.5, s * 0.53), s * 0.06, s * 0.06);
    return image;
}

QIcon appIcon()
{
    QIcon icon;
    for (const int size : IconSizes)
        icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
    return icon;
}

#include "ui/panel_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace lumbrix {

namespace {

QPixmap drawMicrophone(bool on, const QColor& color, int sizePx) {
    QPixmap pixmap(sizePx, sizePx);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(sizePx / 16.0, sizePx / 16.0);

    QPen pen(color, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    // The capsule.
    const QRectF capsule(5.5, 1.5, 5.0, 8.5);
    painter.setBrush(on ? QBrush(color) : Qt::NoBrush);
    painter.drawRoundedRect(capsule, 2.5, 2.5);
    // The cradle and stand.
    painter.setBrush(Qt::NoBrush);
    QPainterPath cradle;
    cradle.moveTo(3.5, 7.5);
    cradle.cubicTo(3.5, 13.0, 12.5, 13.0, 12.5, 7.5);
    painter.drawPath(cradle);
    painter.drawLine(QPointF(8.0, 11.6), QPointF(8.0, 14.5));
    painter.drawLine(QPointF(5.5, 14.5), QPointF(10.5, 14.5));
    if (!on) painter.drawLine(QPointF(2.0, 2.0), QPointF(14.0, 14.0));
    return pixmap;
}

}  // namespace

QIcon microphoneIcon(bool on, const QColor& color) {
    QIcon icon;
    for (const int sizePx : {16, 32, 48}) icon.addPixmap(drawMicrophone(on, color, sizePx));
    return icon;
}

}  // namespace lumbrix

#include "app/app_icon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace lumbrix {

namespace {

// A lit screen bent around a stage floor: content landing on a venue.
void paintIcon(QPainter& painter, qreal side) {
    painter.setRenderHint(QPainter::Antialiasing);
    const auto at = [side](qreal x, qreal y) { return QPointF(x * side, y * side); };

    const QRectF tile(side * 0.06, side * 0.06, side * 0.88, side * 0.88);
    QLinearGradient night(tile.topLeft(), tile.bottomLeft());
    night.setColorAt(0.0, QColor(0x24, 0x2c, 0x4a));
    night.setColorAt(1.0, QColor(0x0b, 0x0e, 0x1a));
    painter.setPen(Qt::NoPen);
    painter.setBrush(night);
    painter.drawRoundedRect(tile, side * 0.2, side * 0.2);

    QPainterPath clip;
    clip.addRoundedRect(tile, side * 0.2, side * 0.2);
    painter.setClipPath(clip);

    // The floor: lines converging on a vanishing point behind the screen.
    QPen floorPen(QColor(255, 255, 255, 46), side / 128.0);
    painter.setPen(floorPen);
    const QPointF vanish = at(0.5, 0.42);
    for (int i = -4; i <= 4; ++i) painter.drawLine(vanish, at(0.5 + i * 0.16, 0.98));
    for (qreal y : {0.70, 0.77, 0.86, 0.98}) painter.drawLine(at(0.0, y), at(1.0, y));

    // The screen: a curved band filled with a warm-to-cool picture.
    QPainterPath screen;
    screen.moveTo(at(0.18, 0.26));
    screen.quadTo(at(0.5, 0.16), at(0.82, 0.26));
    screen.lineTo(at(0.82, 0.60));
    screen.quadTo(at(0.5, 0.52), at(0.18, 0.60));
    screen.closeSubpath();
    QLinearGradient picture(at(0.18, 0.2), at(0.82, 0.6));
    picture.setColorAt(0.0, QColor(0x2e, 0xd3, 0xe6));
    picture.setColorAt(0.5, QColor(0xb0, 0x5c, 0xf0));
    picture.setColorAt(1.0, QColor(0xff, 0x9a, 0x3c));
    painter.setPen(Qt::NoPen);
    painter.setBrush(picture);
    painter.drawPath(screen);

    // Its mesh, faintly: the UV grid the viewer can lay over a model.
    painter.save();
    painter.setClipPath(screen, Qt::IntersectClip);
    painter.setPen(QPen(QColor(255, 255, 255, 70), side / 160.0));
    for (int i = 1; i < 6; ++i) {
        const qreal x = 0.18 + i * 0.64 / 6;
        painter.drawLine(at(x, 0.1), at(x, 0.7));
    }
    for (int i = 1; i < 4; ++i) {
        const qreal t = i / 4.0;
        QPainterPath row;
        row.moveTo(at(0.18, 0.26 + t * 0.34));
        row.quadTo(at(0.5, 0.16 + t * 0.36), at(0.82, 0.26 + t * 0.34));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(row);
    }
    painter.restore();

    // The glow the screen throws on the floor.
    QRadialGradient glow(at(0.5, 0.72), side * 0.36);
    glow.setColorAt(0.0, QColor(0xb0, 0x5c, 0xf0, 90));
    glow.setColorAt(1.0, QColor(0xb0, 0x5c, 0xf0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(at(0.5, 0.72), side * 0.36, side * 0.12);
}

}  // namespace

QImage renderLumbrixIcon(int sizePx) {
    QImage image(sizePx, sizePx, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintIcon(painter, sizePx);
    painter.end();
    return image;
}

QIcon lumbrixIcon() {
    QIcon icon;
    for (int sizePx : {16, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(renderLumbrixIcon(sizePx)));
    return icon;
}

}  // namespace lumbrix

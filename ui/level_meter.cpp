#include "ui/level_meter.h"

#include <algorithm>
#include <cmath>

#include <QPainter>

namespace lumbrix {

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void LevelMeter::setLevel(float level) {
    const float shown = std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 1.0f);
    if (shown == level_) return;
    level_ = shown;
    update();
}

QSize LevelMeter::sizeHint() const { return {70, 8}; }

QSize LevelMeter::minimumSizeHint() const { return {30, 6}; }

void LevelMeter::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = track.height() / 2.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(track, radius, radius);
    if (level_ <= 0.0f) return;

    QRectF fill = track;
    fill.setWidth(track.width() * level_);
    // Green through the normal range, warning colours only near full scale.
    QLinearGradient gradient(track.topLeft(), track.topRight());
    gradient.setColorAt(0.0, QColor(52, 199, 89));
    gradient.setColorAt(0.7, QColor(52, 199, 89));
    gradient.setColorAt(0.85, QColor(255, 204, 0));
    gradient.setColorAt(1.0, QColor(255, 59, 48));
    painter.setBrush(gradient);
    painter.drawRoundedRect(fill, radius, radius);
}

}  // namespace lumbrix

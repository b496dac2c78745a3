#include "ui/panel_style.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace lumbrix {

QFont captionFont(bool semibold) {
    QFont font = QApplication::font();
    // Caption text sits a little under the body size, as in the platform's caption style.
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    font.setPointSizeF(std::max<qreal>(7.0, base * 0.85));
    if (semibold) font.setWeight(QFont::DemiBold);
    return font;
}

QLabel* makeCaptionLabel(const QString& text, bool semibold, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(captionFont(semibold));
    return label;
}

QWidget* makeSubheading(const QString& text, QWidget* parent) {
    auto* holder = new QWidget(parent);
    auto* layout = new QHBoxLayout(holder);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->addWidget(makeCaptionLabel(text, true, holder));
    layout->addStretch(1);
    return holder;
}

void letButtonsShrink(QWidget* root) {
    for (QPushButton* button : root->findChildren<QPushButton*>()) {
        const int textWidthPx = button->fontMetrics().horizontalAdvance(button->text());
        button->setMinimumWidth(textWidthPx + 16);
    }
}

QString wholeNumberText(double value) {
    if (!std::isfinite(value)) return QStringLiteral("—");
    // Out-of-range conversions are undefined; clamp to what long long holds first.
    constexpr double limit = 9.2e18;
    const double clamped = std::clamp(value, -limit, limit);
    return QString::asprintf("%lld", static_cast<long long>(clamped));
}

}  // namespace lumbrix

#include "ui/scroll_normalizer.h"

#include <algorithm>

#include <QWheelEvent>

namespace lumbrix {

namespace {
constexpr float kAngleUnitsPerNotch = 120.0f;  // Qt's eighths of a degree per wheel notch
constexpr float kSmallestDivisor = 0.0001f;
}  // namespace

ScrollNormalizer::Input ScrollNormalizer::inputFrom(const QWheelEvent& event) {
    Input input;
    input.isMomentum = event.phase() == Qt::ScrollMomentum;
    const QPoint pixels = event.pixelDelta();
    if (!pixels.isNull()) {
        input.hasPreciseDeltas = true;
        input.deltaY = static_cast<float>(pixels.y());
    } else {
        input.deltaY = static_cast<float>(event.angleDelta().y()) / kAngleUnitsPerNotch;
    }
    return input;
}

std::optional<float> ScrollNormalizer::step(const Input& input) const {
    if (ignoreMomentum && input.isMomentum) return std::nullopt;
    if (input.deltaY == 0.0f) return std::nullopt;
    const float divisor = std::max(input.hasPreciseDeltas ? preciseDivisor : coarseDivisor, kSmallestDivisor);
    const float value = std::clamp(input.deltaY / divisor, -maxStepPerEvent, maxStepPerEvent);
    if (value == 0.0f) return std::nullopt;
    return value;
}

}  // namespace lumbrix

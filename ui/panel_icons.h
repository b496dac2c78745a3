#pragma once
// Small icons drawn in code, so the panel needs no image files.
#include <QColor>
#include <QIcon>

namespace lumbrix {

// A filled microphone, or an outlined one struck through when `on` is false.
QIcon microphoneIcon(bool on, const QColor& color);

}  // namespace lumbrix

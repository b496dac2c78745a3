#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/panel_icons.h is internal to ui/"
#endif
// Small icons drawn in code, so the panel needs no image files.
#include <QColor>
#include <QIcon>

namespace lumbrix {

// A filled microphone, or an outlined one struck through when `on` is false.
QIcon microphoneIcon(bool on, const QColor& color);

}  // namespace lumbrix

#pragma once
// Whether this display can give the 3D view the OpenGL it needs, asked before any
// window is shown: a viewer without it could only show an empty window, or crash.
#include <optional>

#include <QString>

class QSurfaceFormat;

namespace lumbrix {

// Why no context of `format`'s version (or a later one) can be made and made current
// here; nothing when it can.
std::optional<QString> openGLUnavailableReason(const QSurfaceFormat& format);

// The line the user reads first.
QString openGLRequirementMessage(const QSurfaceFormat& format);

}  // namespace lumbrix

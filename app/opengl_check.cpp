#include "app/opengl_check.h"

#include <utility>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QStringList>
#include <QSurfaceFormat>

namespace lumbrix {

namespace {

QString versionText(const QSurfaceFormat& format) {
    return QStringLiteral("%1.%2").arg(format.majorVersion()).arg(format.minorVersion());
}

// Qt platforms whose windows cannot hold an OpenGL widget. Some of them still make
// contexts (offscreen borrows GLX from $DISPLAY), so the context alone proves nothing,
// and Qt crashes flushing such a window.
bool platformShowsOpenGLWidgets(const QString& platform) {
    static const QStringList kWithout = {QStringLiteral("offscreen"), QStringLiteral("minimal"),
                                         QStringLiteral("vnc"), QStringLiteral("linuxfb")};
    return !kWithout.contains(platform);
}

}  // namespace

std::optional<QString> openGLUnavailableReason(const QSurfaceFormat& format) {
    const QString platform = QGuiApplication::platformName();
    if (!platformShowsOpenGLWidgets(platform)) {
        return QStringLiteral("The \"%1\" display cannot show OpenGL views.").arg(platform);
    }
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create()) {
        return QStringLiteral("No OpenGL context can be created on the \"%1\" display.").arg(platform);
    }
    const QSurfaceFormat made = context.format();
    if (std::pair(made.majorVersion(), made.minorVersion()) < std::pair(format.majorVersion(), format.minorVersion())) {
        return QStringLiteral("The \"%1\" display offers OpenGL %2 only.").arg(platform, versionText(made));
    }
    QOffscreenSurface surface;
    surface.setFormat(made);
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) {
        return QStringLiteral("An OpenGL %1 context was created on the \"%2\" display but cannot be used.")
            .arg(versionText(made), platform);
    }
    context.doneCurrent();
    return std::nullopt;
}

QString openGLRequirementMessage(const QSurfaceFormat& format) {
    return QStringLiteral("Lumbrix needs OpenGL %1, which this display does not provide.").arg(versionText(format));
}

}  // namespace lumbrix

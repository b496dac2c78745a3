#include "platform/headless_gl_context.h"

#include <epoxy/egl.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

namespace lumbrix {
namespace {

static_assert(std::is_same_v<EGLDisplay, void*> && std::is_same_v<EGLContext, void*>);

Error missingError(HeadlessGLContext::Step step, const std::string& what) {
    return Error(kHeadlessGLErrorDomain, static_cast<int>(step), what);
}

// For EGL calls that failed: names the call and the EGL error it left.
Error stepError(HeadlessGLContext::Step step, const std::string& what) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(eglGetError()));
    return Error(kHeadlessGLErrorDomain, static_cast<int>(step), what + " (EGL error " + code + ")");
}

// EGL hands out one display per platform and native display, so every context
// shares it. It is initialized once and kept for the life of the process: terminating
// it would pull it from under other contexts, and every re-initialization reloads
// the Mesa driver, which leaks a little on each load.
std::mutex displayMutex;
EGLDisplay sharedDisplay = EGL_NO_DISPLAY;  // guarded by displayMutex

Expected<EGLDisplay, Error> initializedDisplay() {
    std::lock_guard lock(displayMutex);
    if (sharedDisplay != EGL_NO_DISPLAY) {
        return sharedDisplay;
    }
    if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless")) {
        return unexpected(missingError(HeadlessGLContext::Step::platformMissing,
                                       "EGL client does not offer EGL_MESA_platform_surfaceless"));
    }
    EGLDisplay display =
        eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY) {
        return unexpected(stepError(HeadlessGLContext::Step::display,
                                    "eglGetPlatformDisplayEXT(surfaceless) failed"));
    }
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        return unexpected(stepError(HeadlessGLContext::Step::initialize, "eglInitialize failed"));
    }
    sharedDisplay = display;
    return sharedDisplay;
}

}  // namespace

Expected<HeadlessGLContext, Error> HeadlessGLContext::create() {
    auto initialized = initializedDisplay();
    if (!initialized) {
        return unexpected(initialized.error());
    }
    EGLDisplay display = initialized.value();
    if (!eglBindAPI(EGL_OPENGL_API)) {
        return unexpected(stepError(Step::bindAPI, "eglBindAPI(EGL_OPENGL_API) failed"));
    }
    if (!epoxy_has_egl_extension(display, "EGL_KHR_surfaceless_context")) {
        return unexpected(
            missingError(Step::surfacelessMissing, "EGL display lacks EGL_KHR_surfaceless_context"));
    }

    // Nothing is drawn to an EGL surface, but a config still states the API.
    const EGLint configAttributes[] = {
        EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
        EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
        EGL_NONE,
    };
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    if (!eglChooseConfig(display, configAttributes, &config, 1, &configCount) || configCount < 1) {
        return unexpected(stepError(Step::chooseConfig, "no EGL config renders desktop OpenGL"));
    }

    const EGLint contextAttributes[] = {
        EGL_CONTEXT_MAJOR_VERSION, 3,
        EGL_CONTEXT_MINOR_VERSION, 3,
        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
        EGL_NONE,
    };
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT) {
        return unexpected(
            stepError(Step::createContext, "eglCreateContext(OpenGL 3.3 core) failed"));
    }

    HeadlessGLContext result(display, context);
    if (auto error = result.makeCurrent()) {
        return unexpected(std::move(*error));
    }
    return result;
}

HeadlessGLContext::HeadlessGLContext(HeadlessGLContext&& other) noexcept
    : display_(std::exchange(other.display_, nullptr)),
      context_(std::exchange(other.context_, nullptr)) {}

HeadlessGLContext& HeadlessGLContext::operator=(HeadlessGLContext&& other) noexcept {
    if (this != &other) {
        release();
        display_ = std::exchange(other.display_, nullptr);
        context_ = std::exchange(other.context_, nullptr);
    }
    return *this;
}

HeadlessGLContext::~HeadlessGLContext() { release(); }

void HeadlessGLContext::release() noexcept {
    if (context_ == nullptr) {
        return;
    }
    if (eglGetCurrentContext() == context_) {
        eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    eglDestroyContext(display_, context_);
    display_ = nullptr;
    context_ = nullptr;
}

std::optional<Error> HeadlessGLContext::makeCurrent() const {
    if (!eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_)) {
        return stepError(Step::makeCurrent, "eglMakeCurrent(surfaceless) failed");
    }
    return std::nullopt;
}

}  // namespace lumbrix

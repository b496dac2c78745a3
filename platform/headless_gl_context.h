#pragma once
// An OpenGL 3.3 core context without any window, on EGL's surfaceless platform or,
// where that is missing (GPU servers whose EGL comes from the GPU vendor), on the EGL
// device platform. LUMBRIX_EGL_DEVICE=N skips the surfaceless platform and takes
// device N, so a machine with several GPUs can pick one.
//
// Renderer and capture tests, and command-line tools that render, draw into their
// own framebuffer objects; no default framebuffer exists. GL calls go through
// libepoxy, which resolves them for whichever context is current.
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/error.h"
#include "platform/expected.h"

namespace lumbrix {

inline constexpr const char* kHeadlessGLErrorDomain = "HeadlessGL";

class HeadlessGLContext {
public:
    // Error codes name the step that failed.
    enum class Step : int {
        platformMissing = 1,  // the EGL client lacks the surfaceless platform
        display = 2,
        initialize = 3,
        bindAPI = 4,
        surfacelessMissing = 5,  // the display cannot make a context current without a surface
        chooseConfig = 6,
        createContext = 7,
        makeCurrent = 8,
        deviceMissing = 9,  // no device platform, no device, or no device with that number
        deviceChoice = 10,  // LUMBRIX_EGL_DEVICE is not a device number
    };

    // Creates the context and makes it current on the calling thread, on the display
    // that LUMBRIX_EGL_DEVICE chooses. Each EGL display behind a context is initialized
    // on first use and stays for the life of the process.
    static Expected<HeadlessGLContext, Error> create();
    // As create(), with `eglDevice` standing for the value of LUMBRIX_EGL_DEVICE
    // (nullopt: unset).
    static Expected<HeadlessGLContext, Error> create(std::optional<std::string_view> eglDevice);

    HeadlessGLContext(HeadlessGLContext&& other) noexcept;
    HeadlessGLContext& operator=(HeadlessGLContext&& other) noexcept;
    HeadlessGLContext(const HeadlessGLContext&) = delete;
    HeadlessGLContext& operator=(const HeadlessGLContext&) = delete;
    // Releases the context if it is current on this thread; destroy it on the thread
    // that last made it current.
    ~HeadlessGLContext();

    std::optional<Error> makeCurrent() const;

    // The EGL platform and, on the device platform, which device: for diagnostics.
    const std::string& eglPlatform() const { return eglPlatform_; }
    // True on the EGL device platform.
    bool onDevicePlatform() const { return onDevicePlatform_; }

private:
    // EGLDisplay and EGLContext are both void*; kept opaque so that including this
    // header does not pull in EGL.
    HeadlessGLContext(void* display, void* context, std::string eglPlatform, bool onDevicePlatform)
        : display_(display), context_(context), eglPlatform_(std::move(eglPlatform)),
          onDevicePlatform_(onDevicePlatform) {}
    void release() noexcept;

    void* display_ = nullptr;
    void* context_ = nullptr;
    std::string eglPlatform_;
    bool onDevicePlatform_ = false;
};

}  // namespace lumbrix

#pragma once
// An OpenGL 3.3 core context without any window, on EGL's surfaceless platform.
//
// Renderer and capture tests, and command-line tools that render, draw into their
// own framebuffer objects; no default framebuffer exists. GL calls go through
// libepoxy, which resolves them for whichever context is current.
#include <optional>

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
    };

    // Creates the context and makes it current on the calling thread. The EGL display
    // behind it is initialized on first use and stays for the life of the process.
    static Expected<HeadlessGLContext, Error> create();

    HeadlessGLContext(HeadlessGLContext&& other) noexcept;
    HeadlessGLContext& operator=(HeadlessGLContext&& other) noexcept;
    HeadlessGLContext(const HeadlessGLContext&) = delete;
    HeadlessGLContext& operator=(const HeadlessGLContext&) = delete;
    // Releases the context if it is current on this thread; destroy it on the thread
    // that last made it current.
    ~HeadlessGLContext();

    std::optional<Error> makeCurrent() const;

private:
    // EGLDisplay and EGLContext are both void*; kept opaque so that including this
    // header does not pull in EGL.
    HeadlessGLContext(void* display, void* context) : display_(display), context_(context) {}
    void release() noexcept;

    void* display_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace lumbrix

#include "platform/headless_gl_context.h"

#include <epoxy/egl.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

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

// EGL hands out one display per platform and native display, so every context on a
// platform shares it. Each is initialized once and kept for the life of the process:
// terminating it would pull it from under other contexts, and every re-initialization
// reloads the Mesa driver, which leaks a little on each load.
struct OpenedDisplay {
    EGLDisplay display = EGL_NO_DISPLAY;
    std::string eglPlatform;
    bool onDevicePlatform = false;
};

constexpr int kAutomatic = -1;  // surfaceless first, then the first usable device

std::mutex displayMutex;
std::map<int, OpenedDisplay> openedDisplays;  // by device number or kAutomatic; guarded by displayMutex

// Initialized, and able to make a context current without a surface: on the device
// platform a device can pass the first and still lack the second.
std::optional<Error> initialize(EGLDisplay display) {
    EGLint major = 0;
    EGLint minor = 0;
    if (!eglInitialize(display, &major, &minor)) {
        return stepError(HeadlessGLContext::Step::initialize, "eglInitialize failed");
    }
    if (!epoxy_has_egl_extension(display, "EGL_KHR_surfaceless_context")) {
        return missingError(HeadlessGLContext::Step::surfacelessMissing,
                            "EGL display lacks EGL_KHR_surfaceless_context");
    }
    return std::nullopt;
}

Expected<OpenedDisplay, Error> openSurfaceless() {
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
    if (auto error = initialize(display)) {
        return unexpected(std::move(*error));
    }
    return OpenedDisplay{display, "surfaceless (EGL_MESA_platform_surfaceless)", false};
}

Expected<std::vector<EGLDeviceEXT>, Error> queryDevices() {
    if (!epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_EXT_device_enumeration") ||
        !epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_EXT_platform_device")) {
        return unexpected(missingError(
            HeadlessGLContext::Step::deviceMissing,
            "EGL client does not offer EGL_EXT_device_enumeration and EGL_EXT_platform_device"));
    }
    EGLint count = 0;
    if (!eglQueryDevicesEXT(0, nullptr, &count)) {
        return unexpected(stepError(HeadlessGLContext::Step::deviceMissing, "eglQueryDevicesEXT failed"));
    }
    std::vector<EGLDeviceEXT> devices(static_cast<size_t>(std::max(count, 0)));
    if (count > 0 && !eglQueryDevicesEXT(count, devices.data(), &count)) {
        return unexpected(stepError(HeadlessGLContext::Step::deviceMissing, "eglQueryDevicesEXT failed"));
    }
    devices.resize(static_cast<size_t>(std::max(count, 0)));
    return devices;
}

// What a person choosing LUMBRIX_EGL_DEVICE needs to tell devices apart.
std::string deviceName(EGLDeviceEXT device) {
    const char* extensions = eglQueryDeviceStringEXT(device, EGL_EXTENSIONS);
    const std::string_view list = extensions != nullptr ? extensions : "";
    if (list.find("EGL_EXT_device_drm") != std::string_view::npos) {
        if (const char* file = eglQueryDeviceStringEXT(device, EGL_DRM_DEVICE_FILE_EXT)) {
            return file;
        }
    }
    if (list.find("EGL_MESA_device_software") != std::string_view::npos) {
        return "Mesa software";
    }
    return "no name";
}

Expected<OpenedDisplay, Error> openDevice(const std::vector<EGLDeviceEXT>& devices, size_t index) {
    EGLDisplay display = eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, devices[index], nullptr);
    if (display == EGL_NO_DISPLAY) {
        return unexpected(stepError(HeadlessGLContext::Step::display,
                                    "eglGetPlatformDisplayEXT(device " + std::to_string(index) + ") failed"));
    }
    if (auto error = initialize(display)) {
        return unexpected(std::move(*error));
    }
    return OpenedDisplay{display,
                         "device " + std::to_string(index) + " of " + std::to_string(devices.size()) +
                             " (EGL_EXT_platform_device, " + deviceName(devices[index]) + ")",
                         true};
}

Expected<OpenedDisplay, Error> openChosenDevice(int index) {
    auto devices = queryDevices();
    if (!devices) {
        return unexpected(devices.error());
    }
    if (static_cast<size_t>(index) >= devices->size()) {
        const std::string range = devices->empty() ? "this machine has none"
                                                   : "this machine has " + std::to_string(devices->size()) +
                                                         ", numbered from 0";
        return unexpected(missingError(HeadlessGLContext::Step::deviceMissing,
                                       "LUMBRIX_EGL_DEVICE=" + std::to_string(index) +
                                           " names no EGL device: " + range));
    }
    return openDevice(devices.value(), static_cast<size_t>(index));
}

// Mesa's surfaceless platform first: it is what desktops and CI have. The vendor EGL
// of a GPU server offers only the device platform, so the first device that works.
Expected<OpenedDisplay, Error> openAutomatic() {
    auto surfaceless = openSurfaceless();
    if (surfaceless) {
        return surfaceless;
    }
    auto devices = queryDevices();
    if (!devices) {
        return unexpected(missingError(HeadlessGLContext::Step::deviceMissing,
                                       surfaceless.error().description + "; " + devices.error().description));
    }
    std::string failures;
    for (size_t index = 0; index < devices->size(); ++index) {
        auto opened = openDevice(devices.value(), index);
        if (opened) {
            return opened;
        }
        failures += "; device " + std::to_string(index) + ": " + opened.error().description;
    }
    return unexpected(missingError(HeadlessGLContext::Step::deviceMissing,
                                   surfaceless.error().description +
                                       (devices->empty() ? "; no EGL device" : failures)));
}

Expected<int, Error> parseDeviceChoice(std::string_view text) {
    int index = -1;
    const char* end = text.data() + text.size();
    auto [stop, failure] = std::from_chars(text.data(), end, index);
    if (text.empty() || failure != std::errc() || stop != end || index < 0) {
        return unexpected(missingError(HeadlessGLContext::Step::deviceChoice,
                                       "LUMBRIX_EGL_DEVICE=" + std::string(text) +
                                           " is not a device number (0, 1, ...)"));
    }
    return index;
}

Expected<OpenedDisplay, Error> openedDisplay(int choice) {
    std::lock_guard lock(displayMutex);
    if (auto found = openedDisplays.find(choice); found != openedDisplays.end()) {
        return found->second;
    }
    auto opened = choice == kAutomatic ? openAutomatic() : openChosenDevice(choice);
    if (opened) {
        openedDisplays.emplace(choice, opened.value());
    }
    return opened;
}

}  // namespace

Expected<HeadlessGLContext, Error> HeadlessGLContext::create() {
    const char* eglDevice = std::getenv("LUMBRIX_EGL_DEVICE");
    return create(eglDevice != nullptr ? std::optional<std::string_view>(eglDevice) : std::nullopt);
}

Expected<HeadlessGLContext, Error> HeadlessGLContext::create(std::optional<std::string_view> eglDevice) {
    int choice = kAutomatic;
    if (eglDevice) {
        auto parsed = parseDeviceChoice(*eglDevice);
        if (!parsed) {
            return unexpected(parsed.error());
        }
        choice = parsed.value();
    }
    auto opened = openedDisplay(choice);
    if (!opened) {
        return unexpected(opened.error());
    }
    EGLDisplay display = opened->display;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        return unexpected(stepError(Step::bindAPI, "eglBindAPI(EGL_OPENGL_API) failed"));
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

    HeadlessGLContext result(display, context, opened->eglPlatform, opened->onDevicePlatform);
    if (auto error = result.makeCurrent()) {
        return unexpected(std::move(*error));
    }
    return result;
}

HeadlessGLContext::HeadlessGLContext(HeadlessGLContext&& other) noexcept
    : display_(std::exchange(other.display_, nullptr)),
      context_(std::exchange(other.context_, nullptr)),
      eglPlatform_(std::move(other.eglPlatform_)),
      onDevicePlatform_(other.onDevicePlatform_) {}

HeadlessGLContext& HeadlessGLContext::operator=(HeadlessGLContext&& other) noexcept {
    if (this != &other) {
        release();
        display_ = std::exchange(other.display_, nullptr);
        context_ = std::exchange(other.context_, nullptr);
        eglPlatform_ = std::move(other.eglPlatform_);
        onDevicePlatform_ = other.onDevicePlatform_;
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

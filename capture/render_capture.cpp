#include "capture/render_capture.h"

namespace lumbrix {

std::optional<Error> RenderCapture::saveScreenshot(const std::string& path) const {
    if (!lastFrameTexture_) return Error(kErrorDomain, noFrameYet, "No frame yet");
    return saveTexture(*lastFrameTexture_, path);
}

}  // namespace lumbrix

#pragma once
// The frame grab: the renderer hands over its offscreen colour target at the
// end of every frame; screenshots read the last one back and write it as PNG.
// (Recording to a movie joins this object later.)
//
// All calls run on the thread whose OpenGL context drew the frame, with that
// context current.
#include <optional>
#include <string>

#include "platform/error.h"

namespace lumbrix {

// A GL texture as the capture sees it.
struct CaptureTexture {
    unsigned int name = 0;            // GL texture object
    int widthPx = 0;
    int heightPx = 0;
    unsigned int internalFormat = 0;  // GL_RGBA8 or GL_SRGB8_ALPHA8 are accepted
};

enum class ImageFileType { png };

class RenderCapture {
public:
    static constexpr const char* kErrorDomain = "RenderCapture";
    enum ErrorCode {
        noFrameYet = -20,
        readbackFailed = -28,
        unsupportedPixelFormat = -29,
        contextCreateFailed = -30,
        imageCreateFailed = -31,
        imageEncodeFailed = -32,
    };

    // Keeps `frame` as the last frame (the renderer calls this once per frame).
    void capture(const CaptureTexture& frame) { lastFrameTexture_ = frame; }
    const std::optional<CaptureTexture>& lastFrameTexture() const { return lastFrameTexture_; }
    // Forgets the last frame (its texture is about to be deleted).
    void reset() { lastFrameTexture_.reset(); }

    // The last frame as a PNG at `path`: -20 "No frame yet" before the first frame.
    std::optional<Error> saveScreenshot(const std::string& path) const;

    // Reads `texture` back (rows upright: OpenGL stores them bottom-up) and writes
    // it to `path` atomically: on failure `path` is left as it was. Write errors
    // come back as the system's errors. The picture has the size OpenGL reports for
    // the texture; the caller's GL bindings and pack settings are left as they were.
    static std::optional<Error> saveTexture(const CaptureTexture& texture, const std::string& path,
                                            ImageFileType type = ImageFileType::png);

private:
    std::optional<CaptureTexture> lastFrameTexture_;
};

}  // namespace lumbrix

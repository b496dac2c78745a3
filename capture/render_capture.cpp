#include "capture/render_capture.h"

#include <epoxy/gl.h>

#include "capture/atomic_file.h"
#include "capture/gl_format_name.h"
#include "capture/png_encoder.h"
#include "capture/texture_readback.h"

namespace lumbrix {
namespace {

Expected<std::vector<uint8_t>, Error> encode(const RgbaView& image, ImageFileType type) {
    // No default: a new file type is a -Wswitch warning here until it gets its encoder.
    switch (type) {
        case ImageFileType::png:
            return encodePng(image);
    }
    return encodePng(image);  // a value cast in from outside the enum
}

}  // namespace

std::optional<Error> RenderCapture::saveScreenshot(const std::string& path) const {
    if (!lastFrameTexture_) return Error(kErrorDomain, noFrameYet, "No frame yet");
    return saveTexture(*lastFrameTexture_, path);
}

std::optional<Error> RenderCapture::saveTexture(const CaptureTexture& texture, const std::string& path,
                                                ImageFileType type) {
    // Only 8-bit RGBA goes to the file unchanged; wider or fewer channels would need a
    // conversion the picture formats here do not define.
    if (texture.internalFormat != GL_RGBA8 && texture.internalFormat != GL_SRGB8_ALPHA8) {
        return Error(kErrorDomain, unsupportedPixelFormat,
                     "Unsupported pixelFormat: " + glFormatName(texture.internalFormat));
    }

    auto pixels = readTexturePixels(texture.name);
    if (!pixels) return pixels.error();
    const TexturePixels& read = pixels.value();
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(read.widthPx) * 4;
    // OpenGL's first row is the bottom of the picture: start at the last one and step back.
    const RgbaView upright{read.rgba.data() + rowBytes * (read.heightPx - 1), -rowBytes, read.widthPx,
                           read.heightPx};

    auto encoded = encode(upright, type);
    if (!encoded) return encoded.error();
    return writeFileAtomically(path, encoded.value());
}

}  // namespace lumbrix

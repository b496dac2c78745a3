#pragma once
#if !defined(LUMBRIX_INSIDE_CAPTURE) && !defined(LUMBRIX_TESTS)
#error "capture/gl_format_name.h is internal to capture/"
#endif
// Readable names for OpenGL texture formats, for error messages.
#include <string>

namespace lumbrix {

// "GL_RGBA16F" for the formats a texture is commonly made with; any other value as its
// number in hexadecimal ("0x1234"), the way GL headers list them.
std::string glFormatName(unsigned int format);

}  // namespace lumbrix

#pragma once
// Compiling and linking GLSL programs, with the driver's log as the error text.
#include "platform/error.h"
#include "platform/expected.h"
#include "platform/gl/gl_object.h"

namespace lumbrix {

inline constexpr const char* kGLProgramErrorDomain = "GLProgram";

// Error codes: 1 vertex stage did not compile, 2 fragment stage did not compile,
// 3 the program did not link. The description is the driver's log on one line.
Expected<GLProgram, Error> buildProgram(const char* vertexSource, const char* fragmentSource);

}  // namespace lumbrix

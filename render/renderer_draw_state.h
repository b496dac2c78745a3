#pragma once
#if !defined(LUMBRIX_INSIDE_RENDER) && !defined(LUMBRIX_TESTS)
#error "render/renderer_draw_state.h is internal to render/"
#endif
// What the renderer's source files share about a draw: uniform slots, depth states and
// the GL calls every mesh draw makes.
#include <cstddef>
#include <string>

#include <epoxy/gl.h>

#include "model/mesh.h"
#include "platform/error.h"
#include "platform/expected.h"
#include "platform/gl/gl_object.h"
#include "platform/gl/gl_program.h"

namespace lumbrix::renderer_detail {

// One slot per draw in the uniform buffer.
enum UniformSlot : int {
    gridSlot = 0,
    venueSurfaceSlot,
    venueWireframeSlot,
    modelSlot,
    venueGridParamsSlot,
    modelGridParamsSlot,
    modelWindowSlot,
    uniformSlotCount,  // each venue with content follows with a window slot of its own
};

inline constexpr GLenum kColorFormat = GL_RGBA8;
inline constexpr GLenum kDepthFormat = GL_DEPTH_COMPONENT32F;

// Depth behaviour of the two kinds of draw: solid geometry hides what lies behind it;
// the grid is hidden by geometry but, writing no depth, never hides anything itself.
struct DepthState {
    GLenum compare;
    GLboolean write;
};
inline constexpr DepthState kSolidDepth{GL_LESS, GL_TRUE};
inline constexpr DepthState kGridDepth{GL_LEQUAL, GL_FALSE};

inline void apply(const DepthState& state) {
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(state.compare);
    glDepthMask(state.write);
}

inline void setMeshAttributes() {
    constexpr GLsizei stride = sizeof(Vertex);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(Vertex, position)));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(Vertex, uv)));
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(2, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(Vertex, normal)));
}

inline Expected<GLProgram, Error> buildNamedProgram(const char* name, const char* vertex, const char* fragment) {
    auto program = buildProgram(vertex, fragment);
    if (!program) {
        Error error = program.error();
        error.description = std::string(name) + ": " + error.description;
        return unexpected(std::move(error));
    }
    return program;
}

inline void bindBlock(GLuint program, const char* blockName, GLuint binding) {
    GLuint index = glGetUniformBlockIndex(program, blockName);
    // A block the compiler dropped as unused has no index; nothing to bind then.
    if (index != GL_INVALID_INDEX) {
        glUniformBlockBinding(program, index, binding);
    }
}

inline void bindSamplerUnit(GLuint program, const char* name, GLint unit) {
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, name), unit);
}

}  // namespace lumbrix::renderer_detail

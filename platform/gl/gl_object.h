#pragma once
// Move-only owners for OpenGL object names, so no glDelete* is scattered through
// rendering code. Objects must be destroyed while their context (or one sharing
// with it) is current.
#include <epoxy/gl.h>

#include <utility>

namespace lumbrix {

template <class Traits>
class GLObject {
public:
    GLObject() = default;
    // Takes ownership of a name made elsewhere (glCreateShader, glCreateProgram).
    explicit GLObject(GLuint id) : id_(id) {}
    ~GLObject() { reset(); }

    GLObject(GLObject&& other) noexcept : id_(std::exchange(other.id_, 0)) {}
    GLObject& operator=(GLObject&& other) noexcept {
        if (this != &other) {
            reset();
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    GLObject(const GLObject&) = delete;
    GLObject& operator=(const GLObject&) = delete;

    static GLObject generate() { return GLObject(Traits::generate()); }

    GLuint id() const { return id_; }
    explicit operator bool() const { return id_ != 0; }

    void reset() noexcept {
        if (id_ != 0) {
            Traits::destroy(id_);
            id_ = 0;
        }
    }

private:
    GLuint id_ = 0;
};

namespace gl_traits {

// glGen*/glDelete* come through epoxy as function pointers, so they are wrapped in
// functions rather than passed as template arguments.
#define LUMBRIX_GL_GEN_TRAITS(Name, gen, del)                  \
    struct Name {                                              \
        static GLuint generate() {                             \
            GLuint id = 0;                                     \
            gen(1, &id);                                       \
            return id;                                         \
        }                                                      \
        static void destroy(GLuint id) { del(1, &id); }        \
    };

LUMBRIX_GL_GEN_TRAITS(Buffer, glGenBuffers, glDeleteBuffers)
LUMBRIX_GL_GEN_TRAITS(VertexArray, glGenVertexArrays, glDeleteVertexArrays)
LUMBRIX_GL_GEN_TRAITS(Texture, glGenTextures, glDeleteTextures)
LUMBRIX_GL_GEN_TRAITS(Framebuffer, glGenFramebuffers, glDeleteFramebuffers)
LUMBRIX_GL_GEN_TRAITS(Renderbuffer, glGenRenderbuffers, glDeleteRenderbuffers)
LUMBRIX_GL_GEN_TRAITS(Sampler, glGenSamplers, glDeleteSamplers)
#undef LUMBRIX_GL_GEN_TRAITS

struct Shader {
    static void destroy(GLuint id) { glDeleteShader(id); }
};
struct Program {
    static void destroy(GLuint id) { glDeleteProgram(id); }
};

}  // namespace gl_traits

using GLBuffer = GLObject<gl_traits::Buffer>;
using GLVertexArray = GLObject<gl_traits::VertexArray>;
using GLTexture = GLObject<gl_traits::Texture>;
using GLFramebuffer = GLObject<gl_traits::Framebuffer>;
using GLRenderbuffer = GLObject<gl_traits::Renderbuffer>;
using GLSampler = GLObject<gl_traits::Sampler>;
using GLShader = GLObject<gl_traits::Shader>;
using GLProgram = GLObject<gl_traits::Program>;

}  // namespace lumbrix

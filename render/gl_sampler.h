#pragma once
// Owner for GL sampler objects, which the shared GL owners do not cover: the renderer
// samples source textures with its own filtering whatever the source set on them.
#include "platform/gl/gl_object.h"

namespace lumbrix {

namespace gl_traits {
struct Sampler {
    static GLuint generate() {
        GLuint id = 0;
        glGenSamplers(1, &id);
        return id;
    }
    static void destroy(GLuint id) { glDeleteSamplers(1, &id); }
};
}  // namespace gl_traits

using GLSampler = GLObject<gl_traits::Sampler>;

}  // namespace lumbrix

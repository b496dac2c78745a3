#include "platform/gl/gl_program.h"

#include <string>

namespace lumbrix {
namespace {

// Drivers write multi-line logs; errors here are one line.
std::string oneLine(std::string log) {
    while (!log.empty() && (log.back() == '\n' || log.back() == '\0' || log.back() == ' ')) {
        log.pop_back();
    }
    for (char& c : log) {
        if (c == '\n') {
            c = ' ';
        }
    }
    return log;
}

std::string shaderLog(GLuint shader) {
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        glGetShaderInfoLog(shader, length, nullptr, log.data());
    }
    return oneLine(std::move(log));
}

std::string programLog(GLuint program) {
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        glGetProgramInfoLog(program, length, nullptr, log.data());
    }
    return oneLine(std::move(log));
}

Expected<GLShader, Error> compile(GLenum stage, const char* source, int errorCode, const char* name) {
    GLShader shader(glCreateShader(stage));
    glShaderSource(shader.id(), 1, &source, nullptr);
    glCompileShader(shader.id());
    GLint ok = GL_FALSE;
    glGetShaderiv(shader.id(), GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        return unexpected(Error(kGLProgramErrorDomain, errorCode,
                                std::string(name) + " shader: " + shaderLog(shader.id())));
    }
    return shader;
}

}  // namespace

Expected<GLProgram, Error> buildProgram(const char* vertexSource, const char* fragmentSource) {
    auto vertex = compile(GL_VERTEX_SHADER, vertexSource, 1, "vertex");
    if (!vertex) {
        return unexpected(vertex.error());
    }
    auto fragment = compile(GL_FRAGMENT_SHADER, fragmentSource, 2, "fragment");
    if (!fragment) {
        return unexpected(fragment.error());
    }
    GLProgram program(glCreateProgram());
    glAttachShader(program.id(), vertex->id());
    glAttachShader(program.id(), fragment->id());
    glLinkProgram(program.id());
    // The program keeps its compiled stages; the shader objects can go now.
    glDetachShader(program.id(), vertex->id());
    glDetachShader(program.id(), fragment->id());
    GLint ok = GL_FALSE;
    glGetProgramiv(program.id(), GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        return unexpected(Error(kGLProgramErrorDomain, 3, "link: " + programLog(program.id())));
    }
    return program;
}

}  // namespace lumbrix

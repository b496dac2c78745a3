// lumbrix-render: the venue with its picture, rendered offline without a display.
#include <epoxy/gl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "lumbrix_version.h"
#include "platform/headless_gl_context.h"
#include "tools/render/partial_movie.h"
#include "tools/render/render_job.h"
#include "tools/render/render_options.h"

namespace {

// For telling, on a GPU server, whether the render would run on the GPU or fall back
// to a software rasterizer.
int printGLInfo() {
    auto context = lumbrix::HeadlessGLContext::create();
    if (!context) {
        std::fprintf(stderr, "lumbrix-render: no headless OpenGL 3.3 context: %s\n",
                     context.error().description.c_str());
        return 1;
    }
    auto text = [](GLenum name) {
        const GLubyte* value = glGetString(name);
        return value != nullptr ? reinterpret_cast<const char*>(value) : "(unknown)";
    };
    std::printf("vendor: %s\nrenderer: %s\nversion: %s\negl platform: %s\n", text(GL_VENDOR),
                text(GL_RENDERER), text(GL_VERSION), context->eglPlatform().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace lumbrix::render_tool;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    auto options = parseOptions(arguments);
    if (!options) {
        std::fprintf(stderr, "lumbrix-render: %s\n%s", options.error().description.c_str(), kUsage);
        return 2;
    }
    if (options.value().help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.value().version) {
        std::printf("lumbrix-render %s\n", LUMBRIX_VERSION);
        return 0;
    }
    if (options.value().glInfo) {
        return printGLInfo();
    }
    installStopSignals();
    return runRenderJob(options.value());
}

// lumbrix-render: the venue with its picture, rendered offline without a display.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/render/partial_movie.h"
#include "tools/render/render_job.h"
#include "tools/render/render_options.h"

int main(int argc, char** argv) {
    using namespace lumbrix::render_tool;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    auto options = parseOptions(arguments);
    if (!options) {
        std::fprintf(stderr, "lumbrix-render: %s\n%s", options.error().c_str(), kUsage);
        return 2;
    }
    if (options.value().help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    installStopSignals();
    return runRenderJob(options.value());
}

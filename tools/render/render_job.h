#pragma once
// One offline render: every frame drawn at its own time and, with --out, written to the
// movie, with the video's sound for the same span.
#include "tools/render/render_options.h"

namespace lumbrix::render_tool {

// Runs the whole job; messages go to standard error. Returns the exit status: 0 only
// when every frame was written.
int runRenderJob(const RenderOptions& options);

}  // namespace lumbrix::render_tool

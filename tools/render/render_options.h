#pragma once
// What a lumbrix-render run is asked to do, parsed and checked from its arguments.
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/expected.h"
#include "render/renderer_uniforms.h"
#include "render/venue_content.h"
#include "sources/source_registry.h"

namespace lumbrix::render_tool {

// A --venue: its mesh file and what it shows.
struct VenueOption {
    enum class Content { none, region, image, video, ndi };
    std::string file;
    Content content = Content::none;
    CanvasRegion region;  // for region
    std::string source;   // image or video path, or NDI sender name
};

// FILE, FILE@region=X,Y,W,H, FILE@image=PATH, FILE@video=PATH or FILE@ndi=NAME; the first
// "@word=" names the content, so a file name may hold "@" elsewhere.
Expected<VenueOption, Error> parseVenueOption(const std::string& text);

struct RenderOptions {
    std::string model;
    std::vector<VenueOption> venues;
    std::optional<SourceMode> sourceMode;  // none: the model is drawn grey
    std::string source;            // file path or NDI sender name
    std::string cameraStateFile;   // empty: the default camera fitted to the model
    std::string fbxCamera;         // name or index; empty: none
    int widthPx = 1920;
    int heightPx = 1080;
    int fps = 30;
    int64_t frames = 150;          // from --frames, or --seconds × fps
    double startSeconds = 0.0;
    std::string out;
    std::string screenshot;
    std::optional<float> uvGridDensity;
    FaceMode faces = FaceMode::both;
    InactiveSideMode inactive = InactiveSideMode::gray;
    bool floorGrid = true;
    std::optional<float> fovDegrees;
    bool audio = true;
    bool help = false;
    bool version = false;
    bool glInfo = false;  // print what the headless OpenGL context is, render nothing
};

extern const char* const kUsage;

// A usage problem as one line, for example "--fps needs a whole number from 1 to 240".
// Errors of parseOptions: the command line is wrong; the code is the exit status.
inline constexpr const char* kRenderUsageErrorDomain = "Usage";
Expected<RenderOptions, Error> parseOptions(const std::vector<std::string>& arguments);

}  // namespace lumbrix::render_tool

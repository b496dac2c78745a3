#include "tools/render/render_options.h"

#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace lumbrix::render_tool {

const char* const kUsage =
    "Usage: lumbrix-render --model FILE [--venue FILE[@CONTENT]]... [--source VIDEO | --image FILE | --ndi NAME]\n"
    "                      [--camera-state FILE.json | --fbx-camera NAME_OR_INDEX] [--size WxH] [--fps N]\n"
    "                      [--seconds S | --frames N] [--start S] [--out MOVIE.mp4] [--screenshot FILE.png]\n"
    "                      [--uv-grid DENSITY] [--faces both|front|back] [--inactive gray|hide]\n"
    "                      [--no-floor-grid] [--fov DEGREES] [--no-audio]\n"
    "       lumbrix-render --gl-info | --help | --version\n"
    "Renders the venue model with the picture mapped through its UVs, without a display.\n"
    "Frame i is at start + i / fps; every frame is rendered and written (nothing is dropped).\n"
    "  --model FILE          OBJ or FBX venue model, loaded as the viewer loads it\n"
    "  --venue FILE          extra venue mesh (OBJ or FBX), grey, may repeat; FILE@CONTENT gives it a picture\n"
    "                        through its UVs: @region=X,Y,W,H the pixel rectangle of the source's picture\n"
    "                        (x right, y down from the top left; black past its edges), @image=FILE,\n"
    "                        @video=FILE (on the same clock as --source, its sound unused) or @ndi=NAME\n"
    "  --source VIDEO        video file: the frame due at each time, and its sound\n"
    "  --image FILE          still image (PNG, JPEG, ...)\n"
    "  --ndi NAME            live NDI sender: waits up to 10 s for its first frame\n"
    "  --camera-state FILE   a saved camera (JSON: position, target, yaw, pitch, distance, fov)\n"
    "  --fbx-camera NAME|N   a camera of the FBX model, by name or index\n"
    "  --size WxH            picture size (default 1920x1080)\n"
    "  --fps N               frames per second (default 30)\n"
    "  --seconds S           length (default 5); or --frames N\n"
    "  --start S             time in the source of the first frame (default 0)\n"
    "  --out MOVIE.mp4       H.264/AAC movie; --screenshot FILE.png: the last frame (at least one)\n"
    "  --uv-grid DENSITY     draw UV grid lines, DENSITY cells per UV unit\n"
    "  --faces, --inactive   which side shows the picture, and what the other side shows\n"
    "  --no-floor-grid       leave out the floor grid\n"
    "  --fov DEGREES         vertical field of view\n"
    "  --no-audio            no sound track\n"
    "  --gl-info             print the OpenGL vendor, renderer and version and the EGL platform\n"
    "                        the headless context got, and exit (LUMBRIX_EGL_DEVICE=N picks EGL device N)\n"
    "  --help, --version     print this help, or the version, and exit\n"
    "Exit status: 0 only when every frame was written; 2 for a usage error.\n";

namespace {

bool parseDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

bool parseInt(const std::string& text, int64_t& value) {
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

Unexpected<Error> usageError(std::string text) {
    return unexpected(Error(kRenderUsageErrorDomain, 2, std::move(text)));
}

}  // namespace

Expected<VenueOption, Error> parseVenueOption(const std::string& text) {
    VenueOption venue;
    venue.file = text;
    // The first "@word=" marks the content, so the value after it may hold "@" too.
    size_t at = text.find('@');
    size_t equals = std::string::npos;
    while (at != std::string::npos) {
        size_t end = at + 1;
        while (end < text.size() && std::islower(static_cast<unsigned char>(text[end]))) ++end;
        if (end > at + 1 && end < text.size() && text[end] == '=') {
            equals = end;
            break;
        }
        at = text.find('@', at + 1);
    }
    if (equals == std::string::npos) {
        return venue;
    }
    const std::string kind = text.substr(at + 1, equals - at - 1);
    const std::string value = text.substr(equals + 1);
    venue.file = text.substr(0, at);
    if (venue.file.empty()) return usageError("--venue needs a mesh file before @ (got " + text + ")");
    if (kind == "region") {
        int64_t numbers[4] = {};
        size_t start = 0;
        bool good = true;
        for (int n = 0; n < 4 && good; ++n) {
            const size_t comma = n < 3 ? value.find(',', start) : value.size();
            good = comma != std::string::npos && parseInt(value.substr(start, comma - start), numbers[n]) &&
                   std::abs(numbers[n]) <= 1000000;
            start = comma + 1;
        }
        if (!good || numbers[2] < 1 || numbers[3] < 1) {
            return usageError("--venue @region needs X,Y,WIDTH,HEIGHT in whole pixels, width and height at least 1 (got " +
                              value + ")");
        }
        venue.content = VenueOption::Content::region;
        venue.region = {static_cast<int>(numbers[0]), static_cast<int>(numbers[1]), static_cast<int>(numbers[2]),
                        static_cast<int>(numbers[3])};
        return venue;
    }
    if (kind == "image") venue.content = VenueOption::Content::image;
    else if (kind == "video") venue.content = VenueOption::Content::video;
    else if (kind == "ndi") venue.content = VenueOption::Content::ndi;
    else return usageError("--venue content must be region, image, video or ndi (got " + kind + ")");
    if (value.empty()) return usageError("--venue @" + kind + " needs a " + (kind == "ndi" ? "sender name" : "file"));
    venue.source = value;
    return venue;
}

Expected<RenderOptions, Error> parseOptions(const std::vector<std::string>& arguments) {
    RenderOptions options;
    std::optional<double> seconds;
    std::optional<int64_t> frames;
    int sources = 0;
    int cameras = 0;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        auto value = [&](std::string& into) -> bool {
            if (i + 1 >= arguments.size()) return false;
            into = arguments[++i];
            return true;
        };
        std::string text;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        } else if (arg == "--version") {
            options.version = true;
            return options;
        } else if (arg == "--gl-info") {
            options.glInfo = true;
            return options;
        } else if (arg == "--no-floor-grid") {
            options.floorGrid = false;
        } else if (arg == "--no-audio") {
            options.audio = false;
        } else if (arg.rfind("--", 0) != 0) {
            return usageError("unexpected argument " + arg);
        } else if (!value(text)) {
            if (arg == "--model" || arg == "--venue" || arg == "--source" || arg == "--image" || arg == "--ndi" ||
                arg == "--camera-state" || arg == "--fbx-camera" || arg == "--size" || arg == "--fps" ||
                arg == "--seconds" || arg == "--frames" || arg == "--start" || arg == "--out" ||
                arg == "--screenshot" || arg == "--uv-grid" || arg == "--faces" || arg == "--inactive" ||
                arg == "--fov") {
                return usageError(arg + " needs a value");
            }
            return usageError("unknown option " + arg);
        } else if (arg == "--model") {
            options.model = text;
        } else if (arg == "--venue") {
            auto venue = parseVenueOption(text);
            if (!venue) return unexpected(venue.error());
            options.venues.push_back(std::move(venue.value()));
        } else if (arg == "--source" || arg == "--image" || arg == "--ndi") {
            ++sources;
            options.sourceMode = arg == "--source" ? SourceMode::file : arg == "--image" ? SourceMode::image : SourceMode::ndi;
            options.source = text;
        } else if (arg == "--camera-state") {
            ++cameras;
            options.cameraStateFile = text;
        } else if (arg == "--fbx-camera") {
            ++cameras;
            options.fbxCamera = text;
        } else if (arg == "--size") {
            const size_t x = text.find('x');
            int64_t width = 0, height = 0;
            if (x == std::string::npos || !parseInt(text.substr(0, x), width) || !parseInt(text.substr(x + 1), height) ||
                width < 16 || height < 16 || width > 8192 || height > 8192) {
                return usageError("--size needs WIDTHxHEIGHT, each from 16 to 8192 (got " + text + ")");
            }
            options.widthPx = static_cast<int>(width);
            options.heightPx = static_cast<int>(height);
        } else if (arg == "--fps") {
            int64_t fps = 0;
            if (!parseInt(text, fps) || fps < 1 || fps > 240) {
                return usageError("--fps needs a whole number from 1 to 240 (got " + text + ")");
            }
            options.fps = static_cast<int>(fps);
        } else if (arg == "--seconds") {
            double s = 0;
            if (!parseDouble(text, s) || s <= 0 || s > 86400) {
                return usageError("--seconds needs a positive number of seconds (got " + text + ")");
            }
            seconds = s;
        } else if (arg == "--frames") {
            int64_t n = 0;
            if (!parseInt(text, n) || n < 1 || n > 10000000) {
                return usageError("--frames needs a positive whole number (got " + text + ")");
            }
            frames = n;
        } else if (arg == "--start") {
            double s = 0;
            if (!parseDouble(text, s) || s < 0) {
                return usageError("--start needs a time of 0 or more seconds (got " + text + ")");
            }
            options.startSeconds = s;
        } else if (arg == "--out") {
            options.out = text;
        } else if (arg == "--screenshot") {
            options.screenshot = text;
        } else if (arg == "--uv-grid") {
            double density = 0;
            if (!parseDouble(text, density) || density <= 0 || density > 10000) {
                return usageError("--uv-grid needs a positive density (got " + text + ")");
            }
            options.uvGridDensity = static_cast<float>(density);
        } else if (arg == "--faces") {
            if (text == "both") options.faces = FaceMode::both;
            else if (text == "front") options.faces = FaceMode::front;
            else if (text == "back") options.faces = FaceMode::back;
            else return usageError("--faces needs both, front or back (got " + text + ")");
        } else if (arg == "--inactive") {
            if (text == "gray") options.inactive = InactiveSideMode::gray;
            else if (text == "hide") options.inactive = InactiveSideMode::hide;
            else return usageError("--inactive needs gray or hide (got " + text + ")");
        } else if (arg == "--fov") {
            double fov = 0;
            if (!parseDouble(text, fov) || fov <= 0 || fov >= 180) {
                return usageError("--fov needs degrees between 0 and 180 (got " + text + ")");
            }
            options.fovDegrees = static_cast<float>(fov);
        } else {
            return usageError("unknown option " + arg);
        }
    }
    if (options.model.empty()) return usageError("--model is required");
    if (sources > 1) return usageError("give at most one of --source, --image and --ndi");
    if (cameras > 1) return usageError("give at most one of --camera-state and --fbx-camera");
    if (seconds && frames) return usageError("give --seconds or --frames, not both");
    if (options.out.empty() && options.screenshot.empty()) {
        return usageError("nothing to write: give --out, --screenshot or both");
    }
    if (frames) options.frames = *frames;
    if (seconds) options.frames = std::max<int64_t>(1, std::llround(*seconds * options.fps));
    if (!seconds && !frames) options.frames = 5LL * options.fps;
    return options;
}

}  // namespace lumbrix::render_tool

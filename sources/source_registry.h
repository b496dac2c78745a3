#pragma once
// The kinds of picture source and what every front end needs to know of them: the
// stored name, the label, which files open as the kind, whether it has a timeline and
// sound. The viewer and lumbrix-render read this one table, so a kind is declared once.
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

namespace lumbrix {

enum class SourceMode { ndi, file, image };

struct SourceDescriptor {
    SourceMode mode;
    std::string_view rawValue;    // how settings and launch records store it
    std::string_view label;       // the viewer's mode picker
    std::string_view filesLabel;  // what a file dialog calls the kind's files; empty: it takes none
    std::span<const std::string_view> extensions;  // lower case, no dot; empty: made from no file
    bool hasTimeline;  // plays, pauses and seeks
    bool hasSound;     // a recording takes its sound
};

inline constexpr std::array<std::string_view, 11> kMovieExtensions{
    "mp4", "mov", "m4v", "mkv", "avi", "webm", "mxf", "mts", "ts", "mpg", "mpeg"};
inline constexpr std::array<std::string_view, 3> kPictureExtensions{"png", "jpg", "jpeg"};

// In picker order.
inline constexpr std::array kSourceDescriptors{
    SourceDescriptor{SourceMode::ndi, "ndi", "NDI", {}, {}, false, true},
    SourceDescriptor{SourceMode::file, "file", "File", "Movies", kMovieExtensions, true, true},
    SourceDescriptor{SourceMode::image, "image", "Image", "PNG and JPEG images", kPictureExtensions, false, false},
};

inline constexpr auto kAllSourceModes = [] {
    std::array<SourceMode, kSourceDescriptors.size()> modes{};
    for (size_t i = 0; i < modes.size(); ++i) modes[i] = kSourceDescriptors[i].mode;
    return modes;
}();

const SourceDescriptor& sourceDescriptor(SourceMode mode);
// The kind a file of this name opens as, by its extension in any case; null for none.
const SourceDescriptor* sourceDescriptorForPath(std::string_view path);

}  // namespace lumbrix

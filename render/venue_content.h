#pragma once
// What a venue mesh shows. Show systems feed screens either as slices of one media-server
// output (the canvas: the current source, cut into pixel rectangles, one per screen) or as
// separate feeds; a venue with no content stays the grey context it always was.
#include <memory>

#include "model/mesh.h"
#include "sources/texture_source.h"

namespace lumbrix {

enum class VenueContentKind {
    none,          // grey surface and wireframe
    canvasRegion,  // a pixel rectangle of the current source on the venue's UV square
    ownSource,     // a picture source of the venue's own
};

// Pixels of the canvas, x to the right and y down from its top-left corner, as media
// servers and LED processors name them. It may reach past the canvas's edges; what lies
// outside shows black.
struct CanvasRegion {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const CanvasRegion&, const CanvasRegion&) = default;
};

// A venue as the renderer draws it.
struct VenueDraw {
    std::shared_ptr<const Mesh> mesh;
    VenueContentKind kind = VenueContentKind::none;
    CanvasRegion region{};                    // for canvasRegion
    std::shared_ptr<TextureSource> source{};  // for ownSource; null draws as a source without a picture yet
    friend bool operator==(const VenueDraw&, const VenueDraw&) = default;
};

}  // namespace lumbrix

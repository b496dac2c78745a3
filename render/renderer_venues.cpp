// The venues: merged ones that show nothing, and those with a picture of their own or a
// region of the canvas, each drawn through its own sample window.
#include <algorithm>

#include "render/renderer.h"
#include "render/renderer_draw_state.h"

namespace lumbrix {

using namespace renderer_detail;

Mesh mergeVenueMeshes(const std::vector<std::shared_ptr<const Mesh>>& venues) {
    Mesh merged;
    size_t vertexCount = 0;
    size_t indexCount = 0;
    for (const auto& venue : venues) {
        if (venue) {
            vertexCount += venue->vertices.size();
            indexCount += venue->indices.size();
        }
    }
    merged.vertices.reserve(vertexCount);
    merged.indices.reserve(indexCount);
    for (const auto& venue : venues) {
        if (!venue) {
            continue;
        }
        // Wrapping 32-bit add: offsets past 2^32 vertices cannot be drawn anyway.
        auto base = static_cast<uint32_t>(merged.vertices.size());
        merged.vertices.insert(merged.vertices.end(), venue->vertices.begin(), venue->vertices.end());
        for (uint32_t index : venue->indices) {
            merged.indices.push_back(index + base);
        }
    }
    return merged;
}

std::optional<std::pair<int, int>> textureSizePx(GLuint texture) {
    if (texture == 0) return std::nullopt;
    GLint width = 0, height = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    glBindTexture(GL_TEXTURE_2D, 0);
    if (width <= 0 || height <= 0) return std::nullopt;
    return std::make_pair(int(width), int(height));
}

SampleWindow canvasRegionWindow(const CanvasRegion& region, int canvasWidthPx, int canvasHeightPx) {
    SampleWindow window;
    if (region.width <= 0 || region.height <= 0 || canvasWidthPx <= 0 || canvasHeightPx <= 0) {
        window.bounds = {1.0f, 1.0f, 0.0f, 0.0f};  // min past max: nothing is inside
        return window;
    }
    const auto w = static_cast<float>(canvasWidthPx);
    const auto h = static_cast<float>(canvasHeightPx);
    // The stored v already runs down from the top, like the region's y.
    window.scaleOffset = {static_cast<float>(region.width) / w, static_cast<float>(region.height) / h,
                          static_cast<float>(region.x) / w, static_cast<float>(region.y) / h};
    window.bounds = {0.0f, 0.0f, 1.0f, 1.0f};
    return window;
}

void Renderer::setVenues(std::vector<std::shared_ptr<const Mesh>> venues) {
    std::vector<VenueDraw> draws;
    draws.reserve(venues.size());
    for (auto& mesh : venues) {
        draws.push_back({std::move(mesh), VenueContentKind::none, {}, {}});
    }
    setVenueDraws(std::move(draws));
}

void Renderer::setVenueDraws(std::vector<VenueDraw> draws) {
    if (draws == venueDraws_) {
        return;
    }
    venueDraws_ = std::move(draws);
    std::vector<std::shared_ptr<const Mesh>> plain;
    std::vector<ContentVenue> content;
    for (const VenueDraw& draw : venueDraws_) {
        if (draw.kind == VenueContentKind::none) {
            plain.push_back(draw.mesh);
            continue;
        }
        if (!draw.mesh) {
            continue;
        }
        // Geometry already on the GPU, from before or from an earlier venue on the same
        // mesh object, is kept rather than uploaded again.
        std::shared_ptr<VenueGeometry> geometry;
        for (const auto* list : {&content, &contentVenues_}) {
            for (const ContentVenue& held : *list) {
                if (!geometry && held.geometry->mesh == draw.mesh) geometry = held.geometry;
            }
        }
        if (!geometry) {
            geometry = std::make_shared<VenueGeometry>();
            geometry->mesh = draw.mesh;
            uploadMesh(*draw.mesh, geometry->vao, geometry->vbuf, geometry->ibuf);
            geometry->indexCount = static_cast<int>(draw.mesh->indices.size());
        }
        content.push_back({std::move(geometry), draw.kind, draw.region, draw.source});
    }
    contentVenues_ = std::move(content);
    resizeUniformSlots(uniformSlotCount + contentVenues_.size());
    setMergedVenues(std::move(plain));
}

void Renderer::setMergedVenues(std::vector<std::shared_ptr<const Mesh>> venues) {
    if (venues == venues_) {
        return;
    }
    venues_ = std::move(venues);
    if (venues_.empty()) {
        venueVao_.reset();
        venueVbuf_.reset();
        venueIbuf_.reset();
        venueIndexCount_ = 0;
        return;
    }
    Mesh merged = mergeVenueMeshes(venues_);
    uploadMesh(merged, venueVao_, venueVbuf_, venueIbuf_);
    venueIndexCount_ = static_cast<int>(merged.indices.size());
}

void Renderer::drawVenues(const ModelUniforms& surface, const ModelUniforms& wireframe) {
    if (!venueVbuf_ || !venueIbuf_ || venueIndexCount_ <= 0) {
        return;
    }
    apply(kSolidDepth);
    glBindVertexArray(venueVao_.id());
    bindUniformSlot(kGridParamsBinding, venueGridParamsSlot, sizeof(GridParams));

    // The wireframe repeats the surface's depths exactly; pushing the surface back a
    // little lets the lines pass the strict depth test instead of z-fighting.
    glUseProgram(uv3dProgramFor(surface));
    bindUniformSlot(kModelUniformsBinding, venueSurfaceSlot, sizeof(ModelUniforms));
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.0f, 1.0f);
    glDrawElements(GL_TRIANGLES, venueIndexCount_, GL_UNSIGNED_INT, nullptr);
    glDisable(GL_POLYGON_OFFSET_FILL);

    glUseProgram(uv3dProgramFor(wireframe));
    bindUniformSlot(kModelUniformsBinding, venueWireframeSlot, sizeof(ModelUniforms));
    glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
    glDrawElements(GL_TRIANGLES, venueIndexCount_, GL_UNSIGNED_INT, nullptr);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

GLuint Renderer::venueTexture(const ContentVenue& venue, GLuint sourceTexture) {
    if (venue.kind == VenueContentKind::canvasRegion) {
        return sourceTexture;
    }
    if (!venue.source) {
        return 0;
    }
    for (const auto& [source, texture] : frameTextures_) {
        if (source == venue.source.get()) return texture;
    }
    const GLuint texture = venue.source->texture();
    frameTextures_.emplace_back(venue.source.get(), texture);
    return texture;
}

void Renderer::writeContentWindows(GLuint sourceTexture) {
    frameTextures_.clear();
    if (textureSource) frameTextures_.emplace_back(textureSource.get(), sourceTexture);
    // Asked of the texture itself, once a frame and only for regions: the size a source
    // uploaded is the canvas.
    const bool hasRegion = std::any_of(contentVenues_.begin(), contentVenues_.end(), [](const ContentVenue& venue) {
        return venue.kind == VenueContentKind::canvasRegion;
    });
    const auto canvas = hasRegion ? textureSizePx(sourceTexture) : std::nullopt;
    const int canvasWidthPx = canvas ? canvas->first : 0;
    const int canvasHeightPx = canvas ? canvas->second : 0;
    contentTextures_.resize(contentVenues_.size());
    for (size_t i = 0; i < contentVenues_.size(); ++i) {
        const ContentVenue& venue = contentVenues_[i];
        const GLuint texture = venueTexture(venue, sourceTexture);
        // Without a picture yet a venue shows the neutral colour whole, as the model does.
        SampleWindow window;
        if (venue.kind == VenueContentKind::canvasRegion && texture != 0) {
            window = canvasRegionWindow(venue.region, canvasWidthPx, canvasHeightPx);
        }
        contentTextures_[i] = texture != 0 ? texture : neutralTexture_.id();
        writeUniformSlot(static_cast<int>(uniformSlotCount + i), &window, sizeof(window));
    }
}

void Renderer::drawContentVenues(const ModelUniforms& uniforms) {
    if (contentVenues_.empty()) {
        return;
    }
    const GLuint program = uv3dProgramFor(uniforms);
    if (program == 0) {
        return;
    }
    // Drawn as the model is, each venue with its own picture and window.
    glUseProgram(program);
    apply(kSolidDepth);
    bindUniformSlot(kModelUniformsBinding, modelSlot, sizeof(ModelUniforms));
    bindUniformSlot(kGridParamsBinding, modelGridParamsSlot, sizeof(GridParams));
    glActiveTexture(GL_TEXTURE0);
    glBindSampler(0, sourceSampler_.id());
    for (size_t i = 0; i < contentVenues_.size(); ++i) {
        const VenueGeometry& geometry = *contentVenues_[i].geometry;
        if (geometry.indexCount <= 0) continue;
        bindUniformSlot(kSampleWindowBinding, static_cast<int>(uniformSlotCount + i), sizeof(SampleWindow));
        glBindTexture(GL_TEXTURE_2D, contentTextures_[i]);
        glBindVertexArray(geometry.vao.id());
        glDrawElements(GL_TRIANGLES, geometry.indexCount, GL_UNSIGNED_INT, nullptr);
    }
    glBindSampler(0, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace lumbrix

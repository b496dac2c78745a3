#pragma once
// Draws the 3D view: floor grid, venues and the model into one offscreen colour and
// depth target of drawable size, then copies that target into the caller's
// framebuffer. The same offscreen texture goes to the capture object every frame, so
// screenshots and recordings see exactly what is on screen.
//
// Everything runs on the thread whose OpenGL 3.3 core context is current; that
// context must stay current for every call, including destruction.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/render_capture.h"
#include "model/mesh.h"
#include "platform/error.h"
#include "platform/expected.h"
#include "platform/gl/gl_object.h"
#include "render/orbit_camera.h"
#include "render/renderer_uniforms.h"
#include "render/vector_math.h"
#include "render/venue_content.h"
#include "sources/texture_source.h"

namespace lumbrix {

inline constexpr const char* kRendererErrorDomain = "Renderer";

struct ClipPlanes {
    float nearZ = 0.0f;
    float farZ = 0.0f;
};

// Far reaches well past the model and the eye, near follows far so the depth buffer
// keeps its precision for tiny and huge venues alike.
ClipPlanes clipPlanesFor(float sceneRadius, float cameraDistance);

// All venues in one vertex and one index array, each venue's indices shifted past the
// vertices that precede it, so the venues cost two draws in total.
Mesh mergeVenueMeshes(const std::vector<std::shared_ptr<const Mesh>>& venues);

// The window that shows `region` of a canvas of the given size on a venue's UV square,
// upright; what lies past the canvas's edges falls outside the bounds. An empty region
// or canvas shows nothing.
SampleWindow canvasRegionWindow(const CanvasRegion& region, int canvasWidthPx, int canvasHeightPx);

// Width and height of level 0 of a GL_TEXTURE_2D, as the source uploaded it; none for 0
// or an empty texture. The context must be current.
std::optional<std::pair<int, int>> textureSizePx(GLuint texture);

// The model's per-draw block for the current display options.
ModelUniforms modelUniformsFor(const Float4x4& mvp, bool showUVGrid, FaceMode faceMode,
                               InactiveSideMode inactiveSideMode);

class Renderer {
public:
    // Builds the programs, the uniform buffer and the floor grid for radius 1. Fails
    // only on a broken installation (a program that does not compile or link).
    // `mainQueue` is where the capture finishes a stopped recording.
    static Expected<std::unique_ptr<Renderer>, Error> create(std::shared_ptr<MainQueue> mainQueue = {});

    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Display state pushed by the view bridge on every view update.
    std::shared_ptr<TextureSource> textureSource;
    bool showUVGrid = false;
    float uvGridDensity = 20.0f;  // cells per UV unit
    FaceMode faceMode = FaceMode::both;
    InactiveSideMode inactiveSideMode = InactiveSideMode::gray;
    bool showFloorGrid = true;
    float fovDegrees = 50.0f;  // mirrored only; frames use the camera's own field of view
    std::weak_ptr<OrbitCamera> cameraRef;
    bool pendingFit = false;  // fit the camera to the model on the next real frame
    Float4 clearColor{0.1f, 0.1f, 0.1f, 1.0f};

    // The view bridge pushes the same objects on every update; geometry already held
    // (the same mesh object, or the same list of venue objects) is not uploaded again.
    // An empty pointer clears the model but keeps the floor grid at its last size.
    void setMesh(std::shared_ptr<const Mesh> mesh);
    // Venues without content, as grey context.
    void setVenues(std::vector<std::shared_ptr<const Mesh>> venues);
    // Venues without content stay merged into one buffer pair; each venue with content
    // keeps its own, reused while its mesh object stays.
    void setVenueDraws(std::vector<VenueDraw> venues);

    void drawableSizeWillChange(int widthPx, int heightPx);

    // One frame into `targetFramebuffer` (0 for the default one) of the drawable size.
    void draw(GLuint targetFramebuffer, int widthPx, int heightPx);

    float currentAspectRatio() const { return currentAspectRatio_; }
    float sceneRadius() const { return sceneRadius_; }
    Float3 fitMin() const { return fitMin_; }
    Float3 fitMax() const { return fitMax_; }
    int indexCount() const { return indexCount_; }
    // Indices of the merged venues without content.
    int venueIndexCount() const { return venueIndexCount_; }
    int contentVenueCount() const { return static_cast<int>(contentVenues_.size()); }
    int gridVertexCount() const { return gridVertexCount_; }
    // Near and far of the last frame drawn.
    ClipPlanes lastClipPlanes() const { return lastClipPlanes_; }

    OrbitCamera& fallbackCamera() { return fallbackCamera_; }
    RenderCapture& capture() { return *capture_; }
    // Records the view at the capture texture's size (1280 × 720 before the first
    // frame), `fps` as a whole number, 12 Mbit/s; the writer's errors come back.
    std::optional<Error> startRecording(const std::string& path, double fps, bool includeSourceAudio,
                                        bool includeMicrophone);
    // The video file's sound while recording; dropped otherwise. Any thread.
    void appendSourceAudio(const AudioSampleBuffer& buffer) { capture_->appendSourceAudio(buffer); }
    const std::shared_ptr<RenderCapture>& sharedCapture() const { return capture_; }
    // The last frame drawn as a PNG at `path`; RenderCapture -20 "No frame yet" before one.
    std::optional<Error> saveScreenshot(const std::string& path) const { return capture_->saveScreenshot(path); }
    // The offscreen colour texture (GL_RGBA8); 0 before the first frame.
    GLuint captureTexture() const { return captureTexture_.id(); }

    // Buffer uploads since creation: geometry, floor grid and uniform blocks. A frame
    // that changes nothing adds none.
    uint64_t uploadCount() const { return uploadCount_; }
    int presentProgramBuildCount() const { return presentProgramBuildCount_; }
    // Frames copied to the window with a blit rather than the two-triangle pass.
    uint64_t blitPresentCount() const { return blitPresentCount_; }

private:
    // What the present program was made for; a change of target rebuilds it.
    struct TargetFormat {
        int colorEncoding = 0;
        int redBits = 0;
        int alphaBits = 0;
        int samples = -1;
        int depthBits = 0;
        int stencilBits = 0;
        friend bool operator==(const TargetFormat&, const TargetFormat&) = default;
    };

    Renderer() = default;
    std::optional<Error> initialize();

    void uploadMesh(const Mesh& mesh, GLVertexArray& vao, GLBuffer& vbuf, GLBuffer& ibuf);
    void rebuildFloorGrid();
    // The uv3d program for these uniforms; 0 when it cannot be built.
    GLuint uv3dProgramFor(const ModelUniforms& uniforms, Error* error = nullptr);
    bool ensureOffscreenTargets(int widthPx, int heightPx);
    bool ensurePresentProgram(GLuint targetFramebuffer);
    void writeUniformSlot(int slot, const void* bytes, size_t size);
    void flushUniforms();
    void bindUniformSlot(unsigned int binding, int slot, size_t size);

    void drawFloorGrid();
    void drawVenues(const ModelUniforms& surface, const ModelUniforms& wireframe);
    struct ContentVenue;
    GLuint venueTexture(const ContentVenue& venue, GLuint sourceTexture);
    // The picture and window of each venue with content for this frame.
    void writeContentWindows(GLuint sourceTexture);
    void drawContentVenues(const ModelUniforms& uniforms);
    void drawModel(const ModelUniforms& uniforms, GLuint sourceTexture);
    void resizeUniformSlots(size_t slotCount);
    void setMergedVenues(std::vector<std::shared_ptr<const Mesh>> venues);
    void present(GLuint targetFramebuffer, int widthPx, int heightPx);

    // uv3d programs by ModelUniforms' mode, faceMode and hideInactive, built on first use.
    static constexpr int kUv3dVariantCount = 4 * 3 * 2;
    std::array<GLProgram, kUv3dVariantCount> uv3dPrograms_;
    GLProgram gridProgram_;
    GLProgram presentProgram_;
    std::optional<TargetFormat> presentFormat_;
    int presentProgramBuildCount_ = 0;
    uint64_t blitPresentCount_ = 0;

    std::shared_ptr<const Mesh> mesh_;
    GLVertexArray meshVao_;
    GLBuffer vbuf_;
    GLBuffer ibuf_;
    int indexCount_ = 0;

    std::vector<VenueDraw> venueDraws_;
    std::vector<std::shared_ptr<const Mesh>> venues_;  // the merged ones
    GLVertexArray venueVao_;
    GLBuffer venueVbuf_;
    GLBuffer venueIbuf_;
    int venueIndexCount_ = 0;

    struct VenueGeometry {
        std::shared_ptr<const Mesh> mesh;
        GLVertexArray vao;
        GLBuffer vbuf;
        GLBuffer ibuf;
        int indexCount = 0;
    };
    struct ContentVenue {
        std::shared_ptr<VenueGeometry> geometry;  // shared by venues on one mesh object
        VenueContentKind kind = VenueContentKind::none;
        CanvasRegion region;
        std::shared_ptr<TextureSource> source;
    };
    std::vector<ContentVenue> contentVenues_;
    // Own sources asked for their texture this frame, so a shared one is asked once.
    std::vector<std::pair<TextureSource*, GLuint>> frameTextures_;
    std::vector<GLuint> contentTextures_;  // what each venue with content samples this frame

    GLVertexArray gridVao_;
    GLBuffer gridVbuf_;
    int gridVertexCount_ = 0;

    GLVertexArray emptyVao_;  // core profile draws need a bound VAO even without attributes
    GLSampler sourceSampler_;
    GLTexture neutralTexture_;  // stands in when the source has no picture yet

    // Uniform blocks live in one buffer, one aligned slot per draw; the bytes of the
    // last upload are kept so an unchanged frame uploads nothing.
    GLBuffer uniformBuffer_;
    size_t uniformSlotStride_ = 256;
    std::vector<unsigned char> uniformBytes_;
    std::vector<unsigned char> uploadedUniformBytes_;

    Float3 fitMin_{0.0f, 0.0f, 0.0f};
    Float3 fitMax_{0.0f, 0.0f, 0.0f};
    float sceneRadius_ = 1.0f;
    float currentAspectRatio_ = 1.7777778f;
    ClipPlanes lastClipPlanes_;
    OrbitCamera fallbackCamera_;

    GLFramebuffer offscreenFramebuffer_;
    GLTexture captureTexture_;
    GLTexture captureDepthTexture_;
    int targetWidthPx_ = 0;
    int targetHeightPx_ = 0;

    std::shared_ptr<RenderCapture> capture_;
    uint64_t uploadCount_ = 0;
};

}  // namespace lumbrix

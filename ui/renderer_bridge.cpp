#include "ui/renderer_bridge.h"

#include <mutex>
#include <utility>

#include "capture/render_capture.h"
#include "render/renderer.h"

namespace lumbrix {

namespace {
constexpr float kDefaultAspectRatio = 1.7777778f;

// Captures whose movie was still being written when their view went. Never freed: the
// writer's worker may still be using them when the program ends, and their GL objects
// died with the view's context.
void keepUntilExit(std::shared_ptr<RenderCapture> capture) {
    static auto* kept = new std::vector<std::shared_ptr<RenderCapture>>();
    kept->push_back(std::move(capture));
}

}  // namespace

RendererBridge::RendererBridge(Renderer& renderer, ContextRunner runWithContext)
    : renderer_(&renderer), runWithContext_(std::move(runWithContext)), gate_(std::make_shared<AudioGate>()) {
    gate_->capture = renderer.sharedCapture();
}

RendererBridge::~RendererBridge() { detach(); }

void RendererBridge::detach() {
    std::shared_ptr<RenderCapture> released;
    {
        std::unique_lock lock(gate_->mutex);
        released = std::move(gate_->capture);
    }
    const bool recording = released && released->state() == RecordingState::recording;
    if (recording) {
        // Nobody asked for the stop (the view went first): ask now.
        gate_->unansweredStops.fetch_add(1);
        released->stopRecording(
            [gate = gate_](const std::variant<std::string, Error>&) { gate->unansweredStops.fetch_sub(1); });
    }
    if (released && (recording || gate_->unansweredStops.load() > 0)) {
        // Destroying the writer now would cut the movie short.
        keepUntilExit(std::move(released));
    }
    // Dropped here, on the GUI thread, outside the lock the sinks wait on.
    released.reset();
    renderer_ = nullptr;
}

bool RendererBridge::isCaptureBusy() const {
    if (gate_->unansweredStops.load() > 0) return true;
    std::shared_lock lock(gate_->mutex);
    return gate_->capture && gate_->capture->state() == RecordingState::recording;
}

void RendererBridge::setVenues(std::vector<VenueDraw> venues) {
    if (!renderer_) return;
    runWithContext_([&] { renderer_->setVenueDraws(std::move(venues)); });
}

std::optional<std::pair<int, int>> RendererBridge::sourcePictureSize() const {
    if (!renderer_ || !renderer_->textureSource) return std::nullopt;
    std::optional<std::pair<int, int>> size;
    runWithContext_([&] { size = textureSizePx(renderer_->textureSource->texture()); });
    return size;
}

float RendererBridge::currentAspectRatio() const {
    return renderer_ ? renderer_->currentAspectRatio() : kDefaultAspectRatio;
}

std::optional<Error> RendererBridge::saveScreenshot(const std::string& path) {
    if (!renderer_) return Error(RenderCapture::kErrorDomain, RenderCapture::noFrameYet, "No frame yet");
    std::optional<Error> result;
    runWithContext_([&] { result = renderer_->saveScreenshot(path); });
    return result;
}

std::optional<Error> RendererBridge::startRecording(const std::string& path, int fps, bool includeSourceAudio,
                                                    bool includeMicrophone) {
    if (!renderer_) {
        return Error(RenderCapture::kErrorDomain, RenderCapture::startWritingFailed, "Renderer not available");
    }
    std::optional<Error> result;
    runWithContext_([&] { result = renderer_->startRecording(path, fps, includeSourceAudio, includeMicrophone); });
    return result;
}

void RendererBridge::stopRecording(StopCompletion completion) {
    if (!renderer_) {
        completion(Error(RenderCapture::kErrorDomain, RenderCapture::noActiveRecording, "No active recording"));
        return;
    }
    gate_->unansweredStops.fetch_add(1);
    StopCompletion counted = [gate = gate_, completion = std::move(completion)](std::variant<std::string, Error> result) {
        gate->unansweredStops.fetch_sub(1);
        completion(std::move(result));
    };
    runWithContext_([&] { renderer_->capture().stopRecording(std::move(counted)); });
}

CaptureBridge::AudioSink RendererBridge::sourceAudioSink() {
    return [gate = gate_](const AudioSampleBuffer& buffer) {
        std::shared_lock lock(gate->mutex);
        if (gate->capture) gate->capture->appendSourceAudio(buffer);
    };
}

CaptureBridge::AudioSink RendererBridge::microphoneSink() {
    return [gate = gate_](const AudioSampleBuffer& buffer) {
        std::shared_lock lock(gate->mutex);
        if (gate->capture) gate->capture->appendMicrophone(buffer);
    };
}

}  // namespace lumbrix

#include "ui/renderer_bridge.h"

#include <mutex>
#include <utility>

#include "capture/render_capture.h"
#include "render/renderer.h"

namespace lumbrix {

namespace {
constexpr float kDefaultAspectRatio = 1.7777778f;
}

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
    // Dropped here, on the GUI thread, outside the lock the sinks wait on.
    released.reset();
    renderer_ = nullptr;
}

void RendererBridge::setVenues(std::vector<std::shared_ptr<const Mesh>> meshes) {
    if (!renderer_) return;
    runWithContext_([&] { renderer_->setVenues(std::move(meshes)); });
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
    runWithContext_([&] { renderer_->capture().stopRecording(std::move(completion)); });
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

#pragma once
#if !defined(LUMBRIX_INSIDE_UI) && !defined(LUMBRIX_TESTS)
#error "ui/renderer_bridge.h is internal to ui/"
#endif
// The renderer as the view model's capture bridge. The viewport owns both and detaches
// the bridge before the renderer goes; from then on every operation does nothing (or
// reports that there is no recording) and the audio sinks drop their buffers.
//
// The audio sinks run on audio worker threads and may be called after the viewport is
// gone. They never own the capture object: if a worker's reference were the last one,
// the capture's GL objects would be destroyed on a thread without the GL context. The
// bridge keeps its own reference instead and gives it up on the GUI thread, under a
// lock that keeps a sink from using the capture while it goes.
//
// A movie still being written when the bridge detaches is not cut short: its stop is
// requested and the capture object is kept, unreleased, until the program ends, so the
// writer finishes the file on its own thread (or leaves it as a crash would).
#include <atomic>
#include <functional>
#include <memory>
#include <shared_mutex>

#include "viewer/capture_bridge.h"

namespace lumbrix {

class Renderer;
class RenderCapture;

class RendererBridge final : public CaptureBridge {
public:
    // Runs `work` with the renderer's GL context current.
    using ContextRunner = std::function<void(const std::function<void()>& work)>;

    RendererBridge(Renderer& renderer, ContextRunner runWithContext);
    ~RendererBridge() override;
    RendererBridge(const RendererBridge&) = delete;
    RendererBridge& operator=(const RendererBridge&) = delete;

    // GUI thread, GL context current, before the renderer is destroyed.
    void detach();
    bool isAttached() const { return renderer_ != nullptr; }
    // A recording runs, or a stop asked through this bridge has not been answered yet.
    bool isCaptureBusy() const;

    void setVenues(std::vector<VenueDraw> venues) override;
    std::optional<std::pair<int, int>> sourcePictureSize() const override;
    float currentAspectRatio() const override;
    std::optional<Error> saveScreenshot(const std::string& path) override;
    std::optional<Error> startRecording(const std::string& path, int fps, bool includeSourceAudio,
                                        bool includeMicrophone) override;
    void stopRecording(StopCompletion completion) override;
    AudioSink sourceAudioSink() override;
    AudioSink microphoneSink() override;

private:
    struct AudioGate {
        std::shared_mutex mutex;  // guards capture: shared by sinks, exclusive to give it up
        std::shared_ptr<RenderCapture> capture;
        // Stops whose answer has not come yet; the answer comes on the writer's thread.
        std::atomic<int> unansweredStops{0};
    };

    Renderer* renderer_ = nullptr;
    ContextRunner runWithContext_;
    std::shared_ptr<AudioGate> gate_;
};

}  // namespace lumbrix

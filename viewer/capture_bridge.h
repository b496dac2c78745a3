#pragma once
// What the view model needs of the renderer, which the 3D view owns and which may not
// exist yet or any more: the view model holds it weakly.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "model/mesh.h"
#include "platform/error.h"
#include "platform/media/audio_sample_buffer.h"
#include "render/venue_content.h"

namespace lumbrix {

class CaptureBridge {
public:
    using AudioSink = std::function<void(const AudioSampleBuffer&)>;
    using StopCompletion = std::function<void(std::variant<std::string, Error>)>;

    virtual ~CaptureBridge() = default;

    // The visible venues with what each shows; those that show nothing are merged by the
    // renderer into one buffer pair.
    virtual void setVenues(std::vector<VenueDraw> venues) = 0;
    // Width and height in pixels of the current source's picture; none before it has one.
    virtual std::optional<std::pair<int, int>> sourcePictureSize() const { return std::nullopt; }
    // Width over height of the drawable.
    virtual float currentAspectRatio() const = 0;

    // The last frame drawn, as a PNG at `path`.
    virtual std::optional<Error> saveScreenshot(const std::string& path) = 0;
    // The view at its drawn size, `fps` frames a second, 12 Mbit/s.
    virtual std::optional<Error> startRecording(const std::string& path, int fps, bool includeSourceAudio,
                                                bool includeMicrophone) = 0;
    // The finished file's path or the error, on any thread, exactly once.
    virtual void stopRecording(StopCompletion completion) = 0;

    // Where the video file's sound and the microphone go while recording. The sinks are
    // called on audio worker threads and must stay safe to call after the renderer is
    // gone (they then drop the buffer).
    virtual AudioSink sourceAudioSink() = 0;
    virtual AudioSink microphoneSink() = 0;
};

}  // namespace lumbrix

#pragma once
// The sound a picture source plays, as a recording takes it: the view model records a
// source's sound through this without knowing which kind of source it is.
//
// Every call runs on the main thread; the tap's callback runs on the source's own
// audio worker.
#include <functional>

#include "platform/media/audio_sample_buffer.h"

namespace lumbrix {

class SourceSound {
public:
    // Without sound to play (no audio stream, no device) both do nothing.
    virtual void installRecordingTap(std::function<void(const AudioSampleBuffer&)> callback) = 0;
    virtual void removeRecordingTap() = 0;
    virtual void setRecordingGainDB(float gainDB) = 0;
    virtual float recordingGainDB() const = 0;
    // Called on the main thread with the recorded level in 0…1.
    virtual void setOnRecordingLevel(std::function<void(float)> onLevel) = 0;

protected:
    SourceSound() = default;
    ~SourceSound() = default;
    SourceSound(const SourceSound&) = default;
    SourceSound& operator=(const SourceSound&) = default;
};

}  // namespace lumbrix

#pragma once
#if !defined(LUMBRIX_INSIDE_SOURCES) && !defined(LUMBRIX_TESTS)
#error "sources/file_playback.h is internal to sources/"
#endif
// The playing half of a video file source: one demuxer thread, a video and an audio
// decoder thread, bounded queues with serial numbers between them, and the clock that
// decides which picture is due. Everything public runs on the main thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/audio_output.h"
#include "platform/expected.h"
#include "sources/packet_queue.h"

namespace lumbrix {

// One decoded picture, converted to RGBA rows, top row first.
struct DecodedPicture {
    int width = 0;
    int height = 0;
    double ptsSeconds = 0.0;
    int serial = 0;
    std::vector<uint8_t> rgba;
};

class FilePlayback {
public:
    // Fails with a line of text when the file cannot be read, has no video stream or
    // no decoder for it. Nothing runs yet.
    static Expected<std::unique_ptr<FilePlayback>, Error> open(const std::string& path);
    ~FilePlayback();
    FilePlayback(const FilePlayback&) = delete;
    FilePlayback& operator=(const FilePlayback&) = delete;

    bool hasAudioStream() const { return audioStream_ >= 0; }
    // Opens the playback device for the audio stream: its format as a line of text, or
    // the reason there is no sound. Call before start().
    Expected<std::string, Error> openSound();
    bool hasSound() const { return sound_ != nullptr; }
    AudioOutput* sound() { return sound_.get(); }
    int audioSampleRate() const;           // the file's
    int64_t audioLengthFrames() const;     // the file's sound, in its own frames

    // Starts the threads, paused or not.
    void start(bool paused);
    void setPaused(bool paused);
    bool isPaused() const { return paused_; }
    // Frame-exact: the next picture is the one showing at `seconds`.
    void seek(double seconds);
    // The playback clock: the sound's while it plays, else the wall clock.
    double clockSeconds() const;
    std::optional<double> durationSeconds() const { return duration_; }

    // The next picture due at the clock; one not shown yet is dropped for its successor
    // only when that one is half a frame late. `holdingUnshown`: the caller still holds
    // an earlier picture it has not shown, which the result would replace. After a seek
    // the first picture comes at once, due or not.
    std::optional<DecodedPicture> takeDuePicture(bool holdingUnshown);
    // Gives a picture's pixel memory back for reuse.
    void recycle(DecodedPicture&& picture);
    // The timeline of the current serial has shown its last picture and the clock has
    // passed its end. True once per serial.
    bool takeEnd();
    int serial() const { return serial_.load(); }

private:
    struct Stream;
    FilePlayback() = default;

    void demuxLoop();
    void videoLoop();
    void audioLoop();
    bool pushPicture(DecodedPicture&& picture);
    bool writeSound(const float* interleaved, size_t frames, int serial);
    double wallClock() const;
    bool soundDrivesClock() const;
    double seekTargetFor(int serial) const;

    std::string path_;
    std::unique_ptr<Stream> container_;
    int videoStream_ = -1;
    int audioStream_ = -1;
    std::optional<double> duration_;
    double frameDuration_ = 1.0 / 30.0;
    std::unique_ptr<AudioOutput> sound_;

    PacketQueue videoPackets_{96};
    PacketQueue audioPackets_{256};

    std::thread demuxer_;
    std::thread videoDecoder_;
    std::thread audioDecoder_;
    std::atomic<bool> aborting_{false};

    // The current timeline. The main thread bumps it on a seek; workers drop whatever
    // carries an older one.
    std::atomic<int> serial_{0};
    mutable std::mutex seekMutex_;  // guards seekPending_, seekTargets_
    std::condition_variable seekWake_;
    bool seekPending_ = false;
    std::deque<std::pair<int, double>> seekTargets_;  // serial → target, newest last

    mutable std::mutex pictureMutex_;  // guards pictures_, spare_
    std::condition_variable pictureSpace_;
    std::deque<DecodedPicture> pictures_;
    std::vector<std::vector<uint8_t>> spare_;
    static constexpr size_t kMaxPictures = 3;

    // Set by the decoders for the serial they finished or made ready.
    std::atomic<int> videoEndSerial_{-1};
    std::atomic<int> soundReadySerial_{-1};
    std::atomic<int> soundEndSerial_{-1};

    // Main-thread clock state.
    bool paused_ = true;
    mutable double baseSeconds_ = 0.0;        // the clock at the anchor (a seek's target for the sound)
    double pausedClockSeconds_ = 0.0;         // the clock while paused
    mutable int64_t anchorNs_ = 0;            // when the wall clock last started from base
    mutable bool wallAfterSound_ = false;     // the sound ran out: the wall clock took over
    bool prerolling_ = true;                  // the timeline's first picture has not been taken yet
    int shownSerial_ = -1;                    // serial of the last picture taken
    double lastPictureSeconds_ = 0.0;
    int endTakenSerial_ = -1;
};

}  // namespace lumbrix

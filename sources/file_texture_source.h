#pragma once
// A video file as the picture source, with its sound. One demuxer feeds a video and an
// audio decoder on worker threads; the sound goes to an SDL playback device and its
// clock decides which picture is due (the wall clock does when there is no sound).
// While a recording runs, a tap hands exactly what the device plays to the writer.
//
// The timeline moves on by itself: a tick on the main queue takes the picture that is
// due (which starts the sound after a prepare or a seek) and restarts a looping file at
// its end, whether or not anything draws the pictures (a hidden or minimised window).
//
// Threads: every public call runs on the main thread, except the recording callback,
// which runs on the "file.audio.tap" worker.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/gl/gl_object.h"
#include "platform/main_queue.h"
#include "platform/media/audio_sample_buffer.h"
#include "sources/source_sound.h"
#include "sources/texture_source.h"

namespace lumbrix {

class FilePlayback;
class AudioTap;
struct DecodedPicture;

class FileTextureSource final : public TextureSource,
                                public SourceSound,
                                public std::enable_shared_from_this<FileTextureSource> {
public:
    // How often the timeline is moved on when nothing asks for pictures: within a
    // frame at the rates people play, so pictures are not held back either.
    static constexpr std::chrono::milliseconds kTickInterval{15};

    // Stores the path; nothing is opened until prepare().
    // `playsSound` false: the pictures follow the wall clock and no sound device is
    // opened, for a file shown beside another whose sound is the one heard.
    static std::shared_ptr<FileTextureSource> create(std::string path, std::shared_ptr<MainQueue> mainQueue,
                                                     bool playsSound = true);
    // Why prepare() would not get pictures from `path`; none when its video opens.
    static std::optional<std::string> checkFile(const std::string& path);
    ~FileTextureSource() override;
    FileTextureSource(const FileTextureSource&) = delete;
    FileTextureSource& operator=(const FileTextureSource&) = delete;

    // Opens the file, sets up the sound and starts playing if `playing`.
    void prepare() override;

    void stop() override;
    void setPlaying(bool playing) override;
    void setLooping(bool looping) override;
    unsigned int texture() override;
    std::optional<double> durationSeconds() const override;
    std::optional<double> currentSeconds() const override;
    bool isSeekable() const override { return true; }
    // Frame-exact; a negative or non-number time means 0.
    void seek(double seconds) override;

    // Offered whether or not the file has an audio stream, so a recording of a file
    // always asks the writer for the source's sound.
    SourceSound* sound() override { return playsSound_ ? this : nullptr; }
    void installRecordingTap(std::function<void(const AudioSampleBuffer&)> callback) override;
    void removeRecordingTap() override;
    void setRecordingGainDB(float gainDB) override;
    float recordingGainDB() const override;
    void setOnRecordingLevel(std::function<void(float)> onLevel) override;
    double recordSampleRate() const;
    int64_t recordSamplesWritten() const;

    const std::string& path() const { return path_; }
    bool isPlaying() const { return playing_; }
    bool isLooping() const { return looping_; }
    bool hasSound() const;
    // Pictures uploaded so far (a new one each time a newer frame was due).
    uint64_t framesShown() const { return framesShown_; }
    // Presentation time of the picture in the texture; empty before the first.
    std::optional<double> shownFrameSeconds() const { return shownFrameSeconds_; }

private:
    FileTextureSource(std::string path, std::shared_ptr<MainQueue> mainQueue, bool playsSound);
    void startSound();
    void handleEnd();
    // The end of a looping file, then the picture due now, kept until it is drawn.
    void advance();
    void scheduleTick();

    std::string path_;
    std::shared_ptr<MainQueue> mainQueue_;
    bool playing_ = true;
    bool looping_ = true;
    bool stopped_ = false;
    bool playsSound_ = true;
    std::unique_ptr<FilePlayback> playback_;
    std::unique_ptr<AudioTap> tap_;
    std::unique_ptr<DecodedPicture> duePicture_;  // taken from the playback, not uploaded yet
    std::shared_ptr<std::atomic<float>> gainDB_;
    std::function<void(float)> onLevel_;
    GLTexture texture_;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    uint64_t framesShown_ = 0;
    std::optional<double> shownFrameSeconds_;
};

}  // namespace lumbrix

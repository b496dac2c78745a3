#include "sources/file_texture_source.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>

#include "platform/console_line.h"
#include "platform/regular_file.h"
#include "sources/audio_tap.h"
#include "sources/file_playback.h"
#include "sources/media_file.h"
#include "sources/picture_texture.h"

namespace lumbrix {

std::shared_ptr<FileTextureSource> FileTextureSource::create(std::string path, std::shared_ptr<MainQueue> mainQueue,
                                                             bool playsSound) {
    return std::shared_ptr<FileTextureSource>(new FileTextureSource(std::move(path), std::move(mainQueue), playsSound));
}

FileTextureSource::FileTextureSource(std::string path, std::shared_ptr<MainQueue> mainQueue, bool playsSound)
    : path_(std::move(path)),
      mainQueue_(std::move(mainQueue)),
      playsSound_(playsSound),
      gainDB_(std::make_shared<std::atomic<float>>(-8.0f)) {}

FileTextureSource::~FileTextureSource() {
    tap_.reset();
    duePicture_.reset();
    playback_.reset();
}

std::optional<std::string> FileTextureSource::checkFile(const std::string& path) {
    auto opened = MediaFile::open(path);
    if (!opened) return opened.error().description;
    return std::nullopt;
}

void FileTextureSource::prepare() {
    if (playback_ || stopped_) {
        return;
    }
    // Refused before FFmpeg opens it: opening a named pipe waits for a writer, on the GUI
    // thread.
    if (auto reason = regularFileReason(path_)) {
        printConsoleLine("FileTextureSource: Failed to setup audio playback: cannot open the file: " + *reason);
        return;
    }
    auto opened = FilePlayback::open(path_);
    if (!opened) {
        // No picture will come; the sound is reported as the one thing that was tried.
        printConsoleLine("FileTextureSource: Failed to setup audio playback: " + opened.error().description);
        return;
    }
    playback_ = std::move(opened.value());
    if (playsSound_) {
        auto sound = playback_->openSound();
        if (sound) {
            printConsoleLine("FileTextureSource: AVAudioEngine setup complete, format: " + sound.value());
        } else {
            printConsoleLine("FileTextureSource: Failed to setup audio playback: " + sound.error().description);
        }
    }
    playback_->start(true);
    if (playing_) {
        playback_->setPaused(false);
        startSound();
    }
    scheduleTick();
}

void FileTextureSource::scheduleTick() {
    if (!mainQueue_) {
        return;
    }
    mainQueue_->postDelayed(kTickInterval, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || self->stopped_ || !self->playback_) {
            return;
        }
        self->advance();
        self->scheduleTick();
    });
}

void FileTextureSource::advance() {
    if (!playback_) {
        return;
    }
    if (playback_->takeEnd()) {
        handleEnd();
    }
    if (duePicture_ && duePicture_->serial != playback_->serial()) {
        // Taken before a seek: the timeline it belongs to is gone.
        playback_->recycle(std::move(*duePicture_));
        duePicture_.reset();
    }
    // The decoder waits for room, and the sound for the timeline's first picture: taking
    // what is due keeps both going when nothing draws.
    std::optional<DecodedPicture> picture = playback_->takeDuePicture(duePicture_ != nullptr);
    if (!picture) {
        return;
    }
    if (duePicture_) {
        playback_->recycle(std::move(*duePicture_));
    }
    duePicture_ = std::make_unique<DecodedPicture>(std::move(*picture));
}

bool FileTextureSource::hasSound() const { return playback_ && playback_->hasSound(); }

// The frame of the file's sound where hearing starts: the clock's time at the file's
// rate, 0 for a time that is not a number.
void FileTextureSource::startSound() {
    if (!hasSound()) {
        return;
    }
    const double seconds = playback_->clockSeconds();
    int64_t frame = 0;
    if (std::isfinite(seconds)) {
        frame = static_cast<int64_t>(seconds * playback_->audioSampleRate());
        frame = std::clamp<int64_t>(frame, 0, std::max<int64_t>(playback_->audioLengthFrames(), 0));
    }
    printConsoleLine("FileTextureSource: Audio playback started at frame " + std::to_string(frame));
}

void FileTextureSource::setPlaying(bool playing) {
    const bool wasPlaying = playing_;
    playing_ = playing;
    if (!playback_) {
        return;
    }
    playback_->setPaused(!playing);
    if (playing && !wasPlaying) {
        startSound();
    }
}

void FileTextureSource::setLooping(bool looping) { looping_ = looping; }

void FileTextureSource::stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    if (hasSound()) {
        printConsoleLine("FileTextureSource: Audio playback stopped");
    }
    // The tap goes before the device it reads from; the last picture stays.
    tap_.reset();
    duePicture_.reset();
    playback_.reset();
}

void FileTextureSource::handleEnd() {
    // One place restarts the timeline, and only for a source that still plays: a stop
    // arriving with the end cannot queue the sound twice.
    if (looping_ && !stopped_ && playback_) {
        playback_->seek(0.0);
    }
}

unsigned int FileTextureSource::texture() {
    advance();
    if (!duePicture_) {
        return texture_.id();
    }
    const std::unique_ptr<DecodedPicture> picture = std::move(duePicture_);
    GLint previousTexture = 0;
    GLint previousUnpackBuffer = 0;
    GLint previousAlignment = 4;
    GLint previousRowLength = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
    glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &previousUnpackBuffer);
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previousAlignment);
    glGetIntegerv(GL_UNPACK_ROW_LENGTH, &previousRowLength);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    if (!texture_ || picture->width != textureWidth_ || picture->height != textureHeight_) {
        texture_ = GLTexture::generate();
        glBindTexture(GL_TEXTURE_2D, texture_.id());
        applyPictureSampling();
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, picture->width, picture->height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     picture->rgba.data());
        textureWidth_ = picture->width;
        textureHeight_ = picture->height;
    } else {
        glBindTexture(GL_TEXTURE_2D, texture_.id());
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, picture->width, picture->height, GL_RGBA, GL_UNSIGNED_BYTE,
                        picture->rgba.data());
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(previousUnpackBuffer));
    glPixelStorei(GL_UNPACK_ALIGNMENT, previousAlignment);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, previousRowLength);
    ++framesShown_;
    shownFrameSeconds_ = picture->ptsSeconds;
    playback_->recycle(std::move(*picture));
    return texture_.id();
}

std::optional<double> FileTextureSource::durationSeconds() const {
    return playback_ ? playback_->durationSeconds() : std::nullopt;
}

std::optional<double> FileTextureSource::currentSeconds() const {
    if (!playback_) {
        return std::nullopt;
    }
    double seconds = playback_->clockSeconds();
    if (!std::isfinite(seconds)) {
        return std::nullopt;
    }
    if (auto duration = playback_->durationSeconds()) {
        seconds = std::min(seconds, *duration);
    }
    return std::max(seconds, 0.0);
}

void FileTextureSource::seek(double seconds) {
    const double target = std::isnan(seconds) || seconds < 0.0 ? 0.0 : seconds;
    if (playback_) {
        playback_->seek(target);
    }
}

void FileTextureSource::installRecordingTap(std::function<void(const AudioSampleBuffer&)> callback) {
    if (!hasSound()) {
        return;
    }
    if (!tap_) {
        tap_ = std::make_unique<AudioTap>(
            *playback_->sound(),
            [queue = mainQueue_, weak = weak_from_this()](float level) {
                queue->post([weak, level] {
                    if (auto self = weak.lock(); self && self->onLevel_) {
                        self->onLevel_(level);
                    }
                });
            },
            gainDB_);
    }
    tap_->install(std::move(callback));
    printConsoleLine("FileTextureSource: Audio tap installed for recording");
}

void FileTextureSource::removeRecordingTap() {
    if (!hasSound()) {
        return;
    }
    if (tap_) {
        tap_->remove();
    }
    printConsoleLine("FileTextureSource: Audio tap removed");
}

void FileTextureSource::setRecordingGainDB(float gainDB) { gainDB_->store(gainDB); }
float FileTextureSource::recordingGainDB() const { return gainDB_->load(); }
void FileTextureSource::setOnRecordingLevel(std::function<void(float)> onLevel) { onLevel_ = std::move(onLevel); }

double FileTextureSource::recordSampleRate() const { return tap_ ? tap_->sampleRate() : 48000.0; }
int64_t FileTextureSource::recordSamplesWritten() const { return tap_ ? tap_->samplesWritten() : 0; }

}  // namespace lumbrix

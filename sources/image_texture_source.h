#pragma once
// A still picture from a local file (PNG, JPEG, or anything else FFmpeg's image
// decoders read) as a texture source.
//
// The file is decoded lazily, on the first `texture` call, because only then is the
// view's context current. A file that cannot be shown yet (missing, half written,
// corrupt) gives 0 and is tried again once it changes on disk, so saving a picture
// over the watched path brings it in without recreating the source.
#include <cstdint>
#include <optional>
#include <string>

#include "platform/gl/gl_object.h"
#include "platform/regular_file.h"
#include "sources/texture_source.h"

namespace lumbrix {

class ImageTextureSource final : public TextureSource {
public:
    // `path`: a local file path, UTF-8.
    explicit ImageTextureSource(std::string path);

    void stop() override;
    void setPlaying(bool playing) override;
    void setLooping(bool looping) override;

    unsigned int texture() override;

    std::optional<double> durationSeconds() const override;
    std::optional<double> currentSeconds() const override;
    bool isSeekable() const override;
    void seek(double seconds) override;

    const std::string& path() const { return path_; }
    // Kept so the view model reads back what it set; a still picture ignores both.
    bool isPlaying() const { return playing_; }
    bool isLooping() const { return looping_; }
    // How many times the file was actually opened and decoded; lets tests see that a
    // loaded picture is kept and an unchanged bad file is not read again.
    uint64_t decodeAttempts() const { return decodeAttempts_; }
    // Why the last `texture` call gave 0, for people ("No such file or directory",
    // "Not a regular file (a named pipe)", "the picture cannot be decoded", ...); empty
    // before the first call and once the picture is shown.
    const std::string& error() const { return error_; }

    // Why `path` would not show as a picture (as error() would say), without a GL
    // context; none when it decodes. For a new version of a file shown already, which
    // replaces the old one only when it is good.
    static std::optional<std::string> checkFile(const std::string& path);

private:
    std::string path_;
    bool playing_ = true;
    bool looping_ = true;
    GLTexture texture_;
    // The file as it was when a decode last failed; while it looks the same, decoding
    // again would only fail again and stall every frame.
    std::optional<FileVersion> failedFile_;
    uint64_t decodeAttempts_ = 0;
    std::string error_;
};

}  // namespace lumbrix

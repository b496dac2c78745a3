#include "sources/image_texture_source.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <string_view>
#include <utility>

#include "platform/media/ffmpeg_handles.h"
#include "platform/regular_file.h"
#include "sources/picture_texture.h"

namespace lumbrix {
namespace {

// Demuxers that read one picture file. Anything else libavformat might probe a file
// as (playlists, concat lists, containers) could make it open further files or
// decode a video, so those are refused rather than shown.
const std::string& pictureDemuxers() {
    static const std::string names = [] {
        static constexpr std::string_view kStandalone[] = {"image2", "gif", "apng", "ico", "alias_pix", "brender_pix"};
        std::string list;
        void* iterator = nullptr;
        while (const AVInputFormat* format = av_demuxer_iterate(&iterator)) {
            const std::string_view name = format->name;
            bool picture = name.ends_with("_pipe") && name != "image2pipe";
            for (std::string_view standalone : kStandalone) picture = picture || name == standalone;
            if (!picture) continue;
            if (!list.empty()) list += ',';
            list += name;
        }
        return list;
    }();
    return names;
}

// The yuvj formats are the old way of saying "full range"; swscale warns about them,
// so they become their plain counterparts with the range set explicitly.
AVPixelFormat withoutJpegAlias(AVPixelFormat format, bool& fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: fullRange = true; return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

bool sizeFits(int width, int height, int maxSide) {
    return width > 0 && height > 0 && width <= maxSide && height <= maxSide;
}

std::string ffmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// The first picture of the file as decoded, or null with `problem` saying why.
FramePtr decodeFirstPicture(const std::string& path, int maxSide, std::string& problem) {
    DictionaryOwner options;
    // Only local files: nothing a crafted file names may be fetched from elsewhere.
    if (av_dict_set(&options.dictionary, "protocol_whitelist", "file", 0) < 0 ||
        av_dict_set(&options.dictionary, "format_whitelist", pictureDemuxers().c_str(), 0) < 0 ||
        // image2 reads "%d" in a name as a sequence pattern; our path is one file.
        av_dict_set(&options.dictionary, "pattern_type", "none", 0) < 0) {
        problem = "out of memory";
        return nullptr;
    }
    // The prefix keeps a colon in the file name from being taken for a protocol.
    const std::string url = "file:" + path;
    AVFormatContext* opened = nullptr;
    if (const int error = avformat_open_input(&opened, url.c_str(), nullptr, &options.dictionary); error < 0) {
        problem = "not a picture: " + ffmpegErrorText(error);
        return nullptr;
    }
    FormatContextPtr format(opened);
    // Anything after this point that goes wrong is a picture that cannot be decoded.
    problem = "the picture cannot be decoded";

    const AVCodec* decoder = nullptr;
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || decoder == nullptr) return nullptr;
    const AVCodecParameters* parameters = format->streams[streamIndex]->codecpar;
    // Headers that already announce an oversized picture are turned away before any
    // pixel memory is allocated.
    if (parameters->width < 0 || parameters->height < 0 || parameters->width > maxSide ||
        parameters->height > maxSide) {
        problem = "the picture is larger than " + std::to_string(maxSide) + " pixels a side";
        return nullptr;
    }

    CodecContextPtr codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), parameters) < 0) return nullptr;
    // One picture gains nothing from frame threads, which would only hold it back.
    codec->thread_count = 1;
    codec->max_pixels = static_cast<int64_t>(maxSide) * maxSide;
    // A truncated or damaged file must fail rather than come out concealed: showing
    // the grey remains of a half-written JPEG would keep them, as a loaded picture is
    // never read again.
    codec->err_recognition |= AV_EF_EXPLODE;
    if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return nullptr;

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame) return nullptr;
    bool draining = false;
    // Some decoders want several packets before the first picture; the file's end
    // bounds the loop.
    for (;;) {
        const int received = avcodec_receive_frame(codec.get(), frame.get());
        if (received == 0) break;
        if (received != AVERROR(EAGAIN) || draining) return nullptr;
        const int read = av_read_frame(format.get(), packet.get());
        if (read == AVERROR_EOF) {
            draining = true;
            if (avcodec_send_packet(codec.get(), nullptr) < 0) return nullptr;
            continue;
        }
        if (read < 0) return nullptr;
        const int sent = packet->stream_index == streamIndex ? avcodec_send_packet(codec.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        if (sent < 0) return nullptr;
    }

    if (!sizeFits(frame->width, frame->height, maxSide) || frame->format < 0 || frame->decode_error_flags != 0 ||
        (frame->flags & AV_FRAME_FLAG_CORRUPT) != 0)
        return nullptr;
    problem.clear();
    return frame;
}

// `picture` as 8-bit BGRA with its values untouched apart from the YUV matrix.
FramePtr toBgra(const AVFrame& picture) {
    bool fullRange = picture.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat source = withoutJpegAlias(static_cast<AVPixelFormat>(picture.format), fullRange);
    if (!sws_isSupportedInput(source)) return nullptr;
    // Same size in and out: the filter only matters for upsampling subsampled chroma.
    ScaleContextPtr scale(sws_getContext(picture.width, picture.height, source, picture.width, picture.height,
                                         AV_PIX_FMT_BGRA, SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                         nullptr, nullptr, nullptr));
    if (!scale) return nullptr;

    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(source);
    const bool yuv = descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0 &&
                     descriptor->nb_components >= 3;
    if (yuv) {
        int* inverseTable = nullptr;
        int* table = nullptr;
        int sourceRange = 0;
        int destinationRange = 0;
        int brightness = 0;
        int contrast = 0;
        int saturation = 0;
        if (sws_getColorspaceDetails(scale.get(), &inverseTable, &sourceRange, &table, &destinationRange,
                                     &brightness, &contrast, &saturation) >= 0) {
            // Untagged and unknown matrices come back as BT.601, which is what JPEG means.
            const int matrix = static_cast<int>(picture.colorspace);
            const int* coefficients = sws_getCoefficients(matrix);
            if (sws_setColorspaceDetails(scale.get(), coefficients, fullRange ? 1 : 0, coefficients, 1, brightness,
                                         contrast, saturation) < 0)
                return nullptr;
        }
    }

    FramePtr bgra(av_frame_alloc());
    if (!bgra) return nullptr;
    bgra->format = AV_PIX_FMT_BGRA;
    bgra->width = picture.width;
    bgra->height = picture.height;
    if (av_frame_get_buffer(bgra.get(), 0) < 0) return nullptr;
    if (sws_scale(scale.get(), picture.data, picture.linesize, 0, picture.height, bgra->data, bgra->linesize) !=
        picture.height)
        return nullptr;
    return bgra;
}

// Puts back the texture binding and unpack state the rest of the frame relies on.
class UnpackStateGuard {
public:
    UnpackStateGuard() {
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture_);
        glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &unpackBuffer_);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment_);
        glGetIntegerv(GL_UNPACK_ROW_LENGTH, &rowLength_);
        glGetIntegerv(GL_UNPACK_SKIP_ROWS, &skipRows_);
        glGetIntegerv(GL_UNPACK_SKIP_PIXELS, &skipPixels_);
    }
    ~UnpackStateGuard() {
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture_));
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(unpackBuffer_));
        glPixelStorei(GL_UNPACK_ALIGNMENT, alignment_);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, rowLength_);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, skipRows_);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, skipPixels_);
    }
    UnpackStateGuard(const UnpackStateGuard&) = delete;
    UnpackStateGuard& operator=(const UnpackStateGuard&) = delete;

private:
    GLint texture_ = 0;
    GLint unpackBuffer_ = 0;
    GLint alignment_ = 4;
    GLint rowLength_ = 0;
    GLint skipRows_ = 0;
    GLint skipPixels_ = 0;
};

void discardPendingGLErrors() {
    // Bounded: a lost context may keep reporting.
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

GLTexture upload(const AVFrame& bgra) {
    const int rowPixels = bgra.linesize[0] / 4;
    if (bgra.linesize[0] % 4 != 0 || rowPixels < bgra.width) return {};

    // Errors left by earlier code would otherwise be blamed on this upload.
    discardPendingGLErrors();
    GLTexture texture = GLTexture::generate();
    {
        UnpackStateGuard restore;
        glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, rowPixels);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glBindTexture(GL_TEXTURE_2D, texture.id());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        applyPictureSampling();
        // FFmpeg's rows run top first, which is the order our textures keep.
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, bgra.width, bgra.height, 0, GL_BGRA, GL_UNSIGNED_BYTE,
                     bgra.data[0]);
    }
    if (!texture || glGetError() != GL_NO_ERROR) {
        discardPendingGLErrors();
        return {};
    }
    return texture;
}

GLTexture loadPicture(const std::string& path, std::string& problem) {
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    if (maxSide <= 0) {
        problem = "no OpenGL context to hold the picture";
        return {};
    }
    FramePtr decoded = decodeFirstPicture(path, maxSide, problem);
    if (!decoded) return {};
    FramePtr bgra = toBgra(*decoded);
    decoded.reset();  // the decoded planes are not needed while the upload runs
    if (!bgra) {
        problem = "the picture's pixel format cannot be converted";
        return {};
    }
    GLTexture texture = upload(*bgra);
    if (!texture) problem = "the picture could not be uploaded to the GPU";
    return texture;
}

}  // namespace

ImageTextureSource::ImageTextureSource(std::string path) : path_(std::move(path)) {}

std::optional<std::string> ImageTextureSource::checkFile(const std::string& path) {
    if (auto reason = regularFileReason(path)) return reason;
    // The largest texture any driver we meet offers; the upload checks the real limit.
    constexpr int kCheckMaxSide = 16384;
    std::string problem;
    try {
        FramePtr decoded = decodeFirstPicture(path, kCheckMaxSide, problem);
        if (!decoded) return problem;
        if (!toBgra(*decoded)) return std::string("the picture's pixel format cannot be converted");
    } catch (...) {
        return std::string("out of memory");
    }
    return std::nullopt;
}

void ImageTextureSource::stop() {}
void ImageTextureSource::setPlaying(bool playing) { playing_ = playing; }
void ImageTextureSource::setLooping(bool looping) { looping_ = looping; }

unsigned int ImageTextureSource::texture() {
    if (texture_) return texture_.id();

    struct stat info {};
    // A directory has nothing to decode, and a FIFO or device would block the view.
    if (::stat(path_.c_str(), &info) != 0) {
        error_ = std::strerror(errno);
        return 0;
    }
    if (auto reason = regularFileReason(info)) {
        error_ = std::move(*reason);
        return 0;
    }
    const FileVersion file = FileVersion::of(info);
    if (failedFile_ == file) return 0;

    // Identity is taken before decoding, so a write racing with the decode shows up
    // as a change next frame instead of being recorded as the failed version.
    ++decodeAttempts_;
    GLTexture loaded;
    try {
        if (info.st_size == 0) {
            error_ = "The file is empty";
        } else {
            loaded = loadPicture(path_, error_);
        }
    } catch (...) {
        // Out of memory building a string: the same as any other failed attempt.
        error_ = "out of memory";
    }
    if (!loaded) {
        failedFile_ = file;
        return 0;
    }
    failedFile_.reset();
    error_.clear();
    texture_ = std::move(loaded);
    return texture_.id();
}

std::optional<double> ImageTextureSource::durationSeconds() const { return std::nullopt; }
std::optional<double> ImageTextureSource::currentSeconds() const { return std::nullopt; }
bool ImageTextureSource::isSeekable() const { return false; }
void ImageTextureSource::seek(double) {}

}  // namespace lumbrix

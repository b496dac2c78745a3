#include "sources/media_file.h"

#include <cmath>

#include "platform/regular_file.h"

namespace lumbrix {

namespace {

std::string errorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

Unexpected<Error> failure(MediaFileStep step, std::string message) {
    return unexpected(Error(kMediaErrorDomain, static_cast<int>(step), std::move(message)));
}

bool sizeAllowed(const AVCodecParameters& parameters) {
    return parameters.width > 0 && parameters.height > 0 && parameters.width <= MediaFile::kMaxPictureSidePx &&
           parameters.height <= MediaFile::kMaxPictureSidePx;
}

}  // namespace

Expected<FormatContextPtr, Error> openMediaContainer(const std::string& path) {
    // FFmpeg's file protocol opens whatever is there and would wait for a pipe's writer.
    if (auto reason = regularFileReason(path)) {
        return failure(MediaFileStep::OpenFile, "cannot open the file: " + *reason);
    }
    DictionaryOwner options;
    // Local files only: nothing a crafted file names may be fetched from elsewhere.
    av_dict_set(&options.dictionary, "protocol_whitelist", "file", 0);
    // The prefix keeps a colon in the file name from being taken for a protocol.
    const std::string url = "file:" + path;
    AVFormatContext* opened = nullptr;
    if (const int error = avformat_open_input(&opened, url.c_str(), nullptr, &options.dictionary); error < 0) {
        return failure(MediaFileStep::OpenFile, "cannot open the file: " + errorText(error));
    }
    FormatContextPtr format(opened);
    if (const int error = avformat_find_stream_info(format.get(), nullptr); error < 0) {
        return failure(MediaFileStep::ReadStreams, "cannot read the file's streams: " + errorText(error));
    }
    return format;
}

Expected<MediaFile, Error> MediaFile::open(const std::string& path) {
    auto container = openMediaContainer(path);
    if (!container) {
        return unexpected(container.error());
    }
    MediaFile file;
    file.format = std::move(container.value());
    AVFormatContext* format = file.format.get();
    file.startTime = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;

    const AVCodec* videoCodec = nullptr;
    const int video = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &videoCodec, 0);
    // Cover art is a picture, not a video.
    if (video < 0 || (format->streams[video]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
        return failure(MediaFileStep::ChooseStreams, "no video stream");
    }
    if (videoCodec == nullptr) {
        return failure(MediaFileStep::ChooseStreams, "no decoder for the video stream");
    }
    AVStream* videoStream = format->streams[video];
    const AVCodecParameters* parameters = videoStream->codecpar;
    if (!sizeAllowed(*parameters)) {
        return failure(MediaFileStep::ChooseStreams, "unsupported picture size");
    }
    file.video.reset(avcodec_alloc_context3(videoCodec));
    if (!file.video || avcodec_parameters_to_context(file.video.get(), parameters) < 0) {
        return failure(MediaFileStep::ChooseStreams, "cannot set up the video decoder");
    }
    file.video->thread_count = 0;
    if (avcodec_open2(file.video.get(), videoCodec, nullptr) < 0) {
        return failure(MediaFileStep::ChooseStreams, "cannot open the video decoder");
    }
    file.videoStream = video;
    file.widthPx = parameters->width;
    file.heightPx = parameters->height;
    const AVRational rate = av_guess_frame_rate(format, videoStream, nullptr);
    if (rate.num > 0 && rate.den > 0) {
        file.frameSeconds = av_q2d(av_inv_q(rate));
    }

    // Sound is optional: a file whose sound cannot be decoded still plays its picture.
    const AVCodec* audioCodec = nullptr;
    const int audio = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, video, &audioCodec, 0);
    if (audio >= 0 && audioCodec != nullptr) {
        file.audioStream = audio;
        CodecContextPtr context(avcodec_alloc_context3(audioCodec));
        if (context && avcodec_parameters_to_context(context.get(), format->streams[audio]->codecpar) >= 0 &&
            avcodec_open2(context.get(), audioCodec, nullptr) >= 0) {
            file.audio = std::move(context);
        }
    }

    double duration = 0.0;
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        duration = static_cast<double>(format->duration) / AV_TIME_BASE;
    } else if (videoStream->duration != AV_NOPTS_VALUE && videoStream->duration > 0) {
        duration = static_cast<double>(videoStream->duration) * av_q2d(videoStream->time_base);
    }
    if (duration > 0.0 && std::isfinite(duration)) {
        file.durationSeconds = duration;
    }
    return file;
}

bool prepareRgbaConverter(ScaleContextPtr& scaler, const AVFrame& frame, int widthPx, int heightPx) {
    scaler.reset(sws_getCachedContext(scaler.release(), frame.width, frame.height,
                                      static_cast<AVPixelFormat>(frame.format), widthPx, heightPx, AV_PIX_FMT_RGBA,
                                      SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!scaler) {
        return false;
    }
    // Files that do not say are read the way players read them: HD as BT.709, SD as BT.601.
    const int space = frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709
                      : frame.colorspace == AVCOL_SPC_UNSPECIFIED && frame.height >= 720 ? SWS_CS_ITU709
                                                                                         : SWS_CS_ITU601;
    const int fullRange = frame.color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(space), fullRange, sws_getCoefficients(SWS_CS_ITU709),
                             1, 0, 1 << 16, 1 << 16);
    return true;
}

}  // namespace lumbrix

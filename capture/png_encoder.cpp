#include "capture/png_encoder.h"

#include <cstring>

extern "C" {
#include <libavutil/imgutils.h>
}

#include "platform/media/ffmpeg_handles.h"
#include "capture/render_capture.h"

namespace lumbrix {
namespace {

Unexpected<Error> failure(RenderCapture::ErrorCode code, const char* text) {
    return unexpected(Error(RenderCapture::kErrorDomain, code, text));
}

}  // namespace

Expected<std::vector<uint8_t>, Error> encodePng(const RgbaView& image) {
    constexpr const char* kContextFailed = "CGContext create failed";
    constexpr const char* kImageFailed = "CGImage create failed";
    constexpr const char* kEncodeFailed = "Image encode failed";

    // avcodec_open2 only warns about a size whose byte count would overflow and carries on
    // with 0 x 0, so the size is checked here, before anything reads the rows.
    if (image.topRow == nullptr || image.widthPx <= 0 || image.heightPx <= 0 ||
        av_image_check_size(static_cast<unsigned>(image.widthPx), static_cast<unsigned>(image.heightPx), 0, nullptr) < 0)
        return failure(RenderCapture::contextCreateFailed, kContextFailed);

    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) return failure(RenderCapture::contextCreateFailed, kContextFailed);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return failure(RenderCapture::contextCreateFailed, kContextFailed);
    context->width = image.widthPx;
    context->height = image.heightPx;
    context->pix_fmt = AV_PIX_FMT_RGBA;
    // A still picture has no frame rate, but the encoder refuses to open without a time base.
    context->time_base = AVRational{1, 1};
    // Frame threads would hold the one packet back until a drain; a single picture gains
    // nothing from them.
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return failure(RenderCapture::contextCreateFailed, kContextFailed);

    FramePtr frame(av_frame_alloc());
    if (!frame) return failure(RenderCapture::imageCreateFailed, kImageFailed);
    frame->format = AV_PIX_FMT_RGBA;
    frame->width = image.widthPx;
    frame->height = image.heightPx;
    if (av_frame_get_buffer(frame.get(), 0) < 0) return failure(RenderCapture::imageCreateFailed, kImageFailed);
    // FFmpeg pads its rows, so they are copied one by one rather than in one block.
    const size_t rowBytes = static_cast<size_t>(image.widthPx) * 4;
    for (int y = 0; y < image.heightPx; ++y) {
        std::memcpy(frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0],
                    image.topRow + static_cast<std::ptrdiff_t>(y) * image.rowStrideBytes, rowBytes);
    }

    PacketPtr packet(av_packet_alloc());
    if (!packet) return failure(RenderCapture::imageEncodeFailed, kEncodeFailed);
    if (avcodec_send_frame(context.get(), frame.get()) < 0)
        return failure(RenderCapture::imageEncodeFailed, kEncodeFailed);
    // Draining asks for whatever the encoder still holds, so no packet is left behind
    // even by an encoder that delays its output.
    if (avcodec_send_frame(context.get(), nullptr) < 0)
        return failure(RenderCapture::imageEncodeFailed, kEncodeFailed);
    if (avcodec_receive_packet(context.get(), packet.get()) < 0 || packet->size <= 0)
        return failure(RenderCapture::imageEncodeFailed, kEncodeFailed);
    return std::vector<uint8_t>(packet->data, packet->data + packet->size);
}

}  // namespace lumbrix

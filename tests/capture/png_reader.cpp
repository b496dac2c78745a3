#include "png_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/media/ffmpeg_handles.h"

namespace lumbrix::test {

Expected<RgbaImage, std::string> decodePng(const std::vector<uint8_t>& file) {
    static constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (file.size() < sizeof kSignature || std::memcmp(file.data(), kSignature, sizeof kSignature) != 0)
        return unexpected(std::string("no PNG signature"));

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) return unexpected(std::string("no PNG decoder"));
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context || avcodec_open2(context.get(), codec, nullptr) < 0)
        return unexpected(std::string("cannot open the PNG decoder"));

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame || av_new_packet(packet.get(), static_cast<int>(file.size())) < 0)
        return unexpected(std::string("out of memory"));
    std::memcpy(packet->data, file.data(), file.size());
    if (avcodec_send_packet(context.get(), packet.get()) < 0 || avcodec_send_packet(context.get(), nullptr) < 0 ||
        avcodec_receive_frame(context.get(), frame.get()) < 0)
        return unexpected(std::string("the PNG does not decode"));
    if (frame->format != AV_PIX_FMT_RGBA) {
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
        return unexpected(std::string("decoded as ") + (name ? name : "an unknown format") + ", not rgba");
    }

    RgbaImage image;
    image.widthPx = frame->width;
    image.heightPx = frame->height;
    const size_t rowBytes = static_cast<size_t>(frame->width) * 4;
    image.rgba.resize(rowBytes * static_cast<size_t>(frame->height));
    for (int y = 0; y < frame->height; ++y)
        std::memcpy(image.rgba.data() + rowBytes * y, frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0],
                    rowBytes);
    return image;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace lumbrix::test

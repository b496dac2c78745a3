#include "capture/fragment_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "platform/media/ffmpeg_handles.h"

namespace lumbrix {
namespace {

constexpr int kContextBufferBytes = 64 * 1024;

// write(2) until all is out; the system may take a large buffer in several goes.
bool writeAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t done = ::write(fd, data, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (done == 0) {
            errno = EIO;
            return false;
        }
        data += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

std::string ffmpegText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

Error conversionError(const std::string& what, int code) {
    if (code < 0 && code > -4096) return posixError(-code, what);
    return Error("MovieWriter", 5, what + ": " + ffmpegText(code));
}

struct OutputDeleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

}  // namespace

FragmentFile::~FragmentFile() { close(); }

std::optional<Error> FragmentFile::open(const std::string& path) {
    close();
    path_ = path;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) return posixError(errno, "Cannot create " + path);
    struct stat info {};
    regular_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kContextBufferBytes));
    if (buffer != nullptr)
        context_ = avio_alloc_context(buffer, kContextBufferBytes, 1, this, nullptr, &FragmentFile::collect, nullptr);
    if (context_ == nullptr) {
        av_free(buffer);
        close();
        return posixError(ENOMEM, "Cannot create " + path);
    }
    committed_ = 0;
    failure_.reset();
    pending_.clear();
    return std::nullopt;
}

int FragmentFile::collect(void* opaque, uint8_t* data, int size) {
    auto& file = *static_cast<FragmentFile*>(opaque);
    file.pending_.insert(file.pending_.end(), data, data + size);
    return size;
}

std::optional<Error> FragmentFile::commit() {
    if (failure_) return failure_;
    if (context_ == nullptr) return posixError(EBADF, "Cannot write " + path_);
    avio_flush(context_);
    if (pending_.empty()) return std::nullopt;
    if (!writeAll(fd_, pending_.data(), pending_.size())) {
        const int code = errno;
        // A fragment cut short would end the movie on bytes no player can read.
        if (regular_ && ::ftruncate(fd_, committed_) == 0) ::lseek(fd_, committed_, SEEK_SET);
        failure_ = posixError(code, "Cannot write " + path_);
        pending_.clear();
        return failure_;
    }
    committed_ += static_cast<int64_t>(pending_.size());
    pending_.clear();
    return std::nullopt;
}

void FragmentFile::close() {
    if (context_ != nullptr) {
        av_freep(&context_->buffer);
        avio_context_free(&context_);
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

std::optional<Error> convertToRegularMovie(const std::string& path) {
    // A link named as the movie stays a link; its target is what gets replaced.
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return posixError(errno, "Cannot finish " + path);
    const std::string target = resolved.get();
    const std::string::size_type slash = target.rfind('/');
    std::string temporary = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
    const int temporaryFd = ::mkstemp(temporary.data());
    if (temporaryFd < 0) return posixError(errno, "Cannot finish " + path);
    // mkstemp makes the file private; the movie keeps the permissions it was made with.
    struct stat original {};
    if (::stat(target.c_str(), &original) == 0) ::fchmod(temporaryFd, original.st_mode & 07777);
    ::close(temporaryFd);
    struct Cleanup {
        const std::string& name;
        bool keep = false;
        ~Cleanup() {
            if (!keep) ::unlink(name.c_str());
        }
    } cleanup{temporary};

    DictionaryOwner inputOptions;
    av_dict_set(&inputOptions.dictionary, "protocol_whitelist", "file", 0);
    AVFormatContext* opened = nullptr;
    const std::string inputUrl = "file:" + target;
    if (int result = avformat_open_input(&opened, inputUrl.c_str(), av_find_input_format("mov"), &inputOptions.dictionary);
        result < 0)
        return conversionError("Cannot read " + path, result);
    FormatContextPtr input(opened);

    AVFormatContext* made = nullptr;
    if (int result = avformat_alloc_output_context2(&made, nullptr, "mp4", temporary.c_str()); result < 0 || !made)
        return conversionError("Cannot finish " + path, result < 0 ? result : AVERROR_MUXER_NOT_FOUND);
    std::unique_ptr<AVFormatContext, OutputDeleter> output(made);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* from = input->streams[i];
        AVStream* to = avformat_new_stream(output.get(), nullptr);
        if (to == nullptr) return conversionError("Cannot finish " + path, AVERROR(ENOMEM));
        if (int result = avcodec_parameters_copy(to->codecpar, from->codecpar); result < 0)
            return conversionError("Cannot finish " + path, result);
        to->codecpar->codec_tag = 0;
        to->time_base = from->time_base;
        to->avg_frame_rate = from->avg_frame_rate;
    }
    DictionaryOwner outputOptions;
    av_dict_set(&outputOptions.dictionary, "protocol_whitelist", "file", 0);
    const std::string outputUrl = "file:" + temporary;
    if (int result = avio_open2(&output->pb, outputUrl.c_str(), AVIO_FLAG_WRITE, nullptr, &outputOptions.dictionary);
        result < 0)
        return conversionError("Cannot finish " + path, result);
    if (int result = avformat_write_header(output.get(), nullptr); result < 0)
        return conversionError("Cannot finish " + path, result);

    // A fragmented file's packets come back without trustworthy durations; each one's
    // is the step to the next packet of its track, and the last one's reaches the end
    // the track had.
    std::vector<PacketPtr> held(input->nb_streams);
    const auto release = [&](unsigned index, int64_t nextDts) -> int {
        PacketPtr& packet = held[index];
        if (!packet) return 0;
        const AVStream* from = input->streams[index];
        if (nextDts != AV_NOPTS_VALUE && packet->dts != AV_NOPTS_VALUE && nextDts > packet->dts) {
            packet->duration = nextDts - packet->dts;
        } else if (from->duration > 0 && packet->dts != AV_NOPTS_VALUE) {
            const int64_t start = from->start_time != AV_NOPTS_VALUE ? from->start_time : 0;
            if (start + from->duration > packet->dts) packet->duration = start + from->duration - packet->dts;
        }
        av_packet_rescale_ts(packet.get(), from->time_base, output->streams[index]->time_base);
        packet->pos = -1;
        const int result = av_interleaved_write_frame(output.get(), packet.get());
        packet.reset();
        return result;
    };
    for (;;) {
        PacketPtr packet(av_packet_alloc());
        if (!packet) return conversionError("Cannot finish " + path, AVERROR(ENOMEM));
        int result = av_read_frame(input.get(), packet.get());
        if (result == AVERROR_EOF) break;
        if (result < 0) return conversionError("Cannot read " + path, result);
        const unsigned index = static_cast<unsigned>(packet->stream_index);
        if (index >= output->nb_streams) continue;
        if (result = release(index, packet->dts); result < 0) return conversionError("Cannot finish " + path, result);
        held[index] = std::move(packet);
    }
    for (unsigned index = 0; index < held.size(); ++index)
        if (int result = release(index, AV_NOPTS_VALUE); result < 0) return conversionError("Cannot finish " + path, result);
    int result = av_write_trailer(output.get());
    if (result >= 0 && output->pb->error < 0) result = output->pb->error;
    if (result >= 0) result = avio_closep(&output->pb);
    if (result < 0) return conversionError("Cannot finish " + path, result);

    // The renamed file must hold its bytes even if the machine goes down right after.
    const int syncFd = ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    if (syncFd < 0 || ::fsync(syncFd) != 0) {
        const int code = errno;
        if (syncFd >= 0) ::close(syncFd);
        return posixError(code, "Cannot finish " + path);
    }
    ::close(syncFd);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return posixError(errno, "Cannot finish " + path);
    cleanup.keep = true;
    return std::nullopt;
}

}  // namespace lumbrix

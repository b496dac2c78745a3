#include "tests/fake_ndi/fake_ndi_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <set>
#include <string_view>

namespace lumbrix::fake_ndi {
namespace {

constexpr int kFirstPort = 5961;
// Handles are numbers, not addresses, so a stale one never aliases a newer object.
constexpr uintptr_t kHandleBase = 0x4e440000;

template <class T>
std::shared_ptr<T> lookUp(const std::map<void*, std::shared_ptr<T>>& handles, void* handle) {
    const auto found = handles.find(handle);
    return found != handles.end() ? found->second : nullptr;
}

void copyText(char* out, size_t size, const char* text) {
    if (size == 0) {
        return;
    }
    const size_t length = text != nullptr ? std::min(std::strlen(text), size - 1) : 0;
    if (length > 0) {
        std::memcpy(out, text, length);
    }
    out[length] = '\0';
}

int64_t hundredsOfNs(Clock::duration duration) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count() / 100;
}

}  // namespace

int FakeNdi::Receiver::outstanding() const {
    return static_cast<int>(std::count_if(pool.begin(), pool.end(), [](const auto& b) { return b->handedOut; }));
}

FakeNdi::FakeNdi() {
    readEnvironment();
}

void FakeNdi::readEnvironment() {
    const char* list = std::getenv("FAKE_NDI_SENDERS");
    applySenders(parseSenders(list != nullptr ? list : ""), true);
    const char* cap = std::getenv("FAKE_NDI_MAX_WAIT_MS");
    maxWaitMs_ = cap != nullptr && *cap != '\0' ? std::atoi(cap) : -1;
    const char* sendFor = std::getenv("FAKE_NDI_SEND_FOR_MS");
    sendForMs_ = sendFor != nullptr && *sendFor != '\0' ? std::atoi(sendFor) : -1;
}

// Called with the mutex held (or before anyone else can see this object).
void FakeNdi::applySenders(const ParsedSenders& parsed, bool fresh) {
    if (parsed.ignored > 0) {
        std::fprintf(stderr, "fake NDI runtime: ignored %d malformed or repeated sender entries\n", parsed.ignored);
    }
    const std::vector<Listed> before = listing();
    std::vector<Sender> previous = fresh ? std::vector<Sender>{} : std::move(senders_);
    std::vector<Sender> next(parsed.senders.size());
    std::vector<bool> kept(next.size(), false);
    std::set<int> ports;
    size_t unnamedSeen = 0;
    const auto now = Clock::now();
    for (size_t i = 0; i < next.size(); ++i) {
        const SenderFormat& format = parsed.senders[i];
        // Named senders stay by name; unnamed ones by their order among the unnamed.
        const size_t unnamedIndex = format.named ? 0 : unnamedSeen++;
        size_t unnamedCount = 0;
        const auto match = std::find_if(previous.begin(), previous.end(), [&](const Sender& old) {
            if (format.named || old.format.named) {
                return format.named && old.format.named && old.format.name == format.name;
            }
            return unnamedCount++ == unnamedIndex;
        });
        Sender& sender = next[i];
        if (match != previous.end()) {
            sender = *match;
            kept[i] = true;
            ports.insert(sender.port);
        }
        if (!kept[i] || sender.format != format) {
            sender.start = now;
            sender.generation = nextGeneration_++;
        }
        sender.format = format;
    }
    for (size_t i = 0; i < next.size(); ++i) {
        Sender& sender = next[i];
        if (!kept[i]) {
            sender.port = kFirstPort + static_cast<int>(i);
            while (!ports.insert(sender.port).second) {
                ++sender.port;
            }
            sender.url = "127.0.0.1:" + std::to_string(sender.port);
        }
        sender.tint = senderTint(sender.format.named ? sender.format.name : sender.url);
    }
    senders_ = std::move(next);
    if (listing() != before) {
        ++listVersion_;
    }
    changed_.notify_all();
}

std::vector<FakeNdi::Listed> FakeNdi::listing() const {
    std::vector<Listed> listed;
    listed.reserve(senders_.size());
    for (const Sender& sender : senders_) {
        listed.push_back({sender.format.named, sender.format.name, sender.url});
    }
    return listed;
}

void* FakeNdi::newHandle() {
    return reinterpret_cast<void*>(kHandleBase + 16 * ++nextHandle_);
}

void FakeNdi::violation(const std::string& what) {
    ++counters_.violations;
    lastViolation_ = what;
    std::fprintf(stderr, "fake NDI runtime: misuse: %s\n", what.c_str());
}

bool FakeNdi::initialize() {
    const std::lock_guard lock(mutex_);
    ++counters_.initialize;
    return !failInitialize_;
}

void FakeNdi::destroy() {
    const std::lock_guard lock(mutex_);
    ++counters_.destroy;
}

void* FakeNdi::createFinder(const NDIlib_find_create_t* settings) {
    const std::lock_guard lock(mutex_);
    ++counters_.findCreate;
    findSettings_ = std::make_unique<FakeNdiFindSettings>(FakeNdiFindSettings{
        settings == nullptr,
        settings == nullptr || settings->show_local_sources,
        settings == nullptr || settings->p_groups == nullptr,
        settings == nullptr || settings->p_extra_ips == nullptr,
        {},
    });
    if (settings != nullptr && settings->p_extra_ips != nullptr) {
        copyText(findSettings_->extra_ips, sizeof findSettings_->extra_ips, settings->p_extra_ips);
    }
    if (failFindCreate_) {
        return nullptr;
    }
    void* handle = newHandle();
    finders_.emplace(handle, std::make_shared<Finder>());
    return handle;
}

void FakeNdi::destroyFinder(void* handle) {
    if (handle == nullptr) {
        return;
    }
    std::unique_lock lock(mutex_);
    const auto finder = lookUp(finders_, handle);
    if (finder == nullptr) {
        violation("NDIlib_find_destroy on an unknown or already destroyed finder");
        return;
    }
    finders_.erase(handle);
    if (finder->waiting > 0) {
        violation("NDIlib_find_destroy while another thread waits on the finder");
    }
    finder->destroyed = true;
    changed_.notify_all();
}

bool FakeNdi::waitForSources(void* handle, uint32_t timeoutMs) {
    std::unique_lock lock(mutex_);
    ++counters_.findWait;
    lastFindWaitMs_ = timeoutMs;
    const auto finder = lookUp(finders_, handle);
    if (finder == nullptr) {
        violation("NDIlib_find_wait_for_sources on an unknown or destroyed finder");
        return false;
    }
    const uint32_t waitMs = maxWaitMs_ >= 0 ? std::min(timeoutMs, static_cast<uint32_t>(maxWaitMs_)) : timeoutMs;
    ++finder->waiting;
    const bool news = changed_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] {
        return finder->destroyed || finder->seenVersion != listVersion_;
    });
    --finder->waiting;
    return news && !finder->destroyed;
}

const NDIlib_source_t* FakeNdi::currentSources(void* handle, uint32_t* count) {
    const std::lock_guard lock(mutex_);
    ++counters_.getSources;
    const auto finder = lookUp(finders_, handle);
    if (finder == nullptr) {
        violation("NDIlib_find_get_current_sources on an unknown or destroyed finder");
        if (count != nullptr) {
            *count = 0;
        }
        return nullptr;
    }
    finder->seenVersion = listVersion_;
    // Filled completely before pointing into it: moving short strings would move their text.
    finder->listed = listing();
    finder->sources.clear();
    for (const Listed& listed : finder->listed) {
        NDIlib_source_t source{};
        source.p_ndi_name = listed.named ? listed.name.c_str() : nullptr;
        source.p_url_address = listed.url.c_str();
        finder->sources.push_back(source);
    }
    if (count != nullptr) {
        *count = static_cast<uint32_t>(finder->sources.size());
    }
    return finder->sources.empty() ? nullptr : finder->sources.data();
}

void* FakeNdi::createReceiver(const NDIlib_recv_create_v3_t* settings) {
    const std::lock_guard lock(mutex_);
    ++counters_.recvCreate;
    if (settings == nullptr) {
        violation("NDIlib_recv_create_v3 without settings");
        return nullptr;
    }
    const NDIlib_source_t& source = settings->source_to_connect_to;
    auto recorded = std::make_unique<FakeNdiRecvSettings>();
    recorded->color_format = settings->color_format;
    recorded->bandwidth = settings->bandwidth;
    recorded->allow_video_fields = settings->allow_video_fields;
    recorded->recv_name_null = settings->p_ndi_recv_name == nullptr;
    recorded->source_name_null = source.p_ndi_name == nullptr;
    recorded->source_url_null = source.p_url_address == nullptr;
    copyText(recorded->source_name, sizeof recorded->source_name, source.p_ndi_name);
    copyText(recorded->source_url, sizeof recorded->source_url, source.p_url_address);
    copyText(recorded->recv_name, sizeof recorded->recv_name, settings->p_ndi_recv_name);
    recvSettings_ = std::move(recorded);
    if (failRecvCreate_) {
        return nullptr;
    }
    auto receiver = std::make_shared<Receiver>();
    receiver->byUrl = source.p_ndi_name == nullptr;
    const char* key = receiver->byUrl ? source.p_url_address : source.p_ndi_name;
    receiver->key = key != nullptr ? key : "";
    void* handle = newHandle();
    receivers_.emplace(handle, std::move(receiver));
    return handle;
}

void FakeNdi::destroyReceiver(void* handle) {
    if (handle == nullptr) {
        return;
    }
    std::unique_lock lock(mutex_);
    auto receiver = lookUp(receivers_, handle);
    if (receiver == nullptr) {
        violation("NDIlib_recv_destroy on an unknown or already destroyed receiver");
        return;
    }
    receivers_.erase(handle);
    if (receiver->capturing > 0) {
        violation("NDIlib_recv_destroy while another thread is inside NDIlib_recv_capture_v2 on it");
    }
    if (const int outstanding = receiver->outstanding(); outstanding > 0) {
        violation("NDIlib_recv_destroy with " + std::to_string(outstanding) + " video frames not freed");
    }
    if (!receiver->audioOut.empty()) {
        violation("NDIlib_recv_destroy with " + std::to_string(receiver->audioOut.size()) +
                  " audio frames not freed");
    }
    receiver->destroyed = true;
    changed_.notify_all();
    lock.unlock();
    receiver.reset();  // a 4K pool is worth freeing outside the lock
}

const FakeNdi::Sender* FakeNdi::senderFor(const Receiver& receiver) const {
    for (const Sender& sender : senders_) {
        if (receiver.byUrl ? sender.url == receiver.key : sender.format.named && sender.format.name == receiver.key) {
            return &sender;
        }
    }
    return nullptr;
}

bool FakeNdi::awaitFrame(std::unique_lock<std::mutex>& lock, Receiver& receiver, uint32_t timeoutMs, bool wantVideo,
                         bool wantAudio, Frame& frame) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (receiver.destroyed) {
            return false;
        }
        const auto now = Clock::now();
        auto wakeAt = deadline;
        const Sender* sender = senderFor(receiver);
        if (sender != nullptr && !sender->stopped) {
            const double fps = sender->format.fps;
            if (receiver.generation != sender->generation) {
                receiver.generation = sender->generation;
                receiver.lastFrame = -1;
                receiver.audioStarted = false;
            }
            int64_t newest = newestFrameBy(sender->start, fps, now);
            int64_t last = std::numeric_limits<int64_t>::max();
            if (sendForMs_ >= 0) {
                // Frames sent before start + sendFor, the instant itself excluded.
                const auto end = sender->start + std::chrono::milliseconds(sendForMs_);
                last = sendForMs_ == 0 ? -1 : newestFrameBy(sender->start, fps, end - std::chrono::nanoseconds(1));
                newest = std::min(newest, last);
            }
            frame = {NDIlib_frame_type_none, sender->format.toneHz, 0, {}, sender->start, sender->format.width,
                     sender->format.height, fps, sender->tint};
            // A receiver that fell behind gets the newest frame; the ones between are lost.
            if (wantVideo && newest > receiver.lastFrame) {
                if (receiver.lastFrame >= 0) {
                    receiver.dropped.video_frames += newest - receiver.lastFrame - 1;
                    receiver.total.video_frames += newest - receiver.lastFrame - 1;
                }
                receiver.lastFrame = newest;
                frame.type = NDIlib_frame_type_video;
                frame.number = newest;
                frame.sent = frameSendTime(sender->start, fps, newest);
                return true;
            }
            // Sound is queued, not skipped, up to about a second of it.
            const bool sounding = wantAudio && sender->format.toneHz > 0;
            if (sounding && newest >= 0) {
                if (!receiver.audioStarted) {
                    receiver.audioStarted = true;
                    receiver.lastAudio = newest - 1;
                }
                const int64_t backlog = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(fps)));
                if (newest - receiver.lastAudio > backlog) {
                    const int64_t lost = newest - receiver.lastAudio - backlog;
                    receiver.dropped.audio_frames += lost;
                    receiver.total.audio_frames += lost;
                    receiver.lastAudio += lost;
                }
                if (newest > receiver.lastAudio) {
                    frame.type = NDIlib_frame_type_audio;
                    frame.number = ++receiver.lastAudio;
                    frame.sent = frameSendTime(sender->start, fps, frame.number);
                    return true;
                }
            }
            // The next frame of a kind asked for, if any is still to come.
            const int64_t waitedFor = wantVideo && sounding ? std::min(receiver.lastFrame, receiver.lastAudio)
                                      : wantVideo           ? receiver.lastFrame
                                      : sounding            ? receiver.lastAudio
                                                            : last;
            if (waitedFor < last) {
                wakeAt = std::min(deadline, frameSendTime(sender->start, fps, waitedFor + 1));
            }
        }
        if (now >= deadline) {
            return false;
        }
        changed_.wait_until(lock, wakeAt);
    }
}

FakeNdi::Buffer* FakeNdi::reserveBuffer(Receiver& receiver, const Frame& frame) {
    const int phase = static_cast<int>(frame.number % kPatternPhases);
    auto& pool = receiver.pool;
    // Pictures of an earlier format are of no more use once free.
    std::erase_if(pool, [&](const std::unique_ptr<Buffer>& buffer) {
        return !buffer->handedOut && (buffer->width != frame.width || buffer->height != frame.height ||
                                      buffer->tint != frame.tint);
    });
    for (auto& buffer : pool) {
        if (!buffer->handedOut && buffer->phase == phase) {
            buffer->handedOut = true;
            return buffer.get();
        }
    }
    pool.push_back(std::make_unique<Buffer>(Buffer{nullptr, frame.width, frame.height, frame.tint, phase, true}));
    return pool.back().get();
}

NDIlib_frame_type_e FakeNdi::capture(void* handle, NDIlib_video_frame_v2_t* video, NDIlib_audio_frame_v2_t* audioV2,
                                     NDIlib_audio_frame_v3_t* audioV3, uint32_t timeoutMs) {
    if (video != nullptr) {
        *video = NDIlib_video_frame_v2_t{};
    }
    if (audioV2 != nullptr) {
        *audioV2 = NDIlib_audio_frame_v2_t{};
    }
    if (audioV3 != nullptr) {
        *audioV3 = NDIlib_audio_frame_v3_t{};
    }
    std::unique_lock lock(mutex_);
    ++counters_.captures;
    lastCaptureMs_ = timeoutMs;
    const auto receiver = lookUp(receivers_, handle);
    if (receiver == nullptr) {
        violation("NDIlib_recv_capture_v2 on an unknown or destroyed receiver");
        return NDIlib_frame_type_none;
    }
    const bool wantAudio = audioV2 != nullptr || audioV3 != nullptr;
    if (video == nullptr && !wantAudio) {
        return NDIlib_frame_type_none;
    }
    ++receiver->capturing;
    Frame frame;
    if (!awaitFrame(lock, *receiver, timeoutMs, video != nullptr, wantAudio, frame)) {
        --receiver->capturing;
        return NDIlib_frame_type_none;
    }
    if (frame.type == NDIlib_frame_type_audio) {
        --receiver->capturing;
        return handOutAudio(*receiver, frame, audioV2, audioV3);
    }
    Buffer* buffer = reserveBuffer(*receiver, frame);
    const size_t stride = static_cast<size_t>(frame.width) * 4;
    PixelBytes rendered;
    if (buffer->pixels == nullptr) {
        // Rendering is the one slow step; the buffer is reserved, so nobody else touches it.
        lock.unlock();
        rendered = allocatePixels(stride * static_cast<size_t>(frame.height));
        renderPattern(rendered.get(), frame.width, frame.height, frame.tint, buffer->phase);
        lock.lock();
        buffer->pixels = std::move(rendered);
    }
    --receiver->capturing;
    if (receiver->destroyed) {
        return NDIlib_frame_type_none;  // the pool goes with the receiver
    }
    ++counters_.videoFrames;
    ++receiver->total.video_frames;
    uint8_t* pixels = buffer->pixels.get();
    lock.unlock();

    const auto sentNs = std::chrono::duration_cast<std::chrono::nanoseconds>(frame.sent.time_since_epoch());
    fakeNdiStampFirstRow(pixels, static_cast<uint32_t>(frame.number), sentNs.count());
    video->xres = frame.width;
    video->yres = frame.height;
    video->FourCC = NDIlib_FourCC_video_type_BGRA;
    video->frame_rate_N = static_cast<int>(std::lround(frame.fps * 1000));
    video->frame_rate_D = 1000;
    video->picture_aspect_ratio = 0;
    video->frame_format_type = NDIlib_frame_format_type_progressive;
    video->timecode = hundredsOfNs(frame.sent - frame.senderStart);
    video->p_data = pixels;
    video->line_stride_in_bytes = static_cast<int>(stride);
    video->p_metadata = nullptr;
    video->timestamp = hundredsOfNs(frame.sent.time_since_epoch());
    return NDIlib_frame_type_video;
}

// Called with the mutex held.
NDIlib_frame_type_e FakeNdi::handOutAudio(Receiver& receiver, const Frame& frame, NDIlib_audio_frame_v2_t* audioV2,
                                          NDIlib_audio_frame_v3_t* audioV3) {
    const int64_t first = audioFrameStart(frame.fps, frame.number);
    const int samples = static_cast<int>(audioFrameStart(frame.fps, frame.number + 1) - first);
    AudioOut out{std::make_unique<float[]>(static_cast<size_t>(samples) * kAudioChannels), audioV3 != nullptr ? 3 : 2};
    renderTone(out.samples.get(), samples, frame.toneHz, first, samples);
    float* data = out.samples.get();
    receiver.audioOut.emplace(data, std::move(out));
    ++counters_.audioFrames;
    ++receiver.total.audio_frames;
    const int64_t timecode = first * 10'000'000 / kAudioRate;
    const int64_t timestamp = hundredsOfNs(frame.sent.time_since_epoch());
    const int stride = samples * static_cast<int>(sizeof(float));
    if (audioV3 != nullptr) {
        audioV3->sample_rate = kAudioRate;
        audioV3->no_channels = kAudioChannels;
        audioV3->no_samples = samples;
        audioV3->timecode = timecode;
        audioV3->FourCC = NDIlib_FourCC_audio_type_FLTP;
        audioV3->p_data = reinterpret_cast<uint8_t*>(data);
        audioV3->channel_stride_in_bytes = stride;
        audioV3->timestamp = timestamp;
    } else {
        audioV2->sample_rate = kAudioRate;
        audioV2->no_channels = kAudioChannels;
        audioV2->no_samples = samples;
        audioV2->timecode = timecode;
        audioV2->p_data = data;
        audioV2->channel_stride_in_bytes = stride;
        audioV2->timestamp = timestamp;
    }
    return NDIlib_frame_type_audio;
}

void FakeNdi::freeAudio(void* handle, const void* data, int version) {
    const std::lock_guard lock(mutex_);
    ++counters_.audioFrees;
    const std::string call = "NDIlib_recv_free_audio_v" + std::to_string(version);
    const auto receiver = lookUp(receivers_, handle);
    if (receiver == nullptr) {
        violation(call + " on an unknown or destroyed receiver");
        return;
    }
    if (data == nullptr) {
        return;
    }
    const auto found = receiver->audioOut.find(data);
    if (found == receiver->audioOut.end()) {
        violation(call + " of an audio frame this receiver did not hand out, or freed twice");
        return;
    }
    if (found->second.version != version) {
        violation(call + " of an audio frame captured with NDIlib_recv_capture_v" +
                  std::to_string(found->second.version));
    }
    receiver->audioOut.erase(found);
}

void FakeNdi::performance(void* handle, NDIlib_recv_performance_t* total, NDIlib_recv_performance_t* dropped) {
    const std::lock_guard lock(mutex_);
    const auto receiver = lookUp(receivers_, handle);
    if (receiver == nullptr) {
        violation("NDIlib_recv_get_performance on an unknown or destroyed receiver");
        return;
    }
    if (total != nullptr) {
        *total = recvCounts_ != nullptr ? recvCounts_->total : receiver->total;
    }
    if (dropped != nullptr) {
        *dropped = recvCounts_ != nullptr ? recvCounts_->dropped : receiver->dropped;
    }
}

void FakeNdi::queue(void* handle, NDIlib_recv_queue_t* total) {
    const std::lock_guard lock(mutex_);
    if (lookUp(receivers_, handle) == nullptr) {
        violation("NDIlib_recv_get_queue on an unknown or destroyed receiver");
        return;
    }
    if (total != nullptr) {
        *total = recvCounts_ != nullptr ? recvCounts_->queue : NDIlib_recv_queue_t{};
    }
}

void FakeNdi::setRecvCounts(const FakeNdiRecvCounts* counts) {
    const std::lock_guard lock(mutex_);
    recvCounts_ = counts != nullptr ? std::make_unique<FakeNdiRecvCounts>(*counts) : nullptr;
}

void FakeNdi::freeVideo(void* handle, const NDIlib_video_frame_v2_t* video) {
    const std::lock_guard lock(mutex_);
    ++counters_.frees;
    const auto receiver = lookUp(receivers_, handle);
    if (receiver == nullptr) {
        violation("NDIlib_recv_free_video_v2 on an unknown or destroyed receiver");
        return;
    }
    if (video == nullptr || video->p_data == nullptr) {
        return;  // nothing was handed out in it
    }
    for (auto& buffer : receiver->pool) {
        if (buffer->handedOut && buffer->pixels.get() == video->p_data) {
            buffer->handedOut = false;
            return;
        }
    }
    violation("NDIlib_recv_free_video_v2 of a frame this receiver did not hand out, or freed twice");
}

int FakeNdi::setSenders(const char* list) {
    const std::lock_guard lock(mutex_);
    applySenders(parseSenders(list != nullptr ? list : ""), false);
    return static_cast<int>(senders_.size());
}

int FakeNdi::setStopped(const char* nameOrUrl, bool stopped) {
    const std::lock_guard lock(mutex_);
    const std::string_view wanted = nameOrUrl != nullptr ? nameOrUrl : "";
    int matched = 0;
    for (Sender& sender : senders_) {
        if ((sender.format.named && sender.format.name == wanted) || sender.url == wanted) {
            sender.stopped = stopped;
            ++matched;
        }
    }
    changed_.notify_all();
    return matched;
}

int FakeNdi::setFailure(const char* call, bool fail) {
    const std::lock_guard lock(mutex_);
    const std::string_view name = call != nullptr ? call : "";
    bool* flag = name == "initialize"    ? &failInitialize_
                 : name == "find_create" ? &failFindCreate_
                 : name == "recv_create" ? &failRecvCreate_
                                         : nullptr;
    if (flag == nullptr) {
        return 0;
    }
    *flag = fail;
    return 1;
}

void FakeNdi::setMaxWaitMs(int ms) {
    const std::lock_guard lock(mutex_);
    maxWaitMs_ = ms;
}

void FakeNdi::reset() {
    const std::lock_guard lock(mutex_);
    readEnvironment();
    failInitialize_ = failFindCreate_ = failRecvCreate_ = false;
    counters_ = {};
    lastFindWaitMs_ = lastCaptureMs_ = 0;
    findSettings_.reset();
    recvSettings_.reset();
    recvCounts_.reset();
    lastViolation_.clear();
}

long long FakeNdi::counter(const char* name) {
    const std::lock_guard lock(mutex_);
    const std::string_view wanted = name != nullptr ? name : "";
    const std::pair<std::string_view, long long Counters::*> counted[] = {
        {"initialize", &Counters::initialize},      {"destroy", &Counters::destroy},
        {"find_create_calls", &Counters::findCreate}, {"find_wait_calls", &Counters::findWait},
        {"get_sources_calls", &Counters::getSources}, {"recv_create_calls", &Counters::recvCreate},
        {"captures", &Counters::captures},          {"video_frames", &Counters::videoFrames},
        {"frees", &Counters::frees},                {"violations", &Counters::violations},
        {"audio_frames", &Counters::audioFrames},   {"audio_frees", &Counters::audioFrees},
    };
    for (const auto& [counterName, member] : counted) {
        if (counterName == wanted) {
            return counters_.*member;
        }
    }
    if (wanted == "finders_live") {
        return static_cast<long long>(finders_.size());
    }
    if (wanted == "receivers_live") {
        return static_cast<long long>(receivers_.size());
    }
    if (wanted == "senders_listed") {
        return static_cast<long long>(senders_.size());
    }
    if (wanted == "audio_outstanding") {
        long long outstanding = 0;
        for (const auto& entry : receivers_) {
            outstanding += static_cast<long long>(entry.second->audioOut.size());
        }
        return outstanding;
    }
    if (wanted == "frames_outstanding") {
        long long outstanding = 0;
        for (const auto& entry : receivers_) {
            outstanding += entry.second->outstanding();
        }
        return outstanding;
    }
    return -1;
}

unsigned FakeNdi::lastTimeout(const char* call) {
    const std::lock_guard lock(mutex_);
    const std::string_view name = call != nullptr ? call : "";
    return name == "find_wait" ? lastFindWaitMs_ : name == "capture" ? lastCaptureMs_ : 0;
}

bool FakeNdi::lastFindSettings(FakeNdiFindSettings* out) {
    const std::lock_guard lock(mutex_);
    if (findSettings_ != nullptr && out != nullptr) {
        *out = *findSettings_;
    }
    return findSettings_ != nullptr;
}

bool FakeNdi::lastRecvSettings(FakeNdiRecvSettings* out) {
    const std::lock_guard lock(mutex_);
    if (recvSettings_ != nullptr && out != nullptr) {
        *out = *recvSettings_;
    }
    return recvSettings_ != nullptr;
}

size_t FakeNdi::lastViolation(char* buffer, size_t size) {
    const std::lock_guard lock(mutex_);
    if (buffer != nullptr) {
        copyText(buffer, size, lastViolation_.c_str());
    }
    return lastViolation_.size();
}

}  // namespace lumbrix::fake_ndi

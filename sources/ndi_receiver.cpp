#include "sources/ndi_receiver.h"

#include "platform/console_line.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>

namespace lumbrix {

struct NDIReceiver::Shared {
    std::shared_ptr<MainQueue> mainQueue;
    std::weak_ptr<NDIReceiver> owner;  // published fields are reached only through this
    NDIReceiverOptions options;        // fixed at creation

    // Set on the main thread while no worker runs; read-only for the workers.
    std::shared_ptr<const NDIRuntime> runtime;

    // Created and destroyed on the main thread only while the discovery worker is
    // stopped; read by the worker.
    std::atomic<NDIlib_find_instance_t> finder{nullptr};
    // When the current finder began its search; written with the finder.
    std::chrono::steady_clock::time_point searchStarted;
    // The finder's source array stays valid only until the next get_current_sources
    // call, and the worker and connect() both make that call: whoever reads the array
    // holds this from the call until its last use of the array.
    std::mutex sourceListMutex;

    // The capture loop goes on while `running` and while `receiver` is still its own
    // handle. Whoever clears `running` joins the loop before destroying the handle.
    std::atomic<bool> running{false};
    std::atomic<NDIlib_recv_instance_t> receiver{nullptr};

    mutable std::mutex frameLock;  // guards latestFrame
    std::optional<VideoFrame> latestFrame;

    // Guards soundListeners, nextListener; held while the capture loop calls listeners.
    std::mutex soundLock;
    std::vector<std::pair<int, SoundListener>> soundListeners;
    int nextListener = 1;

    std::mutex discoveryMutex;  // guards discoveryStop, refreshRequested
    std::condition_variable discoveryWake;
    bool discoveryStop = false;
    bool refreshRequested = false;

    void post(std::function<void(NDIReceiver&)> change) {
        mainQueue->post([weak = owner, change = std::move(change)] {
            if (auto self = weak.lock()) {
                change(*self);
                self->notifyChanged();
            }
        });
    }

    // Whether an empty list has lasted long enough to be explained, and how. Looking for
    // avahi's socket touches the file system, so it goes with the refresh, which already
    // waits on the network off the GUI's path.
    NDINoSendersHint hintFor(bool noNames) const {
        if (!noNames || std::chrono::steady_clock::now() - searchStarted < options.quietDelay) {
            return NDINoSendersHint::none;
        }
        std::error_code ignored;
        return std::filesystem::exists(options.avahiSocketPath, ignored) ? NDINoSendersHint::mdnsRunning
                                                                          : NDINoSendersHint::mdnsMissing;
    }

    void refresh() {
        const NDIlib_find_instance_t currentFinder = finder.load();
        if (currentFinder == nullptr) {
            return;
        }
        const NDIRuntimeFunctions& api = runtime->api();
        api.findWaitForSources(currentFinder, kRefreshWaitMs);
        std::vector<std::string> names;
        std::vector<int> positions;
        uint32_t count = 0;
        bool listed = false;
        {
            std::lock_guard lock(sourceListMutex);
            const NDIlib_source_t* list = api.findGetCurrentSources(currentFinder, &count);
            listed = list != nullptr;
            for (uint32_t i = 0; listed && i < count; ++i) {
                if (list[i].p_ndi_name != nullptr) {
                    names.emplace_back(list[i].p_ndi_name);
                    positions.push_back(static_cast<int>(i));
                }
            }
        }
        const NDINoSendersHint hint = hintFor(names.empty());
        if (!listed) {
            post([hint](NDIReceiver& self) {
                self.sources_.clear();
                self.sourcePositions_.clear();
                self.selectedIndex_ = -1;
                self.noSendersHint_ = hint;
            });
            return;
        }
        // The selection is an index into the runtime's list, null names included, so
        // it is checked against that count rather than the names kept.
        post([names = std::move(names), positions = std::move(positions), count, hint](NDIReceiver& self) {
            self.sources_ = names;
            self.sourcePositions_ = positions;
            self.noSendersHint_ = hint;
            if (count == 0 || self.selectedIndex_ >= static_cast<int64_t>(count)) {
                self.selectedIndex_ = -1;
            }
        });
    }

    // The runtime's counters since the connection began, turned into a rate over the
    // time since the previous sample.
    struct StatsSampler {
        NDIlib_recv_get_performance_fn performance;
        NDIlib_recv_get_queue_fn queue;
        std::chrono::steady_clock::time_point last;
        int64_t lastTotal = 0;

        bool counts() const { return performance != nullptr && queue != nullptr; }

        void begin(NDIlib_recv_instance_t handle) {
            if (!counts()) return;
            NDIlib_recv_performance_t total{}, dropped{};
            performance(handle, &total, &dropped);
            lastTotal = total.video_frames;
            last = std::chrono::steady_clock::now();
        }

        std::optional<NDIReceiveStats> sampleIfDue(NDIlib_recv_instance_t handle, std::chrono::milliseconds interval) {
            const auto now = std::chrono::steady_clock::now();
            if (!counts() || now - last < interval) return std::nullopt;
            NDIlib_recv_performance_t total{}, dropped{};
            NDIlib_recv_queue_t waiting{};
            performance(handle, &total, &dropped);
            queue(handle, &waiting);
            const double seconds = std::chrono::duration<double>(now - last).count();
            // A counter that went back is a runtime that started over: no rate this time.
            const int64_t taken = std::max<int64_t>(0, total.video_frames - lastTotal);
            last = now;
            lastTotal = total.video_frames;
            return NDIReceiveStats{static_cast<double>(taken) / seconds, std::max<int64_t>(0, dropped.video_frames),
                                   std::max(0, waiting.video_frames)};
        }
    };

    static void captureLoop(std::shared_ptr<Shared> shared, NDIlib_recv_instance_t handle, uint64_t serial) {
        const NDIRuntimeFunctions& api = shared->runtime->api();
        StatsSampler sampler{api.recvGetPerformance, api.recvGetQueue, {}, 0};
        sampler.begin(handle);
        NDIlib_video_frame_v2_t frame;
        NDIlib_audio_frame_v2_t audio;
        std::memset(&frame, 0, sizeof frame);
        std::memset(&audio, 0, sizeof audio);
        std::vector<float> interleaved;  // the capture thread's own, reused
        FrameSize published;
        while (shared->running.load()) {
            if (shared->receiver.load() != handle) {
                break;
            }
            const NDIlib_frame_type_e type = api.recvCaptureV2(handle, &frame, &audio, nullptr, kCaptureTimeoutMs);
            if (auto stats = sampler.sampleIfDue(handle, shared->options.statsInterval)) {
                shared->post([serial, stats](NDIReceiver& self) {
                    if (self.connectionSerial_ == serial) self.receiveStats_ = stats;
                });
            }
            if (type == NDIlib_frame_type_audio) {
                shared->hearSound(audio, interleaved);
                api.recvFreeAudioV2(handle, &audio);
                std::memset(&audio, 0, sizeof audio);
                continue;
            }
            if (type != NDIlib_frame_type_video) {
                continue;
            }
            // A stride shorter than a row of pixels would make the upload read past
            // the copied bytes, and BGRA rows come in whole pixels: anything else is
            // dropped rather than trusted.
            if (frame.p_data != nullptr && frame.xres > 0 && frame.yres > 0 && frame.line_stride_in_bytes > 0 &&
                static_cast<int64_t>(frame.line_stride_in_bytes) >= int64_t{4} * frame.xres &&
                frame.line_stride_in_bytes % 4 == 0) {
                VideoFrame received;
                received.width = frame.xres;
                received.height = frame.yres;
                received.stride = frame.line_stride_in_bytes;
                auto bytes = std::make_shared_for_overwrite<uint8_t[]>(received.byteCount());
                std::memcpy(bytes.get(), frame.p_data, received.byteCount());
                received.data = std::move(bytes);
                std::optional<VideoFrame> previous;
                {
                    std::lock_guard lock(shared->frameLock);
                    previous = std::exchange(shared->latestFrame, std::move(received));
                }
                // Only a change is worth a trip to the main thread; the value is the same.
                FrameSize size{static_cast<double>(frame.xres), static_cast<double>(frame.yres)};
                if (size != published) {
                    published = size;
                    shared->post([size](NDIReceiver& self) { self.lastFrameSize_ = size; });
                }
            }
            api.recvFreeVideoV2(handle, &frame);
            std::memset(&frame, 0, sizeof frame);
        }
    }

    // Planar to interleaved for the listeners. A frame whose planes would overlap or
    // whose numbers are out of reason is not trusted.
    void hearSound(const NDIlib_audio_frame_v2_t& audio, std::vector<float>& interleaved) {
        constexpr int kMaxFrames = 1 << 20;
        const int64_t planeBytes = int64_t{audio.no_samples} * static_cast<int64_t>(sizeof(float));
        if (audio.p_data == nullptr || audio.sample_rate < 1000 || audio.sample_rate > 768000 ||
            audio.no_channels < 1 || audio.no_samples < 1 || audio.no_samples > kMaxFrames ||
            (audio.no_channels > 1 && audio.channel_stride_in_bytes < planeBytes) ||
            audio.channel_stride_in_bytes % static_cast<int>(sizeof(float)) != 0) {
            return;
        }
        std::lock_guard lock(soundLock);
        if (soundListeners.empty()) {
            return;
        }
        const int channels = std::min(audio.no_channels, 2);
        const size_t stride = static_cast<size_t>(audio.channel_stride_in_bytes) / sizeof(float);
        interleaved.resize(static_cast<size_t>(audio.no_samples) * channels);
        for (int c = 0; c < channels; ++c) {
            const float* plane = audio.p_data + c * stride;
            for (int i = 0; i < audio.no_samples; ++i) {
                interleaved[static_cast<size_t>(i) * channels + c] = plane[i];
            }
        }
        const NDISoundBlock block{audio.sample_rate, channels, audio.no_samples, interleaved.data()};
        for (const auto& entry : soundListeners) {
            entry.second(block);
        }
    }
};

std::shared_ptr<NDIReceiver> NDIReceiver::create(std::shared_ptr<MainQueue> mainQueue, RuntimeLoader loadRuntime,
                                                 NDIReceiverOptions options) {
    std::shared_ptr<NDIReceiver> receiver(
        new NDIReceiver(std::move(mainQueue), std::move(loadRuntime), std::move(options)));
    receiver->shared_->owner = receiver;
    return receiver;
}

NDIReceiver::NDIReceiver(std::shared_ptr<MainQueue> mainQueue, RuntimeLoader loadRuntime, NDIReceiverOptions options)
    : mainQueue_(std::move(mainQueue)),
      loadRuntime_(loadRuntime ? std::move(loadRuntime) : RuntimeLoader(&NDIRuntime::loadFromEnvironment)),
      shared_(std::make_shared<Shared>()) {
    shared_->mainQueue = mainQueue_;
    shared_->options = std::move(options);
}

NDIReceiver::~NDIReceiver() { shutdown(); }

std::optional<VideoFrame> NDIReceiver::latestFrame() const {
    std::lock_guard lock(shared_->frameLock);
    return shared_->latestFrame;
}

int NDIReceiver::addSoundListener(SoundListener listener) {
    std::lock_guard lock(shared_->soundLock);
    const int id = shared_->nextListener++;
    shared_->soundListeners.emplace_back(id, std::move(listener));
    return id;
}

void NDIReceiver::removeSoundListener(int id) {
    SoundListener removed;  // destroyed outside the lock: it may own what it reaches
    std::lock_guard lock(shared_->soundLock);
    auto& listeners = shared_->soundListeners;
    const auto found = std::find_if(listeners.begin(), listeners.end(), [id](const auto& e) { return e.first == id; });
    if (found != listeners.end()) {
        removed = std::move(found->second);
        listeners.erase(found);
    }
}

void NDIReceiver::notifyChanged() {
    if (changed_) {
        changed_();
    }
}

void NDIReceiver::publish(std::function<void(NDIReceiver&)> change) { shared_->post(std::move(change)); }

void NDIReceiver::startDiscovery() {
    mainQueue_->post([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->startDiscoveryNow();
        }
    });
}

void NDIReceiver::startDiscoveryNow() {
    if (!shared_->runtime) {
        auto loaded = loadRuntime_();
        if (!loaded) {
            runtimeStatus_ = NDIRuntimeStatus::missing;
            runtimeProblem_ = loaded.error().explanation();
            printConsoleLine(runtimeProblem_);
            printConsoleLine("❌ NDIlib_initialize failed");
            notifyChanged();
            return;
        }
        shared_->runtime = loaded.value();
        runtimeStatus_ = NDIRuntimeStatus::loaded;
        runtimeProblem_.clear();
        notifyChanged();
    }
    const NDIRuntimeFunctions& api = shared_->runtime->api();
    if (!api.initialize()) {
        printConsoleLine("❌ NDIlib_initialize failed");
        return;
    }
    initialized_ = true;
    if (const char* version = api.version()) {
        printConsoleLine(std::string("✅ NDIlib_initialize OK, version: ") + version);
    }
    const bool freshFinder = shared_->finder.load() == nullptr;
    if (freshFinder) {
        NDIlib_find_instance_t finder = makeFinder();
        if (finder == nullptr) {
            return;
        }
        shared_->finder.store(finder);
    }
    stopDiscoveryWorker();
    if (freshFinder) {
        shared_->searchStarted = std::chrono::steady_clock::now();
    }
    startDiscoveryWorker();
}

NDIlib_find_instance_t NDIReceiver::makeFinder() {
    NDIlib_find_create_t settings{};
    settings.show_local_sources = true;
    settings.p_groups = nullptr;
    settings.p_extra_ips = extraIPs_.empty() ? nullptr : extraIPs_.c_str();
    NDIlib_find_instance_t finder = shared_->runtime->api().findCreateV2(&settings);
    if (finder == nullptr) {
        printConsoleLine("❌ NDIlib_find_create_v2 failed");
    }
    return finder;
}

void NDIReceiver::setExtraIPs(std::string list) {
    if (list == extraIPs_) {
        return;
    }
    extraIPs_ = std::move(list);
    notifyChanged();
    if (shared_->finder.load() == nullptr) {
        return;  // the next discovery's finder takes it
    }
    stopDiscoveryWorker();
    shared_->runtime->api().findDestroy(shared_->finder.exchange(nullptr));
    noSendersHint_ = NDINoSendersHint::none;
    if (NDIlib_find_instance_t finder = makeFinder()) {
        shared_->finder.store(finder);
        shared_->searchStarted = std::chrono::steady_clock::now();
        startDiscoveryWorker();
    }
    notifyChanged();
}

void NDIReceiver::setBandwidth(NDIBandwidth bandwidth) {
    if (bandwidth == bandwidth_) {
        return;
    }
    bandwidth_ = bandwidth;
    notifyChanged();
    if (chosen_ && shared_->receiver.load() != nullptr) {
        stopCaptureLoop();
        const ChosenSender sender = *chosen_;
        openReceiver(sender, selectedIndex_);
    }
}

// The repeating 1.0 s timer and the queue its ticks dispatch to, in one worker. Its
// first refresh runs at once, so the GUI never waits out the 500 ms finder wait.
void NDIReceiver::startDiscoveryWorker() {
    {
        std::lock_guard lock(shared_->discoveryMutex);
        shared_->discoveryStop = false;
        shared_->refreshRequested = false;
    }
    discoveryWorker_ = std::thread([shared = shared_] {
        std::unique_lock lock(shared->discoveryMutex);
        while (!shared->discoveryStop) {
            shared->refreshRequested = false;
            lock.unlock();
            shared->refresh();
            lock.lock();
            shared->discoveryWake.wait_for(lock, kDiscoveryInterval,
                                           [&] { return shared->discoveryStop || shared->refreshRequested; });
        }
    });
}

void NDIReceiver::stopDiscoveryWorker() {
    if (!discoveryWorker_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(shared_->discoveryMutex);
        shared_->discoveryStop = true;
    }
    shared_->discoveryWake.notify_all();
    discoveryWorker_.join();
}

void NDIReceiver::refreshSources() { shared_->refresh(); }

void NDIReceiver::requestRefresh() {
    if (!discoveryWorker_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(shared_->discoveryMutex);
        shared_->refreshRequested = true;
    }
    shared_->discoveryWake.notify_all();
}

void NDIReceiver::stopCaptureLoop() {
    shared_->running.store(false);
    if (captureLoop_.joinable()) {
        captureLoop_.join();
    }
}

void NDIReceiver::connect(int index) {
    const NDIlib_find_instance_t finder = shared_->finder.load();
    if (finder == nullptr) {
        printConsoleLine("❌ Finder not started. Call startDiscovery() first.");
        return;
    }
    stopCaptureLoop();
    const NDIRuntimeFunctions& api = shared_->runtime->api();
    api.findWaitForSources(finder, kConnectWaitMs);

    std::lock_guard listLock(shared_->sourceListMutex);
    uint32_t count = 0;
    const NDIlib_source_t* list = api.findGetCurrentSources(finder, &count);
    if (list == nullptr || count == 0) {
        printConsoleLine("❌ No NDI sources found");
        return;
    }
    if (static_cast<uint32_t>(index) >= count) {
        printConsoleLine("❌ connect(index:) out of range, index=" + std::to_string(index) + ", count=" + std::to_string(count));
        return;
    }
    ChosenSender sender;
    if (list[index].p_ndi_name != nullptr) sender.name = list[index].p_ndi_name;
    if (list[index].p_url_address != nullptr) sender.url = list[index].p_url_address;
    openReceiver(sender, index);
}

// The capture loop is stopped. The sender is kept by its strings rather than by the
// finder's entry, so the bandwidth can change after the list has moved on.
void NDIReceiver::openReceiver(const ChosenSender& sender, int index) {
    const NDIRuntimeFunctions& api = shared_->runtime->api();
    if (NDIlib_recv_instance_t old = shared_->receiver.exchange(nullptr)) {
        api.recvDestroy(old);
    }
    NDIlib_recv_create_v3_t settings{};
    settings.source_to_connect_to.p_ndi_name = sender.name ? sender.name->c_str() : nullptr;
    settings.source_to_connect_to.p_url_address = sender.url ? sender.url->c_str() : nullptr;
    settings.color_format = NDIlib_recv_color_format_BGRX_BGRA;
    settings.bandwidth =
        bandwidth_ == NDIBandwidth::lowest ? NDIlib_recv_bandwidth_lowest : NDIlib_recv_bandwidth_highest;
    settings.allow_video_fields = false;
    settings.p_ndi_recv_name = nullptr;
    NDIlib_recv_instance_t handle = api.recvCreateV3(&settings);
    ++connectionSerial_;
    receiveStats_.reset();
    if (handle == nullptr) {
        printConsoleLine("❌ NDIlib_recv_create_v3 failed");
        notifyChanged();
        return;
    }
    chosen_ = sender;
    shared_->receiver.store(handle);
    selectedIndex_ = index;
    notifyChanged();
    shared_->running.store(true);
    captureLoop_ = std::thread(&Shared::captureLoop, shared_, handle, connectionSerial_);
}

void NDIReceiver::shutdown() {
    stopDiscoveryWorker();
    stopCaptureLoop();
    if (shared_->runtime) {
        const NDIRuntimeFunctions& api = shared_->runtime->api();
        if (NDIlib_recv_instance_t handle = shared_->receiver.exchange(nullptr)) {
            api.recvDestroy(handle);
        }
        if (NDIlib_find_instance_t finder = shared_->finder.exchange(nullptr)) {
            api.findDestroy(finder);
        }
        // Balanced with the initialisations: a runtime that was never started is not
        // asked to shut down.
        if (initialized_) {
            api.destroy();
            initialized_ = false;
        }
    }
    {
        std::lock_guard lock(shared_->frameLock);
        shared_->latestFrame.reset();
    }
    chosen_.reset();
    ++connectionSerial_;
    publish([](NDIReceiver& self) {
        self.sources_.clear();
        self.sourcePositions_.clear();
        self.selectedIndex_ = -1;
        self.lastFrameSize_ = FrameSize{};
        self.receiveStats_.reset();
        self.noSendersHint_ = NDINoSendersHint::none;
    });
}

}  // namespace lumbrix

#pragma once
// Finds NDI senders on the network, connects to one and keeps its newest video frame for
// the GL upload (NDITextureSource) and the preview; its sound goes to whoever listens. The runtime does the network work;
// this class fixes which calls are made, with which settings, on which threads.
//
// Threads: everything public runs on the main thread (the one that drains `mainQueue`),
// except latestFrame() and adding or removing a sound listener, which any thread may do.
// Discovery refreshes run on a worker of their own, the capture loop on another; both
// report to the main thread through `mainQueue`, and the published fields change only there.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/main_queue.h"
#include "sources/ndi_runtime.h"
#include "sources/ndi_settings.h"
#include "sources/video_frame.h"

namespace lumbrix {

struct FrameSize {
    double width = 0.0;
    double height = 0.0;
    bool operator==(const FrameSize&) const = default;
};

// One received block of sound: interleaved float frames at the sender's rate, at most two
// channels of what it sent. The samples are valid only during the listener's call.
struct NDISoundBlock {
    int sampleRate = 0;
    int channels = 0;
    int frames = 0;
    const float* interleaved = nullptr;
};

// What the runtime counts for the current connection, sampled about once a second.
struct NDIReceiveStats {
    double framesPerSecond = 0.0;  // video frames taken in over the last interval
    int64_t droppedFrames = 0;     // video frames lost since connecting
    int queuedFrames = 0;          // video frames waiting in the runtime's queue
    bool operator==(const NDIReceiveStats&) const = default;
};

// Why the sender list may be empty, once discovery has found nothing for a while.
enum class NDINoSendersHint {
    none,         // senders found, or not searched for long enough
    mdnsRunning,  // avahi-daemon is there: senders may sit on another subnet
    mdnsMissing,  // no avahi-daemon: only extra addresses can find senders
};

struct NDIReceiverOptions {
    std::chrono::milliseconds statsInterval{1000};
    // How long discovery may find nothing before the list's emptiness is explained.
    std::chrono::milliseconds quietDelay{5000};
    std::string avahiSocketPath = kAvahiSocketPath;
};

enum class NDIRuntimeStatus {
    notTried,  // discovery never started
    loaded,
    missing,  // no runtime could be loaded: runtimeProblem() says what was tried
};

class NDIReceiver : public std::enable_shared_from_this<NDIReceiver> {
public:
    using RuntimeLoader = std::function<Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure>()>;

    static constexpr std::chrono::milliseconds kDiscoveryInterval{1000};
    static constexpr uint32_t kRefreshWaitMs = 500;
    static constexpr uint32_t kConnectWaitMs = 200;
    static constexpr uint32_t kCaptureTimeoutMs = 1000;

    // `loadRuntime` defaults to NDIRuntime::loadFromEnvironment.
    static std::shared_ptr<NDIReceiver> create(std::shared_ptr<MainQueue> mainQueue,
                                               RuntimeLoader loadRuntime = {}, NDIReceiverOptions options = {});
    ~NDIReceiver();
    NDIReceiver(const NDIReceiver&) = delete;
    NDIReceiver& operator=(const NDIReceiver&) = delete;

    // Loads the runtime if need be, initialises it, makes the finder and starts the
    // 1.0 s refresh timer. The work itself is posted to the main queue.
    void startDiscovery();
    // One refresh: waits up to 500 ms for the sender list to change, then publishes it
    // through the main queue. Blocks the caller; any thread.
    void refreshSources();
    // The same, on the discovery worker, for the panel's button: never blocks the GUI.
    void requestRefresh();
    // Connects to the sender at `index` of the runtime's current list, replacing any
    // earlier connection. Results and problems are console lines.
    void connect(int index);
    // Stops everything and releases the runtime; startDiscovery may be called again.
    void shutdown();

    // For the connections made from now on; a live one is made again with it, to the
    // same sender.
    void setBandwidth(NDIBandwidth bandwidth);
    NDIBandwidth bandwidth() const { return bandwidth_; }
    // A list as normalizeExtraIPs makes it; empty for none. A running discovery starts
    // over with a new finder, since the runtime reads the list only when it makes one.
    void setExtraIPs(std::string list);
    const std::string& extraIPs() const { return extraIPs_; }

    // Published state (main thread).
    const std::vector<std::string>& sources() const { return sources_; }
    // Where each of sources() stands in the runtime's list, the index connect() takes:
    // unnamed senders are listed by the runtime but left out of sources().
    const std::vector<int>& sourcePositions() const { return sourcePositions_; }
    int selectedIndex() const { return selectedIndex_; }
    FrameSize lastFrameSize() const { return lastFrameSize_; }
    NDIRuntimeStatus runtimeStatus() const { return runtimeStatus_; }
    const std::string& runtimeProblem() const { return runtimeProblem_; }
    // None before the connection's first sample, and always with a runtime that does
    // not export its counters.
    const std::optional<NDIReceiveStats>& receiveStats() const { return receiveStats_; }
    NDINoSendersHint noSendersHint() const { return noSendersHint_; }
    const std::shared_ptr<MainQueue>& mainQueue() const { return mainQueue_; }
    // Called on the main thread after any published field changed.
    void setChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

    // The newest frame (its bytes shared, not copied); any thread.
    std::optional<VideoFrame> latestFrame() const;

    // Sound, for as long as a listener is added: it is called on the capture thread with
    // every audio frame received, so it must be quick and must not call back into the
    // receiver. Any thread. Removal waits for a call in progress, so what the listener
    // reaches may go once removeSoundListener returns; not from the listener itself.
    using SoundListener = std::function<void(const NDISoundBlock&)>;
    int addSoundListener(SoundListener listener);
    void removeSoundListener(int id);

private:
    struct Shared;

    // The sender of the current connection, as the runtime named it when it was chosen.
    struct ChosenSender {
        std::optional<std::string> name;
        std::optional<std::string> url;
    };

    NDIReceiver(std::shared_ptr<MainQueue> mainQueue, RuntimeLoader loadRuntime, NDIReceiverOptions options);
    void startDiscoveryNow();
    NDIlib_find_instance_t makeFinder();
    void openReceiver(const ChosenSender& sender, int index);
    void startDiscoveryWorker();
    void stopDiscoveryWorker();
    void stopCaptureLoop();
    void publish(std::function<void(NDIReceiver&)> change);
    void notifyChanged();

    std::shared_ptr<MainQueue> mainQueue_;
    RuntimeLoader loadRuntime_;
    // Everything the worker threads touch lives here, so a worker never keeps the
    // receiver itself alive (its destructor would then run on that worker).
    std::shared_ptr<Shared> shared_;

    std::vector<std::string> sources_;
    std::vector<int> sourcePositions_;
    int selectedIndex_ = -1;
    FrameSize lastFrameSize_;
    NDIRuntimeStatus runtimeStatus_ = NDIRuntimeStatus::notTried;
    std::string runtimeProblem_;
    std::function<void()> changed_;
    std::optional<NDIReceiveStats> receiveStats_;
    NDINoSendersHint noSendersHint_ = NDINoSendersHint::none;
    NDIBandwidth bandwidth_ = NDIBandwidth::highest;
    std::string extraIPs_;
    std::optional<ChosenSender> chosen_;
    // Counts connections, so samples a finished capture loop left queued are dropped.
    uint64_t connectionSerial_ = 0;

    std::thread discoveryWorker_;
    std::thread captureLoop_;
    bool initialized_ = false;  // an NDIlib_initialize succeeded since the last shutdown
};

}  // namespace lumbrix

#pragma once
// Everything the fake NDI runtime knows, behind one mutex: the sender list, the finders and
// receivers handed out, and what tests read back (counters, recorded settings, misuse).
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sources/ndi_api.h"
#include "tests/fake_ndi/fake_ndi_control.h"
#include "tests/fake_ndi/fake_senders.h"

namespace lumbrix::fake_ndi {

class FakeNdi {
public:
    FakeNdi();  // senders and the wait cap from the environment

    bool initialize();
    void destroy();
    void* createFinder(const NDIlib_find_create_t* settings);
    void destroyFinder(void* handle);
    bool waitForSources(void* handle, uint32_t timeoutMs);
    const NDIlib_source_t* currentSources(void* handle, uint32_t* count);
    void* createReceiver(const NDIlib_recv_create_v3_t* settings);
    void destroyReceiver(void* handle);
    // At most one of the audio frames is given: v2 or v3 by the capture call used.
    NDIlib_frame_type_e capture(void* handle, NDIlib_video_frame_v2_t* video, NDIlib_audio_frame_v2_t* audioV2,
                                NDIlib_audio_frame_v3_t* audioV3, uint32_t timeoutMs);
    void freeVideo(void* handle, const NDIlib_video_frame_v2_t* video);
    void freeAudio(void* handle, const void* data, int version);
    void performance(void* handle, NDIlib_recv_performance_t* total, NDIlib_recv_performance_t* dropped);
    void queue(void* handle, NDIlib_recv_queue_t* total);

    int setSenders(const char* list);
    int setStopped(const char* nameOrUrl, bool stopped);
    int setFailure(const char* call, bool fail);
    void setMaxWaitMs(int ms);
    void setRecvCounts(const FakeNdiRecvCounts* counts);
    void reset();
    long long counter(const char* name);
    unsigned lastTimeout(const char* call);
    bool lastFindSettings(FakeNdiFindSettings* out);
    bool lastRecvSettings(FakeNdiRecvSettings* out);
    size_t lastViolation(char* buffer, size_t size);

private:
    struct Sender {
        SenderFormat format;
        int port = 0;
        std::string url;
        uint32_t tint = 0;
        Clock::time_point start;
        uint64_t generation = 0;  // new whenever the clock restarts, so receivers start over
        bool stopped = false;
    };
    struct Listed {
        bool named;
        std::string name;
        std::string url;
        bool operator==(const Listed&) const = default;
    };
    struct Finder {
        uint64_t seenVersion = 0;
        int waiting = 0;
        bool destroyed = false;
        std::vector<Listed> listed;  // what the last NDIlib_source_t array points into
        std::vector<NDIlib_source_t> sources;
    };
    // One picture of a receiver's pool: one pattern phase, row 0 restamped per frame.
    struct Buffer {
        PixelBytes pixels;  // null while the capturing thread renders it
        int width = 0;
        int height = 0;
        uint32_t tint = 0;
        int phase = 0;
        bool handedOut = false;
    };
    struct AudioOut {
        std::unique_ptr<float[]> samples;
        int version = 2;  // of the capture call that handed it out
    };
    struct Receiver {
        bool byUrl = false;  // senders are matched by name, unnamed ones by address
        std::string key;
        uint64_t generation = 0;
        int64_t lastFrame = -1;
        bool audioStarted = false;  // sound starts with the newest frame at the first ask
        int64_t lastAudio = -1;
        std::map<const void*, AudioOut> audioOut;
        NDIlib_recv_performance_t total{}, dropped{};
        int capturing = 0;
        bool destroyed = false;
        std::vector<std::unique_ptr<Buffer>> pool;
        int outstanding() const;
    };
    struct Frame {
        NDIlib_frame_type_e type = NDIlib_frame_type_none;
        double toneHz = 0;
        int64_t number = 0;
        Clock::time_point sent;
        Clock::time_point senderStart;
        int width = 0;
        int height = 0;
        double fps = 0;
        uint32_t tint = 0;
    };
    struct Counters {
        long long initialize = 0, destroy = 0, findCreate = 0, findWait = 0, getSources = 0, recvCreate = 0,
                  captures = 0, videoFrames = 0, frees = 0, violations = 0, audioFrames = 0, audioFrees = 0;
    };

    void applySenders(const ParsedSenders& parsed, bool fresh);
    std::vector<Listed> listing() const;
    const Sender* senderFor(const Receiver& receiver) const;
    bool awaitFrame(std::unique_lock<std::mutex>& lock, Receiver& receiver, uint32_t timeoutMs, bool wantVideo,
                    bool wantAudio, Frame& frame);
    NDIlib_frame_type_e handOutAudio(Receiver& receiver, const Frame& frame, NDIlib_audio_frame_v2_t* audioV2,
                                     NDIlib_audio_frame_v3_t* audioV3);
    Buffer* reserveBuffer(Receiver& receiver, const Frame& frame);
    void* newHandle();
    void violation(const std::string& what);
    void readEnvironment();

    std::mutex mutex_;
    std::condition_variable changed_;  // sender list, stopped states, destroyed handles
    std::vector<Sender> senders_;
    uint64_t listVersion_ = 1;  // finders start at 0: a new finder has news
    uint64_t nextGeneration_ = 1;
    uint64_t nextHandle_ = 0;
    std::map<void*, std::shared_ptr<Finder>> finders_;
    std::map<void*, std::shared_ptr<Receiver>> receivers_;
    Counters counters_;
    bool failInitialize_ = false, failFindCreate_ = false, failRecvCreate_ = false;
    int maxWaitMs_ = -1;
    int sendForMs_ = -1;
    std::unique_ptr<FakeNdiRecvCounts> recvCounts_;  // set: every receiver reports these  // senders fall silent this long after their clock starts; negative: never
    unsigned lastFindWaitMs_ = 0, lastCaptureMs_ = 0;
    std::unique_ptr<FakeNdiFindSettings> findSettings_;
    std::unique_ptr<FakeNdiRecvSettings> recvSettings_;
    std::string lastViolation_;
};

}  // namespace lumbrix::fake_ndi

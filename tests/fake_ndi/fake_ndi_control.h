#pragma once
// How tests drive the fake NDI runtime (tests/fake_ndi): the control entry points it
// exports next to the NDI ones, the stamp every frame carries in its first pixel row, and
// FakeNdiControl, which opens the same libndi.so.6 the loader opens so both share one
// instance.
//
// Sender lists, in FAKE_NDI_SENDERS or fake_ndi_set_senders, read
//     NAME@WIDTHxHEIGHT@FPS[@HZ];NAME@WIDTHxHEIGHT@FPS[@HZ];...
// FPS may be fractional (29.97); an empty NAME is a sender listed with a null p_ndi_name.
// HZ above 0 gives the sender a sine tone of that frequency: 48 kHz stereo planar float,
// one audio frame beside each video frame, for receivers that pass an audio frame to
// NDIlib_recv_capture_v2/v3 (see fake_senders.h for the exact samples).
// Sender i of a fresh list has the address 127.0.0.1:(5961 + i). FAKE_NDI_MAX_WAIT_MS caps
// NDIlib_find_wait_for_sources (never captures). FAKE_NDI_SEND_FOR_MS makes every sender
// fall silent that long after its clock started (0: it never sends), as a sender that stops
// or leaves mid-stream would, for programs a test cannot reach through the calls below.
// The variables are read when the library loads and again by fake_ndi_reset.
#include <dlfcn.h>
#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>

#include "sources/ndi_api.h"

#define FAKE_NDI_CONTROL_API __attribute__((visibility("default")))

extern "C" {

typedef struct FakeNdiFindSettings {
    int settings_null;  // NDIlib_find_create_v2 got no settings (the rest then reads 1)
    int show_local_sources;
    int groups_null;
    int extra_ips_null;
    char extra_ips[256];  // truncated; empty when null
} FakeNdiFindSettings;

// What NDIlib_recv_get_performance and NDIlib_recv_get_queue report.
typedef struct FakeNdiRecvCounts {
    NDIlib_recv_performance_t total;
    NDIlib_recv_performance_t dropped;
    NDIlib_recv_queue_t queue;
} FakeNdiRecvCounts;

typedef struct FakeNdiRecvSettings {
    int color_format;
    int bandwidth;
    int allow_video_fields;
    int recv_name_null;
    int source_name_null;
    int source_url_null;
    char source_name[256];  // truncated; empty when null
    char source_url[256];
    char recv_name[256];
} FakeNdiRecvSettings;

// Replaces the sender list; returns how many senders it lists. Senders that stay (same
// name; unnamed ones in order) keep their clock, address and stopped state.
FAKE_NDI_CONTROL_API int fake_ndi_set_senders(const char* list);
// A stopped sender stays listed and sends nothing. Takes a name or an address; returns 0
// when no listed sender matches.
FAKE_NDI_CONTROL_API int fake_ndi_stop_sender(const char* name_or_url);
FAKE_NDI_CONTROL_API int fake_ndi_resume_sender(const char* name_or_url);
// call: "initialize", "find_create" or "recv_create"; returns 0 for any other name.
FAKE_NDI_CONTROL_API int fake_ndi_set_failure(const char* call, int fail);
// Caps finder waits; negative: no cap.
FAKE_NDI_CONTROL_API void fake_ndi_set_max_wait_ms(int ms);
// Every receiver reports these counts from now on; null: each reports its own again (the
// frames it handed out and the video frames it skipped, an empty queue). Reset clears it.
FAKE_NDI_CONTROL_API void fake_ndi_set_recv_counts(const FakeNdiRecvCounts* counts);
// Senders back to FAKE_NDI_SENDERS (fresh clocks), failures cleared, counters and records
// zeroed. Live finders and receivers are left alone.
FAKE_NDI_CONTROL_API void fake_ndi_reset(void);
// "initialize", "destroy", "find_create_calls", "find_wait_calls", "get_sources_calls",
// "recv_create_calls", "captures", "video_frames", "frees", "audio_frames", "audio_frees",
// "violations" count since the last reset; "finders_live", "receivers_live",
// "frames_outstanding", "audio_outstanding", "senders_listed" are the current state.
// -1 for an unknown name.
FAKE_NDI_CONTROL_API long long fake_ndi_counter(const char* name);
// The last timeout passed to "find_wait" or "capture", as given (before any cap).
FAKE_NDI_CONTROL_API unsigned fake_ndi_last_timeout(const char* call);
// 0 until a finder or receiver has been created since the last reset.
FAKE_NDI_CONTROL_API int fake_ndi_last_find_settings(FakeNdiFindSettings* out);
FAKE_NDI_CONTROL_API int fake_ndi_last_recv_settings(FakeNdiRecvSettings* out);
// Copies the last misuse report (terminated, truncated to size); returns its full length.
FAKE_NDI_CONTROL_API size_t fake_ndi_last_violation(char* buffer, size_t size);

}  // extern "C"

// Row 0 of every frame: pixel 0 holds the frame number (uint32), pixels 1 and 2 the time
// the frame was sent (steady_clock nanoseconds, int64), both little-endian byte by byte.
inline void fakeNdiStampFirstRow(uint8_t* firstRow, uint32_t frameNumber, int64_t sendTimeNs) {
    for (int i = 0; i < 4; ++i) {
        firstRow[i] = static_cast<uint8_t>(frameNumber >> (8 * i));
    }
    const auto time = static_cast<uint64_t>(sendTimeNs);
    for (int i = 0; i < 8; ++i) {
        firstRow[4 + i] = static_cast<uint8_t>(time >> (8 * i));
    }
}

inline uint32_t fakeNdiFrameNumber(const uint8_t* firstRow) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(firstRow[i]) << (8 * i);
    }
    return value;
}

inline int64_t fakeNdiSendTimeNs(const uint8_t* firstRow) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) {
        value |= static_cast<uint64_t>(firstRow[4 + i]) << (8 * i);
    }
    return static_cast<int64_t>(value);
}

// Opens <dir>/libndi.so.6 and resolves the control entry points. Check loaded() first;
// the other members assume it.
struct FakeNdiControl {
public:
    explicit FakeNdiControl(const std::string& dir) : path_(dir + "/libndi.so.6") {
        handle_ = dlopen(path_.c_str(), RTLD_NOW);
        if (handle_ == nullptr) {
            const char* reason = dlerror();
            error_ = reason != nullptr ? reason : "dlopen failed";
            return;
        }
        const bool resolved = resolve(setSenders_, "fake_ndi_set_senders") &&
                              resolve(stopSender_, "fake_ndi_stop_sender") &&
                              resolve(resumeSender_, "fake_ndi_resume_sender") &&
                              resolve(setFailure_, "fake_ndi_set_failure") &&
                              resolve(setMaxWaitMs_, "fake_ndi_set_max_wait_ms") &&
                              resolve(setRecvCounts_, "fake_ndi_set_recv_counts") &&
                              resolve(reset_, "fake_ndi_reset") && resolve(counter_, "fake_ndi_counter") &&
                              resolve(lastTimeout_, "fake_ndi_last_timeout") &&
                              resolve(lastFindSettings_, "fake_ndi_last_find_settings") &&
                              resolve(lastRecvSettings_, "fake_ndi_last_recv_settings") &&
                              resolve(lastViolation_, "fake_ndi_last_violation");
        if (!resolved) {
            dlclose(handle_);
            handle_ = nullptr;
        }
    }
#ifdef LUMBRIX_FAKE_NDI_DIR
    FakeNdiControl() : FakeNdiControl(LUMBRIX_FAKE_NDI_DIR) {}
#endif
    ~FakeNdiControl() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    FakeNdiControl(const FakeNdiControl&) = delete;
    FakeNdiControl& operator=(const FakeNdiControl&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }

    // Any export of the library, NDI entry points included; null when missing.
    template <class Fn>
    Fn symbol(const char* name) const {
        return handle_ != nullptr ? reinterpret_cast<Fn>(dlsym(handle_, name)) : nullptr;
    }

    int setSenders(const std::string& list) const { return setSenders_(list.c_str()); }
    bool stopSender(const std::string& nameOrUrl) const { return stopSender_(nameOrUrl.c_str()) != 0; }
    bool resumeSender(const std::string& nameOrUrl) const { return resumeSender_(nameOrUrl.c_str()) != 0; }
    bool setFailure(const char* call, bool fail) const { return setFailure_(call, fail ? 1 : 0) != 0; }
    void setMaxWaitMs(int ms) const { setMaxWaitMs_(ms); }
    void setRecvCounts(const FakeNdiRecvCounts* counts) const { setRecvCounts_(counts); }
    void reset() const { reset_(); }
    long long counter(const char* name) const { return counter_(name); }
    unsigned lastTimeout(const char* call) const { return lastTimeout_(call); }

    std::optional<FakeNdiFindSettings> lastFindSettings() const {
        FakeNdiFindSettings settings{};
        return lastFindSettings_(&settings) != 0 ? std::optional(settings) : std::nullopt;
    }
    std::optional<FakeNdiRecvSettings> lastRecvSettings() const {
        FakeNdiRecvSettings settings{};
        return lastRecvSettings_(&settings) != 0 ? std::optional(settings) : std::nullopt;
    }
    std::string lastViolation() const {
        char text[512];
        lastViolation_(text, sizeof text);
        return text;
    }

private:
    template <class Fn>
    bool resolve(Fn& slot, const char* name) {
        slot = symbol<Fn>(name);
        if (slot == nullptr) {
            error_ = path_ + " does not export " + name;
        }
        return slot != nullptr;
    }

    std::string path_;
    std::string error_;
    void* handle_ = nullptr;
    decltype(&fake_ndi_set_senders) setSenders_ = nullptr;
    decltype(&fake_ndi_stop_sender) stopSender_ = nullptr;
    decltype(&fake_ndi_resume_sender) resumeSender_ = nullptr;
    decltype(&fake_ndi_set_failure) setFailure_ = nullptr;
    decltype(&fake_ndi_set_max_wait_ms) setMaxWaitMs_ = nullptr;
    decltype(&fake_ndi_set_recv_counts) setRecvCounts_ = nullptr;
    decltype(&fake_ndi_reset) reset_ = nullptr;
    decltype(&fake_ndi_counter) counter_ = nullptr;
    decltype(&fake_ndi_last_timeout) lastTimeout_ = nullptr;
    decltype(&fake_ndi_last_find_settings) lastFindSettings_ = nullptr;
    decltype(&fake_ndi_last_recv_settings) lastRecvSettings_ = nullptr;
    decltype(&fake_ndi_last_violation) lastViolation_ = nullptr;
};

#pragma once
// Finds and loads the NDI runtime (libndi) at run time. Lumbrix ships without it: users
// install NewTek/Vizrt's runtime themselves, so a missing runtime is an expected state
// with a clear explanation, not an error of ours.
#include <memory>
#include <string>
#include <vector>

#include "platform/expected.h"
#include "sources/ndi_api.h"

namespace lumbrix {

// The entry points Lumbrix calls, resolved from one loaded library.
struct NDIRuntimeFunctions {
    NDIlib_initialize_fn initialize = nullptr;
    NDIlib_destroy_fn destroy = nullptr;
    NDIlib_version_fn version = nullptr;
    NDIlib_find_create_v2_fn findCreateV2 = nullptr;
    NDIlib_find_destroy_fn findDestroy = nullptr;
    NDIlib_find_wait_for_sources_fn findWaitForSources = nullptr;
    NDIlib_find_get_current_sources_fn findGetCurrentSources = nullptr;
    NDIlib_recv_create_v3_fn recvCreateV3 = nullptr;
    NDIlib_recv_destroy_fn recvDestroy = nullptr;
    NDIlib_recv_capture_v2_fn recvCaptureV2 = nullptr;
    NDIlib_recv_free_video_v2_fn recvFreeVideoV2 = nullptr;
    NDIlib_recv_free_audio_v2_fn recvFreeAudioV2 = nullptr;
    // Optional: runtimes before these were exported still receive, they only report
    // no counters.
    NDIlib_recv_get_performance_fn recvGetPerformance = nullptr;
    NDIlib_recv_get_queue_fn recvGetQueue = nullptr;
};

// Why no runtime could be loaded: every place tried, with the loader's reason for each.
struct NDIRuntimeLoadFailure {
    std::vector<std::string> tried;    // "path: reason", in the order tried
    std::string explanation() const;  // one line for the console and the source panel
};

class NDIRuntime {
public:
    // The places to try, in order: $NDI_RUNTIME_DIR_V6/libndi.so.6, $NDI_RUNTIME_DIR_V5/
    // libndi.so.5 (each only when the variable is set and not empty), then libndi.so.6
    // and libndi.so.5 through the dynamic linker's own search.
    static std::vector<std::string> candidatePaths(const char* v6Dir, const char* v5Dir);

    // The first candidate that loads and exports every entry point wins.
    static Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure> load(
        const std::vector<std::string>& candidates);

    // The candidates of the environment. A runtime once loaded is kept for the rest of
    // the process (its threads may outlive any one receiver); a failure is not kept, so
    // a runtime installed while Lumbrix runs is found on the next attempt.
    static Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure> loadFromEnvironment();

    // A runtime whose entry points the caller has resolved itself, e.g. one loaded here
    // with some of them taken away to stand for an older runtime.
    static std::shared_ptr<const NDIRuntime> fromFunctions(std::string path, NDIRuntimeFunctions api);

    const NDIRuntimeFunctions& api() const { return api_; }
    const std::string& path() const { return path_; }

private:
    NDIRuntime(std::string path, NDIRuntimeFunctions api) : path_(std::move(path)), api_(api) {}

    std::string path_;
    NDIRuntimeFunctions api_;
};

}  // namespace lumbrix

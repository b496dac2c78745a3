#include "sources/ndi_runtime.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

namespace lumbrix {

namespace {

std::string dlerrorText() {
    const char* text = dlerror();
    return text ? text : "unknown error";
}

template <class Fn>
bool resolve(void* library, const char* name, Fn& slot, std::string& missing) {
    slot = reinterpret_cast<Fn>(dlsym(library, name));
    if (!slot && missing.empty()) {
        missing = name;
    }
    return slot != nullptr;
}

}  // namespace

std::string NDIRuntimeLoadFailure::explanation() const {
    std::string line = "NDI runtime not found (tried ";
    for (size_t i = 0; i < tried.size(); ++i) {
        line += (i ? "; " : "") + tried[i];
    }
    line +=
        "). Install the NDI runtime, or set NDI_RUNTIME_DIR_V6 to the folder holding libndi.so.6; "
        "finding senders also needs avahi-daemon running.";
    return line;
}

std::vector<std::string> NDIRuntime::candidatePaths(const char* v6Dir, const char* v5Dir) {
    std::vector<std::string> paths;
    auto inFolder = [&paths](const char* dir, const char* file) {
        if (dir == nullptr || *dir == '\0') {
            return;
        }
        std::string path = dir;
        if (path.back() != '/') {
            path += '/';
        }
        paths.push_back(path + file);
    };
    inFolder(v6Dir, "libndi.so.6");
    inFolder(v5Dir, "libndi.so.5");
    paths.push_back("libndi.so.6");
    paths.push_back("libndi.so.5");
    return paths;
}

Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure> NDIRuntime::load(
    const std::vector<std::string>& candidates) {
    NDIRuntimeLoadFailure failure;
    for (const std::string& path : candidates) {
        // Never closed: the runtime starts threads of its own that may still be winding
        // down after NDIlib_destroy, and unloading their code under them would crash.
        void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            failure.tried.push_back(path + ": " + dlerrorText());
            continue;
        }
        NDIRuntimeFunctions api;
        std::string missing;
        resolve(library, "NDIlib_initialize", api.initialize, missing);
        resolve(library, "NDIlib_destroy", api.destroy, missing);
        resolve(library, "NDIlib_version", api.version, missing);
        resolve(library, "NDIlib_find_create_v2", api.findCreateV2, missing);
        resolve(library, "NDIlib_find_destroy", api.findDestroy, missing);
        resolve(library, "NDIlib_find_wait_for_sources", api.findWaitForSources, missing);
        resolve(library, "NDIlib_find_get_current_sources", api.findGetCurrentSources, missing);
        resolve(library, "NDIlib_recv_create_v3", api.recvCreateV3, missing);
        resolve(library, "NDIlib_recv_destroy", api.recvDestroy, missing);
        resolve(library, "NDIlib_recv_capture_v2", api.recvCaptureV2, missing);
        resolve(library, "NDIlib_recv_free_video_v2", api.recvFreeVideoV2, missing);
        resolve(library, "NDIlib_recv_free_audio_v2", api.recvFreeAudioV2, missing);
        api.recvGetPerformance =
            reinterpret_cast<NDIlib_recv_get_performance_fn>(dlsym(library, "NDIlib_recv_get_performance"));
        api.recvGetQueue = reinterpret_cast<NDIlib_recv_get_queue_fn>(dlsym(library, "NDIlib_recv_get_queue"));
        if (!missing.empty()) {
            failure.tried.push_back(path + ": does not export " + missing);
            continue;
        }
        return std::shared_ptr<const NDIRuntime>(new NDIRuntime(path, api));
    }
    return unexpected(std::move(failure));
}

std::shared_ptr<const NDIRuntime> NDIRuntime::fromFunctions(std::string path, NDIRuntimeFunctions api) {
    return std::shared_ptr<const NDIRuntime>(new NDIRuntime(std::move(path), api));
}

Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure> NDIRuntime::loadFromEnvironment() {
    static std::mutex mutex;  // guards loaded
    static std::shared_ptr<const NDIRuntime> loaded;
    std::lock_guard lock(mutex);
    if (loaded) {
        return loaded;
    }
    auto result = load(candidatePaths(std::getenv("NDI_RUNTIME_DIR_V6"), std::getenv("NDI_RUNTIME_DIR_V5")));
    if (result) {
        loaded = result.value();
    }
    return result;
}

}  // namespace lumbrix

// The exported face of the fake NDI runtime: the NDI entry points under their real names
// and the control entry points of fake_ndi_control.h, all forwarding to one FakeNdi.
#include <type_traits>

#include "sources/ndi_api.h"
#include "tests/fake_ndi/fake_ndi_control.h"
#include "tests/fake_ndi/fake_ndi_state.h"

#define FAKE_NDI_EXPORT __attribute__((visibility("default")))

namespace {

// Built when the library loads and never destroyed: a receiver thread the host forgot to
// join must not find it gone during exit. The library is never unloaded (-z nodelete), so
// the pointer stays reachable and leak checkers stay quiet.
lumbrix::fake_ndi::FakeNdi& runtime = *new lumbrix::fake_ndi::FakeNdi;

}  // namespace

extern "C" {

FAKE_NDI_EXPORT bool NDIlib_initialize(void) {
    return runtime.initialize();
}

FAKE_NDI_EXPORT void NDIlib_destroy(void) {
    runtime.destroy();
}

FAKE_NDI_EXPORT const char* NDIlib_version(void) {
    return "Fake NDI runtime 6.0.0 (Lumbrix tests)";
}

FAKE_NDI_EXPORT NDIlib_find_instance_t NDIlib_find_create_v2(const NDIlib_find_create_t* p_create_settings) {
    return runtime.createFinder(p_create_settings);
}

FAKE_NDI_EXPORT void NDIlib_find_destroy(NDIlib_find_instance_t p_instance) {
    runtime.destroyFinder(p_instance);
}

FAKE_NDI_EXPORT bool NDIlib_find_wait_for_sources(NDIlib_find_instance_t p_instance, uint32_t timeout_in_ms) {
    return runtime.waitForSources(p_instance, timeout_in_ms);
}

FAKE_NDI_EXPORT const NDIlib_source_t* NDIlib_find_get_current_sources(NDIlib_find_instance_t p_instance,
                                                                       uint32_t* p_no_sources) {
    return runtime.currentSources(p_instance, p_no_sources);
}

FAKE_NDI_EXPORT NDIlib_recv_instance_t NDIlib_recv_create_v3(const NDIlib_recv_create_v3_t* p_create_settings) {
    return runtime.createReceiver(p_create_settings);
}

FAKE_NDI_EXPORT void NDIlib_recv_destroy(NDIlib_recv_instance_t p_instance) {
    runtime.destroyReceiver(p_instance);
}

FAKE_NDI_EXPORT NDIlib_frame_type_e NDIlib_recv_capture_v2(NDIlib_recv_instance_t p_instance,
                                                           NDIlib_video_frame_v2_t* p_video_data,
                                                           NDIlib_audio_frame_v2_t* p_audio_data,
                                                           NDIlib_metadata_frame_t* /*p_metadata*/,
                                                           uint32_t timeout_in_ms) {
    // No metadata is ever sent, so metadata requests just never get anything.
    return runtime.capture(p_instance, p_video_data, p_audio_data, nullptr, timeout_in_ms);
}

FAKE_NDI_EXPORT NDIlib_frame_type_e NDIlib_recv_capture_v3(NDIlib_recv_instance_t p_instance,
                                                           NDIlib_video_frame_v2_t* p_video_data,
                                                           NDIlib_audio_frame_v3_t* p_audio_data,
                                                           NDIlib_metadata_frame_t* /*p_metadata*/,
                                                           uint32_t timeout_in_ms) {
    return runtime.capture(p_instance, p_video_data, nullptr, p_audio_data, timeout_in_ms);
}

FAKE_NDI_EXPORT void NDIlib_recv_free_video_v2(NDIlib_recv_instance_t p_instance,
                                               const NDIlib_video_frame_v2_t* p_video_data) {
    runtime.freeVideo(p_instance, p_video_data);
}

FAKE_NDI_EXPORT void NDIlib_recv_free_audio_v2(NDIlib_recv_instance_t p_instance,
                                               const NDIlib_audio_frame_v2_t* p_audio_data) {
    runtime.freeAudio(p_instance, p_audio_data != nullptr ? p_audio_data->p_data : nullptr, 2);
}

FAKE_NDI_EXPORT void NDIlib_recv_free_audio_v3(NDIlib_recv_instance_t p_instance,
                                               const NDIlib_audio_frame_v3_t* p_audio_data) {
    runtime.freeAudio(p_instance, p_audio_data != nullptr ? p_audio_data->p_data : nullptr, 3);
}

FAKE_NDI_EXPORT void NDIlib_recv_get_performance(NDIlib_recv_instance_t p_instance, NDIlib_recv_performance_t* p_total,
                                                 NDIlib_recv_performance_t* p_dropped) {
    runtime.performance(p_instance, p_total, p_dropped);
}

FAKE_NDI_EXPORT void NDIlib_recv_get_queue(NDIlib_recv_instance_t p_instance, NDIlib_recv_queue_t* p_total) {
    runtime.queue(p_instance, p_total);
}

int fake_ndi_set_senders(const char* list) {
    return runtime.setSenders(list);
}

int fake_ndi_stop_sender(const char* name_or_url) {
    return runtime.setStopped(name_or_url, true);
}

int fake_ndi_resume_sender(const char* name_or_url) {
    return runtime.setStopped(name_or_url, false);
}

int fake_ndi_set_failure(const char* call, int fail) {
    return runtime.setFailure(call, fail != 0);
}

void fake_ndi_set_max_wait_ms(int ms) {
    runtime.setMaxWaitMs(ms);
}

void fake_ndi_set_recv_counts(const FakeNdiRecvCounts* counts) {
    runtime.setRecvCounts(counts);
}

void fake_ndi_reset(void) {
    runtime.reset();
}

long long fake_ndi_counter(const char* name) {
    return runtime.counter(name);
}

unsigned fake_ndi_last_timeout(const char* call) {
    return runtime.lastTimeout(call);
}

int fake_ndi_last_find_settings(FakeNdiFindSettings* out) {
    return runtime.lastFindSettings(out) ? 1 : 0;
}

int fake_ndi_last_recv_settings(FakeNdiRecvSettings* out) {
    return runtime.lastRecvSettings(out) ? 1 : 0;
}

size_t fake_ndi_last_violation(char* buffer, size_t size) {
    return runtime.lastViolation(buffer, size);
}

}  // extern "C"

// The loader casts dlsym results to these types, so the definitions must match them exactly.
static_assert(std::is_same_v<decltype(&NDIlib_initialize), NDIlib_initialize_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_destroy), NDIlib_destroy_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_version), NDIlib_version_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_find_create_v2), NDIlib_find_create_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_find_destroy), NDIlib_find_destroy_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_find_wait_for_sources), NDIlib_find_wait_for_sources_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_find_get_current_sources), NDIlib_find_get_current_sources_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_create_v3), NDIlib_recv_create_v3_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_destroy), NDIlib_recv_destroy_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_capture_v2), NDIlib_recv_capture_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_free_video_v2), NDIlib_recv_free_video_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_capture_v3), NDIlib_recv_capture_v3_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_free_audio_v2), NDIlib_recv_free_audio_v2_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_free_audio_v3), NDIlib_recv_free_audio_v3_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_get_performance), NDIlib_recv_get_performance_fn>);
static_assert(std::is_same_v<decltype(&NDIlib_recv_get_queue), NDIlib_recv_get_queue_fn>);

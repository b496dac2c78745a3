#pragma once
// The part of the NDI runtime's C interface that Lumbrix uses, declared here from the
// SDK's published documentation: the structure layouts and calling conventions are the
// runtime's binary interface, so they must match it field for field. The runtime is
// loaded at run time (see NDIRuntime); nothing here links against it.
//
// The fake runtime in tests/ implements these same functions, so the declarations are
// plain C and shared by both sides.
#include <stdbool.h>
#include <stdint.h>

extern "C" {

typedef void* NDIlib_find_instance_t;
typedef void* NDIlib_recv_instance_t;

// A sender as the finder reports it. Both strings belong to the finder.
typedef struct NDIlib_source_t {
    const char* p_ndi_name;
    union {
        const char* p_url_address;
        const char* p_ip_address;
    };
} NDIlib_source_t;

typedef struct NDIlib_find_create_t {
    bool show_local_sources;
    const char* p_groups;     // null: the default groups
    const char* p_extra_ips;  // null: none
} NDIlib_find_create_t;

typedef enum NDIlib_recv_bandwidth_e {
    NDIlib_recv_bandwidth_metadata_only = -10,
    NDIlib_recv_bandwidth_audio_only = 10,
    NDIlib_recv_bandwidth_lowest = 0,
    NDIlib_recv_bandwidth_highest = 100,
    NDIlib_recv_bandwidth_max = 0x7fffffff
} NDIlib_recv_bandwidth_e;

typedef enum NDIlib_recv_color_format_e {
    NDIlib_recv_color_format_BGRX_BGRA = 0,
    NDIlib_recv_color_format_UYVY_BGRA = 1,
    NDIlib_recv_color_format_RGBX_RGBA = 2,
    NDIlib_recv_color_format_UYVY_RGBA = 3,
    NDIlib_recv_color_format_fastest = 100,
    NDIlib_recv_color_format_best = 101,
    NDIlib_recv_color_format_max = 0x7fffffff
} NDIlib_recv_color_format_e;

typedef struct NDIlib_recv_create_v3_t {
    NDIlib_source_t source_to_connect_to;
    NDIlib_recv_color_format_e color_format;
    NDIlib_recv_bandwidth_e bandwidth;
    bool allow_video_fields;
    const char* p_ndi_recv_name;  // null: the runtime names the receiver
} NDIlib_recv_create_v3_t;

typedef enum NDIlib_frame_type_e {
    NDIlib_frame_type_none = 0,
    NDIlib_frame_type_video = 1,
    NDIlib_frame_type_audio = 2,
    NDIlib_frame_type_metadata = 3,
    NDIlib_frame_type_error = 4,
    NDIlib_frame_type_status_change = 100,
    NDIlib_frame_type_max = 0x7fffffff
} NDIlib_frame_type_e;

#define LUMBRIX_NDI_FOURCC(a, b, c, d) \
    ((uint32_t)(uint8_t)(a) | ((uint32_t)(uint8_t)(b) << 8) | ((uint32_t)(uint8_t)(c) << 16) | ((uint32_t)(uint8_t)(d) << 24))

typedef enum NDIlib_FourCC_video_type_e {
    NDIlib_FourCC_video_type_UYVY = LUMBRIX_NDI_FOURCC('U', 'Y', 'V', 'Y'),
    NDIlib_FourCC_video_type_BGRA = LUMBRIX_NDI_FOURCC('B', 'G', 'R', 'A'),
    NDIlib_FourCC_video_type_BGRX = LUMBRIX_NDI_FOURCC('B', 'G', 'R', 'X'),
    NDIlib_FourCC_video_type_RGBA = LUMBRIX_NDI_FOURCC('R', 'G', 'B', 'A'),
    NDIlib_FourCC_video_type_RGBX = LUMBRIX_NDI_FOURCC('R', 'G', 'B', 'X'),
    NDIlib_FourCC_video_type_max = 0x7fffffff
} NDIlib_FourCC_video_type_e;

typedef enum NDIlib_frame_format_type_e {
    NDIlib_frame_format_type_interleaved = 0,
    NDIlib_frame_format_type_progressive = 1,
    NDIlib_frame_format_type_field_0 = 2,
    NDIlib_frame_format_type_field_1 = 3,
    NDIlib_frame_format_type_max = 0x7fffffff
} NDIlib_frame_format_type_e;

typedef struct NDIlib_video_frame_v2_t {
    int xres;
    int yres;
    NDIlib_FourCC_video_type_e FourCC;
    int frame_rate_N;
    int frame_rate_D;
    float picture_aspect_ratio;
    NDIlib_frame_format_type_e frame_format_type;
    int64_t timecode;  // 100 ns units
    uint8_t* p_data;
    union {
        int line_stride_in_bytes;
        int data_size_in_bytes;
    };
    const char* p_metadata;
    int64_t timestamp;  // 100 ns units
} NDIlib_video_frame_v2_t;

typedef enum NDIlib_FourCC_audio_type_e {
    NDIlib_FourCC_audio_type_FLTP = LUMBRIX_NDI_FOURCC('F', 'L', 'T', 'p'),  // planar 32-bit float
    NDIlib_FourCC_audio_type_max = 0x7fffffff
} NDIlib_FourCC_audio_type_e;

// Planar float: channel c starts at p_data + c * channel_stride_in_bytes.
typedef struct NDIlib_audio_frame_v2_t {
    int sample_rate;
    int no_channels;
    int no_samples;
    int64_t timecode;  // 100 ns units
    float* p_data;
    int channel_stride_in_bytes;
    const char* p_metadata;
    int64_t timestamp;  // 100 ns units
} NDIlib_audio_frame_v2_t;

typedef struct NDIlib_audio_frame_v3_t {
    int sample_rate;
    int no_channels;
    int no_samples;
    int64_t timecode;  // 100 ns units
    NDIlib_FourCC_audio_type_e FourCC;
    uint8_t* p_data;
    union {
        int channel_stride_in_bytes;  // planar formats
        int data_size_in_bytes;       // compressed formats
    };
    const char* p_metadata;
    int64_t timestamp;  // 100 ns units
} NDIlib_audio_frame_v3_t;

// Frames a receiver has taken in (total) and lost (dropped), by kind, since it connected.
typedef struct NDIlib_recv_performance_t {
    int64_t video_frames;
    int64_t audio_frames;
    int64_t metadata_frames;
} NDIlib_recv_performance_t;

// Frames waiting in a receiver's queue.
typedef struct NDIlib_recv_queue_t {
    int video_frames;
    int audio_frames;
    int metadata_frames;
} NDIlib_recv_queue_t;

// Metadata frames are never asked for; only pointers to them cross the API.
typedef struct NDIlib_metadata_frame_t NDIlib_metadata_frame_t;

// The entry points, by the names the runtime exports.
typedef bool (*NDIlib_initialize_fn)(void);
typedef void (*NDIlib_destroy_fn)(void);
typedef const char* (*NDIlib_version_fn)(void);
typedef NDIlib_find_instance_t (*NDIlib_find_create_v2_fn)(const NDIlib_find_create_t* p_create_settings);
typedef void (*NDIlib_find_destroy_fn)(NDIlib_find_instance_t p_instance);
typedef bool (*NDIlib_find_wait_for_sources_fn)(NDIlib_find_instance_t p_instance, uint32_t timeout_in_ms);
typedef const NDIlib_source_t* (*NDIlib_find_get_current_sources_fn)(NDIlib_find_instance_t p_instance,
                                                                     uint32_t* p_no_sources);
typedef NDIlib_recv_instance_t (*NDIlib_recv_create_v3_fn)(const NDIlib_recv_create_v3_t* p_create_settings);
typedef void (*NDIlib_recv_destroy_fn)(NDIlib_recv_instance_t p_instance);
typedef NDIlib_frame_type_e (*NDIlib_recv_capture_v2_fn)(NDIlib_recv_instance_t p_instance,
                                                          NDIlib_video_frame_v2_t* p_video_data,
                                                          NDIlib_audio_frame_v2_t* p_audio_data,
                                                          NDIlib_metadata_frame_t* p_metadata,
                                                          uint32_t timeout_in_ms);
typedef void (*NDIlib_recv_free_video_v2_fn)(NDIlib_recv_instance_t p_instance,
                                            const NDIlib_video_frame_v2_t* p_video_data);
typedef NDIlib_frame_type_e (*NDIlib_recv_capture_v3_fn)(NDIlib_recv_instance_t p_instance,
                                                          NDIlib_video_frame_v2_t* p_video_data,
                                                          NDIlib_audio_frame_v3_t* p_audio_data,
                                                          NDIlib_metadata_frame_t* p_metadata,
                                                          uint32_t timeout_in_ms);
typedef void (*NDIlib_recv_free_audio_v2_fn)(NDIlib_recv_instance_t p_instance,
                                            const NDIlib_audio_frame_v2_t* p_audio_data);
typedef void (*NDIlib_recv_free_audio_v3_fn)(NDIlib_recv_instance_t p_instance,
                                            const NDIlib_audio_frame_v3_t* p_audio_data);
typedef void (*NDIlib_recv_get_performance_fn)(NDIlib_recv_instance_t p_instance,
                                              NDIlib_recv_performance_t* p_total,
                                              NDIlib_recv_performance_t* p_dropped);
typedef void (*NDIlib_recv_get_queue_fn)(NDIlib_recv_instance_t p_instance, NDIlib_recv_queue_t* p_total);

}  // extern "C"

#include <cstddef>
static_assert(sizeof(NDIlib_source_t) == 2 * sizeof(void*));
static_assert(sizeof(void*) != 8 || (sizeof(NDIlib_video_frame_v2_t) == 72 &&
                                     offsetof(NDIlib_video_frame_v2_t, p_data) == 40 &&
                                     offsetof(NDIlib_video_frame_v2_t, line_stride_in_bytes) == 48 &&
                                     offsetof(NDIlib_recv_create_v3_t, color_format) == 16 &&
                                     sizeof(NDIlib_recv_create_v3_t) == 40 &&
                                     sizeof(NDIlib_audio_frame_v2_t) == 56 &&
                                     offsetof(NDIlib_audio_frame_v2_t, p_data) == 24 &&
                                     offsetof(NDIlib_audio_frame_v2_t, channel_stride_in_bytes) == 32 &&
                                     sizeof(NDIlib_audio_frame_v3_t) == 64 &&
                                     offsetof(NDIlib_audio_frame_v3_t, p_data) == 32 &&
                                     sizeof(NDIlib_recv_performance_t) == 24 && sizeof(NDIlib_recv_queue_t) == 12),
              "layout differs from the NDI runtime's on LP64");

#pragma once

/*
 * The part of librealsense2's C API that the RealSense camera calls.
 *
 * librealsense2 is loaded at run time, never linked, so the project declares the subset itself:
 * type names, enumeration values, record layouts and function signatures are those of
 * librealsense2's public C headers (include/librealsense2/h/rs_*.h). Values and layouts were
 * checked against release 2.53.1 (IntelRealSense/librealsense commit
 * 3371f4d6c80f37ccae1491d16f41b039f2049396) and later header revisions; every value below has been
 * unchanged since 2.50, because librealsense2 only appends to its enumerations.
 *
 * Large enumerations stop after the last member the camera uses; the members they keep form a
 * complete prefix of the original, so each value is its position in the original list.
 *
 * Plain C: the virtual RealSense device includes this header too and exports the same functions.
 */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The API version the camera asks for when it creates a context: 2.50.0 (major * 10000 +
 * minor * 100 + patch). */
#define KIRO_RS2_API_VERSION 25000

/* librealsense2's default timeout of rs2_pipeline_wait_for_frames (RS2_DEFAULT_TIMEOUT), ms. */
#define KIRO_RS2_DEFAULT_TIMEOUT 15000

/* Opaque handles (rs_types.h). */
typedef struct rs2_context rs2_context;
typedef struct rs2_pipeline rs2_pipeline;
typedef struct rs2_config rs2_config;
typedef struct rs2_pipeline_profile rs2_pipeline_profile;
typedef struct rs2_device rs2_device;
typedef struct rs2_device_list rs2_device_list;
typedef struct rs2_sensor rs2_sensor;
typedef struct rs2_sensor_list rs2_sensor_list;
typedef struct rs2_options rs2_options;
typedef struct rs2_stream_profile rs2_stream_profile;
typedef struct rs2_stream_profile_list rs2_stream_profile_list;
typedef struct rs2_frame rs2_frame;
typedef struct rs2_error rs2_error;

/* Milliseconds. */
typedef double rs2_time_t;
/* Frame metadata values are 64-bit signed integers. */
typedef long long rs2_metadata_type;

/* rs_types.h: categories of errors. */
typedef enum rs2_exception_type {
    RS2_EXCEPTION_TYPE_UNKNOWN = 0,
    RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED = 1,
    RS2_EXCEPTION_TYPE_BACKEND = 2,
    RS2_EXCEPTION_TYPE_INVALID_VALUE = 3,
    RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE = 4,
    RS2_EXCEPTION_TYPE_NOT_IMPLEMENTED = 5,
    RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE = 6,
    RS2_EXCEPTION_TYPE_IO = 7,
    RS2_EXCEPTION_TYPE_COUNT = 8
} rs2_exception_type;

/* rs_types.h: how pixel coordinates map to normalised sensor coordinates. */
typedef enum rs2_distortion {
    RS2_DISTORTION_NONE = 0,
    RS2_DISTORTION_MODIFIED_BROWN_CONRADY = 1,
    RS2_DISTORTION_INVERSE_BROWN_CONRADY = 2,
    RS2_DISTORTION_FTHETA = 3,
    RS2_DISTORTION_BROWN_CONRADY = 4,
    RS2_DISTORTION_KANNALA_BRANDT4 = 5,
    RS2_DISTORTION_COUNT = 6
} rs2_distortion;

/* rs_types.h: video stream intrinsics. coeffs holds [k1, k2, p1, p2, k3] for the Brown-Conrady
 * models, [k1, k2, k3, k4, 0] for Kannala-Brandt and the field of view w in coeffs[0] for
 * F-Theta. */
typedef struct rs2_intrinsics {
    int width;
    int height;
    float ppx;
    float ppy;
    float fx;
    float fy;
    rs2_distortion model;
    float coeffs[5];
} rs2_intrinsics;

/* rs_types.h: capabilities a handle can be extended to (prefix up to VIDEO_PROFILE). */
typedef enum rs2_extension {
    RS2_EXTENSION_UNKNOWN = 0,
    RS2_EXTENSION_DEBUG = 1,
    RS2_EXTENSION_INFO = 2,
    RS2_EXTENSION_MOTION = 3,
    RS2_EXTENSION_OPTIONS = 4,
    RS2_EXTENSION_VIDEO = 5,
    RS2_EXTENSION_ROI = 6,
    RS2_EXTENSION_DEPTH_SENSOR = 7,
    RS2_EXTENSION_VIDEO_FRAME = 8,
    RS2_EXTENSION_MOTION_FRAME = 9,
    RS2_EXTENSION_COMPOSITE_FRAME = 10,
    RS2_EXTENSION_POINTS = 11,
    RS2_EXTENSION_DEPTH_FRAME = 12,
    RS2_EXTENSION_ADVANCED_MODE = 13,
    RS2_EXTENSION_RECORD = 14,
    RS2_EXTENSION_VIDEO_PROFILE = 15
} rs2_extension;

/* rs_sensor.h: read-only device information (prefix up to PRODUCT_LINE). */
typedef enum rs2_camera_info {
    RS2_CAMERA_INFO_NAME = 0,
    RS2_CAMERA_INFO_SERIAL_NUMBER = 1,
    RS2_CAMERA_INFO_FIRMWARE_VERSION = 2,
    RS2_CAMERA_INFO_RECOMMENDED_FIRMWARE_VERSION = 3,
    RS2_CAMERA_INFO_PHYSICAL_PORT = 4,
    RS2_CAMERA_INFO_DEBUG_OP_CODE = 5,
    RS2_CAMERA_INFO_ADVANCED_MODE = 6,
    RS2_CAMERA_INFO_PRODUCT_ID = 7,
    RS2_CAMERA_INFO_CAMERA_LOCKED = 8,
    RS2_CAMERA_INFO_USB_TYPE_DESCRIPTOR = 9,
    RS2_CAMERA_INFO_PRODUCT_LINE = 10
} rs2_camera_info;

/* rs_sensor.h: stream types (complete as of 2.50-2.53). */
typedef enum rs2_stream {
    RS2_STREAM_ANY = 0,
    RS2_STREAM_DEPTH = 1,
    RS2_STREAM_COLOR = 2,
    RS2_STREAM_INFRARED = 3,
    RS2_STREAM_FISHEYE = 4,
    RS2_STREAM_GYRO = 5,
    RS2_STREAM_ACCEL = 6,
    RS2_STREAM_GPIO = 7,
    RS2_STREAM_POSE = 8,
    RS2_STREAM_CONFIDENCE = 9,
    RS2_STREAM_COUNT = 10
} rs2_stream;

/* rs_sensor.h: pixel and data formats (prefix up to Y8). */
typedef enum rs2_format {
    RS2_FORMAT_ANY = 0,
    RS2_FORMAT_Z16 = 1,
    RS2_FORMAT_DISPARITY16 = 2,
    RS2_FORMAT_XYZ32F = 3,
    RS2_FORMAT_YUYV = 4,
    RS2_FORMAT_RGB8 = 5,
    RS2_FORMAT_BGR8 = 6,
    RS2_FORMAT_RGBA8 = 7,
    RS2_FORMAT_BGRA8 = 8,
    RS2_FORMAT_Y8 = 9
} rs2_format;

/* rs_option.h: sensor options (prefix up to GLOBAL_TIME_ENABLED). */
typedef enum rs2_option {
    RS2_OPTION_BACKLIGHT_COMPENSATION = 0,
    RS2_OPTION_BRIGHTNESS = 1,
    RS2_OPTION_CONTRAST = 2,
    RS2_OPTION_EXPOSURE = 3,
    RS2_OPTION_GAIN = 4,
    RS2_OPTION_GAMMA = 5,
    RS2_OPTION_HUE = 6,
    RS2_OPTION_SATURATION = 7,
    RS2_OPTION_SHARPNESS = 8,
    RS2_OPTION_WHITE_BALANCE = 9,
    RS2_OPTION_ENABLE_AUTO_EXPOSURE = 10,
    RS2_OPTION_ENABLE_AUTO_WHITE_BALANCE = 11,
    RS2_OPTION_VISUAL_PRESET = 12,
    RS2_OPTION_LASER_POWER = 13,
    RS2_OPTION_ACCURACY = 14,
    RS2_OPTION_MOTION_RANGE = 15,
    RS2_OPTION_FILTER_OPTION = 16,
    RS2_OPTION_CONFIDENCE_THRESHOLD = 17,
    RS2_OPTION_EMITTER_ENABLED = 18,
    RS2_OPTION_FRAMES_QUEUE_SIZE = 19,
    RS2_OPTION_TOTAL_FRAME_DROPS = 20,
    RS2_OPTION_AUTO_EXPOSURE_MODE = 21,
    RS2_OPTION_POWER_LINE_FREQUENCY = 22,
    RS2_OPTION_ASIC_TEMPERATURE = 23,
    RS2_OPTION_ERROR_POLLING_ENABLED = 24,
    RS2_OPTION_PROJECTOR_TEMPERATURE = 25,
    RS2_OPTION_OUTPUT_TRIGGER_ENABLED = 26,
    RS2_OPTION_MOTION_MODULE_TEMPERATURE = 27,
    RS2_OPTION_DEPTH_UNITS = 28,
    RS2_OPTION_ENABLE_MOTION_CORRECTION = 29,
    RS2_OPTION_AUTO_EXPOSURE_PRIORITY = 30,
    RS2_OPTION_COLOR_SCHEME = 31,
    RS2_OPTION_HISTOGRAM_EQUALIZATION_ENABLED = 32,
    RS2_OPTION_MIN_DISTANCE = 33,
    RS2_OPTION_MAX_DISTANCE = 34,
    RS2_OPTION_TEXTURE_SOURCE = 35,
    RS2_OPTION_FILTER_MAGNITUDE = 36,
    RS2_OPTION_FILTER_SMOOTH_ALPHA = 37,
    RS2_OPTION_FILTER_SMOOTH_DELTA = 38,
    RS2_OPTION_HOLES_FILL = 39,
    RS2_OPTION_STEREO_BASELINE = 40,
    RS2_OPTION_AUTO_EXPOSURE_CONVERGE_STEP = 41,
    RS2_OPTION_INTER_CAM_SYNC_MODE = 42,
    RS2_OPTION_STREAM_FILTER = 43,
    RS2_OPTION_STREAM_FORMAT_FILTER = 44,
    RS2_OPTION_STREAM_INDEX_FILTER = 45,
    RS2_OPTION_EMITTER_ON_OFF = 46,
    RS2_OPTION_ZERO_ORDER_POINT_X = 47,
    RS2_OPTION_ZERO_ORDER_POINT_Y = 48,
    RS2_OPTION_LLD_TEMPERATURE = 49,
    RS2_OPTION_MC_TEMPERATURE = 50,
    RS2_OPTION_MA_TEMPERATURE = 51,
    RS2_OPTION_HARDWARE_PRESET = 52,
    RS2_OPTION_GLOBAL_TIME_ENABLED = 53
} rs2_option;

/* rs_frame.h: clocks a frame timestamp can be measured in (complete). */
typedef enum rs2_timestamp_domain {
    RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK = 0,
    RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME = 1,
    RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME = 2,
    RS2_TIMESTAMP_DOMAIN_COUNT = 3
} rs2_timestamp_domain;

/* rs_frame.h: per-frame metadata (prefix up to SENSOR_TIMESTAMP); timestamps in microseconds. */
typedef enum rs2_frame_metadata_value {
    RS2_FRAME_METADATA_FRAME_COUNTER = 0,
    RS2_FRAME_METADATA_FRAME_TIMESTAMP = 1,
    RS2_FRAME_METADATA_SENSOR_TIMESTAMP = 2
} rs2_frame_metadata_value;

/*
 * The functions, one X(returnType, name, (parameters)) entry each, with the signatures of
 * librealsense2's headers. Every function with an rs2_error** parameter stores a new error there
 * on failure (the caller frees it with rs2_free_error) and leaves it untouched on success.
 */
#define KIRO_RS2_FUNCTIONS(X)                                                                      \
    /* rs_context.h */                                                                             \
    X(rs2_context*, rs2_create_context, (int api_version, rs2_error** error))                      \
    X(void, rs2_delete_context, (rs2_context* context))                                            \
    X(rs2_device_list*, rs2_query_devices, (const rs2_context* context, rs2_error** error))        \
    /* rs_pipeline.h */                                                                            \
    X(rs2_pipeline*, rs2_create_pipeline, (rs2_context* ctx, rs2_error** error))                   \
    X(void, rs2_delete_pipeline, (rs2_pipeline* pipe))                                             \
    X(rs2_pipeline_profile*, rs2_pipeline_start_with_config,                                       \
      (rs2_pipeline* pipe, rs2_config* config, rs2_error** error))                                 \
    X(rs2_pipeline_profile*, rs2_pipeline_get_active_profile,                                      \
      (rs2_pipeline* pipe, rs2_error** error))                                                     \
    X(rs2_device*, rs2_pipeline_profile_get_device,                                                \
      (rs2_pipeline_profile* profile, rs2_error** error))                                          \
    X(rs2_stream_profile_list*, rs2_pipeline_profile_get_streams,                                  \
      (rs2_pipeline_profile* profile, rs2_error** error))                                          \
    X(void, rs2_delete_pipeline_profile, (rs2_pipeline_profile* profile))                          \
    X(rs2_frame*, rs2_pipeline_wait_for_frames,                                                    \
      (rs2_pipeline* pipe, unsigned int timeout_ms, rs2_error** error))                            \
    /* rs_config.h */                                                                              \
    X(rs2_config*, rs2_create_config, (rs2_error** error))                                         \
    X(void, rs2_delete_config, (rs2_config* config))                                               \
    X(void, rs2_config_enable_stream,                                                              \
      (rs2_config* config, rs2_stream stream, int index, int width, int height,                    \
       rs2_format format, int framerate, rs2_error** error))                                       \
    /* rs_device.h */                                                                              \
    X(int, rs2_get_device_count, (const rs2_device_list* info_list, rs2_error** error))            \
    X(void, rs2_delete_device_list, (rs2_device_list* info_list))                                  \
    X(rs2_device*, rs2_create_device,                                                              \
      (const rs2_device_list* info_list, int index, rs2_error** error))                            \
    X(int, rs2_supports_device_info,                                                               \
      (const rs2_device* device, rs2_camera_info info, rs2_error** error))                         \
    X(const char*, rs2_get_device_info,                                                            \
      (const rs2_device* device, rs2_camera_info info, rs2_error** error))                         \
    X(rs2_sensor_list*, rs2_query_sensors, (const rs2_device* device, rs2_error** error))          \
    X(void, rs2_delete_device, (rs2_device* device))                                               \
    /* rs_sensor.h */                                                                              \
    X(int, rs2_get_sensors_count, (const rs2_sensor_list* info_list, rs2_error** error))           \
    X(rs2_sensor*, rs2_create_sensor,                                                              \
      (const rs2_sensor_list* list, int index, rs2_error** error))                                 \
    X(void, rs2_delete_sensor_list, (rs2_sensor_list* info_list))                                  \
    X(void, rs2_delete_sensor, (rs2_sensor* sensor))                                               \
    X(int, rs2_is_sensor_extendable_to,                                                            \
      (const rs2_sensor* sensor, rs2_extension extension, rs2_error** error))                      \
    X(int, rs2_get_stream_profiles_count,                                                          \
      (const rs2_stream_profile_list* list, rs2_error** error))                                    \
    X(const rs2_stream_profile*, rs2_get_stream_profile,                                           \
      (const rs2_stream_profile_list* list, int index, rs2_error** error))                         \
    X(void, rs2_delete_stream_profiles_list, (rs2_stream_profile_list* list))                      \
    X(void, rs2_get_stream_profile_data,                                                           \
      (const rs2_stream_profile* mode, rs2_stream* stream, rs2_format* format, int* index,         \
       int* unique_id, int* framerate, rs2_error** error))                                         \
    X(int, rs2_stream_profile_is,                                                                  \
      (const rs2_stream_profile* mode, rs2_extension type, rs2_error** error))                     \
    X(void, rs2_get_video_stream_intrinsics,                                                       \
      (const rs2_stream_profile* mode, rs2_intrinsics* intrinsics, rs2_error** error))             \
    /* rs_option.h; a sensor handle is passed as its options container */                          \
    X(int, rs2_supports_option,                                                                    \
      (const rs2_options* options, rs2_option option, rs2_error** error))                          \
    X(void, rs2_set_option,                                                                        \
      (const rs2_options* options, rs2_option option, float value, rs2_error** error))             \
    /* rs_frame.h */                                                                               \
    X(int, rs2_is_frame_extendable_to,                                                             \
      (const rs2_frame* frame, rs2_extension extension_type, rs2_error** error))                   \
    X(int, rs2_embedded_frames_count, (rs2_frame* composite, rs2_error** error))                   \
    X(rs2_frame*, rs2_extract_frame, (rs2_frame* composite, int index, rs2_error** error))         \
    X(const rs2_stream_profile*, rs2_get_frame_stream_profile,                                     \
      (const rs2_frame* frame, rs2_error** error))                                                 \
    X(void, rs2_frame_add_ref, (rs2_frame* frame, rs2_error** error))                              \
    X(void, rs2_release_frame, (rs2_frame* frame))                                                 \
    X(rs2_time_t, rs2_get_frame_timestamp, (const rs2_frame* frame, rs2_error** error))            \
    X(rs2_timestamp_domain, rs2_get_frame_timestamp_domain,                                        \
      (const rs2_frame* frameset, rs2_error** error))                                              \
    X(int, rs2_supports_frame_metadata,                                                            \
      (const rs2_frame* frame, rs2_frame_metadata_value frame_metadata, rs2_error** error))        \
    X(rs2_metadata_type, rs2_get_frame_metadata,                                                   \
      (const rs2_frame* frame, rs2_frame_metadata_value frame_metadata, rs2_error** error))        \
    X(int, rs2_get_frame_width, (const rs2_frame* frame, rs2_error** error))                       \
    X(int, rs2_get_frame_height, (const rs2_frame* frame, rs2_error** error))                      \
    X(const void*, rs2_get_frame_data, (const rs2_frame* frame, rs2_error** error))                \
    /* rs.h */                                                                                     \
    X(float, rs2_depth_frame_get_distance,                                                         \
      (const rs2_frame* frame_ref, int x, int y, rs2_error** error))                               \
    X(rs2_time_t, rs2_get_time, (rs2_error** error))                                               \
    X(int, rs2_get_api_version, (rs2_error** error))                                               \
    /* rs_types.h */                                                                               \
    X(const char*, rs2_get_error_message, (const rs2_error* error))                                \
    X(const char*, rs2_get_failed_function, (const rs2_error* error))                              \
    X(const char*, rs2_get_failed_args, (const rs2_error* error))                                  \
    X(rs2_exception_type, rs2_get_librealsense_exception_type, (const rs2_error* error))           \
    X(void, rs2_free_error, (rs2_error* error))

/* kiro_<name>_fn: pointer type of each function of the list. */
#define KIRO_RS2_DECLARE_FUNCTION_POINTER(returnType, name, parameters) \
    typedef returnType(*kiro_##name##_fn) parameters;
KIRO_RS2_FUNCTIONS(KIRO_RS2_DECLARE_FUNCTION_POINTER)
#undef KIRO_RS2_DECLARE_FUNCTION_POINTER

#ifdef __cplusplus
}  // extern "C"
#endif

/* The intrinsics cross the library boundary by pointer, so their layout must match exactly. */
#if defined(__cplusplus)
static_assert(sizeof(rs2_intrinsics) == 48, "rs2_intrinsics layout");
static_assert(offsetof(rs2_intrinsics, width) == 0, "rs2_intrinsics layout");
static_assert(offsetof(rs2_intrinsics, height) == 4, "rs2_intrinsics layout");
static_assert(offsetof(rs2_intrinsics, ppx) == 8, "rs2_intrinsics layout");
static_assert(offsetof(rs2_intrinsics, ppy) == 12, "rs2_intrinsics layout");
static_assert(offsetof(rs2_intrinsics, fx) == 16, "rs2_intrinsics layout");
static_assert(offsetof(rs2_intrinsics, fy) == 20, "rs2_intrinsics layout");
static_assert(offsetof(rs2_intrinsics, model) == 24, "rs2_intrinsics layout");
static_assert(offsetof(rs2_intrinsics, coeffs) == 28, "rs2_intrinsics layout");
static_assert(sizeof(rs2_distortion) == sizeof(int), "enumerations are passed as int");
static_assert(sizeof(rs2_option) == sizeof(int), "enumerations are passed as int");
#else
/* C99 has no static_assert: a negative array size fails the build instead. */
typedef char kiro_rs2_intrinsics_size_check[sizeof(rs2_intrinsics) == 48 ? 1 : -1];
typedef char kiro_rs2_intrinsics_model_check[offsetof(rs2_intrinsics, model) == 24 ? 1 : -1];
typedef char kiro_rs2_intrinsics_coeffs_check[offsetof(rs2_intrinsics, coeffs) == 28 ? 1 : -1];
#endif

// The subset is complete.

#pragma once

/*
 * The virtual RealSense device: a shared library (kiroVirtualRealsense.so / .dll) that exports
 * librealsense2's C API subset of voveDizevuro/camera/realsenseApi.h and simulates a D400-series
 * camera behind it, plus the control functions below with which a test or tool describes the
 * scene, injects faults and reads back what the camera did.
 *
 * A test links the library and also points KIRO_REALSENSE2_LIBRARY at the same file, so the
 * camera's run-time loaded copy is the same module with the same state. Every function is
 * thread-safe: one mutex guards the device.
 *
 * The device:
 * - one D400 device, which rs2_query_devices lists, with one sensor, the "Stereo Module" (a depth
 *   sensor) streaming depth (Z16, index 0) and infrared (Y8, index 1 left and 2 right) in one
 *   shared mode: 1280x720 at 6, 15, 30 fps; 848x480, 640x480, 640x360, 480x270, 424x240 at 6,
 *   15, 30, 60, 90 fps. Wildcards (index -1, width/height/fps 0, RS2_FORMAT_ANY) resolve to the
 *   first mode in the order 848x480, 1280x720, 640x480, 640x360, 480x270, 424x240 and 30, 60, 90,
 *   15, 6 fps that fits every request; a config without requests streams depth and infrared 1 at
 *   848x480, 30 fps.
 * - options of the depth sensor (range, step, default): RS2_OPTION_EXPOSURE 1..165000 step 1
 *   (8500), RS2_OPTION_GAIN 16..248 step 1 (16), RS2_OPTION_ENABLE_AUTO_EXPOSURE 0..1 (1),
 *   RS2_OPTION_EMITTER_ENABLED 0..2 (1), RS2_OPTION_GLOBAL_TIME_ENABLED 0..1 (1). Values outside
 *   the range or off the step raise RS2_EXCEPTION_TYPE_INVALID_VALUE; as on D400 devices,
 *   setting exposure or gain switches auto exposure off.
 * - clock: the device's frame counter and scene clock start at 0 at reset and advance with every
 *   frame set delivered, by one frame period of the streaming mode. Frame n of a mode at f fps
 *   has scene time n * 1000 / f ms (from the frame where the rate last changed). Its metadata
 *   RS2_FRAME_METADATA_FRAME_COUNTER is n, RS2_FRAME_METADATA_FRAME_TIMESTAMP is the hardware
 *   clock in us (hardware base + scene time) and RS2_FRAME_METADATA_SENSOR_TIMESTAMP is that
 *   plus the sensor offset (-1500 us by default). rs2_get_frame_timestamp gives, in the
 *   RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME domain (global time option 1), global base + scene time
 *   in ms; in RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK (option 0) the frame timestamp metadata / 1000.
 *   rs2_get_time returns the simulated host clock: global base + scene time of the latest frame
 *   set delivered (the base before the first).
 * - pacing: by default rs2_pipeline_wait_for_frames blocks until the next frame is due in real
 *   time and, like a camera, skips frames the caller was too late for; with real time off it
 *   returns the next frame at once and never skips, so the frame sequence is deterministic.
 * - intrinsics: fx 425.7, fy 425.3, ppx 422.6, ppy 241.4 at 848x480 (settable with
 *   kiroVirtualRealsenseSetIntrinsics), scaled by height / 480 and centred for the other modes;
 *   Brown-Conrady model with coefficients {0.03, -0.05, 0.0008, -0.0006, 0.01} by default. Depth
 *   is aligned with infrared 1; infrared 2 sees the scene from 50 mm further along x. Depth units
 *   are 0.001 m.
 * - scene: faces on scripted paths with a head pose, and occluders. In the infrared image a face
 *   is a head ellipse with nose, mouth and dark eye sockets (or only its eyes) on the face's
 *   plane, seen in perspective, and its two eyes are discs of value 255 in the image at the
 *   projected eye centres (pixel centres at integer coordinates); no other pixel reaches 255. A
 *   face with a photo shows the photo on the face's plane instead. A face whose plane the camera
 *   sees from behind shows the bare head ellipse (skin grey; nothing for the eyes-only pattern).
 *   In the depth image the head ellipse holds the depth of the face's plane, pixel by pixel;
 *   farther faces and occluders are drawn first (ordered by the depth of the eye midpoint and of
 *   the occluder's centre), nearer ones cover them.
 *
 * Functions returning int return 0 (or a count or index) on success and -1 for invalid arguments.
 */

#include "voveDizevuro/camera/realsenseApi.h"

#if defined(_WIN32)
#if defined(KIRO_VIRTUAL_REALSENSE_BUILDING)
#define KIRO_VIRTUAL_REALSENSE_API __declspec(dllexport)
#else
#define KIRO_VIRTUAL_REALSENSE_API __declspec(dllimport)
#endif
#else
#define KIRO_VIRTUAL_REALSENSE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The librealsense2 functions of the subset, exported with the signatures of realsenseApi.h. */
#define KIRO_VIRTUAL_REALSENSE_DECLARE_RS2(returnType, name, parameters) \
    KIRO_VIRTUAL_REALSENSE_API returnType name parameters;
KIRO_RS2_FUNCTIONS(KIRO_VIRTUAL_REALSENSE_DECLARE_RS2)
#undef KIRO_VIRTUAL_REALSENSE_DECLARE_RS2

/* ---- Set-up ---------------------------------------------------------------------------------- */

/* Back to the defaults: empty scene, no faults, default options, clock, intrinsics and bases,
 * real-time pacing, zeroed call counts and logs. Live handles are the caller's and stay alive. */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseReset(void);

/* 1 (default): frames paced in real time; 0: as fast as possible, no frames skipped. */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseSetRealTime(int enabled);

/* Global time of scene time 0, ms (default 1700000000000, a host-clock-like value). */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseSetGlobalTimeBase(double ms);
/* Hardware clock of scene time 0, us (default 5000000). */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseSetHardwareClockBase(long long us);
/* Sensor timestamp minus frame timestamp in the metadata, us (default -1500). */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseSetSensorTimestampOffset(long long us);

/* Distortion model and coefficients of every mode: RS2_DISTORTION_NONE,
 * RS2_DISTORTION_MODIFIED_BROWN_CONRADY or RS2_DISTORTION_BROWN_CONRADY; -1 for other models. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseSetDistortion(rs2_distortion model, const float coeffs[5]);
/* The intrinsics the device reports for a mode; -1 when the device has no such mode. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseGetIntrinsics(int width, int height, rs2_intrinsics* intrinsics);
/* Where the device draws a camera-space point (any unit, z > 0) in a mode, with the same
 * projection as librealsense2's rs2_project_point_to_pixel; -1 for an unknown mode. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseProjectPoint(int width, int height, const float point[3],
                                                                float pixel[2]);

/* What rs2_get_device_info reports for RS2_CAMERA_INFO_NAME (default "Intel RealSense D435") and
 * RS2_CAMERA_INFO_PRODUCT_LINE (default "D400"); the serial number is "000000000001" and the
 * product id "0B07". Both texts copied; -1 when either is null. Devices listed afterwards report
 * them. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseSetDeviceInfo(const char* name, const char* productLine);

/* ---- Scene ----------------------------------------------------------------------------------- */

/* One point of a face's path: at scene time timeMs the eye midpoint is at (x, y, z), camera
 * space in mm (x along columns, y down the rows, z away from the camera), and the eyes are
 * interocularDistance mm apart along x. Between keyframes the path is linear; before the first
 * and after the last it stays put. */
typedef struct kiroVirtualRealsenseKeyframe {
    double timeMs;
    float x;
    float y;
    float z;
    float interocularDistance;
    /* Head pose in radians, turned about the eye midpoint; linear between keyframes. At 0 the
     * face looks straight at the camera, its eyes along x. The face is turned by roll about the
     * camera's z axis first, then by pitch about its x axis, then by yaw about its y axis
     * (R = Ry(yaw) Rx(pitch) Rz(roll), right-handed in camera space; the eyes are at
     * midpoint + R (-d/2, 0, 0) and midpoint + R (d/2, 0, 0)): a positive yaw moves the eye at
     * the larger x towards the camera, a positive pitch turns the face downwards (its chin away
     * from the camera) and a positive roll moves the eye at the larger x down the image. */
    float yaw;
    float pitch;
    float roll;
} kiroVirtualRealsenseKeyframe;

typedef enum kiroVirtualRealsenseFacePattern {
    /* Head ellipse (grey), nose, mouth, dark eye sockets and bright eyes. */
    KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL = 0,
    /* Only the two bright eye discs on the background. */
    KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_EYES_ONLY = 1
} kiroVirtualRealsenseFacePattern;

typedef struct kiroVirtualRealsenseFace {
    /* A kiroVirtualRealsenseFacePattern; an int so that any value a caller passes is checked. */
    int pattern;
    /* The face is in the scene from appearMs (inclusive) until disappearMs (exclusive); a
     * negative disappearMs keeps it for ever. */
    double appearMs;
    double disappearMs;
    /* At least one keyframe, times strictly increasing, z > 0, interocular distance > 0. The
     * keyframes are copied. */
    const kiroVirtualRealsenseKeyframe* keyframes;
    int keyframeCount;
} kiroVirtualRealsenseFace;

/* Adds a face; returns its index (0, 1, ...) or -1 when the description is invalid. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseAddFace(const kiroVirtualRealsenseFace* face);
/* Shows face `face` as a grey photograph (rows of `width` bytes, top row first; copied) instead
 * of its pattern. The photo lies on the face's plane with its eye centres eye1 (the eye at the
 * smaller column) and eye2, in photo pixels with pixel centres at integer coordinates, on the
 * face's eyes: eye1 on the eye at -d/2 along the face's x axis, eye2 on the one at +d/2 (so the
 * photo is scaled to the interocular distance and turned so that its eye line lies along the
 * face's x; photo columns run along the face's x, rows down the face). It is seen in perspective
 * inside the head ellipse, sampled bilinearly; skin grey where the ellipse reaches beyond the
 * photo. No disc is drawn on its eyes, so nothing reaches 255 unless the photo does. -1 for an
 * unknown face, a photo smaller than 2x2, or eyes that are not finite or less than 2 pixels
 * apart. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseSetFacePhoto(int face, const unsigned char* pixels, int width,
                                                                int height, const float eye1[2], const float eye2[2]);
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseClearScene(void);
/* Infrared grey level 0..254 (default 40) and depth in mm 0..65535 (0: no data; default 3000)
 * of everything that is neither a face nor an occluder. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseSetBackground(int infraredLevel, int depthMm);

/* Draws glasses on face `face` (1) or none (0, the default): dark rims (level 25, outer radius
 * 0.45 interocular distances, about 4 mm wide) round both eyes joined by a bridge, and a bright
 * reflection (level 240) on the lens of the eye at +d/2 along the face's x, on the face's plane
 * so that they turn with it; over the photo of a photo face. -1 for an unknown face. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseSetFaceGlasses(int face, int enabled);

/* One point of an occluder's path: its centre at scene time timeMs, camera space in mm. */
typedef struct kiroVirtualRealsenseOccluderKeyframe {
    double timeMs;
    float x;
    float y;
    float z;
} kiroVirtualRealsenseOccluderKeyframe;

/* An opaque shape about the size of a hand: an upright ellipse of width x height mm on a plane
 * facing the camera (constant z), of one infrared level, at its depth in the depth image. Drawn
 * with the faces, farther first; ClearScene removes occluders too. */
typedef struct kiroVirtualRealsenseOccluder {
    float width;        /* mm, > 0 */
    float height;       /* mm, > 0 */
    int infraredLevel;  /* 0..254 */
    double appearMs;    /* in the scene from appearMs (inclusive) until disappearMs (exclusive); */
    double disappearMs; /* a negative disappearMs keeps it for ever */
    /* At least one keyframe, times strictly increasing, z > 0; linear between them. Copied. */
    const kiroVirtualRealsenseOccluderKeyframe* keyframes;
    int keyframeCount;
} kiroVirtualRealsenseOccluder;

/* Adds an occluder; returns its index (0, 1, ...) or -1 when the description is invalid. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseAddOccluder(const kiroVirtualRealsenseOccluder* occluder);

/* How the infrared sensor sees the scene. Applied to both infrared images after drawing, in this
 * order: levels times gain, the emitter's speckle (while RS2_OPTION_EMITTER_ENABLED is not 0),
 * then sensor noise; results rounded and clamped to 0..254. Level 255 is neither made nor
 * changed, so the eye discs of drawn faces stay the only pixels at 255 unless a photo has them.
 * Noise and speckle come from `seed` alone: the speckle is a fixed pattern of dots on about 3 %
 * of the pixels (another one for each imager), the noise (close to Gaussian) differs from frame
 * to frame and between the imagers, but frame n of a scene has the same noise in every run. */
typedef struct kiroVirtualRealsenseAppearance {
    float gain;    /* > 0; 1 leaves levels as drawn (default) */
    float noise;   /* standard deviation of the sensor noise in grey levels, >= 0 (default 0) */
    float speckle; /* brightness added by one emitter dot, grey levels >= 0 (default 0) */
    unsigned int seed;
} kiroVirtualRealsenseAppearance;

/* -1 when a value is out of range or not finite. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseSetAppearance(const kiroVirtualRealsenseAppearance* appearance);

/* Another camera's projector lights the scene (1) or not (0, the default): the speckle shows
 * whatever RS2_OPTION_EMITTER_ENABLED says, as when a second depth camera faces the same room
 * while this one keeps its own emitter off. */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseSetOtherProjector(int enabled);

/* Focal lengths and principal point of the 848x480 modes in pixels (default fx 425.7, fy 425.3,
 * ppx 422.6, ppy 241.4); other modes scale them as documented above. Like the distortion, they
 * apply to pipelines started afterwards. -1 unless fx and fy are positive and all four finite. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseSetIntrinsics(float fx, float fy, float ppx, float ppy);

typedef struct kiroVirtualRealsenseEyes {
    int visible;   /* 1 when the face is in the scene at that time */
    float left[3]; /* centre of the eye at -d/2 along the face's x axis (a photo's eye1), camera
                      space, mm: the one with the smaller x (image left) unless the head is
                      turned far */
    float right[3];
} kiroVirtualRealsenseEyes;

/* The eyes of face `face` at a scene time; -1 for an unknown face. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseGetEyes(int face, double sceneTimeMs,
                                                           kiroVirtualRealsenseEyes* eyes);

/* What the first infrared image of a mode, with the device's current intrinsics, shows of a face
 * at a scene time. The eye pixels are the pixels nearest to the projected eye centres. */
typedef struct kiroVirtualRealsenseFaceView {
    int present;        /* 1 when the face is in the scene at that time */
    int inView;         /* present, both eye centres in front of the camera with their pixels inside
                           the image, and the camera sees the front of the face's plane */
    int occluded;       /* present and an occluder or a face drawn after it (nearer) covers either
                           eye pixel, exactly as the image is drawn */
    float leftPixel[2]; /* where the eye of kiroVirtualRealsenseEyes.left is drawn, pixels */
    float rightPixel[2];
} kiroVirtualRealsenseFaceView;

/* -1 for an unknown face or mode. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseGetFaceView(int face, double sceneTimeMs, int width, int height,
                                                               kiroVirtualRealsenseFaceView* view);

/* ---- Faults ---------------------------------------------------------------------------------- */

/* No camera: rs2_query_devices lists no device and rs2_pipeline_start_with_config raises
 * "No device connected". */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultNoDevice(int enabled);
/* The camera is listed but another process holds it: rs2_pipeline_start_with_config raises
 * RS2_EXCEPTION_TYPE_BACKEND "xioctl(VIDIOC_S_FMT) failed, errno=16 Last Error: Device or resource
 * busy". */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultDeviceBusy(int enabled);
/* Programs that reach the device only through librealsense2's functions (the tracking tool's
 * camera source in its tests) set faults with the environment variable
 * KIRO_VIRTUAL_REALSENSE_FAULTS, a comma-separated list of "no-device" and "device-busy", read
 * when the library loads and at every reset. */
/* The depth sensor lacks RS2_OPTION_EMITTER_ENABLED. */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultNoEmitterOption(int enabled);
/* Frame sets n with n % period == period - 1 (the period-th, 2*period-th, ...) lack their
 * infrared frames; 0 turns it off. */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultMissingInfraredEvery(int period);
/* The frame set with this frame number lacks its infrared frames (adds to earlier calls). */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultMissingInfraredInFrame(long long frameNumber);
/* Once afterFrameSets frame sets were delivered, the next `count` waits (every wait when count
 * is negative; none when 0) raise librealsense2's timeout, "Frame didn't arrive within <timeout>"
 * (RS2_EXCEPTION_TYPE_UNKNOWN, a recoverable error), without consuming a frame. The wait is not
 * really taken: such a call returns at once, or after one frame period when pacing in real time
 * so that a retrying loop does not spin. */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultTimeouts(int afterFrameSets, int count);
/* The first wait after frameSets frame sets were delivered finds the device gone: it and every
 * later wait raise RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED "Device disconnected" (unrecoverable),
 * and starting a pipeline then raises "No device connected", until reset. Negative: never. */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultDisconnectAfter(int frameSets);
/* The API version the library reports (default KIRO_RS2_API_VERSION). rs2_create_context
 * refuses an incompatible caller version as librealsense2 does: different major, or a caller
 * minor above the library's, raises RS2_EXCEPTION_TYPE_INVALID_VALUE "API version mismatch: ...". */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultApiVersion(int runtimeApiVersion);
/* Frames carry no metadata (as without the platform's metadata support): rs2_get_frame_metadata
 * raises, and timestamps are in RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME (global base + scene time). */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultNoMetadata(int enabled);
/* The device stamps in its hardware clock whatever the global time option says. */
KIRO_VIRTUAL_REALSENSE_API void kiroVirtualRealsenseFaultIgnoreGlobalTime(int enabled);

/* ---- What happened --------------------------------------------------------------------------- */

/* Calls of an exported rs2 function (by name, e.g. "rs2_set_option") since reset, failed ones
 * included. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseCallCount(const char* function);

/* Options set successfully since reset, in order. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseOptionLogSize(void);
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseOptionLogEntry(int index, rs2_option* option, float* value);
/* The depth sensor's current value of an option; -1 when the sensor lacks it. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseGetOption(rs2_option option, float* value);

/* Live handles created by the rs2 functions and not yet deleted, by type name ("rs2_context",
 * "rs2_pipeline", "rs2_config", "rs2_pipeline_profile", "rs2_device", "rs2_sensor_list",
 * "rs2_sensor", "rs2_stream_profile_list", "rs2_frame", "rs2_error", "rs2_device_list"), or of
 * every type for NULL;
 * -1 for an unknown name. A frame counts until its last reference is released; a frame set
 * counts as one frame besides the frames it holds. Not cleared by reset. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseLiveObjectCount(const char* type);

/* rs2_config_enable_stream calls since reset, in order. */
typedef struct kiroVirtualRealsenseStreamRequest {
    rs2_stream stream;
    int index;
    int width;
    int height;
    rs2_format format;
    int framerate;
} kiroVirtualRealsenseStreamRequest;

KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseStreamRequestCount(void);
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseStreamRequestEntry(int index,
                                                                      kiroVirtualRealsenseStreamRequest* request);

/* Number of pipelines streaming now; the mode of the latest one started is written to the
 * non-null arguments. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseStreamingMode(int* width, int* height, int* fps);
/* Frame sets delivered by rs2_pipeline_wait_for_frames since reset. */
KIRO_VIRTUAL_REALSENSE_API int kiroVirtualRealsenseFrameSetsDelivered(void);

#ifdef __cplusplus
}  // extern "C"
#endif

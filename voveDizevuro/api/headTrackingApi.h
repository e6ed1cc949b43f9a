#ifndef KIRO_HEAD_TRACKING_API_H
#define KIRO_HEAD_TRACKING_API_H

/*
 * The library's C interface: create an engine, start and stop tracking, change its settings,
 * take result frames and read them. Plain C99; also compiles as C++.
 *
 * Result codes of every function that returns int32_t: kKiroResultSuccess (0),
 * kKiroResultNullHandle (1: the engine or frame handle, or a pointer argument, is null; nothing
 * was done) and kKiroResultException (2: the library caught an exception derived from
 * std::exception and logged it; the operation did not complete). kiroVoveDizevuroEngineInitArgs
 * logs "Failed to initialize head tracking engine: <message>" at error level, every other function
 * "Unexpected exception: <message> (<type name>)" at critical level; the failing component may
 * have logged lines of its own before. There is no error text to query: the log holds it.
 *
 * Threads: one engine handle must not be used by several threads at once, except that
 * kiroVoveDizevuroEngineGetLatestFrame may run on any thread while frames are delivered. The
 * frame callback and the virtual face hook run on the engine's processing thread.
 *
 * Units: display and camera space in mm, time in ms, velocities in mm per ms, angles in
 * radians, detector depths in metres, profiling values in ns.
 *
 * Records are packed to 4 bytes; their sizes and offsets are part of the binary interface.
 */

#include "common/export.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
    kKiroResultSuccess = 0,
    kKiroResultNullHandle = 1,
    kKiroResultException = 2
};

/* The library's log levels. Default and any value outside Trace .. Off select Info. */
typedef enum kiro_log_level_e {
    kKiroLogLevelDefault = 0,
    kKiroLogLevelTrace = 1,
    kKiroLogLevelDebug = 2,
    kKiroLogLevelInfo = 3,
    kKiroLogLevelWarn = 4,
    kKiroLogLevelError = 5,
    kKiroLogLevelCritical = 6,
    kKiroLogLevelOff = 7
} kiro_log_level_e;

/* Faces a tracking result holds: the main face first, further faces are not written. */
#define KIRO_HEAD_TRACKING_RESULT_MAX_FACES 3
/* Entries the raw faces and detected faces records hold. Detectors report at most their own
   face-count limit; a frame with more entries than this fills the record and reports this
   many in `count`. */
#define KIRO_HEAD_TRACKING_RECORD_MAX_FACES 32

typedef struct kiro_head_tracking_engine kiro_head_tracking_engine;
/* A result frame. Handles from kiroVoveDizevuroEngineGetLatestFrame are owned by the host and
   released with kiroVoveDizevuroFrameRelease; the frame callback's handle is const: it belongs
   to the library and is valid only during the callback. */
typedef struct kiro_head_tracking_frame kiro_head_tracking_frame;

#pragma pack(push, 4)

typedef struct kiro_vec3 {
    float x;
    float y;
    float z;
} kiro_vec3;

/* One virtual face: the midpoint between the eyes and the eye distance, display space, mm. */
typedef struct kiro_head_tracking_virtual_face {
    float x;
    float y;
    float z;
    float interocularDistance;
} kiro_head_tracking_virtual_face;

/* Filled by the library for each call of the virtual face hook; valid only during the call. */
typedef struct kiro_head_tracking_virtual_face_hook_context {
    int32_t timestampSpace;     /* in: 0 host system clock, -1 a clock of its own */
    double timestampMs;         /* in: the camera frame's time */
    int32_t numOfDetectedFaces; /* in: detections the detector returned for this frame */
    int32_t maxNumOfFaces;      /* in: entries of virtualFaces */
    /* in: zero-filled entries to write into; null when maxNumOfFaces is 0 */
    kiro_head_tracking_virtual_face* virtualFaces;
    int32_t numOfVirtualFaces;    /* out: entries written; only 0 .. maxNumOfFaces are used */
    int32_t discardDetectedFaces; /* out: non-zero drops the detector's own detections */
} kiro_head_tracking_virtual_face_hook_context;

/* Called on the processing thread for every processed frame. */
typedef void (*kiro_head_tracking_frame_callback)(const kiro_head_tracking_frame* frame, void* userData);
/* Called on the processing thread for every frame; non-zero applies the context's outputs. */
typedef int32_t (*kiro_head_tracking_virtual_face_hook)(kiro_head_tracking_virtual_face_hook_context* context,
                                                        void* userData);

typedef struct kiro_head_tracking_engine_init_args {
    int32_t cameraWidth;       /* pixels; 0 lets the camera choose */
    int32_t cameraHeight;      /* pixels; 0 lets the camera choose */
    int32_t cameraFps;         /* 0 lets the camera choose */
    float cameraBinningFactor; /* passed to the camera */
    int32_t maxNumOfFaces;     /* detector face count; replaced by the detector's own value */
    int32_t logLevel;          /* a kiro_log_level_e value */
    uint8_t reserved[84];      /* not read */
    kiro_head_tracking_frame_callback frameCallback; /* may be null */
    void* frameCallbackUserData;
    int32_t enablePolling; /* non-zero enables kiroVoveDizevuroEngineGetLatestFrame */
    kiro_head_tracking_virtual_face_hook virtualFaceHook; /* may be null */
    void* virtualFaceHookUserData;
} kiro_head_tracking_engine_init_args;

typedef struct kiro_head_tracking_kalman_coeffs {
    kiro_vec3 a;
    kiro_vec3 b;
} kiro_head_tracking_kalman_coeffs;

/* Every value finite (only interocularDistanceMax may be +infinity) and within the range noted. */
typedef struct kiro_head_tracking_filter_properties {
    float resetThreshold;         /* > 0: a reset signal above it restarts all tracks; <= 0: never */
    float maxTrackGap;            /* ms, >= 0 */
    float velDampingTime;         /* ms, > 0 */
    float minFitDist;             /* mm, >= 0 */
    float maxFitDist;             /* mm, >= 0 */
    float angleYMax;              /* rad, >= 0 */
    float interocularDistanceMin; /* mm, > 0 */
    float interocularDistanceMax; /* mm, > interocularDistanceMin */
    float bufferLim;              /* ms, >= 0 */
    kiro_vec3 mainFaceSkew;       /* mm */
    kiro_vec3 mainFaceScale;      /* each >= 0 */
    kiro_head_tracking_kalman_coeffs kalman; /* per axis a > 0 with a * a > 0 in float, b >= 0 */
} kiro_head_tracking_filter_properties;

/* One tracked face, display space. */
typedef struct kiro_head_tracking_face {
    kiro_vec3 position;   /* mm */
    kiro_vec3 velocity;   /* mm per ms */
    kiro_vec3 headAngles; /* rad */
    int32_t rawFaceIndex; /* index into the raw faces; -1 for a predicted face */
} kiro_head_tracking_face;

typedef struct kiro_head_tracking_result {
    int32_t numFaces; /* entries of faces written, at most KIRO_HEAD_TRACKING_RESULT_MAX_FACES */
    kiro_head_tracking_face faces[KIRO_HEAD_TRACKING_RESULT_MAX_FACES]; /* main face first */
    int32_t space;           /* timestamp space: 0 host system clock, -1 a clock of its own */
    double ms;               /* the camera frame's time */
    int32_t trackingStarted; /* 1 once the tracker has held tracks */
} kiro_head_tracking_result;

/* One accepted detection, camera space, mm. */
typedef struct kiro_head_tracking_raw_face {
    kiro_vec3 rightEye;
    kiro_vec3 leftEye;
    kiro_vec3 trackedPoint;
    int32_t detectionIndex; /* index into the detections */
} kiro_head_tracking_raw_face;

typedef struct kiro_head_tracking_raw_faces {
    int32_t count; /* entries written, at most KIRO_HEAD_TRACKING_RECORD_MAX_FACES */
    kiro_head_tracking_raw_face faces[KIRO_HEAD_TRACKING_RECORD_MAX_FACES];
} kiro_head_tracking_raw_faces;

typedef struct kiro_head_tracking_eye_detection {
    double pixel[2]; /* column, row in the frame's first image */
    float depth;     /* metres */
} kiro_head_tracking_eye_detection;

typedef struct kiro_head_tracking_detection {
    kiro_head_tracking_eye_detection rightEye;
    kiro_head_tracking_eye_detection leftEye;
    kiro_vec3 extra;      /* detector specific */
    kiro_vec3 headAngles; /* rad */
} kiro_head_tracking_detection;

typedef struct kiro_head_tracking_detected_faces {
    int32_t count; /* entries written, at most KIRO_HEAD_TRACKING_RECORD_MAX_FACES */
    kiro_head_tracking_detection faces[KIRO_HEAD_TRACKING_RECORD_MAX_FACES];
} kiro_head_tracking_detected_faces;

/* Nanoseconds; all zero when the frame was not profiled. */
typedef struct kiro_head_tracking_profiling {
    int64_t cameraExposureTime;
    int64_t faceDetectorStartTime;
    int64_t faceDetectorEndTime;
    int64_t apiTimestamp;
} kiro_head_tracking_profiling;

#pragma pack(pop)

/* ---- Engine ---- */

/* Creates an engine: its platform (applying args->logLevel), frame adapter, detector and camera.
   Sets *engine to null first; 1 when args or engine is null. On failure *engine stays null,
   nothing stays allocated and 2 is returned. Release the engine with
   kiroVoveDizevuroEngineRelease. */
KIRO_API int32_t kiroVoveDizevuroEngineInitArgs(const kiro_head_tracking_engine_init_args* args,
                                                kiro_head_tracking_engine** engine);
/* Destroys the engine (stopping its camera); null does nothing. Frames taken from it stay valid.
   Not from the engine's own frame callback or virtual face hook: there it logs an error and
   releases nothing; stop tracking there instead and release the engine once the callback has
   returned. */
KIRO_API void kiroVoveDizevuroEngineRelease(kiro_head_tracking_engine* engine);
/* Starts tracking; 0 also when already tracking, 2 when a component fails to start. */
KIRO_API int32_t kiroVoveDizevuroEngineStartTracking(kiro_head_tracking_engine* engine);
/* Stops tracking; 0 also when not tracking. */
KIRO_API int32_t kiroVoveDizevuroEngineStopTracking(kiro_head_tracking_engine* engine);
/* Sets *frame (null first, also for a null engine) to a copy of the latest frame, owned by the
   caller, to be released with kiroVoveDizevuroFrameRelease; an empty frame before the first.
   Any thread. 1 when frame is null; 2 when polling is not enabled. */
KIRO_API int32_t kiroVoveDizevuroEngineGetLatestFrame(kiro_head_tracking_engine* engine,
                                                      kiro_head_tracking_frame** frame);
/* Writes the detector's face-count limit (0 without a detector) to *limit; 1 when limit is null. */
KIRO_API int32_t kiroVoveDizevuroEngineGetMaxNumOfDetectedFacesLimit(kiro_head_tracking_engine* engine,
                                                                     int32_t* limit);
/* n in 1 .. the limit, else 2; takes effect with the next frame. */
KIRO_API int32_t kiroVoveDizevuroEngineSetMaxNumOfDetectedFaces(kiro_head_tracking_engine* engine, int32_t n);
/* Non-zero tracks that eye; takes effect with the next frame. With neither eye the tracker
   keeps its previous configuration, and a start gives 2. */
KIRO_API int32_t kiroVoveDizevuroEngineSetTrackedEyes(kiro_head_tracking_engine* engine, int32_t left,
                                                      int32_t right);
/* The camera's position in display space, mm. */
KIRO_API int32_t kiroVoveDizevuroEngineSetCameraPosition(kiro_head_tracking_engine* engine, float x, float y,
                                                         float z);
/* The rotation of camera space into display space, row by row: a camera-space point p lands in
   display space at (-q.x, -q.y, q.z) + the camera position, with q = rotation * p. */
KIRO_API int32_t kiroVoveDizevuroEngineSetCameraRotation(kiro_head_tracking_engine* engine, float a0, float a1,
                                                         float a2, float a3, float a4, float a5, float a6,
                                                         float a7, float a8);
/* Position (mm) and rotation as a rotation vector (Rodrigues notation); both are copied, 1 when
   either is null. The vector's direction is the axis and its length the angle in degrees, not
   radians. The rotation turns camera-space points about the axis by minus that angle under the
   right-hand rule, i.e. clockwise seen from the vector's tip (the transpose of the right-handed
   rotation by the angle); display space then follows as for kiroVoveDizevuroEngineSetCameraRotation.
   So (0, 0, 90) is the rows (0, 1, 0), (-1, 0, 0), (0, 0, 1): camera x turns to -y. A vector whose
   components are all below 1e-6 in magnitude is no rotation. */
KIRO_API int32_t kiroVoveDizevuroEngineSetCameraTransform(kiro_head_tracking_engine* engine,
                                                          const kiro_vec3* position, const kiro_vec3* rotation);
/* Tracking parameters; copied, 1 when properties is null; takes effect with the next frame. With a
   value outside its range the tracker logs an error and keeps its previous configuration, and a
   start gives 2. */
KIRO_API int32_t kiroVoveDizevuroEngineSetFilterProperties(kiro_head_tracking_engine* engine,
                                                           const kiro_head_tracking_filter_properties* properties);
/* The library's version text; static, never freed. */
KIRO_API const char* kiroVoveDizevuroGetVersion(void);
/* The name of a log level ("Unknown" outside 0 .. 7); static, never null. */
KIRO_API const char* kiro_log_level_to_string(int32_t level);

/* ---- Frames ----
   Each getter fills the caller's record and returns 0; 1 for a null handle or record (the record
   untouched); 2 on an error (the record may be partly filled). A polled handle may be read on any
   thread. */

KIRO_API int32_t kiroVoveDizevuroFrameGetTrackingResult(const kiro_head_tracking_frame* frame,
                                                        kiro_head_tracking_result* result);
KIRO_API int32_t kiroVoveDizevuroFrameGetRawFaces(const kiro_head_tracking_frame* frame,
                                                  kiro_head_tracking_raw_faces* rawFaces);
KIRO_API int32_t kiroVoveDizevuroFrameGetDetectedFaces(const kiro_head_tracking_frame* frame,
                                                       kiro_head_tracking_detected_faces* detectedFaces);
KIRO_API int32_t kiroVoveDizevuroFrameGetProfiling(const kiro_head_tracking_frame* frame,
                                                   kiro_head_tracking_profiling* profiling);
/* Frees a handle from kiroVoveDizevuroEngineGetLatestFrame; null does nothing. Never pass the
   frame callback's handle. */
KIRO_API void kiroVoveDizevuroFrameRelease(kiro_head_tracking_frame* frame);

#ifdef __cplusplus
}
#endif

#endif

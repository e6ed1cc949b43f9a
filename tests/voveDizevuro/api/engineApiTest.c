/*
 * The library's C interface driven as a C host drives it: real engines on the virtual RealSense
 * device (KIRO_REALSENSE2_LIBRARY names the device library this program links, so the scene set
 * up here is what the camera films) with the eye-marker detector plug-in found on the system
 * search path. The eye-marker detector reports each pair of bright eye discs as a face: its
 * face-count limit is 4, a detection's `extra` is (backend, blobs in the image, focal length).
 *
 * The device paces frames in real time (90 fps); faces stand still, so every tracked position
 * settles on the scene's position. Tolerances: a raw eye lies within 1 mm of the scene's eye
 * (pixel centroids and 1 mm depth steps), a settled tracked point within 2 mm, a detected eye
 * pixel within 0.5 px of where the device draws it.
 *
 * The log lines of the failure paths are checked by the CTest wrapper that runs this program.
 */

#include "tests/voveDizevuro/api/cTestSupport.h"
#include "tools/virtualRealsense/virtualRealsense.h"

#include <stdint.h>

enum { kWidth = 848, kHeight = 480 };
static const float kRawTolerance = 1.0f;
static const float kSettledTolerance = 2.0f;

/* ---- Scene ---- */

static void ResetDevice(void) {
    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetSensorTimestampOffset(0);
}

/* A face standing still at camera-space (x, y, z) mm, in the scene from appearMs until
   disappearMs of scene time (negative: for ever). */
static int AddStillFace(float x, float y, float z, double appearMs, double disappearMs) {
    kiroVirtualRealsenseKeyframe keyframe;
    kiroVirtualRealsenseFace face;
    keyframe.timeMs = 0.0;
    keyframe.x = x;
    keyframe.y = y;
    keyframe.z = z;
    keyframe.interocularDistance = 64.0f;
    keyframe.yaw = 0.0f;
    keyframe.pitch = 0.0f;
    keyframe.roll = 0.0f;
    face.pattern = KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL;
    face.appearMs = appearMs;
    face.disappearMs = disappearMs;
    face.keyframes = &keyframe;
    face.keyframeCount = 1;
    return kiroVirtualRealsenseAddFace(&face);
}

/* The scene's eyes of a still face in the detector's naming: the device's "left" eye (smaller x)
   is the person's right eye. */
typedef struct Eyes {
    kiro_vec3 right;
    kiro_vec3 left;
    kiro_vec3 midpoint;
} Eyes;

static Eyes EyesOf(int face) {
    kiroVirtualRealsenseEyes eyes;
    Eyes result;
    memset(&eyes, 0, sizeof(eyes));
    kiroVirtualRealsenseGetEyes(face, 0.0, &eyes);
    result.right.x = eyes.left[0];
    result.right.y = eyes.left[1];
    result.right.z = eyes.left[2];
    result.left.x = eyes.right[0];
    result.left.y = eyes.right[1];
    result.left.z = eyes.right[2];
    result.midpoint.x = (result.right.x + result.left.x) * 0.5f;
    result.midpoint.y = (result.right.y + result.left.y) * 0.5f;
    result.midpoint.z = (result.right.z + result.left.z) * 0.5f;
    return result;
}

/* Display space with the camera at the origin, unrotated: (-x, -y, z). */
static kiro_vec3 Display(kiro_vec3 p) {
    kiro_vec3 q;
    q.x = -p.x;
    q.y = -p.y;
    q.z = p.z;
    return q;
}

static kiro_vec3 Vec3(float x, float y, float z) {
    kiro_vec3 v;
    v.x = x;
    v.y = y;
    v.z = z;
    return v;
}

static int PixelNear(const kiro_head_tracking_eye_detection* eye, kiro_vec3 point) {
    const float p[3] = {point.x, point.y, point.z};
    float pixel[2] = {0.0f, 0.0f};
    kiroVirtualRealsenseProjectPoint(kWidth, kHeight, p, pixel);
    return fabs(eye->pixel[0] - pixel[0]) <= 0.5 && fabs(eye->pixel[1] - pixel[1]) <= 0.5;
}

static float DeviceFocalLength(void) {
    rs2_intrinsics intrinsics;
    memset(&intrinsics, 0, sizeof(intrinsics));
    kiroVirtualRealsenseGetIntrinsics(kWidth, kHeight, &intrinsics);
    return intrinsics.fx;
}

/* ---- Waiting for the latest frame ---- */

typedef struct Expectation {
    int numFaces;           /* -1: any */
    int mainFaceMeasured;   /* 1: rawFaceIndex >= 0, -1: rawFaceIndex == -1, 0: any */
    int checkPosition;
    kiro_vec3 position;     /* of the main face */
    int numDetections;      /* -1: any */
    float firstDetectionDepth; /* metres; 0: any */
    double laterThanMs;     /* the frame's time must exceed this */
} Expectation;

static Expectation AnyFrame(void) {
    Expectation e;
    memset(&e, 0, sizeof(e));
    e.numFaces = -1;
    e.numDetections = -1;
    e.laterThanMs = -1.0;
    return e;
}

static int Meets(kiro_head_tracking_frame* frame, const Expectation* e) {
    kiro_head_tracking_result result;
    kiro_head_tracking_detected_faces detections;
    if (kiroVoveDizevuroFrameGetTrackingResult(frame, &result) != kKiroResultSuccess ||
        kiroVoveDizevuroFrameGetDetectedFaces(frame, &detections) != kKiroResultSuccess) {
        return 0;
    }
    if (!(result.ms > e->laterThanMs) || (e->numFaces >= 0 && result.numFaces != e->numFaces)) {
        return 0;
    }
    if (e->numDetections >= 0 && detections.count != e->numDetections) {
        return 0;
    }
    if (e->firstDetectionDepth > 0.0f &&
        (detections.count < 1 || fabsf(detections.faces[0].rightEye.depth - e->firstDetectionDepth) > 0.002f)) {
        return 0;
    }
    if (e->mainFaceMeasured != 0 || e->checkPosition) {
        if (result.numFaces < 1) {
            return 0;
        }
        if ((e->mainFaceMeasured > 0 && result.faces[0].rawFaceIndex < 0) ||
            (e->mainFaceMeasured < 0 && result.faces[0].rawFaceIndex != -1)) {
            return 0;
        }
        if (e->checkPosition && !Near3(result.faces[0].position, e->position.x, e->position.y, e->position.z,
                                       kSettledTolerance)) {
            return 0;
        }
    }
    return 1;
}

/* Polls the engine until its latest frame meets the expectation; 1 when it did. */
static int WaitFor(kiro_head_tracking_engine* engine, const Expectation* e) {
    int poll;
    for (poll = 0; poll < kHangGuardPolls; ++poll) {
        kiro_head_tracking_frame* frame = NULL;
        int met;
        if (kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) != kKiroResultSuccess) {
            return 0;
        }
        met = Meets(frame, e);
        kiroVoveDizevuroFrameRelease(frame);
        if (met) {
            return 1;
        }
        TestSleepMs(kPollIntervalMs);
    }
    return 0;
}

static int WaitForMainFaceAt(kiro_head_tracking_engine* engine, kiro_vec3 position) {
    Expectation e = AnyFrame();
    e.mainFaceMeasured = 1;
    e.checkPosition = 1;
    e.position = position;
    return WaitFor(engine, &e);
}

static double LatestMs(kiro_head_tracking_engine* engine) {
    kiro_head_tracking_result result;
    memset(&result, 0, sizeof(result));
    return LatestResult(engine, &result) ? result.ms : -1.0;
}

static kiro_head_tracking_engine* CreatePollingEngine(int32_t maxNumOfFaces) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = NULL;
    args.enablePolling = 1;
    args.maxNumOfFaces = maxNumOfFaces;
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultSuccess);
    CHECK(engine != NULL);
    return engine;
}

/* ---- Tests ---- */

static void TestVersionAndLogLevelNames(void) {
    static const char* const names[] = {"Default", "Trace", "Debug", "Info", "Warn", "Error", "Critical", "Off"};
    int32_t level;
    CHECK(strcmp(kiroVoveDizevuroGetVersion(), "0.6.74") == 0);
    for (level = 0; level <= 7; ++level) {
        CHECK(strcmp(kiro_log_level_to_string(level), names[level]) == 0);
    }
    CHECK(strcmp(kiro_log_level_to_string(8), "Unknown") == 0);
    CHECK(strcmp(kiro_log_level_to_string(-1), "Unknown") == 0);
    CHECK(strcmp(kiro_log_level_to_string(INT32_MIN), "Unknown") == 0);
    CHECK(strcmp(kiro_log_level_to_string(INT32_MAX), "Unknown") == 0);
}

static void TestNullHandles(void) {
    kiro_head_tracking_frame* frame = (kiro_head_tracking_frame*)&frame;
    int32_t limit = 77;
    kiro_vec3 v = Vec3(0.0f, 0.0f, 0.0f);
    kiro_head_tracking_filter_properties properties;
    kiro_head_tracking_result result;
    kiro_head_tracking_raw_faces rawFaces;
    kiro_head_tracking_detected_faces detectedFaces;
    kiro_head_tracking_profiling profiling;
    memset(&properties, 0, sizeof(properties));

    CHECK(kiroVoveDizevuroEngineStartTracking(NULL) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineStopTracking(NULL) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineGetLatestFrame(NULL, &frame) == kKiroResultNullHandle);
    CHECK(frame == NULL);
    CHECK(kiroVoveDizevuroEngineGetMaxNumOfDetectedFacesLimit(NULL, &limit) == kKiroResultNullHandle);
    CHECK(limit == 77);
    CHECK(kiroVoveDizevuroEngineSetMaxNumOfDetectedFaces(NULL, 1) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineSetTrackedEyes(NULL, 1, 1) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineSetCameraPosition(NULL, 0.0f, 0.0f, 0.0f) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineSetCameraRotation(NULL, 1, 0, 0, 0, 1, 0, 0, 0, 1) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineSetCameraTransform(NULL, &v, &v) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineSetFilterProperties(NULL, &properties) == kKiroResultNullHandle);
    kiroVoveDizevuroEngineRelease(NULL);

    memset(&result, kFillByte, sizeof(result));
    memset(&rawFaces, kFillByte, sizeof(rawFaces));
    memset(&detectedFaces, kFillByte, sizeof(detectedFaces));
    memset(&profiling, kFillByte, sizeof(profiling));
    CHECK(kiroVoveDizevuroFrameGetTrackingResult(NULL, &result) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroFrameGetRawFaces(NULL, &rawFaces) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroFrameGetDetectedFaces(NULL, &detectedFaces) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroFrameGetProfiling(NULL, &profiling) == kKiroResultNullHandle);
    CHECK(AllBytesAre(&result, sizeof(result), kFillByte));
    CHECK(AllBytesAre(&rawFaces, sizeof(rawFaces), kFillByte));
    CHECK(AllBytesAre(&detectedFaces, sizeof(detectedFaces), kFillByte));
    CHECK(AllBytesAre(&profiling, sizeof(profiling), kFillByte));
    kiroVoveDizevuroFrameRelease(NULL);
}

/* A null output or record pointer gives 1, also with a live engine and frame. */
static void TestNullPointers(void) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = (kiro_head_tracking_engine*)&args;
    kiro_head_tracking_frame* frame = NULL;
    kiro_vec3 v = Vec3(0.0f, 0.0f, 0.0f);

    CHECK(kiroVoveDizevuroEngineInitArgs(NULL, &engine) == kKiroResultNullHandle);
    CHECK(engine == NULL);
    args.enablePolling = 1;
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, NULL) == kKiroResultNullHandle);

    ResetDevice();
    engine = CreatePollingEngine(1);
    REQUIRE(engine != NULL);
    CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, NULL) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineGetMaxNumOfDetectedFacesLimit(engine, NULL) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineSetCameraTransform(engine, NULL, &v) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineSetCameraTransform(engine, &v, NULL) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroEngineSetFilterProperties(engine, NULL) == kKiroResultNullHandle);

    CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) == kKiroResultSuccess);
    REQUIRE(frame != NULL);
    CHECK(kiroVoveDizevuroFrameGetTrackingResult(frame, NULL) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroFrameGetRawFaces(frame, NULL) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroFrameGetDetectedFaces(frame, NULL) == kKiroResultNullHandle);
    CHECK(kiroVoveDizevuroFrameGetProfiling(frame, NULL) == kKiroResultNullHandle);
    kiroVoveDizevuroFrameRelease(frame);
    kiroVoveDizevuroEngineRelease(engine);
}

/* Logs "Failed to initialize head tracking engine: FrameAdapter incorrect configuration: ...". */
static void TestInitWithoutCallbackOrPollingFails(void) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = (kiro_head_tracking_engine*)&args;
    /* What a host keeps in the reserved bytes has no effect. */
    memset(args.reserved, 0xFF, sizeof(args.reserved));
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultException);
    CHECK(engine == NULL);
}

/* The camera fails after the detector was loaded: the engine's construction unwinds and the
   device holds no handle of it afterwards. */
static void TestInitFailureLeavesNothingBehind(void) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = (kiro_head_tracking_engine*)&args;
    const int liveBefore = kiroVirtualRealsenseLiveObjectCount(NULL);
    ResetDevice();
    kiroVirtualRealsenseFaultNoDevice(1);
    args.enablePolling = 1;
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultException);
    CHECK(engine == NULL);
    CHECK(kiroVirtualRealsenseLiveObjectCount(NULL) == liveBefore);
    kiroVirtualRealsenseFaultNoDevice(0);
}

/* Reads every record of a frame of the still face `face` and checks them against the scene. */
static void ExpectFrameShowsStillFace(kiro_head_tracking_frame* frame, int face) {
    const Eyes eyes = EyesOf(face);
    const kiro_vec3 display = Display(eyes.midpoint);
    kiro_head_tracking_result result;
    kiro_head_tracking_raw_faces rawFaces;
    kiro_head_tracking_detected_faces detectedFaces;
    kiro_head_tracking_profiling profiling;
    memset(&profiling, kFillByte, sizeof(profiling));

    REQUIRE(kiroVoveDizevuroFrameGetTrackingResult(frame, &result) == kKiroResultSuccess);
    REQUIRE(result.numFaces == 1);
    CHECK(result.space == 0);
    CHECK(result.ms > 0.0);
    CHECK(result.trackingStarted == 1);
    CHECK(Near3(result.faces[0].position, display.x, display.y, display.z, kSettledTolerance));
    CHECK(Near3(result.faces[0].velocity, 0.0f, 0.0f, 0.0f, 0.05f));
    CHECK(Near3(result.faces[0].headAngles, 0.0f, 0.0f, 0.0f, 0.0f));
    CHECK(result.faces[0].rawFaceIndex == 0);

    REQUIRE(kiroVoveDizevuroFrameGetRawFaces(frame, &rawFaces) == kKiroResultSuccess);
    REQUIRE(rawFaces.count == 1);
    CHECK(Near3(rawFaces.faces[0].rightEye, eyes.right.x, eyes.right.y, eyes.right.z, kRawTolerance));
    CHECK(Near3(rawFaces.faces[0].leftEye, eyes.left.x, eyes.left.y, eyes.left.z, kRawTolerance));
    CHECK(Near3(rawFaces.faces[0].trackedPoint, eyes.midpoint.x, eyes.midpoint.y, eyes.midpoint.z, kRawTolerance));
    CHECK(rawFaces.faces[0].detectionIndex == 0);

    REQUIRE(kiroVoveDizevuroFrameGetDetectedFaces(frame, &detectedFaces) == kKiroResultSuccess);
    REQUIRE(detectedFaces.count == 1);
    CHECK(PixelNear(&detectedFaces.faces[0].rightEye, eyes.right));
    CHECK(PixelNear(&detectedFaces.faces[0].leftEye, eyes.left));
    CHECK_NEAR(detectedFaces.faces[0].rightEye.depth, eyes.right.z / 1000.0f, 0.002);
    CHECK_NEAR(detectedFaces.faces[0].leftEye.depth, eyes.left.z / 1000.0f, 0.002);
    CHECK(Near3(detectedFaces.faces[0].extra, 1.0f, 2.0f, DeviceFocalLength(), 0.0f));
    CHECK(Near3(detectedFaces.faces[0].headAngles, 0.0f, 0.0f, 0.0f, 0.0f));

    /* The C interface has no profiling switch, so its frames are never profiled. */
    CHECK(kiroVoveDizevuroFrameGetProfiling(frame, &profiling) == kKiroResultSuccess);
    CHECK(AllBytesAre(&profiling, sizeof(profiling), 0));
}

static void TestPollingEngineLifecycle(void) {
    kiro_head_tracking_engine* engine;
    kiro_head_tracking_frame* empty = NULL;
    kiro_head_tracking_frame* first = NULL;
    kiro_head_tracking_frame* second = NULL;
    kiro_head_tracking_result result;
    kiro_head_tracking_raw_faces rawFaces;
    kiro_head_tracking_detected_faces detectedFaces;
    kiro_head_tracking_profiling profiling;
    int32_t limit = 0;
    int face;
    double firstMs;
    double stoppedMs;

    ResetDevice();
    face = AddStillFace(-40.0f, 20.0f, 600.0f, 0.0, -1.0);
    engine = CreatePollingEngine(1);
    REQUIRE(engine != NULL);

    /* Before any frame: an empty frame, and the call succeeds. */
    memset(&result, kFillByte, sizeof(result));
    memset(&rawFaces, kFillByte, sizeof(rawFaces));
    memset(&detectedFaces, kFillByte, sizeof(detectedFaces));
    memset(&profiling, kFillByte, sizeof(profiling));
    CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, &empty) == kKiroResultSuccess);
    CHECK(empty != NULL);
    CHECK(kiroVoveDizevuroFrameGetTrackingResult(empty, &result) == kKiroResultSuccess);
    CHECK(result.numFaces == 0 && result.space == 0 && result.ms == 0.0 && result.trackingStarted == 0);
    CHECK(AllBytesAre(result.faces, sizeof(result.faces), kFillByte));
    CHECK(kiroVoveDizevuroFrameGetRawFaces(empty, &rawFaces) == kKiroResultSuccess);
    CHECK(rawFaces.count == 0);
    CHECK(kiroVoveDizevuroFrameGetDetectedFaces(empty, &detectedFaces) == kKiroResultSuccess);
    CHECK(detectedFaces.count == 0);
    CHECK(kiroVoveDizevuroFrameGetProfiling(empty, &profiling) == kKiroResultSuccess);
    CHECK(AllBytesAre(&profiling, sizeof(profiling), 0));
    kiroVoveDizevuroFrameRelease(empty);

    CHECK(kiroVoveDizevuroEngineGetMaxNumOfDetectedFacesLimit(engine, &limit) == kKiroResultSuccess);
    CHECK(limit == 4);

    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Display(EyesOf(face).midpoint)));

    /* Two polled frames held at once; each is a copy that later frames do not change. */
    CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, &first) == kKiroResultSuccess);
    ExpectFrameShowsStillFace(first, face);
    firstMs = LatestMs(engine);
    {
        Expectation later = AnyFrame();
        later.laterThanMs = firstMs;
        CHECK(WaitFor(engine, &later));
    }
    CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, &second) == kKiroResultSuccess);
    ExpectFrameShowsStillFace(second, face);
    CHECK(kiroVoveDizevuroFrameGetTrackingResult(second, &result) == kKiroResultSuccess);
    CHECK(result.ms > firstMs);
    CHECK(kiroVoveDizevuroFrameGetTrackingResult(first, &result) == kKiroResultSuccess);
    CHECK(result.ms <= firstMs);
    kiroVoveDizevuroFrameRelease(first);

    /* Stopped twice: no more frames, and the last one stays available. */
    CHECK(kiroVoveDizevuroEngineStopTracking(engine) == kKiroResultSuccess);
    CHECK(kiroVoveDizevuroEngineStopTracking(engine) == kKiroResultSuccess);
    stoppedMs = LatestMs(engine);
    CHECK(stoppedMs > 0.0);
    TestSleepMs(100);
    CHECK(LatestMs(engine) == stoppedMs);

    /* Started again: frames flow and the face is tracked anew. */
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    {
        Expectation resumed = AnyFrame();
        resumed.laterThanMs = stoppedMs;
        resumed.mainFaceMeasured = 1;
        CHECK(WaitFor(engine, &resumed));
    }

    /* Released while tracking and while the host holds a frame: the frame stays readable. */
    kiroVoveDizevuroEngineRelease(engine);
    ExpectFrameShowsStillFace(second, face);
    kiroVoveDizevuroFrameRelease(second);
}

/* A start that fails (no eye tracked: the tracker refuses the configuration) gives 2 and logs
   "Unexpected exception: ..."; the engine starts once the configuration is valid again. */
static void TestStartFailureAndStopOnStoppedEngine(void) {
    kiro_head_tracking_engine* engine;
    ResetDevice();
    engine = CreatePollingEngine(0);
    REQUIRE(engine != NULL);
    CHECK(kiroVoveDizevuroEngineStopTracking(engine) == kKiroResultSuccess);
    CHECK(kiroVoveDizevuroEngineSetTrackedEyes(engine, 0, 0) == kKiroResultSuccess);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultException);
    CHECK(kiroVoveDizevuroEngineSetTrackedEyes(engine, 1, 1) == kKiroResultSuccess);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    kiroVoveDizevuroEngineRelease(engine);
}

/* Logs "Unexpected exception: Invalid max num of detected faces: ..." for 0, 5 and -1. */
static void TestMaxNumOfDetectedFaces(void) {
    kiro_head_tracking_engine* engine;
    Expectation e;
    int32_t limit = 0;
    ResetDevice();
    AddStillFace(-40.0f, 20.0f, 600.0f, 0.0, -1.0);
    AddStillFace(120.0f, -30.0f, 800.0f, 0.0, -1.0);
    engine = CreatePollingEngine(1);
    REQUIRE(engine != NULL);

    CHECK(kiroVoveDizevuroEngineSetMaxNumOfDetectedFaces(engine, 0) == kKiroResultException);
    CHECK(kiroVoveDizevuroEngineSetMaxNumOfDetectedFaces(engine, 5) == kKiroResultException);
    CHECK(kiroVoveDizevuroEngineSetMaxNumOfDetectedFaces(engine, -1) == kKiroResultException);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);

    /* One face allowed: the nearer one. */
    e = AnyFrame();
    e.numFaces = 1;
    e.numDetections = 1;
    e.firstDetectionDepth = 0.6f;
    CHECK(WaitFor(engine, &e));

    CHECK(kiroVoveDizevuroEngineSetMaxNumOfDetectedFaces(engine, 2) == kKiroResultSuccess);
    e.numFaces = 2;
    e.numDetections = 2;
    e.mainFaceMeasured = 1;
    CHECK(WaitFor(engine, &e));
    CHECK(kiroVoveDizevuroEngineSetMaxNumOfDetectedFaces(engine, 0) == kKiroResultException);
    CHECK(kiroVoveDizevuroEngineGetMaxNumOfDetectedFacesLimit(engine, &limit) == kKiroResultSuccess);
    CHECK(limit == 4);
    kiroVoveDizevuroEngineRelease(engine);
}

static kiro_head_tracking_filter_properties DefaultFilterProperties(void) {
    kiro_head_tracking_filter_properties p;
    p.resetThreshold = 0.5f;
    p.maxTrackGap = 600.0f;
    p.velDampingTime = 100.0f;
    p.minFitDist = 40.0f;
    p.maxFitDist = 2000.0f;
    p.angleYMax = 0.7853982f;
    p.interocularDistanceMin = 30.0f;
    p.interocularDistanceMax = 80.0f;
    p.bufferLim = 600.0f;
    p.mainFaceSkew = Vec3(0.0f, 0.0f, 0.0f);
    p.mainFaceScale = Vec3(4.0f, 4.0f, 1.0f);
    p.kalman.a = Vec3(0.02f, 0.05f, 0.2f);
    p.kalman.b = Vec3(0.1f, 0.1f, 0.1f);
    return p;
}

/* Every setting changed while tracking shows in the frames that follow. */
static void TestSettingsWhileTracking(void) {
    kiro_head_tracking_engine* engine;
    kiro_head_tracking_filter_properties properties = DefaultFilterProperties();
    Eyes eyes;
    kiro_vec3 position;
    kiro_vec3 rotation;
    kiro_vec3 m;
    Expectation e;

    ResetDevice();
    eyes = EyesOf(AddStillFace(-40.0f, 20.0f, 600.0f, 0.0, -1.0));
    m = eyes.midpoint;
    engine = CreatePollingEngine(1);
    REQUIRE(engine != NULL);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Display(m)));

    /* Display = (-q.x, -q.y, q.z) + position with q = rotation * camera point. */
    CHECK(kiroVoveDizevuroEngineSetCameraPosition(engine, 0.0f, 150.0f, 0.0f) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Vec3(-m.x, -m.y + 150.0f, m.z)));

    /* Row by row: q = (p.y, -p.x, p.z). The transposed matrix would give (-p.y, p.x, p.z). */
    CHECK(kiroVoveDizevuroEngineSetCameraRotation(engine, 0, 1, 0, -1, 0, 0, 0, 0, 1) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Vec3(-m.y, m.x + 150.0f, m.z)));

    /* No rotation, a new position. */
    position = Vec3(10.0f, 20.0f, 30.0f);
    rotation = Vec3(0.0f, 0.0f, 0.0f);
    CHECK(kiroVoveDizevuroEngineSetCameraTransform(engine, &position, &rotation) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Vec3(-m.x + 10.0f, -m.y + 20.0f, m.z + 30.0f)));

    /* The rotation vector (0, 0, 90) is the row-by-row rotation above. */
    rotation = Vec3(0.0f, 0.0f, 90.0f);
    CHECK(kiroVoveDizevuroEngineSetCameraTransform(engine, &position, &rotation) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Vec3(-m.y + 10.0f, m.x + 20.0f, m.z + 30.0f)));

    rotation = Vec3(0.0f, 0.0f, 0.0f);
    position = Vec3(0.0f, 0.0f, 0.0f);
    CHECK(kiroVoveDizevuroEngineSetCameraTransform(engine, &position, &rotation) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Display(m)));

    /* Left eye only, right eye only; no eye at all is rejected by the tracker, which keeps
       following the right eye. */
    CHECK(kiroVoveDizevuroEngineSetTrackedEyes(engine, 1, 0) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Display(eyes.left)));
    CHECK(kiroVoveDizevuroEngineSetTrackedEyes(engine, 0, 7) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Display(eyes.right)));
    CHECK(kiroVoveDizevuroEngineSetTrackedEyes(engine, 0, 0) == kKiroResultSuccess);
    e = AnyFrame();
    e.laterThanMs = LatestMs(engine) + 200.0;
    e.mainFaceMeasured = 1;
    e.checkPosition = 1;
    e.position = Display(eyes.right);
    CHECK(WaitFor(engine, &e));
    CHECK(kiroVoveDizevuroEngineSetTrackedEyes(engine, 1, 1) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Display(m)));

    /* Eyes 64 mm apart are refused below a minimum of 70 mm, though still detected. */
    properties.interocularDistanceMin = 70.0f;
    CHECK(kiroVoveDizevuroEngineSetFilterProperties(engine, &properties) == kKiroResultSuccess);
    e = AnyFrame();
    e.numFaces = 0;
    e.numDetections = 1;
    CHECK(WaitFor(engine, &e));
    properties = DefaultFilterProperties();
    CHECK(kiroVoveDizevuroEngineSetFilterProperties(engine, &properties) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Display(m)));

    CHECK(kiroVoveDizevuroEngineStopTracking(engine) == kKiroResultSuccess);
    /* Settings also apply to a stopped engine, from its next start on. */
    CHECK(kiroVoveDizevuroEngineSetCameraPosition(engine, 0.0f, -50.0f, 0.0f) == kKiroResultSuccess);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    CHECK(WaitForMainFaceAt(engine, Vec3(-m.x, -m.y - 50.0f, m.z)));
    kiroVoveDizevuroEngineRelease(engine);
}

/* A face that leaves the scene is carried on by prediction for a while, then dropped. */
static void TestPredictedMainFace(void) {
    kiro_head_tracking_engine* engine;
    Expectation e;
    ResetDevice();
    AddStillFace(-40.0f, 20.0f, 600.0f, 0.0, 1500.0);
    engine = CreatePollingEngine(1);
    REQUIRE(engine != NULL);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);

    e = AnyFrame();
    e.numFaces = 1;
    e.numDetections = 0;
    e.mainFaceMeasured = -1;
    CHECK(WaitFor(engine, &e));
    {
        kiro_head_tracking_frame* frame = NULL;
        kiro_head_tracking_raw_faces rawFaces;
        CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) == kKiroResultSuccess);
        CHECK(kiroVoveDizevuroFrameGetRawFaces(frame, &rawFaces) == kKiroResultSuccess);
        CHECK(rawFaces.count == 0);
        kiroVoveDizevuroFrameRelease(frame);
    }
    e = AnyFrame();
    e.numFaces = 0;
    CHECK(WaitFor(engine, &e));
    kiroVoveDizevuroEngineRelease(engine);
}

/* ---- Frame callback ---- */

typedef struct CallbackRecord {
    TestLock* lock;
    int calls;
    int callsWithFace;
    int failures;     /* getters that failed or records that made no sense */
    double latestMs;
    int timeWentBack;
    void* self;       /* the user data the callback expects back */
} CallbackRecord;

static void RecordFrame(const kiro_head_tracking_frame* frame, void* userData) {
    CallbackRecord* record = (CallbackRecord*)userData;
    kiro_head_tracking_result result;
    kiro_head_tracking_raw_faces rawFaces;
    kiro_head_tracking_detected_faces detectedFaces;
    kiro_head_tracking_profiling profiling;
    const int ok = frame != NULL && kiroVoveDizevuroFrameGetTrackingResult(frame, &result) == kKiroResultSuccess &&
                   kiroVoveDizevuroFrameGetRawFaces(frame, &rawFaces) == kKiroResultSuccess &&
                   kiroVoveDizevuroFrameGetDetectedFaces(frame, &detectedFaces) == kKiroResultSuccess &&
                   kiroVoveDizevuroFrameGetProfiling(frame, &profiling) == kKiroResultSuccess;
    TestLockAcquire(record->lock);
    ++record->calls;
    if (!ok || record->self != userData || result.numFaces > rawFaces.count + 1 ||
        rawFaces.count > detectedFaces.count) {
        ++record->failures;
    } else {
        if (result.numFaces == 1 && result.faces[0].rawFaceIndex == 0) {
            ++record->callsWithFace;
        }
        if (result.ms <= record->latestMs) {
            record->timeWentBack = 1;
        }
        record->latestMs = result.ms;
    }
    TestLockRelease(record->lock);
}

static CallbackRecord Snapshot(CallbackRecord* record) {
    CallbackRecord copy;
    TestLockAcquire(record->lock);
    copy = *record;
    TestLockRelease(record->lock);
    return copy;
}

static int WaitForCallsWithFace(CallbackRecord* record, int count) {
    int poll;
    for (poll = 0; poll < kHangGuardPolls; ++poll) {
        if (Snapshot(record).callsWithFace >= count) {
            return 1;
        }
        TestSleepMs(kPollIntervalMs);
    }
    return 0;
}

/* Logs "Unexpected exception: FrameAdapter::GetFrame: polling API is not enabled ...". */
static void TestCallbackEngine(void) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = NULL;
    kiro_head_tracking_frame* frame = (kiro_head_tracking_frame*)&args;
    CallbackRecord record;
    CallbackRecord released;
    memset(&record, 0, sizeof(record));
    record.lock = TestLockCreate();
    record.self = &record;
    REQUIRE(record.lock != NULL);

    ResetDevice();
    AddStillFace(-40.0f, 20.0f, 600.0f, 0.0, -1.0);
    args.frameCallback = RecordFrame;
    args.frameCallbackUserData = &record;
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultSuccess);
    REQUIRE(engine != NULL);

    CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) == kKiroResultException);
    CHECK(frame == NULL);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    CHECK(WaitForCallsWithFace(&record, 10));

    /* Released while frames are delivered: no callback after the release returns. */
    kiroVoveDizevuroEngineRelease(engine);
    released = Snapshot(&record);
    TestSleepMs(100);
    CHECK(Snapshot(&record).calls == released.calls);
    CHECK(released.failures == 0);
    CHECK(!released.timeWentBack);
    TestLockDestroy(record.lock);
}

/* A frame callback that tries to release its own engine, then stops it. */
typedef struct SelfStopping {
    TestLock* lock;
    kiro_head_tracking_engine* engine;
    int calls;
    int stopResult;
} SelfStopping;

static void ReleaseAndStopFromCallback(const kiro_head_tracking_frame* frame, void* userData) {
    SelfStopping* state = (SelfStopping*)userData;
    (void)frame;
    TestLockAcquire(state->lock);
    if (state->calls++ == 0) {
        kiroVoveDizevuroEngineRelease(state->engine);
        state->stopResult = kiroVoveDizevuroEngineStopTracking(state->engine);
    }
    TestLockRelease(state->lock);
}

static int SelfStoppingCalls(SelfStopping* state) {
    int calls;
    TestLockAcquire(state->lock);
    calls = state->calls;
    TestLockRelease(state->lock);
    return calls;
}

static int WaitForSelfStoppingCalls(SelfStopping* state, int count) {
    int poll;
    for (poll = 0; poll < kHangGuardPolls; ++poll) {
        if (SelfStoppingCalls(state) >= count) {
            return 1;
        }
        TestSleepMs(kPollIntervalMs);
    }
    return 0;
}

/* Logs "kiroVoveDizevuroEngineRelease from the engine's own frame callback ...". Releasing from the
   callback is refused, a stop there ends the deliveries, and a later start brings them back. */
static void TestReleaseFromTheCallbackIsRefused(void) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    SelfStopping state;
    memset(&state, 0, sizeof(state));
    state.stopResult = -1;
    state.lock = TestLockCreate();
    REQUIRE(state.lock != NULL);

    ResetDevice();
    AddStillFace(0.0f, 0.0f, 600.0f, 0.0, -1.0);
    args.frameCallback = ReleaseAndStopFromCallback;
    args.frameCallbackUserData = &state;
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &state.engine) == kKiroResultSuccess);
    REQUIRE(state.engine != NULL);
    CHECK(kiroVoveDizevuroEngineStartTracking(state.engine) == kKiroResultSuccess);
    CHECK(WaitForSelfStoppingCalls(&state, 1));
    TestSleepMs(100);
    CHECK(SelfStoppingCalls(&state) == 1);
    CHECK(state.stopResult == kKiroResultSuccess);

    CHECK(kiroVoveDizevuroEngineStartTracking(state.engine) == kKiroResultSuccess);
    CHECK(WaitForSelfStoppingCalls(&state, 3));
    kiroVoveDizevuroEngineRelease(state.engine);
    TestLockDestroy(state.lock);
}

/* With a callback and polling, the callback sees each frame before polling can return it. */
static void TestCallbackAndPolling(void) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = NULL;
    CallbackRecord record;
    int polls;
    memset(&record, 0, sizeof(record));
    record.lock = TestLockCreate();
    record.self = &record;
    REQUIRE(record.lock != NULL);

    ResetDevice();
    AddStillFace(-40.0f, 20.0f, 600.0f, 0.0, -1.0);
    args.frameCallback = RecordFrame;
    args.frameCallbackUserData = &record;
    args.enablePolling = 1;
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultSuccess);
    REQUIRE(engine != NULL);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    CHECK(WaitForCallsWithFace(&record, 1));
    {
        Expectation stored = AnyFrame();
        stored.laterThanMs = 0.0;
        CHECK(WaitFor(engine, &stored));
    }
    for (polls = 0; polls < 50; ++polls) {
        const double polledMs = LatestMs(engine);
        CHECK(polledMs > 0.0 && polledMs <= Snapshot(&record).latestMs);
        TestSleepMs(2);
    }
    CHECK(kiroVoveDizevuroEngineStopTracking(engine) == kKiroResultSuccess);
    kiroVoveDizevuroEngineRelease(engine);
    CHECK(Snapshot(&record).failures == 0);
    TestLockDestroy(record.lock);
}

/* ---- Virtual face hook ---- */

typedef enum HookMode {
    kHookOneFace,         /* one face, detections kept */
    kHookTooMany,         /* fills every entry and reports more; also scribbles on the in-fields */
    kHookNegativeCount,   /* returns true with a negative count */
    kHookDiscard,         /* one face, detections discarded */
    kHookDeclines         /* writes a face, then returns false */
} HookMode;

typedef struct HookRecord {
    TestLock* lock;
    HookMode mode;
    int calls;
    int badEntry;          /* the context did not arrive as promised */
    int lastDetectedFaces;
    int lastMaxNumOfFaces;
    double lastMs;
} HookRecord;

static int32_t Hook(kiro_head_tracking_virtual_face_hook_context* context, void* userData) {
    HookRecord* record = (HookRecord*)userData;
    int32_t i;
    int32_t answer = 1;
    int badEntry = context->numOfVirtualFaces != 0 || context->discardDetectedFaces != 0 ||
                   context->maxNumOfFaces < 1 || context->virtualFaces == NULL || context->timestampSpace != 0;
    if (!badEntry) {
        badEntry = !AllBytesAre(context->virtualFaces,
                                sizeof(kiro_head_tracking_virtual_face) * (size_t)context->maxNumOfFaces, 0);
    }
    TestLockAcquire(record->lock);
    ++record->calls;
    record->badEntry |= badEntry || !(context->timestampMs > record->lastMs);
    record->lastMs = context->timestampMs;
    record->lastDetectedFaces = context->numOfDetectedFaces;
    record->lastMaxNumOfFaces = context->maxNumOfFaces;
    for (i = 0; i < context->maxNumOfFaces; ++i) {
        /* Display space; (0, 0, 500 + 200 i) lies straight in front of the camera. */
        context->virtualFaces[i].x = 0.0f;
        context->virtualFaces[i].y = 0.0f;
        context->virtualFaces[i].z = 500.0f + 200.0f * (float)i;
        context->virtualFaces[i].interocularDistance = 64.0f;
    }
    switch (record->mode) {
        case kHookOneFace:
            context->numOfVirtualFaces = 1;
            break;
        case kHookTooMany:
            context->numOfVirtualFaces = context->maxNumOfFaces + 3;
            context->maxNumOfFaces = 1000;
            context->virtualFaces = NULL;
            break;
        case kHookNegativeCount:
            context->numOfVirtualFaces = -3;
            break;
        case kHookDiscard:
            context->numOfVirtualFaces = 1;
            context->discardDetectedFaces = 1;
            break;
        case kHookDeclines:
            context->numOfVirtualFaces = 1;
            context->discardDetectedFaces = 1;
            answer = 0;
            break;
    }
    TestLockRelease(record->lock);
    return answer;
}

static void SetHookMode(HookRecord* record, HookMode mode) {
    TestLockAcquire(record->lock);
    record->mode = mode;
    TestLockRelease(record->lock);
}

/* Waits for a frame after `afterMs` whose detections are, in order, faces at these depths. */
static int WaitForDetectionDepths(kiro_head_tracking_engine* engine, double afterMs, const float* depths,
                                  int count) {
    int poll;
    for (poll = 0; poll < kHangGuardPolls; ++poll) {
        kiro_head_tracking_frame* frame = NULL;
        kiro_head_tracking_result result;
        kiro_head_tracking_detected_faces detectedFaces;
        int met = kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) == kKiroResultSuccess &&
                  kiroVoveDizevuroFrameGetTrackingResult(frame, &result) == kKiroResultSuccess &&
                  kiroVoveDizevuroFrameGetDetectedFaces(frame, &detectedFaces) == kKiroResultSuccess &&
                  result.ms > afterMs && detectedFaces.count == count;
        int i;
        for (i = 0; met && i < count; ++i) {
            met = fabsf(detectedFaces.faces[i].rightEye.depth - depths[i]) <= 0.002f &&
                  fabsf(detectedFaces.faces[i].leftEye.depth - depths[i]) <= 0.002f;
        }
        kiroVoveDizevuroFrameRelease(frame);
        if (met) {
            return 1;
        }
        TestSleepMs(kPollIntervalMs);
    }
    return 0;
}

static void TestVirtualFaceHook(void) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = NULL;
    HookRecord record;
    HookRecord seen;
    const float real[] = {0.6f};
    const float oneVirtual[] = {0.5f};
    const float realAndVirtual[] = {0.6f, 0.5f};
    const float twoVirtual[] = {0.5f, 0.7f};
    memset(&record, 0, sizeof(record));
    record.lock = TestLockCreate();
    record.mode = kHookOneFace;
    REQUIRE(record.lock != NULL);

    ResetDevice();
    AddStillFace(-40.0f, 20.0f, 600.0f, 0.0, -1.0);
    args.enablePolling = 1;
    args.maxNumOfFaces = 2;
    args.virtualFaceHook = Hook;
    args.virtualFaceHookUserData = &record;
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultSuccess);
    REQUIRE(engine != NULL);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);

    /* The real face (0.6 m) and the virtual one (0.5 m), which the tracker sees where the hook
       put it. */
    CHECK(WaitForDetectionDepths(engine, 0.0, realAndVirtual, 2));
    {
        Expectation e = AnyFrame();
        e.numFaces = 2;
        CHECK(WaitFor(engine, &e));
    }
    {
        kiro_head_tracking_frame* frame = NULL;
        kiro_head_tracking_result result;
        kiro_head_tracking_detected_faces detectedFaces;
        int i;
        int virtualSeen = 0;
        CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) == kKiroResultSuccess);
        CHECK(kiroVoveDizevuroFrameGetTrackingResult(frame, &result) == kKiroResultSuccess);
        CHECK(kiroVoveDizevuroFrameGetDetectedFaces(frame, &detectedFaces) == kKiroResultSuccess);
        for (i = 0; i < result.numFaces; ++i) {
            virtualSeen |= Near3(result.faces[i].position, 0.0f, 0.0f, 500.0f, kSettledTolerance);
        }
        CHECK(virtualSeen);
        CHECK(detectedFaces.count == 2 && Near3(detectedFaces.faces[1].extra, 0.0f, 0.0f, 0.0f, 0.0f));
        kiroVoveDizevuroFrameRelease(frame);
    }
    TestLockAcquire(record.lock);
    seen = record;
    TestLockRelease(record.lock);
    CHECK(seen.calls > 0);
    CHECK(!seen.badEntry);
    CHECK(seen.lastDetectedFaces == 1);
    CHECK(seen.lastMaxNumOfFaces == 2);

    /* More faces than room: only maxNumOfFaces are taken, and they push out the real face. */
    SetHookMode(&record, kHookTooMany);
    CHECK(WaitForDetectionDepths(engine, LatestMs(engine), twoVirtual, 2));

    /* A negative count takes no virtual face. */
    SetHookMode(&record, kHookNegativeCount);
    CHECK(WaitForDetectionDepths(engine, LatestMs(engine), real, 1));

    /* Discarding keeps only the hook's faces. */
    SetHookMode(&record, kHookDiscard);
    CHECK(WaitForDetectionDepths(engine, LatestMs(engine), oneVirtual, 1));

    /* Declining changes nothing, whatever the hook wrote. */
    SetHookMode(&record, kHookDeclines);
    CHECK(WaitForDetectionDepths(engine, LatestMs(engine), real, 1));

    kiroVoveDizevuroEngineRelease(engine);
    TestLockAcquire(record.lock);
    CHECK(!record.badEntry);
    TestLockRelease(record.lock);
    TestLockDestroy(record.lock);
}

/* Frames released in any order, before or after their engine. */
static void TestReleaseOrders(void) {
    kiro_head_tracking_engine* engine;
    kiro_head_tracking_frame* frames[4] = {NULL, NULL, NULL, NULL};
    kiro_head_tracking_result result;
    int i;
    ResetDevice();
    AddStillFace(-40.0f, 20.0f, 600.0f, 0.0, -1.0);
    engine = CreatePollingEngine(1);
    REQUIRE(engine != NULL);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);
    {
        Expectation e = AnyFrame();
        e.mainFaceMeasured = 1;
        CHECK(WaitFor(engine, &e));
    }
    for (i = 0; i < 4; ++i) {
        CHECK(kiroVoveDizevuroEngineGetLatestFrame(engine, &frames[i]) == kKiroResultSuccess);
    }
    kiroVoveDizevuroFrameRelease(frames[1]);
    kiroVoveDizevuroFrameRelease(frames[0]);
    CHECK(kiroVoveDizevuroEngineStopTracking(engine) == kKiroResultSuccess);
    kiroVoveDizevuroFrameRelease(frames[3]);
    kiroVoveDizevuroEngineRelease(engine);
    CHECK(kiroVoveDizevuroFrameGetTrackingResult(frames[2], &result) == kKiroResultSuccess);
    CHECK(result.numFaces == 1);
    kiroVoveDizevuroFrameRelease(frames[2]);
}

int main(void) {
    TestVersionAndLogLevelNames();
    TestNullHandles();
    TestNullPointers();
    TestInitWithoutCallbackOrPollingFails();
    TestInitFailureLeavesNothingBehind();
    TestPollingEngineLifecycle();
    TestStartFailureAndStopOnStoppedEngine();
    TestMaxNumOfDetectedFaces();
    TestSettingsWhileTracking();
    TestPredictedMainFace();
    TestCallbackEngine();
    TestCallbackAndPolling();
    TestReleaseFromTheCallbackIsRefused();
    TestVirtualFaceHook();
    TestReleaseOrders();
    printf("%d check(s) failed\n", testFailures);
    return testFailures == 0 ? 0 : 1;
}

/*
 * The C records' capacities and the init failures, with the scripted detector plug-in (found on
 * the system search path) on the virtual RealSense device: the plug-in returns, for every frame,
 * the detections this test scripts, with a face-count limit the test chooses, so a frame can
 * carry more faces than a record holds. Each record is filled inside a larger block whose tail
 * must stay untouched.
 *
 * The log line of the failed creation is checked by the CTest wrapper that runs this program.
 */

#include "tests/voveDizevuro/api/cTestSupport.h"
#include "tools/virtualRealsense/virtualRealsense.h"

#include <stddef.h>
#include <stdint.h>

/* The plug-in's detection record (the library's C++ Detection, natural alignment, 72 bytes). */
typedef struct ScriptedEye {
    double pixel[2];
    float depth;
    float padding;
} ScriptedEye;

typedef struct ScriptedDetection {
    ScriptedEye rightEye;
    ScriptedEye leftEye;
    float extra[3];
    float headAngles[3];
} ScriptedDetection;

typedef char scriptedDetectionLayout[sizeof(ScriptedDetection) == 72 ? 1 : -1];

/* The plug-in's counters: ten int32 values, then the last intrinsics it was told. */
typedef struct ScriptedStats {
    int32_t created;
    int32_t deleted;
    int32_t createCalls;
    int32_t others[7];
    unsigned char lastIntrinsics[48];
} ScriptedStats;

enum { kScriptedCreateDetector = 0, kScriptedCreateNull = 1, kScriptedCreateThrow = 2 };

typedef void ResetFn(void);
typedef void SetDetectionsFn(const ScriptedDetection* detections, int32_t count);
typedef void SetCreateModeFn(int32_t mode);
typedef void SetFaceLimitsFn(int32_t limit, int32_t defaultCount);
typedef void GetStatsFn(ScriptedStats* stats);

static struct {
    ResetFn* reset;
    SetDetectionsFn* setDetections;
    SetCreateModeFn* setCreateMode;
    SetFaceLimitsFn* setFaceLimits;
    GetStatsFn* getStats;
} scripted;

static int LoadScriptedPlugin(void) {
    void* module = TestPinModule("kiroVoveDizevuroBlinkDetectorcpu" KIRO_TEST_MODULE_SUFFIX);
    if (module == NULL) {
        return 0;
    }
    scripted.reset = (ResetFn*)TestFindSymbol(module, "ScriptedDetector_Reset");
    scripted.setDetections = (SetDetectionsFn*)TestFindSymbol(module, "ScriptedDetector_SetDetections");
    scripted.setCreateMode = (SetCreateModeFn*)TestFindSymbol(module, "ScriptedDetector_SetCreateMode");
    scripted.setFaceLimits = (SetFaceLimitsFn*)TestFindSymbol(module, "ScriptedDetector_SetFaceLimits");
    scripted.getStats = (GetStatsFn*)TestFindSymbol(module, "ScriptedDetector_GetStats");
    return scripted.reset != NULL && scripted.setDetections != NULL && scripted.setCreateMode != NULL &&
           scripted.setFaceLimits != NULL && scripted.getStats != NULL;
}

static ScriptedStats Stats(void) {
    ScriptedStats stats;
    memset(&stats, 0, sizeof(stats));
    scripted.getStats(&stats);
    return stats;
}

enum { kManyFaces = 40 };

/* Face i of a grid of 8 x 5 faces 0.5 m away, eyes 54 px (63 mm) apart, each with its own
   `extra` and head angles so that every copied field can be told apart. */
static ScriptedDetection GridFace(int i) {
    ScriptedDetection d;
    memset(&d, 0, sizeof(d));
    d.rightEye.pixel[0] = 100.0 + 90.0 * (i % 8);
    d.rightEye.pixel[1] = 100.0 + 70.0 * (i / 8) + 0.25;
    d.rightEye.depth = 0.5f;
    d.leftEye.pixel[0] = d.rightEye.pixel[0] + 54.0;
    d.leftEye.pixel[1] = d.rightEye.pixel[1] + 0.5;
    d.leftEye.depth = 0.501f;
    d.extra[0] = (float)i;
    d.extra[1] = 7.0f;
    d.extra[2] = 9.0f;
    d.headAngles[0] = 0.001f * (float)i;
    d.headAngles[1] = 0.002f * (float)i;
    d.headAngles[2] = 0.003f * (float)i;
    return d;
}

static void ScriptFaces(int count) {
    ScriptedDetection detections[kManyFaces];
    int i;
    for (i = 0; i < count; ++i) {
        detections[i] = GridFace(i);
    }
    scripted.setDetections(detections, count);
}

static void ResetAll(void) {
    kiroVirtualRealsenseReset();
    scripted.reset();
}

static kiro_head_tracking_engine* CreateEngine(int32_t maxNumOfFaces) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = NULL;
    args.enablePolling = 1;
    args.maxNumOfFaces = maxNumOfFaces;
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultSuccess);
    return engine;
}

/* Records followed by guard bytes that no getter may touch. */
typedef struct GuardedResult {
    kiro_head_tracking_result record;
    unsigned char guard[kGuardBytes];
} GuardedResult;

typedef struct GuardedRawFaces {
    kiro_head_tracking_raw_faces record;
    unsigned char guard[kGuardBytes];
} GuardedRawFaces;

typedef struct GuardedDetections {
    kiro_head_tracking_detected_faces record;
    unsigned char guard[kGuardBytes];
} GuardedDetections;

/* Waits until the latest frame has `detections` detections and `faces` tracked faces, then
   reads it into the guarded records. */
static int ReadFrameWith(kiro_head_tracking_engine* engine, int detections, int faces, GuardedResult* result,
                         GuardedRawFaces* rawFaces, GuardedDetections* detectedFaces) {
    int poll;
    for (poll = 0; poll < kHangGuardPolls; ++poll) {
        kiro_head_tracking_frame* frame = NULL;
        int ok;
        memset(result, kFillByte, sizeof(*result));
        memset(rawFaces, kFillByte, sizeof(*rawFaces));
        memset(detectedFaces, kFillByte, sizeof(*detectedFaces));
        ok = kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) == kKiroResultSuccess &&
             kiroVoveDizevuroFrameGetTrackingResult(frame, &result->record) == kKiroResultSuccess &&
             kiroVoveDizevuroFrameGetRawFaces(frame, &rawFaces->record) == kKiroResultSuccess &&
             kiroVoveDizevuroFrameGetDetectedFaces(frame, &detectedFaces->record) == kKiroResultSuccess;
        kiroVoveDizevuroFrameRelease(frame);
        if (!ok) {
            return 0;
        }
        if (detectedFaces->record.count == detections && result->record.numFaces == faces) {
            return 1;
        }
        TestSleepMs(kPollIntervalMs);
    }
    return 0;
}

static int SameDetection(const kiro_head_tracking_detection* actual, const ScriptedDetection* expected) {
    return actual->rightEye.pixel[0] == expected->rightEye.pixel[0] &&
           actual->rightEye.pixel[1] == expected->rightEye.pixel[1] &&
           actual->rightEye.depth == expected->rightEye.depth &&
           actual->leftEye.pixel[0] == expected->leftEye.pixel[0] &&
           actual->leftEye.pixel[1] == expected->leftEye.pixel[1] &&
           actual->leftEye.depth == expected->leftEye.depth && actual->extra.x == expected->extra[0] &&
           actual->extra.y == expected->extra[1] && actual->extra.z == expected->extra[2] &&
           actual->headAngles.x == expected->headAngles[0] && actual->headAngles.y == expected->headAngles[1] &&
           actual->headAngles.z == expected->headAngles[2];
}

/* More detections and faces than the records hold: each record is filled to its capacity, says
   so in its count, and nothing after it is written. */
static void TestRecordsHoldAtMostTheirCapacity(void) {
    kiro_head_tracking_engine* engine;
    GuardedResult result;
    GuardedRawFaces rawFaces;
    GuardedDetections detectedFaces;
    int32_t limit = 0;
    int used[kManyFaces];
    int i;

    ResetAll();
    scripted.setFaceLimits(kManyFaces, kManyFaces);
    ScriptFaces(kManyFaces);
    engine = CreateEngine(kManyFaces);
    REQUIRE(engine != NULL);
    CHECK(kiroVoveDizevuroEngineGetMaxNumOfDetectedFacesLimit(engine, &limit) == kKiroResultSuccess);
    CHECK(limit == kManyFaces);
    CHECK(kiroVoveDizevuroEngineStartTracking(engine) == kKiroResultSuccess);

    CHECK(ReadFrameWith(engine, KIRO_HEAD_TRACKING_RECORD_MAX_FACES, KIRO_HEAD_TRACKING_RESULT_MAX_FACES, &result,
                        &rawFaces, &detectedFaces));
    CHECK(AllBytesAre(result.guard, sizeof(result.guard), kFillByte));
    CHECK(AllBytesAre(rawFaces.guard, sizeof(rawFaces.guard), kFillByte));
    CHECK(AllBytesAre(detectedFaces.guard, sizeof(detectedFaces.guard), kFillByte));

    /* The first detections, every field copied. */
    for (i = 0; i < KIRO_HEAD_TRACKING_RECORD_MAX_FACES; ++i) {
        const ScriptedDetection expected = GridFace(i);
        CHECK(SameDetection(&detectedFaces.record.faces[i], &expected));
    }

    /* Each raw face comes from a different detection; all 40 were accepted, 32 are shown. */
    CHECK(rawFaces.record.count == KIRO_HEAD_TRACKING_RECORD_MAX_FACES);
    memset(used, 0, sizeof(used));
    for (i = 0; i < rawFaces.record.count; ++i) {
        const int index = rawFaces.record.faces[i].detectionIndex;
        CHECK(index >= 0 && index < kManyFaces && !used[index]);
        if (index >= 0 && index < kManyFaces) {
            used[index] = 1;
            CHECK_NEAR(rawFaces.record.faces[i].trackedPoint.z, 500.5, 1.0);
        }
    }

    /* Three faces, each tied to a raw face and carrying its detection's head angles. */
    for (i = 0; i < KIRO_HEAD_TRACKING_RESULT_MAX_FACES; ++i) {
        const kiro_head_tracking_face* face = &result.record.faces[i];
        CHECK(face->rawFaceIndex >= 0 && face->rawFaceIndex < kManyFaces);
        CHECK(face->headAngles.y >= 0.0f && face->headAngles.y < 0.002f * kManyFaces);
        CHECK_NEAR(face->position.z, 500.5, 2.0);
    }
    CHECK(result.record.trackingStarted == 1);

    /* Fewer than the capacity: exactly that many entries, the rest of the record untouched. */
    ScriptFaces(5);
    CHECK(ReadFrameWith(engine, 5, KIRO_HEAD_TRACKING_RESULT_MAX_FACES, &result, &rawFaces, &detectedFaces));
    CHECK(rawFaces.record.count == 5);
    CHECK(AllBytesAre(&rawFaces.record.faces[5], sizeof(kiro_head_tracking_raw_face) * 27, kFillByte));
    CHECK(AllBytesAre(&detectedFaces.record.faces[5], sizeof(kiro_head_tracking_detection) * 27, kFillByte));
    CHECK(AllBytesAre(rawFaces.guard, sizeof(rawFaces.guard), kFillByte));

    /* Fewer than three faces are all shown. */
    ScriptFaces(2);
    CHECK(ReadFrameWith(engine, 2, 2, &result, &rawFaces, &detectedFaces));
    CHECK(AllBytesAre(&result.record.faces[2], sizeof(kiro_head_tracking_face), kFillByte));

    kiroVoveDizevuroEngineRelease(engine);
    CHECK(Stats().created == Stats().deleted);
}

/* Failed creations: the detector's plug-in gives none, or the camera cannot start after the
   detector was made. Each returns 2, leaves the handle null and no detector alive. Logs
   "Failed to initialize head tracking engine: Failed to create face detector". */
static void TestInitFailuresLeaveNothingAlive(void) {
    kiro_head_tracking_engine_init_args args = ZeroInitArgs();
    kiro_head_tracking_engine* engine = (kiro_head_tracking_engine*)&args;
    ScriptedStats stats;
    args.enablePolling = 1;

    ResetAll();
    scripted.setCreateMode(kScriptedCreateNull);
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultException);
    CHECK(engine == NULL);
    stats = Stats();
    CHECK(stats.createCalls == 1 && stats.created == 0);

    engine = (kiro_head_tracking_engine*)&args;
    scripted.setCreateMode(kScriptedCreateThrow);
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultException);
    CHECK(engine == NULL);
    stats = Stats();
    CHECK(stats.createCalls == 2 && stats.created == 0);

    engine = (kiro_head_tracking_engine*)&args;
    scripted.setCreateMode(kScriptedCreateDetector);
    kiroVirtualRealsenseFaultNoDevice(1);
    CHECK(kiroVoveDizevuroEngineInitArgs(&args, &engine) == kKiroResultException);
    CHECK(engine == NULL);
    stats = Stats();
    CHECK(stats.createCalls == 3 && stats.created == 1 && stats.deleted == 1);
    kiroVirtualRealsenseFaultNoDevice(0);
}

int main(void) {
    if (!LoadScriptedPlugin()) {
        fprintf(stderr, "the scripted detector plug-in is not on the search path\n");
        return 1;
    }
    TestRecordsHoldAtMostTheirCapacity();
    TestInitFailuresLeaveNothingAlive();
    printf("%d check(s) failed\n", testFailures);
    return testFailures == 0 ? 0 : 1;
}

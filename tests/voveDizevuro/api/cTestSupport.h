#ifndef KIRO_C_TEST_SUPPORT_H
#define KIRO_C_TEST_SUPPORT_H

/* Checks and helpers shared by the C tests of the library's C interface. A failed check prints
   where it failed and the test goes on; the program's exit code is the number of failures. */

#include "tests/voveDizevuro/api/cTestPlatform.h"
#include "voveDizevuro/api/headTrackingApi.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

static int testFailures = 0;

#define CHECK(condition)                                                                        \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            ++testFailures;                                                                     \
            fprintf(stderr, "%s:%d: %s: check failed: %s\n", __FILE__, __LINE__, __func__, #condition); \
        }                                                                                       \
    } while (0)

/* A check that, when it fails, also leaves the current test function. */
#define REQUIRE(condition)       \
    do {                         \
        const int before = testFailures; \
        CHECK(condition);        \
        if (testFailures != before) {   \
            return;              \
        }                        \
    } while (0)

#define CHECK_NEAR(actual, expected, tolerance) CHECK(fabs((double)(actual) - (double)(expected)) <= (tolerance))

/* Waits are bounded only to turn a hang into a failure, never to judge speed. */
enum { kPollIntervalMs = 5, kHangGuardPolls = 60000 / kPollIntervalMs };

/* Bytes that a record's memory holds before a getter runs, and after the record's end. */
enum { kFillByte = 0x5A, kGuardBytes = 64 };

static inline int AllBytesAre(const void* memory, size_t size, unsigned char value) {
    const unsigned char* bytes = (const unsigned char*)memory;
    size_t i;
    for (i = 0; i < size; ++i) {
        if (bytes[i] != value) {
            return 0;
        }
    }
    return 1;
}

/* Init arguments with every field zero (the camera and the detector choose) but the log level:
   warnings and above. */
static inline kiro_head_tracking_engine_init_args ZeroInitArgs(void) {
    kiro_head_tracking_engine_init_args args;
    memset(&args, 0, sizeof(args));
    args.logLevel = kKiroLogLevelWarn;
    return args;
}

static inline int Near3(kiro_vec3 v, float x, float y, float z, float tolerance) {
    return fabsf(v.x - x) <= tolerance && fabsf(v.y - y) <= tolerance && fabsf(v.z - z) <= tolerance;
}

/* The tracking result of the engine's latest frame; 0 when taking or reading it failed. */
static inline int LatestResult(kiro_head_tracking_engine* engine, kiro_head_tracking_result* result) {
    kiro_head_tracking_frame* frame = NULL;
    int ok = kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) == kKiroResultSuccess && frame != NULL &&
             kiroVoveDizevuroFrameGetTrackingResult(frame, result) == kKiroResultSuccess;
    kiroVoveDizevuroFrameRelease(frame);
    return ok;
}

#endif

/* A C99 host of the C interface, built against an installed tree. It creates an engine (the
 * camera and the detector plug-in of that tree), polls frames until their timestamps have
 * advanced ten times, stops tracking and releases the engine. Exit code 0 when all of that
 * worked, 1 with the reason on stderr otherwise. argv[1], when given, is the version the
 * library must report. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 199309L
#endif

#include "voveDizevuro/api/headTrackingApi.h"

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
static void SleepMs(unsigned ms) { Sleep(ms); }
#else
#include <time.h>
static void SleepMs(unsigned ms) {
    struct timespec duration;
    duration.tv_sec = ms / 1000;
    duration.tv_nsec = (long)(ms % 1000) * 1000000L;
    nanosleep(&duration, NULL);
}
#endif

enum { kFramesWanted = 10, kPollMs = 20, kMaxPolls = 3000 /* 60 s, enough under Wine */ };

static int Fail(kiro_head_tracking_engine* engine, const char* what) {
    fprintf(stderr, "cHost: %s\n", what);
    kiroVoveDizevuroEngineRelease(engine);
    return 1;
}

int main(int argc, char** argv) {
    const char* version = kiroVoveDizevuroGetVersion();
    kiro_head_tracking_engine_init_args args;
    kiro_head_tracking_engine* engine = NULL;
    int32_t detectorLimit = 0;
    int frames = 0;
    int polls = 0;
    double lastMs = 0.0;

    if (argc > 1 && strcmp(version, argv[1]) != 0) {
        fprintf(stderr, "cHost: the library reports version %s, not %s\n", version, argv[1]);
        return 1;
    }
    memset(&args, 0, sizeof args);
    args.logLevel = kKiroLogLevelWarn;
    args.enablePolling = 1;
    if (kiroVoveDizevuroEngineInitArgs(&args, &engine) != kKiroResultSuccess) {
        return Fail(NULL, "the engine was not created (see the log above)");
    }
    if (kiroVoveDizevuroEngineGetMaxNumOfDetectedFacesLimit(engine, &detectorLimit) != kKiroResultSuccess ||
        detectorLimit < 1) {
        return Fail(engine, "the engine has no face detector");
    }
    if (kiroVoveDizevuroEngineSetCameraPosition(engine, 0.0f, 150.0f, 0.0f) != kKiroResultSuccess ||
        kiroVoveDizevuroEngineStartTracking(engine) != kKiroResultSuccess) {
        return Fail(engine, "tracking did not start");
    }
    for (; frames < kFramesWanted && polls < kMaxPolls; ++polls) {
        kiro_head_tracking_frame* frame = NULL;
        kiro_head_tracking_result result;
        SleepMs(kPollMs);
        if (kiroVoveDizevuroEngineGetLatestFrame(engine, &frame) != kKiroResultSuccess ||
            kiroVoveDizevuroFrameGetTrackingResult(frame, &result) != kKiroResultSuccess) {
            kiroVoveDizevuroFrameRelease(frame);
            return Fail(engine, "a polled frame could not be read");
        }
        kiroVoveDizevuroFrameRelease(frame);
        if (result.ms < lastMs || result.numFaces < 0 || result.numFaces > KIRO_HEAD_TRACKING_RESULT_MAX_FACES) {
            return Fail(engine, "a polled frame went back in time or holds an impossible face count");
        }
        if (result.ms > lastMs) {
            lastMs = result.ms;
            ++frames;
        }
    }
    if (frames < kFramesWanted) {
        return Fail(engine, "no frames arrived within 60 s");
    }
    if (kiroVoveDizevuroEngineStopTracking(engine) != kKiroResultSuccess) {
        return Fail(engine, "tracking did not stop");
    }
    kiroVoveDizevuroEngineRelease(engine);
    printf("cHost: library %s, detector limit %d, %d frames\n", version, (int)detectorLimit, frames);
    return 0;
}

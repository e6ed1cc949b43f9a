#pragma once

// The extra C functions of the scripted detector plug-in (scriptedDetectorPlugin.cpp), through
// which a test chooses what its detectors do and reads what the engine did to them. Every
// loaded copy of the plug-in (one per backend) has its own script and counters, shared by all
// detectors it creates. All functions are safe to call from any thread.

#include "voveDizevuro/camera/cameraTypes.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <cstdint>

namespace kiro::test {

/// What happened to the detectors of one plug-in copy since its last reset.
struct ScriptedDetectorStats {
    int32_t created;           // detectors handed out by the create entry point
    int32_t deleted;           // detectors destroyed through the delete entry point
    int32_t createCalls;       // calls of the create entry point, failed ones included
    int32_t createMaxNumOfFaces;  // maxNumOfFaces of the configuration of the last create call
    int32_t createBackend;     // backend of that configuration
    int32_t detectCalls;
    int32_t setMaxNumOfFacesCalls;
    int32_t lastSetMaxNumOfFaces;  // 0 before the first call
    int32_t intrinsicsCalls;
    CameraIntrinsics lastIntrinsics;  // zero before the first call
};

/// How the create entry point answers.
enum ScriptedCreateMode : int32_t {
    kScriptedCreateDetector = 0,
    kScriptedCreateNull = 1,   // returns null
    kScriptedCreateThrow = 2,  // throws std::runtime_error("scripted create failure")
};

}  // namespace kiro::test

extern "C" {
/// Back to the defaults: no detections, no failures, limit 4 and default count 3; counters zero.
using ScriptedDetector_ResetFn = void();
/// Detections every detect call returns from now on (at most the detector's current count of
/// them, the first ones first).
using ScriptedDetector_SetDetectionsFn = void(const kiro::head::Detection* detections, int32_t count);
/// Non-zero: detect throws std::runtime_error("scripted detector failure").
using ScriptedDetector_SetThrowOnDetectFn = void(int32_t enabled);
using ScriptedDetector_SetCreateModeFn = void(int32_t mode);
/// Face-count limit of new detectors and their count when the configuration asks for none.
using ScriptedDetector_SetFaceLimitsFn = void(int32_t limit, int32_t defaultCount);
using ScriptedDetector_GetStatsFn = void(kiro::test::ScriptedDetectorStats* stats);
}

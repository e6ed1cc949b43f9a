#pragma once

#include "voveDizevuro/camera/cameraFrame.h"
#include "voveDizevuro/engine/faceDetectorConfiguration.h"
#include "voveDizevuro/engine/faceTypes.h"

#include <string>
#include <vector>

/// Marks a plug-in's two entry points, which the loader looks up by these undecorated names:
///   KIRO_PLUGIN_EXPORT kiro::head::FaceDetector* Plugin_CreateBlinkDetector(
///       const kiro::head::BlinkDetectorConfiguration&, kiro::AssetManager*);
///   KIRO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(kiro::head::FaceDetector*);
#if defined(_WIN32)
#define KIRO_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define KIRO_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace kiro::head {

/// What the engine hands to the plug-in loader when it creates a detector.
struct BlinkDetectorConfiguration {
    const FaceDetectorConfiguration* faceDetector;  // selects the plug-in by its backend
    std::string options;                            // passed empty by the engine
};

/// A face detector living in a plug-in. Created and destroyed only through the plug-in's entry
/// points, so it has no public destructor. The order of the virtual operations is part of the
/// binary interface with separately built plug-ins.
///
/// Threads: the engine's frame-processing thread (the camera's delivery thread) calls Detect and
/// SetMaxNumOfFaces; the other operations also come from host threads. Calls that change the
/// detector never overlap, but GetMaxNumOfFacesLimit and GetBackend may run during Detect.
class FaceDetector {
public:
    struct Output {
        std::vector<Detection> detections;
    };

    /// Largest face count SetMaxNumOfFaces accepts. Any thread, also during Detect.
    virtual int GetMaxNumOfFacesLimit() const = 0;
    virtual int GetMaxNumOfFaces() const = 0;
    /// n in 1 .. GetMaxNumOfFacesLimit(); later outputs hold at most n detections. Between two
    /// Detect calls.
    virtual void SetMaxNumOfFaces(int n) = 0;
    /// Any thread, also during Detect.
    virtual kiro_face_detector_backend_e GetBackend() const = 0;
    /// Called after creation and on every intrinsics change, before the next Detect.
    virtual void OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) = 0;
    /// Detections for the frame, pixel positions in its first image. The output stays valid
    /// until the next call; the caller may edit `detections` in place. Called on the processing
    /// thread once for every frame processed while tracking, never concurrently with itself.
    /// The next frame waits for it, so it must return well within the camera's frame period
    /// (about 11 ms at 90 fps) and must not block on anything but its own work.
    virtual Output& Detect(const CameraFrame& frame) = 0;

protected:
    ~FaceDetector() = default;
};

}  // namespace kiro::head

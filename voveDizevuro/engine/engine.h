#pragma once

#include "common/assetManager.h"
#include "common/export.h"
#include "common/platform.h"
#include "voveDizevuro/camera/camera.h"
#include "voveDizevuro/camera/realsenseCamera.h"
#include "voveDizevuro/camera/sharedCamera.h"
#include "voveDizevuro/common/frameAdapter.h"
#include "voveDizevuro/engine/core/faceTracker.h"
#include "voveDizevuro/engine/engineConfiguration.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <glm/vec4.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace kiro::head {

/// What the virtual face hook sees and answers for one frame.
struct VirtualFaceHookContext {
    Timestamp timestamp;     // in: the camera frame's time
    int32_t numOfDetectedFaces;  // in: detections the detector returned
    int32_t maxNumOfFaces;       // in: room in virtualFaces
    /// in: storage for (x, y, z, interocular distance) in display space, mm, one entry per
    /// face. After the call each used entry holds camera-space values, so write every entry
    /// you report on every call.
    glm::vec4* virtualFaces;
    int32_t numOfVirtualFaces;   // out: entries filled
    bool discardDetectedFaces;   // out: ignore the detector's own detections for this frame
};

struct EngineInitArgs {
    EngineConfiguration configuration;
    Platform* platform = nullptr;  // required; must outlive the engine
    AssetManager* assetManager = nullptr;  // optional; when null a temporary one serves each detector load
    /// Called on the processing thread after every processed frame.
    std::function<void(const FaceTracker&, const FaceDetector::Output&, const CameraFrame&)> frameCallback;
    FrameAdapter* frameAdapter = nullptr;  // receives every processed frame; must outlive the engine
    /// Non-null: the host feeds images through this sink instead of a RealSense camera.
    SharedCameraSink* sharedCameraSink = nullptr;
    /// Optional; may add faces of the host's own to each frame (processing thread).
    std::function<bool(VirtualFaceHookContext*)> virtualFaceHook;
};

/// Runs head tracking: owns the camera, the face detector and the face tracker, and turns every
/// camera frame into a result frame. Host threads call construction, settings, start, stop and
/// destruction, one at a time; frames are processed on the camera's delivery thread. Settings
/// changed while tracking take effect on the next frame.
class KIRO_API Engine final : public Camera::Listener {
public:
    /// Throws Exception when the arguments are incomplete, no detector backend is available or
    /// a component cannot be created.
    explicit Engine(const EngineInitArgs& args);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    /// False when already tracking. Rethrows what a failing component throws.
    bool StartTracking(const TrackingSessionInitArgs& args);
    bool StartTracking();
    /// False when not tracking.
    bool StopTracking();

    void SetFilterProperties(const FilterProperties& properties);
    void SetTrackedEyes(bool left, bool right);
    /// The camera's position in display space, mm.
    void SetCameraPosition(const glm::vec3& position);
    /// The camera's rotation into display space, row by row.
    void SetCameraRotation(float a0, float a1, float a2, float a3, float a4, float a5, float a6, float a7, float a8);
    /// `rotation` is a rotation vector (direction = axis, length = angle in degrees).
    void SetCameraTransform(const glm::vec3& position, const glm::vec3& rotation);
    /// n in 1 .. GetMaxNumOfDetectedFacesLimit(); throws Exception otherwise.
    void SetMaxNumOfDetectedFaces(int n);
    /// 0 without a detector.
    int GetMaxNumOfDetectedFacesLimit() const;
    /// Switches the detector plug-in; while tracking the new detector takes over with the next
    /// frame. False for kKiroFaceDetectorBackendUnknown or when the plug-in cannot be loaded.
    bool SetFaceDetectorBackend(kiro_face_detector_backend_e backend);
    /// kKiroFaceDetectorBackendUnknown without a detector.
    kiro_face_detector_backend_e GetFaceDetectorBackend() const;
    /// Forwarded to the camera; false, 0 and an empty slice without one.
    bool SetCameraFps(int fps);
    int GetCameraFps() const;
    Slice<int const> GetSupportedCameraFps() const;
    void SetProfiling(bool enabled);

    void OnCameraFrameAvailable(Camera* camera, CameraFrame const& frame) override;
    void OnCameraIntrinsicsChange(Camera* camera, CameraIntrinsics const& intrinsics) override;

private:
    std::shared_ptr<FaceDetector> CreateDetector(const FaceDetectorConfiguration& configuration) const;
    void LoadDetector();
    void CreateCamera();
    std::shared_ptr<FaceDetector> CurrentDetector() const;
    /// Runs a change of the tracker configuration under the settings lock while tracking.
    template <typename Change>
    void ChangeTrackerConfiguration(Change change);
    void ProcessFrame(const CameraFrame& frame);
    void ApplyPendingChanges();
    /// Makes a pending detector (a backend switch) the current one and gives it the intrinsics.
    void InstallPendingDetector(const CameraIntrinsics& intrinsics);
    void AddVirtualFaces(const CameraFrame& frame, FaceDetector::Output& output);

    Platform* platform_;
    AssetManager* assetManager_;
    EngineConfiguration configuration_;
    std::function<void(const FaceTracker&, const FaceDetector::Output&, const CameraFrame&)> frameCallback_;
    FrameAdapter* frameAdapter_;
    std::function<bool(VirtualFaceHookContext*)> virtualFaceHook_;
    std::vector<glm::vec4> virtualFaces_;
    CameraIntrinsics intrinsics_{};
    bool hasIntrinsics_ = false;
    std::atomic<bool> profilingEnabled_;
    bool isTracking_ = false;
    std::mutex settingsMutex_;
    std::atomic<int32_t> pendingChanges_{-1};
    int32_t appliedMaxNumOfFaces_ = 0;  // the face count the processing thread last applied
    std::shared_ptr<FaceDetector> detector_;
    std::unique_ptr<FaceTracker> tracker_;
    mutable std::mutex detectorMutex_;
    std::shared_ptr<FaceDetector> pendingDetector_;
    SharedCameraSink* sharedCameraSink_;
    std::atomic<bool> cameraCreated_{false};
    std::unique_ptr<Camera> camera_;
};

}  // namespace kiro::head

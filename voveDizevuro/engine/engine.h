#pragma once

#include "common/assetManager.h"
#include "common/exception.h"
#include "common/export.h"
#include "common/platform.h"
#include "voveDizevuro/camera/camera.h"
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
#include <thread>
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
/// destruction, one at a time; frames are processed on the camera's delivery thread (the
/// processing thread), which also runs the frame callback, the frame adapter's callback and the
/// virtual face hook. Settings changed while tracking take effect on the next frame.
class KIRO_API Engine final : public Camera::Listener {
public:
    /// Throws Exception when the arguments are incomplete, no detector backend is available or
    /// a component cannot be created.
    explicit Engine(const EngineInitArgs& args);
    /// On a host thread only, never on the processing thread (from a callback or the hook): the
    /// camera cannot be stopped from the thread it delivers frames on, and the frame in progress
    /// still uses the engine. To end tracking from a callback, call StopTracking there and
    /// destroy the engine once the callback has returned.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    /// False when already tracking. Rethrows what a failing component throws. After a stop asked
    /// for on the processing thread, first completes that stop; called on the processing thread
    /// then, it throws Exception instead.
    bool StartTracking(const TrackingSessionInitArgs& args);
    bool StartTracking();
    /// False when not tracking. On the processing thread (from a callback or the hook) the stop
    /// takes effect when the frame in progress returns: that frame is still delivered, later ones
    /// are dropped. The camera, tracker and, when lazy, detector are then released by the next
    /// StartTracking or StopTracking on a host thread, or by the destructor. With a shared camera,
    /// make that call once the image push that asked for the stop has returned.
    bool StopTracking();

    void SetFilterProperties(const FilterProperties& properties);
    void SetTrackedEyes(bool left, bool right);
    /// The camera's position in display space, mm.
    void SetCameraPosition(const glm::vec3& position);
    /// The camera's rotation into display space, row by row.
    void SetCameraRotation(float a0, float a1, float a2, float a3, float a4, float a5, float a6, float a7, float a8);
    /// `rotation` is a rotation vector (direction = axis, length = angle in degrees).
    void SetCameraTransform(const glm::vec3& position, const glm::vec3& rotation);
    /// n in 1 .. the face-count limit of the detector that receives it: the one a backend switch
    /// is about to install, else the current one. Throws Exception otherwise.
    void SetMaxNumOfDetectedFaces(int n);
    /// The current detector's limit; 0 without a detector.
    int GetMaxNumOfDetectedFacesLimit() const;
    /// Switches the detector plug-in; while tracking the new detector takes over with the next
    /// frame. False for kKiroFaceDetectorBackendUnknown or when the plug-in cannot be loaded;
    /// the previous backend then stays in use.
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
    /// The detector the next frame will use: one waiting to be installed, else the current one.
    std::shared_ptr<FaceDetector> NextDetector() const;
    /// The settings lock, held only while tracking: frames are processed only then.
    std::unique_lock<std::mutex> LockSettingsWhileTracking();
    /// Runs a change of the tracker configuration under the settings lock while tracking.
    template <typename Change>
    void ChangeTrackerConfiguration(Change change);
    bool OnProcessingThread() const;
    /// Stops the camera, then releases the tracker and, when lazy, the detector. Host threads only.
    void EndSession();
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
    std::atomic<bool> isTracking_{false};
    /// A stop asked for on the processing thread that a host thread has yet to carry out; frames
    /// are dropped meanwhile.
    std::atomic<bool> stopPending_{false};
    /// The thread inside ProcessFrame; no thread between frames.
    std::atomic<std::thread::id> processingThread_;
    std::mutex settingsMutex_;
    /// All bits set: the first processed frame applies the whole tracker configuration and the
    /// face count, whatever was set before it.
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

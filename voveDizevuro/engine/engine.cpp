#include "voveDizevuro/engine/engine.h"

#include "common/exceptionInternal.h"
#include "common/mathHelpers.h"
#include "common/plugin.h"
#include "voveDizevuro/camera/realsenseCamera.h"

#include <glm/mat3x3.hpp>
#include <glm/matrix.hpp>

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <thread>
#include <utility>

namespace kiro::head {

namespace {

constexpr int32_t kTrackerConfigurationChanged = 1;
constexpr int32_t kFaceCountChanged = 2;

/// A result frame that reads straight from the tracker and the detector output; valid only
/// during one delivery. A frame the tracker only took the time of shows no raw faces: the
/// tracker's belong to an earlier frame's detections.
class EngineFrame final : public Frame {
public:
    EngineFrame(const FaceTracker& tracker, const FaceDetector::Output& output, const FrameProfiling& profiling)
        : tracker_(&tracker), output_(&output), profiling_(profiling) {}

    Slice<Face const> faces() const override { return tracker_->faces(); }
    Timestamp timestamp() const override { return tracker_->timestamp(); }
    bool trackingStarted() const override { return tracker_->trackingStarted(); }
    float auxValue() const override { return auxValue_; }
    Slice<RawFace const> rawFaces() const override {
        return tracker_->measured() ? tracker_->rawFaces() : Slice<RawFace const>{};
    }
    Slice<Detection const> detections() const override {
        return {output_->detections.data(), output_->detections.size()};
    }
    FrameProfiling profiling() const override { return profiling_; }

private:
    const FaceTracker* tracker_;
    const FaceDetector::Output* output_;
    FrameProfiling profiling_;
    float auxValue_ = 0.0f;
};

/// Marks the calling thread as the one processing a frame for as long as it lives.
class ProcessingThreadMark {
public:
    explicit ProcessingThreadMark(std::atomic<std::thread::id>& mark) : mark_(mark) {
        mark_ = std::this_thread::get_id();
    }
    ~ProcessingThreadMark() { mark_ = std::thread::id(); }
    ProcessingThreadMark(const ProcessingThreadMark&) = delete;
    ProcessingThreadMark& operator=(const ProcessingThreadMark&) = delete;

private:
    std::atomic<std::thread::id>& mark_;
};

/// The frame's time in nanoseconds; 0 for a time that is not finite or does not fit.
int64_t ExposureTimeNs(Timestamp timestamp) {
    const double ns = timestamp.ms * 1'000'000.0;
    return std::isfinite(ns) && std::fabs(ns) < 9.2e18 ? static_cast<int64_t>(ns) : 0;
}

}  // namespace

Engine::Engine(const EngineInitArgs& args)
    : platform_(args.platform),
      assetManager_(args.assetManager),
      configuration_(args.configuration),
      frameCallback_(args.frameCallback),
      frameAdapter_(args.frameAdapter),
      virtualFaceHook_(args.virtualFaceHook),
      profilingEnabled_(false),
      sharedCameraSink_(args.sharedCameraSink) {
    if (platform_ == nullptr) {
        KIRO_THROW("Unexpected EngineInitArgs arguments: platform is not set.");
    }
    if (!frameCallback_ && frameAdapter_ == nullptr) {
        KIRO_THROW("Unexpected EngineInitArgs arguments: neither frameCallback nor frameAdapter are specified. At "
                   "least one should be.");
    }
    if (configuration_.faceDetector.backend == kKiroFaceDetectorBackendUnknown) {
        if (IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendCPU)) {
            configuration_.faceDetector.backend = kKiroFaceDetectorBackendCPU;
        } else if (IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendGPU)) {
            configuration_.faceDetector.backend = kKiroFaceDetectorBackendGPU;
        } else {
            KIRO_THROW("No supported face detector backends has been found. Check package integrity.");
        }
    }
    if (sharedCameraSink_ != nullptr) {
        camera_ = std::make_unique<SharedCamera>(this, sharedCameraSink_);
        cameraCreated_ = true;
    }
    if (!configuration_.initializeFaceDetectorLazily) {
        LoadDetector();
        if (!camera_) {
            CreateCamera();
        }
    }
    profilingEnabled_ = configuration_.enableProfiling;
    spdlog::info("[Engine] Initialized: {} shared camera", sharedCameraSink_ != nullptr ? "with" : "without");
    spdlog::info("[Engine] configuration: {}", args.configuration);
}

Engine::~Engine() {
    // The camera goes first: its capture thread calls into the engine until it has stopped.
    camera_.reset();
}

std::shared_ptr<FaceDetector> Engine::CreateDetector(const FaceDetectorConfiguration& configuration) const {
    // Without a host asset manager, a temporary one serves until the detector exists.
    std::unique_ptr<AssetManager> temporaryAssets;
    AssetManager* assets = assetManager_;
    if (assets == nullptr) {
        temporaryAssets = AssetManager::Create(platform_);
        assets = temporaryAssets.get();
    }
    return CreateBlinkDetector(BlinkDetectorConfiguration{&configuration, ""}, assets);
}

void Engine::LoadDetector() {
    auto detector = CreateDetector(configuration_.faceDetector);
    if (!detector) {
        KIRO_THROW("Failed to create face detector");
    }
    // A detector made after the camera reported its intrinsics would otherwise never learn them.
    if (hasIntrinsics_) {
        detector->OnCameraIntrinsicsChange(intrinsics_);
    }
    {
        const std::lock_guard<std::mutex> lock(detectorMutex_);
        detector_ = detector;
    }
    configuration_.faceDetector.maxNumOfFaces = detector->GetMaxNumOfFaces();
    pendingChanges_ |= kFaceCountChanged;
}

void Engine::CreateCamera() {
    // A lazily built engine with a sink gets a new shared camera on the same sink.
    if (sharedCameraSink_ != nullptr) {
        camera_ = std::make_unique<SharedCamera>(this, sharedCameraSink_);
    } else {
        RealsenseCameraConfiguration realsense;
        realsense.width = configuration_.camera.width;
        realsense.height = configuration_.camera.height;
        realsense.fps = configuration_.camera.fps;
        realsense.binningFactor = configuration_.camera.binningFactor;
        realsense.dynamicConfiguration = RealsenseCameraDynamicConfiguration{false, true, 9000.0f, 50.0f};
        camera_ = CreateRealsenseCamera(this, realsense);
    }
    cameraCreated_ = true;
}

std::shared_ptr<FaceDetector> Engine::CurrentDetector() const {
    const std::lock_guard<std::mutex> lock(detectorMutex_);
    return detector_;
}

std::shared_ptr<FaceDetector> Engine::NextDetector() const {
    const std::lock_guard<std::mutex> lock(detectorMutex_);
    return pendingDetector_ ? pendingDetector_ : detector_;
}

bool Engine::StartTracking() {
    spdlog::debug("[Engine] StartTracking");
    return StartTracking(TrackingSessionInitArgs{});
}

bool Engine::StartTracking(const TrackingSessionInitArgs& args) {
    spdlog::debug("[Engine] StartTracking({})", args);
    if (isTracking_) {
        if (!stopPending_) {
            return false;
        }
        if (OnProcessingThread()) {
            KIRO_THROW("StartTracking cannot follow a stop on the frame processing thread; call it once the frame "
                       "has been delivered");
        }
        EndSession();
    }
    try {
        if (!detector_) {
            LoadDetector();
        }
        tracker_ = std::make_unique<FaceTracker>(*detector_, configuration_.faceTracker);
        tracker_->CameraDidChange(intrinsics_);
        pendingChanges_ &= ~kTrackerConfigurationChanged;
        if (!camera_) {
            CreateCamera();
        }
        // Before capture starts: the first frame's callback may already stop tracking.
        isTracking_ = true;
        camera_->StartCapture();
    } catch (const std::exception& e) {
        isTracking_ = false;
        spdlog::error("Failed to start tracking: one of components is corrupted - {}", e.what());
        StopTracking();
        throw;
    }
    return true;
}

bool Engine::StopTracking() {
    spdlog::debug("[Engine] StopTracking");
    if (OnProcessingThread()) {
        // The camera cannot be stopped from the thread it delivers on, and the frame in progress
        // still uses tracker and detector: a host thread ends the session later.
        return isTracking_ && !stopPending_.exchange(true);
    }
    if (!isTracking_) {
        return false;
    }
    const bool stoppedHere = !stopPending_;
    EndSession();
    return stoppedHere;
}

void Engine::EndSession() {
    isTracking_ = false;
    const bool lazy = configuration_.initializeFaceDetectorLazily;
    if (camera_) {
        if (!lazy && cameraCreated_) {
            camera_->StopCapture();
        } else {
            camera_.reset();
        }
    }
    tracker_.reset();
    // Cleared only once the tracker is gone, which then drops any frame that still arrives.
    stopPending_ = false;
    // A switch asked for while tracking and not yet installed by a frame still holds: a kept
    // detector becomes the new one; a lazy engine holds none and builds the asked-for backend.
    if (lazy) {
        const std::lock_guard<std::mutex> lock(detectorMutex_);
        detector_.reset();
        pendingDetector_.reset();
    } else {
        InstallPendingDetector(intrinsics_);
    }
    spdlog::trace("[Engine] Tracking has been stopped");
}

bool Engine::OnProcessingThread() const { return processingThread_.load() == std::this_thread::get_id(); }

std::unique_lock<std::mutex> Engine::LockSettingsWhileTracking() {
    std::unique_lock<std::mutex> lock(settingsMutex_, std::defer_lock);
    if (isTracking_) {
        lock.lock();
    }
    return lock;
}

template <typename Change>
void Engine::ChangeTrackerConfiguration(Change change) {
    const auto lock = LockSettingsWhileTracking();
    change(configuration_.faceTracker);
    pendingChanges_ |= kTrackerConfigurationChanged;
}

void Engine::SetFilterProperties(const FilterProperties& properties) {
    spdlog::trace("[Engine] SetFilterProperties({})", properties);
    ChangeTrackerConfiguration([&](FaceTracker::Configuration& c) { c.filterProperties = properties; });
}

void Engine::SetTrackedEyes(bool left, bool right) {
    spdlog::trace("[Engine] SetTrackedEyes(.l={}, .r={})", left, right);
    ChangeTrackerConfiguration([&](FaceTracker::Configuration& c) {
        c.trackLeftEye = left;
        c.trackRightEye = right;
    });
}

void Engine::SetCameraPosition(const glm::vec3& position) {
    spdlog::trace("[Engine] SetCameraPosition({})", position);
    ChangeTrackerConfiguration([&](FaceTracker::Configuration& c) { c.cameraPosition = position; });
}

void Engine::SetCameraRotation(float a0, float a1, float a2, float a3, float a4, float a5, float a6, float a7,
                               float a8) {
    // Given row by row; glm stores column by column.
    const glm::mat3 rotation(a0, a3, a6, a1, a4, a7, a2, a5, a8);
    spdlog::trace("[Engine] SetCameraRotation({})", rotation);
    ChangeTrackerConfiguration([&](FaceTracker::Configuration& c) { c.cameraRotation = rotation; });
}

void Engine::SetCameraTransform(const glm::vec3& position, const glm::vec3& rotation) {
    spdlog::trace("[Engine] SetCameraTransform(position={}, rotation={})", position, rotation);
    const glm::mat3 matrix = GetRotationMatFromRodriguesNotation(rotation);
    ChangeTrackerConfiguration([&](FaceTracker::Configuration& c) {
        c.cameraPosition = position;
        c.cameraRotation = matrix;
    });
}

void Engine::SetMaxNumOfDetectedFaces(int n) {
    spdlog::trace("[Engine] SetMaxNumOfDetectedFaces({})", n);
    // A detector waiting to be installed is the one that will receive the count.
    const auto detector = NextDetector();
    const int limit = detector ? detector->GetMaxNumOfFacesLimit() : 0;
    if (n < 1 || n > limit) {
        KIRO_THROW("Invalid max num of detected faces: must be in [1; {}] range, got {}", limit, n);
    }
    const auto lock = LockSettingsWhileTracking();
    // Compared with the count last asked for, not the detector's: a change not yet applied
    // must not be lost, and the detector belongs to the processing thread.
    if (n == configuration_.faceDetector.maxNumOfFaces) {
        return;
    }
    configuration_.faceDetector.maxNumOfFaces = n;
    pendingChanges_ |= kFaceCountChanged;
}

int Engine::GetMaxNumOfDetectedFacesLimit() const {
    const auto detector = CurrentDetector();
    return detector ? detector->GetMaxNumOfFacesLimit() : 0;
}

bool Engine::SetFaceDetectorBackend(kiro_face_detector_backend_e backend) {
    spdlog::trace("[Engine] SetFaceDetectorBackend({})", backend);
    if (backend == kKiroFaceDetectorBackendUnknown) {
        return false;
    }
    {
        // The detector that frames will use next is the pending one when a switch is waiting.
        const std::lock_guard<std::mutex> lock(detectorMutex_);
        if (detector_ && detector_->GetBackend() == backend) {
            pendingDetector_.reset();
        }
        // Without any detector the backend is only recorded for the next load.
        const auto& next = pendingDetector_ ? pendingDetector_ : detector_;
        if (!next || next->GetBackend() == backend) {
            configuration_.faceDetector.backend = backend;
            return true;
        }
    }
    FaceDetectorConfiguration ownConfiguration;
    {
        const auto lock = LockSettingsWhileTracking();
        ownConfiguration = {configuration_.faceDetector.maxNumOfFaces, backend};
    }
    auto replacement = CreateDetector(ownConfiguration);
    if (!replacement) {
        return false;
    }
    // Recorded only once the detector exists: a lazy engine loads the recorded backend at every start.
    configuration_.faceDetector.backend = backend;
    if (isTracking_) {
        const std::lock_guard<std::mutex> lock(detectorMutex_);
        pendingDetector_ = std::move(replacement);
    } else {
        replacement->OnCameraIntrinsicsChange(intrinsics_);
        const std::lock_guard<std::mutex> lock(detectorMutex_);
        detector_ = std::move(replacement);
    }
    return true;
}

kiro_face_detector_backend_e Engine::GetFaceDetectorBackend() const {
    const auto detector = CurrentDetector();
    return detector ? detector->GetBackend() : kKiroFaceDetectorBackendUnknown;
}

bool Engine::SetCameraFps(int fps) { return camera_ ? camera_->SetFps(fps) : false; }

int Engine::GetCameraFps() const { return camera_ ? camera_->GetFps() : 0; }

Slice<int const> Engine::GetSupportedCameraFps() const {
    return camera_ ? camera_->GetSupportedFps() : Slice<int const>{};
}

void Engine::SetProfiling(bool enabled) { profilingEnabled_ = enabled; }

void Engine::OnCameraFrameAvailable(Camera*, const CameraFrame& frame) {
    spdlog::trace("[Engine] OnCameraFrameAvailable({})", frame);
    try {
        ProcessFrame(frame);
    } catch (const std::exception& e) {
        spdlog::error("Failed to process frame: {}", e.what());
    }
}

void Engine::OnCameraIntrinsicsChange(Camera*, const CameraIntrinsics& intrinsics) {
    spdlog::trace("[Engine] OnCameraIntrinsicsChange({})", intrinsics);
    if (tracker_) {
        tracker_->CameraDidChange(intrinsics);
    }
    if (detector_) {
        detector_->OnCameraIntrinsicsChange(intrinsics);
    }
    intrinsics_ = intrinsics;
    hasIntrinsics_ = true;
}

void Engine::ApplyPendingChanges() {
    const std::lock_guard<std::mutex> lock(settingsMutex_);
    const int32_t changes = pendingChanges_.load();
    if ((changes & kTrackerConfigurationChanged) != 0) {
        tracker_->UpdateConfiguration(configuration_.faceTracker);
    }
    if ((changes & kFaceCountChanged) != 0) {
        const int32_t count = configuration_.faceDetector.maxNumOfFaces;
        detector_->SetMaxNumOfFaces(count);
        if (virtualFaceHook_ && virtualFaces_.size() < static_cast<std::size_t>(count)) {
            virtualFaces_.resize(static_cast<std::size_t>(count));
        }
        tracker_->OnMaxNumOfDetectedFacesChange(count);
        appliedMaxNumOfFaces_ = count;
    }
    pendingChanges_.exchange(0);
}

void Engine::InstallPendingDetector(const CameraIntrinsics& intrinsics) {
    // The replaced detector is released after the lock: deleting it runs plug-in code, which may
    // take long and must not hold up the host thread's detector queries.
    std::shared_ptr<FaceDetector> replaced;
    {
        const std::lock_guard<std::mutex> lock(detectorMutex_);
        if (!pendingDetector_) {
            return;
        }
        replaced = std::exchange(detector_, std::move(pendingDetector_));
    }
    detector_->OnCameraIntrinsicsChange(intrinsics);
}

void Engine::ProcessFrame(const CameraFrame& frame) {
    // Frames of a shared camera may arrive before tracking starts or after it stopped, and any
    // camera's frames after a stop asked for on this thread.
    if (!tracker_ || stopPending_) {
        return;
    }
    const ProcessingThreadMark mark(processingThread_);
    // The new detector first, so that a face count asked for after the switch reaches it.
    InstallPendingDetector(tracker_->intrinsics());
    if (pendingChanges_.load() != 0) {
        ApplyPendingChanges();
    }

    const bool profiling = profilingEnabled_.load() && frameAdapter_ != nullptr;
    FrameProfiling record{};
    if (profiling) {
        record.cameraExposureTime = ExposureTimeNs(frame.timestamp());
        record.faceDetectorStartTime = platform_->GetSystemTimeNs();
    }
    FaceDetector::Output& output = detector_->Detect(frame);
    if (profiling) {
        record.faceDetectorEndTime = platform_->GetSystemTimeNs();
    }

    if (virtualFaceHook_) {
        AddVirtualFaces(frame, output);
    }
    tracker_->Update(output, frame, 0.0f);
    if (frameCallback_) {
        frameCallback_(*tracker_, output, frame);
    }
    if (frameAdapter_ != nullptr) {
        if (profiling) {
            record.apiTimestamp = platform_->GetSystemTimeNs();
            spdlog::debug("[Engine] profiling={}", record);
        }
        const EngineFrame result(*tracker_, output, record);
        frameAdapter_->OnFrame(result);
    }
}

void Engine::AddVirtualFaces(const CameraFrame& frame, FaceDetector::Output& output) {
    auto& detections = output.detections;
    const int32_t maxFaces = appliedMaxNumOfFaces_;
    VirtualFaceHookContext context{frame.timestamp(), static_cast<int32_t>(detections.size()), maxFaces,
                                   virtualFaces_.data(), 0, false};
    if (!virtualFaceHook_(&context)) {
        return;
    }
    // A negative count reports no faces.
    const int32_t count = std::clamp(context.numOfVirtualFaces, 0, maxFaces);
    if (context.discardDetectedFaces) {
        detections.clear();
    } else if (int64_t{count} + context.numOfDetectedFaces > maxFaces) {
        // The hook may have rewritten its count of detections to any value, hence the 64-bit
        // sum; the detections are only ever shortened, never extended on its word.
        const auto keep = static_cast<std::size_t>(std::max(0, maxFaces - count));
        if (detections.size() > keep) {
            detections.resize(keep);
        }
    }

    const FaceTracker::Configuration& tracking = tracker_->configuration();
    const glm::mat3 toCamera = glm::inverse(tracking.cameraRotation);
    for (int32_t i = 0; i < count; ++i) {
        glm::vec4& face = virtualFaces_[static_cast<std::size_t>(i)];
        const glm::vec3 d = glm::vec3(face) - tracking.cameraPosition;
        const glm::vec3 c = toCamera * glm::vec3(-d.x, -d.y, d.z) / 1000.0f;
        const float w = face.w / 1000.0f;
        face = glm::vec4(c, w);
        const glm::vec3 left(c.x + w * 0.5f, c.y, c.z);
        const glm::vec3 right(c.x - w * 0.5f, c.y, c.z);
        Detection detection{};
        if (!frame.ProjectPointToPixel(left, &detection.leftEye.pixel, &detection.leftEye.depth) ||
            !frame.ProjectPointToPixel(right, &detection.rightEye.pixel, &detection.rightEye.depth)) {
            continue;
        }
        detections.push_back(detection);
    }
}

}  // namespace kiro::head

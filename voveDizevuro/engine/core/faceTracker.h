#pragma once

#include "common/export.h"
#include "common/glmFormat.h"
#include "common/slice.h"
#include "voveDizevuro/camera/cameraFrame.h"
#include "voveDizevuro/engine/core/kalmanFilter.h"
#include "voveDizevuro/engine/faceDetector.h"
#include "voveDizevuro/engine/faceTypes.h"
#include "voveDizevuro/engine/filterProperties.h"

#include <glm/mat3x3.hpp>
#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace kiro::head {

/// Turns each frame's detections into filtered, ordered faces in display space, the main face
/// first. No lock and no thread of its own: the owner serialises all calls.
class KIRO_API FaceTracker {
public:
    struct Configuration {
        bool trackRightEye = true;
        bool trackLeftEye = true;
        FilterProperties filterProperties;
        glm::mat3 cameraRotation{1.0f};    // camera space into display space
        glm::vec3 cameraPosition{0.0f};    // the camera in display space, mm
    };

    /// Throws Exception("invalid configuration") when `config` is invalid. The detector is read
    /// for its face count only and not kept.
    FaceTracker(const FaceDetector& detector, const Configuration& config);

    /// Applies a valid configuration and restarts tracking with the next frame; an invalid one
    /// is logged and ignored.
    void UpdateConfiguration(const Configuration& config);
    /// Reserves the per-frame arrays for n faces; n must not be negative.
    void OnMaxNumOfDetectedFacesChange(int n);
    void CameraDidChange(const CameraIntrinsics& intrinsics);
    /// Processes one frame's detections. resetSignal above a positive resetThreshold restarts
    /// every track.
    void Update(const FaceDetector::Output& output, const CameraFrame& frame, float resetSignal);

    /// Valid until the second Update after this call, or the next reconfiguration.
    Slice<Face const> faces() const;
    /// Valid until the next Update that gets past recording the timestamp.
    Slice<RawFace const> rawFaces() const;
    /// The last Update measured its frame: rawFaces() are that frame's, not an earlier one's.
    bool measured() const;

    /// Timestamp of the last frame passed to Update; ms is -1 when there is none.
    Timestamp timestamp() const;
    /// True once tracks have existed; never cleared.
    bool trackingStarted() const;
    const Configuration& configuration() const;
    const CameraIntrinsics& intrinsics() const;

    /// True when at least one eye is tracked and every filter property lies within its range (see
    /// FilterProperties); a NaN never does.
    static bool IsValid(const Configuration& config);

private:
    void Restart();
    bool DeprojectEye(const CameraFrame& frame, const ImageDesc& image, const EyeDetection& eye,
                      glm::vec3* point) const;
    void CollectRawFaces(const FaceDetector::Output& output, const CameraFrame& frame, const ImageDesc& image);
    void UpdateFilters(float dt, float resetSignal);
    void AssignFiltersGreedily(const std::vector<KalmanFilter>& previous);
    void SelectCandidates(const FaceDetector::Output& output);
    void KeepMainFace(float dt);

    Configuration config_;
    CameraIntrinsics intrinsics_{};
    int32_t lastImageRotation_ = -1;
    Timestamp lastTimestamp_{Timestamp::Space::Unknown, -1.0};
    std::vector<RawFace> rawFaces_;
    std::array<std::vector<KalmanFilter>, 2> filters_;
    int currentFilters_ = 0;
    std::vector<MovingPoint> movingPoints_;
    int32_t trackingStarted_ = 0;
    bool measured_ = false;
    float mainFaceLostTime_ = 0.0f;
    std::array<std::vector<Face>, 2> faces_;
    int currentFaces_ = 0;

    // Scratch storage of the matching and selection, kept to avoid per-frame allocation.
    std::vector<glm::vec3> predicted_;
    std::vector<float> distances_;
    std::vector<int> assignment_;
    std::vector<bool> rawFaceTaken_;
    std::vector<bool> filterTaken_;
    struct Candidate {
        float fit;
        int index;
    };
    std::vector<Candidate> candidates_;
};

}  // namespace kiro::head

template <>
struct fmt::formatter<kiro::head::FaceTracker::Configuration> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::FaceTracker::Configuration& c, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(),
                              "{{.trackRightEye={}, .trackLeftEye={}, .filterProperties={}, .cameraRotation={}, "
                              ".cameraPosition={}}}",
                              c.trackRightEye, c.trackLeftEye, c.filterProperties, c.cameraRotation,
                              c.cameraPosition);
    }
};

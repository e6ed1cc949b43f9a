#pragma once

#include "voveDizevuro/camera/cameraFrame.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <optional>
#include <vector>

namespace kiro::test {

/// A detector whose output the test writes directly.
class FakeDetector final : public head::FaceDetector {
public:
    explicit FakeDetector(int maxFaces = 3, int limit = 8) : maxFaces_(maxFaces), limit_(limit) {}

    int GetMaxNumOfFacesLimit() const override { return limit_; }
    int GetMaxNumOfFaces() const override { return maxFaces_; }
    void SetMaxNumOfFaces(int n) override { maxFaces_ = n; }
    kiro_face_detector_backend_e GetBackend() const override { return kKiroFaceDetectorBackendCPU; }
    void OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) override { intrinsics_ = intrinsics; }
    Output& Detect(const head::CameraFrame&) override { return output; }

    Output output;
    std::optional<CameraIntrinsics> intrinsics_;

private:
    int maxFaces_;
    int limit_;
};

/// A frame of a given size and time. With `pinhole` set it deprojects through those
/// intrinsics (like a calibrated camera); otherwise DeprojectPixelToPoint fails, so the tracker
/// falls back to its own intrinsics.
class TestFrame final : public head::CameraFrame {
public:
    TestFrame(double ms, int width = 640, int height = 480, int rotation = 0)
        : image_{width, height, rotation, nullptr}, timestamp_{Timestamp::Space::System, ms} {}

    Timestamp timestamp() const override { return timestamp_; }
    Slice<ImageDesc const> imageDescs() const override { return {&image_, 1}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth, glm::vec3* point) const override {
        if (!pinhole) {
            return false;
        }
        *point = {static_cast<float>((pixel.x - pinhole->ppx) / pinhole->fx * depth),
                  static_cast<float>((pixel.y - pinhole->ppy) / pinhole->fy * depth), depth};
        return true;
    }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

    std::optional<CameraIntrinsics> pinhole;

private:
    ImageDesc image_;
    Timestamp timestamp_;
};

/// Intrinsics of a 640x480 camera with focal length 600 px and the principal point centred.
inline CameraIntrinsics TestIntrinsics() {
    return CameraIntrinsics{640, 480, 320.0f, 240.0f, 600.0f, 600.0f, {0, 0, 0, 0, 0}, true};
}

/// A detection whose eyes lie at the given camera-space points (mm), projected through
/// TestIntrinsics().
inline head::Detection DetectionAt(const glm::vec3& rightEyeMm, const glm::vec3& leftEyeMm,
                                   const glm::vec3& headAngles = glm::vec3(0.0f)) {
    const CameraIntrinsics k = TestIntrinsics();
    auto eye = [&](const glm::vec3& p) {
        return head::EyeDetection{{k.ppx + k.fx * p.x / p.z, k.ppy + k.fy * p.y / p.z}, p.z / 1000.0f};
    };
    return head::Detection{eye(rightEyeMm), eye(leftEyeMm), glm::vec3(0.0f), headAngles};
}

/// A detection of a face whose eye midpoint is at `centreMm` (camera space), eyes 64 mm apart
/// along x.
inline head::Detection FaceAt(const glm::vec3& centreMm, const glm::vec3& headAngles = glm::vec3(0.0f)) {
    return DetectionAt(centreMm - glm::vec3(32.0f, 0.0f, 0.0f), centreMm + glm::vec3(32.0f, 0.0f, 0.0f),
                       headAngles);
}

}  // namespace kiro::test

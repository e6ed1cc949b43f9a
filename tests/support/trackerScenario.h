#pragma once

// Helpers for driving a FaceTracker frame by frame in tests.

#include "tests/support/fakes.h"
#include "voveDizevuro/engine/core/faceTracker.h"

#include <gtest/gtest.h>

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cmath>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kiro::test {

/// An eye at an explicit pixel (column, row) with a depth in metres.
inline head::EyeDetection EyePixel(double column, double row, float depthM) {
    return head::EyeDetection{glm::dvec2(column, row), depthM};
}

/// A detection built from two explicit eyes.
inline head::Detection DetectionOf(const head::EyeDetection& rightEye, const head::EyeDetection& leftEye,
                                   const glm::vec3& headAngles = glm::vec3(0.0f)) {
    return head::Detection{rightEye, leftEye, glm::vec3(0.0f), headAngles};
}

/// A frame whose imageDescs() is empty; it cannot deproject.
class NoImageFrame final : public head::CameraFrame {
public:
    explicit NoImageFrame(double ms) : timestamp_{Timestamp::Space::System, ms} {}

    Timestamp timestamp() const override { return timestamp_; }
    Slice<ImageDesc const> imageDescs() const override { return {}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

private:
    Timestamp timestamp_;
};

/// A frame of two images; the tracker measures in the first one only. It cannot deproject.
class TwoImageFrame final : public head::CameraFrame {
public:
    TwoImageFrame(double ms, const ImageDesc& first, const ImageDesc& second)
        : images_{first, second}, timestamp_{Timestamp::Space::System, ms} {}

    Timestamp timestamp() const override { return timestamp_; }
    Slice<ImageDesc const> imageDescs() const override { return {images_, 2}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

private:
    ImageDesc images_[2];
    Timestamp timestamp_;
};

/// A frame whose deprojection always "succeeds" with a fixed point (metres).
class FixedDeprojectionFrame final : public head::CameraFrame {
public:
    FixedDeprojectionFrame(double ms, const glm::vec3& pointM) : image_{640, 480, 0, nullptr},
        timestamp_{Timestamp::Space::System, ms}, point_(pointM) {}

    Timestamp timestamp() const override { return timestamp_; }
    Slice<ImageDesc const> imageDescs() const override { return {&image_, 1}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3* point) const override {
        *point = point_;
        return true;
    }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

private:
    ImageDesc image_;
    Timestamp timestamp_;
    glm::vec3 point_;
};

/// Copies of what a host can read from a tracker after one Update.
struct TrackerSnapshot {
    std::vector<head::Face> faces;
    std::vector<head::RawFace> rawFaces;
};

/// One tracker fed by a FakeDetector, with TestIntrinsics() as its camera intrinsics. Frames are
/// 640x480 TestFrames unless a frame is passed in.
class TrackerScenario {
public:
    explicit TrackerScenario(const head::FaceTracker::Configuration& config = {}, int maxFaces = 3)
        : detector_(maxFaces), tracker_(detector_, config) {
        tracker_.CameraDidChange(TestIntrinsics());
    }

    head::FaceTracker& tracker() { return tracker_; }
    FakeDetector& detector() { return detector_; }

    /// Runs one frame of the default camera at `ms` with `detections`.
    TrackerSnapshot Step(double ms, std::vector<head::Detection> detections, int rotation = 0,
                         float resetSignal = 0.0f) {
        TestFrame frame(ms, 640, 480, rotation);
        return StepWith(frame, std::move(detections), resetSignal);
    }

    TrackerSnapshot StepWith(const head::CameraFrame& frame, std::vector<head::Detection> detections,
                             float resetSignal = 0.0f) {
        detector_.output.detections = std::move(detections);
        tracker_.Update(detector_.Detect(frame), frame, resetSignal);
        return Snapshot();
    }

    TrackerSnapshot Snapshot() const {
        const auto faces = tracker_.faces();
        const auto raw = tracker_.rawFaces();
        return {std::vector<head::Face>(faces.begin(), faces.end()),
                std::vector<head::RawFace>(raw.begin(), raw.end())};
    }

private:
    FakeDetector detector_;
    head::FaceTracker tracker_;
};

inline std::string ToString(const glm::vec3& v) {
    std::ostringstream out;
    out.precision(9);
    out << "(" << v.x << ", " << v.y << ", " << v.z << ")";
    return out.str();
}

/// Component-wise comparison with an absolute tolerance, with a readable failure message.
inline ::testing::AssertionResult VecNear(const glm::vec3& actual, const glm::vec3& expected, float tolerance) {
    for (int i = 0; i < 3; ++i) {
        if (!(std::fabs(actual[i] - expected[i]) <= tolerance)) {
            return ::testing::AssertionFailure() << "actual " << ToString(actual) << " differs from expected "
                                                 << ToString(expected) << " by more than " << tolerance;
        }
    }
    return ::testing::AssertionSuccess();
}

/// The face whose measurement came from detection `detectionIndex`, if any.
inline std::optional<head::Face> FaceOfDetection(const TrackerSnapshot& snapshot, int detectionIndex) {
    for (const head::Face& face : snapshot.faces) {
        if (face.rawFaceIndex >= 0 && static_cast<std::size_t>(face.rawFaceIndex) < snapshot.rawFaces.size() &&
            snapshot.rawFaces[face.rawFaceIndex].detectionIndex == detectionIndex) {
            return face;
        }
    }
    return std::nullopt;
}

/// Detection indices of the faces in order; -1 for a predicted face.
inline std::vector<int> DetectionOrder(const TrackerSnapshot& snapshot) {
    std::vector<int> order;
    for (const head::Face& face : snapshot.faces) {
        order.push_back(face.rawFaceIndex < 0 ? -1 : snapshot.rawFaces.at(face.rawFaceIndex).detectionIndex);
    }
    return order;
}

}  // namespace kiro::test

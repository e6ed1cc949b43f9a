#include "voveDizevuro/engine/core/faceTracker.h"

#include "common/exceptionInternal.h"
#include "common/mathHelpers.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace kiro::head {

namespace {

glm::vec3 ToDisplay(const glm::mat3& rotation, const glm::vec3& p) {
    const glm::vec3 q = rotation * p;
    return {-q.x, -q.y, q.z};
}

bool IsFinite(const glm::vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

bool IsFiniteNonNegative(float x) { return std::isfinite(x) && x >= 0.0f; }

bool IsFiniteNonNegative(const glm::vec3& v) {
    return IsFiniteNonNegative(v.x) && IsFiniteNonNegative(v.y) && IsFiniteNonNegative(v.z);
}

/// The filter divides by a² + v², so at rest a² must not underflow to 0 (0/0) nor overflow
/// together with a²·b (inf/inf). A negative a or b is no speed scale and no gain.
bool IsValidKalmanAxis(float a, float b) {
    const float a2 = a * a;
    return a > 0.0f && a2 > 0.0f && b >= 0.0f && std::isfinite(a2 * b);
}

}  // namespace

FaceTracker::FaceTracker(const FaceDetector& detector, const Configuration& config) {
    if (!IsValid(config)) {
        KIRO_THROW("invalid configuration");
    }
    UpdateConfiguration(config);
    OnMaxNumOfDetectedFacesChange(detector.GetMaxNumOfFaces());
}

bool FaceTracker::IsValid(const Configuration& config) {
    const FilterProperties& p = config.filterProperties;
    // Written so that a NaN anywhere makes the configuration invalid. Only the eye distance's upper
    // bound may be infinite: it then bounds nothing.
    const bool eyes = (config.trackRightEye || config.trackLeftEye) && p.interocularDistanceMin > 0.0f &&
                      p.interocularDistanceMax > p.interocularDistanceMin;
    // A predicted main face's velocity decays by exp(-dt / velDampingTime), dt 0 included.
    const bool times = std::isfinite(p.resetThreshold) && IsFiniteNonNegative(p.maxTrackGap) &&
                       std::isfinite(p.velDampingTime) && p.velDampingTime > 0.0f && IsFiniteNonNegative(p.bufferLim);
    const bool candidates = IsFiniteNonNegative(p.minFitDist) && IsFiniteNonNegative(p.maxFitDist) &&
                            IsFiniteNonNegative(p.angleYMax) && IsFinite(p.mainFaceSkew) &&
                            IsFiniteNonNegative(p.mainFaceScale);
    const KalmanCoeffs& k = p.kalman;
    const bool kalman = IsValidKalmanAxis(k.a.x, k.b.x) && IsValidKalmanAxis(k.a.y, k.b.y) &&
                        IsValidKalmanAxis(k.a.z, k.b.z);
    return eyes && times && candidates && kalman;
}

void FaceTracker::UpdateConfiguration(const Configuration& config) {
    spdlog::trace("[FaceTracker] UpdateConfiguration: {}", config);
    if (!IsValid(config)) {
        spdlog::error("[FaceTracker] UpdateConfiguration failed: invalid config");
        return;
    }
    config_ = config;
    Restart();
}

void FaceTracker::Restart() {
    mainFaceLostTime_ = 0.0f;
    faces_[currentFaces_].clear();
    filters_[currentFilters_].clear();
    lastTimestamp_ = {Timestamp::Space::Unknown, -1.0};
}

void FaceTracker::OnMaxNumOfDetectedFacesChange(int n) {
    // A negative n becomes a huge count here and fails in the first reserve with
    // std::length_error, before anything is changed.
    const auto count = static_cast<std::size_t>(n);
    for (auto& filters : filters_) {
        filters.reserve(count);
    }
    rawFaces_.reserve(count);
    movingPoints_.reserve(count);
    // A lost main face is appended as one predicted face beyond the detected ones.
    for (auto& faces : faces_) {
        faces.reserve(count + 1);
    }
}

void FaceTracker::CameraDidChange(const CameraIntrinsics& intrinsics) { intrinsics_ = intrinsics; }

Slice<Face const> FaceTracker::faces() const {
    const auto& faces = faces_[currentFaces_];
    return {faces.data(), faces.size()};
}

Slice<RawFace const> FaceTracker::rawFaces() const { return {rawFaces_.data(), rawFaces_.size()}; }

Timestamp FaceTracker::timestamp() const { return lastTimestamp_; }

bool FaceTracker::measured() const { return measured_; }

bool FaceTracker::trackingStarted() const { return trackingStarted_ != 0; }

const FaceTracker::Configuration& FaceTracker::configuration() const { return config_; }

const CameraIntrinsics& FaceTracker::intrinsics() const { return intrinsics_; }

void FaceTracker::Update(const FaceDetector::Output& output, const CameraFrame& frame, float resetSignal) {
    spdlog::debug("[FaceTracker] Update");
    measured_ = false;

    // A frame without images has nothing to measure in: no detection lies inside it.
    const auto images = frame.imageDescs();
    const ImageDesc image = images.empty() ? ImageDesc{0, 0, lastImageRotation_, nullptr} : images[0];
    if (image.rotation != lastImageRotation_) {
        lastImageRotation_ = image.rotation;
        Restart();
    }

    // Tracks cannot be continued across a time that is not a number or that runs backwards:
    // tracking starts afresh, as after a reconfiguration.
    const Timestamp now = frame.timestamp();
    if (!std::isfinite(now.ms)) {
        Restart();
        return;
    }
    if (lastTimestamp_.ms < 0.0) {
        lastTimestamp_ = now;
        return;
    }
    const auto dt = static_cast<float>(now.ms - lastTimestamp_.ms);
    if (dt < 0.0f) {
        Restart();
        lastTimestamp_ = now;
        return;
    }
    lastTimestamp_ = now;

    CollectRawFaces(output, frame, image);
    measured_ = true;
    UpdateFilters(dt, resetSignal);

    movingPoints_.clear();
    for (const KalmanFilter& filter : filters_[currentFilters_]) {
        movingPoints_.push_back({ToDisplay(config_.cameraRotation, filter.position) + config_.cameraPosition,
                                 ToDisplay(config_.cameraRotation, filter.velocity)});
    }

    SelectCandidates(output);

    currentFaces_ = 1 - currentFaces_;
    auto& faces = faces_[currentFaces_];
    faces.clear();
    for (const Candidate& candidate : candidates_) {
        const MovingPoint& point = movingPoints_[candidate.index];
        const Detection& detection = output.detections[rawFaces_[candidate.index].detectionIndex];
        faces.push_back({point.position, point.velocity, detection.headAngles, candidate.index});
    }

    KeepMainFace(dt);
}

bool FaceTracker::DeprojectEye(const CameraFrame& frame, const ImageDesc& image, const EyeDetection& eye,
                               glm::vec3* point) const {
    // Truncating a double outside int's range (NaN and infinities included) is undefined, so
    // such pixels are rejected like any other outside the image.
    const double u = eye.pixel.x;
    const double v = eye.pixel.y;
    if (!TruncatesToInt(u) || !TruncatesToInt(v)) {
        return false;
    }
    const int column = static_cast<int>(u);
    const int row = static_cast<int>(v);
    if (column < 0 || column >= image.width || row < 0 || row >= image.height) {
        return false;
    }
    // A depth that is not a positive finite distance cannot place the eye in front of the camera.
    const float depth = eye.depth;
    if (!(std::isfinite(depth) && depth > 0.0f)) {
        return false;
    }
    glm::vec3 metres;
    if (!frame.DeprojectPixelToPoint(eye.pixel, depth, &metres)) {
        metres = glm::vec3(static_cast<float>((u - intrinsics_.ppx) / intrinsics_.fx * depth),
                           static_cast<float>((v - intrinsics_.ppy) / intrinsics_.fy * depth), depth);
    }
    *point = metres * 1000.0f;
    return IsFinite(*point);
}

void FaceTracker::CollectRawFaces(const FaceDetector::Output& output, const CameraFrame& frame,
                                  const ImageDesc& image) {
    const FilterProperties& p = config_.filterProperties;
    rawFaces_.clear();
    for (std::size_t i = 0; i < output.detections.size(); ++i) {
        const Detection& detection = output.detections[i];
        RawFace face;
        if (!DeprojectEye(frame, image, detection.rightEye, &face.rightEye) ||
            !DeprojectEye(frame, image, detection.leftEye, &face.leftEye) || !IsFinite(detection.headAngles)) {
            continue;
        }
        const float eyeDistance = glm::distance(face.rightEye, face.leftEye);
        if (!(p.interocularDistanceMin < eyeDistance && eyeDistance < p.interocularDistanceMax)) {
            continue;
        }
        if (config_.trackRightEye && config_.trackLeftEye) {
            face.trackedPoint = (face.rightEye + face.leftEye) * 0.5f;
        } else if (config_.trackRightEye) {
            face.trackedPoint = face.rightEye;
        } else {
            face.trackedPoint = face.leftEye;
        }
        face.detectionIndex = static_cast<int32_t>(i);
        rawFaces_.push_back(face);
    }
}

void FaceTracker::UpdateFilters(float dt, float resetSignal) {
    const FilterProperties& p = config_.filterProperties;
    const std::vector<KalmanFilter>& previous = filters_[currentFilters_];
    currentFilters_ = 1 - currentFilters_;
    std::vector<KalmanFilter>& current = filters_[currentFilters_];
    current.clear();

    const bool restart = previous.empty() || (p.resetThreshold > 0.0f && resetSignal > p.resetThreshold);
    if (restart) {
        for (const RawFace& face : rawFaces_) {
            current.emplace_back().Reset(face.trackedPoint);
        }
        return;
    }

    predicted_.clear();
    for (const KalmanFilter& filter : previous) {
        predicted_.push_back(filter.Predict(dt));
    }
    AssignFiltersGreedily(previous);

    for (std::size_t k = 0; k < rawFaces_.size(); ++k) {
        const int j = assignment_[k];
        KalmanFilter& filter = current.emplace_back();
        if (j >= 0 && dt < p.maxTrackGap) {
            filter = previous[j];
            filter.Update(p.kalman, rawFaces_[k].trackedPoint, dt);
        } else {
            filter.Reset(rawFaces_[k].trackedPoint);
        }
    }
}

void FaceTracker::AssignFiltersGreedily(const std::vector<KalmanFilter>& previous) {
    const std::size_t rawCount = rawFaces_.size();
    const std::size_t filterCount = previous.size();
    distances_.resize(rawCount * filterCount);
    for (std::size_t i = 0; i < rawCount; ++i) {
        for (std::size_t j = 0; j < filterCount; ++j) {
            distances_[i * filterCount + j] = glm::distance(rawFaces_[i].trackedPoint, predicted_[j]);
        }
    }
    assignment_.assign(rawCount, -1);
    rawFaceTaken_.assign(rawCount, false);
    filterTaken_.assign(filterCount, false);
    // Nearest pair first; ties go to the lowest raw face, then the lowest filter. There is no
    // distance bound: every raw face gets a filter while free filters remain.
    for (;;) {
        int bestRaw = -1;
        int bestFilter = -1;
        float best = 0.0f;
        for (std::size_t i = 0; i < rawCount; ++i) {
            if (rawFaceTaken_[i]) {
                continue;
            }
            for (std::size_t j = 0; j < filterCount; ++j) {
                const float distance = distances_[i * filterCount + j];
                if (!filterTaken_[j] && (bestRaw < 0 || distance < best)) {
                    best = distance;
                    bestRaw = static_cast<int>(i);
                    bestFilter = static_cast<int>(j);
                }
            }
        }
        if (bestRaw < 0) {
            return;
        }
        assignment_[bestRaw] = bestFilter;
        rawFaceTaken_[bestRaw] = true;
        filterTaken_[bestFilter] = true;
    }
}

void FaceTracker::SelectCandidates(const FaceDetector::Output& output) {
    const FilterProperties& p = config_.filterProperties;
    candidates_.clear();
    for (std::size_t k = 0; k < movingPoints_.size(); ++k) {
        const glm::vec3& position = movingPoints_[k].position;
        const glm::vec3 s = position - p.mainFaceSkew;
        const float fit = std::sqrt(s.x * s.x * p.mainFaceScale.x + s.y * s.y * p.mainFaceScale.y +
                                    s.z * s.z * p.mainFaceScale.z);
        const double direction = std::atan2(position.x, position.z);
        const double yaw = output.detections[rawFaces_[k].detectionIndex].headAngles[1];
        const double limit = p.angleYMax;
        const bool fitInRange = p.minFitDist < fit && fit < p.maxFitDist;
        const bool yawInRange = !(-limit - direction > yaw) && !(yaw > limit - direction);
        if (fitInRange && yawInRange) {
            candidates_.push_back({fit, static_cast<int>(k)});
        }
    }
    std::sort(candidates_.begin(), candidates_.end(), [](const Candidate& a, const Candidate& b) {
        return a.fit < b.fit || (a.fit == b.fit && a.index < b.index);
    });
}

void FaceTracker::KeepMainFace(float dt) {
    const FilterProperties& p = config_.filterProperties;
    const std::vector<Face>& previous = faces_[1 - currentFaces_];
    std::vector<Face>& faces = faces_[currentFaces_];

    if (mainFaceLostTime_ > p.bufferLim || previous.empty()) {
        mainFaceLostTime_ = 0.0f;
        if (!movingPoints_.empty()) {
            trackingStarted_ = 1;
        }
        return;
    }

    const Face& main = previous.front();
    const glm::vec3 predicted = KalmanFilter::Predict(MovingPoint{main.position, main.velocity}, dt);
    constexpr double kMainFaceSearchRadiusMm = 100.0;  // how far the main face may be from its prediction
    double best = kMainFaceSearchRadiusMm;
    int index = -1;
    for (std::size_t c = 0; c < faces.size(); ++c) {
        const double distance = glm::distance(faces[c].position, predicted);
        if (distance < best) {
            best = distance;
            index = static_cast<int>(c);
        }
    }

    if (index == 0) {
        mainFaceLostTime_ = 0.0f;
        return;
    }
    mainFaceLostTime_ += dt;
    if (index < 0) {
        faces.push_back({predicted, main.velocity * std::exp(-dt / p.velDampingTime), main.headAngles, -1});
        if (faces.size() > 1) {
            std::swap(faces.front(), faces.back());
        }
    } else {
        std::rotate(faces.begin(), faces.begin() + index, faces.begin() + index + 1);
    }
}

}  // namespace kiro::head

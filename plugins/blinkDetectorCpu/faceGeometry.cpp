#include "faceGeometry.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace kiro::head::cpu {

namespace {

constexpr double kInterocularDistanceM = 0.063;
/// Depth is sampled on a grid of this many steps each side of the eye, this many pixels apart.
constexpr int kDepthReach = 2;
constexpr int kDepthStep = 2;

}  // namespace

bool FirstImage(const CameraFrame& frame, GreyView* image) {
    const auto images = frame.imageDescs();
    if (images.empty() || images[0].data == nullptr || images[0].width <= 0 || images[0].height <= 0) {
        return false;
    }
    *image = {images[0].data, images[0].width, images[0].height, images[0].width};
    return true;
}

bool Inside(const glm::dvec2& p, const GreyView& image) {
    return std::isfinite(p.x) && std::isfinite(p.y) && p.x >= 0.0 && p.y >= 0.0 && p.x <= image.width - 1.0 &&
           p.y <= image.height - 1.0;
}

void DetectionBuilder::SetIntrinsics(const CameraIntrinsics& intrinsics) {
    intrinsics_ = intrinsics;
    hasIntrinsics_ = true;
}

glm::dvec2 DetectionBuilder::FocalLengths(const GreyView& image) const {
    if (hasIntrinsics_ && std::isfinite(intrinsics_.fx) && std::isfinite(intrinsics_.fy) && intrinsics_.fx > 0.0f &&
        intrinsics_.fy > 0.0f) {
        // Intrinsics of another resolution of the same camera scale with the image.
        if (intrinsics_.width > 0 && intrinsics_.height > 0) {
            return {intrinsics_.fx * static_cast<double>(image.width) / intrinsics_.width,
                    intrinsics_.fy * static_cast<double>(image.height) / intrinsics_.height};
        }
        return {intrinsics_.fx, intrinsics_.fy};
    }
    return {static_cast<double>(image.width), static_cast<double>(image.width)};
}

float DetectionBuilder::MedianDepthAround(const CameraFrame& frame, const GreyView& image, const glm::dvec2& eye) {
    depthSamples_.clear();
    for (int dy = -kDepthReach; dy <= kDepthReach; ++dy) {
        for (int dx = -kDepthReach; dx <= kDepthReach; ++dx) {
            const glm::dvec2 at = eye + glm::dvec2(dx * kDepthStep, dy * kDepthStep);
            float depth = 0.0f;
            try {
                if (Inside(at, image) && frame.GetDepth(at, &depth) && std::isfinite(depth) && depth > 0.0f) {
                    depthSamples_.push_back(depth);
                }
            } catch (const std::exception&) {
                // A camera may report a failed lookup by throwing (a hole or no depth stream).
            }
        }
    }
    if (depthSamples_.empty()) {
        return 0.0f;
    }
    const auto middle = depthSamples_.begin() + static_cast<std::ptrdiff_t>(depthSamples_.size() / 2);
    std::nth_element(depthSamples_.begin(), middle, depthSamples_.end());
    return *middle;
}

bool DetectionBuilder::Build(const CameraFrame& frame, const GreyView& image, const std::array<glm::dvec2, 2>& eyes,
                             float pitch, float yaw, Detection* detection) {
    if (!Inside(eyes[0], image) || !Inside(eyes[1], image)) {
        return false;
    }
    float depths[2] = {MedianDepthAround(frame, image, eyes[0]), MedianDepthAround(frame, image, eyes[1])};
    if (depths[0] <= 0.0f || depths[1] <= 0.0f) {
        const glm::dvec2 focal = FocalLengths(image);
        const double spread = std::hypot((eyes[1].x - eyes[0].x) / focal.x, (eyes[1].y - eyes[0].y) / focal.y);
        const double estimate = kInterocularDistanceM / spread;
        if (!(spread > 0.0) || !std::isfinite(estimate)) {
            return false;
        }
        // One measured eye is a better guess for the other than the estimate.
        const float fallback = depths[0] > 0.0f   ? depths[0]
                               : depths[1] > 0.0f ? depths[1]
                                                  : static_cast<float>(estimate);
        for (float& depth : depths) {
            depth = depth > 0.0f ? depth : fallback;
        }
    }
    const auto roll = static_cast<float>(std::atan2(eyes[1].y - eyes[0].y, eyes[1].x - eyes[0].x));
    if (!std::isfinite(pitch) || !std::isfinite(yaw) || !std::isfinite(roll)) {
        return false;
    }
    const int right = ViewSign() > 0.0 ? 0 : 1;
    detection->rightEye = {eyes[right], depths[right]};
    detection->leftEye = {eyes[1 - right], depths[1 - right]};
    detection->extra = glm::vec3(0.0f);
    detection->headAngles = glm::vec3(pitch, yaw, roll);
    return true;
}

}  // namespace kiro::head::cpu

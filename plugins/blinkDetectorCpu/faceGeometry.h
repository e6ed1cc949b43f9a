#pragma once

#include "greyImage.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <glm/vec2.hpp>

#include <array>
#include <vector>

namespace kiro::head::cpu {

/// The frame's first image as grey pixels; false when it has none or an empty one.
bool FirstImage(const CameraFrame& frame, GreyView* image);

/// True when `p` is finite and inside the image (pixel centres at integers).
bool Inside(const glm::dvec2& p, const GreyView& image);

/// Turns the two eye centres of a face into a detection, the same way for every detector of the
/// plug-in:
/// - Eyes are named as the person's: with `isMirrored` true (as the RealSense camera reports) the
///   image shows the person as a camera facing them sees them, so their right eye is the one at
///   the smaller column; with `isMirrored` false the image is the mirror of that.
/// - Depth in metres: the median of the valid depth samples around each eye when the frame has
///   depth, otherwise the depth at which eyes 63 mm apart appear as far apart as the found ones,
///   from the focal lengths of the last intrinsics (scaled to the image size when they state
///   theirs), or a focal length of the image width when no usable intrinsics were given.
/// - Roll is the slope of the line between the eyes; pitch and yaw come from the caller.
/// Owns scratch buffers; one instance per detector.
class DetectionBuilder {
public:
    void SetIntrinsics(const CameraIntrinsics& intrinsics);
    /// +1 when image columns grow along the camera's x axis (the camera's own view), else -1.
    double ViewSign() const { return intrinsics_.isMirrored ? 1.0 : -1.0; }

    /// `eyes[0]` is the eye at the smaller column. False when an eye lies outside the image or
    /// no finite positive depth can be had; `detection` is then unchanged.
    bool Build(const CameraFrame& frame, const GreyView& image, const std::array<glm::dvec2, 2>& eyes, float pitch,
               float yaw, Detection* detection);

private:
    glm::dvec2 FocalLengths(const GreyView& image) const;
    /// The median of the valid depth samples (m) on a grid around the eye; 0 when there are none.
    float MedianDepthAround(const CameraFrame& frame, const GreyView& image, const glm::dvec2& eye);

    CameraIntrinsics intrinsics_{};
    bool hasIntrinsics_ = false;
    std::vector<float> depthSamples_;
};

}  // namespace kiro::head::cpu

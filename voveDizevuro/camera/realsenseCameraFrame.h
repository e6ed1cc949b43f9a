#pragma once

#include "common/export.h"
#include "voveDizevuro/camera/cameraFrame.h"
#include "voveDizevuro/camera/realsenseApi.h"
#include "voveDizevuro/camera/realsenseCamera.h"

#include <cstddef>
#include <optional>

namespace kiro::head {

/// One frame set of a RealSense camera: its infrared image and depth, both left in
/// librealsense2's buffers. Made by the capture loop and valid only during the listener call.
/// Answers are computed on first use and cached without allocating; not for concurrent use.
class KIRO_API RealsenseCameraFrame final : public CameraFrame {
public:
    /// Takes a reference of its own to each present frame (either may be null).
    RealsenseCameraFrame(const RealsenseCamera* camera, rs2_frame* infraredFrame, rs2_frame* depthFrame);
    ~RealsenseCameraFrame() override;
    RealsenseCameraFrame(const RealsenseCameraFrame&) = delete;
    RealsenseCameraFrame& operator=(const RealsenseCameraFrame&) = delete;

    /// The host clock (System) in the global time domain, otherwise the device's clock; the
    /// current time (Unknown) when the infrared frame cannot be queried.
    Timestamp timestamp() const override;
    /// The infrared image; empty when it cannot be queried.
    Slice<ImageDesc const> imageDescs() const override;
    /// Distance in metres at the truncated pixel of the depth image. Throws RealsenseError when
    /// there is no depth or the pixel lies outside it.
    bool GetDepth(const glm::dvec2& pixel, float* depth) const override;
    /// False, with `point` untouched, when the pixel or depth is not finite, the pixel does not
    /// fit in a float, or the point it gives is not finite.
    bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth, glm::vec3* point) const override;
    /// False, with both outputs untouched, when the point or the pixel it gives is not finite.
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const override;

private:
    using Frame = RealsenseHandle<rs2_frame, &RealsenseApi::rs2_release_frame>;

    /// The infrared image, or none when it could not be queried.
    struct ImageDescs {
        ImageDesc image;
        std::size_t count;
    };

    const RealsenseCamera* camera_;
    // Destroyed in reverse order: the caches, the depth frame, then the infrared frame.
    Frame infraredFrame_;
    Frame depthFrame_;
    mutable std::optional<Timestamp> cachedTimestamp_;
    mutable std::optional<ImageDescs> cachedImageDescs_;
};

}  // namespace kiro::head

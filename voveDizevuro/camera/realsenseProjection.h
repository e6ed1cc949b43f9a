#pragma once

// Pixel <-> point mapping of a librealsense2 video stream. librealsense2 ships these as inline
// helpers of its headers (rs2_project_point_to_pixel, rs2_deproject_pixel_to_point), not as
// exported functions, so the project carries its own implementation with the same results.

#include "voveDizevuro/camera/realsenseApi.h"

namespace kiro::head {

/// The pixel at which `point` (camera coordinates, any unit, z > 0) is seen, applying the
/// distortion model of `intrinsics`. False, with `pixel` untouched, when a coordinate of the
/// point or of the pixel it gives is not finite (a point at z = 0, for one).
[[nodiscard]] bool ProjectPointToPixel(float pixel[2], const rs2_intrinsics& intrinsics, const float point[3]);

/// The point seen at `pixel` at distance `depth` along the optical axis, in the unit of `depth`,
/// removing the distortion of `intrinsics`. A modified Brown-Conrady image (distorted forward
/// only) is taken as undistorted, as librealsense2 does in its release builds. False, with
/// `point` untouched, when the pixel, the depth or the point it gives is not finite (far outside
/// the image an iterative inverse can overflow).
[[nodiscard]] bool DeprojectPixelToPoint(float point[3], const rs2_intrinsics& intrinsics, const float pixel[2],
                                         float depth);

}  // namespace kiro::head

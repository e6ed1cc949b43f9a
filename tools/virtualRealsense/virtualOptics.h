#pragma once

#include "voveDizevuro/camera/realsenseApi.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kiro::virtualRealsense {

/// A camera-space point or direction, mm.
struct Point3 {
    float x;
    float y;
    float z;
};

/// librealsense2's rs2_project_point_to_pixel (an inline helper of rsutil.h, not exported) for
/// the models the device offers; the device draws with it so that the camera's deprojection of
/// a drawn eye gives back the scene's point.
void ProjectPointToPixel(const rs2_intrinsics& intrinsics, const float point[3], float pixel[2]);

/// A ray from the camera's origin through (x, y, 1), camera space.
struct Ray {
    float x;
    float y;
};

/// The ray that ProjectPointToPixel draws at pixel (u, v): its inverse, by Newton's method to
/// about a thousandth of a pixel. False, and a NaN ray, where the model cannot be inverted.
bool PixelToRay(const rs2_intrinsics& intrinsics, float u, float v, Ray* ray);

/// PixelToRay of the pixel centres of one set of intrinsics, each computed the first time it is
/// asked for: a frame needs only the pixels that its faces and occluders may cover.
class PixelRays {
public:
    explicit PixelRays(const rs2_intrinsics& intrinsics);

    const rs2_intrinsics& intrinsics() const { return intrinsics_; }
    /// Row v of the table (indexed by column), computed at least for columns left..right, which
    /// must lie inside the image. NaN rays where there is none. Valid until the next call.
    const Ray* Row(int v, int left, int right);

private:
    rs2_intrinsics intrinsics_;
    std::vector<Ray> rays_;
    std::vector<std::uint8_t> known_;
};

/// The ray tables of the few intrinsics used last, so that a stream's frames share one.
class RayCache {
public:
    PixelRays& For(const rs2_intrinsics& intrinsics);

private:
    std::vector<std::unique_ptr<PixelRays>> tables_;
};

}  // namespace kiro::virtualRealsense

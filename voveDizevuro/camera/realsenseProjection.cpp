#include "voveDizevuro/camera/realsenseProjection.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace kiro::head {

namespace {

// The iteration counts are librealsense2's: they decide the exact result, so they are kept.
constexpr int kBrownConradyIterations = 10;
constexpr int kKannalaBrandtIterations = 4;

/// Radial factor 1 + k1 r^2 + k2 r^4 + k3 r^6 of the Brown-Conrady models.
float RadialFactor(const float* c, float r2) { return 1 + c[0] * r2 + c[1] * r2 * r2 + c[4] * r2 * r2 * r2; }

/// theta (1 + k1 theta^2 + k2 theta^4 + k3 theta^6 + k4 theta^8) of Kannala-Brandt.
float KannalaBrandtRadius(const float* c, float theta) {
    const float theta2 = theta * theta;
    return theta * (1 + theta2 * (c[0] + theta2 * (c[1] + theta2 * (c[2] + theta2 * c[3]))));
}

/// Radius in the normalised image plane, kept away from zero because the fish-eye models
/// divide by it.
float SafeRadius(float x, float y) { return std::fmax(std::sqrt(x * x + y * y), FLT_EPSILON); }

bool AllFinite(const float* values, int count) {
    return std::all_of(values, values + count, [](float value) { return std::isfinite(value); });
}

}  // namespace

bool ProjectPointToPixel(float pixel[2], const rs2_intrinsics& intrinsics, const float point[3]) {
    if (!AllFinite(point, 3)) {
        return false;
    }
    const float* c = intrinsics.coeffs;
    float x = point[0] / point[2];
    float y = point[1] / point[2];

    switch (intrinsics.model) {
        case RS2_DISTORTION_MODIFIED_BROWN_CONRADY:
        case RS2_DISTORTION_INVERSE_BROWN_CONRADY: {
            // Tangential distortion of the radially distorted point.
            const float r2 = x * x + y * y;
            const float f = RadialFactor(c, r2);
            x *= f;
            y *= f;
            const float dx = x + 2 * c[2] * x * y + c[3] * (r2 + 2 * x * x);
            const float dy = y + 2 * c[3] * x * y + c[2] * (r2 + 2 * y * y);
            x = dx;
            y = dy;
            break;
        }
        case RS2_DISTORTION_BROWN_CONRADY: {
            // Tangential distortion of the undistorted point.
            const float r2 = x * x + y * y;
            const float f = RadialFactor(c, r2);
            const float dx = x * f + 2 * c[2] * x * y + c[3] * (r2 + 2 * x * x);
            const float dy = y * f + 2 * c[3] * x * y + c[2] * (r2 + 2 * y * y);
            x = dx;
            y = dy;
            break;
        }
        case RS2_DISTORTION_FTHETA: {
            const float r = SafeRadius(x, y);
            const auto rd = static_cast<float>(1.0f / c[0] * std::atan(2.0 * r * std::tan(c[0] / 2.0f)));
            x *= rd / r;
            y *= rd / r;
            break;
        }
        case RS2_DISTORTION_KANNALA_BRANDT4: {
            const float r = SafeRadius(x, y);
            const float rd = KannalaBrandtRadius(c, std::atan(r));
            x *= rd / r;
            y *= rd / r;
            break;
        }
        default:
            break;
    }

    const float result[2] = {x * intrinsics.fx + intrinsics.ppx, y * intrinsics.fy + intrinsics.ppy};
    if (!AllFinite(result, 2)) {
        return false;
    }
    std::copy_n(result, 2, pixel);
    return true;
}

bool DeprojectPixelToPoint(float point[3], const rs2_intrinsics& intrinsics, const float pixel[2], float depth) {
    if (!AllFinite(pixel, 2) || !std::isfinite(depth)) {
        return false;
    }
    const float* c = intrinsics.coeffs;
    float x = (pixel[0] - intrinsics.ppx) / intrinsics.fx;
    float y = (pixel[1] - intrinsics.ppy) / intrinsics.fy;

    switch (intrinsics.model) {
        case RS2_DISTORTION_INVERSE_BROWN_CONRADY: {
            // Fixed-point iteration of the projection's inverse; tangential terms of the
            // radially distorted point, as in the projection.
            const float x0 = x;
            const float y0 = y;
            for (int i = 0; i < kBrownConradyIterations; ++i) {
                const float r2 = x * x + y * y;
                const float icdist = 1.0f / RadialFactor(c, r2);
                const float xq = x / icdist;
                const float yq = y / icdist;
                const float deltaX = 2 * c[2] * xq * yq + c[3] * (r2 + 2 * xq * xq);
                const float deltaY = 2 * c[3] * xq * yq + c[2] * (r2 + 2 * yq * yq);
                x = (x0 - deltaX) * icdist;
                y = (y0 - deltaY) * icdist;
            }
            break;
        }
        case RS2_DISTORTION_BROWN_CONRADY: {
            const float x0 = x;
            const float y0 = y;
            for (int i = 0; i < kBrownConradyIterations; ++i) {
                const float r2 = x * x + y * y;
                const float icdist = 1.0f / RadialFactor(c, r2);
                const float deltaX = 2 * c[2] * x * y + c[3] * (r2 + 2 * x * x);
                const float deltaY = 2 * c[3] * x * y + c[2] * (r2 + 2 * y * y);
                x = (x0 - deltaX) * icdist;
                y = (y0 - deltaY) * icdist;
            }
            break;
        }
        case RS2_DISTORTION_KANNALA_BRANDT4: {
            // Newton's method on theta for the distorted radius rd.
            const float rd = SafeRadius(x, y);
            float theta = rd;
            for (int i = 0; i < kKannalaBrandtIterations; ++i) {
                const float f = KannalaBrandtRadius(c, theta) - rd;
                if (std::fabs(f) < FLT_EPSILON) {
                    break;
                }
                const float theta2 = theta * theta;
                const float df =
                    1 + theta2 * (3 * c[0] + theta2 * (5 * c[1] + theta2 * (7 * c[2] + 9 * theta2 * c[3])));
                theta -= f / df;
            }
            const float r = std::tan(theta);
            x *= r / rd;
            y *= r / rd;
            break;
        }
        case RS2_DISTORTION_FTHETA: {
            // librealsense2 divides by atan(2 tan(w/2)) where the exact inverse of its projection
            // would divide by 2 tan(w/2); kept so that points match librealsense2's own.
            const float rd = SafeRadius(x, y);
            const auto r = static_cast<float>(std::tan(c[0] * rd) / std::atan(2.0 * std::tan(c[0] / 2.0f)));
            x *= r / rd;
            y *= r / rd;
            break;
        }
        default:
            // None, and modified Brown-Conrady, which librealsense2 cannot undo.
            break;
    }

    const float result[3] = {depth * x, depth * y, depth};
    if (!AllFinite(result, 3)) {
        return false;
    }
    std::copy_n(result, 3, point);
    return true;
}

}  // namespace kiro::head

#include "tools/virtualRealsense/virtualOptics.h"

#include <cmath>
#include <cstddef>
#include <limits>

namespace kiro::virtualRealsense {

namespace {

// Newton's method on the distortion: residual accepted (normalised coordinates, about a
// thousandth of a pixel), step of the difference quotients and most steps taken.
constexpr float kResidual = 2e-6f;
constexpr float kStep = 1e-3f;
constexpr int kMaxSteps = 20;
// Ray tables kept at once (one per streaming mode in use).
constexpr std::size_t kMaxTables = 4;

/// Distorts normalised image coordinates in place, as rs2_project_point_to_pixel does.
void Distort(const rs2_intrinsics& intrinsics, float& x, float& y) {
    const float* c = intrinsics.coeffs;
    const float r2 = x * x + y * y;
    const float f = 1 + c[0] * r2 + c[1] * r2 * r2 + c[4] * r2 * r2 * r2;
    if (intrinsics.model == RS2_DISTORTION_MODIFIED_BROWN_CONRADY) {
        // Tangential terms from the radially distorted point.
        x *= f;
        y *= f;
        const float dx = x + 2 * c[2] * x * y + c[3] * (r2 + 2 * x * x);
        const float dy = y + 2 * c[3] * x * y + c[2] * (r2 + 2 * y * y);
        x = dx;
        y = dy;
    } else if (intrinsics.model == RS2_DISTORTION_BROWN_CONRADY) {
        // Tangential terms from the undistorted point.
        const float dx = x * f + 2 * c[2] * x * y + c[3] * (r2 + 2 * x * x);
        const float dy = y * f + 2 * c[3] * x * y + c[2] * (r2 + 2 * y * y);
        x = dx;
        y = dy;
    }
}

bool SameIntrinsics(const rs2_intrinsics& a, const rs2_intrinsics& b) {
    bool same = a.width == b.width && a.height == b.height && a.ppx == b.ppx && a.ppy == b.ppy && a.fx == b.fx &&
                a.fy == b.fy && a.model == b.model;
    for (int i = 0; i < 5; ++i) {
        same = same && a.coeffs[i] == b.coeffs[i];
    }
    return same;
}

}  // namespace

void ProjectPointToPixel(const rs2_intrinsics& intrinsics, const float point[3], float pixel[2]) {
    float x = point[0] / point[2];
    float y = point[1] / point[2];
    Distort(intrinsics, x, y);
    pixel[0] = x * intrinsics.fx + intrinsics.ppx;
    pixel[1] = y * intrinsics.fy + intrinsics.ppy;
}

bool PixelToRay(const rs2_intrinsics& intrinsics, float u, float v, Ray* ray) {
    const float targetX = (u - intrinsics.ppx) / intrinsics.fx;
    const float targetY = (v - intrinsics.ppy) / intrinsics.fy;
    float x = targetX;
    float y = targetY;
    if (intrinsics.model != RS2_DISTORTION_NONE) {
        bool converged = false;
        for (int step = 0; step < kMaxSteps && !converged; ++step) {
            float dx = x;
            float dy = y;
            Distort(intrinsics, dx, dy);
            const float rx = targetX - dx;
            const float ry = targetY - dy;
            converged = std::fabs(rx) <= kResidual && std::fabs(ry) <= kResidual;
            if (converged) {
                break;
            }
            // The Jacobian of the distortion by forward differences.
            float ax = x + kStep;
            float ay = y;
            Distort(intrinsics, ax, ay);
            float bx = x;
            float by = y + kStep;
            Distort(intrinsics, bx, by);
            const float j00 = (ax - dx) / kStep;
            const float j10 = (ay - dy) / kStep;
            const float j01 = (bx - dx) / kStep;
            const float j11 = (by - dy) / kStep;
            const float det = j00 * j11 - j01 * j10;
            if (!(std::fabs(det) > 1e-6f)) {
                break;
            }
            x += (j11 * rx - j01 * ry) / det;
            y += (j00 * ry - j10 * rx) / det;
        }
        if (!converged) {
            const float none = std::numeric_limits<float>::quiet_NaN();
            *ray = {none, none};
            return false;
        }
    }
    *ray = {x, y};
    return true;
}

PixelRays::PixelRays(const rs2_intrinsics& intrinsics)
    : intrinsics_(intrinsics),
      rays_(static_cast<std::size_t>(intrinsics.width) * static_cast<std::size_t>(intrinsics.height)),
      known_(rays_.size(), 0) {}

const Ray* PixelRays::Row(int v, int left, int right) {
    const std::size_t row = static_cast<std::size_t>(v) * static_cast<std::size_t>(intrinsics_.width);
    for (int u = left; u <= right; ++u) {
        const std::size_t i = row + static_cast<std::size_t>(u);
        if (known_[i] == 0) {
            PixelToRay(intrinsics_, static_cast<float>(u), static_cast<float>(v), &rays_[i]);
            known_[i] = 1;
        }
    }
    return rays_.data() + row;
}

PixelRays& RayCache::For(const rs2_intrinsics& intrinsics) {
    for (const auto& table : tables_) {
        if (SameIntrinsics(table->intrinsics(), intrinsics)) {
            return *table;
        }
    }
    if (tables_.size() == kMaxTables) {
        tables_.erase(tables_.begin());
    }
    tables_.push_back(std::make_unique<PixelRays>(intrinsics));
    return *tables_.back();
}

}  // namespace kiro::virtualRealsense

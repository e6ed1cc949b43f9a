#include "tools/virtualRealsense/virtualScene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace kiro::virtualRealsense {

namespace {

// Face proportions in interocular distances: a 63 mm eye distance gives a head of about
// 160 x 210 mm and eyes of 12 mm.
constexpr float kHeadHalfWidth = 1.25f;
constexpr float kHeadHalfHeight = 1.65f;
constexpr float kHeadCentreBelowEyes = 0.6f;
constexpr float kEyeRadius = 0.1f;
constexpr float kSocketRadius = 0.18f;
constexpr float kNoseBelowEyes = 0.55f;
constexpr float kNoseHalfWidth = 0.12f;
constexpr float kNoseHalfHeight = 0.3f;
constexpr float kMouthBelowEyes = 1.15f;
constexpr float kMouthHalfWidth = 0.45f;
constexpr float kMouthHalfHeight = 0.12f;
// The smallest eye disc still covers the pixels around its centre.
constexpr float kMinEyeRadiusPixels = 1.5f;

constexpr std::uint8_t kSkinLevel = 120;
constexpr std::uint8_t kNoseLevel = 150;
constexpr std::uint8_t kMouthLevel = 60;
constexpr std::uint8_t kSocketLevel = 70;
// The only level of the eyes, so that a detector finds them by it.
constexpr std::uint8_t kEyeLevel = 255;

/// Where a face is at a scene time.
struct Pose {
    Point3 midpoint;
    float interocularDistance;
};

Pose PoseAt(const FaceScript& face, double timeMs) {
    const auto& keys = face.keyframes;
    const auto next = std::find_if(keys.begin(), keys.end(), [&](const auto& key) { return key.timeMs > timeMs; });
    if (next == keys.begin()) {
        return {{keys.front().x, keys.front().y, keys.front().z}, keys.front().interocularDistance};
    }
    if (next == keys.end()) {
        return {{keys.back().x, keys.back().y, keys.back().z}, keys.back().interocularDistance};
    }
    const auto& a = *(next - 1);
    const auto& b = *next;
    const auto t = static_cast<float>((timeMs - a.timeMs) / (b.timeMs - a.timeMs));
    const auto mix = [t](float from, float to) { return from + (to - from) * t; };
    return {{mix(a.x, b.x), mix(a.y, b.y), mix(a.z, b.z)}, mix(a.interocularDistance, b.interocularDistance)};
}

/// The eye centres of a pose, camera space, mm: the one at the smaller x first.
std::array<Point3, 2> EyeCentres(const Pose& pose) {
    const Point3 m = pose.midpoint;
    const float half = pose.interocularDistance / 2;
    return {Point3{m.x - half, m.y, m.z}, Point3{m.x + half, m.y, m.z}};
}

/// Where the device draws a camera-space point, in pixels.
std::array<float, 2> Project(const rs2_intrinsics& intrinsics, const Point3& point) {
    const float p[3] = {point.x, point.y, point.z};
    std::array<float, 2> pixel{};
    ProjectPointToPixel(intrinsics, p, pixel.data());
    return pixel;
}

/// An ellipse in pixels, axis-aligned.
struct Ellipse {
    float cx;
    float cy;
    float halfWidth;
    float halfHeight;
};

/// Calls `paint(index)` for every pixel whose centre lies inside the ellipse.
template <typename Paint>
void FillEllipse(const Ellipse& e, int width, int height, Paint paint) {
    if (e.halfWidth <= 0.0f || e.halfHeight <= 0.0f) {
        return;
    }
    const int left = std::max(0, static_cast<int>(std::ceil(e.cx - e.halfWidth)));
    const int right = std::min(width - 1, static_cast<int>(std::floor(e.cx + e.halfWidth)));
    const int top = std::max(0, static_cast<int>(std::ceil(e.cy - e.halfHeight)));
    const int bottom = std::min(height - 1, static_cast<int>(std::floor(e.cy + e.halfHeight)));
    for (int v = top; v <= bottom; ++v) {
        for (int u = left; u <= right; ++u) {
            const float dx = (static_cast<float>(u) - e.cx) / e.halfWidth;
            const float dy = (static_cast<float>(v) - e.cy) / e.halfHeight;
            if (dx * dx + dy * dy <= 1.0f) {
                paint(static_cast<std::size_t>(v) * static_cast<std::size_t>(width) + static_cast<std::size_t>(u));
            }
        }
    }
}

/// An ellipse on the face plane around `centre` (camera space, mm), half-axes in mm, drawn with
/// the projected centre and the focal lengths as scale.
Ellipse FaceEllipse(const rs2_intrinsics& intrinsics, Point3 centre, float halfWidthMm, float halfHeightMm) {
    const std::array<float, 2> pixel = Project(intrinsics, centre);
    return {pixel[0], pixel[1], intrinsics.fx * halfWidthMm / centre.z, intrinsics.fy * halfHeightMm / centre.z};
}

Ellipse HeadEllipse(const rs2_intrinsics& intrinsics, const Pose& pose) {
    const float d = pose.interocularDistance;
    const Point3 centre{pose.midpoint.x, pose.midpoint.y + kHeadCentreBelowEyes * d, pose.midpoint.z};
    return FaceEllipse(intrinsics, centre, kHeadHalfWidth * d, kHeadHalfHeight * d);
}

/// A visible face placed for one viewer.
struct PlacedFace {
    Pose pose;
    const FaceScript* script;
};

/// Bilinear sample of a photo at (x, y); `fallback` outside it.
std::uint8_t Sample(const FacePhoto& photo, float x, float y, std::uint8_t fallback) {
    if (!(x >= 0.0f && y >= 0.0f && x <= static_cast<float>(photo.width - 1) &&
          y <= static_cast<float>(photo.height - 1))) {
        return fallback;
    }
    const int x0 = std::min(static_cast<int>(x), photo.width - 2);
    const int y0 = std::min(static_cast<int>(y), photo.height - 2);
    const float fx = x - static_cast<float>(x0);
    const float fy = y - static_cast<float>(y0);
    const auto at = [&](int u, int v) {
        return static_cast<float>(photo.pixels[static_cast<std::size_t>(v) * static_cast<std::size_t>(photo.width) +
                                               static_cast<std::size_t>(u)]);
    };
    const float top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * fx;
    const float bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * fx;
    return static_cast<std::uint8_t>(std::lround(top + (bottom - top) * fy));
}

/// Draws the photo inside the head ellipse, mapped so that its eyes land on the projected eyes.
void DrawPhoto(const rs2_intrinsics& intrinsics, const Pose& pose, const FacePhoto& photo, std::uint8_t* pixels) {
    const std::array<Point3, 2> eyes = EyeCentres(pose);
    const std::array<float, 2> a = Project(intrinsics, eyes[0]);
    const std::array<float, 2> b = Project(intrinsics, eyes[1]);
    // The similarity that takes image pixels to photo pixels: image eye a -> eye1, b -> eye2.
    const float imageDx = b[0] - a[0];
    const float imageDy = b[1] - a[1];
    const float photoDx = photo.eye2[0] - photo.eye1[0];
    const float photoDy = photo.eye2[1] - photo.eye1[1];
    const float norm = imageDx * imageDx + imageDy * imageDy;
    if (norm < 1e-6f) {
        return;
    }
    // Complex division photo / image gives scale and rotation as one complex factor.
    const float re = (photoDx * imageDx + photoDy * imageDy) / norm;
    const float im = (photoDy * imageDx - photoDx * imageDy) / norm;
    FillEllipse(HeadEllipse(intrinsics, pose), intrinsics.width, intrinsics.height, [&](std::size_t i) {
        const float u = static_cast<float>(i % static_cast<std::size_t>(intrinsics.width)) - a[0];
        const float v = static_cast<float>(i / static_cast<std::size_t>(intrinsics.width)) - a[1];
        pixels[i] = Sample(photo, photo.eye1[0] + re * u - im * v, photo.eye1[1] + im * u + re * v, kSkinLevel);
    });
}

/// The visible faces at a time, farthest first so that nearer faces cover them.
std::vector<PlacedFace> VisibleFaces(const Scene& scene, double timeMs, float viewerOffsetMm) {
    std::vector<PlacedFace> faces;
    for (const FaceScript& face : scene.faces) {
        if (IsVisibleAt(face, timeMs)) {
            Pose pose = PoseAt(face, timeMs);
            pose.midpoint.x -= viewerOffsetMm;
            faces.push_back({pose, &face});
        }
    }
    std::stable_sort(faces.begin(), faces.end(), [](const PlacedFace& a, const PlacedFace& b) {
        return a.pose.midpoint.z > b.pose.midpoint.z;
    });
    return faces;
}

void DrawFace(const rs2_intrinsics& intrinsics, const Pose& pose, kiroVirtualRealsenseFacePattern pattern,
              std::uint8_t* pixels) {
    const int w = intrinsics.width;
    const int h = intrinsics.height;
    const float d = pose.interocularDistance;
    const Point3 m = pose.midpoint;
    const auto fill = [&](const Ellipse& e, std::uint8_t level) {
        FillEllipse(e, w, h, [&](std::size_t i) { pixels[i] = level; });
    };
    const std::array<Point3, 2> eyes = EyeCentres(pose);

    if (pattern == KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL) {
        fill(HeadEllipse(intrinsics, pose), kSkinLevel);
        fill(FaceEllipse(intrinsics, {m.x, m.y + kNoseBelowEyes * d, m.z}, kNoseHalfWidth * d, kNoseHalfHeight * d),
             kNoseLevel);
        fill(FaceEllipse(intrinsics, {m.x, m.y + kMouthBelowEyes * d, m.z}, kMouthHalfWidth * d,
                         kMouthHalfHeight * d),
             kMouthLevel);
        for (const Point3& eye : eyes) {
            fill(FaceEllipse(intrinsics, eye, kSocketRadius * d, kSocketRadius * d), kSocketLevel);
        }
    }
    // The eye discs are centred on the distorted projection of the eye centres, where the
    // camera's projection will look for them.
    const float radius = std::max(kMinEyeRadiusPixels, intrinsics.fx * kEyeRadius * d / m.z);
    for (const Point3& eye : eyes) {
        const std::array<float, 2> pixel = Project(intrinsics, eye);
        fill({pixel[0], pixel[1], radius, radius}, kEyeLevel);
    }
}

}  // namespace

void ProjectPointToPixel(const rs2_intrinsics& intrinsics, const float point[3], float pixel[2]) {
    const float* c = intrinsics.coeffs;
    float x = point[0] / point[2];
    float y = point[1] / point[2];
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
    pixel[0] = x * intrinsics.fx + intrinsics.ppx;
    pixel[1] = y * intrinsics.fy + intrinsics.ppy;
}

bool IsValidFace(const kiroVirtualRealsenseFace& face) {
    if (face.pattern != KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL &&
        face.pattern != KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_EYES_ONLY) {
        return false;
    }
    if (face.keyframes == nullptr || face.keyframeCount < 1 || !std::isfinite(face.appearMs) ||
        !std::isfinite(face.disappearMs)) {
        return false;
    }
    for (int i = 0; i < face.keyframeCount; ++i) {
        const kiroVirtualRealsenseKeyframe& key = face.keyframes[i];
        const bool finite = std::isfinite(key.timeMs) && std::isfinite(key.x) && std::isfinite(key.y) &&
                            std::isfinite(key.z) && std::isfinite(key.interocularDistance);
        if (!finite || key.z <= 0.0f || key.interocularDistance <= 0.0f ||
            (i > 0 && key.timeMs <= face.keyframes[i - 1].timeMs)) {
            return false;
        }
    }
    return true;
}

bool IsValidPhoto(int width, int height, const float eye1[2], const float eye2[2]) {
    if (width < 2 || height < 2 || eye1 == nullptr || eye2 == nullptr) {
        return false;
    }
    const float dx = eye2[0] - eye1[0];
    const float dy = eye2[1] - eye1[1];
    return std::isfinite(eye1[0]) && std::isfinite(eye1[1]) && std::isfinite(dx) && std::isfinite(dy) &&
           dx * dx + dy * dy >= 4.0f;
}

bool IsVisibleAt(const FaceScript& face, double timeMs) {
    return timeMs >= face.appearMs && (face.disappearMs < 0.0 || timeMs < face.disappearMs);
}

kiroVirtualRealsenseEyes EyesAt(const FaceScript& face, double timeMs) {
    const std::array<Point3, 2> eyes = EyeCentres(PoseAt(face, timeMs));
    return {IsVisibleAt(face, timeMs) ? 1 : 0, {eyes[0].x, eyes[0].y, eyes[0].z}, {eyes[1].x, eyes[1].y, eyes[1].z}};
}

void RenderInfrared(const Scene& scene, double timeMs, const rs2_intrinsics& intrinsics, float viewerOffsetMm,
                    std::uint8_t* pixels) {
    const auto count = static_cast<std::size_t>(intrinsics.width) * static_cast<std::size_t>(intrinsics.height);
    std::fill(pixels, pixels + count, scene.backgroundInfrared);
    for (const PlacedFace& face : VisibleFaces(scene, timeMs, viewerOffsetMm)) {
        if (face.script->photo) {
            DrawPhoto(intrinsics, face.pose, *face.script->photo, pixels);
        } else {
            DrawFace(intrinsics, face.pose, face.script->pattern, pixels);
        }
    }
}

void RenderDepth(const Scene& scene, double timeMs, const rs2_intrinsics& intrinsics, std::uint16_t* depthMm) {
    const auto count = static_cast<std::size_t>(intrinsics.width) * static_cast<std::size_t>(intrinsics.height);
    std::fill(depthMm, depthMm + count, scene.backgroundDepthMm);
    for (const PlacedFace& face : VisibleFaces(scene, timeMs, 0.0f)) {
        const auto value = static_cast<std::uint16_t>(std::clamp(std::lround(face.pose.midpoint.z), 0L, 65535L));
        FillEllipse(HeadEllipse(intrinsics, face.pose), intrinsics.width, intrinsics.height,
                    [&](std::size_t i) { depthMm[i] = value; });
    }
}

}  // namespace kiro::virtualRealsense

#include "tools/virtualRealsense/virtualScene.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace kiro::virtualRealsense {

namespace {

// Face proportions in interocular distances d, on the face's plane from the eye midpoint (x
// along the eye line, y down the face): a 63 mm eye distance gives a head of about 160 x 210 mm
// and eyes of 12 mm.
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
// Glasses: a rim round each eye, a bridge just above the eye line and a reflection up and out
// from the eye at +d/2, clear of the eye disc.
constexpr float kRimOuterRadius = 0.45f;
constexpr float kRimWidth = 0.06f;
constexpr float kBridgeHalfWidth = 0.1f;
constexpr float kBridgeAboveEyes = 0.1f;
constexpr float kBridgeHalfHeight = 0.03f;
constexpr float kReflectionOffset = 0.18f;
constexpr float kReflectionRadius = 0.07f;
// The smallest eye disc still covers the pixels around its centre.
constexpr float kMinEyeRadiusPixels = 1.5f;

constexpr std::uint8_t kSkinLevel = 120;
constexpr std::uint8_t kNoseLevel = 150;
constexpr std::uint8_t kMouthLevel = 60;
constexpr std::uint8_t kSocketLevel = 70;
constexpr std::uint8_t kRimLevel = 25;
constexpr std::uint8_t kReflectionLevel = 240;
// The only level of the eyes, so that a detector finds them by it.
constexpr std::uint8_t kEyeLevel = 255;

// A shape is bounded in the image by the projections of points on its outline, plus a margin
// for the curve between them; one reaching nearer the camera's plane than kNearestMm is
// searched for in the whole image.
constexpr int kOutlinePoints = 32;
constexpr float kBoundsMarginPixels = 2.0f;
constexpr float kNearestMm = 1.0f;

Point3 operator+(Point3 a, Point3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Point3 operator-(Point3 a, Point3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Point3 operator*(float s, Point3 a) { return {s * a.x, s * a.y, s * a.z}; }
float Dot(Point3 a, Point3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
/// a · (ray.x, ray.y, 1).
float Dot(Point3 a, Ray ray) { return a.x * ray.x + a.y * ray.y + a.z; }

/// Unit axes of a plane: x and y span it, z is its normal (into the head for a face).
struct Axes {
    Point3 x;
    Point3 y;
    Point3 z;
};

constexpr Axes kFacingCamera{{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};

/// The columns of R = Ry(yaw) Rx(pitch) Rz(roll).
Axes HeadAxes(float yaw, float pitch, float roll) {
    const float cy = std::cos(yaw);
    const float sy = std::sin(yaw);
    const float cp = std::cos(pitch);
    const float sp = std::sin(pitch);
    const float cr = std::cos(roll);
    const float sr = std::sin(roll);
    return {{cy * cr + sy * sp * sr, cp * sr, -sy * cr + cy * sp * sr},
            {-cy * sr + sy * sp * cr, cp * cr, sy * sr + cy * sp * cr},
            {sy * cp, -sp, cy * cp}};
}

/// Where a face is at a scene time, camera space of one viewer.
struct Pose {
    Point3 midpoint;
    float interocularDistance;
    Axes axes;
};

float Lerp(float from, float to, float t) { return from + (to - from) * t; }

/// `mix(a, b, t)` of the keyframes around a time; the first or last one alone outside the path.
template <typename Key, typename Mix>
auto Interpolate(const std::vector<Key>& keys, double timeMs, Mix mix) {
    const auto next = std::find_if(keys.begin(), keys.end(), [&](const Key& key) { return key.timeMs > timeMs; });
    if (next == keys.begin()) {
        return mix(keys.front(), keys.front(), 0.0f);
    }
    if (next == keys.end()) {
        return mix(keys.back(), keys.back(), 0.0f);
    }
    const Key& a = *(next - 1);
    const Key& b = *next;
    return mix(a, b, static_cast<float>((timeMs - a.timeMs) / (b.timeMs - a.timeMs)));
}

Pose PoseAt(const FaceScript& face, double timeMs) {
    return Interpolate(face.keyframes, timeMs, [](const auto& a, const auto& b, float t) {
        return Pose{{Lerp(a.x, b.x, t), Lerp(a.y, b.y, t), Lerp(a.z, b.z, t)},
                    Lerp(a.interocularDistance, b.interocularDistance, t),
                    HeadAxes(Lerp(a.yaw, b.yaw, t), Lerp(a.pitch, b.pitch, t), Lerp(a.roll, b.roll, t))};
    });
}

Point3 CentreAt(const OccluderScript& occluder, double timeMs) {
    return Interpolate(occluder.keyframes, timeMs, [](const auto& a, const auto& b, float t) {
        return Point3{Lerp(a.x, b.x, t), Lerp(a.y, b.y, t), Lerp(a.z, b.z, t)};
    });
}

bool InWindow(double appearMs, double disappearMs, double timeMs) {
    return timeMs >= appearMs && (disappearMs < 0.0 || timeMs < disappearMs);
}

/// The eye centres of a pose: the eye at -d/2 along the face's x first.
std::array<Point3, 2> EyeCentres(const Pose& pose) {
    const Point3 half = (pose.interocularDistance / 2) * pose.axes.x;
    return {pose.midpoint - half, pose.midpoint + half};
}

/// Where the device draws a camera-space point, in pixels.
std::array<float, 2> Project(const rs2_intrinsics& intrinsics, const Point3& point) {
    const float p[3] = {point.x, point.y, point.z};
    std::array<float, 2> pixel{};
    ProjectPointToPixel(intrinsics, p, pixel.data());
    return pixel;
}

/// Where a ray meets a plane: at depth t (mm along z) and plane coordinates u, v (mm).
struct PlaneHit {
    float t;
    float u;
    float v;
};

/// A plane through `origin` spanned by axes.x and axes.y, coordinates in mm from the origin.
struct Plane {
    Point3 origin;
    Axes axes;
    float offset;  // axes.z · origin: positive when the viewer is on the side opposite axes.z
    float uOrigin;
    float vOrigin;
};

Plane MakePlane(Point3 origin, const Axes& axes) {
    return {origin, axes, Dot(axes.z, origin), Dot(axes.x, origin), Dot(axes.y, origin)};
}

bool Meet(const Plane& plane, Ray ray, PlaneHit* hit) {
    const float denominator = Dot(plane.axes.z, ray);
    // Both of one sign: the plane lies ahead along the ray (never for a NaN ray).
    if (!(denominator * plane.offset > 0.0f)) {
        return false;
    }
    const float t = plane.offset / denominator;
    *hit = {t, t * Dot(plane.axes.x, ray) - plane.uOrigin, t * Dot(plane.axes.y, ray) - plane.vOrigin};
    return true;
}

/// An axis-aligned ellipse in plane coordinates.
struct Region {
    float u;
    float v;
    float halfU;
    float halfV;
    float inverseU;  // 1 / halfU: a multiplication per test instead of a division
    float inverseV;

    bool Contains(float pu, float pv) const {
        const float du = (pu - u) * inverseU;
        const float dv = (pv - v) * inverseV;
        return du * du + dv * dv <= 1.0f;
    }
};

Region MakeRegion(float u, float v, float halfU, float halfV) { return {u, v, halfU, halfV, 1 / halfU, 1 / halfV}; }

/// A flat elliptical shape in camera space: a face's head region or an occluder. Drawing and
/// the face view's coverage test both ask Covers, so the image and the truth agree.
struct Shape {
    Plane plane;
    Region region;

    bool Covers(Ray ray, PlaneHit* hit) const { return Meet(plane, ray, hit) && region.Contains(hit->u, hit->v); }
    /// The viewer sees the side that axes.z points away from (a face's front).
    bool FacesViewer() const { return plane.offset > 0.0f; }
};

Shape HeadShape(const Pose& pose) {
    const float d = pose.interocularDistance;
    return {MakePlane(pose.midpoint, pose.axes),
            MakeRegion(0.0f, kHeadCentreBelowEyes * d, kHeadHalfWidth * d, kHeadHalfHeight * d)};
}

/// Pixels, inclusive; empty when left > right or top > bottom.
struct Box {
    int left;
    int top;
    int right;
    int bottom;
};

int ClampedPixel(float value, int low, int high) {
    return static_cast<int>(std::clamp(value, static_cast<float>(low), static_cast<float>(high)));
}

Box BoundsOf(const rs2_intrinsics& intrinsics, const Shape& shape) {
    const int width = intrinsics.width;
    const int height = intrinsics.height;
    float minX = std::numeric_limits<float>::infinity();
    float minY = minX;
    float maxX = -minX;
    float maxY = -minX;
    const Region& r = shape.region;
    const Axes& axes = shape.plane.axes;
    for (int i = 0; i < kOutlinePoints; ++i) {
        const float angle = 6.2831853f * static_cast<float>(i) / kOutlinePoints;
        const Point3 point = shape.plane.origin + (r.u + r.halfU * std::cos(angle)) * axes.x +
                             (r.v + r.halfV * std::sin(angle)) * axes.y;
        if (!(point.z >= kNearestMm)) {
            return {0, 0, width - 1, height - 1};
        }
        const std::array<float, 2> pixel = Project(intrinsics, point);
        minX = std::min(minX, pixel[0]);
        maxX = std::max(maxX, pixel[0]);
        minY = std::min(minY, pixel[1]);
        maxY = std::max(maxY, pixel[1]);
    }
    return {ClampedPixel(std::floor(minX - kBoundsMarginPixels), 0, width),
            ClampedPixel(std::floor(minY - kBoundsMarginPixels), 0, height),
            ClampedPixel(std::ceil(maxX + kBoundsMarginPixels), -1, width - 1),
            ClampedPixel(std::ceil(maxY + kBoundsMarginPixels), -1, height - 1)};
}

/// Calls `visit(index, hit)` for every pixel whose centre's ray the shape covers.
template <typename Visit>
void ForEachCovered(PixelRays& rays, const Shape& shape, Visit visit) {
    const rs2_intrinsics& intrinsics = rays.intrinsics();
    const Box box = BoundsOf(intrinsics, shape);
    for (int v = box.top; v <= box.bottom; ++v) {
        const Ray* row = rays.Row(v, box.left, box.right);
        const std::size_t rowStart = static_cast<std::size_t>(v) * static_cast<std::size_t>(intrinsics.width);
        for (int u = box.left; u <= box.right; ++u) {
            PlaneHit hit;
            if (shape.Covers(row[u], &hit)) {
                visit(rowStart + static_cast<std::size_t>(u), hit);
            }
        }
    }
}

/// Calls `paint(index)` for every pixel whose centre lies in a disc of the image.
template <typename Paint>
void FillDisc(float cx, float cy, float radius, int width, int height, Paint paint) {
    const int left = ClampedPixel(std::ceil(cx - radius), 0, width);
    const int right = ClampedPixel(std::floor(cx + radius), -1, width - 1);
    const int top = ClampedPixel(std::ceil(cy - radius), 0, height);
    const int bottom = ClampedPixel(std::floor(cy + radius), -1, height - 1);
    for (int v = top; v <= bottom; ++v) {
        for (int u = left; u <= right; ++u) {
            const float dx = (static_cast<float>(u) - cx) / radius;
            const float dy = (static_cast<float>(v) - cy) / radius;
            if (dx * dx + dy * dy <= 1.0f) {
                paint(static_cast<std::size_t>(v) * static_cast<std::size_t>(width) + static_cast<std::size_t>(u));
            }
        }
    }
}

/// Bilinear sample of a photo at (x, y); `fallback` outside it. The weights are fixed-point
/// with 8 fractional bits: integer arithmetic is cheaper here, and fine for 8-bit levels.
int Sample(const FacePhoto& photo, float x, float y, int fallback) {
    if (!(x >= 0.0f && y >= 0.0f && x <= static_cast<float>(photo.width - 1) &&
          y <= static_cast<float>(photo.height - 1))) {
        return fallback;
    }
    const int xi = static_cast<int>(x * 256.0f);
    const int yi = static_cast<int>(y * 256.0f);
    const int x0 = std::min(xi >> 8, photo.width - 2);
    const int y0 = std::min(yi >> 8, photo.height - 2);
    const int wx = xi - (x0 << 8);
    const int wy = yi - (y0 << 8);
    const std::uint8_t* p = photo.pixels.data() + static_cast<std::size_t>(y0) * static_cast<std::size_t>(photo.width) +
                            static_cast<std::size_t>(x0);
    const auto below = static_cast<std::size_t>(photo.width);
    const int top = p[0] * (256 - wx) + p[1] * wx;
    const int bottom = p[below] * (256 - wx) + p[below + 1] * wx;
    return (top * (256 - wy) + bottom * wy + 32768) >> 16;
}

/// How a face's front looks at plane coordinates (mm from the eye midpoint).
class FaceLook {
public:
    FaceLook(const FaceScript& face, float d)
        : face_(face),
          d_(d),
          nose_(MakeRegion(0.0f, kNoseBelowEyes * d, kNoseHalfWidth * d, kNoseHalfHeight * d)),
          mouth_(MakeRegion(0.0f, kMouthBelowEyes * d, kMouthHalfWidth * d, kMouthHalfHeight * d)),
          sockets_{MakeRegion(-d / 2, 0.0f, kSocketRadius * d, kSocketRadius * d),
                   MakeRegion(d / 2, 0.0f, kSocketRadius * d, kSocketRadius * d)},
          reflection_(MakeRegion((0.5f + kReflectionOffset) * d, -kReflectionOffset * d, kReflectionRadius * d,
                                 kReflectionRadius * d)) {
        if (face.photo) {
            // The similarity from plane to photo coordinates that takes the eye at -d/2 to
            // eye1 and the one at +d/2 to eye2.
            const FacePhoto& photo = *face.photo;
            scaleCos_ = (photo.eye2[0] - photo.eye1[0]) / d;
            scaleSin_ = (photo.eye2[1] - photo.eye1[1]) / d;
            photoX_ = photo.eye1[0] + scaleCos_ * d / 2;
            photoY_ = photo.eye1[1] + scaleSin_ * d / 2;
        }
    }

    /// The level at (u, v), or -1 where the face is transparent (the eyes-only pattern).
    int LevelAt(float u, float v) const {
        int level = -1;
        if (face_.photo) {
            const float x = photoX_ + scaleCos_ * u - scaleSin_ * v;
            const float y = photoY_ + scaleSin_ * u + scaleCos_ * v;
            level = Sample(*face_.photo, x, y, kSkinLevel);
        } else if (face_.pattern == KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL) {
            level = PatternLevel(u, v);
        }
        return face_.glasses ? GlassesOver(u, v, level) : level;
    }

private:
    int PatternLevel(float u, float v) const {
        int level = kSkinLevel;
        if (nose_.Contains(u, v)) {
            level = kNoseLevel;
        }
        if (mouth_.Contains(u, v)) {
            level = kMouthLevel;
        }
        if (sockets_[0].Contains(u, v) || sockets_[1].Contains(u, v)) {
            level = kSocketLevel;
        }
        return level;
    }

    int GlassesOver(float u, float v, int level) const {
        const float outer = kRimOuterRadius * d_;
        const float inner = (kRimOuterRadius - kRimWidth) * d_;
        for (const float eye : {-d_ / 2, d_ / 2}) {
            const float r2 = (u - eye) * (u - eye) + v * v;
            if (r2 <= outer * outer && r2 >= inner * inner) {
                return kRimLevel;
            }
        }
        if (std::fabs(u) <= kBridgeHalfWidth * d_ && std::fabs(v + kBridgeAboveEyes * d_) <= kBridgeHalfHeight * d_) {
            return kRimLevel;
        }
        return reflection_.Contains(u, v) ? kReflectionLevel : level;
    }

    const FaceScript& face_;
    float d_;
    Region nose_;
    Region mouth_;
    Region sockets_[2];
    Region reflection_;
    float scaleCos_ = 0.0f;
    float scaleSin_ = 0.0f;
    float photoX_ = 0.0f;
    float photoY_ = 0.0f;
};

/// A face or an occluder placed for one viewer.
struct Item {
    Shape shape;                    // a face's head region, an occluder's ellipse
    float distance;                 // z of the eye midpoint or the occluder's centre, mm
    const FaceScript* face;         // null for an occluder
    Pose pose;                      // of a face
    std::uint8_t infraredLevel;     // of an occluder
};

/// What is in the scene at a time, in drawing order: farthest first, so nearer items cover it.
std::vector<Item> ItemsAt(const Scene& scene, double timeMs, float viewerOffsetMm) {
    std::vector<Item> items;
    for (const FaceScript& face : scene.faces) {
        if (IsVisibleAt(face, timeMs)) {
            Pose pose = PoseAt(face, timeMs);
            pose.midpoint.x -= viewerOffsetMm;
            items.push_back({HeadShape(pose), pose.midpoint.z, &face, pose, 0});
        }
    }
    for (const OccluderScript& occluder : scene.occluders) {
        if (InWindow(occluder.appearMs, occluder.disappearMs, timeMs)) {
            Point3 centre = CentreAt(occluder, timeMs);
            centre.x -= viewerOffsetMm;
            const Shape shape{MakePlane(centre, kFacingCamera),
                              MakeRegion(0.0f, 0.0f, occluder.width / 2, occluder.height / 2)};
            items.push_back({shape, centre.z, nullptr, Pose{}, occluder.infraredLevel});
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.distance > b.distance; });
    return items;
}

void DrawFace(PixelRays& rays, const Item& item, std::uint8_t* pixels) {
    const FaceScript& face = *item.face;
    const Pose& pose = item.pose;
    if (!item.shape.FacesViewer()) {
        // Seen from behind: the back of the head.
        if (face.photo || face.pattern == KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL) {
            ForEachCovered(rays, item.shape, [&](std::size_t i, const PlaneHit&) { pixels[i] = kSkinLevel; });
        }
        return;
    }
    const FaceLook look(face, pose.interocularDistance);
    ForEachCovered(rays, item.shape, [&](std::size_t i, const PlaneHit& hit) {
        const int level = look.LevelAt(hit.u, hit.v);
        if (level >= 0) {
            pixels[i] = static_cast<std::uint8_t>(level);
        }
    });
    if (face.photo) {
        return;
    }
    // The eye discs are centred on the distorted projection of the eye centres, where the
    // camera's projection will look for them.
    const rs2_intrinsics& intrinsics = rays.intrinsics();
    for (const Point3& eye : EyeCentres(pose)) {
        if (eye.z > 0.0f) {
            const std::array<float, 2> pixel = Project(intrinsics, eye);
            const float radius =
                std::max(kMinEyeRadiusPixels, intrinsics.fx * kEyeRadius * pose.interocularDistance / eye.z);
            FillDisc(pixel[0], pixel[1], radius, intrinsics.width, intrinsics.height,
                     [&](std::size_t i) { pixels[i] = kEyeLevel; });
        }
    }
}

std::uint16_t DepthValue(float t) { return static_cast<std::uint16_t>(std::min(t, 65535.0f) + 0.5f); }

bool IsValidKeyframe(const kiroVirtualRealsenseKeyframe& key) {
    const bool finite = std::isfinite(key.timeMs) && std::isfinite(key.x) && std::isfinite(key.y) &&
                        std::isfinite(key.z) && std::isfinite(key.interocularDistance) && std::isfinite(key.yaw) &&
                        std::isfinite(key.pitch) && std::isfinite(key.roll);
    return finite && key.z > 0.0f && key.interocularDistance > 0.0f;
}

bool IsValidKeyframe(const kiroVirtualRealsenseOccluderKeyframe& key) {
    return std::isfinite(key.timeMs) && std::isfinite(key.x) && std::isfinite(key.y) && std::isfinite(key.z) &&
           key.z > 0.0f;
}

/// At least one valid keyframe, times strictly increasing.
template <typename Key>
bool IsValidPath(const Key* keys, int count) {
    if (keys == nullptr || count < 1) {
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (!IsValidKeyframe(keys[i]) || (i > 0 && keys[i].timeMs <= keys[i - 1].timeMs)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsValidFace(const kiroVirtualRealsenseFace& face) {
    const bool knownPattern = face.pattern == KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL ||
                              face.pattern == KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_EYES_ONLY;
    return knownPattern && std::isfinite(face.appearMs) && std::isfinite(face.disappearMs) &&
           IsValidPath(face.keyframes, face.keyframeCount);
}

bool IsValidOccluder(const kiroVirtualRealsenseOccluder& occluder) {
    return std::isfinite(occluder.width) && occluder.width > 0.0f && std::isfinite(occluder.height) &&
           occluder.height > 0.0f && occluder.infraredLevel >= 0 && occluder.infraredLevel <= 254 &&
           std::isfinite(occluder.appearMs) && std::isfinite(occluder.disappearMs) &&
           IsValidPath(occluder.keyframes, occluder.keyframeCount);
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

bool IsVisibleAt(const FaceScript& face, double timeMs) { return InWindow(face.appearMs, face.disappearMs, timeMs); }

kiroVirtualRealsenseEyes EyesAt(const FaceScript& face, double timeMs) {
    const std::array<Point3, 2> eyes = EyeCentres(PoseAt(face, timeMs));
    return {IsVisibleAt(face, timeMs) ? 1 : 0, {eyes[0].x, eyes[0].y, eyes[0].z}, {eyes[1].x, eyes[1].y, eyes[1].z}};
}

void RenderInfrared(const Scene& scene, double timeMs, PixelRays& rays, float viewerOffsetMm, std::uint8_t* pixels) {
    const rs2_intrinsics& intrinsics = rays.intrinsics();
    const auto count = static_cast<std::size_t>(intrinsics.width) * static_cast<std::size_t>(intrinsics.height);
    std::fill(pixels, pixels + count, scene.backgroundInfrared);
    for (const Item& item : ItemsAt(scene, timeMs, viewerOffsetMm)) {
        if (item.face != nullptr) {
            DrawFace(rays, item, pixels);
        } else {
            ForEachCovered(rays, item.shape, [&](std::size_t i, const PlaneHit&) { pixels[i] = item.infraredLevel; });
        }
    }
}

void RenderDepth(const Scene& scene, double timeMs, PixelRays& rays, std::uint8_t* depth) {
    const rs2_intrinsics& intrinsics = rays.intrinsics();
    const auto count = static_cast<std::size_t>(intrinsics.width) * static_cast<std::size_t>(intrinsics.height);
    const auto put = [depth](std::size_t i, std::uint16_t value) { std::memcpy(depth + 2 * i, &value, 2); };
    for (std::size_t i = 0; i < count; ++i) {
        put(i, scene.backgroundDepthMm);
    }
    for (const Item& item : ItemsAt(scene, timeMs, 0.0f)) {
        ForEachCovered(rays, item.shape, [&](std::size_t i, const PlaneHit& hit) { put(i, DepthValue(hit.t)); });
    }
}

kiroVirtualRealsenseFaceView FaceViewAt(const Scene& scene, std::size_t face, double timeMs,
                                        const rs2_intrinsics& intrinsics) {
    const FaceScript& script = scene.faces[face];
    const Pose pose = PoseAt(script, timeMs);
    const std::array<Point3, 2> eyes = EyeCentres(pose);
    const std::array<float, 2> left = Project(intrinsics, eyes[0]);
    const std::array<float, 2> right = Project(intrinsics, eyes[1]);
    kiroVirtualRealsenseFaceView view{};
    std::copy(left.begin(), left.end(), view.leftPixel);
    std::copy(right.begin(), right.end(), view.rightPixel);
    view.present = IsVisibleAt(script, timeMs) ? 1 : 0;
    if (view.present == 0) {
        return view;
    }
    // The pixels whose centres the renderer tests nearest to the eye centres.
    const std::array<std::array<float, 2>, 2> eyePixels = {
        std::array<float, 2>{std::round(left[0]), std::round(left[1])},
        std::array<float, 2>{std::round(right[0]), std::round(right[1])}};
    bool inside = eyes[0].z > 0.0f && eyes[1].z > 0.0f;
    for (const auto& pixel : eyePixels) {
        inside = inside && pixel[0] >= 0.0f && pixel[1] >= 0.0f &&
                 pixel[0] <= static_cast<float>(intrinsics.width - 1) &&
                 pixel[1] <= static_cast<float>(intrinsics.height - 1);
    }
    view.inView = inside && HeadShape(pose).FacesViewer() ? 1 : 0;

    const std::vector<Item> items = ItemsAt(scene, timeMs, 0.0f);
    const auto self = std::find_if(items.begin(), items.end(), [&](const Item& item) { return item.face == &script; });
    for (auto nearer = self + 1; nearer < items.end(); ++nearer) {
        for (const auto& pixel : eyePixels) {
            Ray ray{};
            PlaneHit hit{};
            if (PixelToRay(intrinsics, pixel[0], pixel[1], &ray) && nearer->shape.Covers(ray, &hit)) {
                view.occluded = 1;
            }
        }
    }
    return view;
}

}  // namespace kiro::virtualRealsense

#pragma once

#include "tools/virtualRealsense/virtualOptics.h"
#include "tools/virtualRealsense/virtualRealsense.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kiro::virtualRealsense {

/// A grey photograph that stands for a face, with its eye centres in photo pixels.
struct FacePhoto {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    float eye1[2] = {0.0f, 0.0f};  // the eye at the smaller column
    float eye2[2] = {0.0f, 0.0f};
};

/// Checks what kiroVirtualRealsenseSetFacePhoto promises to refuse.
bool IsValidPhoto(int width, int height, const float eye1[2], const float eye2[2]);

/// A face as added to the scene, keyframes copied.
struct FaceScript {
    kiroVirtualRealsenseFacePattern pattern = KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL;
    std::shared_ptr<const FacePhoto> photo;  // drawn instead of the pattern when set
    bool glasses = false;
    double appearMs = 0.0;
    double disappearMs = -1.0;
    std::vector<kiroVirtualRealsenseKeyframe> keyframes;
};

/// An occluder as added to the scene, keyframes copied.
struct OccluderScript {
    float width = 0.0f;
    float height = 0.0f;
    std::uint8_t infraredLevel = 0;
    double appearMs = 0.0;
    double disappearMs = -1.0;
    std::vector<kiroVirtualRealsenseOccluderKeyframe> keyframes;
};

/// Check what kiroVirtualRealsenseAddFace and kiroVirtualRealsenseAddOccluder promise to refuse.
bool IsValidFace(const kiroVirtualRealsenseFace& face);
bool IsValidOccluder(const kiroVirtualRealsenseOccluder& occluder);

bool IsVisibleAt(const FaceScript& face, double timeMs);
/// The eyes at a scene time, whether or not the face is visible then.
kiroVirtualRealsenseEyes EyesAt(const FaceScript& face, double timeMs);

struct Scene {
    std::vector<FaceScript> faces;
    std::vector<OccluderScript> occluders;
    std::uint8_t backgroundInfrared = 40;
    std::uint16_t backgroundDepthMm = 3000;
};

/// Draws the scene at `timeMs` into an 8-bit image of the rays' intrinsics, seen by a camera
/// placed `viewerOffsetMm` along x from the depth camera's origin.
void RenderInfrared(const Scene& scene, double timeMs, PixelRays& rays, float viewerOffsetMm, std::uint8_t* pixels);
/// Draws the scene's depth in mm, aligned with the depth camera, as 16-bit values in the
/// machine's byte order (Z16) into `depth` (2 bytes a pixel, any alignment).
void RenderDepth(const Scene& scene, double timeMs, PixelRays& rays, std::uint8_t* depth);

/// What RenderInfrared shows of face `face` (an index into scene.faces) from the depth camera's
/// origin, as kiroVirtualRealsenseGetFaceView documents it.
kiroVirtualRealsenseFaceView FaceViewAt(const Scene& scene, std::size_t face, double timeMs,
                                        const rs2_intrinsics& intrinsics);

}  // namespace kiro::virtualRealsense

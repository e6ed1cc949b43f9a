#pragma once

#include "tools/virtualRealsense/virtualRealsense.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kiro::virtualRealsense {

struct Point3 {
    float x;
    float y;
    float z;
};

/// librealsense2's rs2_project_point_to_pixel (an inline helper of rsutil.h, not exported) for
/// the models the device offers; the device draws with it so that the camera's deprojection of
/// a drawn eye gives back the scene's point.
void ProjectPointToPixel(const rs2_intrinsics& intrinsics, const float point[3], float pixel[2]);

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
    double appearMs = 0.0;
    double disappearMs = -1.0;
    std::vector<kiroVirtualRealsenseKeyframe> keyframes;
};

/// Checks what kiroVirtualRealsenseAddFace promises to refuse.
bool IsValidFace(const kiroVirtualRealsenseFace& face);
bool IsVisibleAt(const FaceScript& face, double timeMs);
/// The eyes at a scene time, whether or not the face is visible then.
kiroVirtualRealsenseEyes EyesAt(const FaceScript& face, double timeMs);

struct Scene {
    std::vector<FaceScript> faces;
    std::uint8_t backgroundInfrared = 40;
    std::uint16_t backgroundDepthMm = 3000;
};

/// Draws the scene at `timeMs` into an 8-bit image of intrinsics.width x intrinsics.height seen
/// by a camera placed `viewerOffsetMm` along x from the depth camera's origin.
void RenderInfrared(const Scene& scene, double timeMs, const rs2_intrinsics& intrinsics, float viewerOffsetMm,
                    std::uint8_t* pixels);
/// Draws the scene's depth in mm, aligned with the depth camera.
void RenderDepth(const Scene& scene, double timeMs, const rs2_intrinsics& intrinsics, std::uint16_t* depthMm);

}  // namespace kiro::virtualRealsense

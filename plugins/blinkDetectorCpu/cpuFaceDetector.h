#pragma once

#include "eyeCentre.h"
#include "faceGeometry.h"
#include "haarCascade.h"
#include "pluginFaceDetector.h"

#include <vector>

namespace kiro::head::cpu {

/// The cascades' names in the assets folder beside the plug-in.
inline constexpr const char* kFaceCascadeAsset = "blinkDetectorCpu/haarcascade_frontalface_default.xml";
inline constexpr const char* kEyeCascadeAsset = "blinkDetectorCpu/haarcascade_eye.xml";

/// The CPU face detector: a Haar cascade finds faces, a second one the eyes in them, and the
/// means-of-gradients method places the eye centres inside the eye boxes (inside the regions
/// where eyes usually lie in a face box when the eye cascade finds none).
///
/// Per frame, faces found in the previous frame are searched again only near where they were and
/// at similar sizes; the whole image is searched when one of them is lost, when there were none,
/// and every few frames while fewer faces are tracked than may be reported.
///
/// Output conventions are DetectionBuilder's. Head angles: pitch 0; yaw a rough estimate from how
/// far the eyes' midpoint lies off the centre of the face box (the eyes sit about 80 mm in front
/// of the head's turning axis), negative when the face turns toward smaller camera x.
/// `extra` is zero. `ImageDesc::rotation` is not interpreted: faces are searched upright (the
/// tests turn them by up to 8 degrees).
///
/// Every reported eye lies inside the image with finite coordinates and a finite positive depth.
/// Calls must not overlap; the caller serialises them as it does for the engine's face tracker.
class CpuFaceDetector final : public PluginFaceDetector {
public:
    static constexpr int kMaxFacesLimit = 4;

    /// `maxFaces` outside 1 .. kMaxFacesLimit is clamped into it.
    CpuFaceDetector(HaarCascade faceCascade, HaarCascade eyeCascade, int maxFaces);
    ~CpuFaceDetector() override = default;
    CpuFaceDetector(const CpuFaceDetector&) = delete;
    CpuFaceDetector& operator=(const CpuFaceDetector&) = delete;

    void OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) override;
    Output& Detect(const CameraFrame& frame) override;

private:
    void FindFaces(const GreyView& image);
    bool SearchNear(const GreyView& image, const Box& track);
    void SearchWhole(const GreyView& image);
    bool Describe(const CameraFrame& frame, const GreyView& image, const Box& face, Detection* detection);
    bool LocateEye(const GreyView& image, const Box& face, int side, glm::dvec2* eye);

    CascadeDetector cascade_;
    CascadeDetector eyeCascade_;
    EyeCentreLocator eyes_;
    DetectionBuilder builder_;
    std::vector<Box> tracks_;  // faces of the previous frame
    std::vector<Box> found_;  // faces of this frame
    std::vector<Box> kept_;
    int framesSinceSearch_ = 0;
    Output output_;
};

}  // namespace kiro::head::cpu

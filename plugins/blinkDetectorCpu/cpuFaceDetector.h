#pragma once

#include "eyeCentre.h"
#include "haarCascade.h"
#include "voveDizevuro/engine/faceDetector.h"

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
/// Output conventions:
/// - Eyes are named as the person's: with `isMirrored` true (as the RealSense camera reports)
///   the image shows the person as a camera facing them sees them, so their right eye is the one
///   at the smaller column; with `isMirrored` false the image is the mirror of that.
/// - Depth in metres: the median of the valid depth samples around the eye when the frame has
///   depth, otherwise the depth at which eyes 63 mm apart appear as far apart as the found ones,
///   from the focal lengths of the last intrinsics (scaled to the image size when they state
///   theirs), or a focal length of the image width when no usable intrinsics were given.
/// - Head angles (pitch, yaw, roll) in radians: pitch 0; roll the slope of the line between the
///   eyes; yaw a rough estimate from how far the eyes' midpoint lies off the centre of the face
///   box (the eyes sit about 80 mm in front of the head's turning axis), negative when the face
///   turns toward smaller camera x (image columns as the camera sees them).
/// - `extra` is zero. `ImageDesc::rotation` is not interpreted: faces are searched upright (the
///   tests turn them by up to 8 degrees).
///
/// Every reported eye lies inside the image with finite coordinates and a finite positive depth.
/// Calls must not overlap; the caller serialises them as it does for the engine's face tracker.
class CpuFaceDetector final : public FaceDetector {
public:
    static constexpr int kMaxFacesLimit = 4;

    /// `maxFaces` outside 1 .. kMaxFacesLimit is clamped into it.
    CpuFaceDetector(HaarCascade faceCascade, HaarCascade eyeCascade, int maxFaces);
    ~CpuFaceDetector() = default;
    CpuFaceDetector(const CpuFaceDetector&) = delete;
    CpuFaceDetector& operator=(const CpuFaceDetector&) = delete;

    int GetMaxNumOfFacesLimit() const override;
    int GetMaxNumOfFaces() const override;
    void SetMaxNumOfFaces(int n) override;
    kiro_face_detector_backend_e GetBackend() const override;
    void OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) override;
    Output& Detect(const CameraFrame& frame) override;

private:
    void FindFaces(const GreyView& image);
    bool SearchNear(const GreyView& image, const Box& track);
    void SearchWhole(const GreyView& image);
    bool Describe(const CameraFrame& frame, const GreyView& image, const Box& face, Detection* detection);
    bool LocateEye(const GreyView& image, const Box& face, int side, glm::dvec2* eye);
    glm::dvec2 FocalLengths(const GreyView& image) const;
    /// The median of the valid depth samples (m) on a grid around the eye; 0 when there are none.
    float MedianDepthAround(const CameraFrame& frame, const GreyView& image, const glm::dvec2& eye);

    CascadeDetector cascade_;
    CascadeDetector eyeCascade_;
    EyeCentreLocator eyes_;
    CameraIntrinsics intrinsics_{};
    bool hasIntrinsics_ = false;
    int maxFaces_;
    std::vector<Box> tracks_;  // faces of the previous frame
    std::vector<Box> found_;  // faces of this frame
    std::vector<Box> kept_;
    int framesSinceSearch_ = 0;
    std::vector<float> depthSamples_;
    Output output_;
};

}  // namespace kiro::head::cpu

#include "voveDizevuro/camera/cameraFrame.h"

namespace kiro::head {

CameraFrame::~CameraFrame() = default;

TrivialCameraFrame::TrivialCameraFrame(const ImageDesc& image, const Timestamp& time)
    : imageDesc_(image), timestamp_(time) {}

Timestamp TrivialCameraFrame::timestamp() const { return timestamp_; }

Slice<ImageDesc const> TrivialCameraFrame::imageDescs() const { return {&imageDesc_, 1}; }

bool TrivialCameraFrame::GetDepth(const glm::dvec2&, float*) const { return false; }

bool TrivialCameraFrame::DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3*) const { return false; }

bool TrivialCameraFrame::ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const { return false; }

}  // namespace kiro::head

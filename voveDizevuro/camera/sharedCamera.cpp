#include "voveDizevuro/camera/sharedCamera.h"

namespace kiro::head {

SharedCamera::SharedCamera(Camera::Listener* listener, SharedCameraSink* sink) : listener_(listener), sink_(sink) {
    sink_->onImage = [this](const ImageDesc& image, Timestamp time) {
        const TrivialCameraFrame frame(image, time);
        listener_->OnCameraFrameAvailable(this, frame);
    };
    sink_->onIntrinsics = [this](const CameraIntrinsics& intrinsics) {
        listener_->OnCameraIntrinsicsChange(this, intrinsics);
    };
}

SharedCamera::~SharedCamera() {
    sink_->onImage = nullptr;
    sink_->onIntrinsics = nullptr;
}

void SharedCamera::StartCapture() {}

void SharedCamera::StopCapture() {}

int SharedCamera::GetFps() const { return 0; }

bool SharedCamera::SetFps(int) { return false; }

Slice<int const> SharedCamera::GetSupportedFps() const { return {}; }

}  // namespace kiro::head

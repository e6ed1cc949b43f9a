#pragma once

#include "common/export.h"
#include "voveDizevuro/camera/camera.h"

#include <functional>

namespace kiro {

/// Where a host pushes the images of a camera it owns. The host owns the sink; a shared camera
/// fills both callables while it exists and empties them when it is destroyed, so the host
/// tests them before calling. Each call reaches the engine on the calling thread and returns
/// once the engine has processed the image; `ImageDesc::data` must stay valid until then.
struct SharedCameraSink {
    std::function<void(const ImageDesc&, Timestamp)> onImage;
    std::function<void(const CameraIntrinsics&)> onIntrinsics;
};

}  // namespace kiro

namespace kiro::head {

/// A camera fed by the host through a SharedCameraSink. Has no capture state: every push
/// reaches the listener at once. Its frames carry no depth, so geometric queries fail.
class KIRO_API SharedCamera final : public Camera {
public:
    /// Both must be non-null; the sink must outlive the camera.
    SharedCamera(Camera::Listener* listener, SharedCameraSink* sink);
    ~SharedCamera() override;
    SharedCamera(const SharedCamera&) = delete;
    SharedCamera& operator=(const SharedCamera&) = delete;

    void StartCapture() override;
    void StopCapture() override;
    int GetFps() const override;
    bool SetFps(int fps) override;
    Slice<int const> GetSupportedFps() const override;

private:
    Camera::Listener* listener_;
    SharedCameraSink* sink_;
};

}  // namespace kiro::head

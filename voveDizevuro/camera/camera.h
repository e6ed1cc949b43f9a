#pragma once

#include "common/export.h"
#include "common/slice.h"
#include "voveDizevuro/camera/cameraFrame.h"

namespace kiro::head {

/// A source of camera frames. Owned by one engine through a unique pointer. The order of the
/// virtual operations is part of the binary interface.
class KIRO_API Camera {
public:
    /// Observer of a camera; not owned by it. Called on a thread of the camera's choosing; the
    /// frame and intrinsics are valid only during the call.
    struct Listener {
        virtual void OnCameraFrameAvailable(Camera* camera, CameraFrame const& frame) = 0;
        virtual void OnCameraIntrinsicsChange(Camera* camera, CameraIntrinsics const& intrinsics) = 0;

    protected:
        ~Listener() = default;
    };

    virtual ~Camera();

    virtual void StartCapture() = 0;
    /// Returns once no further frame will be delivered.
    virtual void StopCapture() = 0;
    /// Frames per second; 0 when unknown.
    virtual int GetFps() const = 0;
    /// True when the camera switched to the requested rate.
    virtual bool SetFps(int fps) = 0;
    /// The rates SetFps accepts.
    virtual Slice<int const> GetSupportedFps() const = 0;
};

}  // namespace kiro::head

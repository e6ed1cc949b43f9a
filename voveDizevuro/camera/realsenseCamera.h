#pragma once

#include "common/export.h"
#include "voveDizevuro/camera/camera.h"
#include "voveDizevuro/camera/realsenseApi.h"
#include "voveDizevuro/camera/realsenseLibrary.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kiro::head {

/// Settings that may change while the camera exists.
struct RealsenseCameraDynamicConfiguration {
    bool emitter = false;       // the depth sensor's projector
    bool autoExposure = true;   // the sensor chooses exposure and gain
    float exposure = 9000.0f;   // used when autoExposure is false
    float gain = 50.0f;         // used when autoExposure is false
};

struct RealsenseCameraConfiguration {
    int32_t width = 0;   // infrared image width in pixels; 0 selects 848
    int32_t height = 0;  // 0 selects 480
    int32_t fps = 0;     // 0 selects 90
    float binningFactor = 0.0f;  // carried only
    RealsenseCameraDynamicConfiguration dynamicConfiguration;
};

/// Opens the RealSense device through librealsense2 (loaded at run time) and starts it
/// streaming. Reports the infrared stream's intrinsics to `listener` once, on the calling
/// thread, before it returns. The listener must outlive the camera. Throws when librealsense2
/// is not available or the device cannot be opened.
KIRO_API std::unique_ptr<Camera> CreateRealsenseCamera(Camera::Listener* listener,
                                                       const RealsenseCameraConfiguration& configuration);

/// Applies new settings to a camera made by CreateRealsenseCamera, stopping capture around the
/// change when it runs. Any other camera is left alone. Throws when the device refuses.
KIRO_API void UpdateRealsenseCameraDynamicConfiguration(Camera* camera,
                                                        const RealsenseCameraDynamicConfiguration& configuration);

/// What is known about the RealSense cameras of this machine.
struct RealsenseCameraSearch {
    /// librealsense2 loaded and listed its devices. When false, `libraryError` says why and
    /// `connected` is the operating system's answer (IsRealsenseCameraConnected).
    bool libraryAvailable = false;
    std::string libraryError;
    /// A D400-series camera is connected.
    bool connected = false;
    /// Its name as librealsense2 reports it; empty without librealsense2.
    std::string cameraName;
};

/// Asks librealsense2 (loaded for the question) for a D400-series camera, falling back to the
/// operating system's USB devices without it (and logging why at info level). Quick: no device
/// is opened. Never throws.
KIRO_API RealsenseCameraSearch FindRealsenseCamera();

/// A RealSense camera is attached (asks the operating system, not librealsense2).
KIRO_API bool IsRealsenseCameraConnected();
KIRO_API bool IsCameraConnected();

/// Deleter of a librealsense2 handle through the loaded table.
template <typename T, auto Delete>
struct RealsenseDeleter {
    const RealsenseApi* api;
    void operator()(T* handle) const { (api->*Delete)(handle); }
};
template <typename T, auto Delete>
using RealsenseHandle = std::unique_ptr<T, RealsenseDeleter<T, Delete>>;

/// The camera behind CreateRealsenseCamera. Delivers every frame set on its capture thread,
/// between StartCapture and StopCapture. The callers serialise StartCapture, StopCapture,
/// dynamic reconfiguration and destruction.
class RealsenseCamera final : public Camera {
public:
    RealsenseCamera(Camera::Listener* listener, const RealsenseCameraConfiguration& configuration);
    ~RealsenseCamera() override;
    RealsenseCamera(const RealsenseCamera&) = delete;
    RealsenseCamera& operator=(const RealsenseCamera&) = delete;

    void StartCapture() override;
    /// Returns once the capture thread has ended, after the current wait for frames.
    void StopCapture() override;
    int GetFps() const override;
    bool SetFps(int fps) override;
    Slice<int const> GetSupportedFps() const override;

    void UpdateDynamicConfiguration(const RealsenseCameraDynamicConfiguration& configuration);

    const RealsenseApi& api() const { return *api_; }
    /// Intrinsics of the infrared stream as the device reported them at start.
    const rs2_intrinsics& streamIntrinsics() const { return streamIntrinsics_; }

private:
    void Start(int width, int height, const RealsenseCameraDynamicConfiguration& dynamicConfiguration);
    void ApplyDynamicConfiguration(rs2_pipeline_profile* profile,
                                   const RealsenseCameraDynamicConfiguration& configuration);
    void CaptureLoop();
    void CaptureOneFrameSet();

    std::shared_ptr<const RealsenseApi> api_;  // first: the library outlives every handle
    Camera::Listener* listener_;
    std::thread captureThread_;
    std::atomic<bool> stopRequested_{false};
    std::mutex stopMutex_;                   // with stopSignal_, wakes a capture thread waiting to retry
    std::condition_variable stopSignal_;
    RealsenseHandle<rs2_pipeline, &RealsenseApi::rs2_delete_pipeline> pipeline_;
    rs2_intrinsics streamIntrinsics_{};
    int32_t fps_;
};

}  // namespace kiro::head

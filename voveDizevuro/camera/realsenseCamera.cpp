#include "voveDizevuro/camera/realsenseCamera.h"

#include "common/systemQueries.h"
#include "voveDizevuro/camera/captureRetryInternal.h"
#include "voveDizevuro/camera/realsenseCameraFrame.h"
#include "voveDizevuro/camera/realsenseError.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <spdlog/spdlog.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace kiro::head {

namespace {

constexpr unsigned int kFrameWaitTimeoutMs = 15000;

using Context = RealsenseHandle<rs2_context, &RealsenseApi::rs2_delete_context>;
using Config = RealsenseHandle<rs2_config, &RealsenseApi::rs2_delete_config>;
using PipelineProfile = RealsenseHandle<rs2_pipeline_profile, &RealsenseApi::rs2_delete_pipeline_profile>;
using StreamProfileList = RealsenseHandle<rs2_stream_profile_list, &RealsenseApi::rs2_delete_stream_profiles_list>;
using DeviceList = RealsenseHandle<rs2_device_list, &RealsenseApi::rs2_delete_device_list>;
using Device = RealsenseHandle<rs2_device, &RealsenseApi::rs2_delete_device>;
using SensorList = RealsenseHandle<rs2_sensor_list, &RealsenseApi::rs2_delete_sensor_list>;
using Sensor = RealsenseHandle<rs2_sensor, &RealsenseApi::rs2_delete_sensor>;
using Frame = RealsenseHandle<rs2_frame, &RealsenseApi::rs2_release_frame>;

struct StreamData {
    rs2_stream stream;
    rs2_format format;
};

StreamData ReadStreamData(const RealsenseApi& api, const rs2_stream_profile* profile) {
    StreamData data{};
    int index = 0;
    int uniqueId = 0;
    int framerate = 0;
    CallRealsense(api, api.rs2_get_stream_profile_data, profile, &data.stream, &data.format, &index, &uniqueId,
                  &framerate);
    return data;
}

/// A device as librealsense2 lists it.
struct ListedDevice {
    std::string name;
    std::string productLine;  // "D400" for the D400 series; empty when the device does not say
};

std::string DeviceInfo(const RealsenseApi& api, const rs2_device* device, rs2_camera_info info) {
    if (CallRealsense(api, api.rs2_supports_device_info, device, info) <= 0) {
        return "";
    }
    const char* text = CallRealsense(api, api.rs2_get_device_info, device, info);
    return text != nullptr ? text : "";
}

/// The devices connected now. Quick: librealsense2 enumerates without opening them.
std::vector<ListedDevice> ListDevices(const RealsenseApi& api, const rs2_context* context) {
    DeviceList list(CallRealsense(api, api.rs2_query_devices, context), {&api});
    const int count = CallRealsense(api, api.rs2_get_device_count, list.get());
    std::vector<ListedDevice> devices;
    for (int i = 0; i < count; ++i) {
        Device device(CallRealsense(api, api.rs2_create_device, list.get(), i), {&api});
        devices.push_back({DeviceInfo(api, device.get(), RS2_CAMERA_INFO_NAME),
                           DeviceInfo(api, device.get(), RS2_CAMERA_INFO_PRODUCT_LINE)});
    }
    return devices;
}

/// The device's first depth sensor.
Sensor FirstDepthSensor(const RealsenseApi& api, const rs2_device* device) {
    SensorList sensors(CallRealsense(api, api.rs2_query_sensors, device), {&api});
    const int count = CallRealsense(api, api.rs2_get_sensors_count, sensors.get());
    for (int i = 0; i < count; ++i) {
        Sensor sensor(CallRealsense(api, api.rs2_create_sensor, sensors.get(), i), {&api});
        if (CallRealsense(api, api.rs2_is_sensor_extendable_to, sensor.get(), RS2_EXTENSION_DEPTH_SENSOR) != 0) {
            return sensor;
        }
    }
    throw RealsenseError("Could not find requested sensor type!", "", "", RS2_EXCEPTION_TYPE_UNKNOWN);
}

void SetOption(const RealsenseApi& api, const rs2_sensor* sensor, rs2_option option, float value) {
    CallRealsense(api, api.rs2_set_option, reinterpret_cast<const rs2_options*>(sensor), option, value);
}

}  // namespace

RealsenseCamera::RealsenseCamera(Camera::Listener* listener, const RealsenseCameraConfiguration& configuration)
    : api_(LoadRealsenseApi()),
      listener_(listener),
      pipeline_(nullptr, {api_.get()}),
      fps_(configuration.fps != 0 ? configuration.fps : 90) {
    const RealsenseApi& api = *api_;
    std::vector<std::string> deviceNames;
    {
        // The pipeline keeps what it needs of the context.
        Context context(CallRealsense(api, api.rs2_create_context, KIRO_RS2_API_VERSION), {&api});
        // Starting a pipeline without a device takes librealsense2 several seconds of retries.
        for (const ListedDevice& device : ListDevices(api, context.get())) {
            deviceNames.push_back(device.name);
        }
        if (deviceNames.empty()) {
            throw RealsenseError("No RealSense camera found: librealsense2 lists no device");
        }
        pipeline_.reset(CallRealsense(api, api.rs2_create_pipeline, context.get()));
    }
    const int width = configuration.width != 0 ? configuration.width : 848;
    const int height = configuration.height != 0 ? configuration.height : 480;
    spdlog::debug("[RealsenseCamera] Initializing: w={}, h={}, fps={}", width, height, fps_);
    // A device that does not answer keeps the start waiting for up to 15 s.
    spdlog::info("[RealsenseCamera] Starting the camera ({}): w={}, h={}, fps={}", fmt::join(deviceNames, ", "),
                 width, height, fps_);
    try {
        Start(width, height, configuration.dynamicConfiguration);
    } catch (const RealsenseError& e) {
        LogRealsenseError("Failed to start realsense pipe", e);
        throw;
    }

    CameraIntrinsics intrinsics{};
    intrinsics.width = streamIntrinsics_.width;
    intrinsics.height = streamIntrinsics_.height;
    intrinsics.ppx = streamIntrinsics_.ppx;
    intrinsics.ppy = streamIntrinsics_.ppy;
    intrinsics.fx = streamIntrinsics_.fx;
    intrinsics.fy = streamIntrinsics_.fy;
    for (int i = 0; i < 5; ++i) {
        intrinsics.distortionCoeffs[i] = streamIntrinsics_.coeffs[i];
    }
    intrinsics.isMirrored = true;
    listener_->OnCameraIntrinsicsChange(this, intrinsics);
}

void RealsenseCamera::Start(int width, int height, const RealsenseCameraDynamicConfiguration& dynamicConfiguration) {
    const RealsenseApi& api = *api_;
    Config config(CallRealsense(api, api.rs2_create_config), {&api});
    CallRealsense(api, api.rs2_config_enable_stream, config.get(), RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0);
    CallRealsense(api, api.rs2_config_enable_stream, config.get(), RS2_STREAM_INFRARED, -1, width, height,
                  RS2_FORMAT_Y8, fps_);
    PipelineProfile started(CallRealsense(api, api.rs2_pipeline_start_with_config, pipeline_.get(), config.get()),
                            {&api});
    ApplyDynamicConfiguration(started.get(), dynamicConfiguration);

    PipelineProfile active(CallRealsense(api, api.rs2_pipeline_get_active_profile, pipeline_.get()), {&api});
    StreamProfileList streams(CallRealsense(api, api.rs2_pipeline_profile_get_streams, active.get()), {&api});
    const int count = CallRealsense(api, api.rs2_get_stream_profiles_count, streams.get());
    for (int i = 0; i < count; ++i) {
        const rs2_stream_profile* profile = CallRealsense(api, api.rs2_get_stream_profile, streams.get(), i);
        if (ReadStreamData(api, profile).stream != RS2_STREAM_INFRARED) {
            continue;
        }
        if (CallRealsense(api, api.rs2_stream_profile_is, profile, RS2_EXTENSION_VIDEO_PROFILE) == 0) {
            throw RealsenseError("Stream profile is not a video stream profile", "rs2_stream_profile_is", "",
                                 RS2_EXCEPTION_TYPE_INVALID_VALUE);
        }
        CallRealsense(api, api.rs2_get_video_stream_intrinsics, profile, &streamIntrinsics_);
        return;
    }
    throw std::runtime_error("Profile does not contain the requested stream");
}

void RealsenseCamera::ApplyDynamicConfiguration(rs2_pipeline_profile* profile,
                                                const RealsenseCameraDynamicConfiguration& configuration) {
    spdlog::debug("[RealsenseCamera] Dynamic config: emitter={}, autoExposure={}, exposure={}, gain={}",
                  configuration.emitter, configuration.autoExposure, configuration.exposure, configuration.gain);
    const RealsenseApi& api = *api_;
    Device device(CallRealsense(api, api.rs2_pipeline_profile_get_device, profile), {&api});
    const Sensor sensor = FirstDepthSensor(api, device.get());
    const auto* options = reinterpret_cast<const rs2_options*>(sensor.get());
    if (CallRealsense(api, api.rs2_supports_option, options, RS2_OPTION_EMITTER_ENABLED) > 0) {
        SetOption(api, sensor.get(), RS2_OPTION_EMITTER_ENABLED, configuration.emitter ? 1.0f : 0.0f);
    }
    SetOption(api, sensor.get(), RS2_OPTION_ENABLE_AUTO_EXPOSURE, configuration.autoExposure ? 1.0f : 0.0f);
    if (!configuration.autoExposure) {
        SetOption(api, sensor.get(), RS2_OPTION_EXPOSURE, configuration.exposure);
        SetOption(api, sensor.get(), RS2_OPTION_GAIN, configuration.gain);
    }
    // Frames stamped in the global time domain carry host-clock timestamps.
    SetOption(api, sensor.get(), RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f);
}

void RealsenseCamera::UpdateDynamicConfiguration(const RealsenseCameraDynamicConfiguration& configuration) {
    const bool wasCapturing = captureThread_.joinable();
    if (wasCapturing) {
        StopCapture();
    }
    try {
        const RealsenseApi& api = *api_;
        PipelineProfile active(CallRealsense(api, api.rs2_pipeline_get_active_profile, pipeline_.get()), {&api});
        ApplyDynamicConfiguration(active.get(), configuration);
        if (wasCapturing) {
            StartCapture();
        }
    } catch (const RealsenseError& e) {
        LogRealsenseError("Failed to update dynamic configuration", e);
        throw;
    }
}

RealsenseCamera::~RealsenseCamera() { StopCapture(); }

void RealsenseCamera::StartCapture() {
    spdlog::trace("[RealsenseCamera] StartCapture");
    if (captureThread_.joinable()) {
        return;
    }
    stopRequested_.store(false);
    captureThread_ = std::thread([this] { CaptureLoop(); });
}

void RealsenseCamera::StopCapture() {
    spdlog::trace("[RealsenseCamera] StopCapture");
    if (!captureThread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(stopMutex_);
        stopRequested_.store(true);
    }
    stopSignal_.notify_all();
    captureThread_.join();
}

int RealsenseCamera::GetFps() const { return fps_; }

bool RealsenseCamera::SetFps(int) { return false; }

Slice<int const> RealsenseCamera::GetSupportedFps() const { return {}; }

void RealsenseCamera::CaptureLoop() {
    // An error that comes back at once (a device that keeps failing) must neither spin a core nor
    // flood the log.
    CaptureRetry retry([](const std::string& line) { spdlog::error("[RealsenseCamera.background] {}", line); });
    while (!stopRequested_.load()) {
        try {
            CaptureOneFrameSet();
            retry.Reset();
        } catch (const RealsenseUnrecoverableError& e) {
            retry.Reset();
            spdlog::critical("[RealsenseCamera.background] {}", e.what());
            return;
        } catch (const std::exception& e) {
            const std::chrono::milliseconds delay = retry.OnError(e.what(), CaptureRetry::Clock::now());
            std::unique_lock lock(stopMutex_);
            stopSignal_.wait_for(lock, delay, [this] { return stopRequested_.load(); });
        }
    }
    retry.Reset();
}

void RealsenseCamera::CaptureOneFrameSet() {
    const RealsenseApi& api = *api_;
    Frame set(CallRealsense(api, api.rs2_pipeline_wait_for_frames, pipeline_.get(), kFrameWaitTimeoutMs), {&api});
    Frame infrared(nullptr, {&api});
    Frame depth(nullptr, {&api});
    // A result that is not a frame set counts as an empty one.
    if (CallRealsense(api, api.rs2_is_frame_extendable_to, set.get(), RS2_EXTENSION_COMPOSITE_FRAME) != 0) {
        // The first infrared frame (of any format) and the first Z16 depth frame decide; each is
        // kept only if it is of the expected kind.
        bool infraredSeen = false;
        bool depthSeen = false;
        const int count = CallRealsense(api, api.rs2_embedded_frames_count, set.get());
        for (int i = 0; i < count; ++i) {
            Frame frame(CallRealsense(api, api.rs2_extract_frame, set.get(), i), {&api});
            const StreamData data =
                ReadStreamData(api, CallRealsense(api, api.rs2_get_frame_stream_profile, frame.get()));
            if (!infraredSeen && data.stream == RS2_STREAM_INFRARED) {
                infraredSeen = true;
                if (CallRealsense(api, api.rs2_is_frame_extendable_to, frame.get(), RS2_EXTENSION_VIDEO_FRAME) != 0) {
                    infrared = std::move(frame);
                }
            } else if (!depthSeen && data.stream == RS2_STREAM_DEPTH && data.format == RS2_FORMAT_Z16) {
                depthSeen = true;
                if (CallRealsense(api, api.rs2_is_frame_extendable_to, frame.get(), RS2_EXTENSION_DEPTH_FRAME) != 0) {
                    depth = std::move(frame);
                }
            }
        }
    }
    const RealsenseCameraFrame frame(this, infrared.get(), depth.get());
    infrared.reset();
    depth.reset();
    set.reset();
    listener_->OnCameraFrameAvailable(this, frame);
}

std::unique_ptr<Camera> CreateRealsenseCamera(Camera::Listener* listener,
                                              const RealsenseCameraConfiguration& configuration) {
    return std::make_unique<RealsenseCamera>(listener, configuration);
}

void UpdateRealsenseCameraDynamicConfiguration(Camera* camera,
                                               const RealsenseCameraDynamicConfiguration& configuration) {
    if (auto* realsense = dynamic_cast<RealsenseCamera*>(camera)) {
        realsense->UpdateDynamicConfiguration(configuration);
    }
}

RealsenseCameraSearch FindRealsenseCamera() {
    RealsenseCameraSearch search;
    try {
        const std::shared_ptr<const RealsenseApi> loaded = LoadRealsenseApi();
        const RealsenseApi& api = *loaded;
        const Context context(CallRealsense(api, api.rs2_create_context, KIRO_RS2_API_VERSION), {&api});
        for (const ListedDevice& device : ListDevices(api, context.get())) {
            if (device.productLine == "D400") {
                search.connected = true;
                search.cameraName = device.name;
                break;
            }
        }
        search.libraryAvailable = true;
        return search;
    } catch (const std::exception& e) {
        search.libraryError = e.what();
    }
    spdlog::info("[RealsenseCamera] Asking the USB devices instead of librealsense2: {}", search.libraryError);
    search.connected = isRealSenseConnected();
    return search;
}

bool IsRealsenseCameraConnected() { return isRealSenseConnected(); }

bool IsCameraConnected() { return IsRealsenseCameraConnected(); }

}  // namespace kiro::head

#include "tools/virtualRealsense/virtualDevice.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>

namespace kiro::virtualRealsense {

namespace {

constexpr std::array<const char*, static_cast<std::size_t>(HandleKind::Count)> kHandleKindNames = {
    "rs2_context", "rs2_pipeline", "rs2_config", "rs2_pipeline_profile", "rs2_device",
    "rs2_sensor_list", "rs2_sensor", "rs2_stream_profile_list", "rs2_frame", "rs2_error",
    "rs2_device_list"};

std::array<std::atomic<int>, static_cast<std::size_t>(HandleKind::Count)> gLiveHandles{};

// The mode of the device's intrinsics; the others are scaled from it like the sensor's binning.
constexpr int kBaseWidth = 848;
constexpr int kBaseHeight = 480;

}  // namespace

const char* HandleKindName(HandleKind kind) { return kHandleKindNames.at(static_cast<std::size_t>(kind)); }

std::optional<HandleKind> HandleKindFromName(const std::string& name) {
    for (std::size_t i = 0; i < kHandleKindNames.size(); ++i) {
        if (name == kHandleKindNames[i]) {
            return static_cast<HandleKind>(i);
        }
    }
    return std::nullopt;
}

LiveHandle::LiveHandle(HandleKind kind) : kind_(kind) { ++gLiveHandles.at(static_cast<std::size_t>(kind)); }

LiveHandle::~LiveHandle() { --gLiveHandles.at(static_cast<std::size_t>(kind_)); }

int LiveHandle::Count(HandleKind kind) { return gLiveHandles.at(static_cast<std::size_t>(kind)).load(); }

const std::vector<Mode>& ModesByPreference() {
    static const std::vector<Mode> modes = [] {
        const Mode resolutions[] = {{848, 480, 0}, {1280, 720, 0}, {640, 480, 0},
                                    {640, 360, 0}, {480, 270, 0},  {424, 240, 0}};
        std::vector<Mode> all;
        for (const Mode& resolution : resolutions) {
            for (const int fps : {30, 60, 90, 15, 6}) {
                // The widest mode is limited by the USB bandwidth.
                if (resolution.width == 1280 && fps > 30) {
                    continue;
                }
                all.push_back({resolution.width, resolution.height, fps});
            }
        }
        return all;
    }();
    return modes;
}

bool HasResolution(int width, int height) {
    for (const Mode& mode : ModesByPreference()) {
        if (mode.width == width && mode.height == height) {
            return true;
        }
    }
    return false;
}

std::map<rs2_option, OptionState> DeviceState::DefaultOptions() {
    return {
        {RS2_OPTION_EXPOSURE, {1.0f, 165000.0f, 1.0f, 8500.0f}},
        {RS2_OPTION_GAIN, {16.0f, 248.0f, 1.0f, 16.0f}},
        {RS2_OPTION_ENABLE_AUTO_EXPOSURE, {0.0f, 1.0f, 1.0f, 1.0f}},
        {RS2_OPTION_EMITTER_ENABLED, {0.0f, 2.0f, 1.0f, 1.0f}},
        {RS2_OPTION_GLOBAL_TIME_ENABLED, {0.0f, 1.0f, 1.0f, 1.0f}},
    };
}

bool DeviceState::SupportsOption(rs2_option option) const {
    if (option == RS2_OPTION_EMITTER_ENABLED && faults.noEmitterOption) {
        return false;
    }
    return options.count(option) > 0;
}

std::optional<rs2_intrinsics> DeviceState::IntrinsicsFor(int width, int height) const {
    if (!HasResolution(width, height)) {
        return std::nullopt;
    }
    const float scale = static_cast<float>(height) / kBaseHeight;
    // Modes narrower than 16:9 are cut from the middle of the scaled image.
    const float crop = (static_cast<float>(kBaseWidth) * scale - static_cast<float>(width)) / 2;
    rs2_intrinsics intrinsics{};
    intrinsics.width = width;
    intrinsics.height = height;
    intrinsics.fx = fx * scale;
    intrinsics.fy = fy * scale;
    intrinsics.ppx = ppx * scale - crop;
    intrinsics.ppy = ppy * scale;
    intrinsics.model = distortionModel;
    for (int i = 0; i < 5; ++i) {
        intrinsics.coeffs[i] = distortionCoeffs[i];
    }
    return intrinsics;
}

double DeviceState::SceneTimeOf(long long frameNumber, int fps) {
    if (fps != clockFps) {
        if (clockFps != 0) {
            clockBaseMs += static_cast<double>(nextFrameNumber - clockBaseFrame) * 1000.0 / clockFps;
        }
        clockBaseFrame = nextFrameNumber;
        clockFps = fps;
    }
    return clockBaseMs + static_cast<double>(frameNumber - clockBaseFrame) * 1000.0 / clockFps;
}

FrameStamp DeviceState::StampFor(long long frameNumber, double sceneTimeMs) const {
    FrameStamp stamp;
    stamp.frameNumber = frameNumber;
    stamp.frameTimestampUs = hardwareClockBaseUs + std::llround(sceneTimeMs * 1000.0);
    stamp.sensorTimestampUs = stamp.frameTimestampUs + sensorOffsetUs;
    const bool globalTime = options.at(RS2_OPTION_GLOBAL_TIME_ENABLED).value != 0.0f && !faults.ignoreGlobalTime;
    if (faults.noMetadata) {
        // Without metadata librealsense2 falls back to the host's arrival time.
        stamp.hasMetadata = false;
        stamp.domain = RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME;
        stamp.timestampMs = globalTimeBaseMs + sceneTimeMs;
    } else if (globalTime) {
        stamp.domain = RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME;
        stamp.timestampMs = globalTimeBaseMs + sceneTimeMs;
    } else {
        stamp.domain = RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK;
        stamp.timestampMs = static_cast<double>(stamp.frameTimestampUs) / 1000.0;
    }
    return stamp;
}

bool DeviceState::InfraredMissing(long long frameNumber) const {
    const bool periodic = faults.missingInfraredPeriod > 0 &&
                          frameNumber % faults.missingInfraredPeriod == faults.missingInfraredPeriod - 1;
    return periodic || faults.missingInfraredFrames.count(frameNumber) > 0;
}

Faults FaultsFromEnvironment() {
    Faults faults;
    const char* names = std::getenv("KIRO_VIRTUAL_REALSENSE_FAULTS");
    std::istringstream list(names != nullptr ? names : "");
    std::string name;
    while (std::getline(list, name, ',')) {
        faults.noDevice = faults.noDevice || name == "no-device";
        faults.deviceBusy = faults.deviceBusy || name == "device-busy";
    }
    return faults;
}

std::mutex& DeviceMutex() {
    static std::mutex mutex;
    return mutex;
}

DeviceState& Device() {
    static DeviceState device;
    return device;
}

}  // namespace kiro::virtualRealsense

#pragma once

#include "tools/virtualRealsense/virtualRealsense.h"
#include "tools/virtualRealsense/virtualScene.h"
#include "tools/virtualRealsense/virtualSensor.h"

#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kiro::virtualRealsense {

/// Kinds of handle the rs2 functions hand out, for the leak counts.
enum class HandleKind {
    Context,
    Pipeline,
    Config,
    PipelineProfile,
    Device,
    SensorList,
    Sensor,
    StreamProfileList,
    Frame,
    Error,
    DeviceList,
    Count
};

/// The librealsense2 type name of a kind ("rs2_frame"), and back.
const char* HandleKindName(HandleKind kind);
std::optional<HandleKind> HandleKindFromName(const std::string& name);

/// A member of every handle: counts the handles of its kind alive, lock-free because handles
/// die in calls that may hold the device lock or not.
class LiveHandle {
public:
    explicit LiveHandle(HandleKind kind);
    ~LiveHandle();
    LiveHandle(const LiveHandle&) = delete;
    LiveHandle& operator=(const LiveHandle&) = delete;

    static int Count(HandleKind kind);

private:
    HandleKind kind_;
};

/// One streaming mode, shared by depth and infrared.
struct Mode {
    int width = 0;
    int height = 0;
    int fps = 0;
};

/// The device's modes in the order wildcards resolve to them.
const std::vector<Mode>& ModesByPreference();
bool HasResolution(int width, int height);

/// A ranged option of the depth sensor.
struct OptionState {
    float min;
    float max;
    float step;
    float value;
};

/// Frame timing of one frame set, shared by its frames.
struct FrameStamp {
    long long frameNumber = 0;
    double timestampMs = 0.0;
    rs2_timestamp_domain domain = RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME;
    bool hasMetadata = true;
    long long frameTimestampUs = 0;
    long long sensorTimestampUs = 0;
};

struct Faults {
    bool noDevice = false;
    bool deviceBusy = false;
    bool noEmitterOption = false;
    int missingInfraredPeriod = 0;
    std::set<long long> missingInfraredFrames;
    int timeoutsAfter = 0;
    /// Timeouts still to raise; negative: every wait.
    int timeoutsLeft = 0;
    int disconnectAfter = -1;
    int apiVersion = KIRO_RS2_API_VERSION;
    bool noMetadata = false;
    bool ignoreGlobalTime = false;
};

/// The faults named in the environment variable KIRO_VIRTUAL_REALSENSE_FAULTS; none when unset.
Faults FaultsFromEnvironment();

/// Everything the control functions set and read. Guarded by DeviceMutex().
struct DeviceState {
    bool realTime = true;
    double globalTimeBaseMs = 1700000000000.0;
    long long hardwareClockBaseUs = 5000000;
    long long sensorOffsetUs = -1500;
    rs2_distortion distortionModel = RS2_DISTORTION_BROWN_CONRADY;
    float distortionCoeffs[5] = {0.03f, -0.05f, 0.0008f, -0.0006f, 0.01f};
    // Intrinsics of the 848x480 modes, pixels; the other modes are scaled from them.
    float fx = 425.7f;
    float fy = 425.3f;
    float ppx = 422.6f;
    float ppy = 241.4f;
    Scene scene;
    SensorModel sensor;
    bool otherProjector = false;
    /// Undistorted pixel rays: a cache of what the intrinsics imply, so it survives reset.
    RayCache rays;
    Faults faults = FaultsFromEnvironment();
    std::string deviceName = "Intel RealSense D435";
    std::string productLine = "D400";
    std::map<rs2_option, OptionState> options = DefaultOptions();

    // The clock: frame numbers and scene time run from reset; the scene time of frame n is
    // clockBaseMs + (n - clockBaseFrame) * 1000 / clockFps, rebased when the rate changes so
    // that it never jumps.
    long long nextFrameNumber = 0;
    long long clockBaseFrame = 0;
    double clockBaseMs = 0.0;
    int clockFps = 0;
    double latestSceneTimeMs = -1.0;
    bool disconnected = false;

    // Records of what the caller did.
    std::map<std::string, int> calls;
    std::vector<std::pair<rs2_option, float>> optionLog;
    std::vector<kiroVirtualRealsenseStreamRequest> streamRequests;
    int frameSetsDelivered = 0;
    int streamingPipelines = 0;
    Mode latestMode;

    static std::map<rs2_option, OptionState> DefaultOptions();

    bool SupportsOption(rs2_option option) const;
    /// Intrinsics of a mode with the current distortion; nullopt for an unknown resolution.
    std::optional<rs2_intrinsics> IntrinsicsFor(int width, int height) const;
    /// Scene time of a frame at `fps`; switches the clock to that rate first if needed.
    double SceneTimeOf(long long frameNumber, int fps);
    FrameStamp StampFor(long long frameNumber, double sceneTimeMs) const;
    bool InfraredMissing(long long frameNumber) const;
};

std::mutex& DeviceMutex();
/// The one simulated device; only touched with DeviceMutex() held.
DeviceState& Device();

}  // namespace kiro::virtualRealsense

// librealsense2's C API subset, answered by the simulated device. Messages, exception types and
// argument texts of errors follow librealsense2's own where the camera or its tests may look.

#include "tools/virtualRealsense/virtualDevice.h"
#include "tools/virtualRealsense/virtualRealsense.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

using namespace kiro::virtualRealsense;

// Every handle ends with its LiveHandle, so aggregate initialisation may leave it out.

struct rs2_error {
    std::string message;
    std::string function;
    std::string args;
    rs2_exception_type type;
    LiveHandle live{HandleKind::Error};
};

struct rs2_context {
    LiveHandle live{HandleKind::Context};
};

struct rs2_config {
    std::vector<kiroVirtualRealsenseStreamRequest> requests;
    LiveHandle live{HandleKind::Config};
};

struct rs2_stream_profile {
    rs2_stream stream;
    rs2_format format;
    int index;
    int uniqueId;
    rs2_intrinsics intrinsics;
    int fps;
};

/// What a started pipeline streams; shared by the pipeline, its profile handles and frames.
struct ActiveStreams {
    Mode mode;
    std::vector<std::shared_ptr<const rs2_stream_profile>> streams;
};

struct rs2_pipeline {
    /// Set while streaming.
    std::shared_ptr<const ActiveStreams> active;
    std::chrono::steady_clock::time_point streamStart;
    /// The next frame period to deliver, counted from streamStart.
    long long nextSlot = 0;
    LiveHandle live{HandleKind::Pipeline};

    std::chrono::nanoseconds Period() const { return std::chrono::nanoseconds(1000000000LL / active->mode.fps); }
};

struct rs2_pipeline_profile {
    std::shared_ptr<const ActiveStreams> active;
    LiveHandle live{HandleKind::PipelineProfile};
};

struct rs2_stream_profile_list {
    std::vector<std::shared_ptr<const rs2_stream_profile>> streams;
    LiveHandle live{HandleKind::StreamProfileList};
};

struct rs2_device_list {
    int count;
    std::string name;
    std::string productLine;
    LiveHandle live{HandleKind::DeviceList};
};

/// Keeps its own copy of the device's information: the texts stay valid as long as the handle.
struct rs2_device {
    std::string name;
    std::string productLine;
    LiveHandle live{HandleKind::Device};
};

struct rs2_sensor_list {
    LiveHandle live{HandleKind::SensorList};
};

// librealsense2's sensor is its own options container: callers pass a sensor handle where the
// option functions take rs2_options, so the options part sits at the sensor's address.
struct rs2_options {};

struct rs2_sensor : rs2_options {
    LiveHandle live{HandleKind::Sensor};
};

/// A frame set (no profile, embedded frames) or a depth or infrared frame.
struct rs2_frame {
    int references = 1;
    std::shared_ptr<const rs2_stream_profile> profile;
    FrameStamp stamp;
    std::vector<std::uint8_t> data;
    /// A frame set holds one reference to each.
    std::vector<rs2_frame*> embedded;
    LiveHandle live{HandleKind::Frame};
};

namespace {

using Lock = std::unique_lock<std::mutex>;

/// A failure to report through rs2_error.
struct Rs2Failure {
    rs2_exception_type type;
    std::string message;
};

[[noreturn]] void Fail(rs2_exception_type type, std::string message) { throw Rs2Failure{type, std::move(message)}; }

template <typename T>
void RequireNotNull(const T* pointer, const char* name) {
    if (pointer == nullptr) {
        Fail(RS2_EXCEPTION_TYPE_UNKNOWN, std::string("null pointer passed for argument \"") + name + "\"");
    }
}

void RequireRange(long long value, long long min, long long max, const char* name) {
    if (value < min || value > max) {
        Fail(RS2_EXCEPTION_TYPE_INVALID_VALUE, std::string("out of range value for argument \"") + name + "\"");
    }
}

/// librealsense2's "name:value, name:value" text of a call's arguments; `names` is the
/// stringised argument list.
template <typename... Values>
std::string DescribeArgs(const char* names, const Values&... values) {
    std::istringstream nameStream(names);
    std::ostringstream text;
    bool first = true;
    const auto add = [&](const auto& value) {
        std::string name;
        std::getline(nameStream, name, ',');
        name.erase(0, name.find_first_not_of(' '));
        text << (first ? "" : ", ") << name << ':' << value;
        first = false;
    };
    (add(values), ...);
    return text.str();
}

#define KIRO_VRS_ARGS(...) [&] { return DescribeArgs(#__VA_ARGS__, __VA_ARGS__); }

void Report(rs2_error** error, rs2_exception_type type, std::string message, const char* function,
            std::string args) {
    if (error != nullptr) {
        *error = new rs2_error{std::move(message), function, std::move(args), type};
    }
}

/// Runs one API call under the device lock: counts it, and turns a failure into an rs2_error
/// and the type's zero value, as librealsense2's entry points do.
template <typename Args, typename Body>
auto Guarded(rs2_error** error, const char* function, Args args, Body body) -> decltype(body(std::declval<Lock&>())) {
    Lock lock(DeviceMutex());
    ++Device().calls[function];
    try {
        return body(lock);
    } catch (const Rs2Failure& failure) {
        Report(error, failure.type, failure.message, function, args());
    } catch (const std::exception& e) {
        Report(error, RS2_EXCEPTION_TYPE_UNKNOWN, e.what(), function, args());
    }
    using Result = decltype(body(lock));
    if constexpr (!std::is_void_v<Result>) {
        return Result{};
    }
}

/// Calls without an error out-parameter (deleters, error accessors) only count.
void CountCall(const char* function) {
    const std::lock_guard lock(DeviceMutex());
    ++Device().calls[function];
}

void ReleaseLocked(rs2_frame* frame) {
    if (--frame->references > 0) {
        return;
    }
    for (rs2_frame* embedded : frame->embedded) {
        ReleaseLocked(embedded);
    }
    delete frame;
}

bool IsDepth(const rs2_frame& frame) { return frame.profile && frame.profile->stream == RS2_STREAM_DEPTH; }

const rs2_frame& RequireVideoFrame(const rs2_frame* frame) {
    RequireNotNull(frame, "frame");
    if (!frame->profile) {
        Fail(RS2_EXCEPTION_TYPE_UNKNOWN, "Object does not support \"librealsense::video_frame\" interface! ");
    }
    return *frame;
}

const rs2_frame& RequireComposite(const rs2_frame* frame) {
    RequireNotNull(frame, "composite");
    if (frame->profile) {
        Fail(RS2_EXCEPTION_TYPE_UNKNOWN, "Object does not support \"librealsense::composite_frame\" interface! ");
    }
    return *frame;
}

/// A frame set answers timestamp and metadata queries with its first frame's, like
/// librealsense2's composite frames.
const FrameStamp& StampOf(const rs2_frame& frame) {
    return frame.embedded.empty() ? frame.stamp : frame.embedded.front()->stamp;
}

const char* StreamName(const rs2_frame& frame) {
    return frame.profile && frame.profile->stream == RS2_STREAM_INFRARED ? "Infrared" : "Depth";
}

const char* OptionName(rs2_option option) {
    switch (option) {
        case RS2_OPTION_EXPOSURE:
            return "Exposure";
        case RS2_OPTION_GAIN:
            return "Gain";
        case RS2_OPTION_ENABLE_AUTO_EXPOSURE:
            return "Enable Auto Exposure";
        case RS2_OPTION_EMITTER_ENABLED:
            return "Emitter Enabled";
        case RS2_OPTION_GLOBAL_TIME_ENABLED:
            return "Global Time Enabled";
        default:
            return "Unknown";
    }
}

int Major(int version) { return version / 10000; }
int Minor(int version) { return version % 10000 / 100; }
std::string VersionText(int version) {
    if (Major(version) == 0) {
        return std::to_string(version);
    }
    return std::to_string(Major(version)) + "." + std::to_string(Minor(version)) + "." + std::to_string(version % 100);
}

/// librealsense2's compatibility rule for 2.x: same major, and the caller's minor not above the
/// library's. Older single-number and 1.x versions must match exactly.
bool IsCompatible(int runtime, int requested) {
    const bool exact = runtime < 10 || requested < 10 || (Major(runtime) == 1 && Minor(runtime) <= 9) ||
                       (Major(requested) == 1 && Minor(requested) <= 9);
    if (exact) {
        return runtime == requested;
    }
    return Major(runtime) == Major(requested) && Minor(requested) <= Minor(runtime);
}

bool Matches(const kiroVirtualRealsenseStreamRequest& request, const Mode& mode) {
    return (request.width == 0 || request.width == mode.width) &&
           (request.height == 0 || request.height == mode.height) &&
           (request.framerate == 0 || request.framerate == mode.fps);
}

bool IsServable(const kiroVirtualRealsenseStreamRequest& request) {
    if (request.stream == RS2_STREAM_DEPTH) {
        return (request.format == RS2_FORMAT_ANY || request.format == RS2_FORMAT_Z16) &&
               (request.index == -1 || request.index == 0);
    }
    if (request.stream == RS2_STREAM_INFRARED) {
        return (request.format == RS2_FORMAT_ANY || request.format == RS2_FORMAT_Y8) &&
               (request.index == -1 || request.index == 1 || request.index == 2);
    }
    return false;
}

/// Resolves the requests to one mode and the streams to open, depth first, or fails as
/// librealsense2's config does.
ActiveStreams Resolve(const DeviceState& device, std::vector<kiroVirtualRealsenseStreamRequest> requests) {
    if (requests.empty()) {
        requests = {{RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0}, {RS2_STREAM_INFRARED, 1, 0, 0, RS2_FORMAT_ANY, 0}};
    }
    for (const auto& request : requests) {
        if (!IsServable(request)) {
            Fail(RS2_EXCEPTION_TYPE_UNKNOWN, "Couldn't resolve requests");
        }
    }
    const Mode* chosen = nullptr;
    for (const Mode& mode : ModesByPreference()) {
        bool all = true;
        for (const auto& request : requests) {
            all = all && Matches(request, mode);
        }
        if (all) {
            chosen = &mode;
            break;
        }
    }
    if (chosen == nullptr) {
        Fail(RS2_EXCEPTION_TYPE_UNKNOWN, "Couldn't resolve requests");
    }

    ActiveStreams active;
    active.mode = *chosen;
    const rs2_intrinsics intrinsics = *device.IntrinsicsFor(chosen->width, chosen->height);
    const auto add = [&](rs2_stream stream, rs2_format format, int index) {
        for (const auto& existing : active.streams) {
            if (existing->stream == stream && existing->index == index) {
                return;
            }
        }
        // Unique ids as librealsense2 numbers a device's profiles: one per stream and index.
        const int uniqueId = stream == RS2_STREAM_DEPTH ? 1 : 1 + index;
        active.streams.push_back(std::make_shared<const rs2_stream_profile>(
            rs2_stream_profile{stream, format, index, uniqueId, intrinsics, chosen->fps}));
    };
    for (const auto& request : requests) {
        if (request.stream == RS2_STREAM_DEPTH) {
            add(RS2_STREAM_DEPTH, RS2_FORMAT_Z16, 0);
        }
    }
    for (const auto& request : requests) {
        if (request.stream == RS2_STREAM_INFRARED) {
            add(RS2_STREAM_INFRARED, RS2_FORMAT_Y8, request.index == -1 ? 1 : request.index);
        }
    }
    return active;
}

// The right imager sits this far along x from the left one, whose view the depth shares.
constexpr float kBaselineMm = 50.0f;

rs2_frame* RenderFrame(DeviceState& device, const std::shared_ptr<const rs2_stream_profile>& profile,
                       const FrameStamp& stamp, double sceneTimeMs) {
    auto frame = std::make_unique<rs2_frame>();
    frame->profile = profile;
    frame->stamp = stamp;
    const rs2_intrinsics& intrinsics = profile->intrinsics;
    PixelRays& rays = device.rays.For(intrinsics);
    const auto pixels = static_cast<std::size_t>(intrinsics.width) * static_cast<std::size_t>(intrinsics.height);
    if (profile->stream == RS2_STREAM_DEPTH) {
        frame->data.resize(pixels * sizeof(std::uint16_t));
        RenderDepth(device.scene, sceneTimeMs, rays, frame->data.data());
    } else {
        frame->data.resize(pixels);
        const float offset = profile->index == 2 ? kBaselineMm : 0.0f;
        RenderInfrared(device.scene, sceneTimeMs, rays, offset, frame->data.data());
        const bool emitterOn =
            device.otherProjector || device.options.at(RS2_OPTION_EMITTER_ENABLED).value != 0.0f;
        device.sensor.Apply(frame->data.data(), intrinsics.width, intrinsics.height, profile->index,
                            stamp.frameNumber, emitterOn);
    }
    return frame.release();
}

/// The next frame set of a pipeline; `skipped` frames were due but nobody waited for them.
rs2_frame* MakeFrameSet(DeviceState& device, const ActiveStreams& active, long long skipped) {
    const double sceneTimeMs = device.SceneTimeOf(device.nextFrameNumber + skipped, active.mode.fps);
    const long long number = device.nextFrameNumber + skipped;
    device.nextFrameNumber = number + 1;
    device.latestSceneTimeMs = sceneTimeMs;
    ++device.frameSetsDelivered;

    const FrameStamp stamp = device.StampFor(number, sceneTimeMs);
    auto set = std::make_unique<rs2_frame>();
    set->stamp = stamp;
    for (const auto& profile : active.streams) {
        if (profile->stream == RS2_STREAM_INFRARED && device.InfraredMissing(number)) {
            continue;
        }
        set->embedded.push_back(RenderFrame(device, profile, stamp, sceneTimeMs));
    }
    return set.release();
}

/// Sleeps without holding the device, so control calls go on meanwhile.
void SleepUntil(Lock& lock, std::chrono::steady_clock::time_point time) {
    lock.unlock();
    std::this_thread::sleep_until(time);
    lock.lock();
}

/// The information the device answers: its name, serial number, USB product id and product line.
const char* DeviceInfo(const rs2_device& device, rs2_camera_info info) {
    switch (info) {
        case RS2_CAMERA_INFO_NAME:
            return device.name.c_str();
        case RS2_CAMERA_INFO_SERIAL_NUMBER:
            return "000000000001";
        case RS2_CAMERA_INFO_PRODUCT_ID:
            return "0B07";
        case RS2_CAMERA_INFO_PRODUCT_LINE:
            return device.productLine.c_str();
        default:
            return nullptr;
    }
}

}  // namespace

extern "C" {

// ---- Context -----------------------------------------------------------------------------------

rs2_context* rs2_create_context(int api_version, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(api_version), [&](Lock&) {
        const int runtime = Device().faults.apiVersion;
        if (!IsCompatible(runtime, api_version)) {
            Fail(RS2_EXCEPTION_TYPE_INVALID_VALUE,
                 "API version mismatch: librealsense.so was compiled with API version " + VersionText(runtime) +
                     " but the application was compiled with " + VersionText(api_version) +
                     "! Make sure correct version of the library is installed (make install)");
        }
        return new rs2_context;
    });
}

void rs2_delete_context(rs2_context* context) {
    CountCall(__func__);
    delete context;
}

rs2_device_list* rs2_query_devices(const rs2_context* context, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(context), [&](Lock&) {
        RequireNotNull(context, "context");
        const DeviceState& device = Device();
        const int count = device.faults.noDevice || device.disconnected ? 0 : 1;
        return new rs2_device_list{count, device.deviceName, device.productLine};
    });
}

int rs2_get_api_version(rs2_error** error) {
    return Guarded(error, __func__, [] { return std::string(); }, [&](Lock&) { return Device().faults.apiVersion; });
}

rs2_time_t rs2_get_time(rs2_error** error) {
    return Guarded(error, __func__, [] { return std::string(); }, [&](Lock&) {
        const DeviceState& device = Device();
        return device.globalTimeBaseMs + (device.latestSceneTimeMs < 0.0 ? 0.0 : device.latestSceneTimeMs);
    });
}

// ---- Pipeline ----------------------------------------------------------------------------------

rs2_pipeline* rs2_create_pipeline(rs2_context* ctx, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(ctx), [&](Lock&) {
        RequireNotNull(ctx, "ctx");
        return new rs2_pipeline;
    });
}

void rs2_delete_pipeline(rs2_pipeline* pipe) {
    const std::lock_guard lock(DeviceMutex());
    ++Device().calls[__func__];
    if (pipe != nullptr && pipe->active) {
        --Device().streamingPipelines;
    }
    delete pipe;
}

rs2_pipeline_profile* rs2_pipeline_start_with_config(rs2_pipeline* pipe, rs2_config* config, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(pipe, config), [&](Lock&) {
        RequireNotNull(pipe, "pipe");
        RequireNotNull(config, "config");
        DeviceState& device = Device();
        if (pipe->active) {
            Fail(RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE, "start() cannot be called before stop()");
        }
        if (device.faults.noDevice || device.disconnected) {
            Fail(RS2_EXCEPTION_TYPE_UNKNOWN, "No device connected");
        }
        if (device.faults.deviceBusy) {
            Fail(RS2_EXCEPTION_TYPE_BACKEND, "xioctl(VIDIOC_S_FMT) failed, errno=16 Last Error: Device or resource busy");
        }
        pipe->active = std::make_shared<const ActiveStreams>(Resolve(device, config->requests));
        pipe->streamStart = std::chrono::steady_clock::now();
        pipe->nextSlot = 0;
        ++device.streamingPipelines;
        device.latestMode = pipe->active->mode;
        return new rs2_pipeline_profile{pipe->active};
    });
}

rs2_pipeline_profile* rs2_pipeline_get_active_profile(rs2_pipeline* pipe, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(pipe), [&](Lock&) {
        RequireNotNull(pipe, "pipe");
        if (!pipe->active) {
            Fail(RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE,
                 "get_active_profile() can only be called between a start() and a following stop()");
        }
        return new rs2_pipeline_profile{pipe->active};
    });
}

rs2_device* rs2_pipeline_profile_get_device(rs2_pipeline_profile* profile, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(profile), [&](Lock&) {
        RequireNotNull(profile, "profile");
        return new rs2_device{Device().deviceName, Device().productLine};
    });
}

rs2_stream_profile_list* rs2_pipeline_profile_get_streams(rs2_pipeline_profile* profile, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(profile), [&](Lock&) {
        RequireNotNull(profile, "profile");
        return new rs2_stream_profile_list{profile->active->streams};
    });
}

void rs2_delete_pipeline_profile(rs2_pipeline_profile* profile) {
    CountCall(__func__);
    delete profile;
}

rs2_frame* rs2_pipeline_wait_for_frames(rs2_pipeline* pipe, unsigned int timeout_ms, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(pipe, timeout_ms), [&](Lock& lock) {
        RequireNotNull(pipe, "pipe");
        if (!pipe->active) {
            Fail(RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE, "wait_for_frames cannot be called before start()");
        }
        DeviceState& device = Device();
        Faults& faults = device.faults;
        if (faults.disconnectAfter >= 0 && device.frameSetsDelivered >= faults.disconnectAfter) {
            device.disconnected = true;
        }
        if (device.disconnected) {
            Fail(RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED, "Device disconnected");
        }
        if (faults.timeoutsLeft != 0 && device.frameSetsDelivered >= faults.timeoutsAfter) {
            if (faults.timeoutsLeft > 0) {
                --faults.timeoutsLeft;
            }
            if (device.realTime) {
                SleepUntil(lock, std::chrono::steady_clock::now() + pipe->Period());
            }
            Fail(RS2_EXCEPTION_TYPE_UNKNOWN, "Frame didn't arrive within " + std::to_string(timeout_ms));
        }

        long long skipped = 0;
        if (device.realTime) {
            const auto period = pipe->Period();
            const long long dueSlot = (std::chrono::steady_clock::now() - pipe->streamStart) / period;
            if (dueSlot > pipe->nextSlot) {
                skipped = dueSlot - pipe->nextSlot;
            } else {
                SleepUntil(lock, pipe->streamStart + pipe->nextSlot * period);
            }
        }
        pipe->nextSlot += skipped + 1;
        // Another thread may have changed the device while the lock was free.
        return MakeFrameSet(Device(), *pipe->active, skipped);
    });
}

// ---- Config ------------------------------------------------------------------------------------

rs2_config* rs2_create_config(rs2_error** error) {
    return Guarded(error, __func__, [] { return std::string(); }, [&](Lock&) { return new rs2_config; });
}

void rs2_delete_config(rs2_config* config) {
    CountCall(__func__);
    delete config;
}

void rs2_config_enable_stream(rs2_config* config, rs2_stream stream, int index, int width, int height,
                              rs2_format format, int framerate, rs2_error** error) {
    Guarded(error, __func__, KIRO_VRS_ARGS(config, stream, index, width, height, format, framerate), [&](Lock&) {
        RequireNotNull(config, "config");
        const kiroVirtualRealsenseStreamRequest request{stream, index, width, height, format, framerate};
        Device().streamRequests.push_back(request);
        // A later request for the same stream and index replaces the earlier one.
        std::erase_if(config->requests, [&](const auto& r) { return r.stream == stream && r.index == index; });
        config->requests.push_back(request);
    });
}

// ---- Device and sensors ------------------------------------------------------------------------

int rs2_get_device_count(const rs2_device_list* info_list, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(info_list), [&](Lock&) {
        RequireNotNull(info_list, "info_list");
        return info_list->count;
    });
}

void rs2_delete_device_list(rs2_device_list* info_list) {
    CountCall(__func__);
    delete info_list;
}

rs2_device* rs2_create_device(const rs2_device_list* info_list, int index, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(info_list, index), [&](Lock&) {
        RequireNotNull(info_list, "info_list");
        RequireRange(index, 0, info_list->count - 1, "index");
        return new rs2_device{info_list->name, info_list->productLine};
    });
}

int rs2_supports_device_info(const rs2_device* device, rs2_camera_info info, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(device, info), [&](Lock&) {
        RequireNotNull(device, "device");
        return DeviceInfo(*device, info) != nullptr ? 1 : 0;
    });
}

const char* rs2_get_device_info(const rs2_device* device, rs2_camera_info info, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(device, info), [&](Lock&) {
        RequireNotNull(device, "device");
        const char* text = DeviceInfo(*device, info);
        if (text == nullptr) {
            Fail(RS2_EXCEPTION_TYPE_INVALID_VALUE, "Selected camera info is not supported for this camera!");
        }
        return text;
    });
}

rs2_sensor_list* rs2_query_sensors(const rs2_device* device, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(device), [&](Lock&) {
        RequireNotNull(device, "device");
        return new rs2_sensor_list;
    });
}

void rs2_delete_device(rs2_device* device) {
    CountCall(__func__);
    delete device;
}

int rs2_get_sensors_count(const rs2_sensor_list* info_list, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(info_list), [&](Lock&) {
        RequireNotNull(info_list, "info_list");
        // The stereo module is the device's only sensor.
        return 1;
    });
}

rs2_sensor* rs2_create_sensor(const rs2_sensor_list* list, int index, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(list, index), [&](Lock&) {
        RequireNotNull(list, "list");
        RequireRange(index, 0, 0, "index");
        return new rs2_sensor;
    });
}

void rs2_delete_sensor_list(rs2_sensor_list* info_list) {
    CountCall(__func__);
    delete info_list;
}

void rs2_delete_sensor(rs2_sensor* sensor) {
    CountCall(__func__);
    delete sensor;
}

int rs2_is_sensor_extendable_to(const rs2_sensor* sensor, rs2_extension extension, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(sensor, extension), [&](Lock&) {
        RequireNotNull(sensor, "sensor");
        const bool extendable = extension == RS2_EXTENSION_DEPTH_SENSOR || extension == RS2_EXTENSION_OPTIONS ||
                                extension == RS2_EXTENSION_VIDEO || extension == RS2_EXTENSION_INFO;
        return extendable ? 1 : 0;
    });
}

// ---- Stream profiles ---------------------------------------------------------------------------

int rs2_get_stream_profiles_count(const rs2_stream_profile_list* list, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(list), [&](Lock&) {
        RequireNotNull(list, "list");
        return static_cast<int>(list->streams.size());
    });
}

const rs2_stream_profile* rs2_get_stream_profile(const rs2_stream_profile_list* list, int index, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(list, index), [&](Lock&) {
        RequireNotNull(list, "list");
        RequireRange(index, 0, static_cast<long long>(list->streams.size()) - 1, "index");
        return list->streams[static_cast<std::size_t>(index)].get();
    });
}

void rs2_delete_stream_profiles_list(rs2_stream_profile_list* list) {
    CountCall(__func__);
    delete list;
}

void rs2_get_stream_profile_data(const rs2_stream_profile* mode, rs2_stream* stream, rs2_format* format, int* index,
                                 int* unique_id, int* framerate, rs2_error** error) {
    Guarded(error, __func__, KIRO_VRS_ARGS(mode, stream, format, index, unique_id, framerate), [&](Lock&) {
        RequireNotNull(mode, "mode");
        RequireNotNull(stream, "stream");
        RequireNotNull(format, "format");
        RequireNotNull(index, "index");
        RequireNotNull(unique_id, "unique_id");
        RequireNotNull(framerate, "framerate");
        *stream = mode->stream;
        *format = mode->format;
        *index = mode->index;
        *unique_id = mode->uniqueId;
        *framerate = mode->fps;
    });
}

int rs2_stream_profile_is(const rs2_stream_profile* mode, rs2_extension type, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(mode, type), [&](Lock&) {
        RequireNotNull(mode, "mode");
        return type == RS2_EXTENSION_VIDEO_PROFILE ? 1 : 0;
    });
}

void rs2_get_video_stream_intrinsics(const rs2_stream_profile* mode, rs2_intrinsics* intrinsics, rs2_error** error) {
    Guarded(error, __func__, KIRO_VRS_ARGS(mode, intrinsics), [&](Lock&) {
        RequireNotNull(mode, "mode");
        RequireNotNull(intrinsics, "intrinsics");
        *intrinsics = mode->intrinsics;
    });
}

// ---- Options -----------------------------------------------------------------------------------

int rs2_supports_option(const rs2_options* options, rs2_option option, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(options, option), [&](Lock&) {
        RequireNotNull(options, "options");
        return Device().SupportsOption(option) ? 1 : 0;
    });
}

void rs2_set_option(const rs2_options* options, rs2_option option, float value, rs2_error** error) {
    Guarded(error, __func__, KIRO_VRS_ARGS(options, option, value), [&](Lock&) {
        RequireNotNull(options, "options");
        DeviceState& device = Device();
        if (!device.SupportsOption(option)) {
            Fail(RS2_EXCEPTION_TYPE_INVALID_VALUE, "object doesn't support option #" + std::to_string(option));
        }
        OptionState& state = device.options.at(option);
        const float steps = (value - state.min) / state.step;
        if (!(value >= state.min && value <= state.max) || steps != std::floor(steps)) {
            std::ostringstream message;
            message << "set(" << OptionName(option) << ") failed! Given value " << value << " is out of range.";
            Fail(RS2_EXCEPTION_TYPE_INVALID_VALUE, message.str());
        }
        state.value = value;
        device.optionLog.emplace_back(option, value);
        // D400 devices leave auto exposure when given a manual exposure or gain.
        if (option == RS2_OPTION_EXPOSURE || option == RS2_OPTION_GAIN) {
            device.options.at(RS2_OPTION_ENABLE_AUTO_EXPOSURE).value = 0.0f;
        }
    });
}

// ---- Frames ------------------------------------------------------------------------------------

int rs2_is_frame_extendable_to(const rs2_frame* frame, rs2_extension extension_type, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame, extension_type), [&](Lock&) {
        RequireNotNull(frame, "frame");
        switch (extension_type) {
            case RS2_EXTENSION_COMPOSITE_FRAME:
                return frame->profile ? 0 : 1;
            case RS2_EXTENSION_VIDEO_FRAME:
                return frame->profile ? 1 : 0;
            case RS2_EXTENSION_DEPTH_FRAME:
                return IsDepth(*frame) ? 1 : 0;
            default:
                return 0;
        }
    });
}

int rs2_embedded_frames_count(rs2_frame* composite, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(composite), [&](Lock&) {
        return static_cast<int>(RequireComposite(composite).embedded.size());
    });
}

rs2_frame* rs2_extract_frame(rs2_frame* composite, int index, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(composite, index), [&](Lock&) {
        const rs2_frame& set = RequireComposite(composite);
        RequireRange(index, 0, static_cast<long long>(set.embedded.size()) - 1, "index");
        rs2_frame* frame = set.embedded[static_cast<std::size_t>(index)];
        ++frame->references;
        return frame;
    });
}

const rs2_stream_profile* rs2_get_frame_stream_profile(const rs2_frame* frame, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame), [&](Lock&) {
        return RequireVideoFrame(frame).profile.get();
    });
}

void rs2_frame_add_ref(rs2_frame* frame, rs2_error** error) {
    Guarded(error, __func__, KIRO_VRS_ARGS(frame), [&](Lock&) {
        RequireNotNull(frame, "frame");
        ++frame->references;
    });
}

void rs2_release_frame(rs2_frame* frame) {
    const std::lock_guard lock(DeviceMutex());
    ++Device().calls[__func__];
    if (frame != nullptr) {
        ReleaseLocked(frame);
    }
}

rs2_time_t rs2_get_frame_timestamp(const rs2_frame* frame, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame), [&](Lock&) {
        RequireNotNull(frame, "frame");
        return StampOf(*frame).timestampMs;
    });
}

rs2_timestamp_domain rs2_get_frame_timestamp_domain(const rs2_frame* frameset, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frameset), [&](Lock&) {
        RequireNotNull(frameset, "frameset");
        return StampOf(*frameset).domain;
    });
}

int rs2_supports_frame_metadata(const rs2_frame* frame, rs2_frame_metadata_value frame_metadata, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame, frame_metadata), [&](Lock&) {
        RequireNotNull(frame, "frame");
        const bool known = frame_metadata >= RS2_FRAME_METADATA_FRAME_COUNTER &&
                           frame_metadata <= RS2_FRAME_METADATA_SENSOR_TIMESTAMP;
        return known && StampOf(*frame).hasMetadata ? 1 : 0;
    });
}

rs2_metadata_type rs2_get_frame_metadata(const rs2_frame* frame, rs2_frame_metadata_value frame_metadata,
                                         rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame, frame_metadata), [&](Lock&) -> rs2_metadata_type {
        RequireNotNull(frame, "frame");
        const FrameStamp& stamp = StampOf(*frame);
        if (!stamp.hasMetadata) {
            Fail(RS2_EXCEPTION_TYPE_INVALID_VALUE,
                 std::string("metadata not available for ") + StreamName(*frame) + " stream");
        }
        switch (frame_metadata) {
            case RS2_FRAME_METADATA_FRAME_COUNTER:
                return stamp.frameNumber;
            case RS2_FRAME_METADATA_FRAME_TIMESTAMP:
                return stamp.frameTimestampUs;
            case RS2_FRAME_METADATA_SENSOR_TIMESTAMP:
                return stamp.sensorTimestampUs;
        }
        Fail(RS2_EXCEPTION_TYPE_INVALID_VALUE, "invalid enum value for argument \"frame_metadata\"");
    });
}

int rs2_get_frame_width(const rs2_frame* frame, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame), [&](Lock&) {
        return RequireVideoFrame(frame).profile->intrinsics.width;
    });
}

int rs2_get_frame_height(const rs2_frame* frame, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame), [&](Lock&) {
        return RequireVideoFrame(frame).profile->intrinsics.height;
    });
}

const void* rs2_get_frame_data(const rs2_frame* frame, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame), [&](Lock&) -> const void* {
        RequireNotNull(frame, "frame");
        // A frame set has no pixels of its own.
        return frame->data.empty() ? nullptr : frame->data.data();
    });
}

float rs2_depth_frame_get_distance(const rs2_frame* frame_ref, int x, int y, rs2_error** error) {
    return Guarded(error, __func__, KIRO_VRS_ARGS(frame_ref, x, y), [&](Lock&) {
        RequireNotNull(frame_ref, "frame_ref");
        if (!IsDepth(*frame_ref)) {
            Fail(RS2_EXCEPTION_TYPE_UNKNOWN, "Object does not support \"librealsense::depth_frame\" interface! ");
        }
        const rs2_intrinsics& intrinsics = frame_ref->profile->intrinsics;
        RequireRange(x, 0, intrinsics.width - 1, "x");
        RequireRange(y, 0, intrinsics.height - 1, "y");
        std::uint16_t value = 0;
        const std::size_t offset = (static_cast<std::size_t>(y) * static_cast<std::size_t>(intrinsics.width) +
                                    static_cast<std::size_t>(x)) *
                                   sizeof value;
        std::memcpy(&value, frame_ref->data.data() + offset, sizeof value);
        // Depth units of 0.001 m.
        return static_cast<float>(value) * 0.001f;
    });
}

// ---- Errors ------------------------------------------------------------------------------------

const char* rs2_get_error_message(const rs2_error* error) {
    CountCall(__func__);
    return error != nullptr ? error->message.c_str() : "";
}

const char* rs2_get_failed_function(const rs2_error* error) {
    CountCall(__func__);
    return error != nullptr ? error->function.c_str() : "";
}

const char* rs2_get_failed_args(const rs2_error* error) {
    CountCall(__func__);
    return error != nullptr ? error->args.c_str() : "";
}

rs2_exception_type rs2_get_librealsense_exception_type(const rs2_error* error) {
    CountCall(__func__);
    return error != nullptr ? error->type : RS2_EXCEPTION_TYPE_UNKNOWN;
}

void rs2_free_error(rs2_error* error) {
    CountCall(__func__);
    delete error;
}

}  // extern "C"

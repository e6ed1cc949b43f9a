// The control functions of the virtual device: scene, faults and records.

#include "tools/virtualRealsense/virtualDevice.h"
#include "tools/virtualRealsense/virtualRealsense.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

using namespace kiro::virtualRealsense;

namespace {

/// Runs `body` on the device with its lock held.
template <typename Body>
auto WithDevice(Body body) {
    const std::lock_guard lock(DeviceMutex());
    return body(Device());
}

bool IsFace(const DeviceState& device, int face) {
    return face >= 0 && static_cast<std::size_t>(face) < device.scene.faces.size();
}

}  // namespace

extern "C" {

void kiroVirtualRealsenseReset(void) {
    WithDevice([](DeviceState& device) {
        // Pipelines the caller still holds keep streaming.
        const int streamingPipelines = device.streamingPipelines;
        const Mode latestMode = device.latestMode;
        RayCache rays = std::move(device.rays);
        device = DeviceState{};
        device.streamingPipelines = streamingPipelines;
        device.latestMode = latestMode;
        device.rays = std::move(rays);
    });
}

void kiroVirtualRealsenseSetRealTime(int enabled) {
    WithDevice([&](DeviceState& device) { device.realTime = enabled != 0; });
}

int kiroVirtualRealsenseSetDeviceInfo(const char* name, const char* productLine) {
    if (name == nullptr || productLine == nullptr) {
        return -1;
    }
    WithDevice([&](DeviceState& device) {
        device.deviceName = name;
        device.productLine = productLine;
    });
    return 0;
}

void kiroVirtualRealsenseSetGlobalTimeBase(double ms) {
    WithDevice([&](DeviceState& device) { device.globalTimeBaseMs = ms; });
}

void kiroVirtualRealsenseSetHardwareClockBase(long long us) {
    WithDevice([&](DeviceState& device) { device.hardwareClockBaseUs = us; });
}

void kiroVirtualRealsenseSetSensorTimestampOffset(long long us) {
    WithDevice([&](DeviceState& device) { device.sensorOffsetUs = us; });
}

int kiroVirtualRealsenseSetDistortion(rs2_distortion model, const float coeffs[5]) {
    const bool supported = model == RS2_DISTORTION_NONE || model == RS2_DISTORTION_MODIFIED_BROWN_CONRADY ||
                           model == RS2_DISTORTION_BROWN_CONRADY;
    if (!supported || coeffs == nullptr) {
        return -1;
    }
    return WithDevice([&](DeviceState& device) {
        device.distortionModel = model;
        for (int i = 0; i < 5; ++i) {
            device.distortionCoeffs[i] = coeffs[i];
        }
        return 0;
    });
}

int kiroVirtualRealsenseGetIntrinsics(int width, int height, rs2_intrinsics* intrinsics) {
    if (intrinsics == nullptr) {
        return -1;
    }
    return WithDevice([&](const DeviceState& device) {
        const auto found = device.IntrinsicsFor(width, height);
        if (!found) {
            return -1;
        }
        *intrinsics = *found;
        return 0;
    });
}

int kiroVirtualRealsenseProjectPoint(int width, int height, const float point[3], float pixel[2]) {
    if (point == nullptr || pixel == nullptr) {
        return -1;
    }
    return WithDevice([&](const DeviceState& device) {
        const auto intrinsics = device.IntrinsicsFor(width, height);
        if (!intrinsics) {
            return -1;
        }
        ProjectPointToPixel(*intrinsics, point, pixel);
        return 0;
    });
}

int kiroVirtualRealsenseAddFace(const kiroVirtualRealsenseFace* face) {
    if (face == nullptr || !IsValidFace(*face)) {
        return -1;
    }
    FaceScript script;
    script.pattern = static_cast<kiroVirtualRealsenseFacePattern>(face->pattern);
    script.appearMs = face->appearMs;
    script.disappearMs = face->disappearMs;
    script.keyframes.assign(face->keyframes, face->keyframes + face->keyframeCount);
    return WithDevice([&](DeviceState& device) {
        device.scene.faces.push_back(std::move(script));
        return static_cast<int>(device.scene.faces.size()) - 1;
    });
}

int kiroVirtualRealsenseSetFacePhoto(int face, const unsigned char* pixels, int width, int height, const float eye1[2],
                                     const float eye2[2]) {
    if (pixels == nullptr || !IsValidPhoto(width, height, eye1, eye2)) {
        return -1;
    }
    auto photo = std::make_shared<FacePhoto>();
    photo->width = width;
    photo->height = height;
    photo->pixels.assign(pixels, pixels + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    std::copy(eye1, eye1 + 2, photo->eye1);
    std::copy(eye2, eye2 + 2, photo->eye2);
    return WithDevice([&](DeviceState& device) {
        if (!IsFace(device, face)) {
            return -1;
        }
        device.scene.faces[static_cast<std::size_t>(face)].photo = std::move(photo);
        return 0;
    });
}

void kiroVirtualRealsenseClearScene(void) {
    WithDevice([](DeviceState& device) {
        device.scene.faces.clear();
        device.scene.occluders.clear();
    });
}

int kiroVirtualRealsenseSetBackground(int infraredLevel, int depthMm) {
    // 255 belongs to the eyes alone.
    if (infraredLevel < 0 || infraredLevel > 254 || depthMm < 0 || depthMm > 65535) {
        return -1;
    }
    return WithDevice([&](DeviceState& device) {
        device.scene.backgroundInfrared = static_cast<std::uint8_t>(infraredLevel);
        device.scene.backgroundDepthMm = static_cast<std::uint16_t>(depthMm);
        return 0;
    });
}

int kiroVirtualRealsenseSetFaceGlasses(int face, int enabled) {
    return WithDevice([&](DeviceState& device) {
        if (!IsFace(device, face)) {
            return -1;
        }
        device.scene.faces[static_cast<std::size_t>(face)].glasses = enabled != 0;
        return 0;
    });
}

int kiroVirtualRealsenseAddOccluder(const kiroVirtualRealsenseOccluder* occluder) {
    if (occluder == nullptr || !IsValidOccluder(*occluder)) {
        return -1;
    }
    OccluderScript script;
    script.width = occluder->width;
    script.height = occluder->height;
    script.infraredLevel = static_cast<std::uint8_t>(occluder->infraredLevel);
    script.appearMs = occluder->appearMs;
    script.disappearMs = occluder->disappearMs;
    script.keyframes.assign(occluder->keyframes, occluder->keyframes + occluder->keyframeCount);
    return WithDevice([&](DeviceState& device) {
        device.scene.occluders.push_back(std::move(script));
        return static_cast<int>(device.scene.occluders.size()) - 1;
    });
}

int kiroVirtualRealsenseSetAppearance(const kiroVirtualRealsenseAppearance* appearance) {
    if (appearance == nullptr || !IsValidAppearance(*appearance)) {
        return -1;
    }
    // Drawn outside the lock: the tables take a moment.
    SensorModel sensor(*appearance);
    return WithDevice([&](DeviceState& device) {
        device.sensor = std::move(sensor);
        return 0;
    });
}

void kiroVirtualRealsenseSetOtherProjector(int enabled) {
    WithDevice([&](DeviceState& device) { device.otherProjector = enabled != 0; });
}

int kiroVirtualRealsenseSetIntrinsics(float fx, float fy, float ppx, float ppy) {
    if (!(std::isfinite(fx) && std::isfinite(fy) && std::isfinite(ppx) && std::isfinite(ppy) && fx > 0.0f &&
          fy > 0.0f)) {
        return -1;
    }
    return WithDevice([&](DeviceState& device) {
        device.fx = fx;
        device.fy = fy;
        device.ppx = ppx;
        device.ppy = ppy;
        return 0;
    });
}

int kiroVirtualRealsenseGetEyes(int face, double sceneTimeMs, kiroVirtualRealsenseEyes* eyes) {
    if (eyes == nullptr) {
        return -1;
    }
    return WithDevice([&](const DeviceState& device) {
        if (!IsFace(device, face)) {
            return -1;
        }
        *eyes = EyesAt(device.scene.faces[static_cast<std::size_t>(face)], sceneTimeMs);
        return 0;
    });
}

int kiroVirtualRealsenseGetFaceView(int face, double sceneTimeMs, int width, int height,
                                    kiroVirtualRealsenseFaceView* view) {
    if (view == nullptr) {
        return -1;
    }
    return WithDevice([&](const DeviceState& device) {
        const auto intrinsics = device.IntrinsicsFor(width, height);
        if (!IsFace(device, face) || !intrinsics) {
            return -1;
        }
        *view = FaceViewAt(device.scene, static_cast<std::size_t>(face), sceneTimeMs, *intrinsics);
        return 0;
    });
}

void kiroVirtualRealsenseFaultNoDevice(int enabled) {
    WithDevice([&](DeviceState& device) { device.faults.noDevice = enabled != 0; });
}

void kiroVirtualRealsenseFaultDeviceBusy(int enabled) {
    WithDevice([&](DeviceState& device) { device.faults.deviceBusy = enabled != 0; });
}

void kiroVirtualRealsenseFaultNoEmitterOption(int enabled) {
    WithDevice([&](DeviceState& device) { device.faults.noEmitterOption = enabled != 0; });
}

void kiroVirtualRealsenseFaultMissingInfraredEvery(int period) {
    WithDevice([&](DeviceState& device) { device.faults.missingInfraredPeriod = period > 0 ? period : 0; });
}

void kiroVirtualRealsenseFaultMissingInfraredInFrame(long long frameNumber) {
    WithDevice([&](DeviceState& device) { device.faults.missingInfraredFrames.insert(frameNumber); });
}

void kiroVirtualRealsenseFaultTimeouts(int afterFrameSets, int count) {
    WithDevice([&](DeviceState& device) {
        device.faults.timeoutsAfter = afterFrameSets;
        device.faults.timeoutsLeft = count;
    });
}

void kiroVirtualRealsenseFaultDisconnectAfter(int frameSets) {
    WithDevice([&](DeviceState& device) { device.faults.disconnectAfter = frameSets; });
}

void kiroVirtualRealsenseFaultApiVersion(int runtimeApiVersion) {
    WithDevice([&](DeviceState& device) { device.faults.apiVersion = runtimeApiVersion; });
}

void kiroVirtualRealsenseFaultNoMetadata(int enabled) {
    WithDevice([&](DeviceState& device) { device.faults.noMetadata = enabled != 0; });
}

void kiroVirtualRealsenseFaultIgnoreGlobalTime(int enabled) {
    WithDevice([&](DeviceState& device) { device.faults.ignoreGlobalTime = enabled != 0; });
}

int kiroVirtualRealsenseCallCount(const char* function) {
    if (function == nullptr) {
        return -1;
    }
    return WithDevice([&](const DeviceState& device) {
        const auto found = device.calls.find(function);
        return found == device.calls.end() ? 0 : found->second;
    });
}

int kiroVirtualRealsenseOptionLogSize(void) {
    return WithDevice([](const DeviceState& device) { return static_cast<int>(device.optionLog.size()); });
}

int kiroVirtualRealsenseOptionLogEntry(int index, rs2_option* option, float* value) {
    if (option == nullptr || value == nullptr) {
        return -1;
    }
    return WithDevice([&](const DeviceState& device) {
        if (index < 0 || static_cast<std::size_t>(index) >= device.optionLog.size()) {
            return -1;
        }
        const auto& entry = device.optionLog[static_cast<std::size_t>(index)];
        *option = entry.first;
        *value = entry.second;
        return 0;
    });
}

int kiroVirtualRealsenseGetOption(rs2_option option, float* value) {
    if (value == nullptr) {
        return -1;
    }
    return WithDevice([&](const DeviceState& device) {
        if (!device.SupportsOption(option)) {
            return -1;
        }
        *value = device.options.at(option).value;
        return 0;
    });
}

int kiroVirtualRealsenseLiveObjectCount(const char* type) {
    if (type == nullptr) {
        int total = 0;
        for (int kind = 0; kind < static_cast<int>(HandleKind::Count); ++kind) {
            total += LiveHandle::Count(static_cast<HandleKind>(kind));
        }
        return total;
    }
    const auto kind = HandleKindFromName(type);
    return kind ? LiveHandle::Count(*kind) : -1;
}

int kiroVirtualRealsenseStreamRequestCount(void) {
    return WithDevice([](const DeviceState& device) { return static_cast<int>(device.streamRequests.size()); });
}

int kiroVirtualRealsenseStreamRequestEntry(int index, kiroVirtualRealsenseStreamRequest* request) {
    if (request == nullptr) {
        return -1;
    }
    return WithDevice([&](const DeviceState& device) {
        if (index < 0 || static_cast<std::size_t>(index) >= device.streamRequests.size()) {
            return -1;
        }
        *request = device.streamRequests[static_cast<std::size_t>(index)];
        return 0;
    });
}

int kiroVirtualRealsenseStreamingMode(int* width, int* height, int* fps) {
    return WithDevice([&](const DeviceState& device) {
        if (width != nullptr) {
            *width = device.latestMode.width;
        }
        if (height != nullptr) {
            *height = device.latestMode.height;
        }
        if (fps != nullptr) {
            *fps = device.latestMode.fps;
        }
        return device.streamingPipelines;
    });
}

int kiroVirtualRealsenseFrameSetsDelivered(void) {
    return WithDevice([](const DeviceState& device) { return device.frameSetsDelivered; });
}

}  // extern "C"

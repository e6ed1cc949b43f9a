#pragma once

// Shared by the end-to-end and concurrency tests of the engine: the virtual RealSense device's
// clock and scene as the tests set them up, the camera-to-display mapping computed
// independently of the library, frame recording and bounded waits.

#include "common/logging.h"
#include "common/platform.h"
#include "tests/support/waitUntil.h"
#include "tools/virtualRealsense/virtualRealsense.h"
#include "voveDizevuro/common/frame.h"

#include <spdlog/sinks/sink.h>

#include <glm/glm.hpp>
#include <glm/mat3x3.hpp>
#include <glm/vec3.hpp>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kiro::test::endToEnd {

/// The device's mode when the engine's camera configuration is all zeros.
constexpr int kWidth = 848;
constexpr int kHeight = 480;
constexpr int kFps = 90;
constexpr double kFramePeriodMs = 1000.0 / kFps;
/// Global time of scene time 0; the sensor offset is set to 0, so a frame's timestamp is this
/// plus its scene time.
constexpr double kGlobalTimeBaseMs = 1.0e6;

/// Puts the device into a known state: empty scene, no faults, frames as fast as they are
/// asked for (so the frame sequence is deterministic), timestamps = base + scene time.
inline void ResetDevice() {
    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetRealTime(0);
    kiroVirtualRealsenseSetGlobalTimeBase(kGlobalTimeBaseMs);
    kiroVirtualRealsenseSetSensorTimestampOffset(0);
}

/// Frame number of a timestamp the camera produced from the device's clock.
inline long long FrameNumber(const Timestamp& timestamp) {
    return std::llround((timestamp.ms - kGlobalTimeBaseMs) / kFramePeriodMs);
}

/// Scene time of the frame a timestamp belongs to, exactly as the device computed it.
inline double SceneTime(const Timestamp& timestamp) {
    return static_cast<double>(FrameNumber(timestamp)) * 1000.0 / kFps;
}

/// Adds a face on a path of keyframes; returns its index in the scene.
inline int AddFace(const std::vector<kiroVirtualRealsenseKeyframe>& keyframes, double appearMs = 0.0,
                   double disappearMs = -1.0,
                   kiroVirtualRealsenseFacePattern pattern = KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL) {
    const kiroVirtualRealsenseFace face{pattern, appearMs, disappearMs, keyframes.data(),
                                        static_cast<int>(keyframes.size())};
    return kiroVirtualRealsenseAddFace(&face);
}

/// A face's eyes at a scene time in the detector's order, camera space, mm. The device names its
/// eyes by the image ("left" = smaller x); the detector's right eye is the person's right eye,
/// which a camera facing the person sees at the smaller x.
struct Eyes {
    bool visible;
    glm::vec3 right;
    glm::vec3 left;
    glm::vec3 midpoint() const { return (right + left) * 0.5f; }
};

inline Eyes EyesAt(int face, double sceneTimeMs) {
    kiroVirtualRealsenseEyes eyes{};
    kiroVirtualRealsenseGetEyes(face, sceneTimeMs, &eyes);
    return {eyes.visible != 0, {eyes.left[0], eyes.left[1], eyes.left[2]},
            {eyes.right[0], eyes.right[1], eyes.right[2]}};
}

/// Where the device draws a camera-space point in the default mode.
inline glm::dvec2 DrawnPixel(const glm::vec3& point) {
    const float p[3] = {point.x, point.y, point.z};
    float pixel[2] = {0.0f, 0.0f};
    kiroVirtualRealsenseProjectPoint(kWidth, kHeight, p, pixel);
    return {pixel[0], pixel[1]};
}

/// The focal length (fx) the device reports for the default mode.
inline float DeviceFocalLength() {
    rs2_intrinsics intrinsics{};
    kiroVirtualRealsenseGetIntrinsics(kWidth, kHeight, &intrinsics);
    return intrinsics.fx;
}

/// The camera's pose as the host sets it: camera space to display space is q = rotation * p,
/// then (-q.x, -q.y, q.z), then plus position.
struct Pose {
    glm::mat3 rotation{1.0f};
    glm::vec3 position{0.0f};

    glm::vec3 ToDisplay(const glm::vec3& cameraPoint) const {
        const glm::vec3 q = rotation * cameraPoint;
        return glm::vec3(-q.x, -q.y, q.z) + position;
    }
};

/// A matrix from its rows (glm stores columns).
inline glm::mat3 FromRows(const glm::vec3& r0, const glm::vec3& r1, const glm::vec3& r2) {
    return glm::mat3(r0.x, r1.x, r2.x, r0.y, r1.y, r2.y, r0.z, r1.z, r2.z);
}

/// The rotation by -degrees about the x axis: what a rotation vector (degrees, 0, 0) stands for.
inline glm::mat3 RotationByMinusAboutX(double degrees) {
    const auto c = static_cast<float>(std::cos(degrees * 3.14159265358979 / 180.0));
    const auto s = static_cast<float>(std::sin(degrees * 3.14159265358979 / 180.0));
    return FromRows({1.0f, 0.0f, 0.0f}, {0.0f, c, s}, {0.0f, -s, c});
}

/// The rotation by +degrees about the y axis.
inline glm::mat3 RotationAboutY(double degrees) {
    const auto c = static_cast<float>(std::cos(degrees * 3.14159265358979 / 180.0));
    const auto s = static_cast<float>(std::sin(degrees * 3.14159265358979 / 180.0));
    return FromRows({c, 0.0f, s}, {0.0f, 1.0f, 0.0f}, {-s, 0.0f, c});
}

/// Only the test's own sink should see the per-frame lines: the library's console and file
/// sinks are kept at warnings and above. Call before any engine thread runs.
inline void QuietLibrarySinks() {
    if (const auto logger = GetDefaultLogger()) {
        for (const auto& sink : logger->sinks()) {
            sink->set_level(spdlog::level::warn);
        }
    }
}

inline std::unique_ptr<Platform> MakePlatform() { return Platform::Create(PlatformInitArgs{{0, 0, 0}, 4}); }

/// Keeps a copy of every frame the frame adapter delivers to its callback (on the engine's
/// processing thread) and lets the test thread wait for them.
class FrameRecorder {
public:
    std::function<void(const head::Frame&)> Callback() {
        return [this](const head::Frame& frame) {
            const std::lock_guard<std::mutex> lock(mutex_);
            frames_.emplace_back(frame);
            changed_.notify_all();
        };
    }

    bool WaitForCount(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kHangGuard, [&] { return frames_.size() >= count; });
    }

    /// Waits for a frame from at least `sceneTimeMs` of the scene.
    bool WaitForSceneTime(double sceneTimeMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kHangGuard, [&] {
            return !frames_.empty() && SceneTime(frames_.back().timestamp()) >= sceneTimeMs;
        });
    }

    std::size_t count() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return frames_.size();
    }

    std::vector<head::BufferedFrame> frames() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<head::BufferedFrame> frames_;
};

}  // namespace kiro::test::endToEnd
